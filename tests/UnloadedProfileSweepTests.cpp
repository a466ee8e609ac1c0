// Profiles whose hives are not loaded: hive files made with RegSaveKeyW from trees built
// under HKEY_USERS (deleted again before the sweep), profile folders in temporary
// folders and profile list entries in HKLM (64-bit view) that each test removes. Wine
// never writes a loaded hive back to its file, so what happened inside a hive is read
// from the log and the disk, not from the file.
#include "change/RunOutcome.h"
#include "clean/profiles/UnloadedProfileSweep.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring ProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const std::wstring ShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const std::wstring UninstallList = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring StartupDefinition = L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup";
const std::wstring PassiveLine = L"Attempting to uninstall Zamo components passively";
const std::wstring Including = L"Including user profiles that are not loaded";

// Loading, saving and unloading hives needs these in the test process as well.
bool EnableHivePrivileges()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    bool enabled = true;
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        enabled = enabled && LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
                  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                  GetLastError() == ERROR_SUCCESS;
    }
    CloseHandle(token);
    return enabled;
}

// The names under HKEY_USERS, sorted.
Lines LoadedNames()
{
    Lines names = SubkeyNames(HKEY_USERS, L"");
    std::sort(names.begin(), names.end());
    return names;
}

// Creates each folder on the way and the file.
bool Plant(const std::wstring& file)
{
    for (size_t at = file.find(L'\\', 3); at != std::wstring::npos; at = file.find(L'\\', at + 1))
        CreateDirectoryW(file.substr(0, at).c_str(), nullptr);
    return WriteTextFile(file, "x");
}

// Saves HKEY_USERS\<name> to file and deletes the tree; true when the file holds it and
// nothing of that name is left under HKEY_USERS.
bool SaveTree(const std::wstring& name, const std::wstring& file)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_USERS, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LONG saved = RegSaveKeyW(key, file.c_str(), nullptr);
    RegCloseKey(key);
    DeleteKeyTree(HKEY_USERS, name);
    return saved == ERROR_SUCCESS && Exists(file) && !KeyExists(HKEY_USERS, name);
}

// A profile of the profile list whose hives are files: keys are set under HKEY_USERS
// first, then Save() turns them into the profile's NTUSER.DAT and UsrClass.dat. The
// profile list entry, anything left under HKEY_USERS and the folder go with the object.
class HiveProfile {
public:
    explicit HiveProfile(const std::wstring& sid, const std::wstring& folderName = L"Hive User")
        : sid_(sid), profile_(folder_ / folderName)
    {
        CreateDirectoryW(profile_.c_str(), nullptr);
        SetString(HKEY_LOCAL_MACHINE, ProfileList + sid, L"ProfileImagePath", profile_, KEY_WOW64_64KEY, REG_EXPAND_SZ);
        SetUser(ShellFolders, L"Local AppData", L"%USERPROFILE%\\AppData\\Local", REG_EXPAND_SZ);
        SetUser(ShellFolders, L"Startup", StartupDefinition, REG_EXPAND_SZ);
    }
    ~HiveProfile()
    {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, ProfileList + sid_);
        for (const std::wstring& name : {sid_, Classes()}) {
            RegUnLoadKeyW(HKEY_USERS, name.c_str());
            DeleteKeyTree(HKEY_USERS, name);
        }
    }
    HiveProfile(const HiveProfile&) = delete;
    HiveProfile& operator=(const HiveProfile&) = delete;

    bool SetUser(const std::wstring& path, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ)
    {
        return SetString(HKEY_USERS, sid_ + L"\\" + path, name, value, KEY_WOW64_64KEY, type);
    }
    bool SetClass(const std::wstring& path, const wchar_t* name, const std::wstring& value)
    {
        hasClasses_ = true;
        return SetString(HKEY_USERS, Classes() + L"\\" + path, name, value);
    }
    bool Save()
    {
        if (!SaveTree(sid_, UserHive()))
            return false;
        return !hasClasses_ || (Plant(ClassHive()) && SaveTree(Classes(), ClassHive()));
    }

    const std::wstring& Sid() const { return sid_; }
    std::wstring Classes() const { return sid_ + L"_Classes"; }
    const std::wstring& Profile() const { return profile_; }
    std::wstring UserHive() const { return profile_ + L"\\NTUSER.DAT"; }
    std::wstring ClassHive() const { return profile_ + L"\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"; }
    // Paths as the sweep composes them: the definitions' own text lower-cased.
    std::wstring AppFolder() const { return profile_ + L"\\appdata\\local\\Quorvex"; }
    std::wstring Cache() const { return profile_ + L"\\appdata\\local\\Package Cache"; }
    std::wstring Shortcut() const
    {
        return profile_ + L"\\appdata\\roaming\\microsoft\\windows\\start menu\\programs\\startup\\Zamo.lnk";
    }

    std::wstring LoadingLine() const { return L"Loading user profile [" + sid_ + L"] from [" + UserHive() + L"]"; }
    std::wstring UnloadingLine() const { return L"Unloading user profile [" + sid_ + L"]"; }

