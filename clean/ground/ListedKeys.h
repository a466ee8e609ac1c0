// The product's entries of a list: matched by their catalogue name, removed with their tree.
#pragma once

#include "ListScan.h"

#include "../../change/Change.h"

#include <windows.h>

// A product key list's matcher: the catalogue name of the entry's "DisplayName", else of its
// "ProductName" (the entry opened once for both); null for an entry that a preview has passed
// as removed already.
const wchar_t* MatchProductKey(const ListScan& scan, const wchar_t* name);

// Deletes parent\name with its tree in one view, the parent shown as label\path: logs
// "Successfully removed from %s\%s" or "Failed to remove from %s\%s" (a preview: "Would remove").
Change RemoveListedKey(HKEY parent, const wchar_t* name, REGSAM view, const wchar_t* label, const wchar_t* path);
// Deletes root\list\name with its tree in one view when it is there as itself, logging
// "Successfully removed from %s\%s" or "Failed to remove from %s\%s" (a preview: "Would remove")
// with the whole key, the root shown by its label.
void RemoveKeyOfList(HKEY root, const wchar_t* list, const wchar_t* name, REGSAM view);
