// Registry walks: the one enumeration of a key's subkey names and of its values, and the one
// walk of both registry views. A name or data that does not fit its buffer is never cut and
// never handed to a visit: the walk passes it over and says so, and a caller that decides a
// deletion by what a key holds counts it as something else being there.
#pragma once

#include "Registry.h"

// The registry views a walk visits, the 64-bit view first.
extern const REGSAM RegViews[2];
// Whether a walk of root\path has to visit view: the 64-bit view always; the 32-bit view when
// it shows another key than the 64-bit view (a key both views share is covered by the first).
bool RegViewShowsOwnKey(HKEY root, const wchar_t* path, REGSAM view);

// Calls visit with the name of each subkey of an open key, in index order, with the caller's
// context, until visit returns false or the names run out. True when every name was visited
// whole (or visit stopped the walk); false when a name was passed over or the walk failed.
bool RegEnumSubkeys(HKEY key, bool (*visit)(const wchar_t* name, void* context), void* context);

// One value as a walk hands it over: its name, its type, and, when asked for, its data read
// as text (terminated within the 520 bytes read).
struct RegValue {
    const wchar_t* name;
    DWORD type;
    const wchar_t* text;  // null unless the walk reads data
};
// Calls visit with each value of an open key, in index order, with the caller's context, until
// visit returns false or the values run out; withData reads each value's data too (at most
// 520 bytes). True when every value was visited whole (or visit stopped the walk); false when
// a name or data that did not fit was passed over, or the walk failed.
bool RegEnumValues(HKEY key, bool withData, bool (*visit)(const RegValue& value, void* context), void* context);
// The same for a caller that needs only each value's name.
bool RegEnumValueNames(HKEY key, bool (*visit)(const wchar_t* name, void* context), void* context);

// The names of a key's subkeys or values, read whole before anything below the key is
// deleted; false when a name was passed over or the heap had no room for one (the reading
// ends there).
bool RegReadSubkeyNames(HKEY key, NameList& out);
bool RegReadValueNames(HKEY key, NameList& out);