private:
    TempFolder folder_;
    std::wstring sid_;
    std::wstring profile_;
    bool hasClasses_ = false;
};

std::wstring Attempting(const std::wstring& name, const std::wstring& catalogueName)
{
    return L"Attempting to remove " + name + L" [" + catalogueName + L"]";
}

std::wstring Removed(const std::wstring& path)
{
    return L"Successfully removed from HKU\\" + path;
}

std::wstring Deleting(const std::wstring& path)
{
    return L"Deleting file [" + path + L"]";
}

std::wstring SkipLine(const std::wstring& sid, const std::wstring& signature)
{
    return L"Skipping clean-up for [HKU," + sid + L"] since signature [" + signature +
           L"] has been marked for this scope.";
}

// Every line that names one of the texts.
Lines LinesNaming(const Lines& lines, const Lines& texts)
{
    Lines named;
    for (const std::wstring& line : lines) {
        for (const std::wstring& text : texts) {
            if (line.find(text) != std::wstring::npos) {
                named.push_back(line);
                break;
            }
        }
    }
    return named;
}

// A profile with the product in its registry, class hive and folders.
bool PlantProduct(HiveProfile& profile)
{
    return profile.SetUser(UninstallList + L"\\ZcUserEntry", L"DisplayName", L"Zamo (per-user)") &&
           profile.SetUser(L"Software\\Quorvex\\Settings", L"Level", L"3") &&
           profile.SetClass(L"Installer\\Products\\ZcPacked", L"ProductName", L"Zamo (per-user)") &&
           profile.SetClass(L"Installer\\Products\\ZcForeign", L"ProductName", L"Another Product") &&
           profile.SetClass(L"Installer\\Dependencies\\ZcDependency", L"DisplayName", L"Zamo Web Installer (per-user)") &&
           Plant(profile.AppFolder() + L"\\Settings.ini") &&
           Plant(profile.Cache() + L"\\{Entry}\\ZamoSetupPerUserX64.msi") && Plant(profile.Shortcut());
}

// What the sweep of a profile planted by PlantProduct logs, from loading to unloading.
Lines ProductLines(const HiveProfile& profile)
{
    const std::wstring entry = Attempting(L"ZcUserEntry", L"Zamo (per-user)");
    const std::wstring cacheEntry = profile.Cache() + L"\\{Entry}";
    return {profile.LoadingLine(),
            PassiveLine,
            entry,
            PassiveLine,
            entry,
            entry,
            Removed(profile.Sid() + L"\\" + UninstallList),
            Removed(profile.Sid() + L"\\Software\\Quorvex"),
            L"Attempting to remove application folder [" + profile.AppFolder() + L"]",
            Deleting(profile.AppFolder() + L"\\Settings.ini"),
            L"Attempting to remove items from MSI package cache [" + profile.Cache() + L"]",
            L"Removing package cache for [ZamoSetupPerUserX64.msi] at [" + cacheEntry + L"]",
            Deleting(cacheEntry + L"\\ZamoSetupPerUserX64.msi"),
            L"Deleted startup shortcut [" + profile.Shortcut() + L"]",
            Attempting(L"ZcPacked", L"Zamo (per-user)"),
            Removed(profile.Classes() + L"\\Installer\\Products"),
            Attempting(L"ZcDependency", L"Zamo Web Installer (per-user)"),
            Removed(profile.Classes() + L"\\Installer\\Dependencies"),
            profile.UnloadingLine()};
}

