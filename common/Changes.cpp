// Changes: every change the program makes to the machine, made here or, in a preview,
// logged here as what would be done; and the run's record of what it tried to remove.
#include "Changes.h"

#include "../log/log.h"
#include "FoldedSet.h"
#include "Registry.h"
#include "Settings.h"

#include <shlwapi.h>
#include <netfw.h>
#include <taskschd.h>
#include <wchar.h>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);
extern "C" ULONG NTAPI RtlNtStatusToDosError(LONG status);

const wchar_t ScopeMarkerKeyPath[] = L"Software\\Quorvex\\Cleaned";

namespace {

// What a preview has passed as removed: kernel names of keys, values (below) and paths of files
// and folders. An item covers itself and everything below it. The set grows with the run, so
// that a preview of any size names each item once.
FoldedSet Record = {};

// Values are recorded as this mark, which begins no kernel name and no path, the length of
// their key's kernel name, "|", that name, "\\" and the value's name. A value's name may hold
// backslashes, so a value item covers nothing but itself.
const wchar_t ValueMark = L'|';
typedef wchar_t ValueRecordItem[4 * MAX_PATH + 16];

// True when entry is an item of the record or lies below one: the entry itself and each of
// the names above it (cut before each backslash) are looked up.
bool RecordCovers(const wchar_t* entry)
{
    size_t length = wcslen(entry);
    if (FoldedSetHas(Record, entry, length))
        return true;
    if (entry[0] == ValueMark)
        return false;
    for (size_t at = 0; at < length; at++)
        if (entry[at] == L'\\' && at > 0 && FoldedSetHas(Record, entry, at))
            return true;
    return false;
}

// Adds an item. One the heap has no room for is left out: the preview then names what lies
// in it again where a real run would find it gone, and never passes anything over.
void RecordItem(const wchar_t* item)
{
    if (item[0] == L'\0' || RecordCovers(item))
        return;
    FoldedSetAdd(Record, item, wcslen(item));
}

// Opens a key as itself: a registry link is opened as the link, not as the key it names.
bool OpenKeyAsItself(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY& key)
{
    return RegOpenKeyExW(parent, subkey, REG_OPTION_OPEN_LINK, access, &key) == ERROR_SUCCESS;
}

// The kernel's name of an open key; empty when it does not fit.
void ReadKernelName(HKEY key, RegistryName& out)
{
    if (!RegistryKeyName(key, out))
        out[0] = L'\0';
}

// The kernel's name of parent\subkey opened with access; false when it cannot be opened so.
bool KeyIdentity(HKEY parent, const wchar_t* subkey, REGSAM access, RegistryName& out)
{
    HKEY key;
    if (!OpenKeyAsItself(parent, subkey, access, key))
        return false;
    ReadKernelName(key, out);
    RegCloseKey(key);
    return true;
}

// False with GetLastError telling why the key itself stayed.
bool DeleteTree(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    HKEY key;
    LONG opened = RegOpenKeyExW(parent, subkey, REG_OPTION_OPEN_LINK, KEY_READ | DELETE | view, &key);
    if (opened != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(opened));
        return false;
    }
    // Each deletion moves the later children down, so the scan stays at an index until
    // the child there cannot be deleted. A name that cannot be opened as enumerated (one
    // with a NUL inside it) stays, and so does this key.
    DWORD index = 0;
    for (;;) {
        wchar_t name[MAX_PATH];
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(key, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (!DeleteTree(key, name, view))
            index++;
    }
    LONG status = NtDeleteKey(key);
    RegCloseKey(key);
    if (status < 0)
        SetLastError(RtlNtStatusToDosError(status));
    return status >= 0;
}

void PreviewKeyRemoval(HKEY parent, const wchar_t* subkey, REGSAM view, const ShownKey& shown)
{
    RegistryName identity;
    if (!KeyIdentity(parent, subkey, KEY_READ | DELETE | view, identity))
        return;
    if (identity[0] != L'\0' && RecordCovers(identity))
        return;
    ShownPathBuffer path;
    if (!ShownKeyPath(path, shown.path, shown.name))
        return;
    LogLine(L"Would remove %s\\%s", shown.label, path);
    RecordItem(identity);
}

const wchar_t RenamePrefix[] = L"~ZamoClean-";

// What this run has scheduled for deletion at restart: each path as scheduled and, for a
// renamed file, its new path.
NameList ScheduledPaths = {};

// Renames a file within its folder to a name of this program's own; true when renamed. The
// name is never one that exists: an existing file is not replaced.
bool RenameForRestart(const wchar_t* path, PathBuffer& renamed)
{
    // A file renamed so by an earlier sweep of this run is not renamed again.
    const wchar_t* name = PathFindFileNameW(path);
    if (StrStrIW(name, RenamePrefix) == name)
        return false;
    PathBuffer folder;
    if (!TextCopy(folder, path))
        return false;
    wchar_t* lastSeparator = wcsrchr(folder, L'\\');
    if (lastSeparator == nullptr)
        return false;
    *lastSeparator = L'\0';
    static LONG counter = 0;
    for (int attempt = 0; attempt < 16; attempt++) {
        if (!FormatText(renamed, L"%s\\%s%u-%u.deleted-at-restart", folder, RenamePrefix,
                        static_cast<unsigned>(GetCurrentProcessId()),
                        static_cast<unsigned>(InterlockedIncrement(&counter))))
            return false;
        if (MoveFileExW(path, renamed, 0))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// The record's item for a value of the key named keyName; false when it does not fit.
bool ValueIdentity(const wchar_t* keyName, const wchar_t* valueName, ValueRecordItem& out)
{
    wchar_t prefix[16];
    size_t keyLength = wcslen(keyName);
    wsprintfW(prefix, L"%c%u|", ValueMark, static_cast<unsigned>(keyLength));
    size_t prefixLength = wcslen(prefix);
    size_t nameLength = wcslen(valueName);
    if (prefixLength + keyLength + 1 + nameLength >= ARRAYSIZE(out))
        return false;
    wchar_t* at = out;
    wmemcpy(at, prefix, prefixLength);
    at += prefixLength;
    wmemcpy(at, keyName, keyLength);
    at += keyLength;
    *at++ = L'\\';
    wmemcpy(at, valueName, nameLength + 1);
    return true;
}

// A value is named when it is there, its key has not been passed as removed, and it has not
// been named before (through the other view of a shared key, say).
void PreviewValueRemoval(HKEY key, const wchar_t* valueName, const ShownKey& shown)
{
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    RegistryName keyName;
    ValueRecordItem identity;
    identity[0] = L'\0';
    if (RegistryKeyName(key, keyName)) {
        if (RecordCovers(keyName))
            return;
        if (ValueIdentity(keyName, valueName, identity) && RecordCovers(identity))
            return;
    }
    ShownPathBuffer path;
    if (!ShownKeyPath(path, shown.path, shown.name))
        return;
    LogLine(L"Would remove value [%s] from %s\\%s", valueName, shown.label, path);
    RecordItem(identity);
}

// A path in its literal form as the log and the preview's record show it: without the
// prefix that makes the system take it as it stands. Empty when it does not fit.
const wchar_t* WithoutLiteralPrefix(const wchar_t* path, PathBuffer& out)
{
    const wchar_t literal[] = L"\\\\?\\";
    const wchar_t literalShare[] = L"\\\\?\\UNC\\";
    if (StrCmpNIW(path, literalShare, ARRAYSIZE(literalShare) - 1) == 0) {
        if (!FormatText(out, L"\\\\%s", path + ARRAYSIZE(literalShare) - 1))
            out[0] = L'\0';
        return out;
    }
    if (wcsncmp(path, literal, ARRAYSIZE(literal) - 1) == 0)
        return path + ARRAYSIZE(literal) - 1;
    return path;
}


void NoteFailure(DWORD error);

// What a change did; a failure's reason (GetLastError) goes with the item noted for it.
Change Outcome(bool made)
{
    if (made)
        return Change::Made;
    NoteFailure(GetLastError());
    return Change::Failed;
}

// A shortcut's deletion, which a preview names once with its own line.
Change DeleteShortcutShown(const wchar_t* path, const wchar_t* previewFormat)
{
    NoteChange(TriedFile, path, nullptr, path);
    if (PreviewMode) {
        if (!RecordCovers(path)) {
            LogLine(previewFormat, path);
            RecordItem(path);
        }
        return Change::Previewed;
    }
    return Outcome(DeleteFileW(path) != FALSE);
}

} // namespace

void LogChange(const wchar_t* format, ...)
{
    if (PreviewMode)
        return;
    va_list arguments;
    va_start(arguments, format);
    LogLineArguments(format, arguments);
    va_end(arguments);
}

Change StopProcess(HANDLE process, DWORD processId, const wchar_t* exeFile)
{
    wchar_t processText[16];
    wsprintfW(processText, L"%u", static_cast<unsigned>(processId));
    NoteChange(TriedProcess, exeFile, processText, exeFile);
    if (PreviewMode) {
        LogLine(L"Would stop process %d [%s]", static_cast<int>(processId), exeFile);
        return Change::Previewed;
    }
    TerminateProcess(process, 0);
    return Change::Made;
}

namespace {

Change StartHidden(wchar_t* commandLine, PROCESS_INFORMATION& child)
{
    ZeroMemory(&child, sizeof(child));
    if (PreviewMode) {
        LogLine(L"Would execute [%s]", commandLine);
        return Change::Previewed;
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    return Outcome(CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                                  nullptr, &startup, &child) != FALSE);
}

} // namespace

Change StartHiddenProcess(wchar_t* commandLine, PROCESS_INFORMATION& child)
{
    NoteChange(TriedProcess, commandLine, nullptr, commandLine);
    return StartHidden(commandLine, child);
}

Change DeleteRegistryTree(HKEY parent, const wchar_t* subkey, REGSAM view, const ShownKey& shown)
{
    NoteKeyChange(parent, subkey, view, nullptr, shown);
    if (PreviewMode) {
        PreviewKeyRemoval(parent, subkey, view, shown);
        return Change::Previewed;
    }
    return Outcome(DeleteTree(parent, subkey, view));
}

Change DeleteRegistryValue(HKEY key, const wchar_t* valueName, const ShownKey& shown)
{
    NoteKeyChange(key, nullptr, 0, valueName, shown);
    if (PreviewMode) {
        PreviewValueRemoval(key, valueName, shown);
        return Change::Previewed;
    }
    LONG deleted = RegDeleteValueW(key, valueName);
    SetLastError(static_cast<DWORD>(deleted));
    return Outcome(deleted == ERROR_SUCCESS);
}

Change DeleteFileAt(const wchar_t* path, const wchar_t* shown)
{
    PathBuffer plainBuffer;
    const wchar_t* plain = WithoutLiteralPrefix(path, plainBuffer);
    NoteChange(TriedFile, path, nullptr, plain);
    if (PreviewMode) {
        if (!RecordCovers(plain))
            LogLine(L"Would delete file [%s]", shown != nullptr ? shown : plain);
        return Change::Previewed;
    }
    return Outcome(DeleteFileW(path) != FALSE);
}

Change RemoveFolder(const wchar_t* path, const wchar_t* shownEmptyTree)
{
    PathBuffer plainBuffer;
    const wchar_t* plain = WithoutLiteralPrefix(path, plainBuffer);
    NoteChange(TriedFolder, path, nullptr, plain);
    if (PreviewMode) {
        if (shownEmptyTree != nullptr && !RecordCovers(plain))
            LogLine(L"Would remove folder [%s]", shownEmptyTree);
        RecordItem(plain);
        return Change::Previewed;
    }
    return Outcome(RemoveDirectoryW(path) != FALSE);
}

Change DeleteShortcut(const wchar_t* path)
{
    return DeleteShortcutShown(path, L"Would delete startup shortcut [%s]");
}

Change ScheduleDeletionAtRestart(const wchar_t* path, bool isFolder)
{
    if (PreviewMode)
        return Change::Previewed;
    PathBuffer renamed;
    bool moved = !isFolder && RenameForRestart(path, renamed);
    if (MoveFileExW(moved ? renamed : path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        NoteScheduled(path);
        // A name not kept here is scheduled again when met again: twice in the system's
        // list does no harm beyond the line.
        AddName(ScheduledPaths, path);
        if (moved)
            AddName(ScheduledPaths, renamed);
        return Change::Made;
    }
    DWORD error = GetLastError();
    // Put back where it was, so that the file is not left under a name nobody knows; one
    // that cannot be put back is recorded under its new name.
    if (moved && !MoveFileExW(renamed, path, 0))
        NoteChange(TriedFile, renamed, nullptr, renamed);
    SetLastError(error);
    return Change::Failed;
}

Change WriteMarker(HKEY root, const wchar_t* keyPath, REGSAM view, const wchar_t* text, const ShownScope& shown)
{
    if (PreviewMode) {
        LogLine(L"Would mark [%s,%s] with signature [%s]", shown.label, shown.sid, text);
        return Change::Previewed;
    }
    const REGSAM access = KEY_WRITE | view;
    HKEY key;
    if (RegOpenKeyExW(root, keyPath, 0, access, &key) != ERROR_SUCCESS &&
        RegCreateKeyExW(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
        return Change::Failed;
    // Stored with its NUL, so that any reader finds a terminated string.
    DWORD size = static_cast<DWORD>((wcsnlen(text, MAX_PATH - 1) + 1) * sizeof(wchar_t));
    LONG written = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
    RegCloseKey(key);
    SetLastError(static_cast<DWORD>(written));
    return Outcome(written == ERROR_SUCCESS);
}

bool ScheduledAlready(const wchar_t* path)
{
    for (DWORD i = 0; i < ScheduledPaths.count; i++) {
        if (CompareStringOrdinal(ScheduledPaths.names[i], -1, path, -1, TRUE) == CSTR_EQUAL) {
            NoteScheduled(path);
            return true;
        }
    }
    return false;
}

void ClearPreviewRecord()
{
    FoldedSetClear(Record);
}

bool PreviewHasRemoved(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    if (!PreviewMode)
        return false;
    RegistryName identity;
    return KeyIdentity(parent, subkey, KEY_READ | view, identity) && identity[0] != L'\0' && RecordCovers(identity);
}

// An uninstaller the preview has named is recorded under its entry's kernel name behind
// this mark, which no kernel name starts with: it covers no key the purge looks for.
const wchar_t UninstallMark = L'*';

void NotePreviewUninstall(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    RegistryName identity;
    if (PreviewMode && KeyIdentity(parent, subkey, KEY_READ | view, identity)) {
        wchar_t marked[ARRAYSIZE(identity) + 1];
        if (FormatTextCounted(marked, ARRAYSIZE(marked), L"%c%s", UninstallMark, identity))
            RecordItem(marked);
    }
}

bool PreviewHasUninstalled(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    RegistryName identity;
    if (!PreviewMode || !KeyIdentity(parent, subkey, KEY_READ | view, identity) || identity[0] == L'\0')
        return false;
    wchar_t marked[ARRAYSIZE(identity) + 1];
    return RecordCovers(identity) ||
           (FormatTextCounted(marked, ARRAYSIZE(marked), L"%c%s", UninstallMark, identity) && RecordCovers(marked));
}

// The run's record of what it tried to remove and the exit code it makes of it.

namespace {

// One item, its texts in one heap block: identity, detail, shown and name, each ended by its
// NUL. An uninstaller's detail is its product code and its shown text its display name.
struct TriedItem {
    const ItemKind* kind;
    wchar_t* texts;
    bool hasDetail;
    bool scheduled;
    bool settled;     // stillThere below is decided
    bool stillThere;
    bool counts;      // false for the marker's own key, which the mark made again
    bool hasError;
    DWORD error;      // the reason of the last failed attempt
    int view;         // 64, 32, or 0: none, or both show it as one
    bool exited;      // an uninstaller's end: its exit code, or a wait that timed out
    DWORD exitCode;
    bool timedOut;
    bool unfinished;  // an uninstaller still running when its wait ended, or busy (1618)
};

TriedItem* Items = nullptr;
DWORD ItemCount = 0;
DWORD ItemCapacity = 0;
// An item the heap had no room for: the run can no longer say that everything is gone.
bool ItemLost = false;
bool PreviewNamedChange = false;
bool RestartPending = false;
// An uninstaller exited 1618: another installation was in progress, the run is to be retried.
bool InstallerBusy = false;
// The item the last note was about, and the uninstaller started last: what a failure's reason
// and an uninstaller's end belong to.
const DWORD NoItem = 0xFFFFFFFF;
DWORD LastNoted = NoItem;
DWORD LastUninstaller = NoItem;

const wchar_t* Identity(const TriedItem& item)
{
    return item.texts;
}

const wchar_t* DetailText(const TriedItem& item)
{
    return item.texts + wcslen(item.texts) + 1;
}

const wchar_t* Detail(const TriedItem& item)
{
    return item.hasDetail ? DetailText(item) : nullptr;
}

const wchar_t* Shown(const TriedItem& item)
{
    const wchar_t* detail = DetailText(item);
    return detail + wcslen(detail) + 1;
}

const wchar_t* Name(const TriedItem& item)
{
    const wchar_t* shown = Shown(item);
    return shown + wcslen(shown) + 1;
}

bool SameText(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// Value names are compared as the registry does, ignoring case.
TriedItem* FindTried(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail)
{
    for (DWORD i = 0; i < ItemCount; i++) {
        TriedItem& item = Items[i];
        if (item.kind == &kind && SameText(Identity(item), identity) &&
            (detail == nullptr ? !item.hasDetail : item.hasDetail && SameText(Detail(item), detail)))
            return &item;
    }
    return nullptr;
}

bool MakeTriedRoom()
{
    void* items = Items;
    if (!MakeRoom(items, ItemCount, ItemCapacity, sizeof(TriedItem)))
        return false;
    Items = static_cast<TriedItem*>(items);
    return true;
}

// Records an item, or finds it recorded: the index, or NoItem when the heap had no room.
// An item met again through the other registry view is one that both views show.
DWORD RecordTried(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown,
                  const wchar_t* name, int view)
{
    TriedItem* found = FindTried(kind, identity, detail);
    if (found != nullptr) {
        if (found->view != view)
            found->view = 0;
        return static_cast<DWORD>(found - Items);
    }
    size_t identityCount = wcslen(identity) + 1;
    size_t detailCount = detail == nullptr ? 1 : wcslen(detail) + 1;
    size_t shownCount = wcslen(shown) + 1;
    size_t nameCount = wcslen(name) + 1;
    wchar_t* texts = static_cast<wchar_t*>(HeapAlloc(
        GetProcessHeap(), 0, (identityCount + detailCount + shownCount + nameCount) * sizeof(wchar_t)));
    if (texts == nullptr || !MakeTriedRoom()) {
        if (texts != nullptr)
            HeapFree(GetProcessHeap(), 0, texts);
        ItemLost = true;
        return NoItem;
    }
    wchar_t* at = texts;
    wmemcpy(at, identity, identityCount);
    at += identityCount;
    wmemcpy(at, detail == nullptr ? L"" : detail, detailCount);
    at += detailCount;
    wmemcpy(at, shown, shownCount);
    at += shownCount;
    wmemcpy(at, name, nameCount);
    TriedItem& item = Items[ItemCount];
    ZeroMemory(&item, sizeof(item));
    item.kind = &kind;
    item.texts = texts;
    item.hasDetail = detail != nullptr;
    item.counts = true;
    item.view = view;
    return ItemCount++;
}

// The part of a kernel key name below its hive root, and the root it is opened through.
// Any other name (a hive loaded elsewhere, a name the kernel spells otherwise) is not
// recognised and counts as still there.
bool SplitKernelName(const wchar_t* name, HKEY& root, const wchar_t*& path)
{
    const struct {
        const wchar_t* prefix;
        HKEY root;
    } roots[] = {{L"\\REGISTRY\\MACHINE\\", HKEY_LOCAL_MACHINE}, {L"\\REGISTRY\\USER\\", HKEY_USERS}};
    for (const auto& known : roots) {
        int length = static_cast<int>(wcslen(known.prefix));
        if (wcslen(name) > static_cast<size_t>(length) &&
            CompareStringOrdinal(name, length, known.prefix, length, TRUE) == CSTR_EQUAL) {
            root = known.root;
            path = name + length;
            return true;
        }
    }
    return false;
}

// How many characters of the marker's key path name the maker's key above it.
const size_t MakerKeyPathLength = 16;

// A key (opened as itself) with no subkey and no value but, at most, the default value.
bool HoldsDefaultValueAtMost(HKEY key)
{
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0 || values > 1)
        return false;
    if (values == 0)
        return true;
    wchar_t name[MAX_PATH];
    DWORD nameCount = MAX_PATH;
    return RegEnumValueW(key, 0, name, &nameCount, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           nameCount == 0;
}

// True when the key named root\path is a scope's Software\Quorvex (64-bit view) that holds
// nothing but the marker key Cleaned, or is that Cleaned key itself. The run writes the marker
// after the sweep that removed the maker's key, and an earlier run's marker of any signature
// is no trace of the product either. Keys are opened as themselves: a link is never a marker.
bool IsScopeMarkerOnly(HKEY root, const wchar_t* path)
{
    // Below HKEY_USERS a scope's keys start after its SID.
    const wchar_t* scopePath = path;
    if (root == HKEY_USERS) {
        scopePath = wcschr(path, L'\\');
        if (scopePath == nullptr)
            return false;
        scopePath++;
    }
    size_t scopeLength = wcslen(scopePath);
    if ((scopeLength != MakerKeyPathLength && scopeLength != ARRAYSIZE(ScopeMarkerKeyPath) - 1) ||
        CompareStringOrdinal(scopePath, static_cast<int>(scopeLength), ScopeMarkerKeyPath,
                             static_cast<int>(scopeLength), TRUE) != CSTR_EQUAL)
        return false;
    RegistryName makerPath;
    size_t makerLength = static_cast<size_t>(scopePath - path) + MakerKeyPathLength;
    if (makerLength >= ARRAYSIZE(makerPath))
        return false;
    wmemcpy(makerPath, path, makerLength);
    makerPath[makerLength] = L'\0';
    HKEY maker;
    if (RegOpenKeyExW(root, makerPath, REG_OPTION_OPEN_LINK, KEY_READ | KEY_WOW64_64KEY, &maker) != ERROR_SUCCESS)
        return false;
    bool markerOnly = false;
    DWORD subkeys = 0;
    DWORD values = 0;
    wchar_t name[MAX_PATH];
    DWORD nameCount = MAX_PATH;
    if (RegQueryInfoKeyW(maker, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 1 && values == 0 &&
        RegEnumKeyExW(maker, 0, name, &nameCount, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        CompareStringOrdinal(name, -1, ScopeMarkerKeyPath + MakerKeyPathLength + 1, -1, TRUE) == CSTR_EQUAL) {
        HKEY marker;
        if (RegOpenKeyExW(maker, name, REG_OPTION_OPEN_LINK, KEY_READ | KEY_WOW64_64KEY, &marker) == ERROR_SUCCESS) {
            markerOnly = HoldsDefaultValueAtMost(marker);
            RegCloseKey(marker);
        }
    }
    RegCloseKey(maker);
    return markerOnly;
}

// The kernel name holds the view's own path (Wow6432Node), so the key is opened in the
// 64-bit view, and as itself: a registry link is the link.
bool KeyStillThere(const wchar_t* identity, const wchar_t* valueName)
{
    HKEY root;
    const wchar_t* path;
    if (!SplitKernelName(identity, root, path))
        return true;
    HKEY key;
    LONG opened = RegOpenKeyExW(root, path, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
    if (opened != ERROR_SUCCESS)
        return opened != ERROR_FILE_NOT_FOUND;
    LONG queried = ERROR_SUCCESS;
    if (valueName != nullptr)
        queried = RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return queried != ERROR_FILE_NOT_FOUND;
}

bool PathStillThere(const wchar_t* path, const wchar_t*)
{
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// A key item that is a scope's marker-only Software\Quorvex, or its Cleaned key: still there
// perhaps, but no trace of the product.
bool IsMarkerOnlyItem(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail)
{
    HKEY root;
    const wchar_t* path;
    return &kind == &TriedKey && detail == nullptr && SplitKernelName(identity, root, path) &&
           IsScopeMarkerOnly(root, path);
}

void Settle(TriedItem& item)
{
    if (item.settled)
        return;
    item.stillThere = item.kind->stillThere != nullptr && item.kind->stillThere(Identity(item), Detail(item));
    if (item.stillThere && IsMarkerOnlyItem(*item.kind, Identity(item), Detail(item)))
        item.counts = false;
    item.settled = true;
}

// A service or task is noted only once its removal has failed (or by a preview), and the
// removal leaves nothing half done: such an item is still there.
bool RemovalFailed(const wchar_t*, const wchar_t*)
{
    return true;
}

// True in a preview when the preview has passed the item as removed already (a key or a
// folder above it, the value itself): a real run would find it gone.
bool PreviewCovers(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail)
{
    if (RecordCovers(identity))
        return true;
    ValueRecordItem value;
    return &kind == &TriedValue && ValueIdentity(identity, detail, value) && RecordCovers(value);
}

// The view a key or value item is shown in: the one it was noted through or, for a value
// of a key opened before, the 32-bit view where its kernel name says so.
int ShownView(REGSAM view, const wchar_t* identity)
{
    if (view & KEY_WOW64_32KEY)
        return 32;
    if (view & KEY_WOW64_64KEY)
        return 64;
    return StrStrIW(identity, L"\\Wow6432Node") != nullptr ? 32 : 0;
}

DWORD NoteItem(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown,
               const wchar_t* name, int view)
{
    LastNoted = NoItem;
    if (!KeepsTriedItems())
        return NoItem;
    if (PreviewMode) {
        if (kind.stillThere != nullptr && !kind.stillThere(identity, detail))
            return NoItem;
        bool counts = !IsMarkerOnlyItem(kind, identity, detail);
        if (counts)
            PreviewNamedChange = true;
        if (ReportRequested && !PreviewCovers(kind, identity, detail)) {
            LastNoted = RecordTried(kind, identity, detail, shown, name, view);
            if (LastNoted != NoItem)
                Items[LastNoted].counts = counts;
        }
        return LastNoted;
    }
    LastNoted = RecordTried(kind, identity, detail, shown, name, view);
    return LastNoted;
}

void NoteFailure(DWORD error)
{
    if (LastNoted == NoItem)
        return;
    Items[LastNoted].hasError = true;
    Items[LastNoted].error = error;
    // The caller reads the reason after this too.
    SetLastError(error);
}

} // namespace

const ItemKind TriedKey = {KeyStillThere, L"key"};
const ItemKind TriedValue = {KeyStillThere, L"value"};
const ItemKind TriedFile = {PathStillThere, L"file"};
const ItemKind TriedFolder = {PathStillThere, L"folder"};
const ItemKind TriedProcess = {nullptr, L"process"};
const ItemKind TriedService = {RemovalFailed, L"service"};
const ItemKind TriedTask = {RemovalFailed, L"task"};
const ItemKind TriedUninstaller = {nullptr, L"uninstaller"};
const ItemKind TriedFirewallRule = {RemovalFailed, L"firewall rule"};

bool KeepsTriedItems()
{
    return ReportExitCode || ReportRequested;
}

void NoteChange(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown)
{
    NoteItem(kind, identity, detail, shown, shown, 0);
}

void NoteKeyChange(HKEY parent, const wchar_t* subkey, REGSAM view, const wchar_t* valueName, const ShownKey& shown)
{
    LastNoted = NoItem;
    if (!KeepsTriedItems())
        return;
    // The key as itself, in its view: its kernel name holds the view's own path. A key that is
    // not there has nothing to remove.
    HKEY key;
    LONG opened = RegOpenKeyExW(parent, subkey, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return;
    // A key that cannot be named cannot be told gone: in a real run it counts as lost.
    RegistryName identity;
    ShownPathBuffer path;
    wchar_t shownText[ARRAYSIZE(path) + 2 * MAX_PATH];
    wchar_t keyText[ARRAYSIZE(shownText)];
    wchar_t nameText[ARRAYSIZE(shownText)];
    bool fits = opened == ERROR_SUCCESS && RegistryKeyName(key, identity);
    if (opened == ERROR_SUCCESS)
        RegCloseKey(key);
    fits = fits && ShownKeyPath(path, shown.path != nullptr ? shown.path : L"", shown.name);
    // A key shown by nothing (a caller that logs no line for it) is shown by its kernel name.
    const wchar_t* label = shown.label;
    if (label == nullptr)
        label = identity;
    const wchar_t* keyFormat = shown.label != nullptr ? L"%s\\%s" : L"%s";
    // The report names a value by its key's name and its own, the log as "value [...] from".
    fits = fits && FormatTextCounted(keyText, ARRAYSIZE(keyText), keyFormat, label, path);
    if (fits && valueName == nullptr)
        fits = FormatTextCounted(shownText, ARRAYSIZE(shownText), L"%s", keyText) &&
               FormatTextCounted(nameText, ARRAYSIZE(nameText), L"%s", keyText);
    else if (fits)
        fits = FormatTextCounted(shownText, ARRAYSIZE(shownText), L"value [%s] from %s", valueName, keyText) &&
               FormatTextCounted(nameText, ARRAYSIZE(nameText), L"%s\\%s", keyText, valueName);
    if (!fits) {
        if (!PreviewMode)
            ItemLost = true;
        return;
    }
    NoteItem(valueName == nullptr ? TriedKey : TriedValue, identity, valueName, shownText, nameText,
             ShownView(view, identity));
}

void NoteRemoved(const ItemKind& kind, const wchar_t* identity, const wchar_t* shown)
{
    DWORD index = NoteItem(kind, identity, nullptr, shown, identity, 0);
    if (index != NoItem && !PreviewMode) {
        Items[index].settled = true;
        Items[index].stillThere = false;
    }
}

void NoteScheduled(const wchar_t* path)
{
    RestartPending = true;
    TriedItem* item = FindTried(TriedFile, path, nullptr);
    if (item == nullptr)
        item = FindTried(TriedFolder, path, nullptr);
    if (item != nullptr)
        item->scheduled = true;
}

void NoteUninstallerExit(DWORD exitCode)
{
    if (exitCode == ERROR_SUCCESS_REBOOT_REQUIRED || exitCode == ERROR_SUCCESS_REBOOT_INITIATED)
        RestartPending = true;
    if (LastUninstaller != NoItem) {
        Items[LastUninstaller].exited = true;
        Items[LastUninstaller].exitCode = exitCode;
    }
}

void NoteUninstallerTimedOut()
{
    if (LastUninstaller != NoItem)
        Items[LastUninstaller].timedOut = true;
}

void NoteUnfinishedUninstaller(bool busy)
{
    InstallerBusy = InstallerBusy || busy;
    if (LastUninstaller != NoItem)
        Items[LastUninstaller].unfinished = true;
}

void SettleTriedItems()
{
    for (DWORD i = 0; i < ItemCount; i++)
        Settle(Items[i]);
}

void ClearTriedItems()
{
    for (DWORD i = 0; i < ItemCount; i++)
        HeapFree(GetProcessHeap(), 0, Items[i].texts);
    ItemCount = 0;
    FreeNames(ScheduledPaths);
    ItemLost = false;
    PreviewNamedChange = false;
    RestartPending = false;
    InstallerBusy = false;
    LastNoted = NoItem;
    LastUninstaller = NoItem;
}

int SettleRunOutcome()
{
    if (!KeepsTriedItems())
        return 0;
    if (PreviewMode)
        return PreviewNamedChange ? 1 : 0;
    bool stayed = ItemLost;
    for (DWORD i = 0; i < ItemCount; i++) {
        TriedItem& item = Items[i];
        // An uninstaller leaves its traces to the items of their own, unless it did not finish.
        if (item.kind == &TriedUninstaller) {
            if (item.unfinished) {
                if (ReportExitCode)
                    LogLine(L"Not removed: %s [%s] (its uninstaller did not finish)", Detail(item), Shown(item));
                stayed = true;
            }
            continue;
        }
        Settle(item);
        if (item.stillThere && !item.scheduled && item.counts) {
            if (ReportExitCode)
                LogLine(L"Not removed: %s", Shown(item));
            stayed = true;
        }
    }
    return InstallerBusy ? ERROR_INSTALL_ALREADY_RUNNING
           : stayed      ? 1
           : RestartPending ? ERROR_SUCCESS_REBOOT_REQUIRED
                            : 0;
}

int LogExitCode(int exitCode)
{
    if (!ReportExitCode)
        return 0;
    LogLine(L"Exit code [%d]", exitCode);
    return exitCode;
}

int LogRunOutcome()
{
    return LogExitCode(SettleRunOutcome());
}

DWORD TriedItemCount()
{
    return ItemCount;
}

bool TriedItemsComplete()
{
    return !ItemLost;
}

namespace {

// An uninstaller that ran to its end with success removed its product, or does so at the
// restart; one that did not start, did not end in time or failed left it.
const wchar_t* UninstallerOutcome(const TriedItem& item)
{
    if (!item.exited || item.timedOut)
        return L"not removed";
    if (item.exitCode == ERROR_SUCCESS)
        return L"removed";
    if (item.exitCode == ERROR_SUCCESS_REBOOT_REQUIRED || item.exitCode == ERROR_SUCCESS_REBOOT_INITIATED)
        return L"scheduled";
    return L"not removed";
}

} // namespace

void DescribeTriedItem(DWORD index, TriedItemReport& out)
{
    TriedItem& item = Items[index];
    ZeroMemory(&out, sizeof(out));
    out.kind = item.kind->reportName;
    out.name = Name(item);
    out.view = item.view;
    out.hasError = item.hasError;
    out.error = item.error;
    bool uninstaller = item.kind == &TriedUninstaller;
    if (item.kind == &TriedValue)
        out.valueName = Detail(item);
    if (uninstaller) {
        out.productCode = Detail(item);
        out.displayName = Shown(item);
        out.exited = item.exited;
        out.exitCode = item.exitCode;
        out.timedOut = item.timedOut;
    }
    if (PreviewMode) {
        out.outcome = L"would remove";
        out.countsForExitCode = item.counts;
        return;
    }
    // Only what a check can tell gone or there counts; a stopped process or a run uninstaller
    // leaves its traces to the items of their own, unless the uninstaller did not finish.
    Settle(item);
    out.countsForExitCode = (item.kind->stillThere != nullptr && item.counts) || item.unfinished;
    if (uninstaller) {
        out.outcome = UninstallerOutcome(item);
        return;
    }
    Settle(item);
    if (item.scheduled)
        out.outcome = L"scheduled";
    else
        out.outcome = item.stillThere ? L"not removed" : L"removed";
}

Change StartUninstaller(wchar_t* commandLine, const wchar_t* productCode, const wchar_t* displayName,
                        PROCESS_INFORMATION& child)
{
    LastUninstaller = NoteItem(TriedUninstaller, commandLine, productCode, displayName, commandLine, 0);
    return StartHidden(commandLine, child);
}

Change DeleteShortcutFile(const wchar_t* path)
{
    return DeleteShortcutShown(path, L"Would delete shortcut [%s]");
}

namespace {

// Asks a service to stop and waits until it has, at most 30 seconds; one that is not running
// has nothing to wait for.
void StopServiceWaiting(SC_HANDLE service)
{
    SERVICE_STATUS status;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status))
        return;
    const ULONGLONG limit = GetTickCount64() + 30000;
    SERVICE_STATUS_PROCESS progress;
    DWORD size = 0;
    while (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&progress),
                                sizeof(progress), &size) &&
           progress.dwCurrentState != SERVICE_STOPPED && GetTickCount64() < limit)
        Sleep(250);
}

// Notes a service or task named identity, shown in a "Not removed" line as format makes it.
void NoteNamed(const ItemKind& kind, const wchar_t* format, const wchar_t* identity)
{
    PathBuffer shown;
    if (!FormatText(shown, format, identity))
        shown[0] = L'\0';
    NoteItem(kind, identity, nullptr, shown, identity, 0);
}

// The same for one that was removed; only the report lists it.
void NoteNamedRemoved(const ItemKind& kind, const wchar_t* format, const wchar_t* identity)
{
    if (!ReportRequested)
        return;
    PathBuffer shown;
    if (!FormatText(shown, format, identity))
        shown[0] = L'\0';
    NoteRemoved(kind, identity, shown);
}

} // namespace

Change RemoveService(SC_HANDLE manager, const wchar_t* name)
{
    if (PreviewMode) {
        NoteNamed(TriedService, L"service [%s]", name);
        LogLine(L"Would remove service [%s]", name);
        return Change::Previewed;
    }
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    BOOL deleted = FALSE;
    if (service != nullptr) {
        StopServiceWaiting(service);
        deleted = DeleteService(service);
    }
    DWORD error = GetLastError();
    if (service != nullptr)
        CloseServiceHandle(service);
    if (!deleted)
        NoteNamed(TriedService, L"service [%s]", name);
    else
        NoteNamedRemoved(TriedService, L"service [%s]", name);
    SetLastError(error);
    return Outcome(deleted != FALSE);
}

Change DeleteScheduledTask(ITaskFolder* folder, const wchar_t* name, const wchar_t* path, HRESULT& result)
{
    if (PreviewMode) {
        NoteNamed(TriedTask, L"scheduled task [%s]", path);
        LogLine(L"Would remove scheduled task [%s]", path);
        return Change::Previewed;
    }
    BSTR taskName = SysAllocString(name);
    result = taskName == nullptr ? E_OUTOFMEMORY : folder->DeleteTask(taskName, 0);
    SysFreeString(taskName);
    if (FAILED(result))
        NoteNamed(TriedTask, L"scheduled task [%s]", path);
    else
        NoteNamedRemoved(TriedTask, L"scheduled task [%s]", path);
    SetLastError(static_cast<DWORD>(result));
    return Outcome(SUCCEEDED(result));
}

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
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
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
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
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

Change RemoveFirewallRule(INetFwRules* rules, const wchar_t* name, HRESULT& result)
{
    if (PreviewMode) {
        NoteNamed(TriedFirewallRule, L"firewall rule [%s]", name);
        LogLine(L"Would remove firewall rule [%s]", name);
        return Change::Previewed;
    }
    BSTR ruleName = SysAllocString(name);
    result = ruleName == nullptr ? E_OUTOFMEMORY : rules->Remove(ruleName);
    SysFreeString(ruleName);
    if (FAILED(result))
        NoteNamed(TriedFirewallRule, L"firewall rule [%s]", name);
    else
        NoteNamedRemoved(TriedFirewallRule, L"firewall rule [%s]", name);
    SetLastError(static_cast<DWORD>(result));
    return Outcome(SUCCEEDED(result));
}

void NoteFirewallRuleKept(const wchar_t* name)
{
    if (PreviewMode)
        return;
    NoteNamed(TriedFirewallRule, L"firewall rule [%s]", name);
    NoteFailure(ERROR_ACCESS_DENIED);
}
