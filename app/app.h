// Application shell: the options, the dialog, and the start of the clean run.
#pragma once

#include "../common/Settings.h"

extern HWND MainWindow;         // the main dialog, hidden in quiet mode

// Sets the options from an argument vector, every element examined, the first too.
void ParseOptions(int count, wchar_t** arguments);
// The same from a whole command line, split as the shell splits the program's own.
void ParseCommandLine(const wchar_t* commandLine);

// The header lines of a run: one for each option given that the log shows, in a fixed order.
void LogOptionsHeader();

// Starts the clean run's worker thread, which reports its end to the dialog. False when it
// could not be created: the failure is logged and no run happens.
bool StartCleanRun();
