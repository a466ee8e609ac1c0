// User profile sweep: decides whether a name under HKEY_USERS is a user scope and, if
// it is, removes the product from it: registry, application folder, program folders,
// package cache entries, Startup shortcut, Run entries, shell registrations and shortcuts,
// then marks the scope.
#include "steps.h"

#include "../change/FileChanges.h"
#include "../common/Registry.h"
#include "../log/log.h"

#include <shlwapi.h>
#include <wchar.h>

const wchar_t ProfileListKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t ShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

namespace {
const wchar_t ProfileReference[] = L"%userprofile%";
const size_t ProfileReferenceLength = ARRAYSIZE(ProfileReference) - 1;

// Reads one string value (REG_SZ or REG_EXPAND_SZ) of a key opened read-only in the
// 64-bit view; the key is closed right after the read.
bool ReadKeyText(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, PathBuffer& out)
{
    HKEY key;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    bool read = ReadRegistryText(key, valueName, out, true);
    RegCloseKey(key);
    return read;
}

// Lower-cases the definition (A to Z only), puts the profile folder in place of each
// "%userprofile%", and expands the result into out. The working copy lives on the heap
// because the replacements may make it longer than a path buffer before expansion
// shortens it again.
bool ExpandDefinition(PathBuffer& definition, const PathBuffer& profile, PathBuffer& out)
{
    for (wchar_t* c = definition; *c != L'\0'; c++) {
        if (*c >= L'A' && *c <= L'Z')
            *c = static_cast<wchar_t>(*c - L'A' + L'a');
    }

    size_t profileLength = wcslen(profile);
    size_t length = 0;
    for (const wchar_t* at = definition; (at = wcsstr(at, ProfileReference)) != nullptr; at += ProfileReferenceLength)
        length += profileLength;
    length += wcslen(definition) + 1;

    wchar_t* copy = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, length * sizeof(wchar_t)));
    if (copy == nullptr)
        return false;
    wchar_t* end = copy;
    const wchar_t* rest = definition;
    for (const wchar_t* at; (at = wcsstr(rest, ProfileReference)) != nullptr; rest = at + ProfileReferenceLength) {
        wmemcpy(end, rest, at - rest);
        end += at - rest;
        wmemcpy(end, profile, profileLength);
        end += profileLength;
    }
    wcscpy(end, rest);

    bool expanded = ExpandText(out, copy);
    HeapFree(GetProcessHeap(), 0, copy);
    return expanded;
}

} // namespace

// Resolves one of a user's shell folders ("Local AppData", "Startup") against that
// user's own profile folder. True when out holds the folder's path.
bool ResolveUserShellFolder(const wchar_t* sid, const wchar_t* valueName, PathBuffer& out)
{
    PathBuffer profile;
    if (!ReadProfileFolder(sid, profile))
        return false;
    PathBuffer keyPath;
    PathBuffer value;
    if (!ScopeKeyPath(keyPath, sid, ShellFoldersKey))
        return false;
    if (!ReadKeyText(HKEY_USERS, keyPath, valueName, value))
        return false;
    // An empty or relative result would name a folder under the current directory.
    return ExpandDefinition(value, profile, out) && IsFullPath(out);
}

namespace {

// A shell folder of the user with a name appended, ready to be removed: false when
// anything did not resolve or fit.
bool ResolveProductPath(const wchar_t* sid, const wchar_t* valueName, const wchar_t* name, PathBuffer& out)
{
    return ResolveUserShellFolder(sid, valueName, out) && AppendEntryName(out, name) && ExpandsToItself(out);
}

void RemoveApplicationFolder(const wchar_t* sid)
{
    PathBuffer folder;
    if (!ResolveProductPath(sid, L"Local AppData", MakerWord, folder))
        return;
    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES)
        return;
    LogLine(L"Attempting to remove application folder [%s]", folder);
    RemoveFolderTree(folder);
}

// A program folder's path from its environment reference: false when the variable is
// undefined (the reference would stay and name a folder under the current directory)
// or the path does not fit.
bool ProgramFolder(const wchar_t* reference, PathBuffer& out)
{
    return ExpandText(out, reference) && IsFullPath(out);
}

void RemoveProductFolder(const PathBuffer& programFolder)
{
    PathBuffer path;
    if (TextCopy(path, programFolder) && AppendEntryName(path, MakerWord) && ExpandsToItself(path))
        RemoveFolderTree(path);
}

