// Uses the program's dialog as a person would: starts ZamoClean.exe with the given
// arguments, presses Clean, waits for "Finished.", prints the line beneath it that says how the
// run went, presses Close.
//   ClickClean.exe PROGRAM [ARGUMENTS...]
// Exit code: the program's own, or 90 and up when a step did not happen in time.
#include <windows.h>
#include <stdio.h>

namespace {

struct Search {
    DWORD processId;
    HWND window;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
{
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t caption[64];
    if (owner == search->processId && GetWindowTextW(window, caption, 64) && wcscmp(caption, L"Zamo Clean") == 0) {
        search->window = window;
        return FALSE;
    }
    return TRUE;
}

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
    wchar_t commandLine[4096];
    wsprintfW(commandLine, L"\"%s\"", argv[1]);
    for (int i = 2; i < argc; i++) {
        lstrcatW(commandLine, L" ");
        lstrcatW(commandLine, argv[i]);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(argv[1], commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 90;
    CloseHandle(info.hThread);

    Search search = {info.dwProcessId, nullptr};
    for (int i = 0; i < 200 && search.window == nullptr; i++) {
        Sleep(50);
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    }
    // A click reaches the button only once the dialog is shown.
    for (int i = 0; i < 200 && search.window != nullptr && !IsWindowVisible(search.window); i++)
        Sleep(50);
    int result = 91;
    if (search.window != nullptr && IsWindowVisible(search.window)) {
        SendMessageW(GetDlgItem(search.window, 1), BM_CLICK, 0, 0);
        wprintf(L"Clean pressed\n");
        result = 92;
        // The run includes uninstallers and a pause after stopping processes.
        for (int i = 0; i < 2400; i++) {
            if (StatusReads(search.window, L"Finished.") && IsWindowEnabled(GetDlgItem(search.window, IDCANCEL))) {
                wchar_t outcome[1024] = {};
                SendMessageW(GetDlgItem(search.window, 1002), WM_GETTEXT, ARRAYSIZE(outcome),
                             reinterpret_cast<LPARAM>(outcome));
                wprintf(L"Finished. shown: %ls\n", outcome);
                SendMessageW(GetDlgItem(search.window, IDCANCEL), BM_CLICK, 0, 0);
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
