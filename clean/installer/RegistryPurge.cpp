// Registry purge: the registry sweep of one scope, and the deletion of the product
// family's keys, settings keys and add-in keys in one registry view.
#include "RegistryPurge.h"
#include "../Catalogue.h"
#include "../shell/ComRegistration.h"
#include "InstallerWaiting.h"
#include "../ground/ListScan.h"
#include "../ground/ListedKeys.h"
#include "PassiveUninstaller.h"
#include "../ground/Scope.h"

#include "../../change/RegistryChanges.h"
#include "../../common/Registry.h"
#include "../../log/log.h"

#include <shlwapi.h>

namespace {

// Deletes a matching subkey with its tree and logs how that went.
Taken RemoveProductKey(const ListScan& scan, const wchar_t* name, const wchar_t* displayName)
{
    LogRemovalAttempt(name, displayName);
    switch (RemoveListedKey(scan.list, name, scan.view, scan.label, scan.path)) {
    case Change::Made:
        return Taken::Removed;
    case Change::Failed:
    case Change::Previewed:
        break;
    }
    return Taken::Kept;
}

// Step A: every subkey of the key path whose "DisplayName" or "ProductName" is a
// catalogue name is deleted with its tree.
void PurgeProductKeyList(const Scope& scope, const wchar_t* keyPath, REGSAM view, ListReadings* readings)
{
    PathBuffer path;
    if (!ScopeKey(scope, keyPath, path))
        return;
    HKEY key;
    if (!RegOpenPlain(scope.root, path, KEY_READ | view, key))
        return;
    bool userInstallerList = scope.root == HKEY_USERS && (StrCmpIW(keyPath, ProductKeyPaths[1]) == 0 ||
                                                    StrCmpIW(keyPath, ProductKeyPaths[2]) == 0);
    ScanList({key, view, userInstallerList ? MatchUserProductKey : MatchProductKey, RemoveProductKey, scope.label,
              path, scope.sid},
             readings);
    RegCloseKey(key);
}

// Step B: the maker's and the product's keys under the scope's "Software" key. Only a
// deletion is logged, so a key is reported by the one call that removed it.
void PurgeSettingsKeys(const Scope& scope, REGSAM view)
{
    if (!scope.softwareFits)
        return;
    const wchar_t* path = scope.software;
    HKEY software;
    if (!RegOpenAsItself(scope.root, path, KEY_READ | view, software))
        return;
    const wchar_t* const settingsKeys[2] = {MakerWord, ProductWord};
    for (const wchar_t* name : settingsKeys) {
        if (DeleteRegistryTree(software, name, view, {scope.label, path, name}) == Change::Made)
            LogLine(L"Successfully removed from %s\\%s\\%s", scope.label, path, name);
    }
    RegCloseKey(software);
}

// Step C: the add-in keys, silently, in the view of the call: under
// HKEY_LOCAL_MACHINE the 64-bit and the 32-bit add-in are registered apart.
void PurgeAddInKeys(const Scope& scope, REGSAM view)
{
    for (const wchar_t* addInPath : AddInKeyPaths) {
        PathBuffer path;
        if (ScopeKey(scope, addInPath, path))
            DeleteRegistryTree(scope.root, path, view, {scope.label, path, nullptr});
    }
}

} // namespace

void SweepScopeRegistry(const Scope& scope, void (*betweenPasses)(const Scope& scope, ListReadings& readings),
                        ListReadings* kept)
{
    ListReadings own = {};
    ListReadings& readings = kept != nullptr ? *kept : own;
    // Every uninstaller of both views runs before the first key is deleted, so
    // MsiExec still finds the records of the products it removes.
    for (DWORD v = 0; v < scope.purgeViews; v++)
        UninstallProductsPassively(scope, RegViews[v], &readings);
    if (betweenPasses != nullptr)
        betweenPasses(scope, readings);
    // The eight purge calls: steps A, B and C for each list in each view.
    for (DWORD v = 0; v < scope.purgeViews; v++) {
        for (const wchar_t* keyPath : ProductKeyPaths) {
            PurgeProductKeyList(scope, keyPath, RegViews[v], &readings);
            PurgeSettingsKeys(scope, RegViews[v]);
            PurgeAddInKeys(scope, RegViews[v]);
        }
    }
    PurgeComRegistration(scope);
    ForgetListReadings(readings);
}

const wchar_t* MatchUserProductKey(const ListScan& scan, const wchar_t* name)
{
    return ProductRecordWaits(scan.sid, name) ? nullptr : MatchProductKey(scan, name);
}

void PurgeProductKeys(const Scope& scope, const wchar_t* keyPath, REGSAM view)
{
    PurgeProductKeyList(scope, keyPath, view, nullptr);
}
