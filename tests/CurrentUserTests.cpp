// A run of the current user alone ("/CurrentUser"): the running user's own scope cleaned and
// marked with that user's rights, while a second user's loaded hive, the program folders and the
// machine's items stay; the user's per-user package uninstalled; the run lock.
#include "clean/clean.h"
#include "common/Settings.h"
#include "support/QuietRuns.h"
#include "support/TestMachine.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring Separator(64, L'=');
const std::wstring Own = L"S-1-5-21-0-0-0-1000";  // the prefix's user, whom every test runs as
const std::wstring Second = L"S-1-5-21-9934-1001";
const std::wstring Passive = L"Attempting to uninstall Zamo components passively";
const std::wstring RunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// What a run of the current user alone must leave as it is: a second user's hive and folders, the
// program folders and the machine's software in both views.
struct OthersState {
    RegistryTree second, machine64, machine32;
    std::vector<std::wstring> files;
};

OthersState ReadOthers(const std::vector<std::wstring>& folders)
{
    OthersState state;
    EXPECT_TRUE(CaptureKeyTree(HKEY_USERS, Second, &state.second) &&
                CaptureKeyTree(HKEY_LOCAL_MACHINE, L"Software", &state.machine64, KEY_WOW64_64KEY) &&
                CaptureKeyTree(HKEY_LOCAL_MACHINE, L"Software", &state.machine32, KEY_WOW64_32KEY));
    for (const std::wstring& top : folders) {
        for (const std::wstring& file : ListTree(top))
            state.files.push_back(top + L"\\" + file);
    }
    return state;
}

bool operator==(const OthersState& a, const OthersState& b)
{
    return a.second.keys == b.second.keys && a.machine64.keys == b.machine64.keys &&
           a.machine32.keys == b.machine32.keys && a.files == b.files;
}

// The product in the running user's hive and profile, in a second user's, in the program folders
// (moved into a temporary folder) and in the machine's registry.
class CurrentUserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        programs.Make();
        TearDown();
        ASSERT_NO_FATAL_FAILURE(PlantProduct());
        ASSERT_TRUE(Plant(second.Profile() + L"\\AppData\\Local\\Quorvex\\Settings.ini"));
        ASSERT_TRUE(Plant(programs.Pf86(L"\\Quorvex\\Zamo\\Zamo.exe")) && Plant(programs / L"PF64\\Quorvex\\AddIn.dll"));
        ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", L"InstallDir", L"x", KEY_WOW64_32KEY));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, RunKey, L"ZcCuUpdater", programs.Pf86(L"\\Quorvex\\Zamo\\Zamo.exe")));
        // A machine entry named by a code that is none of the user's products: never run.
        ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE,
                                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                      L"{7E1A5C34-3400-4000-8000-0000000000E1}",
                                      L"DisplayName", L"Zamo (per-machine)", KEY_WOW64_32KEY));
    }
    void PlantProduct()
    {
        for (const std::wstring& user : {Own, Second}) {
            ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\Software\\Quorvex\\Zamo", L"Mode", L"1"));
            ASSERT_TRUE(CreateKey(HKEY_USERS, user + L"\\Software\\Zamo"));
            ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\" + RunKey, L"ZcCuAgent", L"C:\\Tools\\Zamo.exe /tray"));
        }
        ASSERT_TRUE(Plant(ownApp + L"\\Settings.ini"));
    }
    void TearDown() override
    {
        DeleteKeyTree(HKEY_USERS, Own + L"\\Software\\Quorvex");
        DeleteKeyTree(HKEY_USERS, Own + L"\\Software\\Zamo");
        RegDeleteKeyValueW(HKEY_USERS, (Own + L"\\" + RunKey).c_str(), L"ZcCuAgent");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, RunKey.c_str(), L"ZcCuUpdater");
        RemoveTree(ownApp);
    }
    // The run's log, the header lines given as expected.
    Lines Run(const std::wstring& options)
    {
        DeleteFileW(log.c_str());
        RunResult run = RunProgram(L"/Quiet /CurrentUser /Signature:CU-Test " + options + L" \"/Log:" + log + L"\"");
        EXPECT_TRUE(run.ended && run.exitCode == 0);
        Lines lines = ReadLogLines(log);
        const Lines header = {Separator, L"Running quietly (no UI)", L"Using signature [CU-Test]",
                              L"Using log file location [" + log + L"]"};
        EXPECT_TRUE(lines.size() > header.size() && std::equal(header.begin(), header.end(), lines.begin()));
        return lines.size() > header.size() ? Lines(lines.begin() + header.size(), lines.end()) : Lines();
    }
    bool OwnProductThere() const
    {
        std::wstring data;
        return KeyExists(HKEY_USERS, Own + L"\\Software\\Quorvex\\Zamo") && KeyExists(HKEY_USERS, Own + L"\\Software\\Zamo") &&
               Exists(ownApp + L"\\Settings.ini") && ReadString(HKEY_USERS, Own + L"\\" + RunKey, L"ZcCuAgent", &data);
    }

    ProgramFolders programs;
    TestUser second{Second, L"Second User"};
    ScratchKeys machine;
    const std::wstring ownApp = Expand(L"%USERPROFILE%") + L"\\appdata\\local\\Quorvex";
    const std::wstring hku = L"HKU\\" + Own + L"\\Software\\";
    TempFolder folder;
    const std::wstring log = folder / L"run.log";
};

