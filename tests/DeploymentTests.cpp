// The program as a deployment tool runs it, from a Windows parent that reads the whole exit
// code: "/ExitCode" and "/DeleteAtRestart" on files in use, a restart of the prefix, one run
// at a time, and one log shared by several processes.
#include "clean/clean.h"
#include "common/MachineMutex.h"
#include "support/QuietRuns.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <algorithm>
#include <thread>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring Separator(64, L'=');

std::string ReadText(const std::wstring& path)
{
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool Has(const Lines& lines, const std::wstring& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// "Stopping process 1234 [Zamo.exe]" becomes "Stopping process # [Zamo.exe]", and so for
// the waits for an uninstaller.
Lines MaskStoppedIds(const Lines& logLines)
{
    const std::wstring start = L"Stopping process ";
    Lines lines = MaskProcessIds(logLines);
    for (std::wstring& line : lines) {
        if (line.compare(0, start.size(), start) == 0)
            line = start + L"#" + line.substr(line.find(L' ', start.size()));
    }
    return lines;
}

// How often the system's list of file operations at restart names path (ignoring case).
size_t PendingDeletions(const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return 0;
    std::vector<wchar_t> data(65536);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    LONG read = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS)
        return 0;
    size_t count = 0;
    // Pairs of a path and its new name, empty for a deletion.
    for (size_t at = 0; at < size / sizeof(wchar_t);) {
        std::wstring entry(data.data() + at);
        if (CompareStringOrdinal(entry.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL)
            count++;
        at += entry.size() + 1;
    }
    return count;
}

// The other program folder, %ProgramW6432%\\Quorvex, is removed before and after as well.
class DeploymentTest : public QuietRunTest {
protected:
    void SetUp() override
    {
        QuietRunTest::SetUp();
        programW6432 = Expand(L"%ProgramW6432%\\Quorvex");
        ASSERT_NE(programFiles, programW6432) << "one program folder: the test needs both";
        RemoveTree(programW6432);
    }
    void TearDown() override
    {
        RemoveTree(programW6432);
        QuietRunTest::TearDown();
    }

    std::wstring programW6432;
};

// A DLL held open by a running program without delete sharing, and a running program's own
// image in the other program folder (it is no product process: nothing stops it).
TEST_F(DeploymentTest, FilesInUseStayWithExitCode1OrGoAtRestartWith3010)
{
    const std::wstring addIn = programFiles + L"\\AddIn\\addin.dll";
    ASSERT_TRUE(Plant(addIn));
    HANDLE holder = CreateFileW(addIn.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const std::wstring updater = programW6432 + L"\\Updater\\Updater.exe";
    CreateDirectoryW(programW6432.c_str(), nullptr);
    CreateDirectoryW((programW6432 + L"\\Updater").c_str(), nullptr);
    ASSERT_FALSE(CopyFakeProduct(programW6432 + L"\\Updater", L"Updater.exe").empty());
    auto running = std::make_unique<ChildProcess>(updater);
    ASSERT_TRUE(running->Started());

    // Without the new options: the run logs what it always did and exits 0.
    const std::wstring plain = folder / L"plain.log";
    EXPECT_EQ(Run(L"", plain), 0u);
    Lines lines = ReadLogLines(plain);
    EXPECT_TRUE(Has(lines, L"Deleting file [" + addIn + L"]"));
    EXPECT_EQ(lines.back(), L"Finishing");
    for (const std::wstring& line : lines)
        EXPECT_TRUE(line.rfind(L"Not removed: ", 0) != 0 && line.rfind(L"Exit code [", 0) != 0 &&
                    line.rfind(L"Scheduled for deletion", 0) != 0)
            << Narrow(line);

    const std::wstring stayed = folder / L"stayed.log";
    EXPECT_EQ(Run(L"/ExitCode", stayed), 1u);
    EXPECT_EQ(Tail(ReadLogLines(stayed), 8),
              (Lines{L"Not removed: " + addIn, L"Not removed: " + programFiles + L"\\AddIn",
                     L"Not removed: " + programFiles, L"Not removed: " + updater,
                     L"Not removed: " + programW6432 + L"\\Updater", L"Not removed: " + programW6432, L"Exit code [1]",
                     L"Finishing"}));
    EXPECT_TRUE(Exists(addIn) && Exists(updater));

    const std::wstring scheduled = folder / L"scheduled.log";
    EXPECT_EQ(Run(L"/DeleteAtRestart /ExitCode", scheduled), 3010u);
    lines = ReadLogLines(scheduled);
    // %ProgramFiles% and %ProgramFiles(x86)% both name the 32-bit folder here: its walk is
    // made twice, as every run makes it, and what the first walk scheduled is not scheduled
    // again by the second.
    auto walk = [](const std::wstring& file, const std::wstring& top, const std::wstring& sub) {
        const std::wstring line = L"Scheduled for deletion at restart [";
        return Lines{L"Deleting file [" + file + L"]", line + file + L"]", line + top + L"\\" + sub + L"]",
                     line + top + L"]"};
    };
    Lines expected = walk(addIn, programFiles, L"AddIn");
    const Lines other = walk(updater, programW6432, L"Updater");
    expected.push_back(L"Deleting file [" + addIn + L"]");
    expected.insert(expected.end(), other.begin(), other.end());
    const std::wstring machineStep = L"Attempting to uninstall Zamo components passively";
    expected.insert(expected.end(), {machineStep, machineStep, L"Exit code [3010]", L"Finishing"});
    auto first = std::find(lines.begin(), lines.end(), expected[0]);
    ASSERT_NE(first, lines.end());
    EXPECT_EQ(Lines(first, lines.end()), expected);
    // The DLL could not be renamed while held; the running image was, within its folder. Each
    // is in the system's list of deletions at restart once.
    EXPECT_EQ(PendingDeletions(L"\\??\\" + addIn), 1u);
    EXPECT_EQ(PendingDeletions(L"\\??\\" + programFiles), 1u);
    EXPECT_TRUE(Exists(addIn));
    EXPECT_FALSE(Exists(updater));
    Lines renamed = ListTree(programW6432 + L"\\Updater");
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_EQ(renamed[0].rfind(L"~ZamoClean-", 0), 0u) << Narrow(renamed[0]);

    // The holders end; a reinstall writes the updater again before the restart.
    CloseHandle(holder);
    running.reset();
    ASSERT_TRUE(Plant(updater, "reinstalled"));
    ASSERT_EQ(RunCommand(L"wineboot.exe -r"), 0u);

    EXPECT_FALSE(Exists(addIn));
    EXPECT_FALSE(Exists(programFiles + L"\\AddIn"));
    EXPECT_FALSE(Exists(programFiles));
    EXPECT_EQ(ListTree(programW6432), (Lines{L"Updater\\", L"Updater\\Updater.exe"}));
    EXPECT_EQ(ReadText(updater), "reinstalled");
}

TEST_F(DeploymentTest, ExitCodesOfARealRunAndAPreviewWithAndWithoutTheProduct)
{
    const std::wstring previewClean = folder / L"preview-clean.log";
    const std::wstring runClean = folder / L"run-clean.log";
    EXPECT_EQ(Run(L"/Preview /ExitCode", previewClean), 0u);
    EXPECT_EQ(Tail(ReadLogLines(previewClean), 2), (Lines{L"Exit code [0]", L"Finishing"}));
    EXPECT_EQ(Run(L"/ExitCode", runClean), 0u);
    EXPECT_EQ(Tail(ReadLogLines(runClean), 2), (Lines{L"Exit code [0]", L"Finishing"}));

    ScratchKeys machine;
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", L"InstallDir", programFiles,
                                  KEY_WOW64_32KEY));
    const std::wstring file = programFiles + L"\\Zamo\\readme.txt";
    ASSERT_TRUE(Plant(file));
    const std::wstring preview = folder / L"preview.log";
    EXPECT_EQ(Run(L"/Preview /ExitCode", preview), 1u);
    Lines lines = ReadLogLines(preview);
    EXPECT_TRUE(Has(lines, L"Would delete file [" + file + L"]"));
    EXPECT_TRUE(Has(lines, L"Would remove HKLM\\Software\\Quorvex"));
    EXPECT_EQ(Tail(lines, 2), (Lines{L"Exit code [1]", L"Finishing"}));
    EXPECT_TRUE(Exists(file));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", KEY_WOW64_32KEY));

    const std::wstring run = folder / L"run.log";
    EXPECT_EQ(Run(L"/ExitCode", run), 0u);
    EXPECT_EQ(Tail(ReadLogLines(run), 2), (Lines{L"Exit code [0]", L"Finishing"}));
    EXPECT_FALSE(Exists(programFiles));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", KEY_WOW64_32KEY));
}

// The scope marker is the run's own mark, no trace of the product. Markers of several
// signatures on a machine without the product: every detection exits 0, with or without a
// signature, and so does a signed real run, which sweeps and marks each scope again; the
// preview's lines stay as they were. A maker's key that holds anything besides the marker
// is a trace.
TEST_F(DeploymentTest, MarkersOfAnySignatureAreNoTraceOfTheProduct)
{
    const std::wstring sid = L"S-1-5-21-7390-7391-7392-1001";
    const std::wstring maker = L"Software\\Quorvex";
    const std::wstring marker = maker + L"\\Cleaned";
    struct Cleanup {
        std::wstring sid;
        ~Cleanup()
        {
            DeleteKeyTree(HKEY_USERS, sid);
            DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\Quorvex");
            DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\Quorvex");
        }
    } cleanup{sid};
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, marker, nullptr, L"Wave-1"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, marker, nullptr, L"Wave-2"));
    ASSERT_TRUE(SetString(HKEY_USERS, sid + L"\\" + marker, nullptr, L"Wave-3"));

    const std::wstring userLine = L"Would remove HKU\\" + sid + L"\\Software\\Quorvex";
    int round = 0;
    for (const wchar_t* signature : {L"", L" /Signature:Wave-1", L" /Signature:Wave-3", L" /Signature:Other"}) {
        SCOPED_TRACE(Narrow(signature));
        const std::wstring log = folder / (L"detect" + std::to_wstring(round++) + L".log");
        EXPECT_EQ(Run(L"/Preview /ExitCode" + std::wstring(signature), log), 0u);
        Lines lines = ReadLogLines(log);
        EXPECT_EQ(Tail(lines, 2), (Lines{L"Exit code [0]", L"Finishing"}));
        // A scope bearing the run's signature is skipped; any other one is named as before.
        EXPECT_EQ(Has(lines, userLine), std::wstring(signature) != L" /Signature:Wave-3");
        EXPECT_EQ(Has(lines, L"Would remove HKLM\\Software\\Quorvex"), std::wstring(signature) != L" /Signature:Wave-1");
    }

    const std::wstring signedRun = folder / L"signed.log";
    EXPECT_EQ(Run(L"/ExitCode /Signature:Wave-4", signedRun), 0u);
    Lines lines = ReadLogLines(signedRun);
    EXPECT_TRUE(Has(lines, L"Successfully removed from HKU\\" + sid + L"\\Software\\Quorvex"));
    EXPECT_TRUE(Has(lines, L"Successfully removed from HKLM\\Software\\Quorvex"));
    for (const std::wstring& line : lines)
        EXPECT_NE(line.rfind(L"Not removed: ", 0), 0u) << Narrow(line);
    EXPECT_EQ(Tail(lines, 2), (Lines{L"Exit code [0]", L"Finishing"}));
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        std::wstring stored;
        EXPECT_TRUE(ReadString(root, marker, nullptr, &stored));
        EXPECT_EQ(stored, L"Wave-4");
    }
    EXPECT_EQ(SubkeyNames(HKEY_USERS, sid + L"\\" + maker), Lines{L"Cleaned"});
    for (const wchar_t* signature : {L"", L" /Signature:Wave-4"}) {
        const std::wstring log = folder / (L"detect" + std::to_wstring(round++) + L".log");
        EXPECT_EQ(Run(L"/Preview /ExitCode" + std::wstring(signature), log), 0u) << Narrow(signature);
    }

    // Anything besides the marker is the product's: a value of the maker's key, a key next to
    // the marker, a value or a key inside the marker.
    struct Trace {
        const char* what;
        std::wstring key;
        const wchar_t* value;
    };
    const Trace traces[] = {
        {"value of the maker's key", maker, L"InstallDir"},
        {"key next to the marker", maker + L"\\Zamo", nullptr},
        {"named value of the marker", marker, L"Note"},
        {"key inside the marker", marker + L"\\Child", nullptr},
    };
    for (const Trace& trace : traces) {
        SCOPED_TRACE(trace.what);
        DeleteKeyTree(HKEY_USERS, sid + L"\\" + maker);
        ASSERT_TRUE(SetString(HKEY_USERS, sid + L"\\" + marker, nullptr, L"Wave-3"));
        ASSERT_TRUE(trace.value == nullptr ? CreateKey(HKEY_USERS, sid + L"\\" + trace.key)
                                           : SetString(HKEY_USERS, sid + L"\\" + trace.key, trace.value, L"x"));
        const std::wstring log = folder / (L"trace" + std::to_wstring(round++) + L".log");
        EXPECT_EQ(Run(L"/Preview /ExitCode", log), 1u);
        EXPECT_TRUE(Has(ReadLogLines(log), userLine));
    }
}


