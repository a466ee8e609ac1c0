// One clean run, start to end. This file fixes the order of the removal steps:
//   1. stop the product's processes, so nothing holds files or keys open, and, unless
//      the machine scope bears the signature, its services and scheduled tasks;
//   2. sweep every user scope under HKEY_USERS, then, with "/AllProfiles", every
//      profile whose hive was not loaded;
//   3. sweep the machine scope, unless it bears the signature: uninstall its
//      products, purge the Installer's data, then purge its registry keys, then
//      Click-to-Run's add-in keys, the machine's package cache, Run entries and
//      common shortcuts;
//   4. log what stayed and the exit code ("/ExitCode"), "Finishing", and report
//      completion to the dialog.
// The whole run holds a machine-wide lock: two runs at once would race each other's
// uninstallers and deletions.
#include "clean.h"
#include "steps.h"

#include "../app/app.h"  // ReportCompletion
#include "../common/Changes.h"
#include "../common/MachineMutex.h"
#include "../common/Settings.h"
#include "../log/log.h"

namespace {

// The products are read first: the UserData purge deletes the records that name them. The
// running user's records that waited for the uninstallers go once those have run; the
// folder counts last, after the icon folders they may name.
void PurgeInstallerRecords()
{
    InstallerProductList products = {};
    FindInstallerProducts(nullptr, products);
    ForEachSubkey(HKEY_LOCAL_MACHINE, InstallerUserData, PurgeInstallerData);
    PurgeWaitingUserRecords();
    PurgeMachineInstallerRecords(products);
    RemoveCachedInstallerFiles(products);
    PurgeInstallerFolderCounts(products);
    FreeInstallerProducts(products);
}

// Takes the lock, waiting with one line while another run holds it. A lock whose holder
// ended without giving it back comes as abandoned, and is then this run's. Returns the
// handle to give back, or null when there is no lock to take.
HANDLE TakeRunLock()
{
    HANDLE lock = OpenMachineMutex(L"ZamoClean.CleanRun");
    if (lock == nullptr)
        return nullptr;
    DWORD waited = WaitForSingleObject(lock, 0);
    if (waited == WAIT_TIMEOUT) {
        LogLine(L"Waiting for another clean-up run to finish");
        waited = WaitForSingleObject(lock, INFINITE);
    }
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(lock);
        return nullptr;
    }
    return lock;
}

void GiveBackRunLock(HANDLE lock)
{
    if (lock == nullptr)
        return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}

} // namespace

DWORD WINAPI CleanRun(void*)
{
    HANDLE lock = TakeRunLock();
    ClearPreviewRecord();
    ClearTriedItems();
    ForgetWaitingRecords();
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
    // MsiExec works from the Installer's own records under UserData\S-1-5-18: the
    // per-machine products are uninstalled before those records are purged, and the
    // records before the machine's product keys.
    if (ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr)) {
        SweepScopeRegistry(HKEY_LOCAL_MACHINE, nullptr, PurgeInstallerRecords);
        PurgeClickToRunAddIns();
        RemoveMachinePackageCache();
        RemoveMachineRunEntries();
        DeleteCommonShortcuts();
        MarkScopeCleaned(HKEY_LOCAL_MACHINE, nullptr);
    }
    int exitCode = LogRunOutcome();
    LogLine(L"Finishing");
    GiveBackRunLock(lock);
    ReportCompletion(exitCode);
    return 0;
}
