// What the Service Control Manager tells of one service, for the tests and the helper
// programs alike (no test framework here).
#pragma once

#include <windows.h>

// Whether the service is installed.
bool ServiceExists(const wchar_t* name);
// The service's current state, or 0 when it cannot be queried.
DWORD ServiceState(const wchar_t* name);
