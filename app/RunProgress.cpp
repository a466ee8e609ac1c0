// What the run tells the dialog: the step it is in and, at its end, how it went. The texts
// are made on the run's thread and handed over through a guarded buffer and a posted
// message: only the dialog's thread touches the windows.
#include "app.h"

#include "../change/RunOutcome.h"
#include "../log/log.h"
#include "../res/resource.h"

#include <wchar.h>

namespace {

SRWLOCK TextLock = SRWLOCK_INIT;
DialogLine StepText = L"";
DialogLine OutcomeText = L"";

// Only the run's thread uses these.
DialogLine ScopeStepText = L"";  // shown again once an uninstaller has ended
bool LockWasBusy = false;

// What the one run of this process is handed.
RunStart Start = {};

void StoreText(DialogLine& to, const DialogLine& text)
{
    AcquireSRWLockExclusive(&TextLock);
    wcscpy(to, text);
    ReleaseSRWLockExclusive(&TextLock);
}

void CopyText(DialogLine& out, const DialogLine& from)
{
    AcquireSRWLockShared(&TextLock);
    wcscpy(out, from);
    ReleaseSRWLockShared(&TextLock);
}

// A string of the program's; empty when it cannot be loaded.
void LoadText(UINT id, DialogLine& out)
{
    if (LoadStringW(GetModuleHandleW(nullptr), id, out, ARRAYSIZE(out)) <= 0)
        out[0] = L'\0';
}

// A string of the program's with one or two texts put in; empty when it does not fit.
void FormatString(UINT id, DialogLine& out, const wchar_t* first, const wchar_t* second = nullptr)
{
    DialogLine format;
    LoadText(id, format);
    if (format[0] == L'\0' || !FormatTextCounted(out, ARRAYSIZE(out), format, first, second))
        out[0] = L'\0';
}

// The same with a count put in.
void FormatCount(UINT id, DialogLine& out, DWORD count)
{
    DialogLine format;
    LoadText(id, format);
    if (format[0] == L'\0' || !FormatTextCounted(out, ARRAYSIZE(out), format, count))
        out[0] = L'\0';
}

// A name or folder read from the machine, shown without the control and direction
// characters that could make the line read as something else.
void MakeShowable(const wchar_t* text, PathBuffer& out)
{
    size_t i = 0;
    for (; text != nullptr && text[i] != L'\0' && i + 1 < ARRAYSIZE(out); i++) {
        wchar_t c = text[i];
        bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x2028 && c <= 0x202E) ||
                       (c >= 0x2066 && c <= 0x2069);
        out[i] = control ? L'\xFFFD' : c;
    }
    out[i] = L'\0';
}

void ReportStep(RunStep step, const wchar_t* name, const wchar_t* folder)
{
    PathBuffer shownName;
    PathBuffer shownFolder;
    MakeShowable(name, shownName);
    MakeShowable(folder, shownFolder);
    DialogLine text = L"";
    switch (step) {
    case RunStep::StoppingPrograms:
        LoadText(IDS_STEP_STOPPING, text);
        break;
    case RunStep::CleaningUser:
        if (folder != nullptr)
            FormatString(IDS_STEP_USER_FOLDER, text, shownName, shownFolder);
        if (text[0] == L'\0')
            FormatString(IDS_STEP_USER, text, shownName);
        break;
    case RunStep::CleaningUnloadedProfiles:
        LoadText(IDS_STEP_UNLOADED, text);
        break;
    case RunStep::Uninstalling:
        FormatString(IDS_STEP_UNINSTALLING, text, shownName);
        break;
    case RunStep::UninstallerEnded:
        wcscpy(text, ScopeStepText);
        break;
    case RunStep::CleaningMachine:
        LoadText(IDS_STEP_MACHINE, text);
        break;
    case RunStep::WaitingForRun:
        LoadText(IDS_STEP_WAITING, text);
        break;
    case RunStep::StoppedWaiting:
        LockWasBusy = true;
        return;
    }
    if (step != RunStep::Uninstalling && step != RunStep::UninstallerEnded)
        wcscpy(ScopeStepText, text);
    StoreText(StepText, text);
    PostMessageW(MainWindow, RunStepMessage, 0, 0);
}

// What the run's record holds, counted as the exit code counts it: a stopped process and an
// uninstaller show only that the product was there, the scope marker's key not even that.
struct Tally {
    bool found;
    bool uninstallerRestart;
    DWORD counted;
    DWORD notRemoved;
    DWORD scheduled;
};

