// The list of the family's products and patches that the Installer's records name.
#pragma once

#include "../../common/Bounded.h"

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
// Frees the list's heap arrays and empties it.
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
