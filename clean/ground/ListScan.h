// List scans. A list is a key whose subkeys are entries; a scan reads it once, noting
// which entries match, and then takes the matches in index order. Taking a match that
// deletes it starts the scan over at the first match, as a scan from index 0 would: only
// the matches before it that are still there are taken again, never the other entries
// read again. Each match is examined again right before it is taken.
#pragma once

#include "../../common/Bounded.h"
#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

enum class Taken {
    Kept,     // the entry is still there (kept, failed to go, or passed by a preview)
    Removed,  // the entry is gone
    Changed,  // a child process ran and may have changed any list: this one is read again,
              // and the scan goes on after the entry's index (at it, if the entry is gone)
};
struct ListScan {
    HKEY list;  // opened by RegOpenPlain: its entries are opened one call each
    REGSAM view;
    // Examines one entry: what it matched (a catalogue name, or other text), or null.
    const wchar_t* (*match)(const ListScan& scan, const wchar_t* name);
    // Takes one match and logs what it did.
    Taken (*take)(const ListScan& scan, const wchar_t* name, const wchar_t* matched);
    // Whatever match and take need besides: the root label, the list's key path, the SID.
    const wchar_t* label;
    const wchar_t* path;
    const wchar_t* sid;
};
// One match of a reading: the entry's index and name.
struct ListMatch {
    DWORD index;
    PathBuffer name;
};
// A reading of one list: its key's registry name, the matcher, and the matches found.
struct ListReading {
    RegistryName identity;
    const wchar_t* (*match)(const ListScan& scan, const wchar_t* name);
    ListMatch* matches;  // on the heap
    DWORD count;
    DWORD capacity;
};
// The readings kept for the passes of one scope sweep, which goes over the four product
// key lists in two views. Where both views show one key (the registry gives it one name),
// both views' passes share its reading. Between the passes only the sweep's own deletions
// change the lists, and those the scans keep track of; a child process drops them all.
struct ListReadings {
    ListReading lists[8];
    DWORD count;
};
// Scans one list: with the kept reading of its key when readings holds one for the same
// matcher, otherwise with a new one, which readings (when not null) then keeps.
void ScanList(const ListScan& scan, ListReadings* readings);
// The matches of the list without taking any: the reading readings keeps for the key and
// matcher, or a new one that readings (when not null) then keeps for a later scan; where none can
// be kept, a new one in own, which the caller frees with FreeListReading.
const ListReading& ReadListOnce(const ListScan& scan, ListReadings* readings, ListReading& own);
void FreeListReading(ListReading& reading);
// For a caller that reads the list itself, entry by entry in index order, and examines each
// as scan's matcher would: a new reading that readings keeps from now on, for the caller to
// note each match in with NoteListMatch; null where none can be kept or one is kept already.
ListReading* KeepListReading(const ListScan& scan, ListReadings* readings);
// Notes a match (nothing where reading is null); false where the heap had no room for it.
bool NoteListMatch(ListReading* reading, DWORD index, const wchar_t* name);
// Drops and frees every kept reading.
void ForgetListReadings(ListReadings& readings);
// Calls visit with the name of each subkey of root\path, opened for reading in the 64-bit view;
// a key that cannot be opened has none.
void ForEachSubkey(HKEY root, const wchar_t* path, bool (*visit)(const wchar_t* name, void* context),
                   void* context);
