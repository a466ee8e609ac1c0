// The change layer's part of one run: the options the change functions read and the records
// they keep. The run holds it; while it is handed over, every change function uses it.
#pragma once

#include <windows.h>

#include "../common/FoldedSet.h"

struct TriedItem;

// The record of what the run tried to remove (TriedItems.h) and what it learnt beside it.
struct TriedRecord {
    TriedItem* items;  // on the heap
    DWORD count;
    DWORD capacity;
    // An item the heap had no room for: the run can no longer say that everything is gone.
    bool itemLost;
    bool previewNamedChange;
    bool restartPending;
    // An uninstaller exited 1618: another installation was in progress, the run is to be retried.
    bool installerBusy;
    // The uninstaller started last, which its exit code and its end are noted for.
    DWORD lastUninstaller;
    // Something the run was asked to do is not done (the clean-up at each user's next logon not
    // registered, the running user's scope not found).
    bool fellShort;
};

struct ChangePart {
    bool preview;         // "/Preview": a change logs its "Would ..." line and changes nothing
    bool reportExitCode;  // "/ExitCode": what stayed is logged, and the exit code
    bool listsItems;      // "/Report:" or the dialog: the record lists every item, a preview's too
    FoldedSet previewRecord;   // what a preview has passed as removed (PreviewRecord.h)
    TriedRecord tried;
    FoldedSet triedIndex;      // each item's index name with its place in tried.items
    DWORD lastNoted;           // the item the last note was about: what a failure's reason belongs to
    FoldedSet scheduledNames;  // each path scheduled for deletion at restart, and a renamed file's new path
};

// Empties the part and gives it its options.
void SetUpChangePart(ChangePart& part, bool preview, bool reportExitCode, bool listsItems);
// The part every change function uses from now on; null: none (a change function then must
// not be called).
void UseChangePart(ChangePart* part);
// Frees what the part's records hold on the heap.
void FreeChangePart(ChangePart& part);

// Within the change layer: the part handed over.
ChangePart& RunChanges();
