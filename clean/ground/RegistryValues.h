// Removal of single registry values.
#pragma once

#include <windows.h>

// Deletes one value of an open key (KEY_QUERY_VALUE | KEY_SET_VALUE, in the view the caller
// names) and logs "Removed value [%s] from %s\%s" or the failure, the key shown as label\path.
void RemoveRegistryValue(HKEY key, const wchar_t* valueName, const wchar_t* label, const wchar_t* path);