// An empty product folder is all the machine holds of the product: the preview that exits 1
// names it, once, though both program-folder references lead to it; the real run removes it.
TEST_F(DeploymentTest, APreviewThatExits1NamesAnEmptyProductFolder)
{
    ASSERT_TRUE(CreateDirectoryW(programFiles.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((programFiles + L"\\Zamo").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((programFiles + L"\\Zamo\\empty").c_str(), nullptr));
    const std::wstring named = L"Would remove folder [" + programFiles + L"]";

    const std::wstring preview = folder / L"preview.log";
    EXPECT_EQ(Run(L"/Preview /ExitCode", preview), 1u);
    Lines lines = ReadLogLines(preview);
    EXPECT_EQ(Count(lines, named), 1u);
    EXPECT_EQ(Tail(lines, 2), (Lines{L"Exit code [1]", L"Finishing"}));
    EXPECT_TRUE(Exists(programFiles + L"\\Zamo\\empty"));

    const std::wstring run = folder / L"run.log";
    EXPECT_EQ(Run(L"/ExitCode", run), 0u);
    lines = ReadLogLines(run);
    EXPECT_EQ(Count(lines, named), 0u);
    EXPECT_EQ(Tail(lines, 2), (Lines{L"Exit code [0]", L"Finishing"}));
    EXPECT_FALSE(Exists(programFiles));
}

// A run that finds the lock held waits (here 1.5 seconds, a shipped run ten minutes), then
// ends without a step: nothing of the product is touched.
TEST_F(DeploymentTest, ARunLockHeldByAnotherProcessEndsTheRunWithoutAStep)
{
    ScratchKeys machine;
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", L"InstallDir", programFiles,
                                  KEY_WOW64_32KEY));
    const std::wstring file = programFiles + L"\\Zamo\\readme.txt";
    ASSERT_TRUE(Plant(file));
    HeldLock lock(L"run");
    ASSERT_TRUE(lock.Holding()) << "LockHolder did not take the run lock";

    const Lines waited = {L"Waiting for another clean-up run to finish", L"Stopped waiting for another clean-up run"};
    struct Case {
        bool exitCode;
        int expected;
        Lines tail;
    };
    const Case cases[] = {{true, 1618, {L"Exit code [1618]", L"Finishing"}}, {false, 0, {L"Finishing"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exitCode ? "/ExitCode" : "without /ExitCode");
        TestRunLog log;
        RunOptions options = {};
        options.reportExitCode = c.exitCode;
        const ULONGLONG started = GetTickCount64();
        const int exitCode = CleanRunWaitingAtMost(1500, options);
        const ULONGLONG took = GetTickCount64() - started;
        EXPECT_EQ(exitCode, c.expected);
        EXPECT_GE(took, 1400u);
        Lines expected = {Separator};
        expected.insert(expected.end(), waited.begin(), waited.end());
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(log.Lines(), expected);
        EXPECT_TRUE(Exists(file));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", KEY_WOW64_32KEY));
    }
}

// A run that has the log open, holds its lock and never gives it back makes one line of
// another run wait the whole ten seconds; that run's later lines do not wait again, and none
// is lost.
TEST_F(DeploymentTest, ALogLockHeldByAnotherRunCostsOneSlowLine)
{
    const std::wstring log = folder / L"held.log";
    ASSERT_TRUE(WriteTextFile(log, ""));
    HeldLock lock(L"log", log);
    ASSERT_TRUE(lock.Holding()) << "LockHolder did not take the log's lock";
    const int lineCount = 11;
    const ULONGLONG started = GetTickCount64();
    RunResult result = RunCommandLine(Quoted(BinaryFolder() + L"\\LogAppender.exe") + L" 1 " +
                                          std::to_wstring(lineCount) + L" " + Quoted(L"/Log:" + log),
                                      120000);
    const ULONGLONG took = GetTickCount64() - started;
    ASSERT_TRUE(result.started && result.ended);
    EXPECT_EQ(result.exitCode, 0u);
    // At least the one wait (else the lock was not held and the test proves nothing), and
    // far less than two.
    EXPECT_GE(took, 9500u);
    EXPECT_LT(took, 18000u);
    Lines expected = {Separator, Separator};
    for (int n = 1; n <= lineCount; n++)
        expected.push_back(L"Appender 1 line " + std::to_wstring(n));
    EXPECT_EQ(ReadLogLines(log), expected);
}

// Two runs started together into one log, several times: the second waits for the first,
// which holds the lock for its five-second pause after stopping a product process.
TEST_F(DeploymentTest, TwoRunsAtOnceTakeTurnsAndLoseNoLine)
{
    const std::wstring alone = folder / L"alone.log";
    EXPECT_EQ(Run(L"", alone), 0u);
    const Lines aloneLines = ReadLogLines(alone);
    const std::wstring waiting = L"Waiting for another clean-up run to finish";

    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        // A name of its own each round: the last round's image may still be held as it ends.
        const std::wstring productName = L"Round" + std::to_wstring(round) + L"Zamo.exe";
        ChildProcess product(CopyFakeProduct(folder.Path(), productName));
        ASSERT_TRUE(product.Started());
        const std::wstring shared = folder / (L"shared" + std::to_wstring(round) + L".log");
        const std::wstring commandLine = Quoted(ProgramPath()) + L" /Quiet " + Quoted(L"/Log:" + shared);
        HANDLE first = StartProgram(commandLine);
        HANDLE second = StartProgram(commandLine);
        ASSERT_TRUE(first != nullptr && second != nullptr);
        HANDLE both[2] = {first, second};
        EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 60000), WAIT_OBJECT_0) << "both finish";
        DWORD firstCode = 99;
        DWORD secondCode = 99;
        GetExitCodeProcess(first, &firstCode);
        GetExitCodeProcess(second, &secondCode);
        CloseHandle(first);
        CloseHandle(second);
        EXPECT_EQ(firstCode, 0u);
        EXPECT_EQ(secondCode, 0u);

        // Every line whole (ReadLogLines checks each stamp), and each run's lines all there:
        // twice what a run alone logs, one stop of the product and one wait.
        Lines lines = MaskStoppedIds(ReadLogLines(shared));
        Lines expected = aloneLines;
        expected.insert(expected.end(), aloneLines.begin(), aloneLines.end());
        expected.push_back(L"Stopping process # [" + productName + L"]");
        expected.push_back(waiting);
        for (std::wstring& line : expected) {
            const std::wstring logLine = L"Using log file location [";
            if (line.rfind(logLine, 0) == 0)
                line = logLine + shared + L"]";
        }
        EXPECT_EQ(Count(lines, waiting), 1u);
        std::vector<std::wstring> sortedLines = lines;
        std::sort(sortedLines.begin(), sortedLines.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(sortedLines, expected);
        // The waiting run's steps all come after the other run's last line.
        auto waited = std::find(lines.begin(), lines.end(), waiting);
        auto finished = std::find(lines.begin(), lines.end(), L"Finishing");
        ASSERT_NE(waited, lines.end());
        EXPECT_LT(waited, finished);
        const std::wstring step = L"Attempting to uninstall Zamo components passively";
        const size_t steps = Count(aloneLines, step);
        EXPECT_EQ(Count(Lines(lines.begin(), finished), step), steps);
        EXPECT_EQ(Count(Lines(finished, lines.end()), step), steps);
    }
}

