// Passive uninstaller: asks the Windows Installer to remove the product family's MSI
// packages listed in a scope's uninstall list, one hidden MsiExec child at a time.
#include "PassiveUninstaller.h"
#include "InstallerCodes.h"
#include "../Catalogue.h"
#include "../ground/ListScan.h"
#include "../ground/ListedKeys.h"
#include "../ground/Scope.h"
#include "../RunSteps.h"

#include "../../change/PreviewRecord.h"
#include "../../change/ProcessChanges.h"
#include "../../change/RunOutcome.h"
#include "../../common/Registry.h"
#include "../../log/log.h"

#include <msi.h>

const DWORD UninstallerWaitMs = 180000;

namespace {

const wchar_t MsiExecPath[] = L"%SystemRoot%\\System32\\MsiExec.exe";

UninstallerPart* Part = nullptr;

bool HasName(const NameList& list, const wchar_t* name)
{
    for (DWORD i = 0; i < list.count; i++) {
        if (CompareStringOrdinal(list.names[i], -1, name, -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

bool ComposeScopeName(PathBuffer& out, const wchar_t* label, const wchar_t* sid)
{
    return FormatText(out, L"%s,%s", label, (sid != nullptr && sid[0] != L'\0') ? sid : L"-");
}

void NoteUnfinishedScope(const wchar_t* label, const wchar_t* sid)
{
    PathBuffer scope;
    if (!ComposeScopeName(scope, label, sid) || !AddName(Part->unfinishedScopes, scope))
        Part->unfinishedScopeLost = true;
}

// True when the Windows Installer keeps a record of the product code name (validated before)
// whose product name is no catalogue name; out then holds that name (empty when it is too
// long to be read whole). The record is looked for per machine, and per user for
// the running user (whose products MsiExec would act on) and for the scope's user (sid, null
// for the machine scope). Any user can write an uninstall entry named by another maker's
// product code: such an entry must not remove that product.
bool InstallerNamesAnotherProduct(const wchar_t* name, const wchar_t* sid, PathBuffer& out)
{
    // The Installer keeps its codes in capitals; MsiExec takes a code in either case, so a
    // code written in small letters is looked up as the one it names.
    wchar_t productCode[39];
    for (size_t i = 0; i < ARRAYSIZE(productCode); i++)
        productCode[i] = (name[i] >= L'a' && name[i] <= L'f') ? static_cast<wchar_t>(name[i] - L'a' + L'A') : name[i];
    const wchar_t* scopeSid = (sid != nullptr && sid[0] != L'\0') ? sid : nullptr;
    // The scope's user's records come last, and only for a user scope.
    const struct {
        MSIINSTALLCONTEXT context;
        const wchar_t* userSid;
    } records[] = {
        {MSIINSTALLCONTEXT_MACHINE, nullptr},       {MSIINSTALLCONTEXT_USERMANAGED, nullptr},
        {MSIINSTALLCONTEXT_USERUNMANAGED, nullptr}, {MSIINSTALLCONTEXT_USERMANAGED, scopeSid},
        {MSIINSTALLCONTEXT_USERUNMANAGED, scopeSid},
    };
    const size_t recordCount = scopeSid != nullptr ? ARRAYSIZE(records) : 3;
    for (size_t i = 0; i < recordCount; i++) {
        const auto& record = records[i];
        PathBuffer productName;
        DWORD nameCount = MAX_PATH;
        UINT read = MsiGetProductInfoExW(productCode, record.userSid, record.context, INSTALLPROPERTY_PRODUCTNAME,
                                         productName, &nameCount);
        // A name too long for any catalogue name is another product's. A context that keeps no
        // name tells nothing either way: for a per-user product Wine answers the machine's
        // context with an empty name. The other contexts decide.
        if (read == ERROR_MORE_DATA) {
            out[0] = L'\0';
            return true;
        }
        if (read == ERROR_SUCCESS && productName[0] != L'\0' && CatalogueDisplayName(productName) == nullptr) {
            if (!TextCopy(out, productName))
                out[0] = L'\0';
            return true;
        }
    }
    return false;
}

// The command line for one product code: MsiExec's own path expanded, then the code put in
// as it is, never expanded. ERROR_SUCCESS, or the error that stopped it. A command line that
// does not fit its buffer is never run: cut, it could lose its closing quote and "/quiet" and
// show the installer's UI in an unattended run.
DWORD ComposeUninstallCommand(const wchar_t* productCode, PathBuffer& commandLine)
{
    PathBuffer msiExec;
    if (!ExpandText(msiExec, MsiExecPath))
        return ERROR_INSUFFICIENT_BUFFER;
    if (!FormatText(commandLine, L"\"%s\" /x \"%s\" /quiet", msiExec, productCode))
        return ERROR_FILENAME_EXCED_RANGE;
    return ERROR_SUCCESS;
}

// How a started uninstaller ended, as far as this run can tell.
enum class Ending {
    Finished,  // it ended with its work done or failed: the Installer is through with it
    Unfinished,  // still running when the wait ended (left running), or the wait failed
    Busy,      // it ended with 1618: another installation was in progress
};

// Waits for a started uninstaller and closes its handles. A child that outlives the wait
// is left running; the sweep goes on without it.
Ending AwaitUninstaller(const PROCESS_INFORMATION& child, DWORD waitMs)
{
    LogLine(L"Waiting for process [%d] to complete", static_cast<int>(child.dwProcessId));
    Ending ending = Ending::Unfinished;
    DWORD waited = WaitForSingleObject(child.hProcess, waitMs);
    if (waited == WAIT_OBJECT_0) {
        LogLine(L"Process completed");
        ending = Ending::Finished;
        DWORD exitCode = 0;
        if (GetExitCodeProcess(child.hProcess, &exitCode)) {
            if (RunOptionsNow().reportExitCode)
                LogLine(L"Process exit code [%d]", static_cast<int>(exitCode));
            NoteUninstallerExit(exitCode);
            if (exitCode == ERROR_INSTALL_ALREADY_RUNNING)
                ending = Ending::Busy;
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
    return ending;
}

// Runs MsiExec /x quietly for one product code and waits for it (a preview only logs the
// command line it would run). An uninstaller that did not finish keeps its scope unmarked
// and, with "/ExitCode", its entry in "Not removed".
Change RunUninstaller(const ListScan& scan, const wchar_t* productCode, const wchar_t* displayName)
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
    if (started == Change::Made) {
        ReportRunStep(RunStep::Uninstalling, displayName);
        Ending ending = AwaitUninstaller(child, Part->scanWaitMs);
        ReportRunStep(RunStep::UninstallerEnded);
        if (ending != Ending::Finished) {
            NoteUnfinishedScope(scan.label, scan.sid);
            AddName(Part->unfinishedCodes, productCode);
            NoteUnfinishedUninstaller(ending == Ending::Busy);
        }
    }
    return started;
}

// Takes one matching entry: the uninstaller of a product code is run, unless the Windows
// Installer knows the code as another product's.
Taken UninstallEntry(const ListScan& scan, const wchar_t* name, const wchar_t* displayName)
{
    // Under HKEY_USERS both views show one list: an uninstaller the preview has named
    // already is not named again, as a real run that ran it finds its entry gone.
    // A code whose uninstaller did not finish is not started again when the other view's pass
    // meets its entry: a second MsiExec only waits for the first (or meets the same
    // installation in progress) and would double the run's wait.
    if (PreviewHasUninstalled(scan.list, name, scan.view) || HasName(Part->unfinishedCodes, name))
        return Taken::Kept;
    LogRemovalAttempt(name, displayName);
    if (!IsProductCode(name))
        return Taken::Kept;
    PathBuffer installerName;
    if (InstallerNamesAnotherProduct(name, scan.sid, installerName)) {
        LogLine(L"Not uninstalling %s: the Windows Installer names it [%s]", name, installerName);
        return Taken::Kept;
    }
    switch (RunUninstaller(scan, name, displayName)) {
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

void UninstallProductsPassively(const Scope& scope, REGSAM view, ListReadings* readings, DWORD waitMs)
{
    PathBuffer listPath;
    bool fits = ScopeKey(scope, ProductKeyPaths[0], listPath);
    LogLine(L"Attempting to uninstall Zamo components passively");
    if (!fits)
        return;
    HKEY list;
    if (!RegOpenPlain(scope.root, listPath, KEY_READ | view, list))
        return;
    // Under HKEY_USERS both views show one list: an entry whose uninstaller the preview
    // has passed already is passed over by the matcher, as a real run finds it gone.
    Part->scanWaitMs = waitMs;
    ScanList({list, view, MatchProductKey, UninstallEntry, scope.label, listPath, scope.sid}, readings);
    Part->scanWaitMs = UninstallerWaitMs;
    RegCloseKey(list);
}

void UninstallOwnPackagesPassively(const Scope& user, const InstallerProductList& own, REGSAM view,
                                   ListReadings* readings, DWORD waitMs)
{
    // A user with no products has nothing in the machine's list: it is not read.
    if (own.count == 0)
        return;
    LogLine(L"Attempting to uninstall Zamo components passively");
    HKEY list;
    if (!RegOpenPlain(HKEY_LOCAL_MACHINE, ProductKeyPaths[0], KEY_READ | view, list))
        return;
    // Each product's entry is looked up by its code, not found by reading the whole list. Its
    // uninstaller is the user's scope's: one that does not finish keeps that scope unmarked.
    const ListScan scan = {list, view, MatchProductKey, UninstallEntry, user.label, ProductKeyPaths[0], user.sid};
    Part->scanWaitMs = waitMs;
    for (DWORD i = 0; i < own.count; i++) {
        const wchar_t* displayName = MatchProductKey(scan, own.products[i].code);
        // A child process may have changed any list.
        if (displayName != nullptr && UninstallEntry(scan, own.products[i].code, displayName) == Taken::Changed &&
            readings != nullptr)
            ForgetListReadings(*readings);
    }
    RegCloseKey(list);
}

void LogRemovalAttempt(const wchar_t* name, const wchar_t* displayName)
{
    LogLine(L"Attempting to remove %s [%s]", name, displayName);
}

bool ScopeHasUnfinishedUninstaller(const Scope& scope)
{
    if (Part->unfinishedScopeLost)
        return true;
    PathBuffer name;
    if (!ComposeScopeName(name, scope.label, scope.sid))
        return true;
    return HasName(Part->unfinishedScopes, name);
}

void UseUninstallerPart(UninstallerPart* part)
{
    Part = part;
}
