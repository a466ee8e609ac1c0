// The scheduled-task step's finding, matching and deleting, against a Task Scheduler that lists
// its tasks: a stand-in registered for CLSID_TaskScheduler in this process over a known tree
// (Wine's own cannot list a folder's tasks).
#include "change/RunOutcome.h"
#include "clean/starts/ScheduledTasks.h"
#include "common/Settings.h"
#include "support/StandIn.h"
#include "support/StandInScheduler.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <taskschd.h>

namespace {

typedef std::vector<std::wstring> Lines;

class ScheduledTasksTest : public ::testing::Test {
protected:
    ScheduledTasksTest()
        : programFiles(L"ProgramFiles", (programs / L"PF").c_str()),
          programFilesX86(L"ProgramFiles(x86)", (programs / L"PF86").c_str()),
          programW6432(L"ProgramW6432", (programs / L"PF64").c_str())
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        root.path = L"\\";
        scheduler = StandInClass::Register(CLSID_TaskScheduler, [this]() { return MakeStandInScheduler(root); });
    }
    ~ScheduledTasksTest() override
    {
        scheduler->Revoke();
        CoUninitialize();
    }
    void SetUp() override { ASSERT_TRUE(scheduler->Registered()); }
    std::wstring Pf86(const std::wstring& tail) const { return programs / (L"PF86" + tail); }
    // The names of a folder's tasks, in their order.
    static Lines Names(const StandInTaskFolder& folder)
    {
        Lines names;
        for (const StandInTask& task : folder.tasks)
            names.push_back(task.name);
        return names;
    }
    static StandInTask MakeTask(const wchar_t* name, const std::wstring& program, const std::wstring& arguments = L"")
    {
        StandInTask task;
        task.name = name;
        task.program = program;
        task.arguments = arguments;
        return task;
    }

    TempFolder programs;
    LogCapture log;
    ScopedVariable programFiles;
    ScopedVariable programFilesX86;
    ScopedVariable programW6432;
    StandInTaskFolder root;
    StandInClass* scheduler = nullptr;
};

// The product's tasks go from every folder, hidden ones too; another maker's, one that starts
// cmd.exe with the product's program as an argument, and one whose action is not a program stay.
TEST_F(ScheduledTasksTest, TasksThatStartTheProductAreRemovedFromEveryFolder)
{
    const std::wstring updater = Pf86(L"\\Quorvex\\Zamo\\ZamoUpdater.exe");
    root.tasks = {MakeTask(L"Fenwick Sync", L"C:\\Fenwick\\sync.exe"),
                  MakeTask(L"Zamo Launcher", L"C:\\windows\\system32\\cmd.exe", L"/c \"" + updater + L"\""),
                  MakeTask(L"Zamo Update", L"\"" + updater + L"\"", L"/check")};
    StandInTaskFolder quorvex;
    quorvex.path = L"\\Quorvex";
    quorvex.tasks = {MakeTask(L"Zamo Daily", L"%ProgramFiles(x86)%\\Quorvex\\Zamo\\Zamo.exe")};
    StandInTaskFolder nested;
    nested.path = L"\\Quorvex\\Agents";
    nested.tasks = {MakeTask(L"Zamo Tools", Pf86(L"\\Quorvex Tools\\tool.exe")), MakeTask(L"Zamo Handler", L""),
                    MakeTask(L"ZamoCrashHandler", L"C:\\Elsewhere\\ZamoCrashHandler.exe")};
    nested.tasks.back().hidden = true;
    quorvex.folders = {nested};
    StandInTaskFolder fenwick;
    fenwick.path = L"\\Fenwick";
    fenwick.tasks = {MakeTask(L"Fenwick Check", L"C:\\Fenwick\\check.exe")};
    root.folders = {quorvex, fenwick};
    const StandInTaskFolder seeded = root;

    {
        PreviewRun preview;
        RemoveProductTasks();
    }
    // Each folder from its last task to its first, then its sub-folders, depth first.
    EXPECT_EQ(log.Lines(), (Lines{L"Would remove scheduled task [\\Zamo Update]",
                                  L"Would remove scheduled task [\\Quorvex\\Zamo Daily]",
                                  L"Would remove scheduled task [\\Quorvex\\Agents\\ZamoCrashHandler]"}));
    EXPECT_EQ(Names(root), Names(seeded));
    EXPECT_EQ(Names(root.folders[0]), Names(seeded.folders[0]));
    EXPECT_EQ(Names(root.folders[0].folders[0]), Names(seeded.folders[0].folders[0]));

    log.Clear();
    RemoveProductTasks();
    EXPECT_EQ(log.Lines(), (Lines{L"Removing scheduled task [\\Zamo Update]",
                                  L"Removing scheduled task [\\Quorvex\\Zamo Daily]",
                                  L"Removing scheduled task [\\Quorvex\\Agents\\ZamoCrashHandler]"}));
    EXPECT_EQ(Names(root), (Lines{L"Fenwick Sync", L"Zamo Launcher"}));
    EXPECT_EQ(Names(root.folders[0]), Lines{});
    EXPECT_EQ(Names(root.folders[0].folders[0]), (Lines{L"Zamo Tools", L"Zamo Handler"}));
    EXPECT_EQ(Names(root.folders[1]), Lines{L"Fenwick Check"});

    // Nothing of the product is left to find.
    log.Clear();
    RemoveProductTasks();
    EXPECT_EQ(log.Lines(), Lines{});
}

