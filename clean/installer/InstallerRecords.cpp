// Installer records: the Windows Installer's features and upgrade codes of the family's
// products, in the machine's registry (both views, and the policy's copies under Managed)
// and in a user's hive.
#include "InstallerRecords.h"
#include "InstallerCache.h"
#include "InstallerPatches.h"
#include "InstallerProducts.h"
#include "../ground/ListedKeys.h"
#include "../ground/RegistryValues.h"

#include "../../change/RegistryChanges.h"
#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>

namespace {

const wchar_t MachineFeatures[] = L"Software\\Classes\\Installer\\Features";
const wchar_t MachineClassesUpgradeCodes[] = L"Software\\Classes\\Installer\\UpgradeCodes";
const wchar_t MachineUpgradeCodes[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";
const wchar_t UserInstaller[] = L"Software\\Microsoft\\Installer";

// Which of a list's products a scope's records are removed for: a user's records go on any
// evidence, the machine's only on its own.
bool Applies(const InstallerProduct& product, bool machineOnly)
{
    return product.machine || !machineOnly;
}

bool ListsApplying(const InstallerProductList& products, const wchar_t* packed, bool machineOnly)
{
    for (DWORD i = 0; i < products.count; i++) {
        if (Applies(products.products[i], machineOnly) && StrCmpIW(products.products[i].packed, packed) == 0)
            return true;
    }
    return false;
}

// The key of each product in a list of keys named by packed product codes (features, products).
void RemoveProductNamedKeys(HKEY root, const wchar_t* list, REGSAM view, const InstallerProductList& products,
                            bool machineOnly)
{
    for (DWORD i = 0; i < products.count; i++) {
        if (Applies(products.products[i], machineOnly))
            RemoveKeyOfList(root, list, products.products[i].packed, view);
    }
}

// One upgrade code's values being read: those the products name, and whether any other is there.
struct UpgradeCodeReading {
    const InstallerProductList& products;
    bool machineOnly;
    NameList ours;
    bool othersRemain;
};

bool NoteUpgradeCodeValue(const RegValue& value, void* context)
{
    UpgradeCodeReading& reading = *static_cast<UpgradeCodeReading*>(context);
    if (ListsApplying(reading.products, value.name, reading.machineOnly))
        reading.othersRemain = !AddName(reading.ours, value.name) || reading.othersRemain;
    else
        reading.othersRemain = true;
    return true;
}

// One upgrade code's key: its values named by the products go; the key itself only when
// they were all it held.
void PurgeUpgradeCode(HKEY root, const wchar_t* list, const wchar_t* name, REGSAM view,
                      const InstallerProductList& products, bool machineOnly)
{
    PathBuffer path;
    HKEY key;
    if (!RegJoinPath(path, list, name) ||
        !RegOpenAsItself(root, path, KEY_QUERY_VALUE | KEY_SET_VALUE | view, key))
        return;
    // A value that cannot be read whole is another's as far as this key goes.
    UpgradeCodeReading reading = {products, machineOnly, {}, false};
    if (!RegEnumValues(key, false, NoteUpgradeCodeValue, &reading))
        reading.othersRemain = true;
    NameList& ours = reading.ours;
    bool othersRemain = reading.othersRemain;
    const wchar_t* label = RegRootLabel(root);
    for (DWORD i = 0; i < ours.count; i++)
        RemoveRegistryValue(key, ours.names[i], label, path);
    bool empty = KeyLeftEmpty(key);
    RegCloseKey(key);
    if (ours.count > 0 && !othersRemain && empty)
        RemoveKeyOfList(root, list, name, view);
    FreeNames(ours);
}

void PurgeUpgradeCodes(HKEY root, const wchar_t* list, REGSAM view, const InstallerProductList& products,
                       bool machineOnly)
{
    HKEY key;
    if (!RegOpenAsItself(root, list, KEY_READ | view, key))
        return;
    // The names first: removing a key while enumerating would skip its successor.
    NameList names = {};
    RegReadSubkeyNames(key, names);
    RegCloseKey(key);
    for (DWORD i = 0; i < names.count; i++)
        PurgeUpgradeCode(root, list, names.names[i], view, products, machineOnly);
    FreeNames(names);
}

// A search of a user's product list for a product other than the given ones that lists a patch.
struct PatchSearch {
    const InstallerProductList& products;
    const wchar_t* patch;
    HKEY list;
    bool listed;
};

bool OtherUserProductListsPatch(const wchar_t* name, void* context)
{
    PatchSearch& search = *static_cast<PatchSearch*>(context);
    PathBuffer patches;
    HKEY key;
    if (ListsProduct(search.products, name) || !RegJoinPath(patches, name, L"Patches") ||
        !RegOpenAsItself(search.list, patches, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key))
        return true;
    search.listed = RegQueryValueExW(key, search.patch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return !search.listed;
}

// Whether a product of the user's list other than the given products lists the patch.
bool UserListsPatch(const wchar_t* installer, const wchar_t* patch, const InstallerProductList& products)
{
    PathBuffer path;
    HKEY list;
    if (!RegJoinPath(path, installer, L"Products") ||
        !RegOpenAsItself(HKEY_USERS, path, KEY_READ | KEY_WOW64_64KEY, list))
        return false;
    PatchSearch search = {products, patch, list, false};
    RegEnumSubkeys(list, OtherUserProductListsPatch, &search);
    RegCloseKey(list);
    return search.listed;
}

// The user's patch registrations, below the user's Installer key, of the products' patches that
// no other product of the user lists.
void PurgeUserPatches(const wchar_t* installer, const InstallerProductList& products)
{
    PathBuffer list;
    if (!RegJoinPath(list, installer, L"Patches"))
        return;
    for (DWORD i = 0; i < products.patchCount; i++) {
        if (!UserListsPatch(installer, products.patches[i].packed, products))
            RemoveKeyOfList(HKEY_USERS, list, products.patches[i].packed, KEY_WOW64_64KEY);
    }
}

// The policy's copies of the machine's records for each SID under Managed.
void PurgeManagedRecords(const InstallerProductList& products)
{
    HKEY managed;
    if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, InstallerManaged, KEY_READ | KEY_WOW64_64KEY, managed))
        return;
    NameList sids = {};
    RegReadSubkeyNames(managed, sids);
    RegCloseKey(managed);
    for (DWORD s = 0; s < sids.count; s++) {
        PathBuffer features;
        PathBuffer productsPath;
        PathBuffer upgradeCodes;
        if (!FormatText(features, L"%s\\%s\\Installer\\Features", InstallerManaged, sids.names[s]) ||
            !FormatText(productsPath, L"%s\\%s\\Installer\\Products", InstallerManaged, sids.names[s]) ||
            !FormatText(upgradeCodes, L"%s\\%s\\Installer\\UpgradeCodes", InstallerManaged, sids.names[s]))
            continue;
        RemoveProductNamedKeys(HKEY_LOCAL_MACHINE, features, KEY_WOW64_64KEY, products, true);
        RemoveProductNamedKeys(HKEY_LOCAL_MACHINE, productsPath, KEY_WOW64_64KEY, products, true);
        PurgeUpgradeCodes(HKEY_LOCAL_MACHINE, upgradeCodes, KEY_WOW64_64KEY, products, true);
    }
    FreeNames(sids);
}

} // namespace

