// Installer waiting records: the running user's products whose records wait for the
// machine's uninstallers.
#pragma once

#include "InstallerProductList.h"

// MsiExec can remove a per-user product of the user who runs the program only while that
// product's records are intact. Where its uninstall entry lies in the machine's list (as Wine
// keeps it), the machine's pass runs its uninstaller: the user's pass then hands its records
// over (moves them out of products), and the machine's pass purges them after its uninstallers.
void HoldRecordsForUninstallers(const wchar_t* sid, InstallerProductList& products);
// True when the user's product key of that packed name waits for the machine's uninstallers.
bool ProductRecordWaits(const wchar_t* sid, const wchar_t* packed);
// Purges what the user's pass handed over, and forgets it; ForgetWaitingRecords when a run starts.
void PurgeWaitingUserRecords();
void ForgetWaitingRecords();
