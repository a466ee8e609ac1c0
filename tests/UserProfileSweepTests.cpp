// User profile sweep: test users under HKEY_USERS with their own profile folders in
// the profile list and their own shell-folder definitions; program folders redirected
// to temporary folders through the environment.
#include "change/RunOutcome.h"
#include "clean/ground/ProfilePaths.h"
#include "clean/profiles/UserProfileSweep.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

const std::wstring ProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const std::wstring ShellFolders = L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const std::wstring StartupDefinition = L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
const std::wstring PassiveLine = L"Attempting to uninstall Zamo components passively";
const wchar_t SweepSignature[] = L"Sweep-Test";

// The options of the run under way, with one option more.
RunOptions WithExitCode(RunOptions options)
{
    options.reportExitCode = true;
    return options;
}
RunOptions WithReport(RunOptions options)
{
    options.reportRequested = true;
    return options;
}

// One test user: keys in the profile list and under HKEY_USERS, a profile folder whose
// name has capitals, and the usual shell-folder definitions. Everything goes with it.
class TestUser {
public:
    explicit TestUser(const std::wstring& sid, const std::wstring& profileName = L"Profile U1")
        : sid_(sid), profile_(folder_ / profileName)
    {
        CreateDirectoryW(profile_.c_str(), nullptr);
        SetString(HKEY_LOCAL_MACHINE, ProfileList + sid, L"ProfileImagePath", profile_, KEY_WOW64_64KEY,
                  REG_EXPAND_SZ);
        SetString(HKEY_USERS, sid + ShellFolders, L"Local AppData", L"%USERPROFILE%\\AppData\\Local",
                  KEY_WOW64_64KEY, REG_EXPAND_SZ);
        SetString(HKEY_USERS, sid + ShellFolders, L"Startup", StartupDefinition, KEY_WOW64_64KEY, REG_EXPAND_SZ);
    }
    ~TestUser()
    {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, ProfileList + sid_);
        DeleteKeyTree(HKEY_USERS, sid_);
    }
    TestUser(const TestUser&) = delete;
    TestUser& operator=(const TestUser&) = delete;

    const wchar_t* Sid() const { return sid_.c_str(); }
    const std::wstring& Profile() const { return profile_; }
    // Paths as the sweep composes them: the definition's own text lower-cased.
    std::wstring LocalAppData() const { return profile_ + L"\\appdata\\local"; }
    std::wstring AppFolder() const { return LocalAppData() + L"\\Quorvex"; }
    std::wstring Cache() const { return LocalAppData() + L"\\Package Cache"; }
    std::wstring Startup() const
    {
        return profile_ + L"\\appdata\\roaming\\microsoft\\windows\\start menu\\programs\\startup";
    }
    std::wstring Shortcut() const { return Startup() + L"\\Zamo.lnk"; }

    // Creates each folder on the way and the file.
    static bool Plant(const std::wstring& file)
    {
        for (size_t at = file.find(L'\\', 3); at != std::wstring::npos; at = file.find(L'\\', at + 1))
            CreateDirectoryW(file.substr(0, at).c_str(), nullptr);
        return WriteTextFile(file, "x");
    }
    bool Marked(const std::wstring& signature) const
    {
        std::wstring value;
        DWORD type = 0;
        return ReadString(HKEY_USERS, sid_ + L"\\Software\\Quorvex\\Cleaned", nullptr, &value, KEY_WOW64_64KEY, &type) &&
               type == REG_SZ && value == signature;
    }

private:
    TempFolder folder_;
    std::wstring sid_;
    std::wstring profile_;
};

std::wstring Deleting(const std::wstring& path)
{
    return L"Deleting file [" + path + L"]";
}

class UserProfileSweepTest : public ::testing::Test {
protected:
    UserProfileSweepTest()
        : programFiles(L"ProgramFiles", (programs / L"PF").c_str()),
          programFilesX86(L"ProgramFiles(x86)", (programs / L"PF86").c_str()),
          programW6432(L"ProgramW6432", (programs / L"PF64").c_str())
    {
        for (const wchar_t* name : {L"PF", L"PF86", L"PF64"})
            CreateDirectoryW((programs / name).c_str(), nullptr);
    }

    // What was logged after the log's separator line.
    std::vector<std::wstring> Logged() const
    {
        std::vector<std::wstring> lines = log.Lines();
        return std::vector<std::wstring>(lines.begin() + (lines.empty() ? 0 : 1), lines.end());
    }

    TempFolder programs;
    TestRunLog log;
    ScopedVariable programFiles;
    ScopedVariable programFilesX86;
    ScopedVariable programW6432;
    TestRun signedRun{SignedOptions(SweepSignature)};
};

TEST_F(UserProfileSweepTest, NameOfNineCharactersIsWellKnownOnly)
{
    TestUser user(L"S-1-5-919");
    ASSERT_TRUE(CreateKey(HKEY_USERS, std::wstring(user.Sid()) + L"\\*"));
    ASSERT_TRUE(TestUser::Plant(user.AppFolder() + L"\\a.txt"));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{L"Skipping well-known SID [S-1-5-919]"}));
    EXPECT_TRUE(Exists(user.AppFolder() + L"\\a.txt"));
    EXPECT_FALSE(KeyExists(HKEY_USERS, std::wstring(user.Sid()) + L"\\Software\\Quorvex\\Cleaned"));
}

TEST_F(UserProfileSweepTest, NameOfTenCharactersGoesOnToTheClassBranchProbe)
{
    TestUser user(L"S-1-5-1010");
    ASSERT_TRUE(CreateKey(HKEY_USERS, std::wstring(user.Sid()) + L"\\*"));
    ASSERT_TRUE(TestUser::Plant(user.AppFolder() + L"\\a.txt"));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{L"Skipping class branch [S-1-5-1010]"}));
    EXPECT_TRUE(Exists(user.AppFolder() + L"\\a.txt"));
    EXPECT_FALSE(user.Marked(SweepSignature));
}