// The step called in this process. Program folders point into a temporary folder, so
// that each user sweep's removal of them touches nothing of the machine's.
class UnloadedProfileSweepTest : public ::testing::Test {
protected:
    UnloadedProfileSweepTest()
        : programFiles(L"ProgramFiles", (programs / L"PF").c_str()),
          programFilesX86(L"ProgramFiles(x86)", (programs / L"PF86").c_str()),
          programW6432(L"ProgramW6432", (programs / L"PF64").c_str())
    {
    }
    void SetUp() override
    {
        ASSERT_TRUE(EnableHivePrivileges());
        before = LoadedNames();
    }
    // Runs the step; nothing may be left loaded that was not loaded before.
    void Sweep()
    {
        log.Clear();
        SweepUnloadedProfiles();
        EXPECT_EQ(LoadedNames(), before);
    }

    TempFolder programs;
    ScopedVariable programFiles;
    ScopedVariable programFilesX86;
    ScopedVariable programW6432;
    LogCapture log;
    Lines before;
};

TEST_F(UnloadedProfileSweepTest, ProfilesAreLoadedSweptWithTheirClassHivesAndUnloaded)
{
    TestRun run(SignedOptions(L"Wave-7"));
    HiveProfile product(L"S-1-5-21-9931-1001", L"Product");
    HiveProfile marked(L"S-1-5-21-9931-1002", L"Marked");
    for (HiveProfile* profile : {&product, &marked})
        ASSERT_TRUE(PlantProduct(*profile));
    ASSERT_TRUE(marked.SetUser(L"Software\\Quorvex\\Cleaned", nullptr, L"WAVE-7"));
    ASSERT_TRUE(product.Save());
    ASSERT_TRUE(marked.Save());
    ASSERT_EQ(LoadedNames(), before);

    Sweep();

    // The user's sweep writes the mark before the class hive is purged: what counts for
    // the class hive is the mark the scope bore before.
    Lines expected = ProductLines(product);
    for (const std::wstring& line : {marked.LoadingLine(), SkipLine(marked.Sid(), L"Wave-7"), marked.UnloadingLine()})
        expected.push_back(line);
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_FALSE(Exists(product.AppFolder()));
    EXPECT_EQ(ListTree(product.Cache()), Lines());
    EXPECT_FALSE(Exists(product.Shortcut()));
    EXPECT_TRUE(Exists(marked.AppFolder() + L"\\Settings.ini"));
    EXPECT_TRUE(Exists(marked.Cache() + L"\\{Entry}\\ZamoSetupPerUserX64.msi"));
    EXPECT_TRUE(Exists(marked.Shortcut()));
}

// A preview loads and unloads the hives like a real run, and changes nothing inside them.
TEST_F(UnloadedProfileSweepTest, PreviewLoadsAndUnloadsTheHivesAndChangesNothingInThem)
{
    HiveProfile product(L"S-1-5-21-9931-1006", L"Previewed");
    ASSERT_TRUE(PlantProduct(product));
    ASSERT_TRUE(product.Save());

    {
        TestRun signedRun(SignedOptions(L"Wave-8"));
        PreviewRun preview;
        Sweep();
    }

    const std::wstring entry = Attempting(L"ZcUserEntry", L"Zamo (per-user)");
    const std::wstring cacheEntry = product.Cache() + L"\\{Entry}";
    const std::wstring user = L"Would remove HKU\\" + product.Sid() + L"\\";
    const std::wstring classes = L"Would remove HKU\\" + product.Classes() + L"\\Installer\\";
    EXPECT_EQ(log.Lines(),
              (Lines{product.LoadingLine(), PassiveLine, entry, PassiveLine, entry, entry,
                     user + UninstallList + L"\\ZcUserEntry", user + L"Software\\Quorvex",
                     L"Attempting to remove application folder [" + product.AppFolder() + L"]",
                     L"Would delete file [" + product.AppFolder() + L"\\Settings.ini]",
                     L"Attempting to remove items from MSI package cache [" + product.Cache() + L"]",
                     L"Removing package cache for [ZamoSetupPerUserX64.msi] at [" + cacheEntry + L"]",
                     L"Would delete file [" + cacheEntry + L"\\ZamoSetupPerUserX64.msi]",
                     L"Would delete startup shortcut [" + product.Shortcut() + L"]",
                     L"Would mark [HKU," + product.Sid() + L"] with signature [Wave-8]",
                     Attempting(L"ZcPacked", L"Zamo (per-user)"), classes + L"Products\\ZcPacked",
                     Attempting(L"ZcDependency", L"Zamo Web Installer (per-user)"),
                     classes + L"Dependencies\\ZcDependency", product.UnloadingLine()}));
    EXPECT_TRUE(Exists(product.AppFolder() + L"\\Settings.ini"));
    EXPECT_TRUE(Exists(cacheEntry + L"\\ZamoSetupPerUserX64.msi"));
    EXPECT_TRUE(Exists(product.Shortcut()));
}