void PurgeUserInstallerRecords(const Scope& user, const InstallerProductList& products)
{
    if (products.count == 0)
        return;
    PathBuffer installer;
    if (ScopeKey(user, UserInstaller, installer)) {
        PathBuffer features;
        PathBuffer upgradeCodes;
        if (RegJoinPath(features, installer, L"Features"))
            RemoveProductNamedKeys(user.root, features, KEY_WOW64_64KEY, products, false);
        if (RegJoinPath(upgradeCodes, installer, L"UpgradeCodes"))
            PurgeUpgradeCodes(user.root, upgradeCodes, KEY_WOW64_64KEY, products, false);
        PurgeUserPatches(installer, products);
    }
    RemoveUserInstallerFolders(user, products);
}

void PurgeMachineInstallerRecords(const InstallerProductList& products)
{
    if (products.count == 0)
        return;
    for (REGSAM view : RegViews) {
        if (RegViewShowsOwnKey(HKEY_LOCAL_MACHINE, MachineFeatures, view))
            RemoveProductNamedKeys(HKEY_LOCAL_MACHINE, MachineFeatures, view, products, true);
        if (RegViewShowsOwnKey(HKEY_LOCAL_MACHINE, MachineClassesUpgradeCodes, view))
            PurgeUpgradeCodes(HKEY_LOCAL_MACHINE, MachineClassesUpgradeCodes, view, products, true);
        if (RegViewShowsOwnKey(HKEY_LOCAL_MACHINE, MachineUpgradeCodes, view))
            PurgeUpgradeCodes(HKEY_LOCAL_MACHINE, MachineUpgradeCodes, view, products, true);
    }
    PurgeManagedRecords(products);
    PurgeMachinePatches(products);
}
