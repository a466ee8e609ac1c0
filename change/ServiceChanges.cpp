// Changes to services, scheduled tasks and firewall rules; a failed removal is an item of the
// run's record, a successful one only of its report.
#include "ServiceChanges.h"
#include "TriedItems.h"

#include "ChangePart.h"
#include "../log/log.h"

#include <netfw.h>
#include <taskschd.h>

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
    if (!ListsTriedItems())
        return;
    PathBuffer shown;
    if (!FormatText(shown, format, identity))
        shown[0] = L'\0';
    NoteRemoved(kind, identity, shown);
}

// Notes what removing an object of the Task Scheduler or the firewall by its name came to;
// result is the interface's answer.
Change NoteRemoval(const ItemKind& kind, const wchar_t* format, const wchar_t* identity, HRESULT result)
{
    if (FAILED(result))
        NoteNamed(kind, format, identity);
    else
        NoteNamedRemoved(kind, format, identity);
    SetLastError(static_cast<DWORD>(result));
    return Outcome(SUCCEEDED(result));
}

} // namespace

Change RemoveService(SC_HANDLE manager, const wchar_t* name)
{
    if (RunChanges().preview) {
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
    if (RunChanges().preview) {
        NoteNamed(TriedTask, L"scheduled task [%s]", path);
        LogLine(L"Would remove scheduled task [%s]", path);
        return Change::Previewed;
    }
    BSTR taskName = SysAllocString(name);
    result = taskName == nullptr ? E_OUTOFMEMORY : folder->DeleteTask(taskName, 0);
    SysFreeString(taskName);
    return NoteRemoval(TriedTask, L"scheduled task [%s]", path, result);
}

Change DeleteTaskFolder(ITaskFolder* parent, const wchar_t* name, const wchar_t* path, HRESULT& result)
{
    if (RunChanges().preview) {
        NoteNamed(TriedTaskFolder, L"scheduled task folder [%s]", path);
        LogLine(L"Would remove scheduled task folder [%s]", path);
        return Change::Previewed;
    }
    BSTR folderName = SysAllocString(name);
    result = folderName == nullptr ? E_OUTOFMEMORY : parent->DeleteFolder(folderName, 0);
    SysFreeString(folderName);
    return NoteRemoval(TriedTaskFolder, L"scheduled task folder [%s]", path, result);
}

Change RemoveFirewallRule(INetFwRules* rules, const wchar_t* name, HRESULT& result)
{
    if (RunChanges().preview) {
        NoteNamed(TriedFirewallRule, L"firewall rule [%s]", name);
        LogLine(L"Would remove firewall rule [%s]", name);
        return Change::Previewed;
    }
    BSTR ruleName = SysAllocString(name);
    result = ruleName == nullptr ? E_OUTOFMEMORY : rules->Remove(ruleName);
    SysFreeString(ruleName);
    return NoteRemoval(TriedFirewallRule, L"firewall rule [%s]", name, result);
}

void NoteFirewallRuleKept(const wchar_t* name)
{
    if (RunChanges().preview)
        return;
    NoteNamed(TriedFirewallRule, L"firewall rule [%s]", name);
    NoteFailure(ERROR_ACCESS_DENIED);
}