// A preview changes nothing; the run stops the user's product process, cleans and marks the scope,
// with a line for each option it ignores; a second run finds the mark and leaves the product,
// planted again, alone. The other users, the program folders and the machine stay throughout.
TEST_F(CurrentUserTest, PreviewRunAndMarkedRunTouchTheUsersScopeAlone)
{
    const std::vector<std::wstring> otherFolders = {programs / L"PF86", programs / L"PF64", second.Profile()};
    const OthersState others = ReadOthers(otherFolders);
    const std::wstring own = L"Cleaning the current user only [" + Own + L"]";
    const std::wstring runValue = L"value [ZcCuAgent] from " + hku + L"Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_EQ(Run(L"/Preview"),
              (Lines{L"Preview: nothing will be changed", own, Passive, Passive, L"Would remove " + hku + L"Quorvex",
                     L"Would remove " + hku + L"Zamo", L"Attempting to remove application folder [" + ownApp + L"]",
                     L"Would delete file [" + ownApp + L"\\Settings.ini]", L"Would remove " + runValue,
                     L"Would mark [HKU," + Own + L"] with signature [CU-Test]", L"Finishing"}));
    EXPECT_TRUE(OwnProductThere() && !KeyExists(HKEY_USERS, Own + L"\\Software\\Quorvex\\Cleaned"));

    ChildProcess product(CopyFakeProduct(folder.Path(), L"Zamo.exe"));
    ASSERT_TRUE(product.Started());
    const std::wstring report = folder / L"run.json";
    EXPECT_EQ(Run(L"/AllProfiles /DeleteAtRestart \"/Report:" + report + L"\""),
              (Lines{own, L"Option /AllProfiles is ignored with /CurrentUser",
                     L"Option /DeleteAtRestart is ignored with /CurrentUser",
                     L"Stopping process " + std::to_wstring(product.Id()) + L" [Zamo.exe]", Passive, Passive,
                     L"Successfully removed from " + hku + L"Quorvex", L"Successfully removed from " + hku + L"Zamo",
                     L"Attempting to remove application folder [" + ownApp + L"]",
                     L"Deleting file [" + ownApp + L"\\Settings.ini]", L"Removed " + runValue,
                     L"Report written [" + report + L"]", L"Finishing"}));
    EXPECT_FALSE(product.Running() || KeyExists(HKEY_USERS, Own + L"\\Software\\Zamo") || Exists(ownApp));
    std::wstring mark;
    EXPECT_TRUE(ReadString(HKEY_USERS, Own + L"\\Software\\Quorvex\\Cleaned", nullptr, &mark) && mark == L"CU-Test");
    ReportValues read;
    std::string why;
    ASSERT_TRUE(ReadReport(report, &read, &why)) << why;
    EXPECT_TRUE(read["scopes"].number == 1 && read["scopes/0/sid"].text == Own && read["scopes/0/outcome"].text == L"cleaned");
    EXPECT_EQ(read["options/currentUser"].number, 1);
    EXPECT_EQ(read["options/allProfiles"].number + read["options/deleteAtRestart"].number, 0);

    ASSERT_NO_FATAL_FAILURE(PlantProduct());
    EXPECT_EQ(Run(L""), (Lines{own, L"Skipping clean-up for [HKU," + Own + L"] since signature [CU-Test] has been marked for this scope.",
                               L"Finishing"}));
    EXPECT_TRUE(OwnProductThere());
    EXPECT_TRUE(ReadOthers(otherFolders) == others);
}

// Puts the settings a test changed back as a process starts with them.
struct ModeSettings {
    ModeSettings() { CurrentUserOnly = true; }
    ~ModeSettings() { CurrentUserOnly = ReportExitCode = false; }
};

