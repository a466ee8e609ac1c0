// The clean-up at each user's next logon, run as a deployment runs the program: the copy under
// the prefix's 64-bit program-files folder, the Active Setup entry in both views, users' records
// under test SIDs, and the product's own Active Setup entries. Wine runs no Active Setup at logon.
#include "support/QuietRuns.h"

#include <aclapi.h>

#include <algorithm>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring ListPath = L"Software\\Microsoft\\Active Setup\\Installed Components";
const std::wstring RecordList32 = L"Software\\Wow6432Node\\Microsoft\\Active Setup\\Installed Components";
const std::wstring EntryPath = ListPath + L"\\ZamoClean";

// One value as Windows reads it: its type and its text (a DWORD as its number).
struct ReadValue {
    DWORD type = REG_NONE;
    std::wstring text;
};

ReadValue ReadEntryValue(const wchar_t* name, REGSAM view = KEY_WOW64_64KEY)
{
    ReadValue value;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, EntryPath.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return value;
    BYTE data[4096] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &value.type, data, &size) == ERROR_SUCCESS)
        value.text = value.type == REG_DWORD ? std::to_wstring(*reinterpret_cast<DWORD*>(data))
                                             : std::wstring(reinterpret_cast<wchar_t*>(data));
    RegCloseKey(key);
    return value;
}

// A version's numbers, for comparing as Windows does (a missing number counts as 0).
std::vector<unsigned> VersionParts(const std::wstring& version)
{
    unsigned parts[4] = {};
    swscanf(version.c_str(), L"%u,%u,%u,%u", &parts[0], &parts[1], &parts[2], &parts[3]);
    return {parts[0], parts[1], parts[2], parts[3]};
}

// The time now in the entry's form: YYMM,DDHH,MMSS (UTC).
std::wstring VersionNow()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t text[32];
    wsprintfW(text, L"%02u%02u,%02u%02u,%02u%02u", now.wYear % 100, now.wMonth, now.wDay, now.wHour, now.wMinute,
              now.wSecond);
    return text;
}

class AtNextLogonTest : public QuietRunTest {
protected:
    void SetUp() override
    {
        QuietRunTest::SetUp();
        copyFolder = Expand(L"%ProgramW6432%\\ZamoClean");
        copy = copyFolder + L"\\ZamoClean.exe";
        log = folder / L"run.log";
        Forget();
    }
    void TearDown() override
    {
        Forget();
        QuietRunTest::TearDown();
    }
    // The copy, the entry, and the marks that the runs with a signature write: a run with that
    // signature would skip a marked machine and not register.
    void Forget()
    {
        // The maker's key goes too where the mark was all it held, as before the run wrote it.
        DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\Quorvex\\Cleaned", KEY_WOW64_64KEY);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", KEY_WOW64_64KEY, 0);
        DeleteKeyTree(HKEY_USERS, L"S-1-5-21-0-0-0-1000\\Software\\Quorvex\\Cleaned");
        RegDeleteKeyExW(HKEY_USERS, L"S-1-5-21-0-0-0-1000\\Software\\Quorvex", KEY_WOW64_64KEY, 0);
        RemoveTree(copyFolder);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_64KEY);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_32KEY);
    }
    // The registered command for a run given extra options before its "/Log:".
    std::wstring Command(const std::wstring& extra = L"") const
    {
        return Quoted(copy) + L" /Quiet /CurrentUser" + extra + L" " + Quoted(L"/Log:" + log);
    }
    std::wstring Registered(const std::wstring& command) const
    {
        return L"Registered the clean-up at each user's next logon [" + command + L"]";
    }
    Lines LastRun() const
    {
        Lines lines = ReadLogLines(log);
        auto separator = std::find(lines.rbegin(), lines.rend(), std::wstring(64, L'='));
        return Lines(separator.base(), lines.end());
    }

    std::wstring copyFolder;
    std::wstring copy;
    std::wstring log;
};

