// The guard around each write into the run log: the count of the processes that write into
// one log file, and the lock they take when more than one does.
#include "AppendGuard.h"

#include "../common/MachineMutex.h"
#include "../common/ProgramNames.h"
#include "../common/Bounded.h"

#include <sddl.h>

namespace {

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

// Whether this run is the only one with the log open, its flag raised for a line written
// without the lock. The flag goes up before the count is read again: a run that joins after
// that read waits for the flag, and one that joined before it is seen.
bool EnterAlone()
{
    if (Writers == nullptr || Writers->open != 1)
        return false;
    InterlockedExchange(&Writers->unguarded, 1);
    if (InterlockedCompareExchange(&Writers->open, 1, 1) == 1)
        return true;
    InterlockedExchange(&Writers->unguarded, 0);
    return false;
}

// What TakeAppendGuard returns for a line this run writes alone; apart from every result of a
// wait.
const DWORD TakenAlone = 0x7FFFFFFF;

} // namespace

void JoinAppendGuard(HANDLE file)
{
    PathBuffer identity;
    if (LogIdentityName(file, identity)) {
        AppendLock = OpenMachineMutex(identity);
        JoinLogWriters(identity);
    }
    AppendLockGivenUp = false;
}

void LeaveAppendGuard()
{
    LeaveLogWriters();
    if (AppendLock != nullptr)
        CloseHandle(AppendLock);
    AppendLock = nullptr;
}

DWORD TakeAppendGuard()
{
    AcquireSRWLockExclusive(&ThreadWrites);
    if (EnterAlone())
        return TakenAlone;
    if (AppendLock == nullptr || AppendLockGivenUp)
        return WAIT_FAILED;
    DWORD waited = WaitForSingleObject(AppendLock, AppendLockWaitMs);
    if (waited == WAIT_TIMEOUT)
        AppendLockGivenUp = true;
    return waited;
}

void GiveBackAppendGuard(DWORD taken)
{
    if (taken == TakenAlone)
        InterlockedExchange(&Writers->unguarded, 0);
    else if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED)
        ReleaseMutex(AppendLock);
    ReleaseSRWLockExclusive(&ThreadWrites);
}
