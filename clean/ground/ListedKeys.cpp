// Listed keys: the product's entries of a list, matched by their catalogue name, and the
// deletion of one entry with its tree and its log line.
#include "ListedKeys.h"
#include "../Catalogue.h"

#include "../../change/PreviewRecord.h"
#include "../../change/RegistryChanges.h"
#include "../../common/Registry.h"
#include "../../log/log.h"

Change RemoveListedKey(HKEY parent, const wchar_t* name, REGSAM view, const wchar_t* label, const wchar_t* path)
{
    Change change = DeleteRegistryTree(parent, name, view, {label, path, name});
    if (change == Change::Made)
        LogLine(L"Successfully removed from %s\\%s", label, path);
    else if (change == Change::Failed)
        LogLine(L"Failed to remove from %s\\%s", label, path);
    return change;
}

const wchar_t* MatchProductKey(const ListScan& scan, const wchar_t* name)
{
    HKEY entry;
    if (!RegOpenSubkeyOf(scan.list, name, KEY_READ | scan.view, entry))
        return nullptr;
    const wchar_t* displayName = KeyCatalogueName(entry, L"DisplayName");
    if (displayName == nullptr)
        displayName = KeyCatalogueName(entry, L"ProductName");
    RegCloseKey(entry);
    // What a real run would have deleted already (in the other view of a shared key, or
    // by its uninstaller) is not reported again by a preview, which deletes nothing. Asked
    // only of a match: the key's identity costs a preview three calls per entry of a list.
    if (displayName != nullptr && PreviewHasRemoved(scan.list, name, scan.view))
        return nullptr;
    return displayName;
}

void RemoveKeyOfList(HKEY root, const wchar_t* list, const wchar_t* name, REGSAM view)
{
    HKEY parent;
    if (!RegOpenPlain(root, list, KEY_READ | view, parent))
        return;
    HKEY probe;
    if (!RegOpenSubkeyOf(parent, name, KEY_READ | view, probe)) {
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
