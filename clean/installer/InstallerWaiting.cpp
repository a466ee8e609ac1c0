// Installer waiting records: the running user's products whose records the user's pass holds
// for the machine's uninstallers, and their purge once those have run.
#include "InstallerWaiting.h"
#include "InstallerCache.h"
#include "InstallerRecords.h"
#include "../ground/ListScan.h"
#include "PassiveUninstaller.h"
#include "../Catalogue.h"
#include "../ground/ListedKeys.h"
#include "ScopeMarker.h"

#include "../../common/RunningUser.h"
#include "../../common/Settings.h"

#include <shlwapi.h>

namespace {

// The machine's uninstall entry of the code, in either view, that names a catalogue product.
bool MachineListsUninstaller(const wchar_t* code)
{
    PathBuffer path;
    if (!RegJoinPath(path, ProductKeyPaths[0], code))
        return false;
    for (REGSAM view : RegViews) {
        HKEY entry;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &entry) != ERROR_SUCCESS)
            continue;
        bool named = KeyCatalogueName(entry, L"DisplayName") != nullptr;
        RegCloseKey(entry);
        if (named)
            return true;
    }
    return false;
}

// What the running user's pass handed over to the machine's pass.
PathBuffer WaitingSid;
InstallerProductList Waiting = {};

// The user's product key of a product that waited, removed as the user's pass would have.
void RemoveWaitingProductKey(const InstallerProduct& product)
{
    const wchar_t* const userLists[2] = {ProductKeyPaths[1], ProductKeyPaths[2]};
    for (const wchar_t* keyPath : userLists) {
        PathBuffer path;
        HKEY list;
        if (!ScopeKeyPath(path, WaitingSid, keyPath) ||
            RegOpenKeyExW(HKEY_USERS, path, 0, KEY_READ | KEY_WOW64_64KEY, &list) != ERROR_SUCCESS)
            continue;
        ListScan scan = {list, KEY_WOW64_64KEY, MatchProductKey, nullptr, L"HKU", path, WaitingSid};
        const wchar_t* displayName = MatchProductKey(scan, product.packed);
        if (displayName != nullptr) {
            LogRemovalAttempt(product.packed, displayName);
            RemoveListedKey(list, product.packed, KEY_WOW64_64KEY, L"HKU", path);
        }
        RegCloseKey(list);
    }
}

} // namespace

void HoldRecordsForUninstallers(const wchar_t* sid, InstallerProductList& products)
{
    // Only the running user's products can be removed by MsiExec for that user, and only
    // while the machine's pass, which runs the uninstallers of its list, is to come (a run of
    // the current user alone has none: its own pass runs them).
    PathBuffer running;
    if (CurrentUserOnly || !ReadRunningUserSidText(running) || StrCmpIW(running, sid) != 0 ||
        ScopeBearsSignature(HKEY_LOCAL_MACHINE, nullptr))
        return;
    FreeInstallerProducts(Waiting);
    if (!TextCopy(WaitingSid, sid))
        return;
    DWORD kept = 0;
    for (DWORD i = 0; i < products.count; i++) {
        InstallerProduct& product = products.products[i];
        bool moved = false;
        if (MachineListsUninstaller(product.code)) {
            void* waiting = Waiting.products;
            if (MakeRoom(waiting, Waiting.count, Waiting.capacity, sizeof(InstallerProduct))) {
                Waiting.products = static_cast<InstallerProduct*>(waiting);
                Waiting.products[Waiting.count++] = product;
                moved = true;
            }
        }
        if (!moved)
            products.products[kept++] = product;
    }
    products.count = kept;
    // A patch goes with the user's records of its products: those that stay in the user's
    // pass keep every patch only when none waits.
    if (Waiting.count > 0) {
        Waiting.patches = products.patches;
        Waiting.patchCount = products.patchCount;
        Waiting.patchCapacity = products.patchCapacity;
        products.patches = nullptr;
        products.patchCount = 0;
        products.patchCapacity = 0;
    }
}

bool ProductRecordWaits(const wchar_t* sid, const wchar_t* packed)
{
    return Waiting.count > 0 && sid != nullptr && StrCmpIW(sid, WaitingSid) == 0 && ListsProduct(Waiting, packed);
}

void PurgeWaitingUserRecords()
{
    if (Waiting.count == 0)
        return;
    for (DWORD i = 0; i < Waiting.count; i++)
        RemoveWaitingProductKey(Waiting.products[i]);
    PurgeUserInstallerRecords(WaitingSid, Waiting);
    // The package and icons the Installer cached were named before its uninstaller ran, which
    // removes their records and may leave a file behind: each file is still checked to be the
    // product's own before it goes.
    RemoveCachedInstallerFiles(Waiting);
    ForgetWaitingRecords();
}

void ForgetWaitingRecords()
{
    FreeInstallerProducts(Waiting);
    WaitingSid[0] = L'\0';
}
