// Installer products: the family's products as the Windows Installer registers them, found
// on the machine's own records or on a user's.
#include "InstallerProducts.h"
#include "InstallerCodes.h"
#include "InstallerDataPurge.h"
#include "../Catalogue.h"
#include "../ground/ListScan.h"
#include "RegistryPurge.h"
#include "../ground/ListedKeys.h"
#include "../ground/Scope.h"

#include "../../common/Registry.h"

const wchar_t InstallerManaged[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed";

namespace {

// The machine's and a user's product lists of the Installer.
const wchar_t* const MachineProducts = ProductKeyPaths[2];
const wchar_t* const UserProducts = ProductKeyPaths[1];
const REGSAM ReadAccess = KEY_READ | KEY_WOW64_64KEY;

// A product's patch list being read into the list of products.
struct PatchListing {
    InstallerProductList& list;
    const wchar_t* productName;
};

bool AddListedPatchKey(const wchar_t* name, void* context)
{
    PatchListing& listing = *static_cast<PatchListing*>(context);
    AddPatch(listing.list, name, listing.productName);
    return true;
}

bool AddListedPatchValue(const RegValue& value, void* context)
{
    return AddListedPatchKey(value.name, context);
}

// The patches a product's key lists as values of its "Patches" subkey (the machine's and a
// user's product keys), or as subkeys of it (UserData).
void AddListedPatches(InstallerProductList& list, HKEY product, const wchar_t* productName)
{
    HKEY patches;
    if (!RegOpenAsItself(product, L"Patches", KEY_READ, patches))
        return;
    PatchListing listing = {list, productName};
    RegEnumValues(patches, false, AddListedPatchValue, &listing);
    RegEnumSubkeys(patches, AddListedPatchKey, &listing);
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
    if (!RegOpenPlain(root, path, KEY_READ | view, list))
        return;
    ListReading own = {};
    const ListReading& reading = ReadListOnce({list, view, match, nullptr, RegRootLabel(root), path, sid}, readings, own);
    for (DWORD i = 0; i < reading.count; i++) {
        const wchar_t* name = reading.matches[i].name;
        HKEY product;
        if (!IsPackedCode(name) || !RegOpenSubkeyOf(list, name, KEY_READ | view, product))
            continue;
        const wchar_t* displayName = KeyCatalogueName(product, L"ProductName");
        if (displayName != nullptr && AddProduct(out, name, displayName, machine))
            AddListedPatches(out, product, displayName);
        RegCloseKey(product);
    }
    FreeListReading(own);
    RegCloseKey(list);
}

// One SID's UserData products being read: the purge's scan of the list, the reading kept
// for it (or null), the products found, and the index the walk is at. A key name always fits,
// so the walk's visits are the list's indexes.
struct UserDataReading {
    const ListScan& scan;
    ListReading* kept;
    InstallerProductList& out;
    DWORD index;
};

// The record's product, its patches and cached package, as ReadUserDataSid tells.
void ReadUserDataProduct(UserDataReading& reading, HKEY product, const wchar_t* name, DWORD index)
{
    HKEY properties;
    if (!RegOpenAsItself(product, L"InstallProperties", ReadAccess, properties))
        return;
    const wchar_t* displayName = KeyCatalogueName(properties, L"DisplayName");
    if (displayName != nullptr) {
        AddProduct(reading.out, name, displayName, true);
        NoteListMatch(reading.kept, index, name);
    }
    InstallerProduct* known = FindProduct(reading.out, name);
    if (known != nullptr && known->machine) {
        if (known->localPackage[0] == L'\0' &&
            !RegReadText(properties, L"LocalPackage", known->localPackage, false))
            known->localPackage[0] = L'\0';
        AddListedPatches(reading.out, product, known->name);
    }
    RegCloseKey(properties);
}

bool ReadUserDataRecord(const wchar_t* name, void* context)
{
    UserDataReading& reading = *static_cast<UserDataReading*>(context);
    DWORD index = reading.index++;
    // A record not named by a code is no product here, but the purge takes it all the same.
    if (!IsPackedCode(name)) {
        if (reading.kept != nullptr && MatchCataloguedRecord(reading.scan, name) != nullptr)
            NoteListMatch(reading.kept, index, name);
        return true;
    }
    HKEY product;
    if (!RegOpenSubkeyOf(reading.scan.list, name, ReadAccess, product))
        return true;
    ReadUserDataProduct(reading, product, name, index);
    RegCloseKey(product);
    return true;
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
    if (!RegJoinPath(productsPath, sid, L"Products") || !RegJoinPath(fullPath, InstallerUserData, productsPath) ||
        !RegOpenPlain(userData, productsPath, ReadAccess, products))
        return;
    const ListScan scan = {products, KEY_WOW64_64KEY, MatchCataloguedRecord, nullptr, L"HKLM", fullPath, sid};
    UserDataReading reading = {scan, KeepListReading(scan, readings), out, 0};
    RegEnumSubkeys(products, ReadUserDataRecord, &reading);
    RegCloseKey(products);
}

// Every SID's UserData records being read.
struct UserDataSids {
    HKEY userData;
    ListReadings* readings;
    InstallerProductList& out;
};

bool ReadUserDataOfSid(const wchar_t* sid, void* context)
{
    UserDataSids& sids = *static_cast<UserDataSids*>(context);
    ReadUserDataSid(sids.userData, sid, sids.readings, sids.out);
    return true;
}

// The UserData records of one SID, or of every SID (sid null).
void ReadUserDataProducts(const wchar_t* sid, ListReadings* readings, InstallerProductList& out)
{
    HKEY userData;
    if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, InstallerUserData, ReadAccess, userData))
        return;
    if (sid != nullptr) {
        ReadUserDataSid(userData, sid, readings, out);
    } else {
        UserDataSids sids = {userData, readings, out};
        RegEnumSubkeys(userData, ReadUserDataOfSid, &sids);
    }
    RegCloseKey(userData);
}