// Three processes append 3,000 lines each to one log through the program's own log code.
TEST_F(DeploymentTest, ConcurrentAppendsToOneLogLoseAndTearNoLine)
{
    const std::wstring log = folder / L"appended.log";
    const int lineCount = 3000;
    std::vector<HANDLE> appenders;
    for (int id = 1; id <= 3; id++) {
        HANDLE appender = StartCommandLine(Quoted(BinaryFolder() + L"\\LogAppender.exe") + L" " +
                                           std::to_wstring(id) + L" " + std::to_wstring(lineCount) + L" " +
                                           Quoted(L"/Log:" + log));
        ASSERT_NE(appender, nullptr);
        appenders.push_back(appender);
    }
    EXPECT_EQ(WaitForMultipleObjects(3, appenders.data(), TRUE, 300000), WAIT_OBJECT_0);
    for (HANDLE appender : appenders) {
        if (WaitForSingleObject(appender, 0) == WAIT_TIMEOUT)
            TerminateProcess(appender, 99);
        DWORD exitCode = 99;
        GetExitCodeProcess(appender, &exitCode);
        EXPECT_EQ(exitCode, 0u);
        CloseHandle(appender);
    }

    Lines lines = ReadLogLines(log);
    Lines expected;
    for (int id = 1; id <= 3; id++) {
        expected.push_back(Separator);
        for (int n = 1; n <= lineCount; n++)
            expected.push_back(L"Appender " + std::to_wstring(id) + L" line " + std::to_wstring(n));
    }
    EXPECT_EQ(lines.size(), expected.size());
    // Each appender's lines in its own order, none lost, none torn.
    for (int id = 1; id <= 3; id++) {
        Lines own;
        const std::wstring prefix = L"Appender " + std::to_wstring(id) + L" ";
        for (const std::wstring& line : lines)
            if (line.rfind(prefix, 0) == 0)
                own.push_back(line);
        EXPECT_EQ(own, Lines(expected.begin() + 1 + (id - 1) * (lineCount + 1),
                             expected.begin() + id * (lineCount + 1)))
            << "appender " << id;
    }
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(lines == expected) << "lost or torn lines";
}

