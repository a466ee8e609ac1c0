// Folder removal: deletes one folder tree, its entries in the order the folder lists them
// (a sub-folder's tree where it comes), the folder itself last, with a log line before each
// file's deletion.
#include "FolderRemoval.h"

#include "../../change/FileChanges.h"
#include "../../change/PreviewRecord.h"
#include "../../common/FileKinds.h"
#include "../../common/Path.h"
#include "../../common/Settings.h"
#include "../../log/log.h"

#include <wchar.h>

namespace {

// The path through which an entry of the folder at acting is acted on: the literal form where
// the folder's path is literal already or the entry's name needs it.
bool ActingEntryPath(PathBuffer& out, const wchar_t* acting, const wchar_t* name)
{
    if (PathIsLiteral(acting) || PathNeedsLiteral(name))
        return PathToLiteral(out, acting) && PathJoinLiteral(out, name);
    return TextCopy(out, acting) && PathJoinName(out, name);
}

// What one level of RemoveTree carries from entry to entry.
struct TreeWalk {
    const wchar_t* logged;
    const wchar_t* acting;
    bool foldersOnly;
};

bool RemoveTree(const wchar_t* logged, const wchar_t* acting, bool top);

bool RemoveTreeEntry(const WIN32_FIND_DATAW& entry, void* context)
{
    TreeWalk& walk = *static_cast<TreeWalk*>(context);
    // An entry whose path does not fit stays, and so does this folder. The logged path is
    // plain text: PathJoinName would refuse a name with a final dot.
    PathBuffer entryLogged;
    PathBuffer entryActing;
    if (!TextCopy(entryLogged, walk.logged) || !PathJoinLiteral(entryLogged, entry.cFileName) ||
        !ActingEntryPath(entryActing, walk.acting, entry.cFileName) || IsLinkAttributes(entry.dwFileAttributes)) {
        walk.foldersOnly = false;
        return true;
    }
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!RemoveTree(entryLogged, entryActing, false))
            walk.foldersOnly = false;
    } else {
        walk.foldersOnly = false;
        LogChange(L"Deleting file [%s]", entryLogged);
        if (DeleteFileAt(entryActing, entryLogged) == Change::Failed)
            DeleteAtRestartIfAsked(entryLogged, entryActing, false);
    }
    return true;
}

// Removes the tree at logged, acting through acting: the same path, spelled as stored (and in
// its literal form below a name that needs it). Both are composed alike from the names found
// on disk, which are taken as they are, since a name such as "%NAME%" would expand into
// another folder. True when the tree holds no file at any depth and nothing in it stays
// unvisited, so that its folders are all it has to remove; top tells the tree's top folder,
// which a preview then names.
//
// Wine follows a directory link when asked to remove it and so deletes the folder it
// points to, and Windows removes only the link: a link (junction, symbolic link or any
// other reparse point) is therefore never entered and never removed. It stays, and so
// does every folder that encloses it.
bool RemoveTree(const wchar_t* logged, const wchar_t* acting, bool top)
{
    DWORD attributes = GetFileAttributesW(acting);
    if (!IsPlainFolder(attributes))
        return false;
    TreeWalk walk = {logged, acting, true};
    if (!PathForEachEntry(acting, RemoveTreeEntry, &walk))
        return false;

    // Scheduled after everything in it, so that the restart finds it empty; the listing is
    // closed by now.
    if (RemoveFolder(acting, top && walk.foldersOnly ? logged : nullptr) == Change::Failed)
        DeleteAtRestartIfAsked(logged, acting, true);
    return walk.foldersOnly;
}

} // namespace

void DeleteAtRestartIfAsked(const wchar_t* logged, const wchar_t* acting, bool isFolder)
{
    if (!DeleteAtRestart || ScheduledAlready(acting))
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
    // A tree that the preview has passed as removed (the machine's program folders, met again
    // in every user's scope) is gone for a real run: walked again, it would name nothing.
    if (PreviewHasRemovedPath(expanded))
        return;
    PathBuffer stored;
    RemoveTree(expanded, PathAsStored(expanded, stored) ? stored : expanded, true);
}
