// Folder removal: deletes one folder tree, its entries in the order the folder lists them
// (a sub-folder's tree where it comes), the folder itself last, with a log line before each
// file's deletion.
#include "steps.h"

#include "../common/Changes.h"
#include "../common/Settings.h"
#include "../log/log.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

bool IsLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The path as the file system stores its names, when it differs from path in letter
// case alone: each component looked up in its parent. Under Wine, a component that
// differs from the stored name only in case (a shell folder definition is lower-cased)
// makes every later call read the parent folder through: without this, the benchmark's
// ratio to the known-targets reference rose from 3.2 and 2.1 to 3.7 and 4.4 at its two
// sizes. Windows takes both spellings alike, so there it costs one directory search per
// component of each removed tree's top, for nothing. False for anything but a
// drive path whose every component is found under a name equal to its own, ignoring case.
bool StoredSpelling(const PathBuffer& path, PathBuffer& out)
{
    if (!IsDrivePath(path) || wcspbrk(path, L"*?") != nullptr)
        return false;
    wmemcpy(out, path, 3);
    out[3] = L'\0';
    size_t at = 3;
    while (path[at] != L'\0') {
        size_t length = wcscspn(path + at, L"\\");
        PathBuffer probe;
        if (length == 0 || !TextCopy(probe, path))
            return false;
        probe[at + length] = L'\0';
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileExW(probe, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE)
            return false;
        FindClose(find);
        if (CompareStringOrdinal(path + at, static_cast<int>(length), found.cFileName, -1, TRUE) != CSTR_EQUAL ||
            !TextAppend(out, found.cFileName))
            return false;
        at += length;
        if (path[at] == L'\\') {
            if (!TextAppend(out, L"\\"))
                return false;
            at++;
        }
    }
    return true;
}

// Removes the tree at logged, acting through acting: the same path, spelled as stored.
// Both are composed alike from the names found on disk, which are taken as they are,
// since a name such as "%NAME%" would expand into another folder.
//
// Wine follows a directory link when asked to remove it and so deletes the folder it
// points to, and Windows removes only the link: a link (junction, symbolic link or any
// other reparse point) is therefore never entered and never removed. It stays, and so
// does every folder that encloses it.
void RemoveTree(const wchar_t* logged, const wchar_t* acting)
{
    DWORD attributes = GetFileAttributesW(acting);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsLink(attributes))
        return;
    PathBuffer entryActing;
    if (!TextCopy(entryActing, acting) || !AppendEntryName(entryActing, L"*.*"))
        return;

    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW(entryActing, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (StrCmpW(entry.cFileName, L".") == 0 || StrCmpW(entry.cFileName, L"..") == 0)
            continue;
        // An entry whose path does not fit stays, and so does this folder.
        PathBuffer entryLogged;
        if (!TextCopy(entryLogged, logged) || !AppendEntryName(entryLogged, entry.cFileName) ||
            !TextCopy(entryActing, acting) || !AppendEntryName(entryActing, entry.cFileName))
            continue;
        if (IsLink(entry.dwFileAttributes))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(entryLogged, entryActing);
        } else {
            LogChange(L"Deleting file [%s]", entryLogged);
            if (DeleteFileAt(entryActing, entryLogged) == Change::Failed)
                DeleteAtRestartIfAsked(entryLogged, entryActing, false);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);

    // Scheduled after everything in it, so that the restart finds it empty.
    if (RemoveFolder(acting) == Change::Failed)
        DeleteAtRestartIfAsked(logged, acting, true);
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

void DeleteAtRestartIfAsked(const wchar_t* logged, const wchar_t* acting, bool isFolder)
{
    if (!DeleteAtRestart)
        return;
    if (ScheduleDeletionAtRestart(acting, isFolder) == Change::Made)
        LogLine(L"Scheduled for deletion at restart [%s]", logged);
    else
        LogLine(L"Failed to schedule deletion at restart [%s] [%d]", logged, static_cast<int>(GetLastError()));
}

void RemoveFolderTree(const wchar_t* path)
{
    // Only the top level expands its references; the log shows the expansion.
    PathBuffer expanded;
    if (!ExpandText(expanded, path))
        return;
    PathBuffer stored;
    RemoveTree(expanded, StoredSpelling(expanded, stored) ? stored : expanded);
}
