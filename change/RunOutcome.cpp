// The run's outcome: which of the items it tried are still there, "Not removed", the exit
// code, and each item as the report shows it.
#include "RunOutcome.h"
#include "TriedItems.h"

#include "../log/log.h"

namespace {

void Settle(TriedItem& item)
{
    if (item.settled)
        return;
    item.stillThere = item.kind->stillThere != nullptr && item.kind->stillThere(Identity(item), Detail(item));
    if (item.stillThere && IsMarkerOnlyItem(*item.kind, Identity(item), Detail(item)))
        item.counts = false;
    item.settled = true;
}

} // namespace

void NoteUninstallerExit(DWORD exitCode)
{
    if (exitCode == ERROR_SUCCESS_REBOOT_REQUIRED || exitCode == ERROR_SUCCESS_REBOOT_INITIATED)
        RunChanges().tried.restartPending = true;
    if (RunChanges().tried.lastUninstaller != NoItem) {
        RunChanges().tried.items[RunChanges().tried.lastUninstaller].exited = true;
        RunChanges().tried.items[RunChanges().tried.lastUninstaller].exitCode = exitCode;
    }
}

void NoteUninstallerTimedOut()
{
    if (RunChanges().tried.lastUninstaller != NoItem)
        RunChanges().tried.items[RunChanges().tried.lastUninstaller].timedOut = true;
}

void NoteUnfinishedUninstaller(bool busy)
{
    RunChanges().tried.installerBusy = RunChanges().tried.installerBusy || busy;
    if (RunChanges().tried.lastUninstaller != NoItem)
        RunChanges().tried.items[RunChanges().tried.lastUninstaller].unfinished = true;
}

void NoteNotSearched(const wchar_t* sid, const wchar_t* valueName, const wchar_t* definition)
{
    // Still there as far as anyone can tell, also to a preview, which names it as a change.
    NoteItem(TriedUnsearchedFolder, sid, valueName, definition, definition, 0);
}

void SettleTriedItems()
{
    for (DWORD i = 0; i < RunChanges().tried.count; i++)
        Settle(RunChanges().tried.items[i]);
}

void NoteRunFellShort()
{
    RunChanges().tried.fellShort = true;
}

int SettleRunOutcome()
{
    if (!KeepsTriedItems())
        return 0;
    const ChangePart& run = RunChanges();
    if (run.preview)
        return run.tried.previewNamedChange ? 1 : 0;
    bool stayed = run.tried.itemLost || run.tried.fellShort;
    for (DWORD i = 0; i < run.tried.count; i++) {
        TriedItem& item = run.tried.items[i];
        // An uninstaller leaves its traces to the items of their own, unless it did not finish.
        if (item.kind == &TriedUninstaller) {
            if (item.unfinished) {
                if (run.reportExitCode)
                    LogLine(L"Not removed: %s [%s] (its uninstaller did not finish)", Detail(item), Shown(item));
                stayed = true;
            }
            continue;
        }
        // The line that the folder could not be resolved was its "Not removed".
        if (item.kind == &TriedUnsearchedFolder) {
            stayed = true;
            continue;
        }
        Settle(item);
        if (item.stillThere && !item.scheduled && item.counts) {
            if (run.reportExitCode)
                LogLine(L"Not removed: %s", Shown(item));
            stayed = true;
        }
    }
    return run.tried.installerBusy    ? ERROR_INSTALL_ALREADY_RUNNING
           : stayed                   ? 1
           : run.tried.restartPending ? ERROR_SUCCESS_REBOOT_REQUIRED
                                      : 0;
}

int LogExitCode(int exitCode)
{
    if (!RunChanges().reportExitCode)
        return 0;
    LogLine(L"Exit code [%d]", exitCode);
    return exitCode;
}

int LogRunOutcome()
{
    return LogExitCode(SettleRunOutcome());
}

DWORD TriedItemCount()
{
    return RunChanges().tried.count;
}

bool TriedItemsComplete()
{
    return !RunChanges().tried.itemLost;
}

namespace {

// An uninstaller that ran to its end with success removed its product, or does so at the
// restart; one that did not start, did not end in time or failed left it.
const wchar_t* UninstallerOutcome(const TriedItem& item)
{
    if (!item.exited || item.timedOut)
        return L"not removed";
    if (item.exitCode == ERROR_SUCCESS)
        return L"removed";
    if (item.exitCode == ERROR_SUCCESS_REBOOT_REQUIRED || item.exitCode == ERROR_SUCCESS_REBOOT_INITIATED)
        return L"scheduled";
    return L"not removed";
}

} // namespace

void DescribeTriedItem(DWORD index, TriedItemReport& out)
{
    TriedItem& item = RunChanges().tried.items[index];
    ZeroMemory(&out, sizeof(out));
    out.kind = item.kind->reportName;
    out.name = Name(item);
    out.view = item.view;
    out.hasError = item.hasError;
    out.error = item.error;
    bool uninstaller = item.kind == &TriedUninstaller;
    if (item.kind == &TriedValue)
        out.valueName = Detail(item);
    if (uninstaller) {
        out.productCode = Detail(item);
        out.displayName = Shown(item);
        out.exited = item.exited;
        out.exitCode = item.exitCode;
        out.timedOut = item.timedOut;
    }
    if (item.kind == &TriedUnsearchedFolder) {
        out.user = Identity(item);
        out.outcome = L"not searched";
        out.countsForExitCode = true;
        return;
    }
    if (RunChanges().preview) {
        out.outcome = L"would remove";
        out.countsForExitCode = item.counts;
        out.scopeMarker = !item.counts;
        return;
    }
    // Only what a check can tell gone or there counts; a stopped process or a run uninstaller
    // leaves its traces to the items of their own, unless the uninstaller did not finish or
    // asked for the restart that makes the exit code 3010.
    Settle(item);
    out.scopeMarker = !item.counts;
    out.countsForExitCode = (item.kind->stillThere != nullptr && item.counts) || item.unfinished;
    if (uninstaller) {
        out.outcome = UninstallerOutcome(item);
        out.countsForExitCode = out.countsForExitCode || lstrcmpW(out.outcome, L"scheduled") == 0;
        return;
    }
    if (item.scheduled)
        out.outcome = L"scheduled";
    else
        out.outcome = item.stillThere ? L"not removed" : L"removed";
}
