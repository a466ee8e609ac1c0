// A stand-in Task Scheduler for the tests, over a tree of folders and tasks that the test knows
// and reads back afterwards (a deleted task or folder is gone from its folder's list).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

struct StandInTask {
    std::wstring name;
    std::wstring program;  // empty: an action of another kind than an exec action
    std::wstring arguments;
    bool hidden = false;
    HRESULT deleted = S_OK;  // what deleting it answers
};
struct StandInTaskFolder {
    std::wstring path;  // "\\" for the root
    std::vector<StandInTask> tasks;
    std::vector<StandInTaskFolder> folders;
    HRESULT deleted = S_OK;  // what deleting it answers, once it is empty
};

// The scheduler's service object (ITaskService) over root, with one reference; root must outlive it.
IUnknown* MakeStandInScheduler(StandInTaskFolder& root);
