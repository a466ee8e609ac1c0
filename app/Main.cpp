// Entry point: options, log and header lines, the dialog, the message loop.
#include "app.h"

#include "../log/log.h"
#include "../res/resource.h"

#include <shellapi.h>

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

void ReadOptions()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return;
    ParseOptions(count, arguments);
    LocalFree(arguments);
}

void LogHeader()
{
    if (QuietMode)
        LogLine(L"Running quietly (no UI)");
    if (Signature[0] != L'\0')
        LogLine(L"Using signature [%s]", Signature);
    if (LogPath[0] != L'\0')
        LogLine(L"Using log file location [%s]", LogPath);
    if (PreviewMode)
        LogLine(L"Preview: nothing will be changed");
    if (AllProfiles)
        LogLine(L"Including user profiles that are not loaded");
}

void SetDialogIcon()
{
    HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(MainWindow, GWLP_HINSTANCE));
    HANDLE icon = LoadImageW(module, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
    SendMessageW(MainWindow, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(MainWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    ReadOptions();
    OpenRunLog();
    LogHeader();

    MainWindow = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (MainWindow == nullptr)
        return 0;
    if (!QuietMode)
        SetDialogIcon();
    ShowWindow(MainWindow, QuietMode ? SW_HIDE : SW_SHOWNORMAL);
    UpdateWindow(MainWindow);

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    // A quiet run that cannot start ends the process: nothing else would.
    if (QuietMode && !StartCleanRun())
        PostQuitMessage(0);

    // No IsDialogMessageW step: Tab, Enter and Escape have no dialog meaning here.
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0)) {
        if (TranslateAcceleratorW(message.hwnd, accelerators, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    DestroyWindow(MainWindow);
    CloseRunLog();
    return static_cast<int>(message.wParam);
}