TEST_F(UnloadedProfileSweepTest, HivesThatCannotBeLoadedArePassedOverInProfileListOrder)
{
    HiveProfile noClasses(L"S-1-5-21-9931-1005", L"No Classes");
    HiveProfile lockedClasses(L"S-1-5-21-9931-1004", L"Locked Classes");
    HiveProfile locked(L"S-1-5-21-9931-1003", L"Locked");
    for (HiveProfile* profile : {&locked, &lockedClasses}) {
        ASSERT_TRUE(PlantProduct(*profile));
        ASSERT_TRUE(profile->Save());
    }
    ASSERT_TRUE(noClasses.SetUser(L"Software\\Zamo", L"Channel", L"beta"));
    ASSERT_TRUE(noClasses.Save());
    // A class hive file that is a folder is not loaded.
    ASSERT_TRUE(Plant(noClasses.ClassHive() + L"\\inside.txt"));
    // Open without sharing, the files cannot be loaded (error 32).
    HANDLE userHive = CreateFileW(locked.UserHive().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(userHive, INVALID_HANDLE_VALUE);
    HANDLE classHive = CreateFileW(lockedClasses.ClassHive().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (classHive == INVALID_HANDLE_VALUE) {
        CloseHandle(userHive);
        FAIL() << "the class hive file could not be opened";
    }

    Sweep();
    CloseHandle(userHive);
    CloseHandle(classHive);

    // Without its class hive the user's own sweep goes on; only the class purge is left out.
    Lines expected = {locked.LoadingLine(), L"Failed to load user profile [" + locked.Sid() + L"] [32]"};
    Lines swept = ProductLines(lockedClasses);
    swept.erase(swept.end() - 5, swept.end() - 1);
    swept.insert(swept.begin() + 1, L"Failed to load user profile [" + lockedClasses.Classes() + L"] [32]");
    expected.insert(expected.end(), swept.begin(), swept.end());
    for (const std::wstring& line : {noClasses.LoadingLine(), PassiveLine, PassiveLine,
                                     Removed(noClasses.Sid() + L"\\Software\\Zamo"), noClasses.UnloadingLine()})
        expected.push_back(line);
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_TRUE(Exists(locked.AppFolder() + L"\\Settings.ini"));
    EXPECT_FALSE(Exists(lockedClasses.AppFolder()));
}

// Profile list entries that are not loaded here: each has the product in its hive
// files, and no line may name any of them.
TEST_F(UnloadedProfileSweepTest, EntriesThatAreNoCandidatesAreNeitherLoadedNorNamed)
{
    HiveProfile shortName(L"S-1-5-987", L"Short");
    HiveProfile missing(L"S-1-5-21-9932-1001", L"Missing");
    HiveProfile folder(L"S-1-5-21-9932-1002", L"Folder");
    HiveProfile loaded(L"S-1-5-21-9932-1003", L"Loaded");
    HiveProfile classesLoaded(L"S-1-5-21-9932-1004", L"Classes Loaded");
    HiveProfile relative(L"S-1-5-21-9932-1005", L"Relative");
    HiveProfile multiString(L"S-1-5-21-9932-1006", L"Multi");
    HiveProfile undefined(L"S-1-5-21-9932-1007", L"Undefined");
    HiveProfile tooLong(L"S-1-5-21-9932-1008", L"Long");
    const std::vector<HiveProfile*> all = {&shortName, &missing,     &folder,    &loaded, &classesLoaded,
                                           &relative,  &multiString, &undefined, &tooLong};
    for (HiveProfile* profile : all) {
        ASSERT_TRUE(PlantProduct(*profile));
        ASSERT_TRUE(profile == &tooLong || profile->Save());
    }
    ASSERT_TRUE(DeleteFileW(missing.UserHive().c_str()));
    ASSERT_TRUE(DeleteFileW(folder.UserHive().c_str()));
    ASSERT_TRUE(CreateDirectoryW(folder.UserHive().c_str(), nullptr));
    // Loaded already, by someone else: a key of that name under HKEY_USERS.
    ASSERT_TRUE(SetString(HKEY_USERS, loaded.Sid() + L"\\Software\\Quorvex\\Settings", L"Level", L"3"));
    ASSERT_TRUE(SetString(HKEY_USERS, classesLoaded.Classes() + L"\\Installer", L"Value", L"x"));
    const wchar_t* imagePath = L"ProfileImagePath";
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, ProfileList + relative.Sid(), imagePath, relative.Profile().substr(2),
                          KEY_WOW64_64KEY, REG_EXPAND_SZ));
    std::wstring multi = multiString.Profile() + L'\0';
    ASSERT_TRUE(SetBinary(HKEY_LOCAL_MACHINE, ProfileList + multiString.Sid(), imagePath, multi.c_str(),
                          static_cast<DWORD>((multi.size() + 1) * sizeof(wchar_t)), REG_MULTI_SZ));
    ScopedVariable noSuchVariable(L"ZC_NO_SUCH_PROFILE", nullptr);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, ProfileList + undefined.Sid(), imagePath, L"%ZC_NO_SUCH_PROFILE%\\Undefined",
                          KEY_WOW64_64KEY, REG_EXPAND_SZ));
    // A profile folder of 249 characters: "\NTUSER.DAT" makes 260, one too many. Cut to 259
    // the path would name the valid hive saved here.
    std::wstring longFolder = tooLong.Profile();
    while (longFolder.size() < 249) {
        longFolder += L"\\" + std::wstring(std::min<size_t>(99, 249 - longFolder.size() - 1), L'd');
        ASSERT_TRUE(CreateDirectoryW(longFolder.c_str(), nullptr));
    }
    ASSERT_TRUE(Plant(tooLong.ClassHive()));
    ASSERT_TRUE(SaveTree(tooLong.Classes(), tooLong.ClassHive()));
    ASSERT_TRUE(SaveTree(tooLong.Sid(), longFolder + L"\\NTUSER.DA"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, ProfileList + tooLong.Sid(), imagePath, longFolder, KEY_WOW64_64KEY,
                          REG_EXPAND_SZ));
    before = LoadedNames();

    Sweep();

    EXPECT_EQ(log.Lines(), Lines());
    for (HiveProfile* profile : all)
        EXPECT_TRUE(Exists(profile->AppFolder() + L"\\Settings.ini")) << std::string(profile->Sid().begin(), profile->Sid().end());
    EXPECT_TRUE(KeyExists(HKEY_USERS, loaded.Sid() + L"\\Software\\Quorvex\\Settings"));
}