// A folder that the product's tasks alone filled goes with them, after its sub-folders, in a
// preview as in the real run; a folder with another's task, or one that was empty before, stays.
// A folder the scheduler refuses to delete stays, and so does its parent, which held nothing else.
TEST_F(ScheduledTasksTest, FoldersTheProductsTasksAloneFilledGoWithThem)
{
    const std::wstring zamo = Pf86(L"\\Quorvex\\Zamo\\Zamo.exe");
    StandInTaskFolder agents;
    agents.path = L"\\Quorvex\\Agents";
    agents.tasks = {MakeTask(L"Zamo Crash", zamo)};
    agents.tasks.back().hidden = true;
    StandInTaskFolder quorvex;
    quorvex.path = L"\\Quorvex";
    quorvex.tasks = {MakeTask(L"Zamo Daily", zamo), MakeTask(L"Zamo Weekly", zamo)};
    quorvex.folders = {agents};
    StandInTaskFolder tools;
    tools.path = L"\\Quorvex Tools";
    StandInTaskFolder fenwick;
    fenwick.path = L"\\Fenwick";
    fenwick.tasks = {MakeTask(L"Fenwick Check", L"C:\\Fenwick\\check.exe"), MakeTask(L"Zamo Check", zamo)};
    StandInTaskFolder held;
    held.path = L"\\Held";
    held.folders = {StandInTaskFolder()};
    held.folders[0].path = L"\\Held\\Zamo";
    held.folders[0].tasks = {MakeTask(L"Zamo Run", zamo)};
    held.folders[0].deleted = E_ACCESSDENIED;
    root.folders = {quorvex, tools, fenwick, held};

    const Lines removals = {L"scheduled task [\\Quorvex\\Zamo Weekly]",
                            L"scheduled task [\\Quorvex\\Zamo Daily]",
                            L"scheduled task [\\Quorvex\\Agents\\Zamo Crash]",
                            L"scheduled task folder [\\Quorvex\\Agents]",
                            L"scheduled task [\\Fenwick\\Zamo Check]",
                            L"scheduled task [\\Held\\Zamo\\Zamo Run]",
                            L"scheduled task folder [\\Held\\Zamo]",
                            L"scheduled task folder [\\Quorvex]"};
    {
        PreviewRun preview;
        RemoveProductTasks();
    }
    Lines expected;
    for (const std::wstring& removal : removals)
        expected.push_back(L"Would remove " + removal);
    // A preview cannot know that the scheduler will refuse \Held\Zamo: \Held would be emptied too.
    expected.push_back(L"Would remove scheduled task folder [\\Held]");
    EXPECT_EQ(log.Lines(), expected);
    ASSERT_EQ(root.folders.size(), 4u);
    EXPECT_EQ(root.folders[0].folders.size(), 1u);

    log.Clear();
    RemoveProductTasks();
    expected.clear();
    for (const std::wstring& removal : removals) {
        expected.push_back(L"Removing " + removal);
        if (removal == L"scheduled task folder [\\Held\\Zamo]")
            expected.push_back(L"Failed to remove scheduled task folder [\\Held\\Zamo] [5]");
    }
    EXPECT_EQ(log.Lines(), expected);
    ASSERT_EQ(root.folders.size(), 3u);
    EXPECT_EQ(root.folders[0].path, L"\\Quorvex Tools");
    EXPECT_EQ(root.folders[1].path, L"\\Fenwick");
    EXPECT_EQ(Names(root.folders[1]), Lines{L"Fenwick Check"});
    EXPECT_EQ(root.folders[2].path, L"\\Held");
    ASSERT_EQ(root.folders[2].folders.size(), 1u);
    EXPECT_EQ(Names(root.folders[2].folders[0]), Lines{});
}

// A task the scheduler refuses to delete stays, logged with the system's code, and the run's
// outcome says so; the other tasks of its folder still go.
TEST_F(ScheduledTasksTest, TaskThatCannotBeDeletedIsReportedWithTheCode)
{
    root.tasks = {MakeTask(L"Zamo Update", Pf86(L"\\Quorvex\\ZamoUpdater.exe")),
                  MakeTask(L"Zamo Report", Pf86(L"\\Quorvex\\Zamo.exe"))};
    root.tasks[0].deleted = E_ACCESSDENIED;
    struct Option {
        Option() { ReportExitCode = true; ClearTriedItems(); }
        ~Option() { ClearTriedItems(); ReportExitCode = false; }
    } option;

    RemoveProductTasks();
    EXPECT_EQ(LogRunOutcome(), 1);
    EXPECT_EQ(log.Lines(), (Lines{L"Removing scheduled task [\\Zamo Report]",
                                  L"Removing scheduled task [\\Zamo Update]",
                                  L"Failed to remove scheduled task [\\Zamo Update] [5]",
                                  L"Not removed: scheduled task [\\Zamo Update]", L"Exit code [1]"}));
    EXPECT_EQ(Names(root), Lines{L"Zamo Update"});
}

} // namespace