TEST_F(AtNextLogonTest, TheEntryHoldsTheCopysCommandAndKeepsItsVersionWhileTheCommandStays)
{
    std::wstring before = VersionNow();
    ASSERT_EQ(Run(L"/AtNextLogon /ExitCode", log), 0u);
    std::wstring after = VersionNow();
    EXPECT_EQ(Tail(LastRun(), 3), (Lines{Registered(Command()), L"Exit code [0]", L"Finishing"}));

    ReadValue name = ReadEntryValue(nullptr), stub = ReadEntryValue(L"StubPath"), version = ReadEntryValue(L"Version"),
              installed = ReadEntryValue(L"IsInstalled");
    EXPECT_EQ(name.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(name.text, L"Zamo Clean");
    EXPECT_EQ(stub.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stub.text, Command());
    EXPECT_EQ(installed.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(installed.text, L"1");
    EXPECT_EQ(version.type, static_cast<DWORD>(REG_SZ));
    EXPECT_TRUE(before <= version.text && version.text <= after) << Narrow(version.text);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_32KEY));
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(ProgramPath()));
    EXPECT_EQ(ListTree(copyFolder), (Lines{L"ZamoClean.exe"}));

    // Unchanged: every user who ran it keeps it run.
    Sleep(1100);
    ASSERT_EQ(Run(L"/AtNextLogon /ExitCode", log), 0u);
    EXPECT_EQ(Tail(LastRun(), 3), (Lines{Registered(Command()), L"Exit code [0]", L"Finishing"}));
    EXPECT_EQ(ReadEntryValue(L"Version").text, version.text);
    ASSERT_EQ(Run(L"/AtNextLogon /Preview", log), 0u);
    EXPECT_EQ(Tail(LastRun(), 2),
              (Lines{L"Would register the clean-up at each user's next logon [" + Command() + L"]", L"Finishing"}));

    // A new command line needs a higher version, or the users who ran the old one never run it.
    ASSERT_EQ(Run(L"/AtNextLogon \"/Signature:Wave \\\"2\\\"\"", log), 0u);
    std::wstring signed_ = Quoted(copy) + L" /Quiet /CurrentUser \"/Signature:Wave \\\"2\\\"\" " + Quoted(L"/Log:" + log);
    EXPECT_EQ(Tail(LastRun(), 2), (Lines{Registered(signed_), L"Finishing"}));
    EXPECT_EQ(ReadEntryValue(L"StubPath").text, signed_);
    EXPECT_GT(VersionParts(ReadEntryValue(L"Version").text), VersionParts(version.text));
}

TEST_F(AtNextLogonTest, AVersionAheadOfTheClockIsRaisedForANewCommand)
{
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, EntryPath, L"StubPath", L"\"C:\\Older\\ZamoClean.exe\" /Quiet"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, EntryPath, L"Version", L"9912,3123,5959"));
    const std::wstring report = folder / L"reports\\logon.json";
    ASSERT_EQ(Run(L"/AtNextLogon " + Quoted(L"/Report:" + report), log), 0u);
    const std::wstring command = Command() + L" " + Quoted(L"/Report:" + report);
    EXPECT_EQ(ReadEntryValue(L"StubPath").text, command);
    EXPECT_EQ(ReadEntryValue(L"Version").text, L"9912,3123,5959,1");
    ReportValues values;
    std::string why;
    ASSERT_TRUE(ReadReport(report, &values, &why)) << why;
    EXPECT_EQ(values["atNextLogon/registered"].type, 'B');
    EXPECT_EQ(values["atNextLogon/registered"].number, 1);
    EXPECT_EQ(values["atNextLogon/command"].text, command);
    EXPECT_EQ(values["atNextLogon/version"].text, L"9912,3123,5959,1");
    EXPECT_EQ(values["atNextLogon/error"].type, 'Z');

    // A run without the option reports nothing of it; a refused one its error.
    ASSERT_EQ(Run(Quoted(L"/Report:" + report), log), 0u);
    values.clear();
    ASSERT_TRUE(ReadReport(report, &values, &why)) << why;
    EXPECT_EQ(values.count("atNextLogon"), 0u);
    ASSERT_TRUE(Plant(copyFolder + L"\\version.dll", "planted"));
    ASSERT_EQ(Run(L"/AtNextLogon " + Quoted(L"/Report:" + report), log), 0u);
    values.clear();
    ASSERT_TRUE(ReadReport(report, &values, &why)) << why;
    EXPECT_EQ(values["atNextLogon/registered"].number, 0);
    EXPECT_EQ(values["atNextLogon/error"].number, 80);
    EXPECT_EQ(values["exitCode"].number, 1);
    EXPECT_EQ(ReadEntryValue(L"StubPath").text, command);
    RemoveTree(copyFolder);
    ASSERT_EQ(Run(L"/AtNextLogon /Signature:Next", log), 0u);
    EXPECT_EQ(ReadEntryValue(L"Version").text, L"9912,3123,5959,2");
}

