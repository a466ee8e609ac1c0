// "Show log": the run's log, opened for the person at the dialog in a viewer of their own.
#include "app.h"

#include "../common/RunningUser.h"
#include "../log/log.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

namespace {

PathBuffer RunLogFile = L"";
bool RunLogOpened = false;

// SYSTEM, the local and network service accounts, or a service's own identity: a viewer
// started from here would run with those rights on the desktop of whoever sees the dialog.
// A token that cannot be read counts as one.
bool RunsAsServiceAccount()
{
    UserSid owner;
    if (!ReadRunningUserSid(owner))
        return true;
    const WELL_KNOWN_SID_TYPE accounts[] = {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid};
    for (WELL_KNOWN_SID_TYPE account : accounts) {
        if (IsWellKnownSid(owner, account))
            return true;
    }
    BYTE service[SECURITY_MAX_SID_SIZE];
    DWORD serviceSize = sizeof(service);
    BOOL member = FALSE;
    if (!CreateWellKnownSid(WinServiceSid, nullptr, service, &serviceSize) ||
        !CheckTokenMembership(nullptr, service, &member))
        return true;
    return member != FALSE;
}

// Only a log named as a text file goes to the program associated with its kind: a "/Log:"
// named "x.cmd" or "x.exe" would be run, not shown.
bool HasTextKind(const wchar_t* path)
{
    const wchar_t* extension = PathFindExtensionW(path);
    return StrCmpIW(extension, L".log") == 0 || StrCmpIW(extension, L".txt") == 0;
}

// Starts file through the shell, which may need COM on this thread for it.
bool Launch(const wchar_t* file, const wchar_t* parameters)
{
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof(run);
    run.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    run.hwnd = MainWindow;
    run.lpFile = file;
    run.lpParameters = parameters;
    run.nShow = SW_SHOWNORMAL;
    bool started = ShellExecuteExW(&run) != FALSE;
    if (SUCCEEDED(com))
        CoUninitialize();
    return started;
}

bool HasAssociation(const wchar_t* path)
{
    wchar_t program[MAX_PATH];
    DWORD count = ARRAYSIZE(program);
    return AssocQueryStringW(ASSOCF_INIT_IGNOREUNKNOWN, ASSOCSTR_EXECUTABLE, PathFindExtensionW(path), L"open",
                             program, &count) == S_OK;
}

} // namespace

void NoteRunLog()
{
    // A path holding a quote could not be handed to Notepad as one argument.
    RunLogOpened = RunLogFilePath(RunLogFile) && wcschr(RunLogFile, L'"') == nullptr;
}

bool CanShowRunLog()
{
    return RunLogOpened && !RunsAsServiceAccount();
}

void ShowRunLog()
{
    if (!CanShowRunLog())
        return;
    if (HasTextKind(RunLogFile) && HasAssociation(RunLogFile) && Launch(RunLogFile, nullptr))
        return;
    // Notepad from the system's own folder, never one found in the current folder.
    PathBuffer notepad;
    PathBuffer quoted;
    if (ExpandText(notepad, L"%SystemRoot%\\System32\\notepad.exe") && FormatText(quoted, L"\"%s\"", RunLogFile))
        Launch(notepad, quoted);
}