TEST_F(UserProfileSweepTest, TenCharacterNameWithoutClassesIsSwept)
{
    TestUser user(L"S-1-5-1011");
    ASSERT_TRUE(TestUser::Plant(user.AppFolder() + L"\\a.txt"));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{PassiveLine, PassiveLine,
                                                      L"Attempting to remove application folder [" + user.AppFolder() + L"]",
                                                      Deleting(user.AppFolder() + L"\\a.txt")}));
    EXPECT_FALSE(Exists(user.AppFolder()));
    EXPECT_TRUE(user.Marked(SweepSignature));
}

TEST_F(UserProfileSweepTest, ClassBranchIsSkipped)
{
    TestUser user(L"S-1-5-21-9901-1002_Classes");
    ASSERT_TRUE(CreateKey(HKEY_USERS, std::wstring(user.Sid()) + L"\\*\\shell"));
    ASSERT_TRUE(TestUser::Plant(user.AppFolder() + L"\\a.txt"));
    ASSERT_TRUE(TestUser::Plant(programs / L"PF\\Quorvex\\p.dll"));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{L"Skipping class branch [S-1-5-21-9901-1002_Classes]"}));
    EXPECT_TRUE(Exists(user.AppFolder() + L"\\a.txt"));
    EXPECT_TRUE(Exists(programs / L"PF\\Quorvex\\p.dll"));
    EXPECT_FALSE(user.Marked(SweepSignature));
}

TEST_F(UserProfileSweepTest, MarkedScopeIsLeftAlone)
{
    TestUser user(L"S-1-5-21-9901-1003");
    ASSERT_TRUE(SetString(HKEY_USERS, std::wstring(user.Sid()) + L"\\Software\\Quorvex\\Cleaned", nullptr, L"SWEEP-TEST"));
    ASSERT_TRUE(TestUser::Plant(user.AppFolder() + L"\\a.txt"));
    ASSERT_TRUE(TestUser::Plant(programs / L"PF\\Quorvex\\p.dll"));
    ASSERT_TRUE(TestUser::Plant(user.Shortcut()));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(),
              (std::vector<std::wstring>{L"Skipping clean-up for [HKU,S-1-5-21-9901-1003] since signature [Sweep-Test] "
                                         L"has been marked for this scope."}));
    EXPECT_TRUE(Exists(user.AppFolder() + L"\\a.txt"));
    EXPECT_TRUE(Exists(programs / L"PF\\Quorvex\\p.dll"));
    EXPECT_TRUE(Exists(user.Shortcut()));
}

TEST_F(UserProfileSweepTest, SweepRemovesEveryProductFolderAndMarksTheScope)
{
    TestUser user(L"S-1-5-21-9901-1004");
    std::wstring both = user.Cache() + L"\\{Both}";
    std::wstring folderMarker = user.Cache() + L"\\{FolderMarker}";
    std::wstring foreign = user.Cache() + L"\\{Foreign}";
    ASSERT_TRUE(TestUser::Plant(user.AppFolder() + L"\\Settings.ini"));
    for (const wchar_t* program : {L"PF", L"PF86", L"PF64"})
        ASSERT_TRUE(TestUser::Plant(programs / program + L"\\Quorvex\\AddIn.dll"));
    ASSERT_TRUE(TestUser::Plant(both + L"\\ZamoInstallerPerUser.exe"));
    ASSERT_TRUE(TestUser::Plant(both + L"\\ZamoOutlookSetupX64.msi"));
    ASSERT_TRUE(TestUser::Plant(folderMarker + L"\\ZamoSetupPerUserX64.msi\\data.cab"));
    ASSERT_TRUE(TestUser::Plant(foreign + L"\\Other.msi"));
    ASSERT_TRUE(TestUser::Plant(user.Cache() + L"\\ZamoInstallerPerUser.exe"));
    ASSERT_TRUE(TestUser::Plant(user.Shortcut()));
    ASSERT_TRUE(TestUser::Plant(user.Startup() + L"\\Other.lnk"));

    SweepUserScope(user.Sid());

    std::vector<std::wstring> lines = Logged();
    std::vector<std::wstring> head = {
        PassiveLine,
        PassiveLine,
        L"Attempting to remove application folder [" + user.AppFolder() + L"]",
        Deleting(user.AppFolder() + L"\\Settings.ini"),
        Deleting(programs / L"PF\\Quorvex\\AddIn.dll"),
        Deleting(programs / L"PF86\\Quorvex\\AddIn.dll"),
        Deleting(programs / L"PF64\\Quorvex\\AddIn.dll"),
        L"Attempting to remove items from MSI package cache [" + user.Cache() + L"]",
    };
    ASSERT_EQ(lines.size(), head.size() + 6);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + head.size()), head);
    EXPECT_EQ(lines.back(), L"Deleted startup shortcut [" + user.Shortcut() + L"]");
    // The entries come in the order the file system lists them; each heads its own lines.
    std::map<std::wstring, std::vector<std::wstring>> entries;
    std::wstring current;
    for (size_t i = head.size(); i + 1 < lines.size(); i++) {
        if (lines[i].compare(0, 26, L"Removing package cache for") == 0)
            current = lines[i];
        else
            entries[current].push_back(lines[i]);
    }
    std::wstring bothLine = L"Removing package cache for [ZamoInstallerPerUser.exe] at [" + both + L"]";
    std::wstring folderLine = L"Removing package cache for [ZamoSetupPerUserX64.msi] at [" + folderMarker + L"]";
    ASSERT_EQ(entries.size(), 2u);
    std::vector<std::wstring> bothFiles = entries[bothLine];
    std::sort(bothFiles.begin(), bothFiles.end());
    EXPECT_EQ(bothFiles, (std::vector<std::wstring>{Deleting(both + L"\\ZamoInstallerPerUser.exe"),
                                                    Deleting(both + L"\\ZamoOutlookSetupX64.msi")}));
    EXPECT_EQ(entries[folderLine],
              (std::vector<std::wstring>{Deleting(folderMarker + L"\\ZamoSetupPerUserX64.msi\\data.cab")}));

    EXPECT_FALSE(Exists(user.AppFolder()));
    for (const wchar_t* program : {L"PF", L"PF86", L"PF64"})
        EXPECT_FALSE(Exists(programs / program + L"\\Quorvex"));
    EXPECT_EQ(ListTree(user.Cache()), (std::vector<std::wstring>{L"ZamoInstallerPerUser.exe", L"{Foreign}\\",
                                                                 L"{Foreign}\\Other.msi"}));
    EXPECT_EQ(ListTree(user.Startup()), (std::vector<std::wstring>{L"Other.lnk"}));
    EXPECT_TRUE(Exists(user.LocalAppData()));
    EXPECT_TRUE(user.Marked(SweepSignature));
}

