// Clean-up engine: the catalogue and the removal steps, as the clean run and the
// steps call one another. Nothing outside clean/ (and its tests) uses this header.
#pragma once

#include "../common/Bounded.h"

// Product catalogue: the fixed knowledge of what belongs to the product family.
// Tables are walked first to last; where a first match decides a log line, the
// order matters.
extern const wchar_t* const AddInKeyPaths[2];
extern const wchar_t* const ProductDisplayNames[9];
extern const wchar_t* const PackageCacheMarkers[3];
extern const wchar_t* const ProcessNames[4];
extern const wchar_t MakerWord[];    // "Quorvex"
extern const wchar_t ProductWord[];  // "Zamo"

// The catalogue's display name that text equals as a whole, ignoring case, or null.
const wchar_t* CatalogueDisplayName(const wchar_t* text);

// "HKLM" for HKEY_LOCAL_MACHINE, "HKU" for any other root: how log lines name a scope.
const wchar_t* RootLabel(HKEY root);

// Process stopper: terminates every process whose executable name contains a
// catalogue process name; pauses 5000 ms when it asked any to terminate.
void StopProductProcesses();
// True when the opened process (with query rights) runs the image whose file name is
// exeFile, ignoring case: how a snapshot entry is confirmed before it is stopped.
bool ProcessImageIs(HANDLE process, const wchar_t* exeFile);

// Scope marker. A scope is HKEY_LOCAL_MACHINE with no SID, or HKEY_USERS and a SID.
// True when the scope is to be swept; false when it bears the current signature
// (the skip line is then logged already).
bool ScopeNeedsCleaning(HKEY root, const wchar_t* sid);
// The same test without the skip line: true when the scope bears the current signature.
bool ScopeBearsSignature(HKEY root, const wchar_t* sid);
// Stores the current signature as the scope's marker (nothing without a signature).
void MarkScopeCleaned(HKEY root, const wchar_t* sid);

// Passive uninstaller: runs MsiExec /x quietly for every matching product-code entry
// of the scope's uninstall list in one view (KEY_WOW64_64KEY or KEY_WOW64_32KEY).
void UninstallProductsPassively(HKEY root, const wchar_t* sid, REGSAM view);
// True when the named REG_SZ value of the subkey equals a catalogue display name;
// logs the match.
bool MatchCatalogueName(HKEY parent, REGSAM access, const wchar_t* subkey, const wchar_t* valueName);
// Logs that a list entry matched: the line that comes before its removal is tried.
void LogRemovalAttempt(const wchar_t* name, const wchar_t* displayName);

// Product key lists. A reading holds the subkeys of one list, from some index to the
// end, whose "DisplayName" (else "ProductName") is a catalogue name, in index order.
const DWORD ListMatchCapacity = 64;
struct ListMatch {
    DWORD index;
    const wchar_t* displayName;  // the catalogue's entry that matched
    PathBuffer name;
};
struct ListReading {
    DWORD matchCount;
    ListMatch matches[ListMatchCapacity];
    DWORD end;  // the index where the reading stopped
    bool cut;   // it stopped at a match it had no room for, not at the end of the list
};
// The catalogue name that the opened key's REG_SZ value equals, or null.
const wchar_t* KeyCatalogueName(HKEY key, const wchar_t* valueName);
// The catalogue name of the list entry's "DisplayName", else of its "ProductName", or
// null; the entry is opened once for both. Logs nothing.
const wchar_t* EntryCatalogueName(HKEY list, REGSAM access, const wchar_t* name);
// Between these two calls (one sweep of a scope) a reading is kept and handed to every
// later pass over the same key, whichever view opened it, until a child process has run
// or the list's subkeys changed other than by the sweep's own deletions. Outside them
// every pass reads afresh.
void BeginListReadings();
void EndListReadings();
// Drops every kept reading: a child process may have changed any list.
void ForgetListReadings();
// The reading of the opened list from index from on: the kept one, or a new one. It
// stays valid until the next call of any of these functions.
ListReading& ReadProductKeyList(HKEY list, REGSAM access, DWORD from);
// The sweep deleted the key of the match at position: it goes, and the later subkeys
// move down one index.
void DropListMatch(HKEY list, ListReading& reading, DWORD position);

