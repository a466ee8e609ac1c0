// Installer folder counts: the values of the Installer's "Folders" list and of the shared
// files' reference counts ("SharedDLLs") that name a path inside the product's folders,
// once that path is gone, in both views.
#include "InstallerFolderCounts.h"
#include "InstallerCache.h"
#include "../ground/ProductTargets.h"
#include "../ground/Scope.h"
#include "../ground/RegistryValues.h"

#include "../../change/PreviewRecord.h"
#include "../../common/Path.h"
#include "../../common/RegistryWalk.h"

#include <wchar.h>

namespace {

const wchar_t* const CountLists[2] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
};

// The folders whose contents are the product's: the program folders' maker folder and the
// icon folders of the products the machine names.
struct ProductFolders {
    DWORD count;
    PathBuffer folders[32];
};

void AddFolder(ProductFolders& out, const wchar_t* folder)
{
    if (out.count < ARRAYSIZE(out.folders) && TextCopy(out.folders[out.count], folder))
        out.count++;
}

// The folder itself or a path below it, compared ignoring case; a final backslash of
// path (the Installer writes folders so) is no component of its own.
bool IsFolderOrInside(const wchar_t* folder, const wchar_t* path)
{
    size_t length = wcslen(folder);
    return length > 0 && CompareStringOrdinal(folder, static_cast<int>(length), path,
                                              static_cast<int>(wcsnlen(path, length)), TRUE) == CSTR_EQUAL &&
           (path[length] == L'\0' || path[length] == L'\\');
}

// A path that is gone: in a real run not there any more, in a preview also one that the
// preview has passed as removed.
bool IsGone(const wchar_t* name)
{
    PathBuffer path;
    if (!TextCopy(path, name))
        return false;
    size_t length = wcslen(path);
    if (length > 3 && path[length - 1] == L'\\')
        path[length - 1] = L'\0';
    if (PreviewHasRemovedPath(path))
        return true;
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A count list being read: the values that name a path inside the folders that is gone.
struct CountListReading {
    const ProductFolders& folders;
    NameList names;
};

bool NoteGoneFolderValue(const RegValue& value, void* context)
{
    CountListReading& reading = *static_cast<CountListReading*>(context);
    const wchar_t* name = value.name;
    // Only plain drive paths are compared: no "..", no forward slash to walk out of a folder.
    if (!PathIsOnDrive(name) || wcsstr(name, L"\\..") != nullptr || wcschr(name, L'/') != nullptr)
        return true;
    bool inside = false;
    for (DWORD i = 0; i < reading.folders.count && !inside; i++)
        inside = IsFolderOrInside(reading.folders.folders[i], name);
    return !inside || !IsGone(name) || AddName(reading.names, name);
}

void PurgeCountList(const wchar_t* list, REGSAM view, const ProductFolders& folders)
{
    HKEY key;
    if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, list, KEY_QUERY_VALUE | KEY_SET_VALUE | view, key))
        return;
    CountListReading reading = {folders, {}};
    RegEnumValues(key, false, NoteGoneFolderValue, &reading);
    for (DWORD i = 0; i < reading.names.count; i++)
        RemoveRegistryValue(key, reading.names.names[i], L"HKLM", list);
    FreeNames(reading.names);
    RegCloseKey(key);
}

} // namespace

void PurgeInstallerFolderCounts(const InstallerProductList& products)
{
    ProductFolders folders = {};
    ProductTargets targets;
    ReadProductTargets(MachineScope(), targets);
    for (DWORD i = 0; i < targets.folderCount; i++)
        AddFolder(folders, targets.folders[i]);
    PathBuffer cache;
    for (DWORD i = 0; i < products.count; i++) {
        PathBuffer icons;
        if (products.products[i].machine && InstallerCacheFolder(cache) && TextCopy(icons, cache) &&
            PathJoinName(icons, products.products[i].code))
            AddFolder(folders, icons);
    }
    for (const wchar_t* list : CountLists) {
        for (REGSAM view : RegViews) {
            if (RegViewShowsOwnKey(HKEY_LOCAL_MACHINE, list, view))
                PurgeCountList(list, view, folders);
        }
    }
}
