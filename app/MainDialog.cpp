// The main dialog: its procedure, the Clean handler, and the run's steps and end as they
// arrive from the run's thread.
#include "app.h"

#include "../res/resource.h"

#include <commctrl.h>

HWND MainWindow = nullptr;

namespace {

// What the process exits with once Close is pressed: the run's exit code.
int RunExitCode = 0;

// The options the run that Clean starts is given; set as the dialog is made.
const RunOptions* DialogOptions = nullptr;

void SetStringText(HWND window, int controlId, UINT stringId)
{
    PathBuffer text;
    HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    LoadStringW(module, stringId, text, MAX_PATH);
    SetDlgItemTextW(window, controlId, text);
}

// Starts the one clean run of this process, then turns the dialog to Running. The worker
// cannot report completion before that: its report is posted to this thread, which takes it
// only once this handler has returned. A run that cannot start leaves the dialog Ready.
void OnClean(HWND window)
{
    if (!StartCleanRun(*DialogOptions))
        return;
    ShowWindow(GetDlgItem(window, IDC_CLEAN), SW_HIDE);
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
    SetStringText(window, IDCANCEL, IDS_CLOSE);
    SetStringText(window, IDC_STATUS, IDS_PLEASE_WAIT);
    HWND progress = GetDlgItem(window, IDC_PROGRESS);
    SendMessageW(progress, PBM_SETMARQUEE, TRUE, 0);
    ShowWindow(progress, SW_SHOW);
}

void OnRunStep(HWND window)
{
    DialogLine text;
    TakeStepText(text);
    SetDlgItemTextW(window, IDC_STEP, text);
}

// The run has logged its last line: "Finished.", how it went and "Show log", then Close.
void OnRunEnded(HWND window, int exitCode)
{
    RunExitCode = exitCode;
    HWND progress = GetDlgItem(window, IDC_PROGRESS);
    SendMessageW(progress, PBM_SETMARQUEE, FALSE, 0);
    ShowWindow(progress, SW_HIDE);
    DialogLine text;
    TakeOutcomeText(text);
    SetDlgItemTextW(window, IDC_STEP, text);
    // The text is set before Close is enabled, so the user can never close the
    // dialog while it still reads as running.
    SetStringText(window, IDC_STATUS, IDS_FINISHED);
    HWND showLog = GetDlgItem(window, IDC_SHOW_LOG);
    EnableWindow(showLog, CanShowRunLog());
    ShowWindow(showLog, SW_SHOW);
    EnableWindow(GetDlgItem(window, IDCANCEL), TRUE);
}

} // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        DialogOptions = reinterpret_cast<const RunOptions*>(lParam);
        break;
    case WM_CLOSE:
        // Wine's default handling sends IDCANCEL even while Cancel is disabled, which
        // would end the process in the middle of a run; refuse it here as Windows does.
        if (!IsWindowEnabled(GetDlgItem(window, IDCANCEL))) {
            MessageBeep(MB_ICONWARNING);
            return TRUE;
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_CLEAN)
            OnClean(window);
        else if (LOWORD(wParam) == IDC_SHOW_LOG)
            ShowRunLog();
        else if (LOWORD(wParam) == IDCANCEL)
            PostQuitMessage(RunExitCode);
        break;
    case RunStepMessage:
        OnRunStep(window);
        return TRUE;
    case RunEndedMessage:
        OnRunEnded(window, static_cast<int>(wParam));
        return TRUE;
    }
    return FALSE;
}
