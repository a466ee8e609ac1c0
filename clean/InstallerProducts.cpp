// Installer products: the family's products as the Windows Installer registers them, found
// on the machine's own records or on a user's, and the running user's products whose records
// wait for the machine's uninstallers.
#include "InstallerRecords.h"
#include "InstallerDataPurge.h"
#include "PassiveUninstaller.h"
#include "Catalogue.h"
#include "FolderRemoval.h"
#include "ListScan.h"
#include "PackageCache.h"
#include "ProfilePaths.h"
#include "RegistryPurge.h"
#include "RegistryValues.h"
#include "ScopeMarker.h"

#include "../common/Registry.h"
#include "../log/log.h"

#include <sddl.h>
#include <shlwapi.h>
#include <wchar.h>

const wchar_t InstallerManaged[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed";

namespace {

// The machine's and a user's product lists of the Installer.
const wchar_t* const MachineProducts = ProductKeyPaths[2];
const wchar_t* const UserProducts = ProductKeyPaths[1];
const REGSAM ReadAccess = KEY_READ | KEY_WOW64_64KEY;

// Which digit of a code (its 32 hex digits in order) stands at each place of the packed
// form: the first three groups reversed, the two digits of every later byte swapped. The
// order is its own inverse.
const int PackedOrder[32] = {7,  6,  5,  4,  3,  2,  1,  0,  11, 10, 9,  8,  15, 14, 13, 12,
                             17, 16, 19, 18, 21, 20, 23, 22, 25, 24, 27, 26, 29, 28, 31, 30};

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

bool IsPackedCode(const wchar_t* name)
{
    for (int i = 0; i < 32; i++) {
        if (!IsHexDigit(name[i]))
            return false;
    }
    return name[32] == L'\0';
}

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

// Each product key of a list whose value valueName is a catalogue name: added, with its patches.
void ReadProductList(HKEY root, const wchar_t* path, REGSAM view, const wchar_t* valueName, bool machine,
                     InstallerProductList& out)
{
    HKEY list;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &list) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(list, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY product;
        if (!IsPackedCode(name) || RegOpenKeyExW(list, name, 0, KEY_READ | view, &product) != ERROR_SUCCESS)
            continue;
        const wchar_t* displayName = KeyCatalogueName(product, valueName);
        if (displayName != nullptr && AddProduct(out, name, displayName, machine))
            AddListedPatches(out, product, displayName);
        RegCloseKey(product);
    }
    RegCloseKey(list);
}

// UserData\<SID>\Products of one SID: the records whose InstallProperties "DisplayName" is a
// catalogue name, and, for every product known by now, its patches and cached package.
void ReadUserDataSid(HKEY userData, const wchar_t* sid, InstallerProductList& out)
{
    PathBuffer productsPath;
    HKEY products;
    if (!FormatText(productsPath, L"%s\\Products", sid) ||
        RegOpenKeyExW(userData, productsPath, 0, ReadAccess, &products) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(products, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY product;
        if (!IsPackedCode(name) || RegOpenKeyExW(products, name, 0, ReadAccess, &product) != ERROR_SUCCESS)
            continue;
        HKEY properties;
        if (RegOpenKeyExW(product, L"InstallProperties", 0, ReadAccess, &properties) == ERROR_SUCCESS) {
            const wchar_t* displayName = KeyCatalogueName(properties, L"DisplayName");
            if (displayName != nullptr)
                AddProduct(out, name, displayName, true);
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
void ReadUserDataProducts(const wchar_t* sid, InstallerProductList& out)
{
    HKEY userData;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InstallerUserData, 0, ReadAccess, &userData) != ERROR_SUCCESS)
        return;
    if (sid != nullptr)
        ReadUserDataSid(userData, sid, out);
    for (DWORD index = 0; sid == nullptr; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(userData, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        ReadUserDataSid(userData, name, out);
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
            ReadProductList(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, L"ProductName", true, out);
    }
    RegCloseKey(managed);
}

// The uninstall entries under root\path named by a product code whose "DisplayName" is a
// catalogue name, in one view.
void ReadUninstallEntries(HKEY root, const wchar_t* path, REGSAM view, InstallerProductList& out)
{
    HKEY list;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &list) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(list, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        wchar_t packed[33];
        HKEY entry;
        if (!PackProductCode(name, packed) || RegOpenKeyExW(list, name, 0, KEY_READ | view, &entry) != ERROR_SUCCESS)
            continue;
        const wchar_t* displayName = KeyCatalogueName(entry, L"DisplayName");
        if (displayName != nullptr)
            AddProduct(out, packed, displayName, false);
        RegCloseKey(entry);
    }
    RegCloseKey(list);
}

// The machine's uninstall entry of the code, in either view, that names a catalogue product.
bool MachineListsUninstaller(const wchar_t* code)
{
    PathBuffer path;
    if (!FormatText(path, L"%s\\%s", ProductKeyPaths[0], code))
        return false;
    for (REGSAM view : RegistryViews) {
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

// The SID of the user the program runs as, as text.
bool RunningUserSid(PathBuffer& out)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    // DWORDs, so that the TOKEN_USER at its start is aligned.
    DWORD buffer[(SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)) / sizeof(DWORD) + 1];
    DWORD size = 0;
    bool found = false;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
        wchar_t* text = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
            found = TextCopy(out, text);
            LocalFree(text);
        }
    }
    CloseHandle(token);
    return found;
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

bool PackProductCode(const wchar_t* code, wchar_t (&packed)[33])
{
    if (wcslen(code) != 38 || code[0] != L'{' || code[37] != L'}')
        return false;
    wchar_t digits[32];
    int count = 0;
    for (int i = 1; i < 37; i++) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (code[i] != L'-')
                return false;
        } else if (IsHexDigit(code[i])) {
            digits[count++] = code[i];
        } else {
            return false;
        }
    }
    for (int i = 0; i < 32; i++)
        packed[i] = digits[PackedOrder[i]];
    packed[32] = L'\0';
    return true;
}

