// Shell scope: the registry helpers the shell registration files share: removing listed keys
// and values, the scope's Software keys in each view, and the keys a scope has visited.
#include "ShellScope.h"
#include "../ground/ListedKeys.h"
#include "../ground/RegistryValues.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>
#include <wchar.h>

// Removes the listed subkeys of parent, shown below parentPath.
void RemoveKeys(HKEY parent, REGSAM view, const wchar_t* label, const wchar_t* parentPath, const NameList& names)
{
    for (DWORD i = 0; i < names.count; i++)
        RemoveListedKey(parent, names.names[i], view, label, parentPath);
}

void RemoveValues(HKEY key, const NameList& names, const wchar_t* label, const wchar_t* path)
{
    for (DWORD i = 0; i < names.count; i++)
        RemoveRegistryValue(key, names.names[i], label, path);
}

// Calls visit with each key of the scope's Software at relativePath, in each view that shows it,
// opened to read and, where the run may, to delete values.
void ForEachSoftwareKey(const ShellScope& scope, const wchar_t* relativePath,
                        void (*visit)(const ShellScope& scope, HKEY key, REGSAM view, const wchar_t* path))
{
    PathBuffer path;
    if (!SoftwarePath(scope, relativePath, path))
        return;
    for (DWORD i = 0; i < scope.where->softwareViews; i++) {
        HKEY key;
        if (!RegOpenForValues(scope.where->root, path, KEY_READ | RegViews[i], key))
            continue;
        visit(scope, key, RegViews[i], path);
        RegCloseKey(key);
    }
}

bool SoftwarePath(const ShellScope& scope, const wchar_t* relativePath, PathBuffer& out)
{
    return scope.withSoftware && scope.where->softwareFits && RegJoinPath(out, scope.where->software, relativePath);
}

bool OpenClassRootKey(HKEY root, const wchar_t* path, REGSAM view, HKEY& key)
{
    if (root != HKEY_LOCAL_MACHINE)
        return RegOpenAsItself(root, path, KEY_READ | view, key);
    return RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) == ERROR_SUCCESS;
}

bool FirstVisit(ShellScope& scope, HKEY key)
{
    RegistryName name;
    if (!RegKernelName(key, name))
        return true;
    for (DWORD i = 0; i < scope.seenCount; i++) {
        if (StrCmpIW(scope.seen[i], name) == 0)
            return false;
    }
    if (scope.seenCount < ARRAYSIZE(scope.seen))
        wcscpy(scope.seen[scope.seenCount++], name);
    return true;
}