// A preview of two users: each user's items are named, the program folder once (the second
// user's sweep would find it gone), and nothing is removed or marked.
TEST_F(UserProfileSweepTest, PreviewOfTwoUsersNamesEachItemOnceAndChangesNothing)
{
    TestUser first(L"S-1-5-21-9901-1011", L"First User");
    TestUser second(L"S-1-5-21-9901-1012", L"Second User");
    for (const TestUser* user : {&first, &second}) {
        ASSERT_TRUE(TestUser::Plant(user->AppFolder() + L"\\Settings.ini"));
        ASSERT_TRUE(TestUser::Plant(user->Cache() + L"\\{Entry}\\ZamoSetupPerUserX64.msi"));
        ASSERT_TRUE(TestUser::Plant(user->Shortcut()));
    }
    ASSERT_TRUE(TestUser::Plant(programs / L"PF86\\Quorvex\\AddIn.dll"));
    const std::vector<std::wstring> files[] = {ListTree(first.Profile()), ListTree(second.Profile()),
                                               ListTree(programs.Path())};
    PreviewRun preview;

    SweepUserScope(first.Sid());
    SweepUserScope(second.Sid());

    // programFile: the program folder's file, named in the first user's sweep only.
    auto userLines = [](const TestUser& user, const std::wstring& programFile) {
        std::vector<std::wstring> lines = {
            PassiveLine, PassiveLine, L"Attempting to remove application folder [" + user.AppFolder() + L"]",
            L"Would delete file [" + user.AppFolder() + L"\\Settings.ini]"};
        if (!programFile.empty())
            lines.push_back(L"Would delete file [" + programFile + L"]");
        lines.push_back(L"Attempting to remove items from MSI package cache [" + user.Cache() + L"]");
        lines.push_back(L"Removing package cache for [ZamoSetupPerUserX64.msi] at [" + user.Cache() + L"\\{Entry}]");
        lines.push_back(L"Would delete file [" + user.Cache() + L"\\{Entry}\\ZamoSetupPerUserX64.msi]");
        lines.push_back(L"Would delete startup shortcut [" + user.Shortcut() + L"]");
        lines.push_back(L"Would mark [HKU," + std::wstring(user.Sid()) + L"] with signature [Sweep-Test]");
        return lines;
    };
    std::vector<std::wstring> expected = userLines(first, programs / L"PF86\\Quorvex\\AddIn.dll");
    std::vector<std::wstring> secondLines = userLines(second, L"");
    expected.insert(expected.end(), secondLines.begin(), secondLines.end());
    EXPECT_EQ(Logged(), expected);
    EXPECT_EQ(ListTree(first.Profile()), files[0]);
    EXPECT_EQ(ListTree(second.Profile()), files[1]);
    EXPECT_EQ(ListTree(programs.Path()), files[2]);
    EXPECT_FALSE(first.Marked(SweepSignature));
    EXPECT_FALSE(second.Marked(SweepSignature));
}

TEST_F(UserProfileSweepTest, ProgramW6432NamingAFolderAlreadySweptIsNotSweptAgain)
{
    // As in a 64-bit process: the 64-bit reference names the first folder again.
    ScopedVariable same(L"ProgramW6432", (programs / L"pf").c_str());
    TestUser user(L"S-1-5-21-9901-1005");
    ASSERT_TRUE(TestUser::Plant(programs / L"PF\\Quorvex\\AddIn.dll"));
    ASSERT_TRUE(TestUser::Plant(programs / L"PF64\\Quorvex\\AddIn.dll"));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{PassiveLine, PassiveLine,
                                                      Deleting(programs / L"PF\\Quorvex\\AddIn.dll")}));
    EXPECT_TRUE(Exists(programs / L"PF64\\Quorvex\\AddIn.dll"));
}

TEST_F(UserProfileSweepTest, UndefinedProgramFolderNamesNothingUnderTheCurrentFolder)
{
    ScopedVariable undefinedX86(L"ProgramFiles(x86)", nullptr);
    ScopedVariable undefined64(L"ProgramW6432", nullptr);
    TempFolder current;
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(current.Path().c_str()));
    ASSERT_TRUE(TestUser::Plant(current / L"%ProgramFiles(x86)%\\Quorvex\\keep.txt"));
    ASSERT_TRUE(TestUser::Plant(current / L"%ProgramW6432%\\Quorvex\\keep.txt"));
    TestUser user(L"S-1-5-21-9901-1006");
    SweepUserScope(user.Sid());
    SetCurrentDirectoryW(saved);
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{PassiveLine, PassiveLine}));
    EXPECT_TRUE(Exists(current / L"%ProgramFiles(x86)%\\Quorvex\\keep.txt"));
    EXPECT_TRUE(Exists(current / L"%ProgramW6432%\\Quorvex\\keep.txt"));
}