bool UnpackProductCode(const wchar_t* packed, wchar_t (&code)[39])
{
    if (!IsPackedCode(packed))
        return false;
    wchar_t digits[32];
    for (int i = 0; i < 32; i++)
        digits[PackedOrder[i]] = packed[i];
    int at = 0;
    code[at++] = L'{';
    for (int i = 0; i < 32; i++) {
        if (i == 8 || i == 12 || i == 16 || i == 20)
            code[at++] = L'-';
        code[at++] = digits[i];
    }
    code[at++] = L'}';
    code[at] = L'\0';
    return true;
}

void FindInstallerProducts(const wchar_t* sid, InstallerProductList& out)
{
    if (sid == nullptr) {
        for (REGSAM view : RegistryViews)
            ReadProductList(HKEY_LOCAL_MACHINE, MachineProducts, view, L"ProductName", true, out);
        ReadManagedProducts(out);
        ReadUserDataProducts(nullptr, out);
        return;
    }
    // A user's records are the user's products': those the Installer registered for the SID
    // under UserData, and those the user's own hive names.
    ReadUserDataProducts(sid, out);
    PathBuffer path;
    if (ScopeKeyPath(path, sid, UserProducts))
        ReadProductList(HKEY_USERS, path, KEY_WOW64_64KEY, L"ProductName", false, out);
    if (ScopeKeyPath(path, sid, ProductKeyPaths[0]))
        ReadUninstallEntries(HKEY_USERS, path, KEY_WOW64_64KEY, out);
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

void HoldRecordsForUninstallers(const wchar_t* sid, InstallerProductList& products)
{
    // Only the running user's products can be removed by MsiExec for that user, and only
    // while the machine's pass, which runs the uninstallers of its list, is to come.
    PathBuffer running;
    if (!RunningUserSid(running) || StrCmpIW(running, sid) != 0 || ScopeBearsSignature(HKEY_LOCAL_MACHINE, nullptr))
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