void TallyTriedItems(Tally& tally)
{
    ZeroMemory(&tally, sizeof(tally));
    for (DWORD i = 0; i < TriedItemCount(); i++) {
        TriedItemReport item;
        DescribeTriedItem(i, item);
        // A folder the run could not search may hold the product still: it stayed too.
        bool outcomeNotRemoved =
            wcscmp(item.outcome, L"not removed") == 0 || wcscmp(item.outcome, L"not searched") == 0;
        bool outcomeScheduled = wcscmp(item.outcome, L"scheduled") == 0;
        bool uninstaller = wcscmp(item.kind, L"uninstaller") == 0;
        if (uninstaller || wcscmp(item.kind, L"process") == 0) {
            tally.found = true;
            tally.uninstallerRestart = tally.uninstallerRestart || (uninstaller && outcomeScheduled);
            // An uninstaller that did not finish counts, as its "Not removed" line does.
            if (uninstaller && item.countsForExitCode && outcomeNotRemoved && !Start.options.preview)
                tally.notRemoved++;
            continue;
        }
        if (!item.countsForExitCode)
            continue;
        tally.found = true;
        tally.counted++;
        tally.notRemoved += outcomeNotRemoved ? 1 : 0;
        tally.scheduled += outcomeScheduled ? 1 : 0;
    }
}

// The line beneath "Finished.", from the record that makes the exit code.
void DescribeOutcome(DialogLine& out)
{
    Tally tally;
    TallyTriedItems(tally);
    if (LockWasBusy)
        LoadText(IDS_OUTCOME_BUSY, out);
    else if (Start.options.preview && !tally.found)
        LoadText(IDS_OUTCOME_PREVIEW_NOTHING, out);
    else if (Start.options.preview)
        FormatCount(tally.counted == 1 ? IDS_OUTCOME_PREVIEW_1 : IDS_OUTCOME_PREVIEW, out, tally.counted);
    else if (!TriedItemsComplete())
        LoadText(IDS_OUTCOME_INCOMPLETE, out);
    else if (tally.notRemoved > 0 || tally.scheduled > 0) {
        DialogLine stayed = L"";
        DialogLine restart = L"";
        if (tally.notRemoved > 0)
            FormatCount(tally.notRemoved == 1 ? IDS_OUTCOME_NOT_REMOVED_1 : IDS_OUTCOME_NOT_REMOVED, stayed,
                        tally.notRemoved);
        if (tally.scheduled > 0)
            FormatCount(tally.scheduled == 1 ? IDS_OUTCOME_RESTART_1 : IDS_OUTCOME_RESTART, restart,
                        tally.scheduled);
        const wchar_t* between = stayed[0] != L'\0' && restart[0] != L'\0' ? L" " : L"";
        if (!FormatTextCounted(out, ARRAYSIZE(out), L"%s%s%s", stayed, between, restart))
            wcscpy(out, stayed);
    }
    else if (tally.uninstallerRestart)
        LoadText(IDS_OUTCOME_UNINSTALLER_RESTART, out);
    else
        LoadText(tally.found ? IDS_OUTCOME_GONE : IDS_OUTCOME_NOTHING, out);
}

// The end of a clean run, called by the worker after its last log line: ends the process in
// quiet mode, otherwise has the dialog show "Finished." and how the run went. The process
// exits with exitCode either way.
void ReportCompletion(int exitCode)
{
    if (Start.options.quiet) {
        PostMessageW(MainWindow, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
        return;
    }
    DialogLine text = L"";
    DescribeOutcome(text);
    StoreText(OutcomeText, text);
    PostMessageW(MainWindow, RunEndedMessage, static_cast<WPARAM>(exitCode), 0);
}

// What the shell hands the run: in quiet mode its end alone, in the dialog its steps too.
const RunListener QuietRunListener = {nullptr, ReportCompletion};
const RunListener DialogRunListener = {ReportStep, ReportCompletion};

} // namespace

bool StartCleanRun(const RunOptions& options)
{
    // The dialog tells how the run went, from the record the run keeps for it; a quiet run
    // keeps what its options ask for.
    Start.options = options;
    Start.options.outcomeShown = !options.quiet;
    Start.listener = options.quiet ? &QuietRunListener : &DialogRunListener;
    HANDLE worker = CreateThread(nullptr, 0, CleanRun, &Start, 0, nullptr);
    if (worker == nullptr) {
        LogLine(L"Failed to start the clean-up [%d]", static_cast<int>(GetLastError()));
        return false;
    }
    CloseHandle(worker);
    return true;
}

void TakeStepText(DialogLine& out)
{
    CopyText(out, StepText);
}

void TakeOutcomeText(DialogLine& out)
{
    CopyText(out, OutcomeText);
}
