// Clean-up engine: the catalogue and the removal steps, as the clean run and the
// steps call one another. Nothing outside clean/ (and its tests) uses this header.
#pragma once

#include "../change/Change.h"
#include "../common/Registry.h"

// Product catalogue: the fixed knowledge of what belongs to the product family.
// Tables are walked first to last; where a first match decides a log line, the
// order matters.
extern const wchar_t* const AddInKeyPaths[2];
extern const wchar_t* const ProductDisplayNames[9];
extern const wchar_t* const PackageCacheMarkers[3];
extern const wchar_t* const ProcessNames[4];
extern const wchar_t MakerWord[];    // "Quorvex"
extern const wchar_t ProductWord[];  // "Zamo"
// The lists of product keys under a scope; the first is the uninstall list.
extern const wchar_t* const ProductKeyPaths[4];
// Product keys are visited in the 64-bit view first, then in the 32-bit view.
extern const REGSAM RegistryViews[2];
extern const wchar_t AddInProgId[];  // "Zamo.Outlook.AddIn", the add-in's COM name
extern const wchar_t* const ClickToRunAddInKeyPaths[2];

// The catalogue's display name that text equals as a whole, ignoring case, or null.
const wchar_t* CatalogueDisplayName(const wchar_t* text);
// The catalogue name that the opened key's REG_SZ value equals, or null.
const wchar_t* KeyCatalogueName(HKEY key, const wchar_t* valueName);

// "HKLM" for HKEY_LOCAL_MACHINE, "HKU" for any other root: how log lines name a scope.
const wchar_t* RootLabel(HKEY root);

// Process stopper: terminates every process whose executable name contains a
// catalogue process name; pauses 5000 ms when it asked any to terminate.
void StopProductProcesses();

// Scope marker. A scope is HKEY_LOCAL_MACHINE with no SID, or HKEY_USERS and a SID.
// True when the scope is to be swept; false when it bears the current signature
// (the skip line is then logged already).
bool ScopeNeedsCleaning(HKEY root, const wchar_t* sid);
// The same test without the skip line: true when the scope bears the current signature.
bool ScopeBearsSignature(HKEY root, const wchar_t* sid);
// Stores the current signature as the scope's marker (nothing without a signature); a scope
// where an uninstaller did not finish is not marked, with a line that says so.
void MarkScopeCleaned(HKEY root, const wchar_t* sid);

// List scans. A list is a key whose subkeys are entries; a scan reads it once, noting
// which entries match, and then takes the matches in index order. Taking a match that
// deletes it starts the scan over at the first match, as a scan from index 0 would: only
// the matches before it that are still there are taken again, never the other entries
// read again. Each match is examined again right before it is taken.
enum class Taken {
    Kept,     // the entry is still there (kept, failed to go, or passed by a preview)
    Removed,  // the entry is gone
    Changed,  // a child process ran and may have changed any list: this one is read again,
              // and the scan goes on after the entry's index (at it, if the entry is gone)
};
struct ListScan {
    HKEY list;
    REGSAM view;
    // Examines one entry: what it matched (a catalogue name, or other text), or null.
    const wchar_t* (*match)(const ListScan& scan, const wchar_t* name);
    // Takes one match and logs what it did.
    Taken (*take)(const ListScan& scan, const wchar_t* name, const wchar_t* matched);
    // Whatever match and take need besides: the root label, the list's key path, the SID.
    const wchar_t* label;
    const wchar_t* path;
    const wchar_t* sid;
};
// One match of a reading: the entry's index and name.
struct ListMatch {
    DWORD index;
    PathBuffer name;
};
// A reading of one list: its key's registry name, the matcher, and the matches found.
struct ListReading {
    RegistryName identity;
    const wchar_t* (*match)(const ListScan& scan, const wchar_t* name);
    ListMatch* matches;  // on the heap
    DWORD count;
    DWORD capacity;
};
// The readings kept for the passes of one scope sweep, which goes over the four product
// key lists in two views. Where both views show one key (the registry gives it one name),
// both views' passes share its reading. Between the passes only the sweep's own deletions
// change the lists, and those the scans keep track of; a child process drops them all.
struct ListReadings {
    ListReading lists[8];
    DWORD count;
};
// Scans one list: with the kept reading of its key when readings holds one for the same
// matcher, otherwise with a new one, which readings (when not null) then keeps.
void ScanList(const ListScan& scan, ListReadings* readings);
// Drops and frees every kept reading.
void ForgetListReadings(ListReadings& readings);
// Calls visit with the name of each subkey of root\path (64-bit view), in enumeration
// order; a key that cannot be opened has none.
void ForEachSubkey(HKEY root, const wchar_t* path, void (*visit)(const wchar_t* name));

