// Registry purge: product keys, settings keys and add-in keys of a user scope and of
// the machine scope in both views, the rescan after a deletion, keys that do not fit,
// and a whole quiet run of the program against a real package.
#include "clean/installer/RegistryPurge.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

const wchar_t TestSid[] = L"S-1-5-21-7340-7341-7342-1102";
const std::wstring UninstallList = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring InstallerProducts = L"Software\\Microsoft\\Installer\\Products";
const std::wstring ClassesProducts = L"Software\\Classes\\Installer\\Products";
const std::wstring Dependencies = L"Software\\Classes\\Installer\\Dependencies";
const std::wstring AddIn1 = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Zamo.Outlook.AddIn";
const std::wstring AddIn2 = L"Software\\Quorvex\\Outlook Add-In";
const std::wstring OtherAddIn = L"Software\\Microsoft\\Office\\Outlook\\Addins\\ZcOther.AddIn";
const std::wstring FirstLine = L"Attempting to uninstall Zamo components passively";

typedef std::vector<std::wstring> Lines;

std::wstring User(const std::wstring& path)
{
    return std::wstring(TestSid) + L"\\" + path;
}

std::wstring Attempting(const std::wstring& name, const std::wstring& catalogueName)
{
    return L"Attempting to remove " + name + L" [" + catalogueName + L"]";
}

std::wstring Removed(const std::wstring& label, const std::wstring& path)
{
    return L"Successfully removed from " + label + L"\\" + path;
}

std::wstring NotRemoved(const std::wstring& label, const std::wstring& path)
{
    return L"Failed to remove from " + label + L"\\" + path;
}

class RegistryPurgeTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(HKEY_USERS, TestSid); }
    void TearDown() override
    {
        undeletable_.Release();
        DeleteKeyTree(HKEY_USERS, TestSid);
    }
    bool UserValue(const std::wstring& path, const wchar_t* name, const std::wstring& value)
    {
        return SetString(HKEY_USERS, User(path), name, value);
    }
    bool UserEntry(const std::wstring& name, const std::wstring& displayName)
    {
        return UserValue(UninstallList + L"\\" + name, L"DisplayName", displayName);
    }
    bool UserKeyExists(const std::wstring& path) { return KeyExists(HKEY_USERS, User(path)); }
    // False when this Wine cannot make the key undeletable.
    bool MakeUndeletable(const std::wstring& path) { return undeletable_.Make(HKEY_USERS, User(path)); }
    LogCapture log;
    ScratchKeys machine;

private:
    UndeletableKeys undeletable_;
};

TEST_F(RegistryPurgeTest, UserScopeDeletesEveryMatchingEntryWithItsTree)
{
    ASSERT_TRUE(UserEntry(L"ZcA-match", L"Zamo (per-user)"));
    ASSERT_TRUE(UserValue(UninstallList + L"\\ZcA-match\\Child\\Grandchild", L"Value", L"x"));
    ASSERT_TRUE(UserEntry(L"ZcB-other", L"Another Product"));
    ASSERT_TRUE(UserValue(UninstallList + L"\\ZcC-by-product-name", L"ProductName", L"ZAMO WEB INSTALLER (PER-USER)"));
    ASSERT_TRUE(UserEntry(L"ZcD-suffix", L"Zamo (per-user) 3"));
    ASSERT_TRUE(UserEntry(L"ZcE-match", L"Zamo Deployment"));

    PurgeProductKeys(HKEY_USERS, TestSid, UninstallList.c_str(), KEY_WOW64_64KEY);

    const std::wstring parent = User(UninstallList);
    EXPECT_EQ(log.Lines(), (Lines{Attempting(L"ZcA-match", L"Zamo (per-user)"), Removed(L"HKU", parent),
                                  Attempting(L"ZcC-by-product-name", L"Zamo Web Installer (per-user)"),
                                  Removed(L"HKU", parent), Attempting(L"ZcE-match", L"Zamo Deployment"),
                                  Removed(L"HKU", parent)}));
    EXPECT_FALSE(UserKeyExists(UninstallList + L"\\ZcA-match"));
    EXPECT_FALSE(UserKeyExists(UninstallList + L"\\ZcC-by-product-name"));
    EXPECT_FALSE(UserKeyExists(UninstallList + L"\\ZcE-match"));
    EXPECT_TRUE(UserKeyExists(UninstallList + L"\\ZcB-other"));
    EXPECT_TRUE(UserKeyExists(UninstallList + L"\\ZcD-suffix"));
}

