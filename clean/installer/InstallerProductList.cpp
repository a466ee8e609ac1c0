// The list of the family's products and patches that the Installer's records name.
#include "InstallerProductList.h"
#include "InstallerCodes.h"

#include <shlwapi.h>
#include <wchar.h>

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
