// A set of names that compares them as the registry and the file system do, ignoring case.
// Each name is kept upper-cased on the process heap and found through a hash table that
// grows with the set, so that a lookup costs the same however many names it holds.
#pragma once

#include <windows.h>

struct FoldedSet {
    wchar_t** slots;  // on the heap; a null slot is free
    DWORD capacity;   // a power of two, or 0 before the first name
    DWORD count;
};

// Adds the first length characters of name. False when there was no memory for it; the set
// is unchanged then. A name the set holds already is not added again (true).
bool FoldedSetAdd(FoldedSet& set, const wchar_t* name, size_t length);
// True when the set holds the first length characters of name, ignoring case.
bool FoldedSetHas(const FoldedSet& set, const wchar_t* name, size_t length);
// Frees every name and the table: the set is empty again.
void FoldedSetClear(FoldedSet& set);
