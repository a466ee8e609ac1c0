// What the programs that drive the dialog from outside share: starting the program with
// arguments, and finding its dialog once it is shown.
#pragma once

#include <windows.h>

// Starts program with the arguments argv[first] onwards; false when it could not be started.
inline bool StartDialogProgram(const wchar_t* program, int argc, wchar_t** argv, int first, PROCESS_INFORMATION& info)
{
    wchar_t commandLine[4096];
    wsprintfW(commandLine, L"\"%s\"", program);
    for (int i = first; i < argc; i++) {
        lstrcatW(commandLine, L" ");
        lstrcatW(commandLine, argv[i]);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    info = {};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    return true;
}

struct DialogSearch {
    DWORD processId;
    HWND window;
};

inline BOOL CALLBACK FindDialogOf(HWND window, LPARAM parameter)
{
    DialogSearch* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t caption[64];
    if (owner == search->processId && GetWindowTextW(window, caption, 64) && wcscmp(caption, L"Zamo Clean") == 0) {
        search->window = window;
        return FALSE;
    }
    return TRUE;
}

// The process's dialog once it is shown, waiting at most tries x 50 ms; null when it never was.
inline HWND WaitForShownDialog(DWORD processId, int tries)
{
    DialogSearch search = {processId, nullptr};
    for (int i = 0; i < tries && (search.window == nullptr || !IsWindowVisible(search.window)); i++) {
        Sleep(50);
        EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&search));
    }
    return search.window != nullptr && IsWindowVisible(search.window) ? search.window : nullptr;
}
