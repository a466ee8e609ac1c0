// Entry point: options, log and header lines, the dialog, the message loop.
#include "app.h"

#include "../clean/Catalogue.h"
#include "../log/log.h"
#include "../res/resource.h"

#include <commctrl.h>

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

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
    HandDownProgramNames();
    RunOptions options = {};
    ParseCommandLine(GetCommandLineW(), options);
    OpenRunLog(options.logPath);
    NoteRunLog();
    LogOptionsHeader(options);

    // The marquee progress bar of the dialog is a common control of version 6 (the manifest's).
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    // The dialog keeps the options for its Clean button until the message loop ends.
    MainWindow = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc,
                                    reinterpret_cast<LPARAM>(&options));
    if (MainWindow == nullptr)
        return 0;
    if (!options.quiet)
        SetDialogIcon();
    ShowWindow(MainWindow, options.quiet ? SW_HIDE : SW_SHOWNORMAL);
    UpdateWindow(MainWindow);

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    // A quiet run that cannot start ends the process: nothing else would.
    if (options.quiet && !StartCleanRun(options))
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
