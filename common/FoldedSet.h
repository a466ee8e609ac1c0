// A set of names that compares them as the registry and the file system do, ignoring case.
// Each name is kept upper-cased on the process heap and found through a hash table that
// grows with the set, so that a lookup costs the same however many names it holds. A name
// may carry a number of the caller's (where an item lies in the caller's own list), which
// makes the set an index of that list by name.
#pragma once

#include <windows.h>

struct FoldedSetSlot {
    wchar_t* name;  // on the heap; null for a free slot
    DWORD number;
};

struct FoldedSet {
    FoldedSetSlot* slots;  // on the heap
    DWORD capacity;        // a power of two, or 0 before the first name
    DWORD count;
};

// Adds the first length characters of name. False when there was no memory for it; the set
// is unchanged then. A name the set holds already is not added again (true).
bool FoldedSetAdd(FoldedSet& set, const wchar_t* name, size_t length);
// The same, with number carried by the name; a name the set holds already keeps its own.
bool FoldedSetAddNumbered(FoldedSet& set, const wchar_t* name, size_t length, DWORD number);
// True when the set holds the first length characters of name, ignoring case.
bool FoldedSetHas(const FoldedSet& set, const wchar_t* name, size_t length);
// The same, telling the number the name was added with.
bool FoldedSetFind(const FoldedSet& set, const wchar_t* name, size_t length, DWORD& number);
// Frees every name and the table: the set is empty again.
void FoldedSetClear(FoldedSet& set);