TEST_F(RegistryPurgeTest, EntryThatIsNotAProductCodeIsAttemptedNotRunThenDeleted)
{
    ASSERT_TRUE(UserEntry(L"ZcNotAProductCode", L"Zamo Outlook Add-In (per-user)"));

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    // Both views show the same key under HKEY_USERS: each passive pass matches it.
    const std::wstring attempt = Attempting(L"ZcNotAProductCode", L"Zamo Outlook Add-In (per-user)");
    EXPECT_EQ(log.Lines(), (Lines{FirstLine, attempt, FirstLine, attempt, attempt,
                                  Removed(L"HKU", User(UninstallList))}));
    EXPECT_FALSE(UserKeyExists(UninstallList + L"\\ZcNotAProductCode"));
}

TEST_F(RegistryPurgeTest, SettingsKeysAreLoggedOnlyByTheCallThatRemovesThem)
{
    ASSERT_TRUE(UserValue(L"Software\\Quorvex\\Settings", L"Level", L"3"));
    ASSERT_TRUE(UserValue(L"Software\\Zamo", L"Channel", L"beta"));
    ASSERT_TRUE(UserValue(AddIn1, L"LoadBehavior", L"3"));
    ASSERT_TRUE(UserValue(AddIn1 + L"\\Child", L"Value", L"x"));
    ASSERT_TRUE(UserValue(OtherAddIn, L"LoadBehavior", L"3"));
    ASSERT_TRUE(UserValue(L"Software\\ZcNeighbour", L"Value", L"x"));

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    const std::wstring software = User(L"Software");
    EXPECT_EQ(log.Lines(), (Lines{FirstLine, FirstLine, Removed(L"HKU", software) + L"\\Quorvex",
                                  Removed(L"HKU", software) + L"\\Zamo"}));
    EXPECT_FALSE(UserKeyExists(L"Software\\Quorvex"));
    EXPECT_FALSE(UserKeyExists(L"Software\\Zamo"));
    EXPECT_FALSE(UserKeyExists(AddIn1));
    EXPECT_TRUE(UserKeyExists(OtherAddIn));
    EXPECT_TRUE(UserKeyExists(L"Software\\ZcNeighbour"));
}

TEST_F(RegistryPurgeTest, MissingKeyPathStillGetsSettingsAndAddInSteps)
{
    ASSERT_TRUE(UserValue(L"Software\\Zamo", L"Channel", L"beta"));
    ASSERT_TRUE(UserValue(AddIn2, L"LoadBehavior", L"3"));
    ASSERT_TRUE(UserValue(AddIn1, L"LoadBehavior", L"3"));
    ASSERT_FALSE(UserKeyExists(Dependencies));

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    // "Quorvex" goes in step B of the first purge call, with the second add-in key inside
    // it; the first add-in key goes silently in step C.
    EXPECT_EQ(log.Lines(), (Lines{FirstLine, FirstLine, Removed(L"HKU", User(L"Software")) + L"\\Quorvex",
                                  Removed(L"HKU", User(L"Software")) + L"\\Zamo"}));
    EXPECT_FALSE(UserKeyExists(AddIn1));
    EXPECT_FALSE(UserKeyExists(L"Software\\Quorvex"));
    EXPECT_TRUE(UserKeyExists(L"Software\\Microsoft\\Office\\Outlook\\Addins"));
}

