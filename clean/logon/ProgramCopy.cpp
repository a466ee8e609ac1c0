// The program's copy for the logon runs. It runs in every user's logon with that user's rights,
// from a folder that only administrators may write to: a folder any user could have made or
// filled first (ProgramData, a folder with a lax access list, a link to one) would let that user
// run code, or plant a library beside the copy, in every other user's logon.
#include "ProgramCopy.h"
#include "../ground/FolderRemoval.h"

#include "../../change/InstallChanges.h"
#include "../../common/FileKinds.h"
#include "../../common/Path.h"
#include "../../log/log.h"

#include <aclapi.h>
#include <shlwapi.h>
#include <wchar.h>

namespace {

const wchar_t CopyFolderName[] = L"ZamoClean";

// The rights that let an account put a file or folder into a folder, or give itself that right.
const ACCESS_MASK WriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC |
                                WRITE_OWNER;

void Refuse(const wchar_t* format, const wchar_t* path, DWORD reason, DWORD& error)
{
    LogLine(format, path);
    error = reason;
}

// One string of a file's version resource ("InternalName"), US English; false when it has none.
bool ReadVersionString(const wchar_t* path, const wchar_t* name, PathBuffer& out)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return false;
    void* data = HeapAlloc(GetProcessHeap(), 0, size);
    if (data == nullptr)
        return false;
    PathBuffer query;
    wchar_t* text = nullptr;
    UINT length = 0;
    bool read = GetFileVersionInfoW(path, 0, size, data) &&
                FormatText(query, L"\\StringFileInfo\\040904b0\\%s", name) &&
                VerQueryValueW(data, query, reinterpret_cast<void**>(&text), &length) && length > 0 &&
                TextCopy(out, text);
    HeapFree(GetProcessHeap(), 0, data);
    return read;
}

// A plain file whose maker and internal name are this program's own.
bool IsThisProgramsFile(const wchar_t* path)
{
    if (!IsPlainFileAttributes(GetFileAttributesW(path)))
        return false;
    PathBuffer self;
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const wchar_t* const names[2] = {L"CompanyName", L"InternalName"};
    for (const wchar_t* name : names) {
        PathBuffer own, found;
        if (!ReadVersionString(self, name, own) || !ReadVersionString(path, name, found) || wcscmp(own, found) != 0)
            return false;
    }
    return true;
}

// The first link on the way to path, its folders from the drive's root down and path itself;
// false when there is none. A missing part ends the walk: nothing below it exists.
bool FindLinkOnTheWay(const wchar_t* path, PathBuffer& link)
{
    if (!TextCopy(link, path))
        return true;
    for (wchar_t* at = wcschr(link + 3, L'\\');; at = wcschr(at + 1, L'\\')) {
        if (at != nullptr)
            *at = L'\0';
        DWORD attributes = GetFileAttributesW(link);
        if (IsLinkAttributes(attributes))
            return true;
        if (attributes == INVALID_FILE_ATTRIBUTES || at == nullptr)
            return false;
        *at = L'\\';
    }
}

// True when the ACE's account is one of the standard users' groups, or the running user where
// that user is no administrator.
bool IsUsersAccount(PSID sid)
{
    const WELL_KNOWN_SID_TYPE users[4] = {WinBuiltinUsersSid, WinAuthenticatedUserSid, WinWorldSid,
                                          WinInteractiveSid};
    for (WELL_KNOWN_SID_TYPE type : users) {
        if (IsWellKnownSid(sid, type))
            return true;
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    BOOL isAdministrator = FALSE;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
        !CheckTokenMembership(nullptr, administrators, &isAdministrator) || isAdministrator)
        return false;
    BOOL isMember = FALSE;
    return CheckTokenMembership(nullptr, sid, &isMember) && isMember;
}

// True when the folder's access list lets users write to it, or cannot be read (no list at all
// lets everyone in).
bool UsersMayWrite(const wchar_t* folder)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return true;
    bool mayWrite = dacl == nullptr;
    for (DWORD i = 0; !mayWrite && i < dacl->AceCount; i++) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)))
            mayWrite = true;
        // An entry that only the folder's children inherit counts too: the copy would inherit it.
        else if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            mayWrite = (ace->Mask & WriteRights) != 0 && IsUsersAccount(&ace->SidStart);
        }
    }
    LocalFree(descriptor);
    return mayWrite;
}

struct FolderContent {
    const wchar_t* copyName;
    PathBuffer foreign;  // the first entry that is not the copy, empty for none
};

bool NoteForeignEntry(const WIN32_FIND_DATAW& entry, void* context)
{
    FolderContent& content = *static_cast<FolderContent*>(context);
    if (StrCmpIW(entry.cFileName, content.copyName) == 0 && IsPlainFileAttributes(entry.dwFileAttributes))
        return true;
    if (!TextCopy(content.foreign, entry.cFileName))
        TextCopy(content.foreign, L"?");
    return false;
}

