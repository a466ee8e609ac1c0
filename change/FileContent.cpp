// A file's whole content replaced in one step, never through a link.
#include "FileChanges.h"

#include "../common/FileKinds.h"

#include <wchar.h>

namespace {

// Fails with error: false, the reason kept for the caller.
bool FailWith(DWORD error)
{
    SetLastError(error);
    return false;
}

// Makes every missing folder of a full path, from the top down. A folder on the way that is a
// link (a junction or a symbolic link, which a user could have planted where the program
// writes as SYSTEM) or a file stops it: nothing is written through a link.
bool MakeFolders(const wchar_t* folder)
{
    PathBuffer partial;
    if (!TextCopy(partial, folder))
        return FailWith(ERROR_FILENAME_EXCED_RANGE);
    // The first folder below the root: "C:\" or "\\server\share\"; a root itself has none.
    wchar_t* at = partial + 2;
    if (partial[0] == L'\\') {
        at = wcschr(partial + 2, L'\\');
        if (at == nullptr)
            return FailWith(ERROR_INVALID_NAME);
        at = wcschr(at + 1, L'\\');
    }
    if (at == nullptr || *at == L'\0')
        return true;
    at++;
    for (;;) {
        wchar_t* end = wcschr(at, L'\\');
        if (end != nullptr)
            *end = L'\0';
        if (*at != L'\0') {
            DWORD attributes = GetFileAttributesW(partial);
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                if (!CreateDirectoryW(partial, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                    return false;
                attributes = GetFileAttributesW(partial);
                if (attributes == INVALID_FILE_ATTRIBUTES)
                    return false;
            }
            if (IsLinkAttributes(attributes))
                return FailWith(ERROR_CANT_ACCESS_FILE);
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return FailWith(ERROR_DIRECTORY);
        }
        if (end == nullptr)
            return true;
        *end = L'\\';
        at = end + 1;
    }
}

// Writes data into a file that did not exist and returns it still open, so that no other
// run takes it for a killed run's leftover before it is in place; it shares only deletion,
// which the replacement needs. INVALID_HANDLE_VALUE (and nothing left) when it could not.
HANDLE WriteNewFile(const wchar_t* path, const void* data, DWORD size)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    DWORD written = 0;
    bool whole = WriteFile(file, data, size, &written, nullptr) && written == size && FlushFileBuffers(file);
    DWORD error = GetLastError();
    if (whole)
        return file;
    CloseHandle(file);
    DeleteFileW(path);
    SetLastError(written != size && error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
    return INVALID_HANDLE_VALUE;
}

// A name the system takes for a device whatever folder it is in, with any extension: the
// part before the first dot, trailing blanks aside, is CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// or COM or LPT with a digit 1 to 9 or a superscript 1 to 3.
bool IsDeviceName(const wchar_t* name)
{
    int length = 0;
    while (name[length] != L'\0' && name[length] != L'.')
        length++;
    while (length > 0 && name[length - 1] == L' ')
        length--;
    const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : devices) {
        if (length == lstrlenW(device) && CompareStringOrdinal(name, length, device, length, TRUE) == CSTR_EQUAL)
            return true;
    }
    const wchar_t digit = length == 4 ? name[3] : L'\0';
    return (CompareStringOrdinal(name, length == 4 ? 3 : length, L"COM", 3, TRUE) == CSTR_EQUAL ||
            CompareStringOrdinal(name, length == 4 ? 3 : length, L"LPT", 3, TRUE) == CSTR_EQUAL) &&
           ((digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3);
}

// The report's full path with "." and ".." resolved as the system resolves them, and where its
// name starts in it. False, the reason kept, for a path that is no plain file's full path (a
// relative one, one into the device namespace, a device's name) or that does not fit, its
// temporary name "<path>.<process>-<n>.tmp" included, with the widest process ID and number.
bool ResolveReportPath(const wchar_t* path, PathBuffer& resolved, const wchar_t*& name)
{
    const bool drive = path[0] != L'\0' && path[1] == L':' && path[2] == L'\\';
    const bool share = path[0] == L'\\' && path[1] == L'\\' && !((path[2] == L'?' || path[2] == L'.') && path[3] == L'\\');
    if (!drive && !share)
        return FailWith(ERROR_INVALID_NAME);
    wchar_t* filePart = nullptr;
    DWORD length = GetFullPathNameW(path, ARRAYSIZE(resolved), resolved, &filePart);
    if (length == 0)
        return false;
    if (length >= ARRAYSIZE(resolved))
        return FailWith(ERROR_FILENAME_EXCED_RANGE);
    // Older systems resolve a device's name in any folder to "\\.\<device>".
    if (resolved[0] == L'\\' && resolved[1] == L'\\' && (resolved[2] == L'.' || resolved[2] == L'?'))
        return FailWith(ERROR_INVALID_NAME);
    if (filePart == nullptr || *filePart == L'\0' || IsDeviceName(filePart))
        return FailWith(ERROR_INVALID_NAME);
    PathBuffer widest;
    if (!FormatText(widest, L"%s.%u-%u.tmp", resolved, 0xFFFFFFFFu, 0xFFFFFFFFu))
        return FailWith(ERROR_FILENAME_EXCED_RANGE);
    name = filePart;
    return true;
}

// "<name>.<digits>-<digits>.tmp": a temporary file of this report's own.
bool IsTemporaryOf(const wchar_t* found, const wchar_t* name)
{
    const int nameLength = lstrlenW(name);
    if (lstrlenW(found) <= nameLength ||
        CompareStringOrdinal(found, nameLength, name, nameLength, TRUE) != CSTR_EQUAL || found[nameLength] != L'.')
        return false;
    const wchar_t* at = found + nameLength + 1;
    const wchar_t separators[] = {L'-', L'.'};
    for (wchar_t separator : separators) {
        const wchar_t* digits = at;
        while (*at >= L'0' && *at <= L'9')
            at++;
        if (at == digits || *at++ != separator)
            return false;
    }
    return CompareStringOrdinal(at, -1, L"tmp", -1, TRUE) == CSTR_EQUAL;
}

// Removes the temporary files of this report's own that a run killed while it wrote left
// beside it. One that any process has open (a run writing it now) stays: it is opened for
// deletion with no sharing, which fails while another handle is open.
void RemoveLeftTemporaries(const wchar_t* path, const wchar_t* name)
{
    PathBuffer pattern;
    WIN32_FIND_DATAW found;
    HANDLE search = FormatText(pattern, L"%s.*-*.tmp", path)
                        ? FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0)
                        : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        PathBuffer left;
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
            !IsTemporaryOf(found.cFileName, name) || !TextCopy(left, path))
            continue;
        left[name - path] = L'\0';
        if (!TextAppend(left, found.cFileName))
            continue;
        HANDLE file = CreateFileW(left, DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        BY_HANDLE_FILE_INFORMATION information;
        FILE_DISPOSITION_INFO disposition = {TRUE};
        if (GetFileInformationByHandle(file, &information) &&
            (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
            SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
        CloseHandle(file);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// The file replaced must be a plain file: a link in its place is never replaced, as the
// replacement could then land where the link points.
DWORD PutInPlace(const wchar_t* temporary, const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (IsLinkAttributes(attributes))
        return ERROR_CANT_ACCESS_FILE;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_DIRECTORY;
    if (!MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return GetLastError();
    return ERROR_SUCCESS;
}

} // namespace

bool ReplaceFileContent(const wchar_t* path, const void* data, DWORD size)
{
    // Everything is checked before the first folder is made: nothing is left of a report
    // that could not be written, and no folder that the path names only to leave it again.
    PathBuffer resolved;
    const wchar_t* name = nullptr;
    if (!ResolveReportPath(path, resolved, name))
        return false;
    PathBuffer folder;
    if (!TextCopy(folder, resolved))
        return FailWith(ERROR_FILENAME_EXCED_RANGE);
    folder[name - resolved - 1] = L'\0';
    if (!MakeFolders(folder))
        return false;
    RemoveLeftTemporaries(resolved, name);
    // A name of this program's own beside the file, never one that exists.
    static LONG counter = 0;
    PathBuffer temporary;
    HANDLE written = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && written == INVALID_HANDLE_VALUE; attempt++) {
        if (!FormatText(temporary, L"%s.%u-%u.tmp", resolved, static_cast<unsigned>(GetCurrentProcessId()),
                        static_cast<unsigned>(InterlockedIncrement(&counter))))
            return FailWith(ERROR_FILENAME_EXCED_RANGE);
        written = WriteNewFile(temporary, data, size);
        if (written == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (written == INVALID_HANDLE_VALUE)
        return FailWith(ERROR_FILE_EXISTS);
    DWORD error = PutInPlace(temporary, resolved);
    CloseHandle(written);
    if (error == ERROR_SUCCESS)
        return true;
    DeleteFileW(temporary);
    return FailWith(error);
}
