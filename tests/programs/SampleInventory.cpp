// Reads a list of items of the sample installation and tells which are present.
//   SampleInventory.exe LIST [verify]
// Each line of LIST: owner|kind|view|location|value, where owner is "product" or
// "other", kind is key, value, path, process, service, task (its path in the Task
// Scheduler) or package (a product code: a package the Windows Installer cached for it, directly
// in %SystemRoot%\Installer, whose own ProductCode is that code), view is 32 or 64 for registry items, and location may hold environment
// references. HKLM and HKU roots are understood. With "verify", the exit code is the number
// of product items still present plus the number of other items that are gone; a product's
// task is not counted where the Task Scheduler cannot list a folder's tasks (Wine 8), since
// no program can find it there, and the line says so.
#include <windows.h>
#include <tlhelp32.h>
#include <taskschd.h>
#include <msi.h>
#include <msiquery.h>
#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

#include "support/ServiceQuery.h"

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

// The Task Scheduler's folder of a task path and the task's name in it.
ITaskFolder* OpenTaskFolder(const wchar_t* path, BSTR* name)
{
    const wchar_t* last = wcsrchr(path, L'\\');
    ITaskService* service = nullptr;
    if (last == nullptr || FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                                   IID_ITaskService, reinterpret_cast<void**>(&service))))
        return nullptr;
    VARIANT none;
    VariantInit(&none);
    ITaskFolder* folder = nullptr;
    BSTR folderPath = last == path ? SysAllocString(L"\\") : SysAllocStringLen(path, static_cast<UINT>(last - path));
    if (SUCCEEDED(service->Connect(none, none, none, none)) && SUCCEEDED(service->GetFolder(folderPath, &folder)))
        *name = SysAllocString(last + 1);
    SysFreeString(folderPath);
    service->Release();
    return folder;
}

bool TaskExists(const wchar_t* path)
{
    BSTR name = nullptr;
    ITaskFolder* folder = OpenTaskFolder(path, &name);
    IRegisteredTask* task = nullptr;
    bool found = folder != nullptr && SUCCEEDED(folder->GetTask(name, &task));
    if (task != nullptr)
        task->Release();
    if (folder != nullptr)
        folder->Release();
    SysFreeString(name);
    return found;
}

// Whether the Task Scheduler lists the tasks of the task's folder.
bool TasksListed(const wchar_t* path)
{
    BSTR name = nullptr;
    ITaskFolder* folder = OpenTaskFolder(path, &name);
    IRegisteredTaskCollection* tasks = nullptr;
    LONG count = 0;
    bool listed = folder != nullptr && SUCCEEDED(folder->GetTasks(TASK_ENUM_HIDDEN, &tasks)) &&
                  SUCCEEDED(tasks->get_Count(&count));
    if (tasks != nullptr)
        tasks->Release();
    if (folder != nullptr)
        folder->Release();
    SysFreeString(name);
    return listed;
}

// The ProductCode of a Windows Installer package, from its Property table.
bool PackageProductCode(const wchar_t* package, wchar_t (&code)[64])
{
    MSIHANDLE database;
    if (MsiOpenDatabaseW(package, MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS)
        return false;
    bool read = false;
    MSIHANDLE view;
    if (MsiDatabaseOpenViewW(database, L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'", &view) ==
        ERROR_SUCCESS) {
        MSIHANDLE record;
        if (MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
            DWORD count = ARRAYSIZE(code);
            read = MsiRecordGetStringW(record, 1, code, &count) == ERROR_SUCCESS;
            MsiCloseHandle(record);
        }
        MsiViewClose(view);
        MsiCloseHandle(view);
    }
    MsiCloseHandle(database);
    return read;
}

// Whether the Installer's folder holds a cached package of the product code.
bool CachedPackageExists(const wchar_t* productCode)
{
    wchar_t folder[MAX_PATH];
    if (ExpandEnvironmentStringsW(L"%SystemRoot%\\Installer", folder, MAX_PATH) == 0)
        return false;
    wchar_t pattern[MAX_PATH];
    wsprintfW(pattern, L"%s\\*.msi", folder);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern, &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool present = false;
    do {
        wchar_t path[MAX_PATH];
        wchar_t code[64];
        wsprintfW(path, L"%s\\%s", folder, found.cFileName);
        present = PackageProductCode(path, code) && StrCmpIW(code, productCode) == 0;
    } while (!present && FindNextFileW(find, &found));
    FindClose(find);
    return present;
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
    if (wcscmp(kind, L"service") == 0)
        return ServiceExists(location);
    if (wcscmp(kind, L"task") == 0)
        return TaskExists(location);
    if (wcscmp(kind, L"package") == 0)
        return CachedPackageExists(location);
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 100;
    bool verify = argc > 2 && wcscmp(argv[2], L"verify") == 0;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
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
            if (present && product && wcscmp(fields[1], L"task") == 0 && !TasksListed(location))
                wprintf(L"not counted: task %ls (this Task Scheduler cannot list tasks)\n", location);
            else if (present && product)
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
