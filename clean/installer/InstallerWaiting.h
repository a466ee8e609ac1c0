// Installer waiting records: the running user's products whose records wait for the
// machine's uninstallers.
#pragma once

#include "InstallerProductList.h"

// MsiExec can remove a per-user product of the user who runs the program only while that
// product's records are intact. Where its uninstall entry lies in the machine's list (as Wine
// keeps it), the machine's pass runs its uninstaller: the user's pass then hands its records
// over (moves them out of products), and the machine's pass purges them after its uninstallers.
// Windows keeps a per-user product's entry in the user's own list, so there the hold finds no
// machine entry of the code and holds nothing, and the user's pass purges the records as before,
// at the cost of a look-up per product. It is kept on both because it follows what the machine's
// list holds, not where the program runs: a machine entry of the same code (a per-machine
// install of it, or one a broken installer left) makes the machine's pass hand that code to
// MsiExec, which may then act on the running user's product and so needs its records.
void HoldRecordsForUninstallers(const wchar_t* sid, InstallerProductList& products);
// True when the user's product key of that packed name waits for the machine's uninstallers.
bool ProductRecordWaits(const wchar_t* sid, const wchar_t* packed);
// Purges what the user's pass handed over, and forgets it; ForgetWaitingRecords when a run starts.
void PurgeWaitingUserRecords();
void ForgetWaitingRecords();
