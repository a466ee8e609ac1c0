// Installer cache: the cached packages of the family's products in %WINDIR%\Installer, each
// checked against its own Property table, and the products' icon folders there and in each
// user's %APPDATA%\Microsoft\Installer.
#include "InstallerCache.h"
#include "../ground/FolderRemoval.h"
#include "PackageCache.h"
#include "../ground/ProfilePaths.h"

#include "../../change/FileChanges.h"
#include "../../common/FileKinds.h"
#include "../../common/Path.h"

#include <shlwapi.h>

namespace {

// A file name that names nothing but a file of the folder: no stream, wildcard or separator.
bool IsPlainName(const wchar_t* name)
{
    return name[0] != L'\0' && wcspbrk(name, L":*?/\"<>|") == nullptr;
}

bool IsPlainFile(const wchar_t* path)
{
    return IsPlainFileAttributes(GetFileAttributesW(path));
}

// "LocalPackage" names the product's cached package only when it is a file directly in the
// Installer's folder, no link, whose own "ProductCode" is the product's. Anything else that a
// broken or hostile record names stays.
bool IsCachedPackage(const InstallerProduct& product)
{
    PathBuffer code;
    return IsCachedFileName(product.localPackage) && ReadPackageProperty(product.localPackage, L"ProductCode", code) &&
           StrCmpIW(code, product.code) == 0;
}

// A product's icon folder below folder, removed through the folder removal when it is a folder.
void RemoveIconFolder(PathBuffer& folder, const InstallerProduct& product)
{
    if (!PathJoinName(folder, product.code) || !ExpandsToItself(folder))
        return;
    if (IsPlainFolder(GetFileAttributesW(folder)))
        RemoveFolderTree(folder);
}

} // namespace

bool IsCachedFileName(const wchar_t* path)
{
    PathBuffer folder;
    PathBuffer expected;
    const wchar_t* name = PathFindFileNameW(path);
    return InstallerCacheFolder(folder) && name != path && IsPlainName(name) && TextCopy(expected, folder) &&
           PathJoinName(expected, name) && StrCmpIW(expected, path) == 0 && IsPlainFile(path);
}

bool InstallerCacheFolder(PathBuffer& out)
{
    PathBuffer windows;
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return length > 0 && length < MAX_PATH && PathIsOnDrive(windows) && TextCopy(out, windows) &&
           PathJoinName(out, L"Installer");
}

void RemoveCachedInstallerPackage(const wchar_t* path, const wchar_t* productName)
{
    LogChange(L"Removing cached installer package [%s] of [%s]", path, productName);
    LogChange(L"Deleting file [%s]", path);
    if (DeleteCachedPackage(path, productName) == Change::Failed)
        DeleteAtRestartIfAsked(path, path, false);
}

void RemoveCachedInstallerFiles(const InstallerProductList& products)
{
    for (DWORD i = 0; i < products.count; i++) {
        const InstallerProduct& product = products.products[i];
        if (!product.machine)
            continue;
        if (product.localPackage[0] != L'\0' && IsCachedPackage(product))
            RemoveCachedInstallerPackage(product.localPackage, product.name);
        PathBuffer folder;
        if (InstallerCacheFolder(folder))
            RemoveIconFolder(folder, product);
    }
}

void RemoveUserInstallerFolders(const Scope& user, const InstallerProductList& products)
{
    for (DWORD i = 0; i < products.count; i++) {
        PathBuffer folder;
        if (ResolveUserShellFolder(user, L"AppData", folder) && PathJoinName(folder, L"Microsoft") &&
            PathJoinName(folder, L"Installer"))
            RemoveIconFolder(folder, products.products[i]);
    }
}
