// Stand-in for MsiExec.exe that changes a user's uninstall list as an uninstaller
// would: started as `MsiExec.exe /x "{code}" /quiet`, it deletes the entry named
// {code} from the list HKEY_USERS\%ZC_UNINSTALL_LIST% and, when %ZC_UNINSTALL_ADDS% is
// set, adds an entry of that name whose DisplayName is "Zamo Deployment".
// When %ZC_UNINSTALL_RECORD% names a file, it first appends its whole command line to it (one
// line, UTF-16LE); when %ZC_UNINSTALL_SLEEP% is set, it then sleeps that many milliseconds, an
// uninstaller that outlives a wait. Exit code %ZC_UNINSTALL_EXIT% (0 when unset), or 3 when
// the command line names no product code.
#include <windows.h>

#include <stdlib.h>

#include <string>

namespace {

std::wstring Variable(const wchar_t* name)
{
    wchar_t value[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

} // namespace

int wmain()
{
    std::wstring commandLine = GetCommandLineW();
    std::wstring record = Variable(L"ZC_UNINSTALL_RECORD");
    if (!record.empty()) {
        HANDLE file = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::wstring line = commandLine + L"\n";
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
            CloseHandle(file);
        }
    }
    std::wstring sleep = Variable(L"ZC_UNINSTALL_SLEEP");
    if (!sleep.empty())
        Sleep(static_cast<DWORD>(_wtoi(sleep.c_str())));
    size_t at = commandLine.find(L"/x \"");
    size_t end = at == std::wstring::npos ? at : commandLine.find(L'"', at + 4);
    if (end == std::wstring::npos)
        return 3;
    std::wstring code = commandLine.substr(at + 4, end - at - 4);
    std::wstring list = Variable(L"ZC_UNINSTALL_LIST");
    RegDeleteKeyExW(HKEY_USERS, (list + L"\\" + code).c_str(), KEY_WOW64_64KEY, 0);
    std::wstring added = Variable(L"ZC_UNINSTALL_ADDS");
    if (!added.empty()) {
        HKEY key;
        if (RegCreateKeyExW(HKEY_USERS, (list + L"\\" + added).c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            const wchar_t name[] = L"Zamo Deployment";
            RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof(name));
            RegCloseKey(key);
        }
    }
    return _wtoi(Variable(L"ZC_UNINSTALL_EXIT").c_str());
}