bool ReadManagedSid(const wchar_t* sid, void* context)
{
    PathBuffer path;
    if (FormatText(path, L"%s\\%s\\Installer\\Products", InstallerManaged, sid))
        ReadProductList(HKEY_LOCAL_MACHINE, path, nullptr, KEY_WOW64_64KEY, MatchProductKey, true, nullptr,
                        *static_cast<InstallerProductList*>(context));
    return true;
}

// The machine's product lists under Managed\<SID>\Installer\Products (products assigned by policy).
void ReadManagedProducts(InstallerProductList& out)
{
    HKEY managed;
    if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, InstallerManaged, ReadAccess, managed))
        return;
    RegEnumSubkeys(managed, ReadManagedSid, &out);
    RegCloseKey(managed);
}

// The uninstall entries under root\path named by a product code whose "DisplayName" is a
// catalogue name, in one view. They are among the matches of the list's reading for the
// registry sweep, which readings keeps for the sweep to come: only those are opened again.
void ReadUninstallEntries(HKEY root, const wchar_t* path, const wchar_t* sid, REGSAM view, ListReadings* readings,
                          InstallerProductList& out)
{
    HKEY list;
    if (!RegOpenPlain(root, path, KEY_READ | view, list))
        return;
    ListReading own = {};
    const ListReading& reading =
        ReadListOnce({list, view, MatchProductKey, nullptr, RegRootLabel(root), path, sid}, readings, own);
    for (DWORD i = 0; i < reading.count; i++) {
        const wchar_t* name = reading.matches[i].name;
        wchar_t packed[33];
        HKEY entry;
        if (!PackProductCode(name, packed) || !RegOpenSubkeyOf(list, name, KEY_READ | view, entry))
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

void FindInstallerProducts(const Scope& scope, InstallerProductList& out, ListReadings* readings)
{
    const wchar_t* sid = scope.sid;
    if (sid == nullptr) {
        for (REGSAM view : RegViews)
            ReadProductList(HKEY_LOCAL_MACHINE, MachineProducts, nullptr, view, MatchProductKey, true, readings, out);
        ReadManagedProducts(out);
        ReadUserDataProducts(nullptr, readings, out);
        return;
    }
    // A user's records are the user's products': those the Installer registered for the SID
    // under UserData, and those the user's own hive names.
    ReadUserDataProducts(sid, nullptr, out);
    PathBuffer path;
    if (ScopeKey(scope, UserProducts, path))
        ReadProductList(scope.root, path, sid, KEY_WOW64_64KEY, MatchUserProductKey, false, readings, out);
    if (ScopeKey(scope, ProductKeyPaths[0], path))
        ReadUninstallEntries(scope.root, path, sid, KEY_WOW64_64KEY, readings, out);
}
