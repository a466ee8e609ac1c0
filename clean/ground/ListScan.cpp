// List scans: one reading of a list's matches, walked with the rule that a deletion starts
// the scan over, and the readings a scope sweep keeps for its later passes.
#include "ListScan.h"

#include "../../common/Registry.h"

#include <wchar.h>

void FreeListReading(ListReading& reading)
{
    if (reading.matches != nullptr)
        HeapFree(GetProcessHeap(), 0, reading.matches);
    reading.matches = nullptr;
    reading.count = 0;
    reading.capacity = 0;
}

namespace {

bool AddMatch(ListReading& reading, DWORD index, const wchar_t* name)
{
    void* matches = reading.matches;
    if (!MakeRoom(matches, reading.count, reading.capacity, sizeof(ListMatch)))
        return false;
    reading.matches = static_cast<ListMatch*>(matches);
    ListMatch& match = reading.matches[reading.count];
    if (!TextCopy(match.name, name))
        return false;
    match.index = index;
    reading.count++;
    return true;
}

// One reading being taken: the scan, the reading, and the index the walk is at.
struct ListWalk {
    const ListScan& scan;
    ListReading& reading;
    DWORD index;
};

bool NoteIfMatch(const wchar_t* name, void* context)
{
    ListWalk& walk = *static_cast<ListWalk*>(context);
    DWORD index = walk.index++;
    return walk.scan.match(walk.scan, name) == nullptr || AddMatch(walk.reading, index, name);
}

// Reads every entry of the list and notes the matches. Out of memory, the reading ends
// with the matches noted so far.
void ReadList(const ListScan& scan, ListReading& reading)
{
    FreeListReading(reading);
    reading.match = scan.match;
    ListWalk walk = {scan, reading, 0};
    RegEnumSubkeys(scan.list, NoteIfMatch, &walk);
}

// Drops the match at position; when its entry was deleted, the later entries moved down.
void DropMatch(ListReading& reading, DWORD position, bool deleted)
{
    for (DWORD later = position + 1; later < reading.count; later++) {
        reading.matches[later - 1] = reading.matches[later];
        if (deleted)
            reading.matches[later - 1].index--;
    }
    reading.count--;
}

// The reading readings keeps for the key of that identity and the matcher, or null.
ListReading* FindKeptReading(ListReadings& readings, const RegistryName& identity,
                             const wchar_t* (*match)(const ListScan&, const wchar_t*))
{
    for (DWORD i = 0; i < readings.count; i++) {
        ListReading& kept = readings.lists[i];
        if (kept.match == match && RegSameKey(kept.identity, identity))
            return &kept;
    }
    return nullptr;
}

// The reading to scan with, as ReadListOnce tells.
ListReading& ChooseReading(const ListScan& scan, ListReadings* readings, ListReading& own)
{
    RegistryName identity;
    if (readings == nullptr || !RegKernelName(scan.list, identity)) {
        ReadList(scan, own);
        return own;
    }
    ListReading* kept = FindKeptReading(*readings, identity, scan.match);
    if (kept != nullptr)
        return *kept;
    ListReading& reading = readings->count < ARRAYSIZE(readings->lists) ? readings->lists[readings->count++] : own;
    wmemcpy(reading.identity, identity, ARRAYSIZE(identity));
    ReadList(scan, reading);
    return reading;
}

bool SubkeyExists(HKEY list, REGSAM view, const wchar_t* name)
{
    HKEY key;
    if (!RegOpenSubkeyOf(list, name, KEY_READ | view, key))
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace

void ScanList(const ListScan& scan, ListReadings* readings)
{
    ListReading own = {};
    ListReading* reading = &ChooseReading(scan, readings, own);
    DWORD i = 0;
    while (i < reading->count) {
        PathBuffer name;
        wmemcpy(name, reading->matches[i].name, MAX_PATH);
        DWORD index = reading->matches[i].index;
        const wchar_t* matched = scan.match(scan, name);
        if (matched == nullptr) {
            DropMatch(*reading, i, false);
            continue;
        }
        Taken taken = scan.take(scan, name, matched);
        if (taken == Taken::Kept) {
            i++;
        } else if (taken == Taken::Removed) {
            DropMatch(*reading, i, true);
            i = 0;
        } else {
            // An uninstaller that removed its own entry moved the next entry down to its
            // index: that one is taken next instead of being passed over.
            DWORD next = SubkeyExists(scan.list, scan.view, name) ? index + 1 : index;
            if (readings != nullptr)
                ForgetListReadings(*readings);
            FreeListReading(own);
            reading = &ChooseReading(scan, readings, own);
            i = 0;
            while (i < reading->count && reading->matches[i].index < next)
                i++;
        }
    }
    FreeListReading(own);
}

const ListReading& ReadListOnce(const ListScan& scan, ListReadings* readings, ListReading& own)
{
    return ChooseReading(scan, readings, own);
}

ListReading* KeepListReading(const ListScan& scan, ListReadings* readings)
{
    RegistryName identity;
    if (readings == nullptr || readings->count == ARRAYSIZE(readings->lists) ||
        !RegKernelName(scan.list, identity) || FindKeptReading(*readings, identity, scan.match) != nullptr)
        return nullptr;
    ListReading& reading = readings->lists[readings->count++];
    reading = {};
    wmemcpy(reading.identity, identity, ARRAYSIZE(identity));
    reading.match = scan.match;
    return &reading;
}

bool NoteListMatch(ListReading* reading, DWORD index, const wchar_t* name)
{
    return reading != nullptr && AddMatch(*reading, index, name);
}

void ForgetListReadings(ListReadings& readings)
{
    for (DWORD i = 0; i < readings.count; i++)
        FreeListReading(readings.lists[i]);
    readings.count = 0;
}

void ForEachSubkey(HKEY root, const wchar_t* path, bool (*visit)(const wchar_t* name, void* context), void* context)
{
    // Without a path the walk is of root itself (HKEY_USERS: the hives loaded), which lies above
    // every scope's keys; a path below it is reached as itself.
    HKEY key;
    bool opened = path == nullptr ? RegOpenKeyExW(root, nullptr, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS
                                  : RegOpenAsItself(root, path, KEY_READ | KEY_WOW64_64KEY, key);
    if (!opened)
        return;
    RegEnumSubkeys(key, visit, context);
    RegCloseKey(key);
}
