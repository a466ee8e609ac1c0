// The run log: where it lives, how it is opened, and the one way a line is written.
#define STRSAFE_NO_DEPRECATE
#include "log.h"

#include "../common/MachineMutex.h"
#include "../common/Settings.h"

#include <strsafe.h>

namespace {

// The open log file, or INVALID_HANDLE_VALUE while logging is off.
HANDLE LogFile = INVALID_HANDLE_VALUE;

// Held around each write by every process that logs into the same file; null when it
// could not be made, and lines are then written unguarded.
HANDLE AppendLock = nullptr;
// A writer that hangs while holding the lock never stops a run: after this wait the line
// is written all the same, and the lock is not waited for again until the log is opened
// again, so that such a holder costs the run one slow line.
const DWORD AppendLockWaitMs = 10000;
bool AppendLockGivenUp = false;

const int LineCapacity = 4095;      // characters of one line's text, NUL included
const int TimeStampLength = 25;     // "YYYY-MM-DDThh:mm:ss.mmmZ "

bool ChooseLogPath(PathBuffer& path)
{
    if (LogPath[0] != L'\0')
        return ExpandText(path, LogPath);
    if (!ExpandText(path, L"%LocalAppData%\\ZamoClean"))
        return false;
    CreateDirectoryW(path, nullptr);
    return PathAppendName(path, L"ZamoClean.log");
}

// Windows appends to an append-only handle atomically; Wine writes each append at an end
// it read before, so that concurrent appends by two processes overwrite each other. The
// writes to one file are serialised by a mutex named after the file's identity (volume and
// file index, whatever path names it), shared by the runs of all users and sessions; runs
// into other files never wait.
HANDLE OpenAppendLock(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information))
        return nullptr;
    PathBuffer name;
    if (!FormatText(name, L"ZamoClean.Log.%08X.%08X%08X", information.dwVolumeSerialNumber,
                    information.nFileIndexHigh, information.nFileIndexLow))
        return nullptr;
    return OpenMachineMutex(name);
}

// What the wait for the lock came to, for GiveBackAppendLock.
DWORD TakeAppendLock()
{
    if (AppendLock == nullptr || AppendLockGivenUp)
        return WAIT_FAILED;
    DWORD waited = WaitForSingleObject(AppendLock, AppendLockWaitMs);
    if (waited == WAIT_TIMEOUT)
        AppendLockGivenUp = true;
    return waited;
}

void GiveBackAppendLock(DWORD waited)
{
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ReleaseMutex(AppendLock);
}

// A file of an odd size (another program wrote into it) would put every new line at an odd
// offset, unreadable as UTF-16: one zero byte makes the lines whole again.
void AlignToWholeCharacters()
{
    DWORD waited = TakeAppendLock();
    LARGE_INTEGER size;
    if (GetFileSizeEx(LogFile, &size) && (size.QuadPart & 1) != 0) {
        const BYTE zero = 0;
        DWORD written;
        WriteFile(LogFile, &zero, 1, &written, nullptr);
    }
    GiveBackAppendLock(waited);
}

} // namespace

void OpenRunLog()
{
    // A path that did not fit is never opened in a cut form: logging stays off.
    PathBuffer path;
    if (!ChooseLogPath(path))
        return;
    // Append-only access makes every write land at the end of the file.
    LogFile = CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (LogFile == INVALID_HANDLE_VALUE)
        return;
    SetFilePointer(LogFile, 0, nullptr, FILE_END);
    AppendLock = OpenAppendLock(LogFile);
    AppendLockGivenUp = false;
    AlignToWholeCharacters();
    LogLine(L"================================================================");
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
    StringCchVPrintfW(line + TimeStampLength, LineCapacity - TimeStampLength, format, arguments);

    size_t length = 0;
    StringCchLengthW(line, LineCapacity, &length);
    line[length] = L'\r';
    line[length + 1] = L'\n';
    // One write per line: a reader or another instance never sees half a line.
    DWORD waited = TakeAppendLock();
    DWORD written;
    WriteFile(LogFile, line, static_cast<DWORD>((length + 2) * sizeof(wchar_t)), &written, nullptr);
    GiveBackAppendLock(waited);
}

void FormatTimeStamp(const SYSTEMTIME& time, TimeStampText& out)
{
    wsprintfW(out, L"%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", time.wYear, time.wMonth, time.wDay, time.wHour,
              time.wMinute, time.wSecond, time.wMilliseconds);
}

void CloseRunLog()
{
    if (AppendLock != nullptr)
        CloseHandle(AppendLock);
    AppendLock = nullptr;
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
}
