// Bounded composition of paths, key paths and command lines in fixed 260-character
// buffers. Every helper reports whether the whole result fit: on false the buffer
// holds nothing usable and the caller must not act on it.
#pragma once

#include <windows.h>

typedef wchar_t PathBuffer[MAX_PATH];

// Copies text into out; true when it fit with its terminator.
bool TextCopy(PathBuffer& out, const wchar_t* text);

// Appends text to what out holds (plain concatenation); true when it fit.
bool TextAppend(PathBuffer& out, const wchar_t* text);

// Appends a name with PathAppendW (exactly one backslash between); true when the
// result fit. PathAppendW itself would only ever see a buffer with room to spare.
bool PathAppendName(PathBuffer& out, const wchar_t* name);

// Expands environment references of text into out; true when the expansion fit.
bool ExpandText(PathBuffer& out, const wchar_t* text);

// printf-style formatting (%s is a wide string) into out; true when nothing was cut.
bool FormatText(PathBuffer& out, const wchar_t* format, ...);
// The same into a buffer of count characters, for a text longer than a path (a kernel key
// name with a subkey, a key shown with its root label).
bool FormatTextCounted(wchar_t* out, size_t count, const wchar_t* format, ...);

// Appends text to what out (a buffer of count characters) holds; true when it fit. For a text
// longer than a path: a command line.
bool TextAppendCounted(wchar_t* out, size_t count, const wchar_t* text);
// A scope's key path: "<sid>\<relativePath>", or relativePath alone when sid is
// null or empty. True when it fit.
bool ScopeKeyPath(PathBuffer& out, const wchar_t* sid, const wchar_t* relativePath);

// Room for a key path and one name below it, each of which fits a PathBuffer: how a log line
// shows a key found in a list.
typedef wchar_t ShownPathBuffer[2 * MAX_PATH];

// "<path>\<name>", or path alone when name is null; true when it fit, which it always does
// for a path and a name that each fit a PathBuffer.
bool ShownKeyPath(ShownPathBuffer& out, const wchar_t* path, const wchar_t* name);

// Makes room for one more item in a heap array that holds count items: doubles its capacity
// (16 to begin with) when it is full. False when there was no memory; nothing changed then.
bool MakeRoom(void*& items, DWORD count, DWORD& capacity, SIZE_T itemSize);

// Names (of values, of SIDs) collected into a list that grows on the process heap; start it
// empty ({}) and free it with FreeNames.
struct NameList {
    PathBuffer* names;
    DWORD count;
    DWORD capacity;
};
// Adds a copy of name; false when there was no memory for it or it did not fit.
bool AddName(NameList& list, const wchar_t* name);
void FreeNames(NameList& list);
