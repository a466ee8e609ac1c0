// Installer products: the family's products as the Windows Installer registers them, found
// on the machine's own records or on a user's.
#include "InstallerRecords.h"
#include "InstallerDataPurge.h"
#include "Catalogue.h"
#include "ListScan.h"
#include "RegistryPurge.h"

#include "../common/Registry.h"

#include <shlwapi.h>
#include <wchar.h>

const wchar_t InstallerManaged[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed";

namespace {

// The machine's and a user's product lists of the Installer.
const wchar_t* const MachineProducts = ProductKeyPaths[2];
const wchar_t* const UserProducts = ProductKeyPaths[1];
const REGSAM ReadAccess = KEY_READ | KEY_WOW64_64KEY;

bool AddProduct(InstallerProductList& list, const wchar_t* packed, const wchar_t* name, bool machine)
{
    for (DWORD i = 0; i < list.count; i++) {
        if (StrCmpIW(list.products[i].packed, packed) == 0) {
            list.products[i].machine = list.products[i].machine || machine;
            return true;
        }
    }
    InstallerProduct product = {};
    if (!UnpackProductCode(packed, product.code) || !PackProductCode(product.code, product.packed))
        return false;
    void* products = list.products;
    if (!MakeRoom(products, list.count, list.capacity, sizeof(InstallerProduct)))
        return false;
    list.products = static_cast<InstallerProduct*>(products);
    product.name = name;
    product.machine = machine;
    list.products[list.count++] = product;
    return true;
}

InstallerProduct* FindProduct(InstallerProductList& list, const wchar_t* packed)
{
    for (DWORD i = 0; i < list.count; i++) {
        if (StrCmpIW(list.products[i].packed, packed) == 0)
            return &list.products[i];
    }
    return nullptr;
}

void AddPatch(InstallerProductList& list, const wchar_t* packed, const wchar_t* productName)
{
    if (!IsPackedCode(packed))
        return;
    for (DWORD i = 0; i < list.patchCount; i++) {
        if (StrCmpIW(list.patches[i].packed, packed) == 0)
            return;
    }
    void* patches = list.patches;
    if (!MakeRoom(patches, list.patchCount, list.patchCapacity, sizeof(InstallerPatch)))
        return;
    list.patches = static_cast<InstallerPatch*>(patches);
    InstallerPatch& patch = list.patches[list.patchCount++];
    wmemcpy(patch.packed, packed, 33);
    patch.productName = productName;
}

// The patches a product's key lists as values of its "Patches" subkey (the machine's and a
// user's product keys), or as subkeys of it (UserData).
void AddListedPatches(InstallerProductList& list, HKEY product, const wchar_t* productName)
{
    HKEY patches;
    if (RegOpenKeyExW(product, L"Patches", 0, KEY_READ, &patches) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumValueW(patches, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        AddPatch(list, name, productName);
    }
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(patches, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        AddPatch(list, name, productName);
    }
    RegCloseKey(patches);
}

// Each product key of a list whose "ProductName" is a catalogue name: added, with its patches.
// They are among the matches of the list's reading for the registry sweep (match is the
// sweep's matcher of the list), which readings, when not null, keeps for the sweep's pass:
// only the matches are opened again.
void ReadProductList(HKEY root, const wchar_t* path, const wchar_t* sid, REGSAM view,
                     const wchar_t* (*match)(const ListScan&, const wchar_t*), bool machine, ListReadings* readings,
                     InstallerProductList& out)
{
    HKEY list;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &list) != ERROR_SUCCESS)
        return;
    ListReading own = {};
    const ListReading& reading = ReadListOnce({list, view, match, nullptr, RootLabel(root), path, sid}, readings, own);
    for (DWORD i = 0; i < reading.count; i++) {
        const wchar_t* name = reading.matches[i].name;
        HKEY product;
        if (!IsPackedCode(name) || RegOpenKeyExW(list, name, 0, KEY_READ | view, &product) != ERROR_SUCCESS)
            continue;
        const wchar_t* displayName = KeyCatalogueName(product, L"ProductName");
        if (displayName != nullptr && AddProduct(out, name, displayName, machine))
            AddListedPatches(out, product, displayName);
        RegCloseKey(product);
    }
    FreeListReading(own);
    RegCloseKey(list);
}

// UserData\<SID>\Products of one SID: the records whose InstallProperties "DisplayName" is a
// catalogue name, and, for every product known by now, its patches and cached package. The
// records that match are the matches of the Installer data purge, noted in a reading that
// readings (when not null) keeps for it.
void ReadUserDataSid(HKEY userData, const wchar_t* sid, ListReadings* readings, InstallerProductList& out)
{
    PathBuffer productsPath;
    PathBuffer fullPath;
    HKEY products;
    if (!FormatText(productsPath, L"%s\\Products", sid) || !JoinKeyPath(fullPath, InstallerUserData, productsPath) ||
        RegOpenKeyExW(userData, productsPath, 0, ReadAccess, &products) != ERROR_SUCCESS)
        return;
    const ListScan scan = {products, KEY_WOW64_64KEY, MatchCataloguedRecord, nullptr, L"HKLM", fullPath, sid};
    ListReading* kept = KeepListReading(scan, readings);
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(products, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        // A record not named by a code is no product here, but the purge takes it all the same.
        if (!IsPackedCode(name)) {
            if (kept != nullptr && MatchCataloguedRecord(scan, name) != nullptr)
                NoteListMatch(kept, index, name);
            continue;
        }
        HKEY product;
        if (RegOpenKeyExW(products, name, 0, ReadAccess, &product) != ERROR_SUCCESS)
            continue;
        HKEY properties;
        if (RegOpenKeyExW(product, L"InstallProperties", 0, ReadAccess, &properties) == ERROR_SUCCESS) {
            const wchar_t* displayName = KeyCatalogueName(properties, L"DisplayName");
            if (displayName != nullptr) {
                AddProduct(out, name, displayName, true);
                NoteListMatch(kept, index, name);
            }
            InstallerProduct* known = FindProduct(out, name);
            if (known != nullptr && known->machine) {
                if (known->localPackage[0] == L'\0' &&
                    !ReadRegistryText(properties, L"LocalPackage", known->localPackage, false))
                    known->localPackage[0] = L'\0';
                AddListedPatches(out, product, known->name);
            }
            RegCloseKey(properties);
        }
        RegCloseKey(product);
    }
    RegCloseKey(products);
}

// The UserData records of one SID, or of every SID (sid null).
void ReadUserDataProducts(const wchar_t* sid, ListReadings* readings, InstallerProductList& out)
{
    HKEY userData;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InstallerUserData, 0, ReadAccess, &userData) != ERROR_SUCCESS)
        return;
    if (sid != nullptr)
        ReadUserDataSid(userData, sid, readings, out);
    for (DWORD index = 0; sid == nullptr; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(userData, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        ReadUserDataSid(userData, name, readings, out);
    }
    RegCloseKey(userData);
}