TEST_F(RegistryPurgeTest, MachineScopeIsPurgedInBothViewsWithOneCallPerKeyPathAndView)
{
    const REGSAM v64 = KEY_WOW64_64KEY, v32 = KEY_WOW64_32KEY;
    HKEY lm = HKEY_LOCAL_MACHINE;
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcMachine64", L"DisplayName", L"Zamo (per-machine)", v64));
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcMachine64\\Child", L"Value", L"x", v64));
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcMachineKeep", L"DisplayName", L"Zamo (per-machine) 2", v64));
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcMachine32", L"DisplayName",
                                  L"Zamo Outlook Add-In (per-machine)", v32));
    ASSERT_TRUE(machine.SetString(lm, InstallerProducts + L"\\ZcMsi64", L"ProductName", L"Zamo Deployment", v64));
    ASSERT_TRUE(machine.SetString(lm, ClassesProducts + L"\\ZcPacked64", L"ProductName", L"Zamo (per-machine)", v64));
    ASSERT_TRUE(machine.SetString(lm, Dependencies + L"\\ZcDependency32", L"DisplayName",
                                  L"Zamo Web Installer (per-machine)", v32));
    ASSERT_TRUE(machine.SetString(lm, L"Software\\Quorvex\\Settings", L"Level", L"64", v64));
    ASSERT_TRUE(machine.SetString(lm, L"Software\\Quorvex\\Settings", L"Level", L"32", v32));
    ASSERT_TRUE(machine.SetString(lm, L"Software\\Zamo", L"Channel", L"32", v32));
    for (REGSAM view : {v64, v32}) {
        ASSERT_TRUE(machine.SetString(lm, AddIn1, L"LoadBehavior", L"3", view));
        ASSERT_TRUE(machine.SetString(lm, OtherAddIn, L"LoadBehavior", L"3", view));
    }
    ASSERT_FALSE(KeyExists(lm, UninstallList + L"\\ZcMachine32", v64)) << "the two views are one here";
    // As on 64-bit Windows, HKLM\Software is split between the views but its Classes branch is
    // one key in both: the 64-bit pass finds the dependency that was written through the 32-bit view.
    ASSERT_TRUE(KeyExists(lm, Dependencies + L"\\ZcDependency32", v64)) << "Classes is shared by the views";

    SweepScopeRegistry(lm, nullptr, nullptr);

    EXPECT_EQ(log.Lines(),
              (Lines{// the passive uninstaller's two passes
                     FirstLine, Attempting(L"ZcMachine64", L"Zamo (per-machine)"), FirstLine,
                     Attempting(L"ZcMachine32", L"Zamo Outlook Add-In (per-machine)"),
                     // 64-bit view
                     Attempting(L"ZcMachine64", L"Zamo (per-machine)"), Removed(L"HKLM", UninstallList),
                     L"Successfully removed from HKLM\\Software\\Quorvex",
                     Attempting(L"ZcMsi64", L"Zamo Deployment"), Removed(L"HKLM", InstallerProducts),
                     Attempting(L"ZcPacked64", L"Zamo (per-machine)"), Removed(L"HKLM", ClassesProducts),
                     Attempting(L"ZcDependency32", L"Zamo Web Installer (per-machine)"),
                     Removed(L"HKLM", Dependencies),
                     // 32-bit view
                     Attempting(L"ZcMachine32", L"Zamo Outlook Add-In (per-machine)"),
                     Removed(L"HKLM", UninstallList), L"Successfully removed from HKLM\\Software\\Quorvex",
                     L"Successfully removed from HKLM\\Software\\Zamo"}));
    for (REGSAM view : {v64, v32}) {
        SCOPED_TRACE(view == v64 ? "64-bit view" : "32-bit view");
        for (const std::wstring& gone :
             {UninstallList + L"\\ZcMachine64", UninstallList + L"\\ZcMachine32", InstallerProducts + L"\\ZcMsi64",
              ClassesProducts + L"\\ZcPacked64", Dependencies + L"\\ZcDependency32", std::wstring(L"Software\\Quorvex"),
              std::wstring(L"Software\\Zamo"), AddIn1})
            EXPECT_FALSE(KeyExists(lm, gone, view)) << gone;
        EXPECT_TRUE(KeyExists(lm, OtherAddIn, view));
    }
    EXPECT_TRUE(KeyExists(lm, UninstallList + L"\\ZcMachineKeep", v64));
}

