// Installer keys: one key of an Installer list removed with its tree, as the Installer steps
// log it.
#include "InstallerKeys.h"

#include "../../change/RegistryChanges.h"
#include "../../common/Registry.h"
#include "../../log/log.h"

void RemoveInstallerKey(HKEY root, const wchar_t* list, const wchar_t* name, REGSAM view)
{
    HKEY parent;
    if (RegOpenKeyExW(root, list, 0, KEY_READ | view, &parent) != ERROR_SUCCESS)
        return;
    HKEY probe;
    if (RegOpenKeyExW(parent, name, 0, KEY_READ | view, &probe) != ERROR_SUCCESS) {
        RegCloseKey(parent);
        return;
    }
    RegCloseKey(probe);
    const wchar_t* label = RegRootLabel(root);
    ShownPathBuffer shown;
    if (ShownKeyPath(shown, list, name)) {
        Change change = DeleteRegistryTree(parent, name, view, {label, list, name});
        if (change == Change::Made)
            LogLine(L"Successfully removed from %s\\%s", label, shown);
        else if (change == Change::Failed)
            LogLine(L"Failed to remove from %s\\%s", label, shown);
    }
    RegCloseKey(parent);
}
