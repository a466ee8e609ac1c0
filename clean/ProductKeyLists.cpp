// Product key lists: which subkeys of a list (the uninstall list, or another list of
// product keys) carry a catalogue name, read once and kept for the passes of a sweep
// that come after, while what they found cannot have changed.
#include "steps.h"

#include "../common/Registry.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

// A sweep goes over at most the four product key paths in two views; under
// HKEY_USERS both views show one key, so fewer lists than that are kept.
const DWORD SlotCount = 8;

struct Slot {
    ListReading reading;
    RegistryName identity;  // the key's registry name; empty when unknown
    // The list as it was when the reading was taken or last changed by the sweep:
    // a later pass reuses the reading only while the list still looks so.
    DWORD subkeyCount;
    FILETIME lastWrite;
    bool reusable;
};

Slot Slots[SlotCount];
DWORD NextSlot = 0;
bool Keeping = false;

bool ListState(HKEY list, DWORD& subkeyCount, FILETIME& lastWrite)
{
    return RegQueryInfoKeyW(list, nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, &lastWrite) == ERROR_SUCCESS;
}

bool SameState(const Slot& slot, DWORD subkeyCount, const FILETIME& lastWrite)
{
    return slot.subkeyCount == subkeyCount && CompareFileTime(&slot.lastWrite, &lastWrite) == 0;
}

// The kept reading of the key named identity, when the list still looks as it did.
Slot* ReusableSlot(HKEY list, const wchar_t* identity)
{
    for (Slot& slot : Slots) {
        if (!slot.reusable || StrCmpIW(slot.identity, identity) != 0)
            continue;
        DWORD subkeyCount;
        FILETIME lastWrite;
        if (ListState(list, subkeyCount, lastWrite) && SameState(slot, subkeyCount, lastWrite))
            return &slot;
        slot.reusable = false;
        return nullptr;
    }
    return nullptr;
}

// Where a new reading of the key named identity goes: that key's slot, a free one,
// or the next in turn.
Slot& FreeSlot(const wchar_t* identity)
{
    for (Slot& slot : Slots) {
        if (identity[0] != L'\0' && StrCmpIW(slot.identity, identity) == 0)
            return slot;
    }
    for (Slot& slot : Slots) {
        if (!slot.reusable)
            return slot;
    }
    Slot& slot = Slots[NextSlot];
    NextSlot = (NextSlot + 1) % SlotCount;
    return slot;
}

// Reads the subkeys from index from on, recording each match, until the list ends or
// the reading is full.
void ReadMatches(HKEY list, REGSAM access, DWORD from, ListReading& reading)
{
    reading.matchCount = 0;
    reading.cut = false;
    for (DWORD index = from;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(list, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            reading.end = index;
            return;
        }
        const wchar_t* displayName = EntryCatalogueName(list, access, name);
        if (displayName == nullptr)
            continue;
        if (reading.matchCount == ListMatchCapacity) {
            reading.end = index;
            reading.cut = true;
            return;
        }
        ListMatch& match = reading.matches[reading.matchCount++];
        match.index = index;
        match.displayName = displayName;
        wmemcpy(match.name, name, nameCount + 1);
    }
}

} // namespace

const wchar_t* KeyCatalogueName(HKEY key, const wchar_t* valueName)
{
    PathBuffer text;
    return ReadRegistryText(key, valueName, text, false) ? CatalogueDisplayName(text) : nullptr;
}

const wchar_t* EntryCatalogueName(HKEY list, REGSAM access, const wchar_t* name)
{
    HKEY entry;
    if (RegOpenKeyExW(list, name, 0, access, &entry) != ERROR_SUCCESS)
        return nullptr;
    const wchar_t* displayName = KeyCatalogueName(entry, L"DisplayName");
    if (displayName == nullptr)
        displayName = KeyCatalogueName(entry, L"ProductName");
    RegCloseKey(entry);
    return displayName;
}

void BeginListReadings()
{
    ForgetListReadings();
    Keeping = true;
}

void EndListReadings()
{
    ForgetListReadings();
    Keeping = false;
}

void ForgetListReadings()
{
    for (Slot& slot : Slots)
        slot.reusable = false;
}

ListReading& ReadProductKeyList(HKEY list, REGSAM access, DWORD from)
{
    RegistryName identity;
    if (!Keeping || !RegistryKeyName(list, identity))
        identity[0] = L'\0';
    if (from == 0 && identity[0] != L'\0') {
        Slot* kept = ReusableSlot(list, identity);
        if (kept != nullptr)
            return kept->reading;
    }
    Slot& slot = FreeSlot(identity);
    wcscpy(slot.identity, identity);
    slot.reusable = false;
    // A list that changed while it was read is not kept: what was read may be a mix.
    DWORD subkeyCount;
    FILETIME lastWrite;
    bool before = ListState(list, subkeyCount, lastWrite);
    ReadMatches(list, access, from, slot.reading);
    if (from == 0 && identity[0] != L'\0' && before && ListState(list, slot.subkeyCount, slot.lastWrite))
        slot.reusable = SameState(slot, subkeyCount, lastWrite);
    return slot.reading;
}

void DropListMatch(HKEY list, ListReading& reading, DWORD position)
{
    for (DWORD later = position + 1; later < reading.matchCount; later++) {
        reading.matches[later - 1] = reading.matches[later];
        reading.matches[later - 1].index--;
    }
    reading.matchCount--;
    reading.end--;
    for (Slot& slot : Slots) {
        if (&slot.reading != &reading || !slot.reusable)
            continue;
        // The deletion took exactly the one subkey, or the list changed some other way
        // too and is read again by the next pass.
        DWORD subkeyCount;
        FILETIME lastWrite;
        slot.reusable = ListState(list, subkeyCount, lastWrite) && subkeyCount + 1 == slot.subkeyCount;
        slot.subkeyCount = subkeyCount;
        slot.lastWrite = lastWrite;
    }
}
