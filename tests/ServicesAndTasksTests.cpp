// Services made through the Service Control Manager and tasks registered through the Task
// Scheduler's own interface, under the program folders of the test machine.
#include "change/ServiceChanges.h"
#include "clean/starts/ScheduledTasks.h"
#include "clean/starts/Services.h"
#include "change/RunOutcome.h"
#include "common/Settings.h"
#include "support/ServiceQuery.h"
#include "support/TestMachine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <taskschd.h>

namespace {

typedef std::vector<std::wstring> Lines;

const wchar_t ProductService[] = L"ZcTestZamoUpdater";
const wchar_t ToolsService[] = L"ZcTestQuorvexTools";
const wchar_t OtherService[] = L"ZcTestFenwickSync";

// A stopped service of the prefix, deleted when the object goes if it is still there.
class TestService {
public:
    TestService(const wchar_t* name, const std::wstring& command) : name_(name)
    {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager == nullptr)
            return;
        Remove(manager);
        SC_HANDLE service = CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                           SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, command.c_str(), nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
        made_ = service != nullptr;
        if (service != nullptr)
            CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }
    ~TestService()
    {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager != nullptr) {
            Remove(manager);
            CloseServiceHandle(manager);
        }
    }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;
    bool Made() const { return made_; }

private:
    void Remove(SC_HANDLE manager) const
    {
        SC_HANDLE service = OpenServiceW(manager, name_, DELETE);
        if (service != nullptr) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
    }
    const wchar_t* name_;
    bool made_ = false;
};

class ServicesAndTasksTest : public ::testing::Test {
protected:
    ServicesAndTasksTest() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ServicesAndTasksTest() override { CoUninitialize(); }
    std::wstring Pf86(const std::wstring& tail) const { return programs.Pf86(tail); }

    ProgramFolders programs;
    LogCapture log;
};

TEST_F(ServicesAndTasksTest, ServicesOfTheProductAreRemovedOthersStay)
{
    TestService product(ProductService, L"\"" + Pf86(L"\\Quorvex\\Zamo Updater\\ZamoUpdater.exe") + L"\" /service");
    TestService tools(ToolsService, L"\"" + Pf86(L"\\Quorvex Tools\\svc.exe") + L"\"");
    TestService other(OtherService, L"C:\\Fenwick\\sync.exe -service");
    ASSERT_TRUE(product.Made() && tools.Made() && other.Made());

    {
        PreviewRun preview;
        RemoveProductServices();
    }
    EXPECT_EQ(log.Lines(), Lines{std::wstring(L"Would remove service [") + ProductService + L"]"});
    EXPECT_TRUE(ServiceExists(ProductService));

    log.Clear();
    RemoveProductServices();
    EXPECT_EQ(log.Lines(), Lines{std::wstring(L"Removing service [") + ProductService + L"]"});
    EXPECT_FALSE(ServiceExists(ProductService));
    EXPECT_TRUE(ServiceExists(ToolsService));
    EXPECT_TRUE(ServiceExists(OtherService));
}

// With "/ExitCode": a preview that would remove a service makes 1, a run that removed it 0.
TEST_F(ServicesAndTasksTest, ServicesCountForTheExitCode)
{
    TestService product(ProductService, L"\"" + Pf86(L"\\Quorvex\\ZamoUpdater.exe") + L"\"");
    ASSERT_TRUE(product.Made());
    struct Option {
        Option() { ReportExitCode = true; ClearTriedItems(); }
        ~Option() { ClearTriedItems(); ReportExitCode = false; }
    } option;
    int previewCode = -1;
    {
        PreviewRun preview;
        RemoveProductServices();
        previewCode = LogRunOutcome();
    }
    ClearTriedItems();
    RemoveProductServices();
    EXPECT_EQ(previewCode, 1);
    EXPECT_EQ(LogRunOutcome(), 0);
    const std::wstring name = ProductService;
    EXPECT_EQ(log.Lines(), (Lines{L"Would remove service [" + name + L"]", L"Exit code [1]",
                                  L"Removing service [" + name + L"]", L"Exit code [0]"}));
    EXPECT_FALSE(ServiceExists(ProductService));
}

TEST_F(ServicesAndTasksTest, ServiceThatCannotBeDeletedIsReportedWithTheCode)
{
    TestService product(ProductService, L"%ProgramFiles(x86)%\\Quorvex\\ZamoUpdater.exe /service");
    ASSERT_TRUE(product.Made());
    // Marked for deletion while this handle stays open: the manager still lists it, and a
    // second deletion fails.
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE held = OpenServiceW(manager, ProductService, DELETE | SERVICE_QUERY_STATUS);
    ASSERT_NE(held, nullptr);
    ASSERT_TRUE(DeleteService(held));
    bool listed = ServiceExists(ProductService);
    if (listed)
        RemoveProductServices();
    CloseServiceHandle(held);
    CloseServiceHandle(manager);
    if (!listed)
        GTEST_SKIP() << "Wine removes a service marked for deletion at once, so no deletion can fail here";
    EXPECT_EQ(log.Lines(), (Lines{std::wstring(L"Removing service [") + ProductService + L"]",
                                  std::wstring(L"Failed to remove service [") + ProductService + L"] [1072]"}));
}

