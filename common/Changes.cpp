// Changes: every change the program makes to the machine, made here or, in a preview,
// logged here as what would be done; and the run's record of what it tried to remove.
#include "Changes.h"

#include "../log/log.h"
#include "Registry.h"
#include "Settings.h"

#include <shlwapi.h>
#include <taskschd.h>
#include <wchar.h>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);

namespace {

// What a preview has passed as removed: kernel names of keys, values (below) and paths of files
// and folders, each ended by its NUL, one after the other. An item covers itself and everything
// below it.
const size_t RecordCapacity = 32768;
wchar_t Record[RecordCapacity];
size_t RecordUsed = 0;

// Values are recorded as this mark, which begins no kernel name and no path, the length of
// their key's kernel name, "|", that name, "\\" and the value's name. A value's name may hold
// backslashes, so a value item covers nothing but itself.
const wchar_t ValueMark = L'|';
typedef wchar_t ValueRecordItem[4 * MAX_PATH + 16];

// True when entry (entryLength characters) is item or lies below it, ignoring case as the
// registry and the file system do.
bool Covers(const wchar_t* item, size_t itemLength, const wchar_t* entry, size_t entryLength)
{
    bool exact = item[0] == ValueMark;
    if (entryLength < itemLength || (entryLength > itemLength && (exact || entry[itemLength] != L'\\')))
        return false;
    return CompareStringOrdinal(item, static_cast<int>(itemLength), entry, static_cast<int>(itemLength), TRUE) ==
           CSTR_EQUAL;
}

bool RecordCovers(const wchar_t* entry)
{
    size_t entryLength = wcslen(entry);
    for (size_t at = 0; at < RecordUsed;) {
        size_t length = wcslen(Record + at);
        if (Covers(Record + at, length, entry, entryLength))
            return true;
        at += length + 1;
    }
    return false;
}

// Adds an item, dropping the items it covers (a folder's sub-folders, recorded before it). An
// item that finds no room is left out.
void RecordItem(const wchar_t* item)
{
    if (item[0] == L'\0' || RecordCovers(item))
        return;
    size_t itemLength = wcslen(item);
    size_t kept = 0;
    for (size_t at = 0; at < RecordUsed;) {
        size_t length = wcslen(Record + at);
        if (!Covers(item, itemLength, Record + at, length)) {
            wmemmove(Record + kept, Record + at, length + 1);
            kept += length + 1;
        }
        at += length + 1;
    }
    RecordUsed = kept;
    if (RecordUsed + itemLength + 1 > RecordCapacity)
        return;
    wmemcpy(Record + RecordUsed, item, itemLength + 1);
    RecordUsed += itemLength + 1;
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

bool DeleteTree(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    HKEY key;
    if (!OpenKeyAsItself(parent, subkey, KEY_READ | DELETE | view, key))
        return false;
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
    bool deleted = NtDeleteKey(key) >= 0;
    RegCloseKey(key);
    return deleted;
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
bool ValueIdentity(const RegistryName& keyName, const wchar_t* valueName, ValueRecordItem& out)
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

Change Outcome(bool made)
{
    return made ? Change::Made : Change::Failed;
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
    NoteChange(TriedProcess, exeFile, nullptr, exeFile);
    if (PreviewMode) {
        LogLine(L"Would stop process %d [%s]", static_cast<int>(processId), exeFile);
        return Change::Previewed;
    }
    TerminateProcess(process, 0);
    return Change::Made;
}

Change StartHiddenProcess(wchar_t* commandLine, PROCESS_INFORMATION& child)
{
    ZeroMemory(&child, sizeof(child));
    NoteChange(TriedProcess, commandLine, nullptr, commandLine);
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
    return Outcome(RegDeleteValueW(key, valueName) == ERROR_SUCCESS);
}

Change DeleteFileAt(const wchar_t* path, const wchar_t* shown)
{
    NoteChange(TriedFile, path, nullptr, path);
    if (PreviewMode) {
        if (!RecordCovers(path))
            LogLine(L"Would delete file [%s]", shown != nullptr ? shown : path);
        return Change::Previewed;
    }
    return Outcome(DeleteFileW(path) != FALSE);
}

Change RemoveFolder(const wchar_t* path)
{
    NoteChange(TriedFolder, path, nullptr, path);
    if (PreviewMode) {
        RecordItem(path);
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
    return Outcome(written == ERROR_SUCCESS);
}

void ClearPreviewRecord()
{
    RecordUsed = 0;
}

bool PreviewHasRemoved(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    if (!PreviewMode)
        return false;
    RegistryName identity;
    return KeyIdentity(parent, subkey, KEY_READ | view, identity) && identity[0] != L'\0' && RecordCovers(identity);
}

bool PreviewHasRemovedPath(const wchar_t* path)
{
    return PreviewMode && path[0] != L'\0' && RecordCovers(path);
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

// One item, its texts in one heap block: identity, detail and shown, each ended by its NUL.
struct TriedItem {
    const ItemKind* kind;
    wchar_t* texts;
    bool hasDetail;
    bool scheduled;
    bool settled;     // stillThere below is decided
    bool stillThere;
};

TriedItem* Items = nullptr;
DWORD ItemCount = 0;
DWORD ItemCapacity = 0;
// An item the heap had no room for: the run can no longer say that everything is gone.
bool ItemLost = false;
bool PreviewNamedChange = false;
bool RestartPending = false;

const wchar_t* Identity(const TriedItem& item)
{
    return item.texts;
}

const wchar_t* Detail(const TriedItem& item)
{
    return item.hasDetail ? item.texts + wcslen(item.texts) + 1 : nullptr;
}

const wchar_t* Shown(const TriedItem& item)
{
    const wchar_t* detail = item.texts + wcslen(item.texts) + 1;
    return detail + wcslen(detail) + 1;
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

void RecordTried(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown)
{
    if (FindTried(kind, identity, detail) != nullptr)
        return;
    size_t identityCount = wcslen(identity) + 1;
    size_t detailCount = detail == nullptr ? 1 : wcslen(detail) + 1;
    size_t shownCount = wcslen(shown) + 1;
    wchar_t* texts = static_cast<wchar_t*>(
        HeapAlloc(GetProcessHeap(), 0, (identityCount + detailCount + shownCount) * sizeof(wchar_t)));
    if (texts == nullptr || !MakeTriedRoom()) {
        if (texts != nullptr)
            HeapFree(GetProcessHeap(), 0, texts);
        ItemLost = true;
        return;
    }
    wmemcpy(texts, identity, identityCount);
    wmemcpy(texts + identityCount, detail == nullptr ? L"" : detail, detailCount);
    wmemcpy(texts + identityCount + detailCount, shown, shownCount);
    Items[ItemCount++] = {&kind, texts, detail != nullptr, false, false, false};
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

void Settle(TriedItem& item)
{
    if (item.settled)
        return;
    item.stillThere = item.kind->stillThere(Identity(item), Detail(item));
    item.settled = true;
}

} // namespace

const ItemKind TriedKey = {KeyStillThere};
const ItemKind TriedValue = {KeyStillThere};
const ItemKind TriedFile = {PathStillThere};
const ItemKind TriedFolder = {PathStillThere};
const ItemKind TriedProcess = {nullptr};
namespace {
// A service or task is noted only once its removal has failed (or by a preview), and the
// removal leaves nothing half done: such an item is still there.
bool RemovalFailed(const wchar_t*, const wchar_t*)
{
    return true;
}
} // namespace
const ItemKind TriedService = {RemovalFailed};
const ItemKind TriedTask = {RemovalFailed};

void NoteChange(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown)
{
    if (!ReportExitCode)
        return;
    if (PreviewMode) {
        if (kind.stillThere == nullptr || kind.stillThere(identity, detail))
            PreviewNamedChange = true;
        return;
    }
    if (kind.stillThere != nullptr)
        RecordTried(kind, identity, detail, shown);
}

void NoteKeyChange(HKEY parent, const wchar_t* subkey, REGSAM view, const wchar_t* valueName, const ShownKey& shown)
{
    if (!ReportExitCode)
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
    bool fits = opened == ERROR_SUCCESS && RegistryKeyName(key, identity);
    if (opened == ERROR_SUCCESS)
        RegCloseKey(key);
    fits = fits && ShownKeyPath(path, shown.path != nullptr ? shown.path : L"", shown.name);
    // A key shown by nothing (a caller that logs no line for it) is shown by its kernel name.
    const wchar_t* label = shown.label;
    if (label == nullptr)
        label = identity;
    if (fits && valueName == nullptr)
        fits = FormatTextCounted(shownText, ARRAYSIZE(shownText), shown.label != nullptr ? L"%s\\%s" : L"%s",
                                 label, path);
    else if (fits)
        fits = FormatTextCounted(shownText, ARRAYSIZE(shownText), shown.label != nullptr ? L"value [%s] from %s\\%s" : L"value [%s] from %s", valueName,
                                 label, path);
    if (!fits) {
        if (!PreviewMode)
            ItemLost = true;
        return;
    }
    NoteChange(valueName == nullptr ? TriedKey : TriedValue, identity, valueName, shownText);
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
    ItemLost = false;
    PreviewNamedChange = false;
    RestartPending = false;
}

int LogRunOutcome()
{
    if (!ReportExitCode)
        return 0;
    int exitCode = 0;
    if (PreviewMode) {
        exitCode = PreviewNamedChange ? 1 : 0;
    } else {
        bool stayed = ItemLost;
        for (DWORD i = 0; i < ItemCount; i++) {
            TriedItem& item = Items[i];
            Settle(item);
            if (item.stillThere && !item.scheduled) {
                LogLine(L"Not removed: %s", Shown(item));
                stayed = true;
            }
        }
        exitCode = stayed ? 1 : RestartPending ? ERROR_SUCCESS_REBOOT_REQUIRED : 0;
    }
    LogLine(L"Exit code [%d]", exitCode);
    return exitCode;
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
    NoteChange(kind, identity, nullptr, shown);
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
    return Outcome(SUCCEEDED(result));
}
