// User profiles and their shell folders: where a SID's profile lies, where one of its shell
// folders resolves to, and the checks that keep a path read from the registry from naming a
// folder relative to the current one.
#include "ProfilePaths.h"

#include "../common/Registry.h"

#include <wchar.h>

const wchar_t ProfileListKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

namespace {
// The shell folder definitions, a user's below the user's key and the machine's common ones
// ("Common Desktop", ...) below HKEY_LOCAL_MACHINE.
const wchar_t ShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
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

// One value read while a scope keeps its reads: where it was, whether it was there, and its text.
struct KeptRead {
    HKEY root;
    PathBuffer keyPath;
    PathBuffer valueName;
    bool found;
    PathBuffer text;
};
// The profile folder and the few shell folders a user scope's steps resolve, each many times.
KeptRead KeptReads[8];
DWORD KeptCount = 0;
bool KeepingReads = false;

// ReadKeyText, answered from the kept reads while a scope keeps them; a read that finds no
// room among them is made each time.
bool ReadScopeText(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, PathBuffer& out)
{
    for (DWORD i = 0; KeepingReads && i < KeptCount; i++) {
        const KeptRead& kept = KeptReads[i];
        if (kept.root == root && wcscmp(kept.keyPath, keyPath) == 0 && wcscmp(kept.valueName, valueName) == 0)
            return kept.found && TextCopy(out, kept.text);
    }
    bool found = ReadKeyText(root, keyPath, valueName, out);
    if (KeepingReads && KeptCount < ARRAYSIZE(KeptReads)) {
        KeptRead& kept = KeptReads[KeptCount];
        kept.root = root;
        kept.found = found && TextCopy(kept.text, out);
        if (TextCopy(kept.keyPath, keyPath) && TextCopy(kept.valueName, valueName))
            KeptCount++;
    }
    return found;
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
    if (!ReadScopeText(HKEY_USERS, keyPath, valueName, value))
        return false;
    // An empty or relative result would name a folder under the current directory.
    return ExpandDefinition(value, profile, out) && IsFullPath(out);
}

// The machine's common shell folder of one definition ("Common Desktop"), expanded in the
// machine's terms.
bool ResolveCommonShellFolder(const wchar_t* valueName, PathBuffer& out)
{
    PathBuffer definition;
    return ReadKeyText(HKEY_LOCAL_MACHINE, ShellFoldersKey, valueName, definition) && ExpandText(out, definition) &&
           IsFullPath(out);
}

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
           ReadScopeText(HKEY_LOCAL_MACHINE, keyPath, L"ProfileImagePath", value) && ExpandText(out, value);
}

void KeepProfileReads()
{
    KeptCount = 0;
    KeepingReads = true;
}

void ForgetProfileReads()
{
    KeptCount = 0;
    KeepingReads = false;
}