TEST_F(AtNextLogonTest, APreviewNamesWhatItWouldWriteAndWritesNothing)
{
    ASSERT_EQ(Run(L"/AtNextLogon /Preview /ExitCode", log), 0u);
    EXPECT_EQ(Tail(LastRun(), 5), (Lines{L"Would create folder [" + copyFolder + L"]",
                                         L"Would copy [" + ProgramPath() + L"] to [" + copy + L"]",
                                         L"Would register the clean-up at each user's next logon [" + Command() + L"]",
                                         L"Exit code [0]", L"Finishing"}));
    EXPECT_FALSE(Exists(copyFolder));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_64KEY));
}

TEST_F(AtNextLogonTest, ALinkOrAForeignFileInTheCopysPlaceIsRefusedAndNothingIsRegistered)
{
    struct Case {
        const wchar_t* plant;  // a file planted in the copy's folder
        std::wstring why;
    };
    const Case cases[2] = {{L"version.dll", L"[" + copyFolder + L"\\version.dll] is not this program"},
                           {L"ZamoClean.exe", L"[" + copy + L"] is not this program"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.plant));
        ASSERT_TRUE(Plant(copyFolder + L"\\" + c.plant, "planted"));
        EXPECT_EQ(Run(L"/AtNextLogon /ExitCode", log), 1u);
        EXPECT_EQ(Tail(LastRun(), 4), (Lines{L"Cannot register the clean-up at each user's next logon: " + c.why,
                                             L"Failed to register the clean-up at each user's next logon [" +
                                                 Command() + L"] [80]",
                                             L"Exit code [1]", L"Finishing"}));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_64KEY));
        EXPECT_EQ(ReadFileBytes(copyFolder + L"\\" + c.plant), (std::vector<unsigned char>{'p', 'l', 'a', 'n', 't', 'e', 'd'}));
        RemoveTree(copyFolder);
    }

    TempFolder elsewhere;
    ASSERT_TRUE(Plant(elsewhere / L"ZamoClean.exe", "kept"));
    DirectoryLink link(copyFolder, elsewhere.Path());
    if (!link.Planted())
        GTEST_SKIP() << "this Wine cannot plant a folder link";
    EXPECT_EQ(Run(L"/AtNextLogon /ExitCode", log), 1u);
    EXPECT_EQ(Tail(LastRun(), 4), (Lines{L"Cannot register the clean-up at each user's next logon: [" + copyFolder +
                                             L"] is a link",
                                         L"Failed to register the clean-up at each user's next logon [" + Command() +
                                             L"] [1920]",
                                         L"Exit code [1]", L"Finishing"}));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_64KEY));
    EXPECT_EQ(ListTree(elsewhere.Path()), (Lines{L"ZamoClean.exe"}));
    EXPECT_EQ(ReadFileBytes(elsewhere / L"ZamoClean.exe"), (std::vector<unsigned char>{'k', 'e', 'p', 't'}));
}

// Sets the folder's access list to: Administrators full control, and rights for Users.
bool GrantUsers(const std::wstring& path, DWORD rights)
{
    BYTE sids[2][SECURITY_MAX_SID_SIZE];
    const WELL_KNOWN_SID_TYPE types[2] = {WinBuiltinAdministratorsSid, WinBuiltinUsersSid};
    const DWORD masks[2] = {GENERIC_ALL, rights};
    EXPLICIT_ACCESSW grants[2] = {};
    for (int i = 0; i < 2; i++) {
        DWORD size = sizeof(sids[i]);
        if (!CreateWellKnownSid(types[i], nullptr, sids[i], &size))
            return false;
        grants[i].grfAccessPermissions = masks[i];
        grants[i].grfAccessMode = SET_ACCESS;
        grants[i].grfInheritance = NO_INHERITANCE;
        grants[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        grants[i].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        grants[i].Trustee.ptstrName = reinterpret_cast<wchar_t*>(sids[i]);
    }
    PACL acl = nullptr;
    if (SetEntriesInAclW(2, grants, nullptr, &acl) != ERROR_SUCCESS)
        return false;
    DWORD result = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, acl, nullptr);
    LocalFree(acl);
    return result == ERROR_SUCCESS;
}