// The machine's product lists under Managed\<SID>\Installer\Products (products assigned by policy).
void ReadManagedProducts(InstallerProductList& out)
{
    HKEY managed;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InstallerManaged, 0, ReadAccess, &managed) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; index++) {
        PathBuffer sid;
        DWORD sidCount = MAX_PATH;
        if (RegEnumKeyExW(managed, index, sid, &sidCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        PathBuffer path;
        if (FormatText(path, L"%s\\%s\\Installer\\Products", InstallerManaged, sid))
            ReadProductList(HKEY_LOCAL_MACHINE, path, nullptr, KEY_WOW64_64KEY, MatchProductKey, true, nullptr, out);
    }
    RegCloseKey(managed);
}

// The uninstall entries under root\path named by a product code whose "DisplayName" is a
// catalogue name, in one view. They are among the matches of the list's reading for the
// registry sweep, which readings keeps for the sweep to come: only those are opened again.
void ReadUninstallEntries(HKEY root, const wchar_t* path, const wchar_t* sid, REGSAM view, ListReadings* readings,
                          InstallerProductList& out)
{
    HKEY list;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &list) != ERROR_SUCCESS)
        return;
    ListReading own = {};
    const ListReading& reading =
        ReadListOnce({list, view, MatchProductKey, nullptr, RootLabel(root), path, sid}, readings, own);
    for (DWORD i = 0; i < reading.count; i++) {
        const wchar_t* name = reading.matches[i].name;
        wchar_t packed[33];
        HKEY entry;
        if (!PackProductCode(name, packed) || RegOpenKeyExW(list, name, 0, KEY_READ | view, &entry) != ERROR_SUCCESS)
            continue;
        const wchar_t* displayName = KeyCatalogueName(entry, L"DisplayName");
        if (displayName != nullptr)
            AddProduct(out, packed, displayName, false);
        RegCloseKey(entry);
    }
    FreeListReading(own);
    RegCloseKey(list);
}

} // namespace

void FindInstallerProducts(const wchar_t* sid, InstallerProductList& out, ListReadings* readings)
{
    if (sid == nullptr) {
        for (REGSAM view : RegistryViews)
            ReadProductList(HKEY_LOCAL_MACHINE, MachineProducts, nullptr, view, MatchProductKey, true, readings, out);
        ReadManagedProducts(out);
        ReadUserDataProducts(nullptr, readings, out);
        return;
    }
    // A user's records are the user's products': those the Installer registered for the SID
    // under UserData, and those the user's own hive names.
    ReadUserDataProducts(sid, nullptr, out);
    PathBuffer path;
    if (ScopeKeyPath(path, sid, UserProducts))
        ReadProductList(HKEY_USERS, path, sid, KEY_WOW64_64KEY, MatchUserProductKey, false, readings, out);
    if (ScopeKeyPath(path, sid, ProductKeyPaths[0]))
        ReadUninstallEntries(HKEY_USERS, path, sid, KEY_WOW64_64KEY, readings, out);
}

void FreeInstallerProducts(InstallerProductList& list)
{
    if (list.products != nullptr)
        HeapFree(GetProcessHeap(), 0, list.products);
    if (list.patches != nullptr)
        HeapFree(GetProcessHeap(), 0, list.patches);
    list = {};
}

bool ListsProduct(const InstallerProductList& list, const wchar_t* packed)
{
    for (DWORD i = 0; i < list.count; i++) {
        if (StrCmpIW(list.products[i].packed, packed) == 0)
            return true;
    }
    return false;
}
