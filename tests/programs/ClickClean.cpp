// Uses the program's dialog as a person would: starts ZamoClean.exe with the given
// arguments, presses Clean, waits for "Finished.", prints the line beneath it that says how the
// run went, presses Close.
//   ClickClean.exe PROGRAM [ARGUMENTS...]
// Exit code: the program's own, or 90 and up when a step did not happen in time.
#include "DialogDriver.h"

#include <stdio.h>

namespace {

bool StatusReads(HWND dialog, const wchar_t* text)
{
    wchar_t status[512] = {};
    SendMessageW(GetDlgItem(dialog, -1), WM_GETTEXT, ARRAYSIZE(status), reinterpret_cast<LPARAM>(status));
    return wcscmp(status, text) == 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 100;
    PROCESS_INFORMATION info;
    if (!StartDialogProgram(argv[1], argc, argv, 2, info))
        return 90;
    // A click reaches the button only once the dialog is shown.
    HWND dialog = WaitForShownDialog(info.dwProcessId, 400);
    int result = 91;
    if (dialog != nullptr) {
        SendMessageW(GetDlgItem(dialog, 1), BM_CLICK, 0, 0);
        wprintf(L"Clean pressed\n");
        result = 92;
        // The run includes uninstallers and a pause after stopping processes.
        for (int i = 0; i < 2400; i++) {
            if (StatusReads(dialog, L"Finished.") && IsWindowEnabled(GetDlgItem(dialog, IDCANCEL))) {
                wchar_t outcome[1024] = {};
                SendMessageW(GetDlgItem(dialog, 1002), WM_GETTEXT, ARRAYSIZE(outcome),
                             reinterpret_cast<LPARAM>(outcome));
                wprintf(L"Finished. shown: %ls\n", outcome);
                SendMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
                result = 93;
                break;
            }
            Sleep(50);
        }
    }
    if (WaitForSingleObject(info.hProcess, 10000) == WAIT_OBJECT_0 && result == 93) {
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        result = static_cast<int>(code);
    } else {
        TerminateProcess(info.hProcess, 1);
    }
    CloseHandle(info.hProcess);
    return result;
}
