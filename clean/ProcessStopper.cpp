// Process stopper: the first step of a clean run ends the product's running
// processes, so that no uninstaller, registry or folder step meets a file or key they
// hold open.
#include "steps.h"

#include "../common/Changes.h"
#include "../log/log.h"

#include <shlwapi.h>
#include <tlhelp32.h>

namespace {

const DWORD PauseAfterStopMs = 5000;

// True when the opened process (with query rights) runs the image whose file name is
// exeFile, ignoring case.
bool ProcessImageIs(HANDLE process, const wchar_t* exeFile)
{
    // An image path can be far longer than MAX_PATH; one that does not fit here
    // fails the query and so is never confirmed.
    wchar_t image[32768];
    DWORD imageCount = ARRAYSIZE(image);
    if (!QueryFullProcessImageNameW(process, 0, image, &imageCount))
        return false;
    // File names compare ordinally, ignoring case, as the file system does.
    return CompareStringOrdinal(PathFindFileNameW(image), -1, PathFindFileNameW(exeFile), -1, TRUE) == CSTR_EQUAL;
}

// Opens the process of a snapshot entry for termination and confirms that it is
// still the process the snapshot named: its ID may have gone to an unrelated process
// since. Returns the handle, or null when it cannot be opened or is another process.
HANDLE OpenSnapshotProcess(const PROCESSENTRY32W& entry)
{
    // The query right comes with the terminate right in one open: a process that
    // refuses it cannot be confirmed and is passed over like one that cannot be opened.
    HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr)
        return nullptr;
    if (!ProcessImageIs(process, entry.szExeFile)) {
        CloseHandle(process);
        return nullptr;
    }
    return process;
}

} // namespace

void StopProductProcesses()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;

    bool stoppedAny = false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        // Every catalogue name is tried, even after a match: a name that contains
        // two of them is stopped once for each.
        for (const wchar_t* name : ProcessNames) {
            if (StrStrIW(entry.szExeFile, name) == nullptr)
                continue;
            HANDLE process = OpenSnapshotProcess(entry);
            if (process == nullptr)
                continue;
            LogChange(L"Stopping process %d [%s]", static_cast<int>(entry.th32ProcessID), entry.szExeFile);
            if (StopProcess(process, entry.th32ProcessID, entry.szExeFile) != Change::Previewed)
                stoppedAny = true;
            CloseHandle(process);
        }
    }

    // One pause however many were stopped: termination completes asynchronously,
    // and the later steps must not find the processes' files still in use. A preview
    // stops none and so does not pause.
    if (stoppedAny)
        Sleep(PauseAfterStopMs);
    CloseHandle(snapshot);
}
