// Application shell: the process-wide settings and what the clean-up engine reports
// back to the dialog. Settings are written by the main thread before the worker
// thread exists and are only read afterwards.
#pragma once

#include "../common/Bounded.h"

extern bool QuietMode;          // "/Quiet": no window, the run starts at once
extern bool PreviewMode;        // "/Preview": the run logs what it would change and changes nothing
extern bool AllProfiles;        // "/AllProfiles": also sweep the profiles whose hives are not loaded
extern PathBuffer Signature;    // "/Signature:": the scope marker's text, empty for none
extern PathBuffer LogPath;      // "/Log:": the log file, unexpanded, empty for the default
extern bool DeleteAtRestart;    // "/DeleteAtRestart": files and folders that stay are deleted at the next restart
extern bool ReportExitCode;     // "/ExitCode": the exit code and the log tell what stayed
extern HWND MainWindow;         // the main dialog, hidden in quiet mode

// Sets the options from an argument vector, every element examined, the first too.
void ParseOptions(int count, wchar_t** arguments);

// The end of a clean run, called by the worker after its last log line: ends the
// process in quiet mode, otherwise shows "Finished." and enables Close. The process
// exits with exitCode either way.
void ReportCompletion(int exitCode);
