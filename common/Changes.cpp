// Changes: every change the program makes to the machine, made here or, in a preview,
// logged here as what would be done.
#define STRSAFE_NO_DEPRECATE
#include "Changes.h"

#include "../app/app.h"
#include "Registry.h"
#include "../log/log.h"

#include <strsafe.h>
#include <taskschd.h>
#include <wchar.h>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);

namespace {


// What a preview has passed as removed: kernel names of keys and paths of files and folders,
// each ended by its NUL, one after the other. An item covers itself and everything below it.
const size_t RecordCapacity = 32768;
wchar_t Record[RecordCapacity];
size_t RecordUsed = 0;

// True when entry (entryLength characters) is item or lies below it, ignoring case as the
// registry and the file system do.
bool Covers(const wchar_t* item, size_t itemLength, const wchar_t* entry, size_t entryLength)
{
    if (entryLength < itemLength || (entryLength > itemLength && entry[itemLength] != L'\\'))
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

// A value as the record holds it: "*", the kernel name of its key, a backslash and its name. No
// key name or path starts with "*", so no key or folder item ever covers a value's.
bool ValueItem(HKEY key, const wchar_t* valueName, wchar_t (&out)[4 * MAX_PATH])
{
    RegistryName identity;
    if (!RegistryKeyName(key, identity))
        return false;
    return SUCCEEDED(StringCchPrintfW(out, ARRAYSIZE(out), L"*%s\\%s", identity, valueName));
}

// Exactly item, ignoring case: a value's name may hold backslashes, so covering does not apply.
bool RecordHolds(const wchar_t* item)
{
    for (size_t at = 0; at < RecordUsed;) {
        size_t length = wcslen(Record + at);
        if (CompareStringOrdinal(Record + at, static_cast<int>(length), item, -1, TRUE) == CSTR_EQUAL)
            return true;
        at += length + 1;
    }
    return false;
}

void RecordValue(const wchar_t* item)
{
    size_t itemLength = wcslen(item);
    if (RecordUsed + itemLength + 1 > RecordCapacity)
        return;
    wmemcpy(Record + RecordUsed, item, itemLength + 1);
    RecordUsed += itemLength + 1;
}

void PreviewValueRemoval(HKEY key, const wchar_t* valueName, const ShownKey& shown)
{
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    wchar_t item[4 * MAX_PATH];
    bool identified = ValueItem(key, valueName, item);
    if (identified && RecordHolds(item))
        return;
    ShownPathBuffer path;
    if (!ShownKeyPath(path, shown.path, shown.name))
        return;
    LogLine(L"Would remove value [%s] from %s\\%s", valueName, shown.label, path);
    if (identified)
        RecordValue(item);
}

Change Outcome(bool made)
{
    return made ? Change::Made : Change::Failed;
}

// A shortcut's deletion, which a preview names once with its own line.
Change DeleteShortcutShown(const wchar_t* path, const wchar_t* previewFormat)
{
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
    if (PreviewMode) {
        PreviewKeyRemoval(parent, subkey, view, shown);
        return Change::Previewed;
    }
    return Outcome(DeleteTree(parent, subkey, view));
}

Change DeleteFileAt(const wchar_t* path)
{
    if (PreviewMode) {
        if (!RecordCovers(path))
            LogLine(L"Would delete file [%s]", path);
        return Change::Previewed;
    }
    return Outcome(DeleteFileW(path) != FALSE);
}

Change RemoveFolder(const wchar_t* path)
{
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

void NotePreviewRemoval(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    RegistryName identity;
    if (PreviewMode && KeyIdentity(parent, subkey, KEY_READ | view, identity))
        RecordItem(identity);
}

Change DeleteRegistryValue(HKEY key, const wchar_t* valueName, const ShownKey& shown)
{
    if (PreviewMode) {
        PreviewValueRemoval(key, valueName, shown);
        return Change::Previewed;
    }
    return Outcome(RegDeleteValueW(key, valueName) == ERROR_SUCCESS);
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

} // namespace

Change RemoveService(SC_HANDLE manager, const wchar_t* name)
{
    if (PreviewMode) {
        LogLine(L"Would remove service [%s]", name);
        return Change::Previewed;
    }
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (service == nullptr)
        return Change::Failed;
    StopServiceWaiting(service);
    BOOL deleted = DeleteService(service);
    DWORD error = GetLastError();
    CloseServiceHandle(service);
    SetLastError(error);
    return Outcome(deleted != FALSE);
}

Change DeleteScheduledTask(ITaskFolder* folder, const wchar_t* name, const wchar_t* path, HRESULT& result)
{
    if (PreviewMode) {
        LogLine(L"Would remove scheduled task [%s]", path);
        return Change::Previewed;
    }
    BSTR taskName = SysAllocString(name);
    result = taskName == nullptr ? E_OUTOFMEMORY : folder->DeleteTask(taskName, 0);
    SysFreeString(taskName);
    return Outcome(SUCCEEDED(result));
}
