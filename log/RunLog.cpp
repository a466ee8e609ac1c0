// The run log: where it lives, how it is opened, and the one way a line is written.
#include "log.h"
#include "MessageText.h"

#include "../common/MachineMutex.h"
#include "../common/ProgramNames.h"
#include "../common/Settings.h"

#include <sddl.h>

namespace {

// The open log file, or INVALID_HANDLE_VALUE while logging is off.
HANDLE LogFile = INVALID_HANDLE_VALUE;

// Windows appends to an append-only handle atomically; Wine writes each append at an end
// it read before, so that concurrent appends by two processes overwrite each other. The
// writes to one file are serialised by a mutex of the file's identity, held around each
// write by every process that logs into it; null when it could not be made, and lines are
// then written unguarded.
HANDLE AppendLock = nullptr;
// A writer that hangs while holding the lock never stops a run: after this wait the line
// is written all the same, and the lock is not waited for again until the log is opened
// again, so that such a holder costs the run one slow line.
const DWORD AppendLockWaitMs = 10000;
bool AppendLockGivenUp = false;

const int LineCapacity = 4095;      // characters of one line's text, NUL included
const int TimeStampLength = 25;     // "YYYY-MM-DDThh:mm:ss.mmmZ "

// The file the log was opened on, for a viewer of the person at the dialog.
PathBuffer OpenedPath = L"";

bool ChooseLogPath(PathBuffer& path)
{
    if (LogPath[0] != L'\0')
        return ExpandText(path, LogPath);
    if (!ExpandText(path, HandedNames.logFolder))
        return false;
    CreateDirectoryW(path, nullptr);
    return PathAppendName(path, HandedNames.logFileName);
}

// What the processes that have one log open share: how many have it open, and whether the
// one that has it alone is writing a line without the lock.
struct LogWriters {
    volatile LONG open;
    volatile LONG unguarded;
};
HANDLE WritersSection = nullptr;
LogWriters* Writers = nullptr;
// The threads of this process write one at a time.
SRWLOCK ThreadWrites = SRWLOCK_INIT;

// The name of what guards one log file: its identity (volume and file index, whatever path
// names it), so that the runs of all users and sessions into one file share it.
bool LogIdentityName(HANDLE file, PathBuffer& name)
{
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(file, &information) &&
           FormatText(name, L"%s.Log.%08X.%08X%08X", HandedNames.program, information.dwVolumeSerialNumber,
                      information.nFileIndexHigh, information.nFileIndexLow);
}

// Waiting for the mutex costs two calls to Wine's server for every line, a fifth of a run
// that removes many files, although a run is nearly always alone in its log. The runs that
// have a log open therefore count themselves in a block of shared memory, and one that is
// alone writes without the lock. A run that opens the log as the second waits until the
// first is through with a line it writes alone, and from then on both take the lock; a run
// that died without leaving its count leaves the others taking the lock, which is safe.
// Where the block cannot be had in the global namespace (where every session sees it),
// every line takes the lock, as a run that is not alone.
void JoinLogWriters(const wchar_t* identity)
{
    PathBuffer name;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Everyone maps it to read and write, as every user's run must count itself; only SYSTEM
    // and administrators change it otherwise. A user who writes into it can at worst make runs
    // take the lock, make lines of two runs collide under Wine, or cost a run one wait.
    if (!FormatText(name, L"Global\\%s.Writers", identity) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00000006;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)",
                                                              SDDL_REVISION_1, &descriptor, nullptr))
        return;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    WritersSection = CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, sizeof(LogWriters), name);
    if (WritersSection == nullptr)
        WritersSection = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name);
    LocalFree(descriptor);
    if (WritersSection == nullptr)
        return;
    Writers = static_cast<LogWriters*>(MapViewOfFile(WritersSection, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                                     sizeof(LogWriters)));
    if (Writers == nullptr) {
        CloseHandle(WritersSection);
        WritersSection = nullptr;
        return;
    }
    if (InterlockedIncrement(&Writers->open) == 1)
        return;
    // One that wrote alone a moment ago may be writing still: its line must land first. A run
    // killed in the middle of such a line costs one wait.
    for (DWORD waited = 0; waited < AppendLockWaitMs && InterlockedCompareExchange(&Writers->unguarded, 0, 0) != 0;
         waited += 10)
        Sleep(10);
}

void LeaveLogWriters()
{
    if (Writers != nullptr) {
        InterlockedDecrement(&Writers->open);
        UnmapViewOfFile(Writers);
    }
    Writers = nullptr;
    if (WritersSection != nullptr)
        CloseHandle(WritersSection);
    WritersSection = nullptr;
}

// Writes data when this run is the only one with the log open; false, having written nothing,
// when it is not. The flag goes up before the count is read again: a run that joins after
// that read waits for the flag, and one that joined before it is seen.
bool WriteAlone(const void* data, DWORD size)
{
    if (Writers == nullptr || Writers->open != 1)
        return false;
    InterlockedExchange(&Writers->unguarded, 1);
    bool alone = InterlockedCompareExchange(&Writers->open, 1, 1) == 1;
    DWORD written;
    if (alone)
        WriteFile(LogFile, data, size, &written, nullptr);
    InterlockedExchange(&Writers->unguarded, 0);
    return alone;
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
    TextCopy(OpenedPath, path);
    SetFilePointer(LogFile, 0, nullptr, FILE_END);
    PathBuffer identity;
    if (LogIdentityName(LogFile, identity)) {
        AppendLock = OpenMachineMutex(identity);
        JoinLogWriters(identity);
    }
    AppendLockGivenUp = false;
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
    AcquireSRWLockExclusive(&ThreadWrites);
    if (!WriteAlone(line, size)) {
        DWORD waited = TakeAppendLock();
        DWORD written;
        WriteFile(LogFile, line, size, &written, nullptr);
        GiveBackAppendLock(waited);
    }
    ReleaseSRWLockExclusive(&ThreadWrites);
}

void FormatTimeStamp(const SYSTEMTIME& time, TimeStampText& out)
{
    wsprintfW(out, L"%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", time.wYear, time.wMonth, time.wDay, time.wHour,
              time.wMinute, time.wSecond, time.wMilliseconds);
}

void CloseRunLog()
{
    LeaveLogWriters();
    if (AppendLock != nullptr)
        CloseHandle(AppendLock);
    AppendLock = nullptr;
    if (LogFile != INVALID_HANDLE_VALUE)
        CloseHandle(LogFile);
    LogFile = INVALID_HANDLE_VALUE;
}