TEST_F(UserProfileSweepTest, ProfileImagePathOfAnotherTypeLeavesTheUsersFoldersAlone)
{
    TestUser user(L"S-1-5-21-9901-1007");
    std::wstring path = user.Profile();
    ASSERT_TRUE(SetBinary(HKEY_LOCAL_MACHINE, ProfileList + user.Sid(), L"ProfileImagePath", path.c_str(),
                          static_cast<DWORD>((path.size() + 1) * 2), REG_MULTI_SZ));
    ASSERT_TRUE(TestUser::Plant(user.AppFolder() + L"\\a.txt"));
    ASSERT_TRUE(TestUser::Plant(user.Cache() + L"\\{E}\\ZamoInstallerPerUser.exe"));
    ASSERT_TRUE(TestUser::Plant(user.Shortcut()));
    ASSERT_TRUE(TestUser::Plant(programs / L"PF86\\Quorvex\\AddIn.dll"));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{PassiveLine, PassiveLine,
                                                      Deleting(programs / L"PF86\\Quorvex\\AddIn.dll")}));
    EXPECT_TRUE(Exists(user.AppFolder() + L"\\a.txt"));
    EXPECT_TRUE(Exists(user.Cache() + L"\\{E}\\ZamoInstallerPerUser.exe"));
    EXPECT_TRUE(Exists(user.Shortcut()));
    EXPECT_TRUE(user.Marked(SweepSignature));
}

TEST_F(UserProfileSweepTest, ReadOnlyStartupShortcutStaysWithoutALine)
{
    TestUser user(L"S-1-5-21-9901-1008");
    ASSERT_TRUE(TestUser::Plant(user.Shortcut()));
    ASSERT_TRUE(SetFileAttributesW(user.Shortcut().c_str(), FILE_ATTRIBUTE_READONLY));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{PassiveLine, PassiveLine}));
    EXPECT_TRUE(Exists(user.Shortcut()));
    EXPECT_TRUE(user.Marked(SweepSignature));
    SetFileAttributesW(user.Shortcut().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(UserProfileSweepTest, ApplicationFolderThatIsAFileIsLoggedAndLeft)
{
    TestUser user(L"S-1-5-21-9901-1009");
    ASSERT_TRUE(TestUser::Plant(user.AppFolder()));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{PassiveLine, PassiveLine,
                                                      L"Attempting to remove application folder [" + user.AppFolder() + L"]"}));
    EXPECT_TRUE(Exists(user.AppFolder()));
}

TEST_F(UserProfileSweepTest, ShellFoldersKeyPathThatDoesNotFitOpensNoOtherKey)
{
    // The profile key path fits; the shell folders key path (70 more characters) does
    // not. A cut path would name the key planted below, whose definition leads to a
    // product folder.
    std::wstring sid = L"S-1-5-21-" + std::wstring(195 - 9, L'7');
    TestUser user(sid);
    PathBuffer expected;
    ASSERT_FALSE(ScopeKeyPath(expected, sid.c_str(), (ShellFolders.substr(1)).c_str()));
    std::wstring cut = (sid + ShellFolders).substr(0, MAX_PATH - 1);
    SetString(HKEY_USERS, cut, L"Local AppData", L"%USERPROFILE%\\AppData\\Local", KEY_WOW64_64KEY, REG_EXPAND_SZ);
    ASSERT_TRUE(TestUser::Plant(user.AppFolder() + L"\\a.txt"));
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{PassiveLine, PassiveLine}));
    EXPECT_TRUE(Exists(user.AppFolder() + L"\\a.txt"));
    EXPECT_TRUE(user.Marked(SweepSignature));
}

