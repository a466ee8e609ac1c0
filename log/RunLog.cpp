// The run log: where it lives, how it is opened, and the one way a line is written.
#include "log.h"
#include "AppendGuard.h"
#include "MessageText.h"

#include "../common/ProgramNames.h"

namespace {

// The open log file, or INVALID_HANDLE_VALUE while logging is off.
HANDLE LogFile = INVALID_HANDLE_VALUE;

const int LineCapacity = 4095;      // characters of one line's text, NUL included
const int TimeStampLength = 25;     // "YYYY-MM-DDThh:mm:ss.mmmZ "

// The file the log was opened on, for a viewer of the person at the dialog.
PathBuffer OpenedPath = L"";

bool ChooseLogPath(const wchar_t* logPath, PathBuffer& path)
{
    if (logPath[0] != L'\0')
        return ExpandText(path, logPath);
    if (!ExpandText(path, HandedNames.logFolder))
        return false;
    CreateDirectoryW(path, nullptr);
    return PathAppendName(path, HandedNames.logFileName);
}

// A file of an odd size (another program wrote into it) would put every new line at an odd
// offset, unreadable as UTF-16: one zero byte makes the lines whole again.
void AlignToWholeCharacters()
{
    DWORD taken = TakeAppendGuard();
    LARGE_INTEGER size;
    if (GetFileSizeEx(LogFile, &size) && (size.QuadPart & 1) != 0) {
        const BYTE zero = 0;
        DWORD written;
        WriteFile(LogFile, &zero, 1, &written, nullptr);
    }
    GiveBackAppendGuard(taken);
}

} // namespace

void OpenRunLog(const wchar_t* logPath)
{
    // A path that did not fit is never opened in a cut form: logging stays off.
    PathBuffer path;
    if (!ChooseLogPath(logPath, path))
        return;
    // Append-only access makes every write land at the end of the file.
    LogFile = CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (LogFile == INVALID_HANDLE_VALUE)
        return;
    TextCopy(OpenedPath, path);
    SetFilePointer(LogFile, 0, nullptr, FILE_END);
    JoinAppendGuard(LogFile);
    AlignToWholeCharacters();
    LogLine(L"================================================================");
}

bool RunLogFilePath(PathBuffer& out)
{
    return LogFile != INVALID_HANDLE_VALUE && TextCopy(out, OpenedPath);
}

void LogLine(const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    LogLineArguments(format, arguments);
    va_end(arguments);
}

void LogLineArguments(const wchar_t* format, va_list arguments)
{
    if (LogFile == INVALID_HANDLE_VALUE)
        return;

    // Room for the text and its NUL, then the line end written in the same call.
    wchar_t line[LineCapacity + 2];
    SYSTEMTIME now;
    GetSystemTime(&now);
    TimeStampText stamp;
    FormatTimeStamp(now, stamp);
    wsprintfW(line, L"%s ", stamp);

    // A message too long for the line is cut silently; the cut line is still written.
    const size_t length =
        TimeStampLength + ComposeMessage(line + TimeStampLength, LineCapacity - TimeStampLength, format, arguments);
    line[length] = L'\r';
    line[length + 1] = L'\n';
    // One write per line: a reader or another instance never sees half a line.
    const DWORD size = static_cast<DWORD>((length + 2) * sizeof(wchar_t));
    DWORD taken = TakeAppendGuard();
    DWORD written;
    WriteFile(LogFile, line, size, &written, nullptr);
    GiveBackAppendGuard(taken);
}

void FormatTimeStamp(const SYSTEMTIME& time, TimeStampText& out)
{
    wsprintfW(out, L"%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", time.wYear, time.wMonth, time.wDay, time.wHour,
              time.wMinute, time.wSecond, time.wMilliseconds);
}

void CloseRunLog()
{
    LeaveAppendGuard();
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
}