TEST_F(RegistryPurgeTest, EmptySidMeansTheMachinePathsThemselves)
{
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, UninstallList + L"\\ZcEmptySid", L"DisplayName",
                                  L"Zamo Deployment", KEY_WOW64_32KEY));

    PurgeProductKeys(HKEY_LOCAL_MACHINE, L"", UninstallList.c_str(), KEY_WOW64_32KEY);

    EXPECT_EQ(log.Lines(), (Lines{Attempting(L"ZcEmptySid", L"Zamo Deployment"), Removed(L"HKLM", UninstallList)}));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\ZcEmptySid", KEY_WOW64_32KEY));
}

TEST_F(RegistryPurgeTest, UndeletableKeyIsTriedAgainAfterALaterDeletion)
{
    ASSERT_TRUE(UserEntry(L"ZcFirst", L"Zamo (per-user)"));
    ASSERT_TRUE(UserEntry(L"ZcSecond", L"Zamo Deployment"));
    if (!MakeUndeletable(UninstallList + L"\\ZcFirst"))
        GTEST_SKIP() << "this Wine cannot make a registry link";

    PurgeProductKeys(HKEY_USERS, TestSid, UninstallList.c_str(), KEY_WOW64_64KEY);

    const std::wstring parent = User(UninstallList);
    EXPECT_EQ(log.Lines(), (Lines{Attempting(L"ZcFirst", L"Zamo (per-user)"), NotRemoved(L"HKU", parent),
                                  Attempting(L"ZcSecond", L"Zamo Deployment"), Removed(L"HKU", parent),
                                  Attempting(L"ZcFirst", L"Zamo (per-user)"), NotRemoved(L"HKU", parent)}));
    EXPECT_TRUE(UserKeyExists(UninstallList + L"\\ZcFirst"));
    EXPECT_FALSE(UserKeyExists(UninstallList + L"\\ZcSecond"));
}

TEST_F(RegistryPurgeTest, RescanRetriesEveryUndeletableKeyInIndexOrder)
{
    // P1 P3 P6 do not match, P2 P4 P8 cannot be deleted, P5 P7 can.
    ASSERT_TRUE(UserEntry(L"ZcP1-keep", L"Another Product"));
    ASSERT_TRUE(UserEntry(L"ZcP2-stuck", L"Zamo (per-user)"));
    ASSERT_TRUE(UserEntry(L"ZcP3-keep", L"Zamo"));
    ASSERT_TRUE(UserEntry(L"ZcP4-stuck", L"Zamo Deployment"));
    ASSERT_TRUE(UserEntry(L"ZcP5-go", L"Zamo Web Installer"));
    ASSERT_TRUE(UserEntry(L"ZcP6-keep", L"Zamo Web"));
    ASSERT_TRUE(UserEntry(L"ZcP7-go", L"Zamo Outlook Add-In"));
    ASSERT_TRUE(UserEntry(L"ZcP8-stuck", L"Zamo (per-machine)"));
    for (const wchar_t* name : {L"ZcP2-stuck", L"ZcP4-stuck", L"ZcP8-stuck"}) {
        if (!MakeUndeletable(UninstallList + L"\\" + name))
            GTEST_SKIP() << "this Wine cannot make a registry link";
    }

    PurgeProductKeys(HKEY_USERS, TestSid, UninstallList.c_str(), KEY_WOW64_64KEY);

    const std::wstring parent = User(UninstallList);
    const Lines p2 = {Attempting(L"ZcP2-stuck", L"Zamo (per-user)"), NotRemoved(L"HKU", parent)};
    const Lines p4 = {Attempting(L"ZcP4-stuck", L"Zamo Deployment"), NotRemoved(L"HKU", parent)};
    const Lines p5 = {Attempting(L"ZcP5-go", L"Zamo Web Installer"), Removed(L"HKU", parent)};
    const Lines p7 = {Attempting(L"ZcP7-go", L"Zamo Outlook Add-In"), Removed(L"HKU", parent)};
    const Lines p8 = {Attempting(L"ZcP8-stuck", L"Zamo (per-machine)"), NotRemoved(L"HKU", parent)};
    Lines expected;
    for (const Lines* part : {&p2, &p4, &p5, &p2, &p4, &p7, &p2, &p4, &p8})
        expected.insert(expected.end(), part->begin(), part->end());
    EXPECT_EQ(log.Lines(), expected);
    for (const wchar_t* name : {L"ZcP1-keep", L"ZcP2-stuck", L"ZcP3-keep", L"ZcP4-stuck", L"ZcP6-keep", L"ZcP8-stuck"})
        EXPECT_TRUE(UserKeyExists(UninstallList + L"\\" + name)) << name;
    EXPECT_FALSE(UserKeyExists(UninstallList + L"\\ZcP5-go"));
    EXPECT_FALSE(UserKeyExists(UninstallList + L"\\ZcP7-go"));
}