// True when the folder holds nothing but a plain file named as the copy (or nothing at all); the
// first other entry's full path goes to foreign otherwise.
bool HoldsOnlyCopy(const PathBuffer& folder, const PathBuffer& copy, PathBuffer& foreign)
{
    FolderContent content = {PathFindFileNameW(copy), L""};
    bool listed = PathForEachEntry(folder, NoteForeignEntry, &content);
    if (listed && content.foreign[0] == L'\0')
        return true;
    // A folder that cannot be listed is named itself.
    if (!listed || !TextCopy(foreign, folder) || !PathJoinName(foreign, content.foreign))
        TextCopy(foreign, folder);
    return false;
}

// Checks what is already there: an existing folder and copy may stay only when they are safe to
// run every user's logon from.
bool CheckPlace(const PathBuffer& folder, const PathBuffer& copy, DWORD& error)
{
    PathBuffer found;
    if (FindLinkOnTheWay(copy, found)) {
        Refuse(L"Cannot register the clean-up at each user's next logon: [%s] is a link", found, ERROR_CANT_ACCESS_FILE,
               error);
        return false;
    }
    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES)
        return true;
    if (!IsPlainFolder(GetFileAttributesW(folder)) || !HoldsOnlyCopy(folder, copy, found)) {
        Refuse(L"Cannot register the clean-up at each user's next logon: [%s] is not this program",
               IsPlainFolder(GetFileAttributesW(folder)) ? found : folder, ERROR_FILE_EXISTS, error);
        return false;
    }
    if (GetFileAttributesW(copy) != INVALID_FILE_ATTRIBUTES && !IsThisProgramsFile(copy)) {
        Refuse(L"Cannot register the clean-up at each user's next logon: [%s] is not this program", copy,
               ERROR_FILE_EXISTS, error);
        return false;
    }
    if (UsersMayWrite(folder)) {
        Refuse(L"Cannot register the clean-up at each user's next logon: users may write to [%s]", folder,
               ERROR_INVALID_ACL, error);
        return false;
    }
    return true;
}

// True when the file at path holds the same bytes as the running program.
bool IsCopyOfSelf(const wchar_t* self, const wchar_t* path)
{
    HANDLE files[2] = {};
    const wchar_t* paths[2] = {self, path};
    for (int i = 0; i < 2; i++)
        files[i] = CreateFileW(paths[i], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    bool same = files[0] != INVALID_HANDLE_VALUE && files[1] != INVALID_HANDLE_VALUE;
    static BYTE blocks[2][16384];
    while (same) {
        DWORD read[2] = {};
        same = ReadFile(files[0], blocks[0], sizeof(blocks[0]), &read[0], nullptr) &&
               ReadFile(files[1], blocks[1], sizeof(blocks[1]), &read[1], nullptr) && read[0] == read[1] &&
               memcmp(blocks[0], blocks[1], read[0]) == 0;
        if (same && read[0] == 0)
            break;
    }
    for (HANDLE file : files) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return same;
}

} // namespace

bool ProgramCopyPaths(PathBuffer& folder, PathBuffer& copy)
{
    // A 32-bit process on 64-bit Windows reaches the 64-bit folder only through ProgramW6432;
    // 32-bit Windows has no such variable, and its one program-files folder is ProgramFiles.
    if (!ExpandText(folder, L"%ProgramW6432%") || !PathIsOnDrive(folder)) {
        if (!ExpandText(folder, L"%ProgramFiles%") || !PathIsOnDrive(folder))
            return false;
    }
    PathBuffer self;
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    return length > 0 && length < MAX_PATH && PathJoinName(folder, CopyFolderName) && TextCopy(copy, folder) &&
           PathJoinName(copy, PathFindFileNameW(self));
}

bool PlaceProgramCopy(const PathBuffer& folder, const PathBuffer& copy, DWORD& error)
{
    if (!CheckPlace(folder, copy, error))
        return false;
    PathBuffer self;
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    // A folder this run makes takes the program-files folder's list, which users cannot write to.
    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES && CreateFolderAt(folder) == Change::Failed) {
        error = GetLastError();
        return false;
    }
    // A copy that users may write to is written again: the new one takes the folder's list.
    if (IsCopyOfSelf(self, copy) && !UsersMayWrite(copy))
        return true;
    if (CopyFileWhole(self, copy) == Change::Failed) {
        error = GetLastError();
        return false;
    }
    return true;
}

void RemoveProgramCopy(const PathBuffer& folder, const PathBuffer& copy)
{
    PathBuffer found;
    if (FindLinkOnTheWay(folder, found) || !IsPlainFolder(GetFileAttributesW(folder)) ||
        !HoldsOnlyCopy(folder, copy, found))
        return;
    if (GetFileAttributesW(copy) != INVALID_FILE_ATTRIBUTES && !IsThisProgramsFile(copy))
        return;
    RemoveFolderTree(folder);
}