// The program started with a token from which both privileges were removed, as for a
// user who is no administrator. False when it could not be started or did not end.
bool RunWithoutHivePrivileges(const std::wstring& commandLine)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token))
        return false;
    LUID_AND_ATTRIBUTES removed[2] = {};
    HANDLE restricted = nullptr;
    bool made = LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &removed[0].Luid) &&
                LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &removed[1].Luid) &&
                CreateRestrictedToken(token, 0, 0, nullptr, 2, removed, 0, nullptr, &restricted);
    CloseHandle(token);
    if (!made)
        return false;
    bool ended = RunProgramWithToken(restricted, commandLine).ended;
    CloseHandle(restricted);
    return ended;
}

TEST(UnloadedProfileSweepRun, WithoutThePrivilegesOneLineIsLoggedAndNoProfileTried)
{
    ASSERT_TRUE(EnableHivePrivileges());
    HiveProfile profile(L"S-1-5-21-9935-1001");
    ASSERT_TRUE(PlantProduct(profile));
    ASSERT_TRUE(profile.Save());
    TempFolder logFolder;
    const std::wstring logPath = logFolder / L"run.log";
    Lines before = LoadedNames();

    ASSERT_TRUE(RunWithoutHivePrivileges(L"/Quiet /AllProfiles \"/Log:" + logPath + L"\""));

    Lines lines = ReadLogLines(logPath);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"Cannot load user profiles: [1300]"), 1);
    EXPECT_EQ(LinesNaming(lines, {profile.Sid(), profile.Profile()}), Lines());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Finishing");
    EXPECT_EQ(LoadedNames(), before);
    EXPECT_TRUE(Exists(profile.AppFolder() + L"\\Settings.ini"));
}

