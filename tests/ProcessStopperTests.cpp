// Process stopper: copies of a stand-in program run under product and non-product
// names; the tests check who is stopped, the log lines and the one pause.
#include "clean/starts/ProcessStopper.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

const ULONGLONG PauseMs = 5000;
// Timer and stamp granularity: a pause of 5000 ms may measure a little short.
const ULONGLONG PauseSlackMs = 100;
// Far below the pause, far above what a walk of the process list takes.
const ULONGLONG NoPauseLimitMs = 2500;

std::wstring StoppingLine(DWORD processId, const std::wstring& exeFile)
{
    return L"Stopping process " + std::to_wstring(processId) + L" [" + exeFile + L"]";
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

class ProcessStopperTest : public ::testing::Test {
protected:
    // Starts a copy of the stand-in under name (copied once, started as often as asked).
    ChildProcess& Start(const std::wstring& name, PSECURITY_DESCRIPTOR security = nullptr)
    {
        std::wstring path = folder / name;
        if (!Exists(path)) {
            EXPECT_FALSE(CopyFakeProduct(folder.Path(), name).empty()) << "copy as " << std::string(name.begin(), name.end());
        }
        children.push_back(std::make_unique<ChildProcess>(path, security));
        EXPECT_TRUE(children.back()->Started());
        return *children.back();
    }

    // Runs the stopper in this process; returns how long it took.
    ULONGLONG TimedStop()
    {
        ULONGLONG start = GetTickCount64();
        StopProductProcesses();
        return GetTickCount64() - start;
    }

    // Destroyed in reverse order: the processes end before their folder goes.
    TempFolder folder;
    TestRunLog log;
    std::vector<std::unique_ptr<ChildProcess>> children;
};

void ExpectStopped(const ChildProcess& child, const std::wstring& name)
{
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    DWORD exitCode = 1234;
    ASSERT_TRUE(child.EndsWithin(5000, &exitCode));
    EXPECT_EQ(exitCode, 0u);  // TerminateProcess's code; the stand-in itself ends with 7
}

TEST_F(ProcessStopperTest, NoProductProcessMeansNoLineAndNoPause)
{
    // Near misses: none contains a whole catalogue name.
    ChildProcess& clean = Start(L"ZamoClean.exe");
    ChildProcess& crash = Start(L"ZamoCrash.exe");
    ChildProcess& cptr = Start(L"ZamoCptr.ex.exe");
    ChildProcess& helper = Start(L"Zamo-ChromiumHelper.exe");

    EXPECT_LT(TimedStop(), NoPauseLimitMs);

    EXPECT_EQ(log.Lines().size(), 1u);  // the separator alone
    EXPECT_TRUE(clean.Running());
    EXPECT_TRUE(crash.Running());
    EXPECT_TRUE(cptr.Running());
    EXPECT_TRUE(helper.Running());
}

// Every case that pays the pause, in one run of the stopper.
TEST_F(ProcessStopperTest, StopsEveryMatchingProcessThenPausesOnce)
{
    const std::wstring stoppedNames[] = {
        L"MyZamo.exe",              // "Zamo.exe" inside a longer name
        L"ZAMO.EXE",                // letter case ignored, reported as the file is named
        L"ZamoChromiumHelper.exe",  // entry 2 only: "Zamo.exe" is not inside it
        L"zamocrashhandler.exe",
        L"ZamoCptr.exe",
    };
    std::vector<std::wstring> expected;
    std::vector<std::pair<ChildProcess*, std::wstring>> stopped;
    for (const std::wstring& name : stoppedNames) {
        ChildProcess& child = Start(name);
        stopped.push_back({&child, name});
        expected.push_back(StoppingLine(child.Id(), name));
    }
    // Two processes of one executable: a line each, with its own ID.
    ChildProcess& second = Start(L"MyZamo.exe");
    stopped.push_back({&second, L"MyZamo.exe"});
    expected.push_back(StoppingLine(second.Id(), L"MyZamo.exe"));
    // A name holding two catalogue names is stopped once for each of them.
    const std::wstring doubleName = L"ZamoCptr.exe-Zamo.exe";
    ChildProcess& twice = Start(doubleName);
    stopped.push_back({&twice, doubleName});
    expected.push_back(StoppingLine(twice.Id(), doubleName));
    expected.push_back(StoppingLine(twice.Id(), doubleName));
    ChildProcess& survivor = Start(L"ZamoClean.exe");

    ULONGLONG before = NowMilliseconds();
    ULONGLONG elapsed = TimedStop();
    ULONGLONG after = NowMilliseconds();

    // One pause, not one per process.
    EXPECT_GE(elapsed, PauseMs - PauseSlackMs);
    EXPECT_LT(elapsed, 2 * PauseMs - PauseSlackMs);

    std::vector<LogEntry> entries = ReadLogEntries(log.Path());
    ASSERT_GE(entries.size(), 1u);
    std::vector<std::wstring> lines;
    for (size_t i = 1; i < entries.size(); i++) {
        lines.push_back(entries[i].text);
        // The pause follows the lines: each was written before it began.
        EXPECT_GE(entries[i].milliseconds, before);
        EXPECT_LE(entries[i].milliseconds + PauseMs - PauseSlackMs, after) << std::string(lines.back().begin(), lines.back().end());
    }
    EXPECT_EQ(Sorted(lines), Sorted(expected));

    for (const auto& child : stopped)
        ExpectStopped(*child.first, child.second);
    EXPECT_TRUE(survivor.Running());
}

TEST_F(ProcessStopperTest, PreviewNamesEveryProcessItWouldStopStopsNoneAndDoesNotPause)
{
    ChildProcess& zamo = Start(L"Zamo.exe");
    const std::wstring doubleName = L"ZamoCptr.exe-Zamo.exe";
    ChildProcess& twice = Start(doubleName);
    ChildProcess& other = Start(L"ZamoClean.exe");
    PreviewRun preview;

    EXPECT_LT(TimedStop(), NoPauseLimitMs);

    auto would = [](const ChildProcess& child, const std::wstring& name) {
        return L"Would stop process " + std::to_wstring(child.Id()) + L" [" + name + L"]";
    };
    std::vector<std::wstring> lines = log.Lines();
    lines.erase(lines.begin());  // the separator
    EXPECT_EQ(Sorted(lines), Sorted({would(zamo, L"Zamo.exe"), would(twice, doubleName), would(twice, doubleName)}));
    EXPECT_TRUE(zamo.Running());
    EXPECT_TRUE(twice.Running());
    EXPECT_TRUE(other.Running());
}

TEST_F(ProcessStopperTest, ProductProcessThatCannotBeOpenedIsPassedOverWithoutPause)
{
    // A DACL without entries grants no one anything: the stopper cannot open it.
    SECURITY_DESCRIPTOR descriptor;
    ACL acl;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(InitializeAcl(&acl, sizeof(acl), ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &acl, FALSE));
    ChildProcess& locked = Start(L"MyZamo.exe", &descriptor);
    HANDLE probe = OpenProcess(PROCESS_TERMINATE, FALSE, locked.Id());
    if (probe != nullptr) {
        CloseHandle(probe);
        GTEST_SKIP() << "Wine opens the process for termination despite its empty DACL";
    }

    EXPECT_LT(TimedStop(), NoPauseLimitMs);

    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(locked.Running());
}

// A snapshot entry is confirmed by the image its process runs before it is stopped: a
// process that runs the image the snapshot names is, whatever the letter case of its file.
TEST_F(ProcessStopperTest, OpenedProcessIsConfirmedByItsWholeImageFileName)
{
    ChildProcess& child = Start(L"MYZAMO.EXE");
    HANDLE query = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.Id());
    ASSERT_NE(query, nullptr);
    CloseHandle(query);
    {
        PreviewRun preview;
        StopProductProcesses();
    }
    std::vector<std::wstring> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);  // the separator, then the process
    EXPECT_EQ(lines[1], L"Would stop process " + std::to_wstring(child.Id()) + L" [MYZAMO.EXE]");
    EXPECT_TRUE(child.Running());
}

