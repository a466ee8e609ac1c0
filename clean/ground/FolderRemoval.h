// Folder and file removal.
#pragma once

#include "../../common/Path.h"

// Deletes a folder tree: its entries in the order the folder lists them, a sub-folder's tree
// where it comes, the folder last.
void RemoveFolderTree(const wchar_t* path);
// With "/DeleteAtRestart", schedules a file or folder whose deletion failed for deletion at
// the next restart and logs the outcome with the path as logged; nothing without it.
void DeleteAtRestartIfAsked(const wchar_t* logged, const wchar_t* acting, bool isFolder);
