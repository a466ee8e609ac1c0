// The registry sweep of a scope as one whole: the passive uninstall in both views and the
// purge in both views, each case's complete log compared line by line, where lists are
// seen through both views, uninstallers change the list, keys cannot be deleted, and a
// list holds many of the product's entries.
#include "clean/installer/RegistryPurge.h"
#include "change/RunOutcome.h"
#include "common/Settings.h"
#include "common/Registry.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

const wchar_t TestSid[] = L"S-1-5-21-7340-7341-7342-1103";
const std::wstring UninstallList = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring InstallerProducts = L"Software\\Microsoft\\Installer\\Products";
const std::wstring UserList = std::wstring(TestSid) + L"\\" + UninstallList;
const std::wstring FirstLine = L"Attempting to uninstall Zamo components passively";
const std::wstring Waiting = L"Waiting for process [#] to complete";

typedef std::vector<std::wstring> Lines;

std::wstring Attempting(const std::wstring& name, const std::wstring& catalogueName)
{
    return L"Attempting to remove " + name + L" [" + catalogueName + L"]";
}

std::wstring Executing(const std::wstring& msiExec, const std::wstring& productCode)
{
    return L"Executing [\"" + msiExec + L"\" /x \"" + productCode + L"\" /quiet]";
}

Lines Join(std::initializer_list<Lines> parts)
{
    Lines joined;
    for (const Lines& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

class RegistrySweepTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(HKEY_USERS, TestSid); }
    void TearDown() override
    {
        undeletable_.Release();
        DeleteKeyTree(HKEY_USERS, TestSid);
    }
    bool UserEntry(const std::wstring& name, const wchar_t* valueName, const std::wstring& value)
    {
        return SetString(HKEY_USERS, UserList + L"\\" + name, valueName, value);
    }
    bool Listed(const std::wstring& name) { return KeyExists(HKEY_USERS, UserList + L"\\" + name); }
    // False when this Wine cannot make the key undeletable.
    bool MakeUndeletable(const std::wstring& name) { return undeletable_.Make(HKEY_USERS, UserList + L"\\" + name); }
    std::wstring Removed(const std::wstring& path) { return L"Successfully removed from HKU\\" + User(path); }
    std::wstring NotRemoved(const std::wstring& path) { return L"Failed to remove from HKU\\" + User(path); }
    static std::wstring User(const std::wstring& path) { return std::wstring(TestSid) + L"\\" + path; }
    LogCapture log;

private:
    UndeletableKeys undeletable_;
};

TEST_F(RegistrySweepTest, BothViewsOfAUserListAreOneKey)
{
    ASSERT_TRUE(UserEntry(L"ZcEntry", L"DisplayName", L"x"));
    HKEY views[2];
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, UserList.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &views[0]), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, UserList.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &views[1]), ERROR_SUCCESS);
    RegistryName names[2];
    EXPECT_TRUE(RegKernelName(views[0], names[0]));
    EXPECT_TRUE(RegKernelName(views[1], names[1]));
    RegCloseKey(views[0]);
    RegCloseKey(views[1]);
    EXPECT_EQ(std::wstring(names[0]), std::wstring(names[1]));
    EXPECT_NE(std::wstring(names[0]).find(UserList), std::wstring::npos) << names[0];
}

TEST_F(RegistrySweepTest, TheMachineListsOfTheTwoViewsAreTwoKeys)
{
    ScratchKeys machine;
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, UninstallList + L"\\ZcViewProbe", L"DisplayName", L"x",
                                  KEY_WOW64_32KEY));
    RegistryName names[2];
    const REGSAM views[2] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (int i = 0; i < 2; i++) {
        HKEY list;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallList.c_str(), 0, KEY_READ | views[i], &list),
                  ERROR_SUCCESS);
        EXPECT_TRUE(RegKernelName(list, names[i]));
        RegCloseKey(list);
    }
    EXPECT_NE(std::wstring(names[0]), std::wstring(names[1]));
}