// The program's own quiet run stops the product's processes before any other step,
// and its one pause comes right after their lines.
TEST_F(ProcessStopperTest, QuietRunOfTheProgramStopsProductProcessesFirst)
{
    ChildProcess& first = Start(L"MyZamo.exe");
    ChildProcess& second = Start(L"MyZamo.exe");
    ChildProcess& helper = Start(L"ZamoChromiumHelper.exe");
    ChildProcess& survivor = Start(L"ZamoClean.exe");
    const std::wstring runLog = folder / L"quiet.log";

    ULONGLONG start = GetTickCount64();
    RunResult run = RunProgram(L"/Quiet \"/Log:" + runLog + L"\"");
    ULONGLONG elapsed = GetTickCount64() - start;
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_GE(elapsed, PauseMs - PauseSlackMs);

    std::vector<LogEntry> entries = ReadLogEntries(runLog);
    ASSERT_GE(entries.size(), 7u);
    EXPECT_EQ(entries[1].text, L"Running quietly (no UI)");
    EXPECT_EQ(entries[2].text, L"Using log file location [" + runLog + L"]");
    std::vector<std::wstring> stopping = {entries[3].text, entries[4].text, entries[5].text};
    EXPECT_EQ(Sorted(stopping), Sorted({StoppingLine(first.Id(), L"MyZamo.exe"), StoppingLine(second.Id(), L"MyZamo.exe"),
                                        StoppingLine(helper.Id(), L"ZamoChromiumHelper.exe")}));
    EXPECT_GE(entries[6].milliseconds - entries[5].milliseconds, PauseMs - PauseSlackMs);
    EXPECT_EQ(entries.back().text, L"Finishing");

    ExpectStopped(first, L"MyZamo.exe");
    ExpectStopped(second, L"MyZamo.exe");
    ExpectStopped(helper, L"ZamoChromiumHelper.exe");
    EXPECT_TRUE(survivor.Running());
}

