// Named mutexes that runs of every user and session share.
#pragma once

#include <windows.h>

// The mutex of that name in the global namespace, where runs of all users and sessions see it,
// made waitable by everyone: created, or opened when it exists already. Without the right to
// create global objects (a standard user on Windows) and none made yet by an administrator's
// run, the one of the session. Null when neither can be had; the caller closes it.
HANDLE OpenMachineMutex(const wchar_t* name);
