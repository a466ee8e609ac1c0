// Listed keys: the deletion of one entry of a list with its tree and its log line.
#include "ListedKeys.h"

#include "../../change/RegistryChanges.h"
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