// A copy of the program whose file name holds a product process name ("UninstallZamo.exe")
// never stops itself, nor another running copy of the program (shown here by its dialog,
// waiting for a click); the product's process next to them is stopped.
TEST_F(ProcessStopperTest, ProgramNeverStopsItselfNorAnotherCopyOfItselfWhateverTheirNames)
{
    const std::wstring copy = folder / L"UninstallZamo.exe";
    const std::wstring other = folder / L"OtherZamo.exe";
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), copy.c_str(), TRUE));
    ASSERT_TRUE(CopyFileW(ProgramPath().c_str(), other.c_str(), TRUE));
    DWORD otherId = 0;
    HANDLE otherRun = StartProgram(L"\"" + other + L"\" \"/Log:" + (folder / L"other.log") + L"\"", &otherId);
    ASSERT_NE(otherRun, nullptr);
    struct End {
        HANDLE process;
        ~End()
        {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    } endOther{otherRun};
    ASSERT_NE(FindProgramWindow(otherId), nullptr) << "the other copy shows its dialog";

    // A preview of a machine with nothing of the product but the copies names nothing.
    const std::wstring previewLog = folder / L"preview.log";
    RunResult preview = RunCommandLine(L"\"" + copy + L"\" /Quiet /Preview /ExitCode \"/Log:" + previewLog + L"\"");
    ASSERT_TRUE(preview.ended);
    EXPECT_EQ(preview.exitCode, 0u);
    for (const std::wstring& line : ReadLogLines(previewLog))
        EXPECT_EQ(line.find(L"Would stop process"), std::wstring::npos) << std::string(line.begin(), line.end());
    EXPECT_EQ(ReadLogLines(previewLog).back(), L"Finishing");

    ChildProcess& product = Start(L"Zamo.exe");
    const std::wstring runLog = folder / L"run.log";
    RunResult run = RunCommandLine(L"\"" + copy + L"\" /Quiet \"/Log:" + runLog + L"\"");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    std::vector<std::wstring> runLines = ReadLogLines(runLog);
    ASSERT_GE(runLines.size(), 5u);
    EXPECT_EQ(runLines[3], StoppingLine(product.Id(), L"Zamo.exe"));
    EXPECT_EQ(runLines[4].find(L"Stopping process"), std::wstring::npos);
    EXPECT_EQ(runLines.back(), L"Finishing");
    ExpectStopped(product, L"Zamo.exe");
    EXPECT_EQ(WaitForSingleObject(otherRun, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the other copy was stopped";
}

} // namespace
