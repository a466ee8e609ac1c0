// Services: every service whose binary path starts the product's program is stopped and
// deleted through the Service Control Manager.
#include "Services.h"
#include "../ground/ProductTargets.h"
#include "../ground/Scope.h"

#include "../../change/ServiceChanges.h"
#include "../../log/log.h"

namespace {

// The binary path of a service, read through the manager. False when the service cannot be
// queried or its path does not fit.
bool ReadServiceCommand(SC_HANDLE manager, const wchar_t* name, PathBuffer& out)
{
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_CONFIG);
    if (service == nullptr)
        return false;
    bool read = false;
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    if (needed > 0) {
        auto* config = static_cast<QUERY_SERVICE_CONFIGW*>(HeapAlloc(GetProcessHeap(), 0, needed));
        if (config != nullptr) {
            read = QueryServiceConfigW(service, config, needed, &needed) && config->lpBinaryPathName != nullptr &&
                   TextCopy(out, config->lpBinaryPathName);
            HeapFree(GetProcessHeap(), 0, config);
        }
    }
    CloseServiceHandle(service);
    return read;
}

// Every service of the machine, each as the manager listed it when asked; null when the list
// cannot be read. The caller frees it from the process heap.
ENUM_SERVICE_STATUS_PROCESSW* ListServices(SC_HANDLE manager, DWORD& count)
{
    DWORD needed = 0;
    for (;;) {
        DWORD size = needed;
        ENUM_SERVICE_STATUS_PROCESSW* list = nullptr;
        if (size > 0) {
            list = static_cast<ENUM_SERVICE_STATUS_PROCESSW*>(HeapAlloc(GetProcessHeap(), 0, size));
            if (list == nullptr)
                return nullptr;
        }
        DWORD resume = 0;
        count = 0;
        if (EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                  reinterpret_cast<BYTE*>(list), size, &needed, &count, &resume, nullptr))
            return list;
        DWORD error = GetLastError();
        if (list != nullptr)
            HeapFree(GetProcessHeap(), 0, list);
        // Services added since the size was asked for need more room: ask again.
        if (error != ERROR_MORE_DATA || needed == 0)
            return nullptr;
        needed += 4096;
    }
}

} // namespace

void RemoveProductServices()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (manager == nullptr)
        return;
    ProductTargets targets;
    ReadProductTargets(MachineScope(), targets);
    DWORD count = 0;
    ENUM_SERVICE_STATUS_PROCESSW* list = ListServices(manager, count);
    for (DWORD i = 0; list != nullptr && i < count; i++) {
        const wchar_t* name = list[i].lpServiceName;
        PathBuffer command;
        if (!ReadServiceCommand(manager, name, command) || !CommandStartsProducts(targets, command))
            continue;
        LogChange(L"Removing service [%s]", name);
        if (RemoveService(manager, name) == Change::Failed)
            LogLine(L"Failed to remove service [%s] [%d]", name, static_cast<int>(GetLastError()));
    }
    if (list != nullptr)
        HeapFree(GetProcessHeap(), 0, list);
    CloseServiceHandle(manager);
}
