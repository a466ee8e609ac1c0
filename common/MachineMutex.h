// Named mutexes that runs of every user and session share.
#pragma once

#include <windows.h>

// The mutex of that name in the global namespace, where runs of all users and sessions see it,
// made waitable by everyone: created, or opened when it exists already. Without the right to
// create global objects (a standard user on Windows) and none made yet by an administrator's
// run, the one of the session. Null when neither can be had; the caller closes it.
HANDLE OpenMachineMutex(const wchar_t* name);

// A mutex that only SYSTEM and administrators can create or hold, and the private namespace
// it lives in; both null when there is none to take.
struct AdministratorsMutex {
    HANDLE mutex;
    HANDLE space;  // kept open while the mutex is used: the namespace goes with its last handle
};
// Opens the mutex of that name in this program's private namespace, whose boundary names the
// Administrators group, creating either where needed. A process that may neither create nor
// open the namespace (a standard user's) gets none. Where the system has no private
// namespaces at all, the mutex is OpenMachineMutex's instead (space null).
AdministratorsMutex OpenAdministratorsMutex(const wchar_t* name);
void CloseAdministratorsMutex(AdministratorsMutex& opened);
