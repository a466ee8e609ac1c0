// Application shell: the options, the dialog, and the start of the clean run.
#pragma once

#include "../clean/clean.h"
#include "../common/Settings.h"

extern HWND MainWindow;         // the main dialog, hidden in quiet mode

// Sets the options from an argument vector, every element examined, the first too.
void ParseOptions(int count, wchar_t** arguments);
// The same from a whole command line, split as the shell splits the program's own.
void ParseCommandLine(const wchar_t* commandLine);

// The header lines of a run: one for each option given that the log shows, in a fixed order.
void LogOptionsHeader();
// "Option <option> is ignored with /CurrentUser": an option given that needs an administrator,
// logged right after the header line of a run of the current user alone.
void LogIgnoredOption(const wchar_t* option);

// Starts the clean run's worker thread, which reports its end to the dialog. False when it
// could not be created: the failure is logged and no run happens.
bool StartCleanRun();

// What the run's thread posts to the dialog: the step it entered, and its end (wParam: the
// exit code). The texts go beside them, for the dialog's thread to take.
const UINT RunStepMessage = WM_APP + 1;
const UINT RunEndedMessage = WM_APP + 2;
typedef wchar_t DialogLine[1024];
void TakeStepText(DialogLine& out);
void TakeOutcomeText(DialogLine& out);
// What the shell hands the run: in quiet mode its end alone, in the dialog its steps too.
extern const RunListener QuietRunListener;
extern const RunListener DialogRunListener;

// Notes the run's log once it is opened: the file "Show log" opens. Called on the main thread.
void NoteRunLog();
// False when the log could not be opened, or when the program runs as SYSTEM or a service
// account, whose viewer would start on a user's desktop with those rights.
bool CanShowRunLog();
// Opens the log with the program associated with its kind (Notepad where there is none).
void ShowRunLog();