TEST_F(RegistrySweepTest, MatchesSeenThroughBothViewsAreLoggedByEveryPass)
{
    ASSERT_TRUE(UserEntry(L"ZcA-display", L"DisplayName", L"Zamo (per-user)"));
    ASSERT_TRUE(UserEntry(L"ZcB-other", L"DisplayName", L"Another Product"));
    ASSERT_TRUE(UserEntry(L"ZcC-product", L"DisplayName", L"Zamo (per-user) 2"));
    ASSERT_TRUE(UserEntry(L"ZcC-product", L"ProductName", L"zamo web installer"));
    ASSERT_TRUE(UserEntry(L"ZcD-both", L"DisplayName", L"Zamo Deployment"));
    ASSERT_TRUE(UserEntry(L"ZcD-both", L"ProductName", L"Zamo (per-user)"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(InstallerProducts + L"\\ZcPacked"), L"ProductName", L"Zamo (per-user)"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(InstallerProducts + L"\\ZcPackedOther"), L"ProductName", L"Other"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Software\\Zamo"), L"Channel", L"beta"));

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    const Lines matches = {Attempting(L"ZcA-display", L"Zamo (per-user)"),
                           Attempting(L"ZcC-product", L"Zamo Web Installer"),
                           Attempting(L"ZcD-both", L"Zamo Deployment")};
    const Lines purge = {Attempting(L"ZcA-display", L"Zamo (per-user)"),   Removed(UninstallList),
                         Attempting(L"ZcC-product", L"Zamo Web Installer"), Removed(UninstallList),
                         Attempting(L"ZcD-both", L"Zamo Deployment"),       Removed(UninstallList),
                         Removed(L"Software") + L"\\Zamo",
                         Attempting(L"ZcPacked", L"Zamo (per-user)"),       Removed(InstallerProducts)};
    EXPECT_EQ(log.Lines(), Join({{FirstLine}, matches, {FirstLine}, matches, purge}));
    EXPECT_TRUE(Listed(L"ZcB-other"));
    for (const wchar_t* name : {L"ZcA-display", L"ZcC-product", L"ZcD-both"})
        EXPECT_FALSE(Listed(name)) << name;
    EXPECT_TRUE(KeyExists(HKEY_USERS, User(InstallerProducts + L"\\ZcPackedOther")));
}

TEST_F(RegistrySweepTest, UndeletableEntriesAreTriedAgainByEveryPurgePass)
{
    // P1 and P3 cannot be deleted, P2 can: the 64-bit pass retries P1 after deleting P2,
    // and the 32-bit pass, over the same key, tries both again.
    ASSERT_TRUE(UserEntry(L"ZcP1-stuck", L"DisplayName", L"Zamo (per-user)"));
    ASSERT_TRUE(UserEntry(L"ZcP2-go", L"ProductName", L"Zamo Deployment"));
    ASSERT_TRUE(UserEntry(L"ZcP3-stuck", L"DisplayName", L"Zamo Web Installer"));
    ASSERT_TRUE(UserEntry(L"ZcP4-keep", L"DisplayName", L"Zamo Web"));
    for (const wchar_t* name : {L"ZcP1-stuck", L"ZcP3-stuck"}) {
        if (!MakeUndeletable(name))
            GTEST_SKIP() << "this Wine cannot make a registry link";
    }

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    const Lines p1 = {Attempting(L"ZcP1-stuck", L"Zamo (per-user)"), NotRemoved(UninstallList)};
    const Lines p2 = {Attempting(L"ZcP2-go", L"Zamo Deployment"), Removed(UninstallList)};
    const Lines p3 = {Attempting(L"ZcP3-stuck", L"Zamo Web Installer"), NotRemoved(UninstallList)};
    const Lines passive = {FirstLine, p1[0], p2[0], p3[0]};
    EXPECT_EQ(log.Lines(), Join({passive, passive, p1, p2, p1, p3, p1, p3}));
    EXPECT_TRUE(Listed(L"ZcP1-stuck"));
    EXPECT_FALSE(Listed(L"ZcP2-go"));
    EXPECT_TRUE(Listed(L"ZcP3-stuck"));
    EXPECT_TRUE(Listed(L"ZcP4-keep"));
}

TEST_F(RegistrySweepTest, ManyMatchesAreAllTakenInOrder)
{
    // Many of the product's entries among others, with an undeletable one first: every
    // pass logs them all, in index order, and the purge tries the undeletable one again
    // after each deletion.
    const int count = 70;
    std::vector<std::wstring> names;
    for (int i = 0; i < count; i++) {
        wchar_t name[32];
        wsprintfW(name, L"ZcBulk%03d", i);
        names.push_back(name);
        ASSERT_TRUE(UserEntry(name, L"DisplayName", L"Zamo (per-user)"));
        wsprintfW(name, L"ZcBulk%03d-other", i);
        ASSERT_TRUE(UserEntry(name, L"DisplayName", L"Another Product"));
    }
    if (!MakeUndeletable(names[0]))
        GTEST_SKIP() << "this Wine cannot make a registry link";

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    Lines passive = {FirstLine};
    for (const std::wstring& name : names)
        passive.push_back(Attempting(name, L"Zamo (per-user)"));
    const std::wstring first = Attempting(names[0], L"Zamo (per-user)");
    Lines purge = {first, NotRemoved(UninstallList)};
    for (size_t i = 1; i < names.size(); i++) {
        purge.push_back(Attempting(names[i], L"Zamo (per-user)"));
        purge.push_back(Removed(UninstallList));
        purge.push_back(first);
        purge.push_back(NotRemoved(UninstallList));
    }
    // The 32-bit pass over the same key finds only the undeletable one.
    purge.push_back(first);
    purge.push_back(NotRemoved(UninstallList));
    EXPECT_EQ(log.Lines(), Join({passive, passive, purge}));
    EXPECT_TRUE(Listed(names[0]));
    EXPECT_FALSE(Listed(names.back()));
    EXPECT_TRUE(Listed(names.back() + L"-other"));
}

// MsiExec stood in for by FakeUninstaller.exe, which changes the test user's list.
class UninstallerSweepTest : public RegistrySweepTest {
protected:
    void SetUp() override
    {
        RegistrySweepTest::SetUp();
        std::wstring system32 = root_.Path() + L"\\System32";
        ready_ = CreateDirectoryW(system32.c_str(), nullptr) &&
                 CopyFileW((BinaryFolder() + L"\\FakeUninstaller.exe").c_str(), (system32 + L"\\MsiExec.exe").c_str(),
                           TRUE);
        msiExec_ = system32 + L"\\MsiExec.exe";
    }
    std::wstring Executing(const std::wstring& code) { return ::Executing(msiExec_, code); }
    TempFolder root_;
    bool ready_ = false;
    std::wstring msiExec_;
    ScopedVariable list_{L"ZC_UNINSTALL_LIST", UserList.c_str()};
};

TEST_F(UninstallerSweepTest, UninstallerThatRemovesItsOwnEntryIsNotSeenAgain)
{
    ASSERT_TRUE(ready_);
    ScopedVariable systemRoot(L"SystemRoot", root_.Path().c_str());
    const std::wstring first = L"{7E1A5C00-0000-4000-8000-0000000000E1}";
    const std::wstring second = L"{7E1A5C00-0000-4000-8000-0000000000E2}";
    ASSERT_TRUE(UserEntry(first, L"DisplayName", L"Zamo (per-user)"));
    ASSERT_TRUE(UserEntry(second, L"ProductName", L"Zamo Deployment"));
    ASSERT_TRUE(UserEntry(L"ZcNamed", L"DisplayName", L"Zamo Web Installer"));

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    // The second entry moved down to the first one's index and is taken there; the
    // 32-bit pass, over the same key, sees only what the uninstallers left.
    const std::wstring named = Attempting(L"ZcNamed", L"Zamo Web Installer");
    EXPECT_EQ(MaskProcessIds(log.Lines()),
              (Lines{FirstLine, named, Attempting(first, L"Zamo (per-user)"), Executing(first), Waiting,
                     L"Process completed", Attempting(second, L"Zamo Deployment"), Executing(second), Waiting,
                     L"Process completed", FirstLine, named, named, Removed(UninstallList)}));
    EXPECT_FALSE(Listed(first));
    EXPECT_FALSE(Listed(second));
    EXPECT_FALSE(Listed(L"ZcNamed"));
}

// With "/ExitCode": the uninstaller's own code is logged, 3010 from it makes the run's code
// 3010; an uninstaller that fails and leaves its entry (an orphaned entry) has the entry
// deleted by the purge, which makes the run's code 0.
TEST_F(UninstallerSweepTest, UninstallerExitCodesReachTheRunsExitCode)
{
    ASSERT_TRUE(ready_);
    ScopedVariable systemRoot(L"SystemRoot", root_.Path().c_str());
    struct Option {
        Option() { ReportExitCode = true; ClearTriedItems(); }
        ~Option() { ClearTriedItems(); ReportExitCode = false; }
    } option;
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000E4}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo (per-user)"));
    {
        ScopedVariable exitCode(L"ZC_UNINSTALL_EXIT", L"3010");
        SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);
    }
    EXPECT_EQ(MaskProcessIds(log.Lines()),
              (Lines{FirstLine, Attempting(code, L"Zamo (per-user)"), Executing(code), Waiting, L"Process completed",
                     L"Process exit code [3010]", FirstLine}));
    EXPECT_FALSE(Listed(code));
    log.Clear();
    EXPECT_EQ(LogRunOutcome(), 3010);

    ClearTriedItems();
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo (per-user)"));
    {
        ScopedVariable exitCode(L"ZC_UNINSTALL_EXIT", L"1605");
        ScopedVariable otherList(L"ZC_UNINSTALL_LIST", L"ZcNoSuchList");
        SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);
    }
    const std::wstring attempt = Attempting(code, L"Zamo (per-user)");
    EXPECT_EQ(MaskProcessIds(log.Lines()),
              (Lines{L"Exit code [3010]", FirstLine, attempt, Executing(code), Waiting, L"Process completed",
                     L"Process exit code [1605]", FirstLine, attempt, Executing(code), Waiting, L"Process completed",
                     L"Process exit code [1605]", attempt, Removed(UninstallList)}));
    EXPECT_FALSE(Listed(code));
    EXPECT_EQ(LogRunOutcome(), 0);
}

