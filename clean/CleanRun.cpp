// One clean run, start to end. This file fixes the order of the removal steps:
//   1. stop the product's processes, so nothing holds files or keys open, and, unless
//      the machine scope bears the signature, its services and scheduled tasks;
//   2. sweep every user scope under HKEY_USERS, then, with "/AllProfiles", every
//      profile whose hive was not loaded;
//   3. sweep the machine scope, unless it bears the signature: uninstall its
//      products, purge the Installer's data, then purge its registry keys, Run entries
//      and common shortcuts;
//   4. log "Finishing" and report completion to the dialog.
#include "clean.h"

#include "../app/app.h"
#include "../common/Changes.h"
#include "../log/log.h"
#include "steps.h"

namespace {

const wchar_t InstallerUserData[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

// Calls visit with the name of each subkey of root\path (64-bit view), in
// enumeration order; a key that cannot be opened has none.
void ForEachSubkey(HKEY root, const wchar_t* path, void (*visit)(const wchar_t* name))
{
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(key, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        visit(name);
    }
    RegCloseKey(key);
}

// The Installer's per-user data of one SID under UserData.
void PurgeInstallerData(const wchar_t* sid)
{
    PurgeInstallerComponents(sid);
    PurgeInstallerProducts(sid);
}

// MsiExec works from the Installer's own records under UserData\S-1-5-18: the
// per-machine products are uninstalled before those records are purged, and the
// records before the machine's product keys.
void SweepMachineScope()
{
    UninstallScopeProducts(HKEY_LOCAL_MACHINE, nullptr);
    ForEachSubkey(HKEY_LOCAL_MACHINE, InstallerUserData, PurgeInstallerData);
    PurgeScopeRegistry(HKEY_LOCAL_MACHINE, nullptr);
    RemoveMachineRunEntries();
    DeleteCommonShortcuts();
}

} // namespace

DWORD WINAPI CleanRun(void*)
{
    ClearPreviewRecord();
    StopProductProcesses();
    // Services and tasks go before any folder: a running service holds the product's files,
    // and a task could start the product again. They are the machine scope's and keep its mark.
    if (!ScopeBearsSignature(HKEY_LOCAL_MACHINE, nullptr)) {
        RemoveProductServices();
        RemoveProductTasks();
    }
    ForEachSubkey(HKEY_USERS, nullptr, SweepUserScope);
    // After the enumeration above, which would otherwise find the hives loaded here and
    // sweep them a second time.
    if (AllProfiles)
        SweepUnloadedProfiles();
    // The sweep deletes Software\Quorvex, marker included: so the marker is read
    // before the sweep and written after it.
    if (ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr)) {
        SweepMachineScope();
        MarkScopeCleaned(HKEY_LOCAL_MACHINE, nullptr);
    }
    LogLine(L"Finishing");
    ReportCompletion();
    return 0;
}