TEST_F(RegistryPurgeTest, ManyUndeletableKeysAmongOthersAreAllTriedAgainInOrder)
{
    // More undeletable keys than the scan keeps by index, each followed by a key that
    // does not match, then two deletable keys around one that does not match.
    const int stuckCount = 20;
    std::vector<std::wstring> stuck;
    for (int i = 0; i < stuckCount; i++) {
        wchar_t name[32];
        wsprintfW(name, L"ZcQ%02d-stuck", i);
        stuck.push_back(name);
        ASSERT_TRUE(UserEntry(name, L"Zamo (per-user)"));
        wsprintfW(name, L"ZcQ%02d-zkeep", i);
        ASSERT_TRUE(UserEntry(name, L"Zamo (per-user) beta"));
    }
    ASSERT_TRUE(UserEntry(L"ZcR-go", L"Zamo Deployment"));
    ASSERT_TRUE(UserEntry(L"ZcS-keep", L"Another Product"));
    ASSERT_TRUE(UserEntry(L"ZcT-go", L"Zamo Deployment"));
    for (const std::wstring& name : stuck) {
        if (!MakeUndeletable(UninstallList + L"\\" + name))
            GTEST_SKIP() << "this Wine cannot make a registry link";
    }

    PurgeProductKeys(HKEY_USERS, TestSid, UninstallList.c_str(), KEY_WOW64_64KEY);

    const std::wstring parent = User(UninstallList);
    Lines expected;
    auto allStuck = [&]() {
        for (const std::wstring& name : stuck) {
            expected.push_back(Attempting(name, L"Zamo (per-user)"));
            expected.push_back(NotRemoved(L"HKU", parent));
        }
    };
    allStuck();
    expected.push_back(Attempting(L"ZcR-go", L"Zamo Deployment"));
    expected.push_back(Removed(L"HKU", parent));
    allStuck();
    expected.push_back(Attempting(L"ZcT-go", L"Zamo Deployment"));
    expected.push_back(Removed(L"HKU", parent));
    allStuck();
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_TRUE(UserKeyExists(UninstallList + L"\\ZcS-keep"));
    EXPECT_TRUE(UserKeyExists(UninstallList + L"\\ZcQ19-stuck"));
    EXPECT_TRUE(UserKeyExists(UninstallList + L"\\ZcQ19-zkeep"));
    EXPECT_FALSE(UserKeyExists(UninstallList + L"\\ZcT-go"));
}