// Links planted in a user's folders must never get the sweep to delete anything they
// point to.
TEST_F(UserProfileSweepTest, LinksInTheUsersFoldersAreNeverFollowed)
{
    TestUser user(L"S-1-5-21-9901-1010");
    TempFolder outside;
    if (UnixPath(outside.Path()).empty())
        GTEST_SKIP() << "directory links are planted through Wine's Unix side";
    ASSERT_TRUE(TestUser::Plant(outside / L"ZamoInstallerPerUser.exe"));
    ASSERT_TRUE(TestUser::Plant(outside / L"sub\\precious.txt"));
    ASSERT_TRUE(TestUser::Plant(user.Cache() + L"\\{Real}\\ZamoInstallerPerUser.exe"));
    ASSERT_TRUE(CreateDirectoryW(user.LocalAppData().c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    DirectoryLink appLink(user.AppFolder(), outside.Path());
    DirectoryLink entryLink(user.Cache() + L"\\{Link}", outside.Path());
    if (!appLink.Planted() || !entryLink.Planted())
        GTEST_SKIP() << "Wine did not report the links as reparse points";
    SweepUserScope(user.Sid());
    std::wstring real = user.Cache() + L"\\{Real}";
    EXPECT_EQ(Logged(),
              (std::vector<std::wstring>{PassiveLine, PassiveLine,
                                         L"Attempting to remove application folder [" + user.AppFolder() + L"]",
                                         L"Attempting to remove items from MSI package cache [" + user.Cache() + L"]",
                                         L"Removing package cache for [ZamoInstallerPerUser.exe] at [" + real + L"]",
                                         Deleting(real + L"\\ZamoInstallerPerUser.exe")}));
    EXPECT_EQ(ListTree(outside.Path()),
              (std::vector<std::wstring>{L"ZamoInstallerPerUser.exe", L"sub\\", L"sub\\precious.txt"}));
    EXPECT_TRUE(appLink.Planted());
    EXPECT_TRUE(entryLink.Planted());
}

TEST_F(UserProfileSweepTest, PackageCacheThatIsALinkIsNotListed)
{
    TestUser user(L"S-1-5-21-9901-1011");
    TempFolder outside;
    if (UnixPath(outside.Path()).empty())
        GTEST_SKIP() << "directory links are planted through Wine's Unix side";
    ASSERT_TRUE(TestUser::Plant(outside / L"{E}\\ZamoInstallerPerUser.exe"));
    ASSERT_TRUE(TestUser::Plant(user.LocalAppData() + L"\\placeholder"));
    DirectoryLink cacheLink(user.Cache(), outside.Path());
    if (!cacheLink.Planted())
        GTEST_SKIP() << "Wine did not report the link as a reparse point";
    SweepUserScope(user.Sid());
    EXPECT_EQ(Logged(),
              (std::vector<std::wstring>{PassiveLine, PassiveLine,
                                         L"Attempting to remove items from MSI package cache [" + user.Cache() + L"]"}));
    EXPECT_TRUE(Exists(outside / L"{E}\\ZamoInstallerPerUser.exe"));
}

// How a user's shell folder definition is resolved, seen in the application folder that a
// preview of the user's sweep names: the folder a test expects is made, with an empty
// "Quorvex" folder in it, so that the sweep names it when it resolves the definition there.
class ResolveShellFolderTest : public ::testing::Test {
protected:
    std::wstring Resolve(const std::wstring& definition, bool* resolved, const std::wstring& expected = L"")
    {
        SetString(HKEY_USERS, std::wstring(user.Sid()) + ShellFolders, L"Local AppData", definition, KEY_WOW64_64KEY,
                  REG_EXPAND_SZ);
        std::vector<std::wstring> made;
        const std::wstring folder = expected + L"\\Quorvex";
        for (size_t at = folder.find(L'\\', 3); !expected.empty(); at = folder.find(L'\\', at + 1)) {
            if (CreateDirectoryW(folder.substr(0, at).c_str(), nullptr))
                made.push_back(folder.substr(0, at));
            if (at == std::wstring::npos)
                break;
        }
        const std::wstring prefix = L"Attempting to remove application folder [", suffix = L"\\Quorvex]";
        std::wstring found;
        {
            LogCapture log;
            PreviewRun preview;
            SweepUserScope(user.Sid());
            for (const std::wstring& line : log.Lines()) {
                if (line.size() > prefix.size() + suffix.size() && line.compare(0, prefix.size(), prefix) == 0 &&
                    line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
                    found = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
            }
        }
        for (auto folderMade = made.rbegin(); folderMade != made.rend(); ++folderMade)
            RemoveDirectoryW(folderMade->c_str());
        *resolved = !found.empty();
        return found;
    }
    TestUser user{L"S-1-5-21-9901-2001", L"Mixed Case \u00C4"};
};

TEST_F(ResolveShellFolderTest, DefinitionIsLowerCasedAndTheProfileKeepsItsCase)
{
    bool resolved = false;
    ScopedVariable other(L"ZC_OTHER", L"C:\\Other Place");
    // Letters outside A to Z keep their case.
    const std::wstring lowered = user.Profile() + L"\\appdata\\\u00C4\u00D6\\x";
    std::wstring out = Resolve(L"%UserProfile%\\AppData\\\u00C4\u00D6\\X", &resolved, lowered);
    EXPECT_TRUE(resolved);
    EXPECT_EQ(out, lowered);
    // Other references come from the user's own environment, never from this process's.
    EXPECT_TRUE(Resolve(L"%ZC_OTHER%\\Local", &resolved, L"C:\\Other Place\\local").empty());
    ASSERT_TRUE(SetString(HKEY_USERS, std::wstring(user.Sid()) + L"\\Environment", L"ZC_OTHER", L"C:\\User Place"));
    EXPECT_EQ(Resolve(L"%ZC_OTHER%\\Local", &resolved, L"C:\\User Place\\local"), L"C:\\User Place\\local");
}

TEST_F(ResolveShellFolderTest, ResultThatDoesNotFitOrIsNotAFullPathFails)
{
    bool resolved = true;
    std::wstring many;
    while ((many.size() / 14) * (user.Profile().size() + 1) < MAX_PATH)
        many += L"%USERPROFILE%\\";
    Resolve(many, &resolved);
    EXPECT_FALSE(resolved);
    Resolve(L"AppData\\Local", &resolved);
    EXPECT_FALSE(resolved);
    ScopedVariable undefined(L"ZC_UNDEFINED", nullptr);
    Resolve(L"%ZC_UNDEFINED%\\Local", &resolved);
    EXPECT_FALSE(resolved);
    ScopedVariable empty(L"ZC_EMPTY", L"");
    Resolve(L"%ZC_EMPTY%", &resolved);
    EXPECT_FALSE(resolved);
}

TEST_F(ResolveShellFolderTest, ValuesThatCannotBeReadFail)
{
    bool resolved = true;
    std::wstring key = ProfileList + user.Sid();
    ASSERT_TRUE(SetBinary(HKEY_LOCAL_MACHINE, key, L"ProfileImagePath", L"", 0, REG_SZ));
    Resolve(L"%USERPROFILE%\\AppData\\Local", &resolved);
    EXPECT_FALSE(resolved);
    std::wstring tooLong(300, L'p');
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, key, L"ProfileImagePath", L"C:\\" + tooLong));
    Resolve(L"%USERPROFILE%\\AppData\\Local", &resolved);
    EXPECT_FALSE(resolved);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, key, L"ProfileImagePath", L"%SystemDrive%\\Users\\Plain"));
    const std::wstring plain = Expand(L"%SystemDrive%") + L"\\Users\\Plain\\appdata\\local";
    EXPECT_EQ(Resolve(L"%USERPROFILE%\\AppData\\Local", &resolved, plain), plain);
}

