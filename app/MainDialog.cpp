// The main dialog: its procedure, the Clean handler and the completion report.
#include "app.h"

#include "../clean/clean.h"
#include "../log/log.h"
#include "../res/resource.h"

HWND MainWindow = nullptr;

namespace {

// What the process exits with once Close is pressed: the run's exit code.
int RunExitCode = 0;

void SetStringText(HWND window, int controlId, UINT stringId)
{
    PathBuffer text;
    HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    LoadStringW(module, stringId, text, MAX_PATH);
    SetDlgItemTextW(window, controlId, text);
}

// The end of a clean run, called by the worker after its last log line: ends the process in
// quiet mode, otherwise shows "Finished." and enables Close. The process exits with exitCode
// either way.
void ReportCompletion(int exitCode)
{
    if (QuietMode) {
        PostMessageW(MainWindow, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
        return;
    }
    RunExitCode = exitCode;
    // The text is set before Close is enabled, so the user can never close the
    // dialog while it still reads as running.
    SetStringText(MainWindow, IDC_STATUS, IDS_FINISHED);
    EnableWindow(GetDlgItem(MainWindow, IDCANCEL), TRUE);
}

// What the worker thread is handed: the run reports its end through it.
RunCompletion CompletionReport = ReportCompletion;

// Starts the one clean run of this process, then turns the dialog to Running. The worker
// cannot report completion before that: its report is sent to this thread, which takes it
// only once this handler has returned. A run that cannot start leaves the dialog Ready.
void OnClean(HWND window)
{
    if (!StartCleanRun())
        return;
    ShowWindow(GetDlgItem(window, IDC_CLEAN), SW_HIDE);
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
    SetStringText(window, IDCANCEL, IDS_CLOSE);
    SetStringText(window, IDC_STATUS, IDS_PLEASE_WAIT);
}

} // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
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
        else if (LOWORD(wParam) == IDCANCEL)
            PostQuitMessage(RunExitCode);
        break;
    }
    return FALSE;
}

bool StartCleanRun()
{
    HANDLE worker = CreateThread(nullptr, 0, CleanRun, &CompletionReport, 0, nullptr);
    if (worker == nullptr) {
        LogLine(L"Failed to start the clean-up [%d]", static_cast<int>(GetLastError()));
        return false;
    }
    CloseHandle(worker);
    return true;
}
