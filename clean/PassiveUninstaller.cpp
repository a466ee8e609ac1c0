// Passive uninstaller: asks the Windows Installer to remove the product family's MSI
// packages listed in a scope's uninstall list, one hidden MsiExec child at a time.
#include "steps.h"

#include "../common/Changes.h"
#include "../common/Settings.h"
#include "../log/log.h"

namespace {

const wchar_t MsiExecPath[] = L"%SystemRoot%\\System32\\MsiExec.exe";
const DWORD UninstallerWaitMs = 180000;

// The command line for one product code, composed and expanded; ERROR_SUCCESS, or the
// error that stopped it. A command line that does not fit its buffer is never run: cut, it
// could lose its closing quote and "/quiet" and show the installer's UI in an unattended run.
DWORD ComposeUninstallCommand(const wchar_t* productCode, PathBuffer& commandLine)
{
    PathBuffer composed;
    if (!FormatText(composed, L"\"%s\" /x \"%s\" /quiet", MsiExecPath, productCode))
        return ERROR_FILENAME_EXCED_RANGE;
    if (!ExpandText(commandLine, composed))
        return ERROR_INSUFFICIENT_BUFFER;
    return ERROR_SUCCESS;
}

// Waits for a started uninstaller and closes its handles. A child that outlives the wait
// is left running; the sweep goes on without it.
void AwaitUninstaller(const PROCESS_INFORMATION& child)
{
    LogLine(L"Waiting for process [%d] to complete", static_cast<int>(child.dwProcessId));
    DWORD waited = WaitForSingleObject(child.hProcess, UninstallerWaitMs);
    if (waited == WAIT_OBJECT_0) {
        LogLine(L"Process completed");
        DWORD exitCode = 0;
        if (KeepsTriedItems() && GetExitCodeProcess(child.hProcess, &exitCode)) {
            if (ReportExitCode)
                LogLine(L"Process exit code [%d]", static_cast<int>(exitCode));
            NoteUninstallerExit(exitCode);
        }
    }
    else if (waited == WAIT_TIMEOUT) {
        LogLine(L"Process timed out");
        NoteUninstallerTimedOut();
    }
    else
        LogLine(L"Process failed");
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
}

// Runs MsiExec /x quietly for one product code and waits for it (a preview only logs the
// command line it would run).
Change RunUninstaller(const wchar_t* productCode, const wchar_t* displayName)
{
    PathBuffer commandLine;
    DWORD error = ComposeUninstallCommand(productCode, commandLine);
    Change started = Change::Failed;
    PROCESS_INFORMATION child;
    if (error == ERROR_SUCCESS) {
        LogChange(L"Executing [%s]", commandLine);
        started = StartUninstaller(commandLine, productCode, displayName, child);
        if (started == Change::Failed)
            error = GetLastError();
    }
    if (started == Change::Failed) {
        LogLine(L"Failed to execute [%d]", static_cast<int>(error));
        return Change::Failed;
    }
    if (started == Change::Made)
        AwaitUninstaller(child);
    return started;
}

// Takes one matching entry: a product code's uninstaller is run.
Taken UninstallEntry(const ListScan& scan, const wchar_t* name, const wchar_t* displayName)
{
    // Under HKEY_USERS both views show one list: an uninstaller the preview has named
    // already is not named again, as a real run that ran it finds its entry gone.
    if (PreviewHasUninstalled(scan.list, name, scan.view))
        return Taken::Kept;
    LogRemovalAttempt(name, displayName);
    if (name[0] != L'{')
        return Taken::Kept;
    switch (RunUninstaller(name, displayName)) {
    case Change::Made:
        return Taken::Changed;
    case Change::Previewed:
        // The entry itself stays to be named by the purge, which deletes it in a real run
        // where the uninstaller fails.
        NotePreviewUninstall(scan.list, name, scan.view);
        break;
    case Change::Failed:
        break;
    }
    return Taken::Kept;
}

} // namespace

void UninstallProductsPassively(HKEY root, const wchar_t* sid, REGSAM view, ListReadings* readings)
{
    PathBuffer listPath;
    bool fits = ScopeKeyPath(listPath, sid, ProductKeyPaths[0]);
    LogLine(L"Attempting to uninstall Zamo components passively");
    if (!fits)
        return;
    HKEY list;
    if (RegOpenKeyExW(root, listPath, 0, KEY_READ | view, &list) != ERROR_SUCCESS)
        return;
    // Under HKEY_USERS both views show one list: an entry whose uninstaller the preview
    // has passed already is passed over by the matcher, as a real run finds it gone.
    ScanList({list, view, MatchProductKey, UninstallEntry, RootLabel(root), listPath, sid}, readings);
    RegCloseKey(list);
}

void LogRemovalAttempt(const wchar_t* name, const wchar_t* displayName)
{
    LogLine(L"Attempting to remove %s [%s]", name, displayName);
}