// The shared mutexes let everyone wait on them and release them, and nobody but SYSTEM and
// administrators change them: with no access list at all, any user could take one over and
// shut every later run out.
TEST(MachineMutexTest, EveryoneMayOnlyWaitAndRelease)
{
    HANDLE mutex = OpenMachineMutex(L"ZamoClean.TestMutex");
    ASSERT_NE(mutex, nullptr);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr) << "a mutex without an access list is open to every change";
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    int everyoneAces = 0;
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !EqualSid(&ace->SidStart, everyone))
            continue;
        everyoneAces++;
        EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(SYNCHRONIZE | MUTEX_MODIFY_STATE));
    }
    EXPECT_EQ(everyoneAces, 1);
    FreeSid(everyone);
    LocalFree(descriptor);
    // A second open of the same name finds the first one.
    HANDLE again = OpenMachineMutex(L"ZamoClean.TestMutex");
    ASSERT_NE(again, nullptr);
    ASSERT_EQ(WaitForSingleObject(again, 0), WAIT_OBJECT_0);
    DWORD fromOtherThread = WAIT_FAILED;
    std::thread other([&] { fromOtherThread = WaitForSingleObject(mutex, 0); });
    other.join();
    EXPECT_EQ(fromOtherThread, static_cast<DWORD>(WAIT_TIMEOUT)) << "both names must be one mutex";
    ReleaseMutex(again);
    CloseHandle(again);
    CloseHandle(mutex);
}

} // namespace