// Registry purge of one scope. SweepScopeRegistry is the two below in order: the
// passive uninstall in both views, then the eight purge calls.
void SweepScopeRegistry(HKEY root, const wchar_t* sid);
void UninstallScopeProducts(HKEY root, const wchar_t* sid);
void PurgeScopeRegistry(HKEY root, const wchar_t* sid);
// Product keys under keyPath, the settings keys and the add-in keys, in one view.
void PurgeRegistryScope(HKEY root, const wchar_t* sid, const wchar_t* keyPath, REGSAM view);
// The product keys alone: every subkey of "<sid>\<keyPath>" in one view whose
// "DisplayName" or "ProductName" is a catalogue name, deleted with its tree.
void PurgeProductKeys(HKEY root, const wchar_t* sid, const wchar_t* keyPath, REGSAM view);

// Windows Installer data purge for one SID under UserData (machine, 64-bit view).
void PurgeInstallerComponents(const wchar_t* sid);
void PurgeInstallerProducts(const wchar_t* sid);

// User profiles: names under HKEY_USERS shorter than this are the well-known accounts'
// hives, and the machine's profile list (HKEY_LOCAL_MACHINE, 64-bit view) names the
// profile folder of each SID.
const size_t WellKnownNameLength = 10;
extern const wchar_t ProfileListKey[];
// The shell folder definitions, a user's below the user's key and the machine's common ones
// ("Common Desktop", ...) below HKEY_LOCAL_MACHINE.
extern const wchar_t ShellFoldersKey[];

// User profile sweep of one name under HKEY_USERS.
void SweepUserScope(const wchar_t* sid);
// Resolves one of a user's shell folders ("Local AppData", "Startup") against that
// user's own profile folder. True when out holds the folder's path.
bool ResolveUserShellFolder(const wchar_t* sid, const wchar_t* valueName, PathBuffer& out);
// The user's profile folder from the machine's profile list, expanded. True when out holds it.
bool ResolveUserProfile(const wchar_t* sid, PathBuffer& out);
// A drive path ("C:\...") or a UNC path ("\\server\..."), never one taken relative to
// the current folder or drive.
bool IsFullPath(const wchar_t* path);

// Profiles whose hives are not loaded: each one of the profile list is loaded, swept
// as a loaded user is, its class hive's product keys purged, and unloaded again.
void SweepUnloadedProfiles();

// Deletes a folder tree: files first, sub-folders depth first, the folder last.
void RemoveFolderTree(const wchar_t* path);
// Appends an entry's name to a folder path; true only when the result fit and is
// exactly the folder, one backslash and the name.
bool AppendEntryName(PathBuffer& path, const wchar_t* name);

// Deletes one value of an open key (KEY_QUERY_VALUE | KEY_SET_VALUE, in the view the caller
// names) and logs how that went; label and path name the key as the other lines do.
void RemoveRegistryValue(HKEY key, const wchar_t* valueName, const wchar_t* label, const wchar_t* path);

// Product targets: what an entry that starts a program must start to count as the product's.
// The program lies inside one of the product's folders (compared component by component,
// ignoring case), or its file name is a catalogue process name. Environment references are
// taken in the entry's own terms: a user's (USERPROFILE, LOCALAPPDATA, APPDATA as that user's)
// or the machine's; the machine's own variables (ProgramFiles, SystemRoot, ...) in both. An
// entry with any other reference, or one that does not fit, is not the product's.
struct ProductTargets {
    const wchar_t* sid;  // the user whose entries these are; null for the machine's
    DWORD folderCount;
    PathBuffer folders[4];  // the program folders' "Quorvex", and the user's application folder
};
// The targets of a user's entries (sid) or of the machine's (null): the machine's entries
// count no user's application folder, which only that user's own entries start from.
void ReadProductTargets(const wchar_t* sid, ProductTargets& out);
// A command line whose program (its first token, quoted or not) is the product's.
bool CommandStartsProducts(const ProductTargets& targets, const wchar_t* command);
// A program's path (quoted as a whole or not) that is the product's.
bool PathIsProducts(const ProductTargets& targets, const wchar_t* path);

// Run entries: the values of "...\CurrentVersion\Run" and "...\RunOnce" whose command starts
// the product's program, in a user's scope (one view: the user's Software is shared) and in
// both views of the machine's.
void RemoveUserRunEntries(const wchar_t* sid);
void RemoveMachineRunEntries();

// Shortcuts whose stored target is the product's: on the user's Desktop and in the user's
// Start menu programs and their sub-folders; on the machine's common Desktop and in its common
// programs. A programs sub-folder named "Quorvex" or "Zamo" that this leaves empty goes too.
void DeleteUserShortcuts(const wchar_t* sid);
void DeleteCommonShortcuts();

// Services and scheduled tasks that start the product's program: machine-wide, stopped and
// removed through the system's own managers.
void RemoveProductServices();
void RemoveProductTasks();
