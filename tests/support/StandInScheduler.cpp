// A stand-in Task Scheduler over a tree of folders and tasks that the test knows: Wine's own
// cannot list a folder's tasks.
#include "StandInScheduler.h"
#include "StandIn.h"

#include <taskschd.h>

namespace {

class ExecAction : public DispatchStandIn<IExecAction> {
public:
    explicit ExecAction(const StandInTask& task) : task_(task) {}
    HRESULT STDMETHODCALLTYPE get_Id(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Id(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override { *type = TASK_ACTION_EXEC; return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return CopyOut(task_.program.c_str(), path); }
    HRESULT STDMETHODCALLTYPE put_Path(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Arguments(BSTR* arguments) override
    {
        return CopyOut(task_.arguments.c_str(), arguments);
    }
    HRESULT STDMETHODCALLTYPE put_Arguments(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_WorkingDirectory(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_WorkingDirectory(BSTR) override { return E_NOTIMPL; }

private:
    // An exec action is an action too; one of another kind (a COM handler) is not an exec action.
    bool Implements(REFIID iid) const override
    {
        return iid == __uuidof(IAction) || (DispatchStandIn<IExecAction>::Implements(iid) && !task_.program.empty());
    }
    StandInTask task_;
};

class Actions : public DispatchStandIn<IActionCollection> {
public:
    explicit Actions(const StandInTask& task) : task_(task) {}
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override
    {
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, IAction** action) override
    {
        if (index != 1)
            return E_INVALIDARG;
        *action = new ExecAction(task_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_XmlText(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_XmlText(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Create(TASK_ACTION_TYPE, IAction**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Remove(VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clear() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Context(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Context(BSTR) override { return E_NOTIMPL; }

private:
    StandInTask task_;
};

class Definition : public DispatchStandIn<ITaskDefinition> {
public:
    explicit Definition(const StandInTask& task) : task_(task) {}
    HRESULT STDMETHODCALLTYPE get_RegistrationInfo(IRegistrationInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_RegistrationInfo(IRegistrationInfo*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Triggers(ITriggerCollection**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Triggers(ITriggerCollection*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Settings(ITaskSettings**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Settings(ITaskSettings*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Data(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Data(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Principal(IPrincipal**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Principal(IPrincipal*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** actions) override
    {
        *actions = new Actions(task_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Actions(IActionCollection*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_XmlText(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_XmlText(BSTR) override { return E_NOTIMPL; }

private:
    StandInTask task_;
};

class RegisteredTask : public DispatchStandIn<IRegisteredTask> {
public:
    RegisteredTask(const StandInTask& task, const std::wstring& path) : task_(task), path_(path) {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override { return CopyOut(task_.name.c_str(), name); }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return CopyOut(path_.c_str(), path); }
    HRESULT STDMETHODCALLTYPE get_State(TASK_STATE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Run(VARIANT, IRunningTask**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RunEx(VARIANT, LONG, LONG, BSTR, IRunningTask**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInstances(LONG, IRunningTaskCollection**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LastRunTime(DATE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LastTaskResult(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NumberOfMissedRuns(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NextRunTime(DATE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** definition) override
    {
        *definition = new Definition(task_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Xml(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSecurityDescriptor(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRunTimes(const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*, LPSYSTEMTIME*) override
    {
        return E_NOTIMPL;
    }

private:
    StandInTask task_;
    std::wstring path_;
};

// A task's or folder's whole path: the folder's, a backslash (none after the root's) and the name.
std::wstring PathBelow(const StandInTaskFolder& folder, const std::wstring& name)
{
    return folder.path == L"\\" ? L"\\" + name : folder.path + L"\\" + name;
}

// A folder's tasks as listed when it was asked: the hidden ones only with TASK_ENUM_HIDDEN.
class TaskList : public DispatchStandIn<IRegisteredTaskCollection> {
public:
    TaskList(const StandInTaskFolder& folder, bool hidden)
    {
        for (const StandInTask& task : folder.tasks) {
            if (hidden || !task.hidden)
                tasks_.push_back(std::make_pair(task, PathBelow(folder, task.name)));
        }
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override { *count = static_cast<LONG>(tasks_.size()); return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IRegisteredTask** task) override
    {
        if (index.vt != VT_I4 || index.lVal < 1 || index.lVal > static_cast<LONG>(tasks_.size()))
            return E_INVALIDARG;
        *task = new RegisteredTask(tasks_[index.lVal - 1].first, tasks_[index.lVal - 1].second);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }

private:
    std::vector<std::pair<StandInTask, std::wstring>> tasks_;
};

class TaskFolder : public DispatchStandIn<ITaskFolder> {
public:
    explicit TaskFolder(StandInTaskFolder& folder) : folder_(folder) {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return CopyOut(folder_.path.c_str(), path); }
    HRESULT STDMETHODCALLTYPE GetFolder(BSTR, ITaskFolder**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFolders(LONG, ITaskFolderCollection** folders) override;
    HRESULT STDMETHODCALLTYPE CreateFolder(BSTR, VARIANT, ITaskFolder**) override { return E_NOTIMPL; }
    // As the scheduler does, a folder that holds a task or a folder is refused.
    HRESULT STDMETHODCALLTYPE DeleteFolder(BSTR name, LONG) override
    {
        for (auto child = folder_.folders.begin(); child != folder_.folders.end(); ++child) {
            if (name == nullptr || child->path != PathBelow(folder_, name))
                continue;
            if (!child->tasks.empty() || !child->folders.empty())
                return HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY);
            HRESULT result = child->deleted;
            if (SUCCEEDED(result))
                folder_.folders.erase(child);
            return result;
        }
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE GetTask(BSTR, IRegisteredTask**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTasks(LONG flags, IRegisteredTaskCollection** tasks) override
    {
        *tasks = new TaskList(folder_, (flags & TASK_ENUM_HIDDEN) != 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DeleteTask(BSTR name, LONG) override
    {
        for (auto task = folder_.tasks.begin(); task != folder_.tasks.end(); ++task) {
            if (task->name != name)
                continue;
            HRESULT result = task->deleted;
            if (SUCCEEDED(result))
                folder_.tasks.erase(task);
            return result;
        }
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE RegisterTask(BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT,
                                           IRegisteredTask**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(BSTR, ITaskDefinition*, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE,
                                                     VARIANT, IRegisteredTask**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetSecurityDescriptor(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }

private:
    StandInTaskFolder& folder_;
};

class FolderList : public DispatchStandIn<ITaskFolderCollection> {
public:
    explicit FolderList(StandInTaskFolder& folder) : folder_(folder) {}
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override
    {
        *count = static_cast<LONG>(folder_.folders.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, ITaskFolder** folder) override
    {
        if (index.vt != VT_I4 || index.lVal < 1 || index.lVal > static_cast<LONG>(folder_.folders.size()))
            return E_INVALIDARG;
        *folder = new TaskFolder(folder_.folders[index.lVal - 1]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }

private:
    StandInTaskFolder& folder_;
};

HRESULT STDMETHODCALLTYPE TaskFolder::GetFolders(LONG, ITaskFolderCollection** folders)
{
    *folders = new FolderList(folder_);
    return S_OK;
}

class TaskService : public DispatchStandIn<ITaskService> {
public:
    explicit TaskService(StandInTaskFolder& root) : root_(root) {}
    HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** folder) override
    {
        if (!connected_)
            return HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);
        if (path == nullptr || std::wstring(path) != L"\\")
            return E_NOTIMPL;
        *folder = new TaskFolder(root_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRunningTasks(LONG, IRunningTaskCollection**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NewTask(DWORD, ITaskDefinition**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Connect(VARIANT, VARIANT, VARIANT, VARIANT) override { connected_ = true; return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_TargetServer(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ConnectedUser(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ConnectedDomain(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_HighestVersion(DWORD*) override { return E_NOTIMPL; }

private:
    StandInTaskFolder& root_;
    bool connected_ = false;
};

} // namespace

IUnknown* MakeStandInScheduler(StandInTaskFolder& root)
{
    return new TaskService(root);
}