// Passive uninstaller: runs MsiExec /x quietly for every matching entry of the scope's
// uninstall list in one view (KEY_WOW64_64KEY or KEY_WOW64_32KEY) whose name is a product
// code that the Windows Installer does not know as another product's, waiting for each at
// most waitMs. A run always waits UninstallerWaitMs; the tests pass shorter bounds.
extern const DWORD UninstallerWaitMs;
void UninstallProductsPassively(HKEY root, const wchar_t* sid, REGSAM view, ListReadings* readings = nullptr,
                                DWORD waitMs = UninstallerWaitMs);
// True when an uninstaller of the scope did not finish in this run (still running when its
// wait ended, or another installation in progress): the scope is not marked.
bool ScopeHasUnfinishedUninstaller(HKEY root, const wchar_t* sid);
// Forgets the scopes of unfinished uninstallers: called when a run starts.
void ForgetUnfinishedUninstallers();
// Logs that a list entry matched: the line that comes before its removal is tried.
void LogRemovalAttempt(const wchar_t* name, const wchar_t* displayName);

// Registry purge of one scope: the passive uninstall in both views, then what
// betweenPasses does (nothing when null), then the product, settings and add-in keys
// of both views, all with one set of readings.
void SweepScopeRegistry(HKEY root, const wchar_t* sid, void (*betweenPasses)());
// A product key list's matcher: the catalogue name of the entry's "DisplayName", else of
// its "ProductName" (the entry opened once for both); null for an entry that a preview has
// passed as removed already.
const wchar_t* MatchProductKey(const ListScan& scan, const wchar_t* name);
// The product keys alone: every subkey of "<sid>\<keyPath>" in one view whose
// "DisplayName" or "ProductName" is a catalogue name, deleted with its tree.
void PurgeProductKeys(HKEY root, const wchar_t* sid, const wchar_t* keyPath, REGSAM view);

// Deletes parent\name with its tree in one view, the parent shown as label\path: logs
// "Successfully removed from %s\%s" or "Failed to remove from %s\%s" (a preview: "Would remove").
Change RemoveListedKey(HKEY parent, const wchar_t* name, REGSAM view, const wchar_t* label, const wchar_t* path);

// COM registration of the Outlook add-in: its ProgID key, and each class key that the ProgID
// names and that names the ProgID back, under the scope's Software\Classes in both views.
void PurgeComRegistration(HKEY root, const wchar_t* sid);
// The same at the top of a class hive loaded at HKEY_USERS\<classesName>.
void PurgeClassHiveComRegistration(const wchar_t* classesName);

// Click-to-Run's copies of the add-in keys in the machine scope, both views, deleted silently.
void PurgeClickToRunAddIns();

// Outlook's own records of the add-in in a user scope, both views: its values in the resiliency
// lists and load times of every Office version, and the disabled items that name it.
void PurgeOutlookRecords(const wchar_t* sid);

// Deletes one value of an open key (KEY_QUERY_VALUE | KEY_SET_VALUE) and logs "Removed value
// [%s] from %s\%s" or the failure, the key shown as label\path.
void RemoveRegistryValue(HKEY key, const wchar_t* valueName, const wchar_t* label, const wchar_t* path);

// Windows Installer data purge for one SID under UserData (machine, 64-bit view): the
// component records, then the product records.
extern const wchar_t InstallerUserData[];
void PurgeInstallerData(const wchar_t* sid);

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
// The profile folder of a SID: its profile list entry's "ProfileImagePath" (REG_SZ or
// REG_EXPAND_SZ), expanded. True when out holds it.
bool ReadProfileFolder(const wchar_t* sid, PathBuffer& out);
// Resolves one of a user's shell folders ("Local AppData", "Startup") against that
// user's own profile folder. True when out holds the folder's path.
bool ResolveUserShellFolder(const wchar_t* sid, const wchar_t* valueName, PathBuffer& out);
// A drive path ("C:\...") or a UNC path ("\\server\..."), never one taken relative to
// the current folder or drive.
bool IsFullPath(const wchar_t* path);
// A drive path: a letter, a colon and a backslash.
bool IsDrivePath(const wchar_t* path);

// Profiles whose hives are not loaded: each one of the profile list is loaded, swept
// as a loaded user is, its class hive's product keys purged, and unloaded again.
void SweepUnloadedProfiles();

// Package caches. A user's: the entry folders of cache that hold a catalogue marker, announced
// with the cache's line first. The machine's ("%ProgramData%\Package Cache"): the entry folders
// that hold a marker or a Windows Installer package of a catalogue product, the cache's line
// logged before the first of them.
void RemoveUserPackageCache(const PathBuffer& cache);
void RemoveMachinePackageCache();

