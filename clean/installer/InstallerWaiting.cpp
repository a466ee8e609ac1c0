// Installer waiting records: the running user's products whose records the user's pass holds
// for the machine's uninstallers, and their purge once those have run.
#include "InstallerWaiting.h"
#include "InstallerCache.h"
#include "InstallerRecords.h"
#include "../ground/ListScan.h"
#include "PassiveUninstaller.h"
#include "../Catalogue.h"
#include "../ground/ListedKeys.h"
#include "../ground/Scope.h"
#include "ScopeMarker.h"
#include "../RunSteps.h"

#include "../../common/Registry.h"
#include "../../common/RunningUser.h"

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
        if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, path, KEY_READ | view, entry))
            continue;
        bool named = KeyCatalogueName(entry, L"DisplayName") != nullptr;
        RegCloseKey(entry);
        if (named)
            return true;
    }
    return false;
}

WaitingPart* Part = nullptr;

void ForgetWaitingRecords()
{
    FreeInstallerProducts(Part->products);
    Part->sid[0] = L'\0';
}

// The user's product key of a product that waited, removed as the user's pass would have.
void RemoveWaitingProductKey(const Scope& user, const InstallerProduct& product)
{
    const wchar_t* const userLists[2] = {ProductKeyPaths[1], ProductKeyPaths[2]};
    for (const wchar_t* keyPath : userLists) {
        PathBuffer path;
        HKEY list;
        if (!ScopeKey(user, keyPath, path) || !RegOpenPlain(user.root, path, KEY_READ | KEY_WOW64_64KEY, list))
            continue;
        ListScan scan = {list, KEY_WOW64_64KEY, MatchProductKey, nullptr, user.label, path, user.sid};
        const wchar_t* displayName = MatchProductKey(scan, product.packed);
        if (displayName != nullptr) {
            LogRemovalAttempt(product.packed, displayName);
            RemoveListedKey(list, product.packed, KEY_WOW64_64KEY, L"HKU", path);
        }
        RegCloseKey(list);
    }
}

} // namespace

void HoldRecordsForUninstallers(const Scope& user, InstallerProductList& products)
{
    const wchar_t* sid = user.sid;
    // Only the running user's products can be removed by MsiExec for that user, and only
    // while the machine's pass, which runs the uninstallers of its list, is to come (a run of
    // the current user alone has none: its own pass runs them).
    PathBuffer running;
    if (RunOptionsNow().currentUserOnly || !ReadRunningUserSidText(running) || StrCmpIW(running, sid) != 0 ||
        ScopeBearsSignature(MachineScope()))
        return;
    InstallerProductList& waiting = Part->products;
    FreeInstallerProducts(waiting);
    if (!TextCopy(Part->sid, sid))
        return;
    DWORD kept = 0;
    for (DWORD i = 0; i < products.count; i++) {
        InstallerProduct& product = products.products[i];
        bool moved = false;
        if (MachineListsUninstaller(product.code)) {
            void* grown = waiting.products;
            if (MakeRoom(grown, waiting.count, waiting.capacity, sizeof(InstallerProduct))) {
                waiting.products = static_cast<InstallerProduct*>(grown);
                waiting.products[waiting.count++] = product;
                moved = true;
            }
        }
        if (!moved)
            products.products[kept++] = product;
    }
    products.count = kept;
    // A patch goes with the user's records of its products: those that stay in the user's
    // pass keep every patch only when none waits.
    if (waiting.count > 0) {
        waiting.patches = products.patches;
        waiting.patchCount = products.patchCount;
        waiting.patchCapacity = products.patchCapacity;
        products.patches = nullptr;
        products.patchCount = 0;
        products.patchCapacity = 0;
    }
}

bool ProductRecordWaits(const wchar_t* sid, const wchar_t* packed)
{
    return Part->products.count > 0 && sid != nullptr && StrCmpIW(sid, Part->sid) == 0 &&
           ListsProduct(Part->products, packed);
}

void PurgeWaitingUserRecords()
{
    if (Part->products.count == 0)
        return;
    const Scope user = UserScope(Part->sid);
    for (DWORD i = 0; i < Part->products.count; i++)
        RemoveWaitingProductKey(user, Part->products.products[i]);
    PurgeUserInstallerRecords(user, Part->products);
    // The package and icons the Installer cached were named before its uninstaller ran, which
    // removes their records and may leave a file behind: each file is still checked to be the
    // product's own before it goes.
    RemoveCachedInstallerFiles(Part->products);
    ForgetWaitingRecords();
}

void UseWaitingPart(WaitingPart* part)
{
    Part = part;
}