bool StartsWith(const std::wstring& line, const std::wstring& start)
{
    return line.compare(0, start.size(), start) == 0;
}

// Splits a run's lines into those that the option adds (its header line, and each
// profile's lines from loading to unloading or to the failed load) and the others.
void SplitProfileLines(const Lines& lines, Lines* added, Lines* others)
{
    bool inside = false;
    for (const std::wstring& line : lines) {
        bool opens = StartsWith(line, L"Loading user profile [");
        bool closes = StartsWith(line, L"Unloading user profile [") ||
                      (StartsWith(line, L"Failed to load user profile [") && line.find(L"_Classes]") == std::wstring::npos);
        bool own = inside || opens || line == Including || StartsWith(line, L"Failed to unload user profile [");
        (own ? added : others)->push_back(line);
        if (opens)
            inside = true;
        if (closes)
            inside = false;
    }
}

// Quiet runs of the real program over profiles of every kind: with the product, marked,
// loaded already, without a hive file, with a link for one. The first two runs go
// without the option, the last with it.
TEST(UnloadedProfileSweepRun, QuietRunLoadsSweepsAndUnloadsEachProfileNotLoaded)
{
    ASSERT_TRUE(EnableHivePrivileges());
    HiveProfile product(L"S-1-5-21-9936-1001", L"Product User");
    HiveProfile marked(L"S-1-5-21-9936-1002", L"Marked User");
    HiveProfile loaded(L"S-1-5-21-9936-1003", L"Loaded User");
    HiveProfile missing(L"S-1-5-21-9936-1004", L"Missing User");
    HiveProfile linked(L"S-1-5-21-9936-1005", L"Linked User");
    ASSERT_TRUE(PlantProduct(product));
    ASSERT_TRUE(product.Save());
    ASSERT_TRUE(PlantProduct(marked));
    ASSERT_TRUE(marked.SetUser(L"Software\\Quorvex\\Cleaned", nullptr, L"Profiles-Run"));
    ASSERT_TRUE(marked.Save());
    ASSERT_TRUE(PlantProduct(missing));
    ASSERT_TRUE(missing.Save());
    ASSERT_TRUE(DeleteFileW(missing.UserHive().c_str()));
    ASSERT_TRUE(PlantProduct(linked));
    ASSERT_TRUE(linked.Save());
    TempFolder outside;
    bool haveLink = MoveFileW(linked.UserHive().c_str(), (outside / L"NTUSER.DAT").c_str());
    DirectoryLink link(linked.UserHive(), outside.Path());
    haveLink = haveLink && link.Planted();
    // The loaded profile has a hive file too, and its keys stay under HKEY_USERS.
    auto plantLoaded = [&loaded]() {
        DeleteKeyTree(HKEY_USERS, loaded.Sid() + L"\\Software\\Quorvex\\Cleaned");
        return PlantProduct(loaded) && Plant(loaded.UserHive());
    };
    ASSERT_TRUE(plantLoaded());

    TempFolder logFolder;
    const std::wstring logPath = logFolder / L"runs.log";
    const std::wstring options = L"/Quiet /Signature:Profiles-Run \"/Log:" + logPath + L"\"";
    // The first run marks the machine and the running user, so the two runs compared
    // below find them alike.
    ASSERT_TRUE(RunProgram(options).ended);
    size_t start = ReadLogLines(logPath).size();
    ASSERT_TRUE(plantLoaded());
    Lines before = LoadedNames();
    ASSERT_TRUE(RunProgram(options).ended);
    Lines lines = ReadLogLines(logPath);
    Lines without(lines.begin() + start, lines.end());
    start = lines.size();
    ASSERT_TRUE(plantLoaded());
    ASSERT_TRUE(RunProgram(options + L" /AllProfiles").ended);
    lines = ReadLogLines(logPath);
    Lines with(lines.begin() + start, lines.end());
    EXPECT_EQ(LoadedNames(), before);

    // Without the option no profile is loaded.
    const Lines profileTexts = {L"user profile", product.Sid(), marked.Sid(), product.Profile(), marked.Profile()};
    EXPECT_EQ(LinesNaming(without, profileTexts), Lines());
    EXPECT_EQ(std::count(without.begin(), without.end(), Including), 0);

    // With it: the header line after the others, each profile not loaded in its turn,
    // in profile list order (the one loaded already is not loaded again), and everything
    // else as without it.
    ASSERT_GE(with.size(), 5u);
    EXPECT_EQ(Lines(with.begin() + 1, with.begin() + 5),
              (Lines{L"Running quietly (no UI)", L"Using signature [Profiles-Run]",
                     L"Using log file location [" + logPath + L"]", Including}));
    Lines expected = {Including};
    for (const std::wstring& line : ProductLines(product))
        expected.push_back(line);
    for (const std::wstring& line :
         {marked.LoadingLine(), SkipLine(marked.Sid(), L"Profiles-Run"), marked.UnloadingLine()})
        expected.push_back(line);
    Lines added;
    Lines others;
    SplitProfileLines(with, &added, &others);
    EXPECT_EQ(added, expected);
    EXPECT_EQ(others, without);
    EXPECT_EQ(LinesNaming(with, {missing.Sid(), missing.Profile(), linked.Sid(), linked.Profile()}), Lines());

    EXPECT_FALSE(Exists(product.AppFolder()));
    EXPECT_EQ(ListTree(product.Cache()), Lines());
    EXPECT_FALSE(Exists(product.Shortcut()));
    EXPECT_TRUE(Exists(marked.AppFolder() + L"\\Settings.ini"));
    EXPECT_TRUE(Exists(marked.Shortcut()));
    EXPECT_TRUE(Exists(missing.AppFolder() + L"\\Settings.ini"));
    if (haveLink) {
        EXPECT_TRUE(Exists(linked.AppFolder() + L"\\Settings.ini"));
        EXPECT_TRUE(Exists(outside / L"NTUSER.DAT"));
    }
    DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\Quorvex\\Cleaned");
    DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\Quorvex\\Cleaned");
    if (!haveLink)
        GTEST_SKIP() << "the linked hive file could not be planted; the rest was checked";
}