TEST_F(ServicesAndTasksTest, RunningServiceIsStoppedBeforeItIsDeleted)
{
    // The service program sits in the product's folder, as the updater would.
    const std::wstring folder = Pf86(L"\\Quorvex\\Zamo");
    for (const wchar_t* tail : {L"", L"\\Quorvex"})
        CreateDirectoryW(Pf86(tail).c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = folder + L"\\ZamoUpdater.exe";
    ASSERT_TRUE(CopyFileW((BinaryFolder() + L"\\FakeService.exe").c_str(), program.c_str(), FALSE));
    TestService product(ProductService, L"\"" + program + L"\" /service");
    ASSERT_TRUE(product.Made());
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager == nullptr ? nullptr : OpenServiceW(manager, ProductService, SERVICE_START);
    bool started = service != nullptr && StartServiceW(service, 0, nullptr);
    if (service != nullptr)
        CloseServiceHandle(service);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    for (int i = 0; started && i < 100 && ServiceState(ProductService) != SERVICE_RUNNING; i++)
        Sleep(100);
    if (!started || ServiceState(ProductService) != SERVICE_RUNNING)
        GTEST_SKIP() << "this service manager did not start the test service";

    RemoveProductServices();
    EXPECT_EQ(log.Lines(), Lines{std::wstring(L"Removing service [") + ProductService + L"]"});
    // Marked for deletion, the service is listed until the manager has seen its process end,
    // which on a loaded machine may come a moment after it reported itself stopped.
    bool gone = false;
    for (int i = 0; i < 100 && !(gone = !ServiceExists(ProductService)); i++)
        Sleep(100);
    EXPECT_TRUE(gone);
    // Stopped, its process has ended and its program can be deleted.
    bool deleted = false;
    for (int i = 0; i < 50 && !(deleted = DeleteFileW(program.c_str()) != FALSE); i++)
        Sleep(100);
    EXPECT_TRUE(deleted);
}

// A task of the test's own folder, registered through the scheduler, removed with its folder.
class TestTasks {
public:
    TestTasks()
    {
        if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                    reinterpret_cast<void**>(&service_))))
            return;
        VARIANT none;
        VariantInit(&none);
        BSTR root = SysAllocString(L"\\");
        BSTR name = SysAllocString(L"ZcTest");
        if (SUCCEEDED(service_->Connect(none, none, none, none)) && SUCCEEDED(service_->GetFolder(root, &root_))) {
            root_->DeleteFolder(name, 0);
            root_->CreateFolder(name, none, &folder_);
        }
        SysFreeString(root);
        SysFreeString(name);
    }
    ~TestTasks()
    {
        if (folder_ != nullptr) {
            for (const std::wstring& name : made_) {
                BSTR task = SysAllocString(name.c_str());
                folder_->DeleteTask(task, 0);
                SysFreeString(task);
            }
            folder_->Release();
        }
        if (root_ != nullptr) {
            BSTR name = SysAllocString(L"ZcTest");
            root_->DeleteFolder(name, 0);
            SysFreeString(name);
            root_->Release();
        }
        if (service_ != nullptr)
            service_->Release();
    }
    TestTasks(const TestTasks&) = delete;
    TestTasks& operator=(const TestTasks&) = delete;

    // Registers a task with one exec action; the HRESULT of the registration.
    HRESULT Register(const std::wstring& name, const std::wstring& program)
    {
        if (folder_ == nullptr)
            return E_FAIL;
        ITaskDefinition* definition = nullptr;
        HRESULT result = service_->NewTask(0, &definition);
        IActionCollection* actions = nullptr;
        IAction* action = nullptr;
        IExecAction* exec = nullptr;
        if (SUCCEEDED(result))
            result = definition->get_Actions(&actions);
        if (SUCCEEDED(result))
            result = actions->Create(TASK_ACTION_EXEC, &action);
        if (SUCCEEDED(result))
            result = action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec));
        BSTR path = SysAllocString(program.c_str());
        if (SUCCEEDED(result))
            result = exec->put_Path(path);
        VARIANT none;
        VariantInit(&none);
        IRegisteredTask* task = nullptr;
        BSTR taskName = SysAllocString(name.c_str());
        if (SUCCEEDED(result))
            result = folder_->RegisterTaskDefinition(taskName, definition, TASK_CREATE_OR_UPDATE, none, none,
                                                     TASK_LOGON_NONE, none, &task);
        if (SUCCEEDED(result))
            made_.push_back(name);
        for (IUnknown* object : {static_cast<IUnknown*>(task), static_cast<IUnknown*>(exec),
                                 static_cast<IUnknown*>(action), static_cast<IUnknown*>(actions),
                                 static_cast<IUnknown*>(definition)}) {
            if (object != nullptr)
                object->Release();
        }
        SysFreeString(path);
        SysFreeString(taskName);
        return result;
    }
    // Why this scheduler cannot show the step its tasks, or empty when it can: it must list a
    // folder's tasks and give back the program of an exec action as registered.
    std::wstring Shortcoming(const std::wstring& name, const std::wstring& program) const
    {
        IRegisteredTaskCollection* tasks = nullptr;
        LONG count = 0;
        HRESULT result = folder_->GetTasks(TASK_ENUM_HIDDEN, &tasks);
        if (SUCCEEDED(result))
            result = tasks->get_Count(&count);
        if (tasks != nullptr)
            tasks->Release();
        if (FAILED(result)) {
            wchar_t code[16];
            wsprintfW(code, L"0x%08X", static_cast<unsigned>(result));
            return L"this Task Scheduler does not list a folder's tasks (IRegisteredTaskCollection::get_Count: " +
                   std::wstring(code) + L")";
        }
        BSTR taskName = SysAllocString(name.c_str());
        IRegisteredTask* task = nullptr;
        BSTR xml = nullptr;
        if (SUCCEEDED(folder_->GetTask(taskName, &task)))
            task->get_Xml(&xml);
        bool kept = xml != nullptr && std::wstring(xml).find(program) != std::wstring::npos;
        SysFreeString(xml);
        SysFreeString(taskName);
        if (task != nullptr)
            task->Release();
        return kept ? L"" : L"this Task Scheduler stores an exec action without its program";
    }
    ITaskFolder* Folder() const { return folder_; }
    bool Exists(const std::wstring& name) const
    {
        BSTR taskName = SysAllocString(name.c_str());
        IRegisteredTask* task = nullptr;
        bool found = SUCCEEDED(folder_->GetTask(taskName, &task));
        if (task != nullptr)
            task->Release();
        SysFreeString(taskName);
        return found;
    }

