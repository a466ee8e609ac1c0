// Inside the change layer: the run's record of what it tried to remove, as the change
// functions note their items, and the record itself, which RunOutcome.cpp settles.
//
// A change function takes part with one call, at its top:
//     NoteChange(TriedFile, path, nullptr, path);
// The record is kept with "/ExitCode" or "/Report:" or in the dialog (KeepsTriedItems);
// otherwise the call does nothing. In a real run the item is recorded once, in the order first tried; in a
// preview the call counts as a change the preview names when the item is there now (always,
// for a kind that has no check, such as a process to stop), and such an item is recorded
// too unless the preview has passed it as removed already. A new kind of item (a cached
// package, a firewall rule) is one ItemKind of its own: its check, which tells whether the
// item named by identity is still there, and the word the report shows for it.
#pragma once

#include "Change.h"

struct ItemKind {
    // True when the item is still there, or cannot be told to be gone; null for a change
    // that removes nothing (a process stopped or started).
    bool (*stillThere)(const wchar_t* identity, const wchar_t* detail);
    const wchar_t* reportName;
};
extern const ItemKind TriedKey;         // identity: a kernel key name ("\REGISTRY\...")
extern const ItemKind TriedValue;       // identity: a kernel key name; detail: the value name
extern const ItemKind TriedFile;        // identity: a path
extern const ItemKind TriedFolder;      // identity: a path
extern const ItemKind TriedProcess;     // identity: the image name; detail: the process ID
extern const ItemKind TriedService;     // identity: a service name; noted when its removal failed
extern const ItemKind TriedTask;        // identity: a task's path; noted when its removal failed
extern const ItemKind TriedTaskFolder;  // identity: a task folder's path; noted when its removal failed
extern const ItemKind TriedUninstaller; // identity: the command line; detail: the product code
extern const ItemKind TriedFirewallRule; // identity: a rule's name; noted when its removal failed
extern const ItemKind TriedCachedPackage; // identity: a path in the Installer's own folder
extern const ItemKind TriedUnsearchedFolder; // identity: a user's SID; detail: the folder's value name

// True while the run keeps its record: "/ExitCode" or "/Report:" was given, or the dialog shows
// the run.
bool KeepsTriedItems();
// True when the record lists every item, the ones removed and a preview's too: for the report
// and the dialog.
bool ListsTriedItems();
void NoteChange(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown);
// The same for the key parent\subkey (subkey null: parent itself) in one view, or for one of
// its values (valueName not null): the identity is the key's kernel name; shown as
// "HKLM\<path>" or "value [<name>] from HKLM\<path>".
void NoteKeyChange(HKEY parent, const wchar_t* subkey, REGSAM view, const wchar_t* valueName, const ShownKey& shown);
// The same with the name the report shows given apart from the shown text; the item's index,
// or NoItem when none was recorded.
const DWORD NoItem = 0xFFFFFFFF;
DWORD NoteItem(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown,
               const wchar_t* name, int view);
// A service, task or rule whose removal succeeded, noted as gone (a failed one is noted with
// NoteItem, as still there).
void NoteRemoved(const ItemKind& kind, const wchar_t* identity, const wchar_t* shown);
// A file or folder of the record was scheduled for deletion at restart: it does not count
// as not removed.
void NoteScheduled(const wchar_t* path);
// An uninstaller started: it becomes the one its exit code and its end are noted for.
void NoteUninstallerStarted(const wchar_t* commandLine, const wchar_t* productCode, const wchar_t* displayName);
// The reason a change failed, kept with the item noted last.
void NoteFailure(DWORD error);
// What a change did; a failure's reason (GetLastError) goes with the item noted for it.
Change Outcome(bool made);


// A key item that is a scope's marker-only Software\Quorvex, or its Cleaned key: still there
// perhaps, but no trace of the product.
bool IsMarkerOnlyItem(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail);

// One item, its texts in one heap block: identity, detail, shown and name, each ended by its
// NUL. An uninstaller's detail is its product code and its shown text its display name.
struct TriedItem {
    const ItemKind* kind;
    wchar_t* texts;
    bool hasDetail;
    bool scheduled;
    bool settled;     // stillThere below is decided
    bool stillThere;
    bool counts;      // false for the marker's own key, which the mark made again
    bool hasError;
    DWORD error;      // the reason of the last failed attempt
    int view;         // 64, 32, or 0: none, or both show it as one
    bool exited;      // an uninstaller's end: its exit code, or a wait that timed out
    DWORD exitCode;
    bool timedOut;
    bool unfinished;  // an uninstaller still running when its wait ended, or busy (1618)
};

// The record and what the run learnt beside it.
struct TriedRecord {
    TriedItem* items;
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
    // Something the run was asked to put in place (the clean-up at each user's next logon) is not.
    bool placingFailed;
};
extern TriedRecord Tried;

const wchar_t* Identity(const TriedItem& item);
const wchar_t* Detail(const TriedItem& item);
const wchar_t* Shown(const TriedItem& item);
const wchar_t* Name(const TriedItem& item);