TEST_F(RegistryPurgeTest, KeyPathsThatDoNotFitAreSkippedNeverCut)
{
    // A SID this long leaves room for "Software\Quorvex" but not for the uninstall list
    // or the first add-in key. Keys named by the cut paths must survive.
    const std::wstring longSid = L"S-1-5-21-7340-" + std::wstring(200, L'9');
    const std::wstring list = longSid + L"\\" + UninstallList;
    const std::wstring addIn = longSid + L"\\" + AddIn1;
    ASSERT_GT(list.size(), 259u);
    ASSERT_GT(addIn.size(), 259u);
    const std::wstring cutList = list.substr(0, 259);
    const std::wstring cutAddIn = addIn.substr(0, 259);
    struct SidCleanup {
        std::wstring sid;
        ~SidCleanup() { DeleteKeyTree(HKEY_USERS, sid); }
    } cleanup{longSid};
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000F2}";
    ASSERT_TRUE(SetString(HKEY_USERS, list + L"\\" + code, L"DisplayName", L"Zamo (per-user)"));
    ASSERT_TRUE(SetString(HKEY_USERS, cutList + L"\\ZcCutEntry", L"DisplayName", L"Zamo (per-user)"));
    ASSERT_TRUE(SetString(HKEY_USERS, addIn, L"LoadBehavior", L"3"));
    ASSERT_TRUE(SetString(HKEY_USERS, cutAddIn, L"LoadBehavior", L"3"));
    ASSERT_TRUE(SetString(HKEY_USERS, longSid + L"\\Software\\Quorvex", L"Level", L"1"));

    SweepScopeRegistry(HKEY_USERS, longSid.c_str(), nullptr);

    EXPECT_EQ(log.Lines(), (Lines{FirstLine, FirstLine, Removed(L"HKU", longSid + L"\\Software\\Quorvex")}));
    EXPECT_TRUE(KeyExists(HKEY_USERS, list + L"\\" + code));
    EXPECT_TRUE(KeyExists(HKEY_USERS, cutList + L"\\ZcCutEntry"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, addIn));
    EXPECT_TRUE(KeyExists(HKEY_USERS, cutAddIn));
    EXPECT_FALSE(KeyExists(HKEY_USERS, longSid + L"\\Software\\Quorvex"));
}

// Both views show one key under HKEY_USERS and each of the eight purge calls meets the
// settings and add-in keys again: a preview names each key once, as a real run removes it
// once. The product code's uninstaller is named once, and its entry where the purge meets
// it, since a real run deletes it there when the uninstaller fails. Nothing is deleted.
TEST_F(RegistryPurgeTest, PreviewOfAUserScopeNamesEachKeyOnceAndKeepsThem)
{
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000F3}";
    ASSERT_TRUE(UserEntry(L"ZcA-match", L"Zamo (per-user)"));
    ASSERT_TRUE(UserValue(UninstallList + L"\\ZcA-match\\Child", L"Value", L"x"));
    ASSERT_TRUE(UserEntry(code, L"Zamo Deployment"));
    ASSERT_TRUE(UserValue(AddIn2, L"LoadBehavior", L"3"));
    ASSERT_TRUE(UserValue(L"Software\\Zamo", L"Channel", L"beta"));
    ASSERT_TRUE(UserValue(AddIn1, L"LoadBehavior", L"3"));
    RegistryTree before;
    ASSERT_TRUE(CaptureKeyTree(HKEY_USERS, TestSid, &before));
    PreviewRun preview;

    SweepScopeRegistry(HKEY_USERS, TestSid, nullptr);

    const std::wstring attempt = Attempting(L"ZcA-match", L"Zamo (per-user)");
    const std::wstring would = L"Would remove HKU\\";
    EXPECT_EQ(log.Lines(),
              (Lines{FirstLine, attempt, Attempting(code, L"Zamo Deployment"),
                     L"Would execute [\"" + Expand(L"%SystemRoot%") + L"\\System32\\MsiExec.exe\" /x \"" + code +
                         L"\" /quiet]",
                     FirstLine, attempt, attempt, would + User(UninstallList + L"\\ZcA-match"),
                     Attempting(code, L"Zamo Deployment"), would + User(UninstallList + L"\\" + code),
                     would + User(L"Software\\Quorvex"), would + User(L"Software\\Zamo"), would + User(AddIn1)}));
    RegistryTree after;
    ASSERT_TRUE(CaptureKeyTree(HKEY_USERS, TestSid, &after));
    EXPECT_TRUE(after.keys == before.keys) << "the preview changed the scope's keys";
}

