// Registry values: the deletion of one value and its log line, for every step that removes
// values rather than keys.
#include "RegistryValues.h"

#include "../../change/RegistryChanges.h"
#include "../../log/log.h"

void RemoveRegistryValue(HKEY key, const wchar_t* valueName, const wchar_t* label, const wchar_t* path)
{
    switch (DeleteRegistryValue(key, valueName, {label, path, nullptr})) {
    case Change::Made:
        LogLine(L"Removed value [%s] from %s\\%s", valueName, label, path);
        break;
    case Change::Failed:
        LogLine(L"Failed to remove value [%s] from %s\\%s", valueName, label, path);
        break;
    case Change::Previewed:
        break;
    }
}
