// Removal of one listed key with its tree, for every step that deletes whole entries of a list.
#pragma once

#include "../../change/Change.h"

#include <windows.h>

// Deletes parent\name with its tree in one view, the parent shown as label\path: logs
// "Successfully removed from %s\%s" or "Failed to remove from %s\%s" (a preview: "Would remove").
Change RemoveListedKey(HKEY parent, const wchar_t* name, REGSAM view, const wchar_t* label, const wchar_t* path);
