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
    // The first folder below the root: "C:\" or "\\server\share\".
    wchar_t* at = partial + 3;
    if (partial[0] == L'\\') {
        at = wcschr(partial + 2, L'\\');
        at = at != nullptr ? wcschr(at + 1, L'\\') : nullptr;
        if (at == nullptr)
            return FailWith(ERROR_INVALID_NAME);
        at++;
    }
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

// Writes data into a file that did not exist; false (and nothing left) when it could not.
bool WriteNewFile(const wchar_t* path, const void* data, DWORD size)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool whole = WriteFile(file, data, size, &written, nullptr) && written == size && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (whole)
        return true;
    DeleteFileW(path);
    return FailWith(written != size && error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error);
}

} // namespace

bool ReplaceFileContent(const wchar_t* path, const void* data, DWORD size)
{
    bool fullPath = (path[0] != L'\0' && path[1] == L':' && path[2] == L'\\') || (path[0] == L'\\' && path[1] == L'\\');
    if (!fullPath)
        return FailWith(ERROR_INVALID_NAME);
    PathBuffer folder;
    if (!TextCopy(folder, path))
        return FailWith(ERROR_FILENAME_EXCED_RANGE);
    wchar_t* name = wcsrchr(folder, L'\\');
    if (name == nullptr || name[1] == L'\0')
        return FailWith(ERROR_INVALID_NAME);
    *name = L'\0';
    if (!MakeFolders(folder))
        return false;
    // A name of this program's own beside the file, never one that exists.
    static LONG counter = 0;
    PathBuffer temporary;
    bool written = false;
    for (int attempt = 0; attempt < 16 && !written; attempt++) {
        if (!FormatText(temporary, L"%s.%u-%u.tmp", path, static_cast<unsigned>(GetCurrentProcessId()),
                        static_cast<unsigned>(InterlockedIncrement(&counter))))
            return FailWith(ERROR_FILENAME_EXCED_RANGE);
        written = WriteNewFile(temporary, data, size);
        if (!written && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (!written)
        return FailWith(ERROR_FILE_EXISTS);
    // The file replaced must be a plain file: a link in its place is never replaced, as the
    // replacement could then land where the link points.
    DWORD attributes = GetFileAttributesW(path);
    DWORD error = ERROR_SUCCESS;
    if (IsLinkAttributes(attributes))
        error = ERROR_CANT_ACCESS_FILE;
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        error = ERROR_DIRECTORY;
    else if (!MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error == ERROR_SUCCESS)
        return true;
    DeleteFileW(temporary);
    return FailWith(error);
}