TEST_F(UninstallerSweepTest, EntryAnUninstallerAddsIsSeenByTheLaterPasses)
{
    ASSERT_TRUE(ready_);
    ScopedVariable systemRoot(L"SystemRoot", root_.Path().c_str());
    ScopedVariable adds(L"ZC_UNINSTALL_ADDS", L"ZcAdded");
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000E3}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo (per-user)"));
    ASSERT_TRUE(UserEntry(L"ZcBefore", L"DisplayName", L"Zamo Outlook Add-In"));

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    // The new entry lands at index 0 and moves the one before the uninstaller's to the
    // index where the 64-bit pass goes on: it is matched again there. The 32-bit pass,
    // over the same key, reads the list the uninstaller left.
    const std::wstring before = Attempting(L"ZcBefore", L"Zamo Outlook Add-In");
    const std::wstring added = Attempting(L"ZcAdded", L"Zamo Deployment");
    EXPECT_EQ(MaskProcessIds(log.Lines()),
              (Lines{FirstLine, before, Attempting(code, L"Zamo (per-user)"), Executing(code), Waiting,
                     L"Process completed", before, FirstLine, added, before, added, Removed(UninstallList), before,
                     Removed(UninstallList)}));
    EXPECT_FALSE(Listed(code));
    EXPECT_FALSE(Listed(L"ZcAdded"));
    EXPECT_FALSE(Listed(L"ZcBefore"));
}

