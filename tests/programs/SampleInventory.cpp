// Reads a list of items of the sample installation and tells which are present.
//   SampleInventory.exe LIST [verify]
// Each line of LIST: owner|kind|view|location|value, where owner is "product" or
// "other", kind is key, value, path or process, view is 32 or 64 for registry items,
// and location may hold environment references. HKLM and HKU roots are understood.
// With "verify", the exit code is the number of product items still present plus the
// number of other items that are gone.
#include <windows.h>
#include <tlhelp32.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

namespace {

bool OpenItemKey(const wchar_t* location, const wchar_t* view, HKEY* key)
{
    HKEY root = nullptr;
    const wchar_t* path = nullptr;
    if (wcsncmp(location, L"HKLM\\", 5) == 0) {
        root = HKEY_LOCAL_MACHINE;
        path = location + 5;
    } else if (wcsncmp(location, L"HKU\\", 4) == 0) {
        root = HKEY_USERS;
        path = location + 4;
    } else {
        return false;
    }
    REGSAM flag = wcscmp(view, L"32") == 0 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    return RegOpenKeyExW(root, path, 0, KEY_READ | flag, key) == ERROR_SUCCESS;
}

bool ProcessRuns(const wchar_t* name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
        found = StrCmpIW(entry.szExeFile, name) == 0;
    CloseHandle(snapshot);
    return found;
}

bool Present(const wchar_t* kind, const wchar_t* view, const wchar_t* location, const wchar_t* value)
{
    HKEY key;
    if (wcscmp(kind, L"key") == 0) {
        if (!OpenItemKey(location, view, &key))
            return false;
        RegCloseKey(key);
        return true;
    }
    if (wcscmp(kind, L"value") == 0) {
        if (!OpenItemKey(location, view, &key))
            return false;
        bool found = RegQueryValueExW(key, value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        return found;
    }
    if (wcscmp(kind, L"path") == 0)
        return GetFileAttributesW(location) != INVALID_FILE_ATTRIBUTES;
    if (wcscmp(kind, L"process") == 0)
        return ProcessRuns(location);
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 100;
    bool verify = argc > 2 && wcscmp(argv[2], L"verify") == 0;
    FILE* list = _wfopen(argv[1], L"r");
    if (list == nullptr)
        return 101;
    int failures = 0;
    char raw[2048];
    while (fgets(raw, sizeof(raw), list)) {
        wchar_t line[2048];
        MultiByteToWideChar(CP_UTF8, 0, raw, -1, line, ARRAYSIZE(line));
        line[wcscspn(line, L"\r\n")] = L'\0';
        wchar_t* fields[5] = {};
        wchar_t* cursor = line;
        for (int i = 0; i < 5; i++) {
            fields[i] = cursor;
            wchar_t* bar = cursor ? wcschr(cursor, L'|') : nullptr;
            if (bar)
                *bar = L'\0';
            cursor = bar ? bar + 1 : nullptr;
            if (!fields[i])
                fields[i] = const_cast<wchar_t*>(L"");
        }
        if (fields[1][0] == L'\0')
            continue;
        wchar_t location[2048];
        ExpandEnvironmentStringsW(fields[3], location, ARRAYSIZE(location));
        bool present = Present(fields[1], fields[2], location, fields[4]);
        bool product = wcscmp(fields[0], L"product") == 0;
        if (verify) {
            if (present && product)
                wprintf(L"left behind: %ls %ls %ls\n", fields[1], location, fields[4]), failures++;
            if (!present && !product)
                wprintf(L"removed, but not the product's: %ls %ls %ls\n", fields[1], location, fields[4]), failures++;
        } else {
            wchar_t kind[16];
            wsprintfW(kind, fields[2][0] ? L"%s/%s" : L"%s", fields[1], fields[2]);
            wprintf(L"%-8ls %-8ls %-9ls %ls%ls%ls\n", present ? L"present" : L"absent", fields[0], kind, location,
                    fields[4][0] ? L" : " : L"", fields[4]);
        }
    }
    fclose(list);
    return failures;
}
