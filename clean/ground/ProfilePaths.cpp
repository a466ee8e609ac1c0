// User profiles: where a SID's profile lies, the reads a user scope keeps, the machine's common
// shell folders, and the checks that keep a path read from the registry from naming a
// folder relative to the current one.
#include "ProfilePaths.h"

#include "../../common/Path.h"
#include "../../common/Registry.h"

#include <wchar.h>

const wchar_t ProfileListKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

const wchar_t ShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

namespace {

// Reads one string value (REG_SZ or REG_EXPAND_SZ) of a key opened read-only in the
// 64-bit view; the key is closed right after the read.
bool ReadKeyText(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, PathBuffer& out)
{
    HKEY key;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    bool read = RegReadText(key, valueName, out, true);
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
// The profile folder, the few shell folders a user scope's steps resolve, each many times, and
// the user's values their definitions refer to.
KeptRead KeptReads[32];
DWORD KeptCount = 0;
bool KeepingReads = false;

// The definitions that did not resolve in the scope kept now: each is logged once.
PathBuffer UnresolvedNames[8];
DWORD UnresolvedCount = 0;

} // namespace

bool ReadProfileValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, PathBuffer& out)
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

// The machine's common shell folder of one definition ("Common Desktop"), expanded in the
// machine's terms.
bool ResolveCommonShellFolder(const wchar_t* valueName, PathBuffer& out)
{
    PathBuffer definition;
    return ReadKeyText(HKEY_LOCAL_MACHINE, ShellFoldersKey, valueName, definition) && ExpandText(out, definition) &&
           PathIsFull(out);
}

bool ExpandsToItself(const PathBuffer& path)
{
    PathBuffer expanded;
    return ExpandText(expanded, path) && wcscmp(expanded, path) == 0;
}

bool ReadProfileFolder(const wchar_t* sid, PathBuffer& out)
{
    // Key paths are joined as text: a key name is not a file path to canonicalise, and
    // a SID too long for the buffer makes the read fail instead of opening another key.
    PathBuffer keyPath;
    PathBuffer value;
    return TextCopy(keyPath, ProfileListKey) && TextAppend(keyPath, L"\\") && TextAppend(keyPath, sid) &&
           ReadProfileValue(HKEY_LOCAL_MACHINE, keyPath, L"ProfileImagePath", value) && ExpandText(out, value);
}

bool FirstUnresolvedInScope(const wchar_t* valueName)
{
    if (!KeepingReads)
        return true;
    for (DWORD i = 0; i < UnresolvedCount; i++) {
        if (wcscmp(UnresolvedNames[i], valueName) == 0)
            return false;
    }
    if (UnresolvedCount < ARRAYSIZE(UnresolvedNames) && TextCopy(UnresolvedNames[UnresolvedCount], valueName))
        UnresolvedCount++;
    return true;
}

void KeepProfileReads()
{
    KeptCount = 0;
    UnresolvedCount = 0;
    KeepingReads = true;
}

void ForgetProfileReads()
{
    KeptCount = 0;
    UnresolvedCount = 0;
    KeepingReads = false;
}