TEST_F(RegistrySweepTest, UninstallerThatLeavesItsEntryRunsInEachView)
{
    // Not installed: MsiExec ends without removing anything, and the entry is deleted
    // by the purge.
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000E4}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo Web Installer"));
    const std::wstring msiExec = Expand(L"%SystemRoot%") + L"\\System32\\MsiExec.exe";

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    const Lines passive = {FirstLine, Attempting(code, L"Zamo Web Installer"), Executing(msiExec, code), Waiting,
                           L"Process completed"};
    EXPECT_EQ(MaskProcessIds(log.Lines()),
              Join({passive, passive, {Attempting(code, L"Zamo Web Installer"), Removed(UninstallList)}}));
    EXPECT_FALSE(Listed(code));
}

// A machine key tree that other runs may have left (a scope marker, say), moved out of
// the way for one test and put back afterwards.
class SetAside {
public:
    SetAside(const std::wstring& path, REGSAM view) : path_(path), view_(view)
    {
        had_ = CaptureKeyTree(HKEY_LOCAL_MACHINE, path_, &tree_, view_);
        if (had_)
            DeleteKeyTree(HKEY_LOCAL_MACHINE, path_, view_);
    }
    ~SetAside()
    {
        if (had_)
            RestoreKeyTree(HKEY_LOCAL_MACHINE, path_, tree_, view_);
    }
    SetAside(const SetAside&) = delete;
    SetAside& operator=(const SetAside&) = delete;

private:
    std::wstring path_;
    REGSAM view_;
    RegistryTree tree_;
    bool had_;
};

