// One clean run, start to end. This file fixes the order of the removal steps:
//   1. stop the product's processes, so nothing holds files or keys open, and, unless
//      the machine scope bears the signature, its services and scheduled tasks;
//   2. sweep every user scope under HKEY_USERS, then, with "/AllProfiles", every
//      profile whose hive was not loaded ("/CurrentUser": the running user's scope alone,
//      and neither the machine's services and tasks before it nor the machine scope after);
//   3. sweep the machine scope, unless it bears the signature: uninstall its
//      products, purge the Installer's data, then purge its registry keys, then
//      Click-to-Run's add-in keys, the machine's package cache, Run entries, shell
//      registrations, Active Setup entries, common shortcuts and firewall rules (the users' shell registrations
//      go in their sweeps, before this one: a user's entries that name the machine's
//      registrations are recognised while those are still there);
//   4. register the clean-up at each user's next logon ("/AtNextLogon") or withdraw it;
//   5. log what stayed ("/ExitCode"), write the report ("/Report:"), which holds the
//      exit code, then log the exit code ("/ExitCode") and "Finishing", and report
//      completion to whoever started the run.
// Whoever watches the run (the dialog) is told each step as the run enters it.
// The whole run holds a machine-wide lock: two runs at once would race each other's
// uninstallers and deletions. A run that waits ten minutes for it ends without a step.
#include "clean.h"
#include "Run.h"
#include "RunReport.h"
#include "LogonOutcome.h"
#include "RunSteps.h"
#include "ground/ListScan.h"
#include "ground/ProfilePaths.h"
#include "ground/Scope.h"
#include "shell/ShellRegistrations.h"
#include "starts/FirewallRules.h"
#include "starts/ProcessStopper.h"
#include "starts/ActiveSetupEntries.h"
#include "starts/RunEntries.h"
#include "starts/ScheduledTasks.h"
#include "starts/Services.h"
#include "starts/Shortcuts.h"
#include "addin/ClickToRunAddIns.h"
#include "installer/InstallerCache.h"
#include "installer/InstallerDataPurge.h"
#include "installer/InstallerFolderCounts.h"
#include "installer/InstallerProducts.h"
#include "installer/InstallerRecords.h"
#include "installer/InstallerWaiting.h"
#include "logon/LogonRegistration.h"
#include "installer/PackageCache.h"
#include "installer/PassiveUninstaller.h"
#include "installer/RegistryPurge.h"
#include "installer/ScopeMarker.h"
#include "profiles/UnloadedProfileSweep.h"
#include "profiles/UserProfileSweep.h"

#include "../change/RunOutcome.h"
#include "../common/MachineMutex.h"
#include "../common/Path.h"
#include "../common/RunningUser.h"
#include "../log/log.h"

