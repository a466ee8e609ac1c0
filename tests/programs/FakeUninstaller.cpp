// Stand-in for MsiExec.exe that changes a user's uninstall list as an uninstaller
// would: started as `MsiExec.exe /x "{code}" /quiet`, it deletes the entry named
// {code} from the list HKEY_USERS\%ZC_UNINSTALL_LIST% and, when %ZC_UNINSTALL_ADDS% is
// set, adds an entry of that name whose DisplayName is "Zamo Deployment".
// Exit code %ZC_UNINSTALL_EXIT% (0 when unset), or 3 when the command line names no
// product code.
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
