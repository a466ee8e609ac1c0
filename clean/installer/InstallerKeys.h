// Installer keys: one key of an Installer list removed with its tree.
#pragma once

#include <windows.h>

// Deletes root\list\name with its tree when it is there, logging "Successfully removed from
// %s\%s" (or the failure) with the whole key.
void RemoveInstallerKey(HKEY root, const wchar_t* list, const wchar_t* name, REGSAM view);
