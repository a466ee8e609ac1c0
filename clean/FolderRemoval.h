// Folder and file removal.
#pragma once

#include "../common/Bounded.h"

// Deletes a folder tree: its entries in the order the folder lists them, a sub-folder's tree
// where it comes, the folder last.
void RemoveFolderTree(const wchar_t* path);
// With "/DeleteAtRestart", schedules a file or folder whose deletion failed for deletion at
// the next restart and logs the outcome with the path as logged; nothing without it.
void DeleteAtRestartIfAsked(const wchar_t* logged, const wchar_t* acting, bool isFolder);
// Appends an entry's name to a folder path; true only when the result fit and is exactly the
// folder, one backslash and the name.
bool AppendEntryName(PathBuffer& path, const wchar_t* name);
// Visits one entry of a folder; false stops the listing.
typedef bool (*FolderEntryVisit)(const WIN32_FIND_DATAW& entry, void* context);
// Lists a folder's entries in the order the folder gives them, "." and ".." passed over, and
// closes the listing before it returns. A literal path ("\\?\...") is listed as it stands.
// False when the folder could not be listed.
bool ForEachFolderEntry(const wchar_t* folder, FolderEntryVisit visit, void* context);
