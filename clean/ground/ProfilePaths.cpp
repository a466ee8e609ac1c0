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

// Reads one string value (REG_SZ or REG_EXPAND_SZ) of a key opened as itself, read-only, in
// the 64-bit view; the key is closed right after the read.
bool ReadKeyText(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, PathBuffer& out)
{
    HKEY key;
    if (!RegOpenAsItself(root, keyPath, KEY_READ | KEY_WOW64_64KEY, key))
        return false;
    bool read = RegReadText(key, valueName, out, true);
    RegCloseKey(key);
    return read;
}

} // namespace

bool ReadProfileValue(const Scope& scope, HKEY root, const wchar_t* keyPath, const wchar_t* valueName,
                      PathBuffer& out)
{
    ProfileReads* kept = scope.reads;
    for (DWORD i = 0; kept != nullptr && i < kept->count; i++) {
        const KeptRead& read = kept->reads[i];
        if (read.root == root && wcscmp(read.keyPath, keyPath) == 0 && wcscmp(read.valueName, valueName) == 0)
            return read.found && TextCopy(out, read.text);
    }
    bool found = ReadKeyText(root, keyPath, valueName, out);
    if (kept != nullptr && kept->count < ARRAYSIZE(kept->reads)) {
        KeptRead& read = kept->reads[kept->count];
        read.root = root;
        read.found = found && TextCopy(read.text, out);
        if (TextCopy(read.keyPath, keyPath) && TextCopy(read.valueName, valueName))
            kept->count++;
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

bool ReadProfileFolder(const Scope& user, PathBuffer& out)
{
    // Key paths are joined as text: a key name is not a file path to canonicalise, and
    // a SID too long for the buffer makes the read fail instead of opening another key.
    PathBuffer keyPath;
    PathBuffer value;
    return user.sid != nullptr && TextCopy(keyPath, ProfileListKey) && TextAppend(keyPath, L"\\") &&
           TextAppend(keyPath, user.sid) &&
           ReadProfileValue(user, HKEY_LOCAL_MACHINE, keyPath, L"ProfileImagePath", value) && ExpandText(out, value);
}

bool FirstUnresolvedInScope(const Scope& scope, const wchar_t* valueName)
{
    ProfileReads* kept = scope.reads;
    if (kept == nullptr)
        return true;
    for (DWORD i = 0; i < kept->unresolvedCount; i++) {
        if (wcscmp(kept->unresolved[i], valueName) == 0)
            return false;
    }
    DWORD& count = kept->unresolvedCount;
    if (count < ARRAYSIZE(kept->unresolved) && TextCopy(kept->unresolved[count], valueName))
        count++;
    return true;
}
