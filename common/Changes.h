// Changes: the one place where the program changes the machine. No other file of the
// program calls TerminateProcess, CreateProcessW, RegDeleteKeyExW, RegDeleteTreeW,
// RegDeleteValueW, DeleteFileW, RemoveDirectoryW, RegSetValueExW or RegCreateKeyExW
// (grep app/ log/ common/ clean/ for them).
//
// In a real run each function acts and logs nothing; the steps log what they did. In a
// preview (PreviewMode) each logs its "Would ..." line instead and changes nothing, and
// what the preview has passed as removed is kept in a small record, so that a later step
// that would find it gone in a real run passes it over too.
#pragma once

#include "Bounded.h"

#include <winsvc.h>

// What a change function did.
enum class Change {
    Made,       // a real run: done
    Failed,     // a real run: tried, not done
    Previewed,  // a preview: nothing done; the "Would ..." line is logged if there was something to change
};

// A key as "Would remove" shows it: the root label, the key path below the root and, for a
// key found in a list, its name below that path (null otherwise).
struct ShownKey {
    const wchar_t* label;
    const wchar_t* path;
    const wchar_t* name;
};

// A scope as "Would mark" shows it: the root label and the SID, or "-" for none.
struct ShownScope {
    const wchar_t* label;
    const wchar_t* sid;
};

// Logs a line that reports a change as it is made: in a real run only, since in a preview
// the change function reports it with its own "Would ..." line.
void LogChange(const wchar_t* format, ...);

// Terminates an opened process (exit code 0). Made when termination was asked for, which
// completes later, whatever TerminateProcess returned. Preview: "Would stop process %d [%s]".
Change StopProcess(HANDLE process, DWORD processId, const wchar_t* exeFile);

// Starts a command line as a hidden child process. Made: child holds its handles, which the
// caller waits on and closes. Failed: GetLastError tells why. Preview: "Would execute [%s]".
Change StartHiddenProcess(wchar_t* commandLine, PROCESS_INFORMATION& child);

// Deletes subkey (a path relative to parent) and everything below it in one registry view
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY), depth first, naming that view on every open. Every key
// of the tree is opened as itself and deleted through its own handle: a registry link met in
// the tree is deleted as the link, and nothing it points to is entered or deleted. Made when the
// key itself is gone; a missing key or a partial deletion is Failed. Preview: "Would remove
// %s\%s" with the shown key, when the key can be opened as the deletion opens it and the
// preview has not passed it (or a key above it) as removed already.
Change DeleteRegistryTree(HKEY parent, const wchar_t* subkey, REGSAM view, const ShownKey& shown);

// Deletes one value of an open key (opened with KEY_QUERY_VALUE | KEY_SET_VALUE in the view the
// caller names). Preview: "Would remove value [%s] from %s\%s" (value name, root label, key path), once per value.
Change DeleteRegistryValue(HKEY key, const wchar_t* valueName, const ShownKey& shown);

// Deletes one file. Preview: "Would delete file [%s]" with shown (path itself when null),
// unless the file lies in a folder the preview has passed as removed.
Change DeleteFileAt(const wchar_t* path, const wchar_t* shown = nullptr);

// Removes one folder, which must be empty by then. Preview: nothing is logged; the folder
// counts as removed from then on, with everything in it.
Change RemoveFolder(const wchar_t* path);

// Deletes the Startup shortcut. Preview: "Would delete startup shortcut [%s]", once per path.
Change DeleteShortcut(const wchar_t* path);

// Stores text (a REG_SZ with its NUL) as the default value of keyPath under root in one view,
// creating the key (and the keys above it) if needed. Preview: "Would mark [%s,%s] with
// signature [%s]".
Change WriteMarker(HKEY root, const wchar_t* keyPath, REGSAM view, const wchar_t* text, const ShownScope& shown);

