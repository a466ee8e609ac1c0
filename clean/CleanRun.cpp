// One clean run, start to end. This file fixes the order of the removal steps:
//   1. stop the product's processes, so nothing holds files or keys open;
//   2. sweep every user scope under HKEY_USERS, then, with "/AllProfiles", every
//      profile whose hive was not loaded;
//   3. sweep the machine scope, unless it bears the signature: uninstall its
//      products, purge the Installer's data, then purge its registry keys;
//   4. log "Finishing" and report completion to the dialog.
#include "clean.h"
#include "steps.h"

#include "../app/app.h"  // ReportCompletion
#include "../common/Changes.h"
#include "../common/Settings.h"
#include "../log/log.h"

namespace {

void PurgeInstallerRecords()
{
    ForEachSubkey(HKEY_LOCAL_MACHINE, InstallerUserData, PurgeInstallerData);
}

} // namespace

DWORD WINAPI CleanRun(void*)
{
    ClearPreviewRecord();
    StopProductProcesses();
    ForEachSubkey(HKEY_USERS, nullptr, SweepUserScope);
    // After the enumeration above, which would otherwise find the hives loaded here and
    // sweep them a second time.
    if (AllProfiles)
        SweepUnloadedProfiles();
    // The sweep deletes Software\Quorvex, marker included: so the marker is read
    // before the sweep and written after it.
    // MsiExec works from the Installer's own records under UserData\S-1-5-18: the
    // per-machine products are uninstalled before those records are purged, and the
    // records before the machine's product keys.
    if (ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr)) {
        SweepScopeRegistry(HKEY_LOCAL_MACHINE, nullptr, PurgeInstallerRecords);
        MarkScopeCleaned(HKEY_LOCAL_MACHINE, nullptr);
    }
    LogLine(L"Finishing");
    ReportCompletion();
    return 0;
}