// RemoveFolderTree expands the path it is given: true when path expands to itself, so that a
// folder name such as "%NAME%" is never handed to it.
bool ExpandsToItself(const PathBuffer& path);

// Deletes a folder tree: its entries in the order the folder lists them, a sub-folder's
// tree where it comes, the folder last.
void RemoveFolderTree(const wchar_t* path);
// With "/DeleteAtRestart", schedules a file or folder whose deletion failed for deletion at
// the next restart and logs the outcome with the path as logged; nothing without it.
void DeleteAtRestartIfAsked(const wchar_t* logged, const wchar_t* acting, bool isFolder);
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

// Run report ("/Report:"): the scopes a run met and how it left each, and the report of the
// whole run written at its end.
enum class ScopeOutcome {
    Cleaned,
    SkippedSignature,
    SkippedWellKnown,
    SkippedClassHive,
    NotMarkedUnfinished,  // swept, but an uninstaller did not finish there
};
// Records a scope met (sid null or empty: the machine's), with its profile folder where the
// profile list knows it. Nothing is kept without "/Report:".
void NoteScope(HKEY root, const wchar_t* sid, ScopeOutcome outcome);
// Forgets the scopes of an earlier run and takes the time the run starts.
void BeginRunReport();
// With "/Report:", writes the report of the run that ends with exitCode (what it exits with
// under "/ExitCode") and logs "Report written [%s]" or "Failed to write report [%s] [%d]".
void WriteRunReport(int exitCode);

// A class ID in its registry form ("{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"), and nothing else.
bool IsClassId(const wchar_t* text);

// Shell registrations of one scope: what ties the product into the shell and the system
// besides its own keys (App Paths, "Open with" entries, file types, URL protocols, COM servers
// and shell extensions, browser hosts, registered applications), each one whose program, file or
// key is the product's by the product targets' rule. A user's Software is read in one view, the
// machine's in both; each class root (a Software\Classes, a class hive's top) once per view that
// shows a key of its own.
void RemoveUserShellRegistrations(const wchar_t* sid);
void RemoveMachineShellRegistrations();
// The class hive of the user sid, loaded at HKEY_USERS\<classesName>.
void RemoveClassHiveShellRegistrations(const wchar_t* sid, const wchar_t* classesName);

// One class root of a scope as the shell registration steps read it, and what its class list
// held that the steps come back to.
struct ClassRoot {
    HKEY key;  // opened for reading in view
    REGSAM view;
    PathBuffer path;        // below the scope's root, as log lines show it
    NameList extensions;    // names beginning with "."
    NameList windowsNames;  // names that Windows itself defines: only their verbs are looked at
    NameList progIds;       // the product's ProgIDs and URL protocols
    NameList applications;  // the product's Applications\<name> keys
    NameList classIds;      // the product's COM classes, in either class list of the root
};
struct ShellScope {
    HKEY root;
    const wchar_t* sid;           // null for the machine
    PathBuffer software;          // the scope's Software key; empty for a class hive
    DWORD softwareViews;          // how many of RegistryViews show the scope's Software
    ProductTargets targets;       // the scope's own entries' terms
    bool user;                    // a user's: names its entries take from the machine's classes count too
    ProductTargets machine;       // the machine's terms, for those names
    ClassRoot classes[2];
    DWORD classCount;
    RegistryName seen[8];         // the class roots and class lists read so far
    DWORD seenCount;
};
// True the first time a key (by the name the registry gives it) is met in the scope.
bool FirstVisit(ShellScope& scope, HKEY key);
// COM servers: fills root.classIds with the classes of both its class lists whose
// InprocServer32 file or LocalServer32 program is the product's.
void FindProductClasses(ShellScope& scope, ClassRoot& root);
// Removes the shell extension handlers that name a product class, in each class root, and
// the approved list's values of those classes under the scope's Software.
void RemoveShellExtensions(const ShellScope& scope);
// Removes the product classes found.
void RemoveProductClasses(const ShellScope& scope);

// Browser native-messaging hosts whose manifest lies in the product's folders, under the
// scope's Software in each of its views.
void RemoveBrowserHosts(const ShellScope& scope);

// Firewall rules whose program is the product's, removed by name through the firewall's own
// interface; a name that another program's rule shares stays (logged as failed with 5).
void RemoveFirewallRules();