namespace {

bool PurgeSidInstallerData(const wchar_t* sid, void* readings)
{
    PurgeInstallerData(sid, static_cast<ListReadings*>(readings));
    return true;
}

bool SweepUser(const wchar_t* sid, void*)
{
    // The profile folder is read only for someone watching: a quiet run reads what it did.
    if (RunIsWatched()) {
        PathBuffer folder;
        bool known = ReadProfileFolder(UserScope(sid), folder) && PathIsFull(folder);
        ReportRunStep(RunStep::CleaningUser, sid, known ? folder : nullptr);
    }
    SweepUserScope(sid);
    WithdrawUserLogonRecords(sid);
    return true;
}

// A run of the current user alone sweeps the user's own hive and nothing of the machine's. A
// user whose SID cannot be read (the header line then shows it empty) is not swept, and the run
// does not end as if it had cleaned that user.
void SweepRunningUser()
{
    PathBuffer sid;
    if (ReadRunningUserSidText(sid))
        SweepUser(sid, nullptr);
    else
        NoteRunFellShort();
}

// The products are read first: the UserData purge deletes the records that name them. The
// running user's records that waited for the uninstallers go once those have run; the
// folder counts last, after the icon folders they may name. The readings of the product lists
// made here serve the UserData purge and the sweep's passes: none of what runs in between
// deletes from the lists they read.
void PurgeInstallerRecords(const Scope& machine, ListReadings& readings)
{
    InstallerProductList products = {};
    FindInstallerProducts(machine, products, &readings);
    ForEachSubkey(HKEY_LOCAL_MACHINE, InstallerUserData, PurgeSidInstallerData, &readings);
    PurgeWaitingUserRecords();
    PurgeMachineInstallerRecords(products);
    RemoveCachedInstallerFiles(products);
    PurgeInstallerFolderCounts(products);
    FreeInstallerProducts(products);
}

// How long a run waits for another run to give the lock back. A deployment tool that is told
// 1618 (another installation is in progress) tries again later.
const DWORD RunLockWaitMs = 10 * 60 * 1000;

enum class RunLock {
    Taken,  // this run holds it
    None,   // there is none to take: the run goes on without it
    Busy,   // another run held it for the whole wait
};

// Takes the lock, waiting with one line while another run holds it. A lock whose holder
// ended without giving it back comes as abandoned, and is then this run's.
RunLock TakeRunLock(DWORD waitMs, AdministratorsMutex& lock)
{
    lock = OpenAdministratorsMutex(L"ZamoClean.CleanRun");
    if (lock.mutex == nullptr)
        return RunLock::None;
    DWORD waited = WaitForSingleObject(lock.mutex, 0);
    if (waited == WAIT_TIMEOUT) {
        LogLine(L"Waiting for another clean-up run to finish");
        ReportRunStep(RunStep::WaitingForRun);
        waited = WaitForSingleObject(lock.mutex, waitMs);
    }
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        return RunLock::Taken;
    CloseAdministratorsMutex(lock);
    if (waited != WAIT_TIMEOUT)
        return RunLock::None;
    LogLine(L"Stopped waiting for another clean-up run");
    ReportRunStep(RunStep::StoppedWaiting);
    return RunLock::Busy;
}

void GiveBackRunLock(AdministratorsMutex& lock)
{
    if (lock.mutex != nullptr)
        ReleaseMutex(lock.mutex);
    CloseAdministratorsMutex(lock);
}

// The run under way, from its lock to its last line.
int CarryOutRun(DWORD lockWaitMs)
{
    const RunOptions& options = RunOptionsNow();
    AdministratorsMutex lock;
    if (TakeRunLock(lockWaitMs, lock) == RunLock::Busy) {
        // Another installation is in progress, as far as a deployment tool can tell: it retries.
        WriteRunReport(ERROR_INSTALL_ALREADY_RUNNING);
        int exitCode = LogExitCode(ERROR_INSTALL_ALREADY_RUNNING);
        LogLine(L"Finishing");
        return exitCode;
    }
    ReportRunStep(RunStep::StoppingPrograms);
    StopProductProcesses();
    const Scope machine = MachineScope();
    // Services and tasks go before any folder: a running service holds the product's files,
    // and a task could start the product again. They are the machine scope's and keep its mark.
    if (!options.currentUserOnly && !ScopeBearsSignature(machine)) {
        RemoveProductServices();
        RemoveProductTasks();
    }
    if (options.currentUserOnly)
        SweepRunningUser();
    else
        ForEachSubkey(HKEY_USERS, nullptr, SweepUser, nullptr);
    // After the enumeration above, which would otherwise find the hives loaded here and
    // sweep them a second time.
    if (options.allProfiles) {
        ReportRunStep(RunStep::CleaningUnloadedProfiles);
        SweepUnloadedProfiles();
    }
    // The sweep deletes Software\Quorvex, marker included: so the marker is read
    // before the sweep and written after it.
    // MsiExec works from the Installer's own records under UserData\S-1-5-18: the
    // per-machine products are uninstalled before those records are purged, and the
    // records before the machine's product keys.
    bool machineCleaned = !options.currentUserOnly && ScopeNeedsCleaning(machine);
    if (machineCleaned) {
        ReportRunStep(RunStep::CleaningMachine);
        SweepScopeRegistry(machine, PurgeInstallerRecords);
        PurgeClickToRunAddIns();
        RemoveMachinePackageCache();
        RemoveRunEntries(machine);
        RemoveProductActiveSetupEntries();
        RemoveShellRegistrations(machine);
        DeleteCommonShortcuts();
        RemoveFirewallRules();
        MarkScopeCleaned(machine);
    }
    // After every removal: the registration's copy and entry are no traces of the product, and
    // a withdrawal's removals count for the outcome settled next.
    ChangeLogonRegistration(!machineCleaned);
    int exitCode = SettleRunOutcome();
    WriteRunReport(exitCode);
    exitCode = LogExitCode(exitCode);
    LogLine(L"Finishing");
    GiveBackRunLock(lock);
    return exitCode;
}

} // namespace

int CleanRunWaitingAtMost(DWORD lockWaitMs, const RunOptions& options, const RunListener* listener)
{
    Run run;
    BeginRun(run, options, listener);
    int exitCode = CarryOutRun(lockWaitMs);
    EndRun(run);
    return exitCode;
}

DWORD WINAPI CleanRun(void* parameter)
{
    const auto* start = static_cast<const RunStart*>(parameter);
    Run run;
    BeginRun(run, start->options, start->listener);
    int exitCode = CarryOutRun(RunLockWaitMs);
    // The completion reads the run's record of what it tried: the run ends after it.
    if (start->listener != nullptr && start->listener->completion != nullptr)
        start->listener->completion(exitCode);
    EndRun(run);
    return 0;
}
