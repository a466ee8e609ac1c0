// Changes to processes: a process stopped, a command line started hidden.
#include "ProcessChanges.h"
#include "TriedItems.h"

#include "ChangePart.h"
#include "../log/log.h"

Change StopProcess(HANDLE process, DWORD processId, const wchar_t* exeFile)
{
    wchar_t processText[16];
    wsprintfW(processText, L"%u", static_cast<unsigned>(processId));
    NoteChange(TriedProcess, exeFile, processText, exeFile);
    if (RunChanges().preview) {
        LogLine(L"Would stop process %d [%s]", static_cast<int>(processId), exeFile);
        return Change::Previewed;
    }
    TerminateProcess(process, 0);
    return Change::Made;
}

namespace {

Change StartHidden(wchar_t* commandLine, PROCESS_INFORMATION& child)
{
    ZeroMemory(&child, sizeof(child));
    if (RunChanges().preview) {
        LogLine(L"Would execute [%s]", commandLine);
        return Change::Previewed;
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    return Outcome(CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                                  nullptr, &startup, &child) != FALSE);
}

} // namespace

Change StartHiddenProcess(wchar_t* commandLine, PROCESS_INFORMATION& child)
{
    NoteChange(TriedProcess, commandLine, nullptr, commandLine);
    return StartHidden(commandLine, child);
}

Change StartUninstaller(wchar_t* commandLine, const wchar_t* productCode, const wchar_t* displayName,
                        PROCESS_INFORMATION& child)
{
    NoteUninstallerStarted(commandLine, productCode, displayName);
    return StartHidden(commandLine, child);
}