// The preview's record of what it has passed as removed. It is cleared when a run starts and
// holds a fixed number of characters; when it is full, later items are not recorded and are
// reported again where a real run would have found them gone, never passed over.
void ClearPreviewRecord();
// True in a preview when parent\subkey (in that view) is a key the preview has passed as
// removed, or lies below one; always false in a real run. Keys are compared by the names the
// kernel gives them, so that one key seen through two views or two roots is one key.
bool PreviewHasRemoved(HKEY parent, const wchar_t* subkey, REGSAM view);
// True in a preview when the file or folder at path is one the preview has passed as removed,
// or lies in one; always false in a real run.
bool PreviewHasRemovedPath(const wchar_t* path);
// In a preview, records that the uninstaller of the list entry parent\subkey was named, and
// tells whether it was (or the entry passed as removed): the other view of a shared list
// passes it over, while the entry itself is still named by the purge, which deletes it in a
// real run when its uninstaller fails.
void NotePreviewUninstall(HKEY parent, const wchar_t* subkey, REGSAM view);
bool PreviewHasUninstalled(HKEY parent, const wchar_t* subkey, REGSAM view);

// Deletes a file or an empty folder at the next restart (MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT, appended to the system's pending file operations). A file is
// first renamed within its folder to a name of this program's own, so that a file installed
// at its path before the restart stays; where the rename fails it is scheduled under its own
// name. Made when scheduled; Failed: GetLastError tells why. Never called in a preview.
Change ScheduleDeletionAtRestart(const wchar_t* path, bool isFolder);

// The run's record of what it tried to remove, which tells at the end of the run what is
// still there and so the exit code. A change function takes part with one call, at its top:
//     NoteChange(TriedFile, path, nullptr, path);
// In a real run (with "/ExitCode") the item is recorded once, in the order first tried; in a
// preview the call counts as a change the preview names when the item is there now (always,
// for a kind that has no check, such as a process to stop). Without "/ExitCode" it does
// nothing. A new kind of item (a service, a scheduled task) is an ItemKind of its own whose
// check tells whether the item named by identity is still there.
struct ItemKind {
    // True when the item is still there, or cannot be told to be gone; null for a change
    // that removes nothing (a process stopped or started).
    bool (*stillThere)(const wchar_t* identity, const wchar_t* detail);
};
extern const ItemKind TriedKey;      // identity: a kernel key name ("\REGISTRY\...")
extern const ItemKind TriedValue;    // identity: a kernel key name; detail: the value name
extern const ItemKind TriedFile;     // identity: a path
extern const ItemKind TriedFolder;   // identity: a path
extern const ItemKind TriedProcess;  // no identity: counted by a preview only
extern const ItemKind TriedService;  // identity: a service name; noted when its removal failed
extern const ItemKind TriedTask;     // identity: a task's path; noted when its removal failed
void NoteChange(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown);
// The same for the key parent\subkey (subkey null: parent itself) in one view, or for one of
// its values (valueName not null): the identity is the key's kernel name; shown as
// "HKLM\<path>" or "value [<name>] from HKLM\<path>".
void NoteKeyChange(HKEY parent, const wchar_t* subkey, REGSAM view, const wchar_t* valueName, const ShownKey& shown);
// A file or folder of the record was scheduled for deletion at restart: it does not count
// as not removed.
void NoteScheduled(const wchar_t* path);
// An uninstaller's exit code: 3010 and 1641 mean its work completes at restart.
void NoteUninstallerExit(DWORD exitCode);
// Decides now, for every item recorded so far, whether it is still there: called before a
// loaded hive is unloaded, after which its keys could no longer be told apart from gone ones.
void SettleTriedItems();
// Empties the record: called when a run starts.
void ClearTriedItems();
// The run's exit code: with "/ExitCode", logs "Not removed: %s" for each item still there
// and not scheduled, then "Exit code [%d]", and returns 0, 3010 or 1 (a preview: 1 when it
// named any change, else 0); without it, logs nothing and returns 0.
int LogRunOutcome();

// Deletes a shortcut found by where it points. Preview: "Would delete shortcut [%s]", once per
// path, unless it lies in a folder the preview has passed as removed.
Change DeleteShortcutFile(const wchar_t* path);

// Stops the named service, waiting at most 30 seconds for it to stop, and deletes it; a service
// that does not stop in time is deleted all the same and goes once it stops. Failed: GetLastError
// tells why (5 without an administrator's rights). Preview: "Would remove service [%s]".
Change RemoveService(SC_HANDLE manager, const wchar_t* name);

// Deletes the task named name from an open folder of the Task Scheduler; path is the task's
// whole path, as the preview shows it. Failed: result tells why. Preview: "Would remove
// scheduled task [%s]".
struct ITaskFolder;
Change DeleteScheduledTask(ITaskFolder* folder, const wchar_t* name, const wchar_t* path, HRESULT& result);
