// Installer products: the family's products as the Windows Installer registers them.
#pragma once

#include "InstallerProductList.h"

struct ListReadings;

// The policy's copies of the Installer's records, one key per SID (HKEY_LOCAL_MACHINE, 64-bit view).
extern const wchar_t InstallerManaged[];
// The products that the machine's own records name (sid null), or, for a user scope, those
// that the Installer registered for the SID under UserData and those the user's hive names
// (its Installer\Products and its uninstall list); start out empty. The reading of the user's
// uninstall list is kept in readings (when not null) for the scope's registry sweep.
void FindInstallerProducts(const wchar_t* sid, InstallerProductList& out, ListReadings* readings = nullptr);
