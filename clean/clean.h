// Clean-up engine: what the application shell calls. The shell hands the run what it needs
// to hear of it; the engine knows nothing of the shell.
#pragma once

#include <windows.h>

// Told the run's exit code once the run has logged its last line.
typedef void (*RunCompletion)(int exitCode);

// The steps of a run that a person watching it is told of, each as the run enters it.
enum class RunStep {
    StoppingPrograms,          // the product's processes, services and scheduled tasks
    CleaningUser,              // name: the SID under HKEY_USERS; folder: its profile folder, or null
    CleaningUnloadedProfiles,  // "/AllProfiles": the profiles whose hives were not loaded
    Uninstalling,              // name: the product's display name, while its uninstaller runs
    UninstallerEnded,          // the step before the uninstaller goes on
    CleaningMachine,
    WaitingForRun,             // another run holds the machine's lock
    StoppedWaiting,            // it held it for the whole wait: the run ends without a step
};
// Called on the run's thread; the texts are valid during the call only.
typedef void (*RunStepReport)(RunStep step, const wchar_t* name, const wchar_t* folder);

// What the shell hands a run; either function may be null.
struct RunListener {
    RunStepReport stepReport;
    RunCompletion completion;
};

// The worker thread of one clean run: every removal step in order, the line "Finishing",
// then a call of the completion of the RunListener that parameter points to (none when it
// is null). The listener must stay valid until that call; returns 0.
DWORD WINAPI CleanRun(void* parameter);

// The same run without the completion report, waiting at most lockWaitMs for another run to
// give the machine-wide lock back (CleanRun waits ten minutes), telling listener's stepReport
// (when there is one) its steps; returns the exit code.
int CleanRunWaitingAtMost(DWORD lockWaitMs, const RunListener* listener = nullptr);