TEST_F(RegistrySweepTest, MachineListsOfBothViewsAreSweptApart)
{
    const REGSAM v64 = KEY_WOW64_64KEY, v32 = KEY_WOW64_32KEY;
    HKEY lm = HKEY_LOCAL_MACHINE;
    SetAside settings[4] = {{L"Software\\Quorvex", v64}, {L"Software\\Quorvex", v32}, {L"Software\\Zamo", v64},
                            {L"Software\\Zamo", v32}};
    ScratchKeys machine;
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcSweep64", L"DisplayName", L"Zamo (per-machine)", v64));
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcSweep32", L"ProductName", L"Zamo Deployment", v32));
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcSweepBoth", L"DisplayName", L"Zamo Outlook Add-In", v64));
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcSweepBoth", L"DisplayName", L"Zamo Web Installer", v32));
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcSweepKeep", L"DisplayName", L"Zamo Viewer", v32));

    // As the clean run sweeps the machine, but for the Installer's records between the
    // uninstall passes and the purge: one set of readings for every pass.
    SweepScopeRegistry(lm, nullptr, nullptr);

    const std::wstring removed = L"Successfully removed from HKLM\\" + UninstallList;
    const Lines found64 = {Attempting(L"ZcSweep64", L"Zamo (per-machine)"),
                           Attempting(L"ZcSweepBoth", L"Zamo Outlook Add-In")};
    const Lines found32 = {Attempting(L"ZcSweep32", L"Zamo Deployment"),
                           Attempting(L"ZcSweepBoth", L"Zamo Web Installer")};
    EXPECT_EQ(log.Lines(), Join({{FirstLine}, found64, {FirstLine}, found32,
                                 {found64[0], removed, found64[1], removed, found32[0], removed, found32[1], removed}}));
    for (REGSAM view : {v64, v32}) {
        for (const wchar_t* name : {L"ZcSweep64", L"ZcSweep32", L"ZcSweepBoth"})
            EXPECT_FALSE(KeyExists(lm, UninstallList + L"\\" + name, view)) << name;
    }
    EXPECT_TRUE(KeyExists(lm, UninstallList + L"\\ZcSweepKeep", v32));
}

} // namespace