// A user's definitions in that user's terms. The running user's own values, given to this
// process as its environment, name folders planted with the product too: they must stay.
class UserTermsTest : public UserProfileSweepTest {
protected:
    UserTermsTest()
        : localAppData(L"LOCALAPPDATA", (runner / L"Local").c_str()), appData(L"APPDATA", (runner / L"Roaming").c_str()),
          userName(L"USERNAME", L"Runner"), home(L"ZC_HOME", runner.Path().c_str())
    {
    }
    // The product's folder, cache entry and startup shortcut below the running user's values.
    bool PlantRunners() const
    {
        return TestUser::Plant(runner / L"Local\\Quorvex\\a.txt") &&
               TestUser::Plant(runner / L"Local\\Package Cache\\{E}\\ZamoSetupPerUserX64.msi") &&
               TestUser::Plant(runner / L"Runner\\startup\\Zamo.lnk") && TestUser::Plant(runner / L"Roaming\\s\\Zamo.lnk");
    }
    void ExpectRunnersStay() const
    {
        EXPECT_EQ(ListTree(runner.Path()),
                  (std::vector<std::wstring>{L"Local\\", L"Local\\Package Cache\\", L"Local\\Package Cache\\{E}\\",
                                             L"Local\\Package Cache\\{E}\\ZamoSetupPerUserX64.msi", L"Local\\Quorvex\\",
                                             L"Local\\Quorvex\\a.txt", L"Roaming\\", L"Roaming\\s\\", L"Roaming\\s\\Zamo.lnk",
                                             L"Runner\\", L"Runner\\startup\\", L"Runner\\startup\\Zamo.lnk"}));
    }
    static void Define(const TestUser& user, const wchar_t* name, const std::wstring& definition)
    {
        ASSERT_TRUE(SetString(HKEY_USERS, std::wstring(user.Sid()) + ShellFolders, name, definition, KEY_WOW64_64KEY,
                              REG_EXPAND_SZ));
    }

    TempFolder runner;
    ScopedVariable localAppData;
    ScopedVariable appData;
    ScopedVariable userName;
    ScopedVariable home;
    TestRun exitCodeRun{WithExitCode(RunOptionsNow())};
};

TEST_F(UserTermsTest, SecondUsersFoldersAreSweptInThatUsersTerms)
{
    // Logged on: the logon's own value; %USERNAME% is the profile folder's name for an account of
    // another machine, %ZC_HOME% the user's own variable.
    TestUser user(L"S-1-5-21-9903-1001", L"Second User");
    const std::wstring local = user.Profile() + L"\\AppData\\Local";
    ASSERT_TRUE(SetString(HKEY_USERS, std::wstring(user.Sid()) + L"\\Volatile Environment", L"LOCALAPPDATA", local));
    ASSERT_TRUE(SetString(HKEY_USERS, std::wstring(user.Sid()) + L"\\Environment", L"ZC_HOME",
                          user.Profile().substr(0, user.Profile().rfind(L'\\'))));
    Define(user, L"Local AppData", L"%LOCALAPPDATA%");
    Define(user, L"Startup", L"%ZC_HOME%\\%USERNAME%\\Startup");
    // Not logged on: %LOCALAPPDATA% is the user's resolved "Local AppData", or the folder below
    // the profile where there is none.
    TestUser other(L"S-1-5-21-9903-1002", L"Other User");
    Define(other, L"Startup", L"%APPDATA%\\S");
    ASSERT_TRUE(PlantRunners());
    ASSERT_TRUE(TestUser::Plant(local + L"\\Quorvex\\a.txt"));
    ASSERT_TRUE(TestUser::Plant(local + L"\\Package Cache\\{E}\\ZamoSetupPerUserX64.msi"));
    ASSERT_TRUE(TestUser::Plant(user.Profile() + L"\\startup\\Zamo.lnk"));
    ASSERT_TRUE(TestUser::Plant(other.Profile() + L"\\AppData\\Roaming\\s\\Zamo.lnk"));

    SweepUserScope(user.Sid());
    SweepUserScope(other.Sid());

    EXPECT_EQ(Logged(),
              (std::vector<std::wstring>{
                  PassiveLine, PassiveLine, L"Attempting to remove application folder [" + local + L"\\Quorvex]",
                  Deleting(local + L"\\Quorvex\\a.txt"),
                  L"Attempting to remove items from MSI package cache [" + local + L"\\Package Cache]",
                  L"Removing package cache for [ZamoSetupPerUserX64.msi] at [" + local + L"\\Package Cache\\{E}]",
                  Deleting(local + L"\\Package Cache\\{E}\\ZamoSetupPerUserX64.msi"),
                  L"Deleted startup shortcut [" + user.Profile() + L"\\startup\\Zamo.lnk]", PassiveLine, PassiveLine,
                  L"Deleted startup shortcut [" + other.Profile() + L"\\AppData\\Roaming\\s\\Zamo.lnk]"}));
    ExpectRunnersStay();
    EXPECT_FALSE(Exists(local + L"\\Quorvex"));
    EXPECT_EQ(SettleRunOutcome(), 0);
}