// Whether the folder's access list, read back, grants Users any of rights.
bool ListGrantsUsers(const std::wstring& path, DWORD rights)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool grants = false;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            IsWellKnownSid(&ace->SidStart, WinBuiltinUsersSid) && (ace->Mask & rights) != 0)
            grants = true;
    }
    LocalFree(descriptor);
    return grants;
}

TEST_F(AtNextLogonTest, AnExistingFolderThatUsersMayWriteToIsRefused)
{
    ASSERT_TRUE(CreateDirectoryW(copyFolder.c_str(), nullptr));
    if (!GrantUsers(copyFolder, FILE_ADD_FILE | FILE_GENERIC_READ) || !ListGrantsUsers(copyFolder, FILE_ADD_FILE))
        GTEST_SKIP() << "Wine does not keep a folder's access list: it reads back SYSTEM and the user with full "
                        "control and Everyone with read and execute, whatever was set";
    Forget();
    // Reading and executing is what every user needs: such a folder is taken.
    ASSERT_TRUE(CreateDirectoryW(copyFolder.c_str(), nullptr));
    ASSERT_TRUE(GrantUsers(copyFolder, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
    ASSERT_EQ(Run(L"/AtNextLogon /ExitCode", log), 0u);
    EXPECT_EQ(ReadEntryValue(L"StubPath").text, Command());
    Forget();

    for (DWORD rights : {static_cast<DWORD>(FILE_ADD_FILE), static_cast<DWORD>(FILE_ADD_SUBDIRECTORY),
                         static_cast<DWORD>(WRITE_DAC)}) {
        SCOPED_TRACE(rights);
        ASSERT_TRUE(CreateDirectoryW(copyFolder.c_str(), nullptr));
        ASSERT_TRUE(GrantUsers(copyFolder, rights | FILE_GENERIC_READ));
        EXPECT_EQ(Run(L"/AtNextLogon /ExitCode", log), 1u);
        EXPECT_EQ(Tail(LastRun(), 4), (Lines{L"Cannot register the clean-up at each user's next logon: users may write to [" +
                                                 copyFolder + L"]",
                                             L"Failed to register the clean-up at each user's next logon [" +
                                                 Command() + L"] [1336]",
                                             L"Exit code [1]", L"Finishing"}));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_64KEY));
        EXPECT_FALSE(Exists(copy));
        Forget();
    }
}

// Each user's records of an entry, in both locations, under the running user's SID or test SIDs;
// every key they made is removed with the object. (Wine sends a user's 32-bit registry access to
// "Software\Wow6432Node" once that key exists: a "Wow6432Node" left behind would move later tests.)
class UserRecords {
public:
    UserRecords(std::initializer_list<std::wstring> sids, const std::wstring& entry) : sids_(sids), entry_(entry) {}
    UserRecords(const UserRecords&) = delete;
    UserRecords& operator=(const UserRecords&) = delete;
    bool Plant()
    {
        for (const std::wstring& sid : sids_) {
            for (const std::wstring& path : Paths(sid)) {
                if (!keys_.SetString(HKEY_USERS, path, L"Version", L"2601,0101,0000", KEY_WOW64_64KEY))
                    return false;
            }
        }
        return true;
    }
    // Both locations of one user's record, as the log names them below HKU.
    std::vector<std::wstring> Paths(const std::wstring& sid) const
    {
        return {sid + L"\\" + ListPath + L"\\" + entry_, sid + L"\\" + RecordList32 + L"\\" + entry_};
    }
    bool AnyLeft() const
    {
        for (const std::wstring& sid : sids_) {
            for (const std::wstring& path : Paths(sid)) {
                if (KeyExists(HKEY_USERS, path))
                    return true;
            }
        }
        return false;
    }
    // The removal lines of the records, in the order the run meets the users.
    Lines RemovedLines() const
    {
        Lines lines;
        for (const std::wstring& loaded : SubkeyNames(HKEY_USERS, L"")) {
            if (std::find(sids_.begin(), sids_.end(), loaded) == sids_.end())
                continue;
            for (const std::wstring& path : Paths(loaded))
                lines.push_back(L"Successfully removed from HKU\\" + path);
        }
        return lines;
    }

private:
    std::vector<std::wstring> sids_;
    std::wstring entry_;
    ScratchKeys keys_;
};

