// User profile sweep: decides whether a name under HKEY_USERS is a user scope and, if
// it is, removes the product from it: registry, application folder, program folders,
// package cache entries, Startup shortcut, Run entries, shell registrations and shortcuts,
// then marks the scope.
#include "UserProfileSweep.h"
#include "../ground/FolderRemoval.h"
#include "../installer/InstallerProducts.h"
#include "../installer/InstallerRecords.h"
#include "../installer/InstallerWaiting.h"
#include "../installer/PassiveUninstaller.h"
#include "../addin/OutlookRecords.h"
#include "../installer/PackageCache.h"
#include "../ground/ProductTargets.h"
#include "../ground/ProfilePaths.h"
#include "../ground/Scope.h"
#include "../installer/RegistryPurge.h"
#include "../starts/ActiveSetupEntries.h"
#include "../starts/RunEntries.h"
#include "../RunReport.h"
#include "../installer/ScopeMarker.h"
#include "../shell/ShellRegistrations.h"
#include "../starts/Shortcuts.h"
#include "../RunSteps.h"

#include "../../change/FileChanges.h"
#include "../../common/FileKinds.h"
#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"
#include "../../log/log.h"

#include <wchar.h>

namespace {

// A shell folder of the user with a name appended, ready to be removed: false when
// anything did not resolve or fit.
bool ResolveProductPath(const Scope& user, const wchar_t* valueName, const wchar_t* name, PathBuffer& out)
{
    return ResolveUserShellFolder(user, valueName, out) && PathJoinName(out, name) && ExpandsToItself(out);
}

// The user's application folder, then the program folders' product folder, each only where
// its path expands to itself. A run of the current user alone leaves the program folders to
// a machine run: they are the machine's, and a standard user cannot remove them.
void RemoveProductFolders(const Scope& user)
{
    ProductFolderList folders;
    ReadProductFolders(user, folders);
    if (folders.hasApplication && ExpandsToItself(folders.application) &&
        GetFileAttributesW(folders.application) != INVALID_FILE_ATTRIBUTES) {
        LogLine(L"Attempting to remove application folder [%s]", folders.application);
        RemoveFolderTree(folders.application);
    }
    for (DWORD i = 0; i < folders.programCount && !RunOptionsNow().currentUserOnly; i++) {
        if (ExpandsToItself(folders.programs[i]))
            RemoveFolderTree(folders.programs[i]);
    }
}

void RemovePackageCacheEntries(const Scope& user)
{
    PathBuffer cache;
    if (ResolveProductPath(user, L"Local AppData", L"Package Cache", cache))
        RemoveUserPackageCache(cache);
}

void DeleteStartupShortcut(const Scope& user)
{
    PathBuffer shortcut;
    if (!ResolveUserShellFolder(user, L"Startup", shortcut) || !PathJoinName(shortcut, L"Zamo.lnk"))
        return;
    // A link in the shortcut's place is left alone: Wine deletes what it points to.
    DWORD attributes = GetFileAttributesW(shortcut);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLinkAttributes(attributes))
        return;
    Change change = DeleteShortcut(shortcut);
    if (change == Change::Made)
        LogLine(L"Deleted startup shortcut [%s]", shortcut);
    else if (change == Change::Failed)
        DeleteAtRestartIfAsked(shortcut, shortcut, false);
}

// What the current user's own pass uninstalls from the machine's list, during its registry sweep.
const InstallerProductList* OwnProducts = nullptr;

// Between the user's own uninstallers and the purges: the user's products whose entries the
// machine's list holds, which no machine pass comes to run in a run of the current user alone.
void UninstallOwnPackages(const Scope& user, ListReadings& readings)
{
    for (REGSAM view : RegViews)
        UninstallOwnPackagesPassively(user, *OwnProducts, view, &readings);
}

void SweepScope(const wchar_t* sid, ProfileReads& reads)
{
    const Scope scope = UserScope(sid, &reads);
    if (wcslen(sid) < WellKnownNameLength) {
        LogLine(L"Skipping well-known SID [%s]", sid);
        NoteScope(scope, ScopeOutcome::SkippedWellKnown);
        return;
    }

    // A hive of per-user class registrations has its own "*" subkey.
    PathBuffer probe;
    if (!ScopeKey(scope, L"*", probe))
        return;
    HKEY classes;
    if (RegOpenAsItself(scope.root, probe, KEY_READ | KEY_WOW64_64KEY, classes)) {
        LogLine(L"Skipping class branch [%s]", sid);
        NoteScope(scope, ScopeOutcome::SkippedClassHive);
        RegCloseKey(classes);
        return;
    }

    // The check comes before the registry sweep, which deletes an earlier marker with
    // the maker's key; the mark comes after the last removal, whatever it achieved.
    if (!ScopeNeedsCleaning(scope))
        return;
    // The products are read before the sweep deletes the user's product keys that name them;
    // nothing changes in between, so the sweep scans the uninstall list with their reading.
    InstallerProductList products = {};
    ListReadings readings = {};
    FindInstallerProducts(scope, products, &readings);
    HoldRecordsForUninstallers(scope, products);
    OwnProducts = &products;
    SweepScopeRegistry(scope, RunOptionsNow().currentUserOnly ? UninstallOwnPackages : nullptr, &readings);
    OwnProducts = nullptr;
    PurgeUserInstallerRecords(scope, products);
    FreeInstallerProducts(products);
    PurgeOutlookRecords(scope);
    RemoveProductFolders(scope);
    RemovePackageCacheEntries(scope);
    DeleteStartupShortcut(scope);
    RemoveRunEntries(scope);
    RemoveUserActiveSetupRecords(scope.sid);
    RemoveShellRegistrations(scope);
    DeleteUserShortcuts(scope);
    MarkScopeCleaned(scope);
}

} // namespace

void SweepUserScope(const wchar_t* sid)
{
    // The reads are the scope's: they end with its sweep.
    ProfileReads reads;
    reads.count = 0;
    reads.unresolvedCount = 0;
    SweepScope(sid, reads);
}
