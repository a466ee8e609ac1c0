// Windows Installer records: what the Installer keeps of the family's products beyond the
// product keys, and how the run finds and removes them.
#pragma once

#include "../common/Bounded.h"

struct ListReadings;

// The Windows Installer's own records of the family's products, beyond the product keys:
// features, upgrade codes, patches, cached packages, icon folders and folder counts.
// A product is one whose registration names a catalogue name; a product code is handled in
// the Installer's packed form too (32 hex digits, see PackProductCode).
struct InstallerProduct {
    wchar_t code[39];         // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    wchar_t packed[33];
    const wchar_t* name;      // the catalogue name its registration gives
    bool machine;             // named by the machine's own records, not only by a user's hive
    PathBuffer localPackage;  // "LocalPackage" of its InstallProperties, or empty
};
// A patch that a product's patch list names, with the name of that product.
struct InstallerPatch {
    wchar_t packed[33];
    const wchar_t* productName;
};
struct InstallerProductList {
    InstallerProduct* products;  // on the heap
    DWORD count;
    DWORD capacity;
    InstallerPatch* patches;  // on the heap
    DWORD patchCount;
    DWORD patchCapacity;
};
// The policy's copies of the Installer's records, one key per SID (HKEY_LOCAL_MACHINE, 64-bit view).
extern const wchar_t InstallerManaged[];
// The Installer's packed form of a braced product code, and back; false for anything that
// is not exactly such a code.
bool PackProductCode(const wchar_t* code, wchar_t (&packed)[33]);
bool UnpackProductCode(const wchar_t* packed, wchar_t (&code)[39]);
// True for a name of exactly 32 hex digits, a code's packed form.
bool IsPackedCode(const wchar_t* name);
// The products that the machine's own records name (sid null), or, for a user scope, those
// that the Installer registered for the SID under UserData and those the user's hive names
// (its Installer\Products and its uninstall list); start out empty. The reading of the user's
// uninstall list is kept in readings (when not null) for the scope's registry sweep.
void FindInstallerProducts(const wchar_t* sid, InstallerProductList& out, ListReadings* readings = nullptr);
void FreeInstallerProducts(InstallerProductList& list);
// True when the list holds the product of that packed code.
bool ListsProduct(const InstallerProductList& list, const wchar_t* packed);
// Adds the product of a packed code with its catalogue name, or marks a listed one as the
// machine's too; false when it is no code or the heap had no room.
bool AddProduct(InstallerProductList& list, const wchar_t* packed, const wchar_t* name, bool machine);
// The listed product of that packed code, or null.
InstallerProduct* FindProduct(InstallerProductList& list, const wchar_t* packed);
// Adds a patch of that packed code, once, named with its product's name; anything but a
// packed code is passed over.
void AddPatch(InstallerProductList& list, const wchar_t* packed, const wchar_t* productName);
// MsiExec can remove a per-user product of the user who runs the program only while that
// product's records are intact. Where its uninstall entry lies in the machine's list (as Wine
// keeps it), the machine's pass runs its uninstaller: the user's pass then hands its records
// over (moves them out of products), and the machine's pass purges them after its uninstallers.
void HoldRecordsForUninstallers(const wchar_t* sid, InstallerProductList& products);
// True when the user's product key of that packed name waits for the machine's uninstallers.
bool ProductRecordWaits(const wchar_t* sid, const wchar_t* packed);
// Purges what the user's pass handed over, and forgets it; ForgetWaitingRecords when a run starts.
void PurgeWaitingUserRecords();
void ForgetWaitingRecords();

// A user's Installer records of the products: features, upgrade code values, patches and
// the user's icon folders.
void PurgeUserInstallerRecords(const wchar_t* sid, const InstallerProductList& products);
// The machine's records of the products the machine names: features, upgrade code values,
// the policy's copies under Managed, and their patches that no other product lists.
void PurgeMachineInstallerRecords(const InstallerProductList& products);
// A patch registration of the machine with its cached patch, when no product but the
// listed ones names the patch.
void PurgeMachinePatches(const InstallerProductList& products);
// The cached packages and icon folders of the products the machine names, in %WINDIR%\Installer.
void RemoveCachedInstallerFiles(const InstallerProductList& products);
// A user's icon folders of the products, %APPDATA%\Microsoft\Installer\<{code}>.
void RemoveUserInstallerFolders(const wchar_t* sid, const InstallerProductList& products);
// The Installer's "Folders" and "SharedDLLs" values that name a path inside the product's
// folders (the program folders' maker folder, the products' icon folders) that is gone.
void PurgeInstallerFolderCounts(const InstallerProductList& products);
// Deletes root\list\name with its tree when it is there, logging "Successfully removed from
// %s\%s" (or the failure) with the whole key; label names the root.
void RemoveInstallerKey(HKEY root, const wchar_t* list, const wchar_t* name, REGSAM view);
// Removes a cached package or patch of the Installer (checked by the caller) with the lines
// "Removing cached installer package [%s] of [%s]" and "Deleting file [%s]"; a preview logs
// "Would remove cached installer package [%s] of [%s]" alone.
void RemoveCachedInstallerPackage(const wchar_t* path, const wchar_t* productName);
// A path that names a plain file (no folder, no link) directly in that folder, by a name
// with no stream, wildcard or separator in it.
bool IsCachedFileName(const wchar_t* path);
// The folder of the Installer's cached packages, "%WINDIR%\Installer".
bool InstallerCacheFolder(PathBuffer& out);