// A run of the current user alone while another process holds kind (as LockHolder takes it):
// it goes on at once, without the lock.
void ExpectNoWaitWhile(const wchar_t* kind)
{
    HeldLock unopenable(kind);
    ASSERT_TRUE(unopenable.Holding());
    HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\ZamoClean.CleanRun");
    if (opened != nullptr) {
        CloseHandle(opened);
        GTEST_SKIP() << "Wine lets every process open a mutex whose access list grants SYSTEM alone";
    }
    TestRunLog log;
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(CleanRunWaitingAtMost(20000), 0);
    EXPECT_LT(GetTickCount64() - started, 10000u);
    EXPECT_EQ(log.Lines(), (Lines{Separator, Passive, Passive, L"Finishing"}));
}

// A lock of another run that the user can open is waited for as by every run, within its bound;
// a name taken by another kind of object, where no mutex can be had, is not waited for.
TEST(CurrentUserLock, ALockTheUserCanOpenIsWaitedForAndAnotherObjectIsNot)
{
    ModeSettings mode;
    {
        HeldLock held(L"run");
        ASSERT_TRUE(held.Holding());
        TestRunLog log;
        ReportExitCode = true;
        EXPECT_EQ(CleanRunWaitingAtMost(1500), 1618);
        EXPECT_EQ(log.Lines(), (Lines{Separator, L"Waiting for another clean-up run to finish",
                                      L"Stopped waiting for another clean-up run", L"Exit code [1618]", L"Finishing"}));
    }
    ReportExitCode = false;
    ExpectNoWaitWhile(L"squat");
}

// A mutex under the lock's name whose access list grants the user nothing is not waited for.
TEST(CurrentUserLock, AMutexThatGrantsTheUserNothingIsNotWaitedFor)
{
    ModeSettings mode;
    ExpectNoWaitWhile(L"denied");
}

// The user's per-user package, whose entry Wine keeps in the machine's list, is uninstalled by
// the user's run through MsiExec; a per-machine package of the family stays installed.
class CurrentUserPackageTest : public QuietRunTest {
protected:
    void TearDown() override
    {
        UninstallTestProduct(UserCode);
        UninstallTestProduct(MachineCode);
        DeleteKeyTree(HKEY_USERS, Own + L"\\Software\\Quorvex");
        RemoveTree(Expand(L"%LOCALAPPDATA%\\Quorvex"));
        QuietRunTest::TearDown();
    }
    static bool Listed(const wchar_t* code)
    {
        return KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                                                 std::wstring(code), KEY_WOW64_32KEY);
    }
    const wchar_t* const UserCode = L"{7E1A5C34-3400-4000-8000-000000000001}";
    const wchar_t* const MachineCode = L"{7E1A5C34-3400-4000-8000-000000000002}";
};

TEST_F(CurrentUserPackageTest, UsersPackageIsUninstalledAndTheMachinesStays)
{
    ASSERT_TRUE(InstallTestPackage(L"ZcCuUser.msi"));
    ASSERT_TRUE(InstallTestPackage(L"ZcCuMachine.msi"));
    ASSERT_TRUE(Listed(UserCode) && Listed(MachineCode)) << "Wine keeps a per-user entry in the machine's list";
    const std::wstring log = folder / L"run.log";
    EXPECT_EQ(Run(L"/CurrentUser /ExitCode", log), 0u);
    const std::wstring command = L"\"" + Expand(L"%SystemRoot%") + L"\\System32\\MsiExec.exe\" /x \"" + UserCode + L"\" /quiet";
    EXPECT_EQ(MaskProcessIds(ReadLogLines(log)),
              (Lines{Separator, L"Running quietly (no UI)", L"Using log file location [" + log + L"]",
                     L"Cleaning the current user only [" + Own + L"]", Passive, Passive, Passive, Passive,
                     L"Attempting to remove " + std::wstring(UserCode) + L" [Zamo (per-user)]",
                     L"Executing [" + command + L"]", L"Waiting for process [#] to complete", L"Process completed",
                     L"Process exit code [0]",
                     // MsiExec leaves the folders it installed into: the user's sweep takes them.
                     L"Attempting to remove application folder [" + Expand(L"%USERPROFILE%") + L"\\appdata\\local\\Quorvex]",
                     L"Exit code [0]", L"Finishing"}));
    EXPECT_FALSE(Listed(UserCode));
    EXPECT_FALSE(Exists(Expand(L"%LOCALAPPDATA%\\Quorvex\\ZcCuUser\\payload.txt")));
    EXPECT_TRUE(Listed(MachineCode));
    EXPECT_TRUE(Exists(programFiles + L"\\ZcCuMachine\\payload.txt"));
}

} // namespace
