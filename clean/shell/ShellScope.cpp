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
    if (scope.software[0] == L'\0' || !RegJoinPath(path, scope.software, relativePath))
        return;
    for (DWORD i = 0; i < scope.softwareViews; i++) {
        HKEY key;
        if (RegOpenKeyExW(scope.root, path, 0, KEY_READ | KEY_SET_VALUE | RegViews[i], &key) != ERROR_SUCCESS &&
            RegOpenKeyExW(scope.root, path, 0, KEY_READ | RegViews[i], &key) != ERROR_SUCCESS)
            continue;
        visit(scope, key, RegViews[i], path);
        RegCloseKey(key);
    }
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