// Lines that name one of the texts.
Lines Naming(const Lines& lines, const std::wstring& text)
{
    Lines named;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(named),
                 [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
    return named;
}

TEST_F(AtNextLogonTest, WithdrawalLeavesNothingOfTheProgramInBothViewsAndBothRecordLocations)
{
    ASSERT_EQ(Run(L"/AtNextLogon", log), 0u);
    ASSERT_TRUE(Exists(copy));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, EntryPath, L"StubPath", Command(), KEY_WOW64_32KEY));
    UserRecords records({L"S-1-5-21-0-0-0-1000", L"S-1-5-21-9935-1001"}, L"ZamoClean");
    ASSERT_TRUE(records.Plant());
    const Lines entryLines = {L"HKLM\\" + EntryPath, L"HKLM\\" + EntryPath};

    // A preview names each of them and leaves them.
    ASSERT_EQ(Run(L"/WithdrawAtNextLogon /Preview", log), 0u);
    Lines expected;
    for (const std::wstring& line : records.RemovedLines())
        expected.push_back(L"Would remove " + line.substr(wcslen(L"Successfully removed from ")));
    for (const std::wstring& entry : entryLines)
        expected.push_back(L"Would remove " + entry);
    expected.push_back(L"Would delete file [" + copy + L"]");
    Lines run = LastRun();
    Lines named = Naming(run, L"ZamoClean");
    EXPECT_EQ(named, expected);
    EXPECT_TRUE(Exists(copy) && records.AnyLeft() && KeyExists(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_32KEY));

    ASSERT_EQ(Run(L"/WithdrawAtNextLogon /ExitCode", log), 0u);
    expected = records.RemovedLines();
    for (const std::wstring& entry : entryLines)
        expected.push_back(L"Successfully removed from " + entry);
    expected.push_back(L"Deleting file [" + copy + L"]");
    EXPECT_EQ(Naming(LastRun(), L"ZamoClean"), expected);
    EXPECT_EQ(Tail(LastRun(), 2), (Lines{L"Exit code [0]", L"Finishing"}));
    EXPECT_FALSE(records.AnyLeft());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_64KEY));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EntryPath, KEY_WOW64_32KEY));
    EXPECT_FALSE(Exists(copyFolder));
}

TEST_F(AtNextLogonTest, AFolderThatHoldsMoreThanTheCopyStaysWhenWithdrawn)
{
    ASSERT_EQ(Run(L"/AtNextLogon", log), 0u);
    ASSERT_TRUE(Plant(copyFolder + L"\\notes.txt", "an administrator's"));
    ASSERT_EQ(Run(L"/WithdrawAtNextLogon /ExitCode", log), 0u);
    EXPECT_EQ(Naming(LastRun(), L"ZamoClean"), (Lines{L"Successfully removed from HKLM\\" + EntryPath}));
    EXPECT_EQ(ListTree(copyFolder), (Lines{L"ZamoClean.exe", L"notes.txt"}));
}