// A loaded profile has no logon values: its definitions take its own Environment, its profile
// folder's name and its own folders, never this process's values, and one that refers to itself
// is passed over and counts as a folder not searched.
TEST_F(UnloadedProfileSweepTest, DefinitionsAreExpandedInTheProfilesOwnTerms)
{
    TempFolder runner;
    ScopedVariable localAppData(L"LOCALAPPDATA", runner.Path().c_str());
    ScopedVariable home(L"ZC_HOME", runner.Path().c_str());
    ScopedVariable userName(L"USERNAME", L"Runner");
    HiveProfile profile(L"S-1-5-21-9932-1001", L"Loaded User");
    const std::wstring parent = profile.Profile().substr(0, profile.Profile().rfind(L'\\'));
    ASSERT_TRUE(profile.SetUser(ShellFolders, L"Local AppData", L"%LOCALAPPDATA%", REG_EXPAND_SZ));
    ASSERT_TRUE(profile.SetUser(ShellFolders, L"Startup", L"%ZC_HOME%\\%USERNAME%\\S", REG_EXPAND_SZ));
    ASSERT_TRUE(profile.SetUser(L"Environment", L"ZC_HOME", parent));
    ASSERT_TRUE(profile.Save());
    for (const std::wstring& file : {runner / L"Quorvex\\a.txt", runner / L"Runner\\s\\Zamo.lnk",
                                     profile.Profile() + L"\\AppData\\Local\\Quorvex\\a.txt",
                                     profile.Profile() + L"\\s\\Zamo.lnk"})
        ASSERT_TRUE(Plant(file));
    TestRun run(ExitCodeOptions());

    Sweep();

    EXPECT_EQ(log.Lines(), (Lines{profile.LoadingLine(), PassiveLine, PassiveLine,
                                  L"Could not resolve [%LOCALAPPDATA%] for [" + profile.Sid() + L"]",
                                  L"Deleted startup shortcut [" + profile.Profile() + L"\\s\\Zamo.lnk]",
                                  profile.UnloadingLine()}));
    EXPECT_EQ(SettleRunOutcome(), 1);
    EXPECT_EQ(ListTree(runner.Path()),
              (Lines{L"Quorvex\\", L"Quorvex\\a.txt", L"Runner\\", L"Runner\\s\\", L"Runner\\s\\Zamo.lnk"}));
    EXPECT_TRUE(Exists(profile.Profile() + L"\\AppData\\Local\\Quorvex\\a.txt"));
    EXPECT_FALSE(Exists(profile.Profile() + L"\\s\\Zamo.lnk"));
}

