// Clean-up engine: what the application shell calls. The shell hands the run what it needs
// to hear of it; the engine knows nothing of the shell.
#pragma once

#include <windows.h>

// Told the run's exit code once the run has logged its last line.
typedef void (*RunCompletion)(int exitCode);

// The worker thread of one clean run: every removal step in order, the line "Finishing",
// then a call of the RunCompletion that parameter points to (none when it is null). The
// pointer must stay valid until that call; returns 0.
DWORD WINAPI CleanRun(void* parameter);

// The same run without the completion report, waiting at most lockWaitMs for another run to
// give the machine-wide lock back (CleanRun waits ten minutes); returns the exit code.
int CleanRunWaitingAtMost(DWORD lockWaitMs);
