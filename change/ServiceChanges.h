// Changes to the system's own lists: services, scheduled tasks and firewall rules removed.
#pragma once

#include "Change.h"

#include <winsvc.h>

// Stops the named service, waiting at most 30 seconds for it to stop, and deletes it; a service
// that does not stop in time is deleted all the same and goes once it stops. Failed: GetLastError
// tells why (5 without an administrator's rights). Preview: "Would remove service [%s]".
Change RemoveService(SC_HANDLE manager, const wchar_t* name);

// Deletes the task named name from an open folder of the Task Scheduler; path is the task's
// whole path, as the preview shows it. Failed: result tells why. Preview: "Would remove
// scheduled task [%s]".
struct ITaskFolder;
Change DeleteScheduledTask(ITaskFolder* folder, const wchar_t* name, const wchar_t* path, HRESULT& result);
// Deletes the task folder called name below parent, path its whole path; the scheduler refuses
// a folder that still holds a task or a folder. Failed: result tells why. Preview: "Would
// remove scheduled task folder [%s]".
Change DeleteTaskFolder(ITaskFolder* parent, const wchar_t* name, const wchar_t* path, HRESULT& result);

// Removes the firewall rule called name from the firewall's open rule collection. Failed:
// result tells why. Preview: "Would remove firewall rule [%s]".
struct INetFwRules;
Change RemoveFirewallRule(INetFwRules* rules, const wchar_t* name, HRESULT& result);
// Notes a firewall rule that stays without a removal being tried, so that it counts as not removed.
void NoteFirewallRuleKept(const wchar_t* name);
