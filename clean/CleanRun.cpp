// One clean run, start to end. This file fixes the order of the removal steps:
//   1. stop the product's processes, so nothing holds files or keys open;
//   2. sweep every user scope under HKEY_USERS;
//   3. sweep the machine scope, unless it bears the signature: uninstall its
//      products, purge the Installer's data, then purge its registry keys;
//   4. log "Finishing" and report completion to the dialog.
#include "clean.h"

#include "../app/app.h"
#include "../log/log.h"
#include "steps.h"

namespace {

const wchar_t InstallerUserData[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

void SweepUserScopes()
{
    HKEY users;
    if (RegOpenKeyExW(HKEY_USERS, nullptr, 0, KEY_READ | KEY_WOW64_64KEY, &users) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(users, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(users);
}

// The Installer's per-user data of every SID under UserData.
void PurgeInstallerData()
{
    HKEY userData;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InstallerUserData, 0, KEY_READ | KEY_WOW64_64KEY, &userData) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; index++) {
        PathBuffer sid;
        DWORD sidCount = MAX_PATH;
        if (RegEnumKeyExW(userData, index, sid, &sidCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        PurgeInstallerComponents(sid);
        PurgeInstallerProducts(sid);
    }
    RegCloseKey(userData);
}

// MsiExec works from the Installer's own records under UserData\S-1-5-18: the
// per-machine products are uninstalled before those records are purged, and the
// records before the machine's product keys.
void SweepMachineScope()
{
    UninstallScopeProducts(HKEY_LOCAL_MACHINE, nullptr);
    PurgeInstallerData();
    PurgeScopeRegistry(HKEY_LOCAL_MACHINE, nullptr);
}

} // namespace

DWORD WINAPI CleanRun(void*)
{
    StopProductProcesses();
    SweepUserScopes();
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
