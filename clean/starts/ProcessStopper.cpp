// Process stopper: the first step of a clean run ends the product's running
// processes, so that no uninstaller, registry or folder step meets a file or key they
// hold open.
#include "ProcessStopper.h"
#include "../Catalogue.h"

#include "../../change/ProcessChanges.h"
#include "../../common/RunningUser.h"
#include "../../common/Settings.h"
#include "../../log/log.h"

#include <shlwapi.h>
#include <tlhelp32.h>
#include <winver.h>

namespace {

const DWORD PauseAfterStopMs = 5000;

// An image path can be far longer than MAX_PATH.
typedef wchar_t ImagePath[32768];

// The full path of the opened process's (query rights) executable; false when it cannot
// be read whole.
bool ReadProcessImage(HANDLE process, ImagePath& image)
{
    DWORD imageCount = ARRAYSIZE(image);
    return QueryFullProcessImageNameW(process, 0, image, &imageCount) != FALSE;
}

// One text of a version resource's first translation, compared whole, ignoring case.
bool VersionTextIs(const void* info, const wchar_t* name, const wchar_t* expected)
{
    const WORD* translation = nullptr;
    UINT translationSize = 0;
    if (!VerQueryValueW(info, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(const_cast<WORD**>(&translation)),
                        &translationSize) ||
        translationSize < 2 * sizeof(WORD))
        return false;
    PathBuffer query;
    if (!FormatText(query, L"\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], name))
        return false;
    const wchar_t* text = nullptr;
    UINT textCount = 0;
    if (!VerQueryValueW(info, query, reinterpret_cast<void**>(const_cast<wchar_t**>(&text)), &textCount) ||
        textCount == 0)
        return false;
    return CompareStringOrdinal(text, -1, expected, -1, TRUE) == CSTR_EQUAL;
}

// True when an executable says in its version resource that it is this program, whatever
// its file is called now: another run of it, which may be waiting for the run lock.
bool IsThisProgram(const wchar_t* image)
{
    DWORD size = GetFileVersionInfoSizeW(image, nullptr);
    if (size == 0)
        return false;
    void* info = HeapAlloc(GetProcessHeap(), 0, size);
    if (info == nullptr)
        return false;
    bool same = GetFileVersionInfoW(image, 0, size, info) && VersionTextIs(info, L"ProductName", L"Zamo Clean") &&
                VersionTextIs(info, L"OriginalFilename", L"ZamoClean.exe");
    HeapFree(GetProcessHeap(), 0, info);
    return same;
}

// Opens the process of a snapshot entry for termination and confirms that it is
// still the process the snapshot named, running the image whose file name is the entry's
// (ignoring case): its ID may have gone to an unrelated process since. A copy of this
// program is never a product process. Returns the handle, or null when it cannot be opened
// or is another process or a copy of this program.
HANDLE OpenSnapshotProcess(const PROCESSENTRY32W& entry)
{
    // The query right comes with the terminate right in one open: a process that
    // refuses it cannot be confirmed and is passed over like one that cannot be opened.
    HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr)
        return nullptr;
    ImagePath image;
    // File names compare ordinally, ignoring case, as the file system does.
    if (!ReadProcessImage(process, image) ||
        CompareStringOrdinal(PathFindFileNameW(image), -1, PathFindFileNameW(entry.szExeFile), -1, TRUE) !=
            CSTR_EQUAL ||
        IsThisProgram(image)) {
        CloseHandle(process);
        return nullptr;
    }
    return process;
}

// In a run of the current user alone, true when the process runs as that user: another user's
// processes (and any whose token cannot be read) are left to a machine run.
bool RunsAsOwner(HANDLE process, const UserSid* owner)
{
    if (owner == nullptr)
        return true;
    UserSid user;
    return ReadProcessUserSid(process, user) && EqualSid(user, const_cast<BYTE*>(*owner));
}

} // namespace

void StopProductProcesses()
{
    UserSid running;
    const UserSid* owner = nullptr;
    if (CurrentUserOnly) {
        // Without the user's own SID no process can be told to be the user's: none is stopped.
        if (!ReadRunningUserSid(running))
            return;
        owner = &running;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;

    bool stoppedAny = false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    const DWORD ownId = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        // This run itself, whatever its file is called (an administrator's "UninstallZamo.exe").
        if (entry.th32ProcessID == ownId)
            continue;
        // Every catalogue name is tried, even after a match: a name that contains
        // two of them is stopped once for each.
        for (const wchar_t* name : ProcessNames) {
            if (StrStrIW(entry.szExeFile, name) == nullptr)
                continue;
            HANDLE process = OpenSnapshotProcess(entry);
            if (process == nullptr)
                continue;
            if (!RunsAsOwner(process, owner)) {
                CloseHandle(process);
                continue;
            }
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
