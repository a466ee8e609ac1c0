// Changes to processes: product processes stopped, uninstallers and other commands started.
#pragma once

#include "Change.h"

// Terminates an opened process (exit code 0). Made when termination was asked for, which
// completes later, whatever TerminateProcess returned. Preview: "Would stop process %d [%s]".
Change StopProcess(HANDLE process, DWORD processId, const wchar_t* exeFile);

// Starts a command line as a hidden child process. Made: child holds its handles, which the
// caller waits on and closes. Failed: GetLastError tells why. Preview: "Would execute [%s]".
Change StartHiddenProcess(wchar_t* commandLine, PROCESS_INFORMATION& child);

// Starts the uninstaller command line of productCode (named displayName) as StartHiddenProcess
// does, and records it as an uninstaller with its product code and display name.
Change StartUninstaller(wchar_t* commandLine, const wchar_t* productCode, const wchar_t* displayName,
                        PROCESS_INFORMATION& child);