// Under HKEY_LOCAL_MACHINE the two views hold two keys of one name, each named, except in
// the Classes branch, which both views share.
TEST_F(RegistryPurgeTest, PreviewOfTheMachineScopeNamesEachViewsKeys)
{
    const REGSAM v64 = KEY_WOW64_64KEY, v32 = KEY_WOW64_32KEY;
    HKEY lm = HKEY_LOCAL_MACHINE;
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcPreview64", L"DisplayName", L"Zamo (per-machine)", v64));
    ASSERT_TRUE(machine.SetString(lm, UninstallList + L"\\ZcPreview32", L"DisplayName", L"Zamo Deployment", v32));
    ASSERT_TRUE(machine.SetString(lm, Dependencies + L"\\ZcPreviewDependency", L"DisplayName", L"Zamo Deployment", v32));
    for (REGSAM view : {v64, v32})
        ASSERT_TRUE(machine.SetString(lm, L"Software\\Quorvex\\Settings", L"Level", L"1", view));
    ASSERT_TRUE(machine.SetString(lm, AddIn1, L"LoadBehavior", L"3", v32));

    {
        PreviewRun preview;
        SweepScopeRegistry(lm, nullptr, nullptr);
    }

    EXPECT_EQ(log.Lines(),
              (Lines{FirstLine, Attempting(L"ZcPreview64", L"Zamo (per-machine)"), FirstLine,
                     Attempting(L"ZcPreview32", L"Zamo Deployment"), Attempting(L"ZcPreview64", L"Zamo (per-machine)"),
                     L"Would remove HKLM\\" + UninstallList + L"\\ZcPreview64", L"Would remove HKLM\\Software\\Quorvex",
                     Attempting(L"ZcPreviewDependency", L"Zamo Deployment"),
                     L"Would remove HKLM\\" + Dependencies + L"\\ZcPreviewDependency",
                     Attempting(L"ZcPreview32", L"Zamo Deployment"),
                     L"Would remove HKLM\\" + UninstallList + L"\\ZcPreview32", L"Would remove HKLM\\Software\\Quorvex",
                     L"Would remove HKLM\\" + AddIn1}));
    EXPECT_TRUE(KeyExists(lm, UninstallList + L"\\ZcPreview64", v64));
    EXPECT_TRUE(KeyExists(lm, UninstallList + L"\\ZcPreview32", v32));
    EXPECT_TRUE(KeyExists(lm, Dependencies + L"\\ZcPreviewDependency", v64));
    EXPECT_TRUE(KeyExists(lm, L"Software\\Quorvex\\Settings", v64));
    EXPECT_TRUE(KeyExists(lm, L"Software\\Quorvex\\Settings", v32));
    EXPECT_TRUE(KeyExists(lm, AddIn1, v32));
}

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

