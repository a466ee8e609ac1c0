// Passive uninstaller: asks the Windows Installer to remove the product family's MSI
// packages listed in a scope's uninstall list, one hidden MsiExec child at a time.
#include "steps.h"

#include "../app/app.h"
#include "../common/Changes.h"
#include "../common/Registry.h"
#include "../log/log.h"

#include <wchar.h>

namespace {

const wchar_t UninstallListPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
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
        if (ReportExitCode && GetExitCodeProcess(child.hProcess, &exitCode)) {
            LogLine(L"Process exit code [%d]", static_cast<int>(exitCode));
            NoteUninstallerExit(exitCode);
        }
    }
    else if (waited == WAIT_TIMEOUT)
        LogLine(L"Process timed out");
    else
        LogLine(L"Process failed");
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
}

// Runs MsiExec /x quietly for one product code and waits for it (a preview only logs the
// command line it would run). True when a child was started, or would have been.
bool RunUninstaller(const wchar_t* productCode)
{
    PathBuffer commandLine;
    DWORD error = ComposeUninstallCommand(productCode, commandLine);
    Change started = Change::Failed;
    PROCESS_INFORMATION child;
    if (error == ERROR_SUCCESS) {
        LogChange(L"Executing [%s]", commandLine);
        started = StartHiddenProcess(commandLine, child);
        if (started == Change::Failed)
            error = GetLastError();
    }
    if (started == Change::Failed) {
        LogLine(L"Failed to execute [%d]", static_cast<int>(error));
        return false;
    }
    // A child may have changed any list: no reading of one is kept past it.
    if (started == Change::Made) {
        AwaitUninstaller(child);
        ForgetListReadings();
    }
    return true;
}

bool SubkeyExists(HKEY parent, REGSAM access, const wchar_t* name)
{
    HKEY key;
    if (RegOpenKeyExW(parent, name, 0, access, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace

void UninstallProductsPassively(HKEY root, const wchar_t* sid, REGSAM view)
{
    PathBuffer listPath;
    bool fits = ScopeKeyPath(listPath, sid, UninstallListPath);
    LogLine(L"Attempting to uninstall Zamo components passively");
    if (!fits)
        return;
    const REGSAM access = KEY_READ | view;
    HKEY list;
    if (RegOpenKeyExW(root, listPath, 0, access, &list) != ERROR_SUCCESS)
        return;
    // The matches of one reading are taken in index order. After an uninstaller has run
    // the rest of the list is read again, and so is the rest of a reading that was full.
    DWORD from = 0;
    bool again = true;
    while (again) {
        const ListReading& reading = ReadProductKeyList(list, access, from);
        again = reading.cut;
        from = reading.end;
        for (DWORD i = 0; i < reading.matchCount; i++) {
            const ListMatch& match = reading.matches[i];
            // Under HKEY_USERS both views show one list: an entry whose uninstaller the
            // preview has passed already is passed over, as a real run finds it gone.
            if (PreviewHasUninstalled(list, match.name, view))
                continue;
            LogRemovalAttempt(match.name, match.displayName);
            if (match.name[0] != L'{')
                continue;
            PathBuffer name;
            wmemcpy(name, match.name, MAX_PATH);
            DWORD index = match.index;
            if (!RunUninstaller(name))
                continue;
            // A preview, which runs none, notes the uninstaller as named; its entry stays to
            // be named by the purge, which deletes it where the uninstaller fails.
            NotePreviewUninstall(list, name, view);
            // An uninstaller that removed its own entry moved the next entry down to this
            // index: it is taken next instead of being passed over.
            from = SubkeyExists(list, access, name) ? index + 1 : index;
            again = true;
            break;
        }
    }
    RegCloseKey(list);
}

bool MatchCatalogueName(HKEY parent, REGSAM access, const wchar_t* subkey, const wchar_t* valueName)
{
    HKEY key;
    if (RegOpenKeyExW(parent, subkey, 0, access, &key) != ERROR_SUCCESS)
        return false;
    const wchar_t* displayName = KeyCatalogueName(key, valueName);
    if (displayName != nullptr)
        LogRemovalAttempt(subkey, displayName);
    RegCloseKey(key);
    return displayName != nullptr;
}

void LogRemovalAttempt(const wchar_t* name, const wchar_t* displayName)
{
    LogLine(L"Attempting to remove %s [%s]", name, displayName);
}
