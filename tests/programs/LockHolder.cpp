// Holds one of the program's locks until it is ended, as a hung or hostile process would:
//   LockHolder.exe run <event>               the lock of the clean-up runs
//   LockHolder.exe log <path> <event>        the append lock of the log file at path, held by
//                                            a run that has the log open (its separator line
//                                            written) and hangs
//   LockHolder.exe log-lock <path> <event>   that lock alone, by a process that never opened
//                                            the log
//   LockHolder.exe denied <event>            a mutex under the run lock's shared name whose
//                                            access list grants SYSTEM alone, as a run of
//                                            another account could have made it
//   LockHolder.exe squat <event>             an event under that name, signalled: no mutex
//                                            of the name can be made or opened
// Sets the named event once it holds the lock; exits 2 when it cannot take it.
#include "clean/Catalogue.h"
#include "common/Bounded.h"
#include "common/MachineMutex.h"
#include "common/Settings.h"
#include "log/log.h"

#include <sddl.h>
#include <wchar.h>

// The log's lock is named after the file's identity, as every run names it.
HANDLE OpenLogLock(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION information;
    PathBuffer name;
    bool named = GetFileInformationByHandle(file, &information) &&
                 FormatText(name, L"ZamoClean.Log.%08X.%08X%08X", information.dwVolumeSerialNumber,
                            information.nFileIndexHigh, information.nFileIndexLow);
    CloseHandle(file);
    return named ? OpenMachineMutex(name) : nullptr;
}

int wmain(int argc, wchar_t** argv)
{
    HandDownProgramNames();
    HANDLE lock = nullptr;
    const wchar_t* eventName = nullptr;
    if (argc == 3 && lstrcmpW(argv[1], L"run") == 0) {
        lock = OpenAdministratorsMutex(L"ZamoClean.CleanRun").mutex;
        eventName = argv[2];
    } else if (argc == 3 && lstrcmpW(argv[1], L"denied") == 0) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)", SDDL_REVISION_1, &descriptor,
                                                                  nullptr))
            return 2;
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
        lock = CreateMutexW(&attributes, FALSE, L"Global\\ZamoClean.CleanRun");
        LocalFree(descriptor);
        eventName = argv[2];
    } else if (argc == 3 && lstrcmpW(argv[1], L"squat") == 0) {
        lock = CreateEventW(nullptr, TRUE, TRUE, L"Global\\ZamoClean.CleanRun");
        eventName = argv[2];
    } else if (argc == 4 && (lstrcmpW(argv[1], L"log") == 0 || lstrcmpW(argv[1], L"log-lock") == 0)) {
        if (lstrcmpW(argv[1], L"log") == 0) {
            if (!TextCopy(LogPath, argv[2]))
                return 2;
            OpenRunLog();
        }
        lock = OpenLogLock(argv[2]);
        eventName = argv[3];
    }
    if (lock == nullptr || WaitForSingleObject(lock, 0) != WAIT_OBJECT_0)
        return 2;
    HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName);
    if (held == nullptr || !SetEvent(held))
        return 2;
    Sleep(INFINITE);
    return 0;
}
