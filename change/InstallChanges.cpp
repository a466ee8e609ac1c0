// Changes that put something on the machine: a folder made, a file copied whole, a logon
// entry's values written.
#include "InstallChanges.h"
#include "ChangePart.h"
#include "FileChanges.h"

#include "../common/Registry.h"
#include "../log/log.h"

#include <string.h>
#include <wchar.h>

namespace {

Change Outcome(bool made)
{
    return made ? Change::Made : Change::Failed;
}

// Reads a whole file into a buffer on the process heap (freed by the caller with HeapFree);
// null with GetLastError telling why. A link is opened as itself and read as nothing.
void* ReadWholeFile(const wchar_t* path, DWORD& size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER length = {};
    void* data = nullptr;
    DWORD error = ERROR_FILE_TOO_LARGE;
    if (GetFileSizeEx(file, &length) && length.QuadPart < 64 * 1024 * 1024) {
        size = static_cast<DWORD>(length.QuadPart);
        data = HeapAlloc(GetProcessHeap(), 0, size > 0 ? size : 1);
        DWORD read = 0;
        error = data == nullptr ? ERROR_NOT_ENOUGH_MEMORY : ERROR_SUCCESS;
        if (data != nullptr && (!ReadFile(file, data, size, &read, nullptr) || read != size)) {
            error = read != size ? ERROR_READ_FAULT : GetLastError();
            HeapFree(GetProcessHeap(), 0, data);
            data = nullptr;
        }
    }
    CloseHandle(file);
    SetLastError(error);
    return data;
}

// True when the file at path holds exactly size bytes of data.
bool FileHolds(const wchar_t* path, const void* data, DWORD size)
{
    DWORD readSize = 0;
    void* read = ReadWholeFile(path, readSize);
    if (read == nullptr)
        return false;
    bool same = readSize == size && memcmp(read, data, size) == 0;
    HeapFree(GetProcessHeap(), 0, read);
    return same;
}

bool SetText(HKEY key, const wchar_t* name, const wchar_t* text)
{
    // Stored with its NUL, so that any reader finds a terminated string.
    DWORD size = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    LONG result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

// Opens listPath\name as itself for writing its values, creating it first when it is missing.
// A key that exists only through a link is opened by the create and then refused.
bool OpenEntryForWriting(const wchar_t* listPath, const wchar_t* name, HKEY& key)
{
    const REGSAM view = KEY_WOW64_64KEY;
    HKEY list;
    if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, listPath, KEY_CREATE_SUB_KEY | view, list))
        return false;
    HKEY created;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExW(list, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | view, nullptr,
                                  &created, &disposition);
    if (result == ERROR_SUCCESS)
        RegCloseKey(created);
    bool opened = result == ERROR_SUCCESS && RegOpenAsItself(list, name, KEY_QUERY_VALUE | KEY_SET_VALUE | view, key);
    DWORD error = result != ERROR_SUCCESS ? static_cast<DWORD>(result) : ERROR_CANT_ACCESS_FILE;
    RegCloseKey(list);
    if (!opened)
        SetLastError(error);
    return opened;
}

} // namespace

Change CreateFolderAt(const wchar_t* path)
{
    if (RunChanges().preview) {
        LogLine(L"Would create folder [%s]", path);
        return Change::Previewed;
    }
    return Outcome(CreateDirectoryW(path, nullptr) != FALSE);
}

Change CopyFileWhole(const wchar_t* source, const wchar_t* target)
{
    if (RunChanges().preview) {
        LogLine(L"Would copy [%s] to [%s]", source, target);
        return Change::Previewed;
    }
    DWORD size = 0;
    void* data = ReadWholeFile(source, size);
    if (data == nullptr)
        return Change::Failed;
    bool copied = ReplaceFileContent(target, data, size);
    DWORD error = GetLastError();
    if (copied && !FileHolds(target, data, size)) {
        copied = false;
        error = ERROR_FILE_CORRUPT;
    }
    HeapFree(GetProcessHeap(), 0, data);
    SetLastError(error);
    return Outcome(copied);
}

Change WriteLogonEntry(const wchar_t* listPath, const wchar_t* name, const LogonEntryValues& values)
{
    if (RunChanges().preview) {
        LogLine(L"Would register the clean-up at each user's next logon [%s]", values.command);
        return Change::Previewed;
    }
    if (values.inPlace)
        return Change::Made;
    HKEY key;
    if (!OpenEntryForWriting(listPath, name, key))
        return Change::Failed;
    const DWORD installed = 1;
    bool written = SetText(key, nullptr, values.displayName) && SetText(key, L"StubPath", values.command) &&
                   SetText(key, L"Version", values.version);
    if (written) {
        LONG result = RegSetValueExW(key, L"IsInstalled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&installed),
                                     sizeof(installed));
        SetLastError(static_cast<DWORD>(result));
        written = result == ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    RegCloseKey(key);
    SetLastError(error);
    return Outcome(written);
}
