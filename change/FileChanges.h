// Changes to files and folders: deletions, now or at the next restart, and a file's whole
// content replaced.
#pragma once

#include "Change.h"

// Deletes one file. Preview: "Would delete file [%s]" with shown (path itself when null),
// unless the file lies in a folder the preview has passed as removed. A path may be given in
// its literal form ("\\?\C:\..." or "\\?\UNC\..."), for a name that the system would
// otherwise change (a final dot or space, a device name such as "con.txt"); "Not removed" and
// the preview's record take it without that prefix.
Change DeleteFileAt(const wchar_t* path, const wchar_t* shown = nullptr);

// Removes one folder, which must be empty by then; path as DeleteFileAt takes it. Preview:
// the folder counts as removed from then on, with everything in it; "Would remove folder
// [%s]" with shownEmptyTree when that is given (the top of a tree that holds no file), unless
// the preview has passed the folder as removed already.
Change RemoveFolder(const wchar_t* path, const wchar_t* shownEmptyTree = nullptr);

// Deletes a package the Windows Installer cached for the product named productName, a file
// directly in its own folder. Preview: "Would remove cached installer package [%s] of [%s]",
// once per path.
Change DeleteCachedPackage(const wchar_t* path, const wchar_t* productName);

// Deletes the Startup shortcut. Preview: "Would delete startup shortcut [%s]", once per path.
Change DeleteShortcut(const wchar_t* path);

// Deletes a file or an empty folder at the next restart (MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT, appended to the system's pending file operations). A file is
// first renamed within its folder to a name of this program's own, so that a file installed
// at its path before the restart stays; where the rename fails it is scheduled under its own
// name. Made when scheduled; Failed: GetLastError tells why. Never called in a preview.
Change ScheduleDeletionAtRestart(const wchar_t* path, bool isFolder);
// True when this run has scheduled path for deletion at restart already, under that name or
// as the name it was renamed to (a folder walked twice meets a file twice); it then counts as
// scheduled for the exit code too.
bool ScheduledAlready(const wchar_t* path);

// Deletes a shortcut found by where it points. Preview: "Would delete shortcut [%s]", once per
// path, unless it lies in a folder the preview has passed as removed.
Change DeleteShortcutFile(const wchar_t* path);

// Writes data as the whole content of the file at path, a run's output that is written in a
// preview too: a missing folder on the way is created, the content goes to a new file of its
// own beside it (never one that exists, never through a link) and that file then replaces
// the old one in one step, so that a reader never sees half of it. The path is resolved ("..")
// and checked whole, its temporary name and a device's name included, before a folder is made;
// the temporary files of its own that a killed run left beside it are removed. False, with
// GetLastError telling why, when it was not written; nothing is left behind then.
bool ReplaceFileContent(const wchar_t* path, const void* data, DWORD size);