// The profile list's "Default" set to a folder of the test's for one test, and put back.
class DefaultProfileFolder {
public:
    explicit DefaultProfileFolder(const std::wstring& folder)
    {
        had_ = ReadString(HKEY_LOCAL_MACHINE, ListKey(), L"Default", &saved_, KEY_WOW64_64KEY, &type_);
        set_ = SetString(HKEY_LOCAL_MACHINE, ListKey(), L"Default", folder, KEY_WOW64_64KEY, REG_EXPAND_SZ);
    }
    ~DefaultProfileFolder()
    {
        HKEY key;
        if (had_)
            SetString(HKEY_LOCAL_MACHINE, ListKey(), L"Default", saved_, KEY_WOW64_64KEY, type_);
        else if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ListKey().c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) ==
                 ERROR_SUCCESS) {
            RegDeleteValueW(key, L"Default");
            RegCloseKey(key);
        }
    }
    DefaultProfileFolder(const DefaultProfileFolder&) = delete;
    DefaultProfileFolder& operator=(const DefaultProfileFolder&) = delete;
    bool Set() const { return set_; }

private:
    static std::wstring ListKey() { return ProfileList.substr(0, ProfileList.size() - 1); }
    bool had_ = false;
    bool set_ = false;
    std::wstring saved_;
    DWORD type_ = REG_EXPAND_SZ;
};

// Every profile made later starts as a copy of the Default profile's hive: its product keys and
// Run entries go, and it never bears the signature, which the new users would copy too.
TEST_F(UnloadedProfileSweepTest, TheDefaultProfilesHiveIsCleanedAndNeverMarked)
{
    TestRun signedRun(SignedOptions(L"Wave-9"));
    TempFolder profiles;
    const std::wstring folder = profiles / L"Default";
    const std::wstring tree = L"S-1-5-21-9931-1099";
    const std::wstring run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(SetString(HKEY_USERS, tree + L"\\Software\\Quorvex\\Settings", L"Level", L"3"));
    ASSERT_TRUE(SetString(HKEY_USERS, tree + L"\\" + run, L"Zamo", L"\"C:\\Elsewhere\\Zamo.exe\" /background"));
    ASSERT_TRUE(SetString(HKEY_USERS, tree + L"\\" + run, L"Other", L"\"C:\\Other\\other.exe\""));
    ASSERT_TRUE(SaveTree(tree, folder + L"\\NTUSER.DAT"));
    DefaultProfileFolder listed(folder);
    ASSERT_TRUE(listed.Set());

    const std::wstring name = L"ZamoClean.DefaultProfile";
    const Lines loading = {L"Loading user profile [" + name + L"] from [" + folder + L"\\NTUSER.DAT]", PassiveLine,
                           PassiveLine};
    {
        PreviewRun preview;
        Sweep();
    }
    Lines expected = loading;
    expected.insert(expected.end(), {L"Would remove HKU\\" + name + L"\\Software\\Quorvex",
                                     L"Would remove value [Zamo] from HKU\\" + name + L"\\" + run,
                                     L"Unloading user profile [" + name + L"]"});
    EXPECT_EQ(log.Lines(), expected);

    Sweep();
    expected = loading;
    expected.insert(expected.end(), {Removed(name + L"\\Software\\Quorvex"),
                                     L"Removed value [Zamo] from HKU\\" + name + L"\\" + run,
                                     L"Unloading user profile [" + name + L"]"});
    EXPECT_EQ(log.Lines(), expected);
}

} // namespace
