// A hashed set of case-folded names (open addressing, linear probing).
#include "FoldedSet.h"

#include <wchar.h>

extern "C" WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR c);

namespace {

// Names are folded one character at a time with the system's own upper-case table, the one
// that ordinal comparisons ignoring case (CompareStringOrdinal) use.
wchar_t Fold(wchar_t c)
{
    return RtlUpcaseUnicodeChar(c);
}

// FNV-1a over the folded characters.
DWORD Hash(const wchar_t* name, size_t length)
{
    DWORD hash = 2166136261u;
    for (size_t i = 0; i < length; i++) {
        hash ^= Fold(name[i]);
        hash *= 16777619u;
    }
    return hash;
}

bool SameFolded(const wchar_t* folded, const wchar_t* name, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (folded[i] != Fold(name[i]))
            return false;
    return folded[length] == L'\0';
}

// The slot that holds name, or the free slot where it would go.
DWORD FindSlot(const FoldedSet& set, const wchar_t* name, size_t length, DWORD hash)
{
    DWORD mask = set.capacity - 1;
    DWORD at = hash & mask;
    while (set.slots[at].name != nullptr && !SameFolded(set.slots[at].name, name, length))
        at = (at + 1) & mask;
    return at;
}

// Doubles the table (16 slots to begin with) and places every name again.
bool Grow(FoldedSet& set)
{
    DWORD capacity = set.capacity == 0 ? 16 : set.capacity * 2;
    if (capacity < set.capacity)
        return false;
    auto slots = static_cast<FoldedSetSlot*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity * sizeof(FoldedSetSlot)));
    if (slots == nullptr)
        return false;
    FoldedSet grown = {slots, capacity, set.count};
    for (DWORD i = 0; i < set.capacity; i++) {
        const FoldedSetSlot& slot = set.slots[i];
        if (slot.name != nullptr) {
            size_t length = wcslen(slot.name);
            grown.slots[FindSlot(grown, slot.name, length, Hash(slot.name, length))] = slot;
        }
    }
    if (set.slots != nullptr)
        HeapFree(GetProcessHeap(), 0, set.slots);
    set = grown;
    return true;
}

} // namespace

bool FoldedSetAdd(FoldedSet& set, const wchar_t* name, size_t length)
{
    return FoldedSetAddNumbered(set, name, length, 0);
}

bool FoldedSetAddNumbered(FoldedSet& set, const wchar_t* name, size_t length, DWORD number)
{
    if (FoldedSetHas(set, name, length))
        return true;
    // At most three quarters full, so that a probe ends soon.
    if ((set.count + 1) * 4 > set.capacity * 3 && !Grow(set))
        return false;
    auto copy = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
    if (copy == nullptr)
        return false;
    for (size_t i = 0; i < length; i++)
        copy[i] = Fold(name[i]);
    copy[length] = L'\0';
    set.slots[FindSlot(set, name, length, Hash(name, length))] = {copy, number};
    set.count++;
    return true;
}

bool FoldedSetHas(const FoldedSet& set, const wchar_t* name, size_t length)
{
    DWORD number;
    return FoldedSetFind(set, name, length, number);
}

bool FoldedSetFind(const FoldedSet& set, const wchar_t* name, size_t length, DWORD& number)
{
    if (set.count == 0)
        return false;
    const FoldedSetSlot& slot = set.slots[FindSlot(set, name, length, Hash(name, length))];
    if (slot.name == nullptr)
        return false;
    number = slot.number;
    return true;
}

void FoldedSetClear(FoldedSet& set)
{
    for (DWORD i = 0; i < set.capacity; i++)
        if (set.slots[i].name != nullptr)
            HeapFree(GetProcessHeap(), 0, set.slots[i].name);
    if (set.slots != nullptr)
        HeapFree(GetProcessHeap(), 0, set.slots);
    set = {};
}