// The Windows Installer's own records of the family's products, beyond the product keys:
// features, upgrade codes, patches, cached packages, icon folders and folder counts.
// A product is one whose registration names a catalogue name; a product code is handled in
// the Installer's packed form too (32 hex digits, see PackProductCode).
struct InstallerProduct {
    wchar_t code[39];         // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    wchar_t packed[33];
    const wchar_t* name;      // the catalogue name its registration gives
    bool machine;             // named by the machine's own records, not only by a user's hive
    PathBuffer localPackage;  // "LocalPackage" of its InstallProperties, or empty
};
// A patch that a product's patch list names, with the name of that product.
struct InstallerPatch {
    wchar_t packed[33];
    const wchar_t* productName;
};
struct InstallerProductList {
    InstallerProduct* products;  // on the heap
    DWORD count;
    DWORD capacity;
    InstallerPatch* patches;  // on the heap
    DWORD patchCount;
    DWORD patchCapacity;
};
// The policy's copies of the Installer's records, one key per SID (HKEY_LOCAL_MACHINE, 64-bit view).
extern const wchar_t InstallerManaged[];
// The Installer's packed form of a braced product code, and back; false for anything that
// is not exactly such a code.
bool PackProductCode(const wchar_t* code, wchar_t (&packed)[33]);
bool UnpackProductCode(const wchar_t* packed, wchar_t (&code)[39]);
// The products that the machine's own records name (sid null), or, for a user scope, those
// that the Installer registered for the SID under UserData and those the user's hive names
// (its Installer\Products and its uninstall list); start out empty.
void FindInstallerProducts(const wchar_t* sid, InstallerProductList& out);
void FreeInstallerProducts(InstallerProductList& list);
// True when the list holds the product of that packed code.
bool ListsProduct(const InstallerProductList& list, const wchar_t* packed);
// MsiExec can remove a per-user product of the user who runs the program only while that
// product's records are intact. Where its uninstall entry lies in the machine's list (as Wine
// keeps it), the machine's pass runs its uninstaller: the user's pass then hands its records
// over (moves them out of products), and the machine's pass purges them after its uninstallers.
void HoldRecordsForUninstallers(const wchar_t* sid, InstallerProductList& products);
// True when the user's product key of that packed name waits for the machine's uninstallers.
bool ProductRecordWaits(const wchar_t* sid, const wchar_t* packed);
// Purges what the user's pass handed over, and forgets it; ForgetWaitingRecords when a run starts.
void PurgeWaitingUserRecords();
void ForgetWaitingRecords();

// A user's Installer records of the products: features, upgrade code values, patches and
// the user's icon folders.
void PurgeUserInstallerRecords(const wchar_t* sid, const InstallerProductList& products);
// The machine's records of the products the machine names: features, upgrade code values,
// the policy's copies under Managed, and their patches that no other product lists.
void PurgeMachineInstallerRecords(const InstallerProductList& products);
// A patch registration of the machine with its cached patch, when no product but the
// listed ones names the patch.
void PurgeMachinePatches(const InstallerProductList& products);
// The cached packages and icon folders of the products the machine names, in %WINDIR%\Installer.
void RemoveCachedInstallerFiles(const InstallerProductList& products);
// A user's icon folders of the products, %APPDATA%\Microsoft\Installer\<{code}>.
void RemoveUserInstallerFolders(const wchar_t* sid, const InstallerProductList& products);
// The Installer's "Folders" and "SharedDLLs" values that name a path inside the product's
// folders (the program folders' maker folder, the products' icon folders) that is gone.
void PurgeInstallerFolderCounts(const InstallerProductList& products);
// Whether a removal in root\path has to visit the view (KEY_WOW64_64KEY or KEY_WOW64_32KEY):
// the 64-bit view always; the 32-bit view when it shows another key than the 64-bit view, since
// a key the registry shares between the views is covered by the first visit (and a record
// that stays would otherwise be tried and reported twice).
bool VisitsView(HKEY root, const wchar_t* path, REGSAM view);
// Deletes root\list\name with its tree when it is there, logging "Successfully removed from
// %s\%s" (or the failure) with the whole key; label names the root.
void RemoveInstallerKey(HKEY root, const wchar_t* list, const wchar_t* name, REGSAM view);
// The property of a Windows Installer package from its Property table; nothing is installed.
bool ReadPackageProperty(const wchar_t* package, const wchar_t* property, PathBuffer& out);
// Removes a cached package or patch of the Installer (checked by the caller) with the lines
// "Removing cached installer package [%s] of [%s]" and "Deleting file [%s]"; a preview logs
// "Would remove cached installer package [%s] of [%s]" alone.
void RemoveCachedInstallerPackage(const wchar_t* path, const wchar_t* productName);
// A path that names a plain file (no folder, no link) directly in that folder, by a name
// with no stream, wildcard or separator in it.
bool IsCachedFileName(const wchar_t* path);
// The folder of the Installer's cached packages, "%WINDIR%\Installer".
bool InstallerCacheFolder(PathBuffer& out);
