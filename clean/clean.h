// Clean-up engine: what the application shell calls. The shell hands the run what it needs
// to hear of it; the engine knows nothing of the shell.
#pragma once

#include <windows.h>

#include "../common/Bounded.h"

// "/AtNextLogon" and "/WithdrawAtNextLogon", the last one given: after its run the program
// registers its clean-up at each user's next logon, or withdraws that registration.
enum class LogonRegistration { None, Register, Withdraw };

// The options of one run, as the shell parsed them from the command line; a test fills its own.
struct RunOptions {
    bool quiet;            // "/Quiet": no window, the run starts at once
    bool preview;          // "/Preview": the run logs what it would change and changes nothing
    bool allProfiles;      // "/AllProfiles": also sweep the profiles whose hives are not loaded
    bool currentUserOnly;  // "/CurrentUser": only the running user's own scope, with that user's rights
    PathBuffer signature;  // "/Signature:": the scope marker's text, empty for none
    PathBuffer logPath;    // "/Log:": the log file, unexpanded, empty for the default
    bool deleteAtRestart;  // "/DeleteAtRestart": files and folders that stay are deleted at the next restart
    bool reportExitCode;   // "/ExitCode": the exit code and the log tell what stayed
    bool reportRequested;  // "/Report:": the run's result is written as a report at its end
    PathBuffer reportPath; // "/Report:": the report file, unexpanded, empty when the value was unusable
    bool outcomeShown;     // the dialog tells how the run went: the run keeps its record of what it tried
    LogonRegistration atNextLogon;  // "/AtNextLogon" or "/WithdrawAtNextLogon"
    // Given with "/CurrentUser", which ignores them (the two above stay false): noted for the
    // header's lines alone.
    bool allProfilesIgnored;
    bool deleteAtRestartIgnored;
    LogonRegistration atNextLogonIgnored;
};

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

// What the shell hands the thread of a run: its options and who listens to it (null: nobody).
struct RunStart {
    RunOptions options;
    const RunListener* listener;
};

// The worker thread of one clean run: every removal step in order, the line "Finishing",
// then a call of the completion of the listener of the RunStart that parameter points to
// (none when it is null). The RunStart must stay valid until that call; returns 0.
DWORD WINAPI CleanRun(void* parameter);

// The same run without the completion report, waiting at most lockWaitMs for another run to
// give the machine-wide lock back (CleanRun waits ten minutes), telling listener's stepReport
// (when there is one) its steps; returns the exit code.
int CleanRunWaitingAtMost(DWORD lockWaitMs, const RunOptions& options, const RunListener* listener = nullptr);
