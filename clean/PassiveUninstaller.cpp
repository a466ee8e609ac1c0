// Passive uninstaller: asks the Windows Installer to remove the product family's MSI
// packages listed in a scope's uninstall list, one hidden MsiExec child at a time.
#include "steps.h"

#include "../common/Changes.h"
#include "../common/Registry.h"
#include "../log/log.h"

#include <shlwapi.h>

namespace {

const wchar_t UninstallListPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t MsiExecPath[] = L"%SystemRoot%\\System32\\MsiExec.exe";
const DWORD UninstallerWaitMs = 180000;

bool MatchEitherName(HKEY list, REGSAM access, const wchar_t* name)
{
    return MatchCatalogueName(list, access, name, L"DisplayName") ||
           MatchCatalogueName(list, access, name, L"ProductName");
}

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
    if (waited == WAIT_OBJECT_0)
        LogLine(L"Process completed");
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
    if (started == Change::Made)
        AwaitUninstaller(child);
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
    DWORD index = 0;
    for (;;) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(list, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        // Under HKEY_USERS both views show one list: an entry whose uninstaller the preview
        // has passed already is passed over, as a real run finds it gone.
        if (PreviewHasRemoved(list, name, view)) {
            index++;
            continue;
        }
        if (MatchEitherName(list, access, name) && name[0] == L'{' && RunUninstaller(name)) {
            // An uninstaller removes its own entry; a preview, which runs none, counts it
            // as removed so that no later step reports it again.
            NotePreviewRemoval(list, name, view);
            // An uninstaller that removed its own entry moved the next entry down to this
            // index: it is taken next instead of being passed over.
            if (!SubkeyExists(list, access, name))
                continue;
        }
        index++;
    }
    RegCloseKey(list);
}

bool MatchCatalogueName(HKEY parent, REGSAM access, const wchar_t* subkey, const wchar_t* valueName)
{
    HKEY key;
    if (RegOpenKeyExW(parent, subkey, 0, access, &key) != ERROR_SUCCESS)
        return false;
    bool matched = false;
    PathBuffer text;
    if (ReadRegistryText(key, valueName, text, false)) {
        for (const wchar_t* displayName : ProductDisplayNames) {
            if (StrCmpIW(text, displayName) == 0) {
                LogLine(L"Attempting to remove %s [%s]", subkey, displayName);
                matched = true;
                break;
            }
        }
    }
    RegCloseKey(key);
    return matched;
}
