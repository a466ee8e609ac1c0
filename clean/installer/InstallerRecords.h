// Windows Installer records: the features and upgrade codes of the family's products, in the
// machine's registry and in a user's hive.
#pragma once

#include "InstallerProductList.h"

// A user's Installer records of the products: features, upgrade code values, patches and
// the user's icon folders.
void PurgeUserInstallerRecords(const wchar_t* sid, const InstallerProductList& products);
// The machine's records of the products the machine names: features, upgrade code values and
// the policy's copies under Managed.
void PurgeMachineInstallerRecords(const InstallerProductList& products);