private:
    ITaskService* service_ = nullptr;
    ITaskFolder* root_ = nullptr;
    ITaskFolder* folder_ = nullptr;
    std::vector<std::wstring> made_;
};

TEST_F(ServicesAndTasksTest, TasksThatStartTheProductAreRemovedOthersStay)
{
    TestTasks tasks;
    const std::wstring product = Pf86(L"\\Quorvex\\Zamo\\ZamoUpdater.exe");
    ASSERT_EQ(tasks.Register(L"Zamo Update", product), S_OK);
    ASSERT_EQ(tasks.Register(L"Zamo Tools", Pf86(L"\\Quorvex Tools\\tool.exe")), S_OK);
    ASSERT_EQ(tasks.Register(L"Fenwick Sync", L"C:\\Fenwick\\sync.exe"), S_OK);
    std::wstring shortcoming = tasks.Shortcoming(L"Zamo Update", product);
    if (!shortcoming.empty()) {
        // The step cannot see the tasks here: it finds nothing and changes nothing.
        RemoveProductTasks();
        EXPECT_EQ(log.Lines(), Lines{});
        EXPECT_TRUE(tasks.Exists(L"Zamo Update"));
        // What it does with each task it finds still runs through this scheduler: a preview
        // names the task and keeps it, a run deletes that task alone, and a task that is no
        // longer there is a failure with the scheduler's code.
        HRESULT result = S_OK;
        {
            PreviewRun preview;
            EXPECT_EQ(DeleteScheduledTask(tasks.Folder(), L"Zamo Update", L"\\ZcTest\\Zamo Update", result),
                      Change::Previewed);
        }
        EXPECT_EQ(log.Lines(), Lines{L"Would remove scheduled task [\\ZcTest\\Zamo Update]"});
        EXPECT_TRUE(tasks.Exists(L"Zamo Update"));
        log.Clear();
        EXPECT_EQ(DeleteScheduledTask(tasks.Folder(), L"Zamo Update", L"\\ZcTest\\Zamo Update", result),
                  Change::Made);
        EXPECT_EQ(result, S_OK);
        EXPECT_FALSE(tasks.Exists(L"Zamo Update"));
        EXPECT_TRUE(tasks.Exists(L"Zamo Tools"));
        EXPECT_TRUE(tasks.Exists(L"Fenwick Sync"));
        EXPECT_EQ(DeleteScheduledTask(tasks.Folder(), L"Zamo Update", L"\\ZcTest\\Zamo Update", result),
                  Change::Failed);
        EXPECT_TRUE(FAILED(result));
        EXPECT_EQ(log.Lines(), Lines{});
        GTEST_SKIP() << "finding the tasks through this system's own scheduler: "
                     << std::string(shortcoming.begin(), shortcoming.end())
                     << " (ScheduledTasksTest runs the finding against a stand-in scheduler)";
    }

    {
        PreviewRun preview;
        RemoveProductTasks();
    }
    EXPECT_EQ(log.Lines(), Lines{L"Would remove scheduled task [\\ZcTest\\Zamo Update]"});
    EXPECT_TRUE(tasks.Exists(L"Zamo Update"));
    log.Clear();
    RemoveProductTasks();
    EXPECT_EQ(log.Lines(), Lines{L"Removing scheduled task [\\ZcTest\\Zamo Update]"});
    EXPECT_FALSE(tasks.Exists(L"Zamo Update"));
    EXPECT_TRUE(tasks.Exists(L"Zamo Tools"));
    EXPECT_TRUE(tasks.Exists(L"Fenwick Sync"));
}

} // namespace