TEST_F(UserTermsTest, UnresolvableDefinitionsArePassedOverAndCountAsNotSearched)
{
    TestUser user(L"S-1-5-21-9903-1003", L"Third User");
    // Refers to itself; names a value only this process has; values that refer to each other.
    Define(user, L"Local AppData", L"%LOCALAPPDATA%");
    Define(user, L"Startup", L"%ZC_A%\\Startup");
    Define(user, L"Desktop", L"%ZC_HOME%\\%USERNAME%\\Desktop");
    ASSERT_TRUE(SetString(HKEY_USERS, std::wstring(user.Sid()) + L"\\Environment", L"ZC_A", L"%ZC_B%"));
    ASSERT_TRUE(SetString(HKEY_USERS, std::wstring(user.Sid()) + L"\\Environment", L"ZC_B", L"x%ZC_A%",
                          KEY_WOW64_64KEY, REG_EXPAND_SZ));
    ASSERT_TRUE(PlantRunners());
    ASSERT_TRUE(TestUser::Plant(user.Profile() + L"\\AppData\\Local\\Quorvex\\a.txt"));
    TestRun reportRun(WithReport(RunOptionsNow()));

    SweepUserScope(user.Sid());

    const std::wstring sid = user.Sid();
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{PassiveLine, PassiveLine,
                                                      L"Could not resolve [%LOCALAPPDATA%] for [" + sid + L"]",
                                                      L"Could not resolve [%ZC_A%\\Startup] for [" + sid + L"]",
                                                      L"Could not resolve [%ZC_HOME%\\%USERNAME%\\Desktop] for [" + sid + L"]"}));
    ExpectRunnersStay();
    EXPECT_TRUE(Exists(user.Profile() + L"\\AppData\\Local\\Quorvex\\a.txt"));
    std::vector<std::wstring> reported;
    for (DWORD i = 0; i < TriedItemCount(); i++) {
        TriedItemReport item;
        DescribeTriedItem(i, item);
        if (item.user != nullptr) {
            EXPECT_STREQ(item.kind, L"folder");
            EXPECT_STREQ(item.outcome, L"not searched");
            EXPECT_TRUE(item.countsForExitCode);
            EXPECT_EQ(std::wstring(item.user), sid);
            reported.push_back(item.name);
        }
    }
    EXPECT_EQ(reported, (std::vector<std::wstring>{L"%LOCALAPPDATA%", L"%ZC_A%\\Startup",
                                                   L"%ZC_HOME%\\%USERNAME%\\Desktop"}));
    EXPECT_EQ(SettleRunOutcome(), 1);
}

// The reads a scope keeps are its own: a scope made with reads resolves a definition once and
// logs one that did not resolve once; a scope made without reads, or with reads of its own,
// reads and logs afresh.
TEST_F(UserTermsTest, KeptReadsBelongToTheScopeThatKeepsThem)
{
    TestUser user(L"S-1-5-21-9903-1005", L"Fifth User");
    Define(user, L"Local AppData", L"%LOCALAPPDATA%");
    Define(user, L"Startup", L"%USERPROFILE%\\First");
    std::unique_ptr<ProfileReads> reads(new ProfileReads), otherReads(new ProfileReads);
    reads->count = reads->unresolvedCount = 0;
    otherReads->count = otherReads->unresolvedCount = 0;
    const Scope kept = UserScope(user.Sid(), reads.get());
    const Scope other = UserScope(user.Sid(), otherReads.get());
    const Scope afresh = UserScope(user.Sid());
    PathBuffer folder;

    ASSERT_TRUE(ResolveUserShellFolder(kept, L"Startup", folder));
    EXPECT_EQ(std::wstring(folder), user.Profile() + L"\\first");
    Define(user, L"Startup", L"%USERPROFILE%\\Second");
    ASSERT_TRUE(ResolveUserShellFolder(kept, L"Startup", folder));
    EXPECT_EQ(std::wstring(folder), user.Profile() + L"\\first");
    ASSERT_TRUE(ResolveUserShellFolder(afresh, L"Startup", folder));
    EXPECT_EQ(std::wstring(folder), user.Profile() + L"\\second");
    ASSERT_TRUE(ResolveUserShellFolder(other, L"Startup", folder));
    EXPECT_EQ(std::wstring(folder), user.Profile() + L"\\second");
    // The profile folder is kept too; the machine has none.
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, ProfileList + user.Sid(), L"ProfileImagePath", L"C:\\Moved"));
    ASSERT_TRUE(ReadProfileFolder(kept, folder));
    EXPECT_EQ(std::wstring(folder), user.Profile());
    ASSERT_TRUE(ReadProfileFolder(afresh, folder));
    EXPECT_EQ(std::wstring(folder), L"C:\\Moved");
    EXPECT_FALSE(ReadProfileFolder(MachineScope(), folder));

    for (const Scope* scope : {&kept, &kept, &afresh, &afresh, &other, &other})
        EXPECT_FALSE(ResolveUserShellFolder(*scope, L"Local AppData", folder));
    const std::wstring line = L"Could not resolve [%LOCALAPPDATA%] for [" + std::wstring(user.Sid()) + L"]";
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{line, line, line, line}));
    EXPECT_EQ(SettleRunOutcome(), 1);
}

// A preview cannot search the folder either: it names the line, counts the folder in its exit
// code and reports it not searched, as the real run would.
TEST_F(UserTermsTest, PreviewNamesAFolderItCouldNotSearch)
{
    TestUser user(L"S-1-5-21-9903-1004", L"Fourth User");
    Define(user, L"Local AppData", L"%LOCALAPPDATA%");
    ASSERT_TRUE(PlantRunners());
    TestRun reportRun(WithReport(RunOptionsNow()));
    {
        PreviewRun preview;
        SweepUserScope(user.Sid());
        EXPECT_EQ(SettleRunOutcome(), 1);
        ASSERT_EQ(TriedItemCount(), 1u);
        TriedItemReport item;
        DescribeTriedItem(0, item);
        EXPECT_STREQ(item.outcome, L"not searched");
        EXPECT_STREQ(item.name, L"%LOCALAPPDATA%");
    }
    const std::wstring sid = user.Sid();
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{PassiveLine, PassiveLine,
                                                      L"Could not resolve [%LOCALAPPDATA%] for [" + sid + L"]",
                                                      L"Would mark [HKU," + sid + L"] with signature [Sweep-Test]"}));
    ExpectRunnersStay();
}

