// Package caches: the entry folders that the product family's installers left in a user's or
// in the machine's package cache, each removed with its tree. The cache folder itself stays.
#include "PackageCache.h"
#include "../Catalogue.h"
#include "../ground/FolderRemoval.h"
#include "../ground/ProfilePaths.h"

#include "../../common/FileKinds.h"
#include "../../common/Path.h"
#include "../../log/log.h"

#include <msi.h>
#include <msiquery.h>
#include <shlwapi.h>

namespace {

const wchar_t CacheFolderName[] = L"Package Cache";

// A cache is announced once, before anything in it is removed. A user's cache announces itself
// when it is there; the machine's, which every installer of the machine uses, only before its
// first entry of the product's, so that a machine without one logs nothing of it.
struct CacheWalk {
    const wchar_t* cache;
    bool readPackages;  // the machine's entries are told by their packages too
    bool announced;
};

void Announce(CacheWalk& walk)
{
    if (!walk.announced)
        LogLine(L"Attempting to remove items from MSI package cache [%s]", walk.cache);
    walk.announced = true;
}

bool IsPackageFile(const WIN32_FIND_DATAW& entry)
{
    size_t length = wcslen(entry.cFileName);
    return IsPlainFileAttributes(entry.dwFileAttributes) && length > 4 &&
           StrCmpIW(entry.cFileName + length - 4, L".msi") == 0;
}

// The search for an entry folder's first package whose ProductName is a catalogue name.
struct PackageSearch {
    const PathBuffer* entry;
    PathBuffer* fileName;
    bool matched;
};

bool MatchPackage(const WIN32_FIND_DATAW& found, void* context)
{
    PackageSearch& search = *static_cast<PackageSearch*>(context);
    PathBuffer path;
    PathBuffer productName;
    search.matched = IsPackageFile(found) && TextCopy(path, *search.entry) && PathJoinName(path, found.cFileName) &&
                     ReadPackageProperty(path, L"ProductName", productName) &&
                     CatalogueDisplayName(productName) != nullptr && TextCopy(*search.fileName, found.cFileName);
    return !search.matched;
}

// The file name of the entry folder's first package whose ProductName is a catalogue name.
bool FindProductPackage(const PathBuffer& entry, PathBuffer& fileName)
{
    PackageSearch search = {&entry, &fileName, false};
    PathForEachEntry(entry, MatchPackage, &search);
    return search.matched;
}

// What marks an entry folder as the product's, as its line names it: the first catalogue
// marker present (a marker that is a folder counts), else, where packages are read, the
// product's package.
bool FindProductEntry(const PathBuffer& entry, bool readPackages, PathBuffer& shown)
{
    for (const wchar_t* marker : PackageCacheMarkers) {
        PathBuffer probe;
        if (TextCopy(probe, entry) && PathJoinName(probe, marker) && GetFileAttributesW(probe) != INVALID_FILE_ATTRIBUTES)
            return TextCopy(shown, marker);
    }
    return readPackages && FindProductPackage(entry, shown);
}

bool RemoveProductEntry(const WIN32_FIND_DATAW& entry, void* context)
{
    CacheWalk& walk = *static_cast<CacheWalk*>(context);
    PathBuffer path;
    if (!ExpandText(path, walk.cache) || !PathJoinName(path, entry.cFileName))
        return true;
    // Files directly in the cache are never touched; links are never entered.
    if (!IsPlainFolder(entry.dwFileAttributes) || !ExpandsToItself(path))
        return true;
    PathBuffer shown;
    if (!FindProductEntry(path, walk.readPackages, shown))
        return true;
    Announce(walk);
    LogLine(L"Removing package cache for [%s] at [%s]", shown, path);
    RemoveFolderTree(path);
    return true;
}

void RemoveProductEntries(CacheWalk& walk)
{
    PathBuffer cache;
    if (ExpandText(cache, walk.cache))
        PathForEachEntry(cache, RemoveProductEntry, &walk);
}

} // namespace

void RemoveUserPackageCache(const PathBuffer& cache)
{
    DWORD attributes = GetFileAttributesW(cache);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    CacheWalk walk = {cache, false, false};
    Announce(walk);
    // A package cache that is itself a link would lead the removals out of the profile.
    if (!IsLinkAttributes(attributes))
        RemoveProductEntries(walk);
}

void RemoveMachinePackageCache()
{
    PathBuffer cache;
    if (!ExpandText(cache, L"%ProgramData%") || !PathIsFull(cache) || !PathJoinName(cache, CacheFolderName) ||
        !ExpandsToItself(cache))
        return;
    // A cache that is a link is not entered, and as nothing is removed, not announced either.
    if (!IsPlainFolder(GetFileAttributesW(cache)))
        return;
    CacheWalk walk = {cache, true, false};
    RemoveProductEntries(walk);
}

bool ReadPackageProperty(const wchar_t* package, const wchar_t* property, PathBuffer& out)
{
    PathBuffer query;
    if (!FormatText(query, L"SELECT `Value` FROM `Property` WHERE `Property` = '%s'", property))
        return false;
    MSIHANDLE database;
    if (MsiOpenDatabaseW(package, MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS)
        return false;
    bool read = false;
    MSIHANDLE view;
    if (MsiDatabaseOpenViewW(database, query, &view) == ERROR_SUCCESS) {
        MSIHANDLE record;
        if (MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
            DWORD count = MAX_PATH;
            read = MsiRecordGetStringW(record, 1, out, &count) == ERROR_SUCCESS;
            MsiCloseHandle(record);
        }
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
    MsiCloseHandle(database);
    return read;
}
