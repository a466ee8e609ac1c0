// Clean-up engine: what the application shell calls.
#pragma once

#include <windows.h>

// The worker thread of one clean run: every removal step in order, the line
// "Finishing", then the completion report. The parameter is ignored; returns 0.
DWORD WINAPI CleanRun(void* parameter);

// The same run without the completion report, waiting at most lockWaitMs for another run to
// give the machine-wide lock back (CleanRun waits ten minutes); returns the exit code.
int CleanRunWaitingAtMost(DWORD lockWaitMs);
