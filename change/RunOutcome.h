// The run's outcome: what it tried to remove and what stayed, "Not removed", the exit code and
// the items of the run's report.
#pragma once

#include <windows.h>

// An uninstaller's exit code: 3010 and 1641 mean its work completes at restart. Kept with the
// uninstaller started last, as is a wait for it that timed out.
void NoteUninstallerExit(DWORD exitCode);
// An uninstaller that did not finish (the one started last): still running when its wait
// ended, or busy (it exited 1618, another installation in progress). Its entry stays in "Not
// removed" as "%s [%s] (its uninstaller did not finish)" with its product code and display
// name; the exit code is 1, or 1618 (ahead of 1) when any was busy.
void NoteUnfinishedUninstaller(bool busy);
void NoteUninstallerTimedOut();
// A user's folder the run could not search, its definition (value name, the text as read)
// resolving to nothing in that user's terms: it counts for the exit code as an item that stays
// (its line is the caller's, no "Not removed"), and the report shows it "not searched".
void NoteNotSearched(const wchar_t* sid, const wchar_t* valueName, const wchar_t* definition);
// Something the run was asked to do could not be done (a registration that failed, a running
// user whose scope could not be found): a real run's exit code is 1, as for an item that stays;
// the line that says so is the caller's.
void NoteRunFellShort();
// Decides now, for every item recorded so far, whether it is still there: called before a
// loaded hive is unloaded, after which its keys could no longer be told apart from gone ones.
void SettleTriedItems();
// Decides what stayed: with "/ExitCode", logs "Not removed: %s" for each item still there and
// not scheduled. Returns the code the run has, also without "/ExitCode": 0, 3010, 1 or 1618 (a
// preview: 1 when it named any change, else 0). A scope's "Software\Quorvex" that holds
// nothing but the marker key "Cleaned", and that key, do not count: the run's own mark is no
// trace of the product.
int SettleRunOutcome();
// With "/ExitCode", logs "Exit code [%d]" and returns exitCode; without it, returns 0.
int LogExitCode(int exitCode);
// Both of the above, one after the other.
int LogRunOutcome();

// One item of the record as the report shows it; the texts stay valid until the record is
// cleared. view: 64, 32, or 0 where the item has none or both views show it as one.
struct TriedItemReport {
    const wchar_t* kind;
    const wchar_t* name;       // root label and key path (with "\<value>" for a value), or a path
    const wchar_t* valueName;  // a value's name alone, null for any other item
    int view;
    const wchar_t* outcome;    // "removed", "not removed", "scheduled", "would remove" or "not searched"
    bool hasError;
    DWORD error;
    bool countsForExitCode;
    bool scopeMarker;          // a scope's marker key, or the maker's key holding nothing else
    // An uninstaller's: its product code and display name, and how it ended.
    const wchar_t* productCode;
    const wchar_t* displayName;
    bool exited;
    DWORD exitCode;
    bool timedOut;
    // A folder not searched: the SID of the user whose definition it is.
    const wchar_t* user;
};
// The number of items recorded, and one of them (index below that number), settled first.
DWORD TriedItemCount();
void DescribeTriedItem(DWORD index, TriedItemReport& out);
// False when an item found no room on the heap: the record misses it.
bool TriedItemsComplete();
