// Installer patches: the machine's registrations of the patches that the family's products
// list (Classes\Installer\Patches, UserData\<SID>\Patches) and their cached patch files,
// removed only when no other product lists the patch.
#include "InstallerPatches.h"
#include "InstallerCache.h"
#include "InstallerCodes.h"
#include "InstallerProducts.h"
#include "InstallerDataPurge.h"
#include "../Catalogue.h"
#include "../ground/ListedKeys.h"

#include "../../common/Registry.h"

#include <msi.h>
#include <msiquery.h>
#include <shlwapi.h>

namespace {

const wchar_t* const MachineProducts = ProductKeyPaths[2];
const wchar_t MachinePatches[] = L"Software\\Classes\\Installer\\Patches";
const REGSAM ReadAccess = KEY_READ | KEY_WOW64_64KEY;

// True when the product key at path\name has the patch in its "Patches" subkey, as a value
// (the product keys) or as a subkey (UserData).
bool ProductListsPatch(HKEY list, const wchar_t* name, REGSAM view, const wchar_t* patch)
{
    PathBuffer path;
    HKEY patches;
    if (!RegJoinPath(path, name, L"Patches") || !RegOpenAsItself(list, path, KEY_READ | view, patches))
        return false;
    bool listed = RegQueryValueExW(patches, patch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    HKEY sub;
    if (!listed && RegOpenAsItself(patches, patch, KEY_READ | view, sub)) {
        listed = true;
        RegCloseKey(sub);
    }
    RegCloseKey(patches);
    return listed;
}

// A search of a product list for a product other than the given ones that lists a patch.
struct PatchSearch {
    const InstallerProductList& products;
    const wchar_t* patch;
    HKEY list;
    REGSAM view;
    bool listed;
};

bool OtherProductListsIt(const wchar_t* name, void* context)
{
    PatchSearch& search = *static_cast<PatchSearch*>(context);
    search.listed = !ListsProduct(search.products, name) && ProductListsPatch(search.list, name, search.view, search.patch);
    return !search.listed;
}

// Whether a product of a list other than the given products lists the patch.
bool OtherProductListsPatch(HKEY root, const wchar_t* path, REGSAM view, const wchar_t* patch,
                            const InstallerProductList& products)
{
    HKEY list;
    if (!RegOpenAsItself(root, path, KEY_READ | view, list))
        return false;
    PatchSearch search = {products, patch, list, view, false};
    RegEnumSubkeys(list, OtherProductListsIt, &search);
    RegCloseKey(list);
    return search.listed;
}

// The same below each SID of a key: path\<SID>\below of the machine (64-bit view).
struct SidPatchSearch {
    const wchar_t* path;
    const wchar_t* below;
    const wchar_t* patch;
    const InstallerProductList& products;
    bool listed;
};

bool SidListsIt(const wchar_t* sid, void* context)
{
    SidPatchSearch& search = *static_cast<SidPatchSearch*>(context);
    PathBuffer list;
    search.listed = FormatText(list, L"%s\\%s\\%s", search.path, sid, search.below) &&
                    OtherProductListsPatch(HKEY_LOCAL_MACHINE, list, KEY_WOW64_64KEY, search.patch, search.products);
    return !search.listed;
}

// Whether, for any SID under the key at path (64-bit view), a product of its list below
// (path\<SID>\below) other than the given products lists the patch.
bool AnySidListsPatch(const wchar_t* path, const wchar_t* below, const wchar_t* patch,
                      const InstallerProductList& products)
{
    HKEY top;
    if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, path, ReadAccess, top))
        return false;
    SidPatchSearch search = {path, below, patch, products, false};
    RegEnumSubkeys(top, SidListsIt, &search);
    RegCloseKey(top);
    return search.listed;
}

bool PatchIsShared(const wchar_t* patch, const InstallerProductList& products)
{
    for (REGSAM view : RegViews) {
        if (OtherProductListsPatch(HKEY_LOCAL_MACHINE, MachineProducts, view, patch, products))
            return true;
    }
    return AnySidListsPatch(InstallerUserData, L"Products", patch, products) ||
           AnySidListsPatch(InstallerManaged, L"Installer\\Products", patch, products);
}

// A cached patch file: directly in the Installer's folder, no link, and its summary's
// revision number (where a patch keeps its code) starting with the patch's code.
bool IsCachedPatch(const wchar_t* path, const wchar_t* patch)
{
    wchar_t code[39];
    if (!IsCachedFileName(path) || !UnpackProductCode(patch, code))
        return false;
    MSIHANDLE summary;
    if (MsiGetSummaryInformationW(0, path, 0, &summary) != ERROR_SUCCESS)
        return false;
    PathBuffer revision;
    DWORD count = MAX_PATH;
    UINT type = 0;
    bool matches = MsiSummaryInfoGetPropertyW(summary, PIDSI_REVNUMBER, &type, nullptr, nullptr, revision, &count) ==
                       ERROR_SUCCESS &&
                   type == VT_LPSTR && StrCmpNIW(revision, code, 38) == 0;
    MsiCloseHandle(summary);
    return matches;
}

void RemoveCachedPatch(const wchar_t* path, const InstallerPatch& patch)
{
    if (!IsCachedPatch(path, patch.packed))
        return;
    RemoveCachedInstallerPackage(path, patch.productName);
}

// UserData\<SID>\Patches\<patch> of every SID, with the cached file each names.
void PurgeUserDataPatch(const InstallerPatch& patch)
{
    HKEY userData;
    if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, InstallerUserData, ReadAccess, userData))
        return;
    NameList sids = {};
    RegReadSubkeyNames(userData, sids);
    RegCloseKey(userData);
    for (DWORD i = 0; i < sids.count; i++) {
        PathBuffer list;
        PathBuffer record;
        if (!FormatText(list, L"%s\\%s\\Patches", InstallerUserData, sids.names[i]) ||
            !RegJoinPath(record, list, patch.packed))
            continue;
        // The cached file's name is read before its record goes.
        PathBuffer cached;
        HKEY key;
        cached[0] = L'\0';
        if (RegOpenAsItself(HKEY_LOCAL_MACHINE, record, ReadAccess, key)) {
            if (!RegReadText(key, L"LocalPackage", cached, false))
                cached[0] = L'\0';
            RegCloseKey(key);
        }
        RemoveKeyOfList(HKEY_LOCAL_MACHINE, list, patch.packed, KEY_WOW64_64KEY);
        if (cached[0] != L'\0')
            RemoveCachedPatch(cached, patch);
    }
    FreeNames(sids);
}

} // namespace

void PurgeMachinePatches(const InstallerProductList& products)
{
    for (DWORD i = 0; i < products.patchCount; i++) {
        const InstallerPatch& patch = products.patches[i];
        if (PatchIsShared(patch.packed, products))
            continue;
        for (REGSAM view : RegViews) {
            if (RegViewShowsOwnKey(HKEY_LOCAL_MACHINE, MachinePatches, view))
                RemoveKeyOfList(HKEY_LOCAL_MACHINE, MachinePatches, patch.packed, view);
        }
        PurgeUserDataPatch(patch);
    }
}