// Two quiet runs of the program with one signature over two users: the first sweeps
// both and marks them, the second finds the marks and leaves both alone.
TEST(UserProfileSweepRun, QuietRunSweepsEveryUserAndASecondRunLeavesThemAlone)
{
    TempFolder programs;
    for (const wchar_t* name : {L"PF86", L"PF64"})
        ASSERT_TRUE(TestUser::Plant(programs / name + L"\\Quorvex\\AddIn.dll"));
    // The program inherits these, though Wine derives its %ProgramFiles% from the
    // other two by its bitness, as Windows does: the 64-bit folder in a 64-bit process,
    // the 32-bit one in a 32-bit process, where only %ProgramW6432% names the other.
    ScopedVariable programFiles(L"ProgramFiles", (programs / L"PF64").c_str());
    ScopedVariable programFilesX86(L"ProgramFiles(x86)", (programs / L"PF86").c_str());
    ScopedVariable programW6432(L"ProgramW6432", (programs / L"PF64").c_str());
    TestUser first(L"S-1-5-21-9902-1001", L"First User");
    TestUser second(L"S-1-5-21-9902-1002", L"Second User");
    auto plant = [](const TestUser& user) {
        return TestUser::Plant(user.AppFolder() + L"\\Settings.ini") &&
               TestUser::Plant(user.Cache() + L"\\{Entry}\\ZamoSetupPerUserX64.msi") &&
               TestUser::Plant(user.Shortcut());
    };
    ASSERT_TRUE(plant(first));
    ASSERT_TRUE(plant(second));
    TempFolder logFolder;
    const std::wstring logPath = logFolder / L"runs.log";
    const std::wstring commandLine = L"/Quiet /Signature:Sweep-Run \"/Log:" + logPath + L"\"";

    RunResult run = RunProgram(commandLine);
    ASSERT_TRUE(run.ended);
    std::vector<std::wstring> firstRun = ReadLogLines(logPath);
    for (const TestUser* user : {&first, &second}) {
        for (const std::wstring& line :
             {L"Attempting to remove application folder [" + user->AppFolder() + L"]",
              Deleting(user->AppFolder() + L"\\Settings.ini"),
              L"Removing package cache for [ZamoSetupPerUserX64.msi] at [" + user->Cache() + L"\\{Entry}]",
              L"Deleted startup shortcut [" + user->Shortcut() + L"]"})
            EXPECT_EQ(std::count(firstRun.begin(), firstRun.end(), line), 1) << std::string(line.begin(), line.end());
        EXPECT_FALSE(Exists(user->AppFolder()));
        EXPECT_EQ(ListTree(user->Cache()), std::vector<std::wstring>());
        EXPECT_FALSE(Exists(user->Shortcut()));
        EXPECT_TRUE(user->Marked(L"Sweep-Run"));
    }
    for (const wchar_t* name : {L"PF86", L"PF64"})
        EXPECT_FALSE(Exists(programs / name + L"\\Quorvex")) << std::string(name, name + wcslen(name));

    // The product comes back; a run with the same signature leaves both users alone.
    ASSERT_TRUE(plant(first));
    ASSERT_TRUE(plant(second));
    run = RunProgram(commandLine);
    ASSERT_TRUE(run.ended);
    std::vector<std::wstring> lines = ReadLogLines(logPath);
    std::vector<std::wstring> secondRun(lines.begin() + firstRun.size(), lines.end());
    for (const TestUser* user : {&first, &second}) {
        std::wstring skip = L"Skipping clean-up for [HKU," + std::wstring(user->Sid()) +
                            L"] since signature [Sweep-Run] has been marked for this scope.";
        EXPECT_EQ(std::count(secondRun.begin(), secondRun.end(), skip), 1);
        EXPECT_TRUE(Exists(user->AppFolder() + L"\\Settings.ini"));
        EXPECT_TRUE(Exists(user->Cache() + L"\\{Entry}\\ZamoSetupPerUserX64.msi"));
        EXPECT_TRUE(Exists(user->Shortcut()));
        for (const std::wstring& line : secondRun)
            EXPECT_EQ(line.find(user->Profile()), std::wstring::npos) << std::string(line.begin(), line.end());
    }
    // The runs marked the machine scope and the running user too.
    DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\Quorvex\\Cleaned");
    DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\Quorvex\\Cleaned");
}

// The program itself with "/ExitCode" and "/Report:": the line, exit code 1, and the report's
// item and count for the folder it could not search.
TEST(UserProfileSweepRun, FolderThatCouldNotBeResolvedMakesTheExitCodeAndTheReport)
{
    TestUser user(L"S-1-5-21-9904-1001", L"Run User");
    ASSERT_TRUE(SetString(HKEY_USERS, std::wstring(user.Sid()) + ShellFolders, L"Local AppData", L"%LOCALAPPDATA%",
                          KEY_WOW64_64KEY, REG_EXPAND_SZ));
    TempFolder folder;
    const std::wstring logPath = folder / L"run.log", reportPath = folder / L"run.json";
    RunResult run = RunProgram(L"/Quiet /ExitCode /Signature:Terms-Run \"/Log:" + logPath + L"\" \"/Report:" +
                               reportPath + L"\"");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\Quorvex\\Cleaned");
    DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\Quorvex\\Cleaned");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 1u);
    std::vector<std::wstring> lines = ReadLogLines(logPath);
    const std::wstring line = L"Could not resolve [%LOCALAPPDATA%] for [" + std::wstring(user.Sid()) + L"]";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"Exit code [1]"), 1);
    ReportValues report;
    std::string why;
    ASSERT_TRUE(ReadReport(reportPath, &report, &why)) << why;
    EXPECT_EQ(report["counts/not searched"].number, 1);
    int found = 0;
    for (long long i = 0; i < report["items"].number; i++) {
        const std::string at = "items/" + std::to_string(i) + "/";
        if (report[at + "outcome"].text != L"not searched")
            continue;
        found++;
        EXPECT_EQ(report[at + "kind"].text, L"folder");
        EXPECT_EQ(report[at + "name"].text, L"%LOCALAPPDATA%");
        EXPECT_EQ(report[at + "user"].text, std::wstring(user.Sid()));
        EXPECT_EQ(report[at + "countsForExitCode"].number, 1);
    }
    EXPECT_EQ(found, 1);
}

} // namespace
