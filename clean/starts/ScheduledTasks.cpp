// Scheduled tasks: every task, in any folder, one of whose actions starts the product's
// program, read and deleted through the Task Scheduler's own interface, and each folder that
// such tasks alone filled.
#include "ScheduledTasks.h"
#include "../ground/ProductTargets.h"
#include "../ground/Scope.h"

#include "../../change/ServiceChanges.h"
#include "../../common/ComThread.h"
#include "../../log/log.h"

#include <taskschd.h>

namespace {

// An item of a scheduler collection by its 1-based position.
VARIANT Position(LONG position)
{
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = position;
    return index;
}

// True when an exec action of the task starts the product's program. Tasks run in the terms
// of the machine (or of an account that no scope here names): a user's references do not
// resolve, and such a task stays.
bool TaskStartsProducts(IRegisteredTask* task, const ProductTargets& targets)
{
    ITaskDefinition* definition = nullptr;
    if (FAILED(task->get_Definition(&definition)))
        return false;
    bool starts = false;
    IActionCollection* actions = nullptr;
    LONG count = 0;
    if (SUCCEEDED(definition->get_Actions(&actions)) && SUCCEEDED(actions->get_Count(&count))) {
        for (LONG i = 1; i <= count && !starts; i++) {
            IAction* action = nullptr;
            if (FAILED(actions->get_Item(i, &action)))
                continue;
            IExecAction* exec = nullptr;
            if (SUCCEEDED(action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec)))) {
                BSTR path = nullptr;
                if (SUCCEEDED(exec->get_Path(&path)) && path != nullptr)
                    starts = PathIsProducts(targets, path);
                SysFreeString(path);
                exec->Release();
            }
            action->Release();
        }
    }
    if (actions != nullptr)
        actions->Release();
    definition->Release();
    return starts;
}

// The system error code that a result carries (5 for access denied), or the result itself.
int ErrorCode(HRESULT result)
{
    return static_cast<int>(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : result);
}

// What the walk of a folder found: whether it took a task of the product's (removed it, or
// would in a preview) somewhere below, and whether anything of the folder stays. A folder the
// product's tasks alone filled is emptied by them, and goes with them; in a preview the answer
// is the same as in the real run.
struct FolderWalk {
    bool took;
    bool stays;
};

// Removes the product's tasks of one folder and logs each.
FolderWalk RemoveFolderTasks(ITaskFolder* folder, const ProductTargets& targets)
{
    FolderWalk walk = {false, true};
    IRegisteredTaskCollection* tasks = nullptr;
    LONG count = 0;
    if (FAILED(folder->GetTasks(TASK_ENUM_HIDDEN, &tasks)))
        return walk;
    if (FAILED(tasks->get_Count(&count)))
        count = -1;
    LONG left = count;
    // From the last task to the first, so that a deletion leaves the positions still to come.
    for (LONG i = count; i >= 1; i--) {
        IRegisteredTask* task = nullptr;
        if (FAILED(tasks->get_Item(Position(i), &task)))
            continue;
        BSTR name = nullptr;
        BSTR path = nullptr;
        if (SUCCEEDED(task->get_Name(&name)) && SUCCEEDED(task->get_Path(&path)) && name != nullptr &&
            path != nullptr && TaskStartsProducts(task, targets)) {
            LogChange(L"Removing scheduled task [%s]", path);
            HRESULT result = S_OK;
            if (DeleteScheduledTask(folder, name, path, result) == Change::Failed) {
                LogLine(L"Failed to remove scheduled task [%s] [%d]", path, ErrorCode(result));
            } else {
                walk.took = true;
                left--;
            }
        }
        SysFreeString(name);
        SysFreeString(path);
        task->Release();
    }
    tasks->Release();
    walk.stays = left != 0;
    return walk;
}

FolderWalk RemoveTasksBelow(ITaskFolder* folder, const ProductTargets& targets);

// Walks each sub-folder of folder, and then removes those that the product's tasks alone filled.
// The removals wait for the end of the walk: they would move the positions of the collection.
void RemoveSubfolders(ITaskFolder* folder, const ProductTargets& targets, FolderWalk& walk)
{
    ITaskFolderCollection* folders = nullptr;
    LONG count = 0;
    if (FAILED(folder->GetFolders(0, &folders))) {
        walk.stays = true;
        return;
    }
    if (FAILED(folders->get_Count(&count)))
        walk.stays = true;
    NameList emptied = {};  // their paths
    for (LONG i = 1; i <= count; i++) {
        ITaskFolder* child = nullptr;
        if (FAILED(folders->get_Item(Position(i), &child))) {
            walk.stays = true;
            continue;
        }
        FolderWalk below = RemoveTasksBelow(child, targets);
        walk.took = walk.took || below.took;
        BSTR path = nullptr;
        if (below.took && !below.stays &&
            (FAILED(child->get_Path(&path)) || path == nullptr || !AddName(emptied, path)))
            below.stays = true;
        walk.stays = walk.stays || below.stays;
        SysFreeString(path);
        child->Release();
    }
    folders->Release();
    for (DWORD i = 0; i < emptied.count; i++) {
        const wchar_t* path = emptied.names[i];
        // A sub-folder's path is its parent's, a backslash and its name.
        const wchar_t* name = wcsrchr(path, L'\\');
        LogChange(L"Removing scheduled task folder [%s]", path);
        HRESULT result = name == nullptr ? E_INVALIDARG : S_OK;
        if (name == nullptr || DeleteTaskFolder(folder, name + 1, path, result) == Change::Failed) {
            LogLine(L"Failed to remove scheduled task folder [%s] [%d]", path, ErrorCode(result));
            walk.stays = true;
        }
    }
    FreeNames(emptied);
}

// The folder's tasks, then each sub-folder's, depth first.
FolderWalk RemoveTasksBelow(ITaskFolder* folder, const ProductTargets& targets)
{
    FolderWalk walk = RemoveFolderTasks(folder, targets);
    RemoveSubfolders(folder, targets, walk);
    return walk;
}

} // namespace

void RemoveProductTasks()
{
    // The scheduler's objects need COM on the worker thread for the step.
    bool com = BeginComWork();
    ITaskService* service = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                   reinterpret_cast<void**>(&service)))) {
        VARIANT none;
        VariantInit(&none);
        ITaskFolder* root = nullptr;
        BSTR rootPath = SysAllocString(L"\\");
        if (rootPath != nullptr && SUCCEEDED(service->Connect(none, none, none, none)) &&
            SUCCEEDED(service->GetFolder(rootPath, &root))) {
            ProductTargets targets;
            ReadProductTargets(MachineScope(), targets);
            RemoveTasksBelow(root, targets);
            root->Release();
        }
        SysFreeString(rootPath);
        service->Release();
    }
    EndComWork(com);
}