// The product's own entries, with another program's entry and this program's beside them.
TEST_F(AtNextLogonTest, TheProductsOwnActiveSetupEntriesGoWithTheUsersRecordsOfThem)
{
    const std::wstring product = L"{7E1A5C00-0000-4000-8000-0000000000A5}";
    ScratchKeys machine;
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, ListPath + L"\\" + product, L"StubPath",
                                  L"\"%ProgramFiles%\\Quorvex\\Zamo\\Zamo.exe\" /UserSetup", KEY_WOW64_32KEY,
                                  REG_EXPAND_SZ));
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, ListPath + L"\\ZcOtherMaker", L"StubPath",
                                  L"\"C:\\Program Files\\Other\\setup.exe\" /User", KEY_WOW64_64KEY));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, EntryPath, L"StubPath", Command()));
    UserRecords records({L"S-1-5-21-9935-1002"}, product);
    UserRecords others({L"S-1-5-21-9935-1002"}, L"ZcOtherMaker");
    ASSERT_TRUE(records.Plant() && others.Plant());

    ASSERT_EQ(Run(L"/ExitCode", log), 0u);
    Lines expected = records.RemovedLines();
    expected.push_back(L"Successfully removed from HKLM\\" + ListPath + L"\\" + product);
    Lines run = LastRun();
    EXPECT_EQ(Naming(run, L"Active Setup"), expected);
    EXPECT_FALSE(records.AnyLeft());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ListPath + L"\\" + product, KEY_WOW64_32KEY));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ListPath + L"\\ZcOtherMaker", KEY_WOW64_64KEY));
    EXPECT_EQ(ReadEntryValue(L"StubPath").text, Command());
    for (const std::wstring& path : others.Paths(L"S-1-5-21-9935-1002"))
        EXPECT_TRUE(KeyExists(HKEY_USERS, path)) << Narrow(path);
}

// Wine runs no Active Setup: the registered command is run as the logon would run it, expanded in
// the user's environment where its type asks for that. It cleans its user's own scope and marks it,
// and leaves the machine's keys.
TEST_F(AtNextLogonTest, TheRegisteredCommandRunAsTheLogonWouldCleansItsUserAlone)
{
    const std::wstring own = L"S-1-5-21-0-0-0-1000";
    const std::wstring runKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    ASSERT_EQ(Run(L"/AtNextLogon /Signature:Logon-Test", log), 0u);
    ReadValue stub = ReadEntryValue(L"StubPath");
    ASSERT_TRUE(stub.type == REG_SZ || stub.type == REG_EXPAND_SZ);
    const std::wstring command = stub.type == REG_EXPAND_SZ ? Expand(stub.text) : stub.text;

    // The user was not on the machine during its run: no mark, and the product in the hive.
    DeleteKeyTree(HKEY_USERS, own + L"\\Software\\Quorvex");
    ScratchKeys keys;
    ASSERT_TRUE(keys.SetString(HKEY_USERS, own + L"\\Software\\Quorvex\\Zamo", L"Mode", L"1", KEY_WOW64_64KEY));
    ASSERT_TRUE(keys.SetString(HKEY_USERS, own + L"\\" + runKey, L"ZcLogonAgent", L"C:\\Tools\\Zamo.exe /tray",
                               KEY_WOW64_64KEY));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, L"Software\\Quorvex\\Zamo", L"InstallDir", L"x", KEY_WOW64_32KEY));
    RunResult result = RunCommandLine(command);
    ASSERT_TRUE(result.started && result.ended);
    EXPECT_EQ(result.exitCode, 0u);

    Lines run = LastRun();
    for (const std::wstring& line :
         {L"Cleaning the current user only [" + own + L"]", L"Successfully removed from HKU\\" + own + L"\\Software\\Quorvex",
          L"Removed value [ZcLogonAgent] from HKU\\" + own + L"\\" + runKey})
        EXPECT_EQ(Count(run, line), 1u) << Narrow(line);
    EXPECT_EQ(Count(run, L"Registered the clean-up at each user's next logon [" + Command(L" /Signature:Logon-Test") + L"]"),
              0u);
    EXPECT_FALSE(KeyExists(HKEY_USERS, own + L"\\Software\\Quorvex\\Zamo"));
    std::wstring data, mark;
    EXPECT_FALSE(ReadString(HKEY_USERS, own + L"\\" + runKey, L"ZcLogonAgent", &data));
    EXPECT_TRUE(ReadString(HKEY_USERS, own + L"\\Software\\Quorvex\\Cleaned", nullptr, &mark));
    EXPECT_EQ(mark, L"Logon-Test");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Quorvex\\Zamo", KEY_WOW64_32KEY));
    DeleteKeyTree(HKEY_USERS, own + L"\\Software\\Quorvex");
}

} // namespace