void RemoveProgramFolders()
{
    PathBuffer programFiles;
    PathBuffer programFilesX86;
    PathBuffer programW6432;
    bool haveProgramFiles = ProgramFolder(L"%ProgramFiles%", programFiles);
    if (haveProgramFiles)
        RemoveProductFolder(programFiles);
    bool haveProgramFilesX86 = ProgramFolder(L"%ProgramFiles(x86)%", programFilesX86);
    if (haveProgramFilesX86)
        RemoveProductFolder(programFilesX86);
    // In a 32-bit process on 64-bit Windows both of the above name the 32-bit program
    // folder; the 64-bit one, where the product's 64-bit add-in lives, is reached only
    // through %ProgramW6432%.
    if (ProgramFolder(L"%ProgramW6432%", programW6432) &&
        !(haveProgramFiles && StrCmpIW(programW6432, programFiles) == 0) &&
        !(haveProgramFilesX86 && StrCmpIW(programW6432, programFilesX86) == 0))
        RemoveProductFolder(programW6432);
}

void RemovePackageCacheEntries(const wchar_t* sid)
{
    PathBuffer cache;
    if (ResolveProductPath(sid, L"Local AppData", L"Package Cache", cache))
        RemoveUserPackageCache(cache);
}

void DeleteStartupShortcut(const wchar_t* sid)
{
    PathBuffer shortcut;
    if (!ResolveUserShellFolder(sid, L"Startup", shortcut) || !AppendEntryName(shortcut, L"Zamo.lnk"))
        return;
    // A link in the shortcut's place is left alone: Wine deletes what it points to.
    DWORD attributes = GetFileAttributesW(shortcut);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    Change change = DeleteShortcut(shortcut);
    if (change == Change::Made)
        LogLine(L"Deleted startup shortcut [%s]", shortcut);
    else if (change == Change::Failed)
        DeleteAtRestartIfAsked(shortcut, shortcut, false);
}

} // namespace

bool ExpandsToItself(const PathBuffer& path)
{
    PathBuffer expanded;
    return ExpandText(expanded, path) && wcscmp(expanded, path) == 0;
}

// A drive path ("C:\...") or a UNC path ("\\server\..."): anything else would be taken
// relative to the current directory or drive, a folder nobody meant.
bool IsFullPath(const wchar_t* path)
{
    return IsDrivePath(path) || (path[0] == L'\\' && path[1] == L'\\');
}

bool IsDrivePath(const wchar_t* path)
{
    return ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
           path[2] == L'\\';
}

bool ReadProfileFolder(const wchar_t* sid, PathBuffer& out)
{
    // Key paths are joined as text: a key name is not a file path to canonicalise, and
    // a SID too long for the buffer makes the read fail instead of opening another key.
    PathBuffer keyPath;
    PathBuffer value;
    return TextCopy(keyPath, ProfileListKey) && TextAppend(keyPath, L"\\") && TextAppend(keyPath, sid) &&
           ReadKeyText(HKEY_LOCAL_MACHINE, keyPath, L"ProfileImagePath", value) && ExpandText(out, value);
}

void SweepUserScope(const wchar_t* sid)
{
    if (wcslen(sid) < WellKnownNameLength) {
        LogLine(L"Skipping well-known SID [%s]", sid);
        NoteScope(HKEY_USERS, sid, ScopeOutcome::SkippedWellKnown);
        return;
    }

    // A hive of per-user class registrations has its own "*" subkey.
    PathBuffer probe;
    if (!FormatText(probe, L"%s\\*", sid))
        return;
    HKEY classes;
    if (RegOpenKeyExW(HKEY_USERS, probe, 0, KEY_READ | KEY_WOW64_64KEY, &classes) == ERROR_SUCCESS) {
        LogLine(L"Skipping class branch [%s]", sid);
        NoteScope(HKEY_USERS, sid, ScopeOutcome::SkippedClassHive);
        RegCloseKey(classes);
        return;
    }

    // The check comes before the registry sweep, which deletes an earlier marker with
    // the maker's key; the mark comes after the last removal, whatever it achieved.
    if (!ScopeNeedsCleaning(HKEY_USERS, sid))
        return;
    // The products are read before the sweep deletes the user's product keys that name them.
    InstallerProductList products = {};
    FindInstallerProducts(sid, products);
    HoldRecordsForUninstallers(sid, products);
    SweepScopeRegistry(HKEY_USERS, sid, nullptr);
    PurgeUserInstallerRecords(sid, products);
    FreeInstallerProducts(products);
    PurgeOutlookRecords(sid);
    RemoveApplicationFolder(sid);
    RemoveProgramFolders();
    RemovePackageCacheEntries(sid);
    DeleteStartupShortcut(sid);
    RemoveUserRunEntries(sid);
    RemoveUserShellRegistrations(sid);
    DeleteUserShortcuts(sid);
    MarkScopeCleaned(HKEY_USERS, sid);
}
