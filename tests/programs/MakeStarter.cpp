// Makes (or removes) what starts a program, as installers do, for the sample installation:
//   MakeStarter.exe shortcut FILE TARGET        a .lnk saved by the shell's link object
//   MakeStarter.exe service NAME COMMAND        a demand-start service of the manager
//   MakeStarter.exe task \FOLDER\NAME PROGRAM   a task with one exec action
//   MakeStarter.exe remove-service NAME | remove-task \FOLDER\NAME
// The exit code is 0 when it was done.
#include <windows.h>
#include <shlobj.h>
#include <taskschd.h>
#include <wchar.h>

namespace {

int MakeShortcut(const wchar_t* file, const wchar_t* target)
{
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return 2;
    link->SetPath(target);
    IPersistFile* persist = nullptr;
    HRESULT result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
    if (SUCCEEDED(result)) {
        result = persist->Save(file, TRUE);
        persist->Release();
    }
    link->Release();
    return SUCCEEDED(result) ? 0 : 3;
}

int MakeService(const wchar_t* name, const wchar_t* command)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return 2;
    SC_HANDLE service = CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, command, nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    bool made = service != nullptr || GetLastError() == ERROR_SERVICE_EXISTS;
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return made ? 0 : 3;
}

int RemoveService(const wchar_t* name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr)
        return 2;
    SC_HANDLE service = OpenServiceW(manager, name, DELETE);
    bool removed = service != nullptr && DeleteService(service);
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return removed ? 0 : 3;
}

// The folder of a task path ("\Quorvex\Zamo Update" is in "\Quorvex"), created when asked.
ITaskFolder* TaskFolder(ITaskService* service, const wchar_t* path, bool create, BSTR* name)
{
    const wchar_t* last = wcsrchr(path, L'\\');
    if (last == nullptr)
        return nullptr;
    *name = SysAllocString(last + 1);
    BSTR root = SysAllocString(L"\\");
    BSTR folderPath = last == path ? SysAllocString(L"\\") : SysAllocStringLen(path, static_cast<UINT>(last - path));
    ITaskFolder* rootFolder = nullptr;
    ITaskFolder* folder = nullptr;
    if (SUCCEEDED(service->GetFolder(root, &rootFolder))) {
        if (FAILED(service->GetFolder(folderPath, &folder)) && create) {
            VARIANT none;
            VariantInit(&none);
            rootFolder->CreateFolder(folderPath, none, &folder);
        }
        rootFolder->Release();
    }
    SysFreeString(root);
    SysFreeString(folderPath);
    return folder;
}

int Task(const wchar_t* path, const wchar_t* program)
{
    ITaskService* service = nullptr;
    VARIANT none;
    VariantInit(&none);
    if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                reinterpret_cast<void**>(&service))) ||
        FAILED(service->Connect(none, none, none, none)))
        return 2;
    BSTR name = nullptr;
    ITaskFolder* folder = TaskFolder(service, path, program != nullptr, &name);
    HRESULT result = E_FAIL;
    if (folder != nullptr && program == nullptr) {
        result = folder->DeleteTask(name, 0);
    } else if (folder != nullptr) {
        ITaskDefinition* definition = nullptr;
        IActionCollection* actions = nullptr;
        IAction* action = nullptr;
        IExecAction* exec = nullptr;
        IRegisteredTask* task = nullptr;
        BSTR programText = SysAllocString(program);
        result = service->NewTask(0, &definition);
        if (SUCCEEDED(result))
            result = definition->get_Actions(&actions);
        if (SUCCEEDED(result))
            result = actions->Create(TASK_ACTION_EXEC, &action);
        if (SUCCEEDED(result))
            result = action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec));
        if (SUCCEEDED(result))
            result = exec->put_Path(programText);
        if (SUCCEEDED(result))
            result = folder->RegisterTaskDefinition(name, definition, TASK_CREATE_OR_UPDATE, none, none,
                                                    TASK_LOGON_NONE, none, &task);
        IUnknown* objects[] = {task, exec, action, actions, definition};
        for (IUnknown* object : objects) {
            if (object != nullptr)
                object->Release();
        }
        SysFreeString(programText);
    }
    if (folder != nullptr)
        folder->Release();
    SysFreeString(name);
    service->Release();
    return SUCCEEDED(result) ? 0 : 3;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 100;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = 100;
    if (wcscmp(argv[1], L"shortcut") == 0 && argc == 4)
        result = MakeShortcut(argv[2], argv[3]);
    else if (wcscmp(argv[1], L"service") == 0 && argc == 4)
        result = MakeService(argv[2], argv[3]);
    else if (wcscmp(argv[1], L"task") == 0 && argc == 4)
        result = Task(argv[2], argv[3]);
    else if (wcscmp(argv[1], L"remove-service") == 0)
        result = RemoveService(argv[2]);
    else if (wcscmp(argv[1], L"remove-task") == 0)
        result = Task(argv[2], nullptr);
    CoUninitialize();
    return result;
}
