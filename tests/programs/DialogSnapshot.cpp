// Takes a picture of the program's dialog in one state, from the screen (for the README; run
// under Xvfb by scripts/screenshots.sh):
//   DialogSnapshot.exe PROGRAM OUT.bmp ready|running|finished [FILE TO HOLD] [ARGUMENTS...]
// ready: as it opens; running: once the step line names a step; finished: once Close is
// enabled, FILE TO HOLD ("-" for none) kept open meanwhile so that it stays. The dialog is
// then closed. Exit code 0, or 90 and up when a step did not happen in time.
#include "DialogDriver.h"

#include <stdio.h>

namespace {

// Waits up to timeoutMs for done(dialog) to hold.
template <typename Test> bool WaitFor(HWND dialog, DWORD timeoutMs, Test done)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(50)) {
        if (done(dialog))
            return true;
    }
    return false;
}

// The window as the screen shows it, frame included, written as a 24-bit bottom-up BMP.
bool SaveWindowPicture(HWND window, const wchar_t* path)
{
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const DWORD rowBytes = ((width * 3 + 3) / 4) * 4;
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        SelectObject(memory, old);
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(info);
        file.bfSize = file.bfOffBits + rowBytes * height;
        HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            saved = WriteFile(out, &file, sizeof(file), &written, nullptr) &&
                    WriteFile(out, &info, sizeof(info), &written, nullptr) &&
                    WriteFile(out, bits, rowBytes * height, &written, nullptr);
            CloseHandle(out);
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

bool StepShown(HWND dialog)
{
    return GetWindowTextLengthW(GetDlgItem(dialog, 1002)) > 0 && IsWindowVisible(GetDlgItem(dialog, 1001));
}

bool CloseEnabled(HWND dialog)
{
    return IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) && IsWindowVisible(GetDlgItem(dialog, 1003));
}

// Takes the picture of the state asked for; the result code.
int Picture(HWND dialog, const wchar_t* state, const wchar_t* out)
{
    if (wcscmp(state, L"ready") != 0) {
        SendMessageW(GetDlgItem(dialog, 1), BM_CLICK, 0, 0);
        bool reached = wcscmp(state, L"running") == 0 ? WaitFor(dialog, 60000, StepShown)
                                                      : WaitFor(dialog, 120000, CloseEnabled);
        if (!reached)
            return 92;
    }
    // Time for the window to be painted (and the marquee to move into view).
    Sleep(700);
    int result = SaveWindowPicture(dialog, out) ? 0 : 93;
    if (!WaitFor(dialog, 120000, [](HWND d) { return IsWindowEnabled(GetDlgItem(d, IDCANCEL)) != FALSE; }))
        return 94;
    SendMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4)
        return 100;
    HANDLE held = INVALID_HANDLE_VALUE;
    if (argc >= 5 && wcscmp(argv[4], L"-") != 0) {
        held = CreateFileW(argv[4], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE)
            return 95;
    }
    PROCESS_INFORMATION info;
    if (!StartDialogProgram(argv[1], argc, argv, 5, info))
        return 90;
    HWND dialog = WaitForShownDialog(info.dwProcessId, 400);
    int result = dialog != nullptr ? Picture(dialog, argv[3], argv[2]) : 91;
    if (WaitForSingleObject(info.hProcess, 20000) != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    wprintf(L"%ls: %d\n", argv[3], result);
    return result;
}
