// Application shell: the options, the dialog, and what the clean-up engine reports back
// to it.
#pragma once

#include "../common/Settings.h"

extern HWND MainWindow;         // the main dialog, hidden in quiet mode

// Sets the options from an argument vector, every element examined, the first too.
void ParseOptions(int count, wchar_t** arguments);

// Starts the clean run's worker thread. False when it could not be created: the failure
// is logged and no run happens.
bool StartCleanRun();

// The end of a clean run, called by the worker after its last log line: ends the
// process in quiet mode, otherwise shows "Finished." and enables Close. The process
// exits with exitCode either way.
void ReportCompletion(int exitCode);
