// Folder removal: deletes one folder tree, files first, sub-folders depth first, the
// folder itself last, with a log line before each file's deletion.
#include "steps.h"

#include "../common/Changes.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

// The folder's path for one use: the top level expands its references afresh each
// time; a nested level holds a path composed from names found on disk, which is
// taken as it is, since a name such as "%NAME%" would expand into another folder.
bool FolderPath(PathBuffer& out, const wchar_t* path, bool expand)
{
    return expand ? ExpandText(out, path) : TextCopy(out, path);
}

bool IsLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Wine follows a directory link when asked to remove it and so deletes the folder it
// points to, and Windows removes only the link: a link (junction, symbolic link or any
// other reparse point) is therefore never entered and never removed. It stays, and so
// does every folder that encloses it.
void RemoveTree(const wchar_t* path, bool expand)
{
    PathBuffer working;
    if (!FolderPath(working, path, expand))
        return;
    DWORD attributes = GetFileAttributesW(working);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsLink(attributes))
        return;
    if (!AppendEntryName(working, L"*.*"))
        return;

    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW(working, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (StrCmpW(entry.cFileName, L".") == 0 || StrCmpW(entry.cFileName, L"..") == 0)
            continue;
        // An entry whose path does not fit stays, and so does this folder.
        if (!FolderPath(working, path, expand) || !AppendEntryName(working, entry.cFileName))
            continue;
        if (IsLink(entry.dwFileAttributes))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(working, false);
        } else {
            LogChange(L"Deleting file [%s]", working);
            DeleteFileAt(working);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);

    if (FolderPath(working, path, expand))
        RemoveFolder(working);
}

} // namespace

// PathAppendW canonicalises what it joins (a name of dots, for one): nothing may be
// acted on under a path other than the entry's own.
bool AppendEntryName(PathBuffer& path, const wchar_t* name)
{
    PathBuffer expected;
    size_t length = wcslen(path);
    if (!TextCopy(expected, path))
        return false;
    if (length > 0 && path[length - 1] != L'\\' && !TextAppend(expected, L"\\"))
        return false;
    if (!TextAppend(expected, name) || !PathAppendName(path, name))
        return false;
    return wcscmp(path, expected) == 0;
}

void RemoveFolderTree(const wchar_t* path)
{
    RemoveTree(path, true);
}