TEST_F(RegistryPurgeTest, LargeListLosesExactlyItsMatches)
{
    // 600 entries, 8 of them the product's, spread over the list: the 8 go, in index
    // order, and nothing else. The time is reported beside the floor: one reading of
    // every entry and the 8 deletions.
    const int count = 600;
    auto build = [&](const std::wstring& sid) {
        for (int i = 0; i < count; i++) {
            wchar_t name[32];
            wsprintfW(name, L"ZcBulk%04d", i);
            std::wstring path = sid + L"\\" + UninstallList + L"\\" + name;
            bool product = i % 75 == 37;
            if (!SetString(HKEY_USERS, path, L"DisplayName", product ? L"Zamo (per-user)" : L"Another Product") ||
                !SetString(HKEY_USERS, path, L"ProductName", L"Another Product"))
                return false;
        }
        return true;
    };
    ASSERT_TRUE(build(TestSid));

    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    PurgeProductKeys(HKEY_USERS, TestSid, UninstallList.c_str(), KEY_WOW64_64KEY);
    QueryPerformanceCounter(&end);
    double purge = Seconds(start, end);

    Lines expected;
    for (int i = 37; i < count; i += 75) {
        wchar_t name[32];
        wsprintfW(name, L"ZcBulk%04d", i);
        expected.push_back(Attempting(name, L"Zamo (per-user)"));
        expected.push_back(Removed(L"HKU", User(UninstallList)));
    }
    EXPECT_EQ(log.Lines(), expected);
    HKEY list;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, User(UninstallList).c_str(), 0, KEY_READ, &list), ERROR_SUCCESS);
    DWORD left = 0;
    RegQueryInfoKeyW(list, nullptr, nullptr, nullptr, &left, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(list);
    EXPECT_EQ(left, DWORD(count - 8));

    // The floor, on a second copy: every entry read once, the 8 deleted directly.
    const std::wstring floorSid = std::wstring(TestSid) + L"-floor";
    ASSERT_TRUE(build(floorSid));
    QueryPerformanceCounter(&start);
    HKEY floorList;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, (floorSid + L"\\" + UninstallList).c_str(), 0, KEY_READ, &floorList),
              ERROR_SUCCESS);
    for (DWORD index = 0;; index++) {
        wchar_t name[MAX_PATH];
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(floorList, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY entry;
        if (RegOpenKeyExW(floorList, name, 0, KEY_READ, &entry) == ERROR_SUCCESS) {
            wchar_t data[MAX_PATH];
            DWORD size = sizeof(data);
            RegQueryValueExW(entry, L"DisplayName", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
            RegCloseKey(entry);
            if (wcscmp(data, L"Zamo (per-user)") == 0 && RegDeleteKeyExW(floorList, name, KEY_WOW64_64KEY, 0) == 0)
                index--;
        }
    }
    RegCloseKey(floorList);
    QueryPerformanceCounter(&end);
    double floor = Seconds(start, end);
    DeleteKeyTree(HKEY_USERS, floorSid);
    RecordProperty("purge_ms", int(purge * 1000));
    RecordProperty("floor_ms", int(floor * 1000));
    std::printf("purge of %d entries: %.0f ms; floor %.0f ms\n", count, purge * 1000, floor * 1000);
}

// Whether block occurs in lines as one unbroken run.
bool ContainsRun(const Lines& lines, const Lines& block)
{
    return std::search(lines.begin(), lines.end(), block.begin(), block.end()) != lines.end();
}

TEST_F(RegistryPurgeTest, QuietRunUninstallsARealPackageAndLeavesNoKeyOfTheProduct)
{
    const wchar_t code[] = L"{7E1A5C00-0000-4000-8000-000000000064}";
    struct PackageCleanup {
        const wchar_t* code;
        ~PackageCleanup()
        {
            if (KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + code, KEY_WOW64_64KEY))
                UninstallTestProduct(code);
            RemoveDirectoryW(Expand(L"%ProgramW6432%\\ZcPurgeX64").c_str());
        }
    } cleanup{code};
    ASSERT_TRUE(InstallTestPackage(L"ZcPurgeX64.msi"));
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, UninstallList + L"\\ZcLeftover32", L"DisplayName",
                                  L"Zamo (per-machine)", KEY_WOW64_32KEY));
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, L"Software\\Zamo", L"Channel", L"beta", KEY_WOW64_64KEY));
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, AddIn1, L"LoadBehavior", L"3", KEY_WOW64_64KEY));
    TempFolder folder;
    const std::wstring logPath = folder / L"run.log";

    RunResult run = RunProgram(L"/Quiet /Log:" + logPath);

    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    Lines lines = MaskProcessIds(ReadLogLines(logPath));
    const std::wstring executing = L"Executing [\"" + Expand(L"%SystemRoot%") +
                                   L"\\System32\\MsiExec.exe\" /x \"" + code + L"\" /quiet]";
    EXPECT_TRUE(ContainsRun(lines, {FirstLine, Attempting(code, L"Zamo (per-machine)"), executing,
                                    L"Waiting for process [#] to complete", L"Process completed", FirstLine,
                                    Attempting(L"ZcLeftover32", L"Zamo (per-machine)"),
                                    L"Successfully removed from HKLM\\Software\\Zamo",
                                    Attempting(L"ZcLeftover32", L"Zamo (per-machine)"),
                                    Removed(L"HKLM", UninstallList)}));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Finishing");
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + code, view));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\ZcLeftover32", view));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ClassesProducts + L"\\00C5A1E7000000040800000000000046", view));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Zamo", view));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AddIn1, view));
    }
    EXPECT_FALSE(Exists(Expand(L"%ProgramW6432%\\ZcPurgeX64\\payload.txt")));
}

} // namespace
