// The process-wide settings. The shell writes them from the command line on the main
// thread before the worker thread exists; everything else only reads them.
#pragma once

#include "Bounded.h"

extern bool QuietMode;          // "/Quiet": no window, the run starts at once
extern bool PreviewMode;        // "/Preview": the run logs what it would change and changes nothing
extern bool AllProfiles;        // "/AllProfiles": also sweep the profiles whose hives are not loaded
extern bool CurrentUserOnly;    // "/CurrentUser": only the running user's own scope, with that user's rights
extern PathBuffer Signature;    // "/Signature:": the scope marker's text, empty for none
extern PathBuffer LogPath;      // "/Log:": the log file, unexpanded, empty for the default
extern bool DeleteAtRestart;    // "/DeleteAtRestart": files and folders that stay are deleted at the next restart
extern bool ReportExitCode;     // "/ExitCode": the exit code and the log tell what stayed
extern bool ReportRequested;    // "/Report:": the run's result is written as a report at its end
extern PathBuffer ReportPath;   // "/Report:": the report file, unexpanded, empty when the value was unusable
// "/AtNextLogon" and "/WithdrawAtNextLogon", the last one given: after its run the program
// registers its clean-up at each user's next logon, or withdraws that registration.
enum class LogonRegistration { None, Register, Withdraw };
extern LogonRegistration AtNextLogon;
extern bool OutcomeShown;       // the dialog tells how the run went: the run keeps its record of what it tried
