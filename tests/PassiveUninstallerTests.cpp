// Passive uninstaller: the catalogue match of an entry's values, the uninstall list of a
// scope in each view, and MsiExec run for real against packages built with wixl.
#include "change/RunOutcome.h"
#include "clean/Catalogue.h"
#include "clean/installer/PassiveUninstaller.h"
#include "clean/RunReport.h"
#include "clean/installer/ScopeMarker.h"
#include "common/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

const wchar_t TestSid[] = L"S-1-5-21-7340-7341-7342-1101";
const std::wstring UninstallList = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring UserList = std::wstring(TestSid) + L"\\" + UninstallList;
const std::wstring FirstLine = L"Attempting to uninstall Zamo components passively";
const std::wstring Waiting = L"Waiting for process [#] to complete";

const wchar_t X64Code[] = L"{7E1A5C00-0000-4000-8000-000000000064}";
const wchar_t X86CodeA[] = L"{7E1A5C00-0000-4000-8000-0000000000A1}";
const wchar_t X86CodeB[] = L"{7E1A5C00-0000-4000-8000-0000000000A2}";

std::wstring Executing(const std::wstring& productCode)
{
    return L"Executing [\"" + Expand(L"%SystemRoot%") + L"\\System32\\MsiExec.exe\" /x \"" + productCode +
           L"\" /quiet]";
}

std::wstring Attempting(const std::wstring& name, const std::wstring& catalogueName)
{
    return L"Attempting to remove " + name + L" [" + catalogueName + L"]";
}

typedef std::vector<std::wstring> Lines;

// The passive uninstaller in both views, as a scope's registry sweep runs it.
void UninstallScopeProducts(HKEY root, const wchar_t* sid)
{
    for (REGSAM view : RegViews)
        UninstallProductsPassively(root, sid, view);
}

// A test SID under HKEY_USERS, and the machine-wide keys a test makes, removed again
// after each test: the machine scope is shared by every test of the suite.
class PassiveUninstallerTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(HKEY_USERS, TestSid); }
    void TearDown() override { DeleteKeyTree(HKEY_USERS, TestSid); }
    bool MachineEntry(const std::wstring& name, const wchar_t* valueName, const std::wstring& value, REGSAM view)
    {
        return machineKeys_.SetString(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + name, valueName, value, view);
    }
    bool UserEntry(const std::wstring& name, const wchar_t* valueName, const std::wstring& value,
                   DWORD type = REG_SZ)
    {
        return SetString(HKEY_USERS, UserList + L"\\" + name, valueName, value, KEY_WOW64_64KEY, type);
    }
    LogCapture log;

private:
    ScratchKeys machineKeys_;
};

// The values of one entry of a test user's uninstall list, matched by the passive
// uninstaller's pass over the list (64-bit view), which logs each match and runs nothing
// for a name that is not a product code.
class MatchCatalogueNameTest : public PassiveUninstallerTest {
protected:
    bool Match()
    {
        log.Clear();
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);
        Lines lines = log.Lines();
        if (lines.empty() || lines[0] != FirstLine) {
            ADD_FAILURE() << "no pass over the list";
            return false;
        }
        lines.erase(lines.begin());
        log.Clear();
        for (const std::wstring& line : lines)
            matches_.push_back(line);
        return !lines.empty();
    }
    bool SetRaw(const void* data, DWORD size, DWORD type, const wchar_t* valueName = L"DisplayName")
    {
        return SetBinary(HKEY_USERS, UserList + L"\\ZcEntry", valueName, data, size, type);
    }
    // The lines of the matches, pass after pass.
    Lines matches_;
};

struct ValueCase {
    const wchar_t* text;
    DWORD type;
    const wchar_t* catalogueName;  // null: no match
};

TEST_F(MatchCatalogueNameTest, WholeStringsIgnoringCaseOfRegSzOnly)
{
    const ValueCase cases[] = {
        {L"Zamo (per-user)", REG_SZ, L"Zamo (per-user)"},
        {L"ZAMO (PER-USER)", REG_SZ, L"Zamo (per-user)"},
        {L"zamo web installer", REG_SZ, L"Zamo Web Installer"},
        {L"zAmO wEb InStAlLeR (PER-machine)", REG_SZ, L"Zamo Web Installer (per-machine)"},
        {L"Zamo Outlook Add-In (per-user)", REG_SZ, L"Zamo Outlook Add-In (per-user)"},
        {L"Zamo (per-user) 2.1", REG_SZ, nullptr},
        {L"Zamo (per-user) ", REG_SZ, nullptr},
        {L" Zamo Deployment", REG_SZ, nullptr},
        {L"Zamo", REG_SZ, nullptr},
        {L"Zamo Deployment", REG_EXPAND_SZ, nullptr},
        {L"Zamo Deployment", REG_MULTI_SZ, nullptr},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "value \"" << c.text << "\" of type " << c.type);
        matches_.clear();
        ASSERT_TRUE(UserEntry(L"ZcEntry", L"DisplayName", c.text, c.type));
        EXPECT_EQ(Match(), c.catalogueName != nullptr);
        EXPECT_EQ(matches_, c.catalogueName ? Lines{Attempting(L"ZcEntry", c.catalogueName)} : Lines{});
    }
}

TEST_F(MatchCatalogueNameTest, TextEndsAtFirstNulOrAtTheEndOfTheData)
{
    const wchar_t unterminated[] = {L'Z', L'a', L'm', L'o', L' ', L'D', L'e', L'p', L'l', L'o', L'y', L'm', L'e', L'n', L't'};
    ASSERT_TRUE(SetRaw(unterminated, sizeof(unterminated), REG_SZ));
    EXPECT_TRUE(Match());
    const wchar_t embedded[] = L"Zamo Deployment\0trailing text";
    ASSERT_TRUE(SetRaw(embedded, sizeof(embedded), REG_SZ));
    EXPECT_TRUE(Match());
    EXPECT_EQ(matches_, (Lines{Attempting(L"ZcEntry", L"Zamo Deployment"), Attempting(L"ZcEntry", L"Zamo Deployment")}));
}

TEST_F(MatchCatalogueNameTest, EmptyMissingOrTooLongValueIsNoMatch)
{
    ASSERT_TRUE(SetRaw(L"", 0, REG_SZ));
    EXPECT_FALSE(Match());
    // Text padded with NULs past 520 bytes: the read itself does not fit.
    std::wstring padded = L"Zamo Deployment" + std::wstring(300, L'\0');
    ASSERT_TRUE(SetRaw(padded.data(), static_cast<DWORD>(padded.size() * sizeof(wchar_t)), REG_SZ));
    EXPECT_FALSE(Match());
    ASSERT_TRUE(SetRaw(padded.data(), static_cast<DWORD>(padded.size() * sizeof(wchar_t)), REG_SZ, L"ProductName"));
    EXPECT_FALSE(Match());
    EXPECT_EQ(matches_, Lines{});
}

TEST_F(MatchCatalogueNameTest, MissingSubkeyIsNoMatch)
{
    ASSERT_TRUE(CreateKey(HKEY_USERS, UserList));
    EXPECT_FALSE(Match());
    EXPECT_EQ(matches_, Lines{});
}

TEST_F(PassiveUninstallerTest, MatchesEitherValueNameAndRunsNothingForNamesThatAreNotProductCodes)
{
    ASSERT_TRUE(UserEntry(L"ZcA-display", L"DisplayName", L"zamo (PER-USER)"));
    ASSERT_TRUE(UserEntry(L"ZcA-display", L"ProductName", L"Zamo Deployment"));
    ASSERT_TRUE(UserEntry(L"ZcB-product", L"ProductName", L"Zamo Deployment"));
    ASSERT_TRUE(UserEntry(L"ZcC-other-display", L"DisplayName", L"Another Product"));
    ASSERT_TRUE(UserEntry(L"ZcC-other-display", L"ProductName", L"Zamo Web Installer"));
    ASSERT_TRUE(UserEntry(L"ZcD-suffix", L"DisplayName", L"Zamo (per-user) 1.0"));
    ASSERT_TRUE(UserEntry(L"ZcE-expandable", L"DisplayName", L"Zamo (per-user)", REG_EXPAND_SZ));
    ASSERT_TRUE(UserEntry(L"ZcF-expandable-product", L"ProductName", L"Zamo (per-user)", REG_EXPAND_SZ));

    UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);

    // A matching DisplayName is the match: the ProductName of the first entry is not read.
    EXPECT_EQ(log.Lines(), (Lines{FirstLine, Attempting(L"ZcA-display", L"Zamo (per-user)"),
                                  Attempting(L"ZcB-product", L"Zamo Deployment"),
                                  Attempting(L"ZcC-other-display", L"Zamo Web Installer")}));
    for (const wchar_t* name : {L"ZcA-display", L"ZcB-product", L"ZcC-other-display", L"ZcD-suffix",
                                L"ZcE-expandable", L"ZcF-expandable-product"})
        EXPECT_TRUE(KeyExists(HKEY_USERS, UserList + L"\\" + name)) << "deleted: " << name;
}

TEST_F(PassiveUninstallerTest, ScopeWithoutUninstallListLogsOneLinePerView)
{
    ASSERT_TRUE(CreateKey(HKEY_USERS, std::wstring(TestSid) + L"\\Software"));
    UninstallScopeProducts(HKEY_USERS, TestSid);
    EXPECT_EQ(log.Lines(), (Lines{FirstLine, FirstLine}));
}

TEST_F(PassiveUninstallerTest, MachineScopeListsEachViewApartAndEmptySidMeansNone)
{
    ASSERT_TRUE(MachineEntry(L"ZcPassiveOnly64", L"DisplayName", L"Zamo (per-machine)", KEY_WOW64_64KEY));
    ASSERT_TRUE(MachineEntry(L"ZcPassiveOnly32", L"ProductName", L"Zamo Outlook Add-In (per-machine)",
                             KEY_WOW64_32KEY));
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\ZcPassiveOnly64", KEY_WOW64_32KEY));

    UninstallProductsPassively(HKEY_LOCAL_MACHINE, L"", KEY_WOW64_64KEY);
    UninstallProductsPassively(HKEY_LOCAL_MACHINE, nullptr, KEY_WOW64_32KEY);

    EXPECT_EQ(log.Lines(), (Lines{FirstLine, Attempting(L"ZcPassiveOnly64", L"Zamo (per-machine)"), FirstLine,
                                  Attempting(L"ZcPassiveOnly32", L"Zamo Outlook Add-In (per-machine)")}));
}

TEST_F(PassiveUninstallerTest, ProductCodeNotInstalledStillRunsToCompletionInEachView)
{
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000F0}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo Web Installer"));

    UninstallScopeProducts(HKEY_USERS, TestSid);

    // The entry is still listed when the 32-bit view, which is the same key under
    // HKEY_USERS, is swept: its uninstaller runs a second time.
    const Lines once = {FirstLine, Attempting(code, L"Zamo Web Installer"), Executing(code), Waiting,
                        L"Process completed"};
    Lines twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(MaskProcessIds(log.Lines()), twice);
    EXPECT_TRUE(KeyExists(HKEY_USERS, UserList + L"\\" + code));
}

// MsiExec stood in for by FakeUninstaller.exe under a %SystemRoot% of the test's own, whose
// path is exactly rootLength characters long; the stand-in appends each command line it is
// started with to a record file.
class StandInTest : public PassiveUninstallerTest {
protected:
    void SetUp() override
    {
        PassiveUninstallerTest::SetUp();
        ForgetUnfinishedUninstallers();
    }
    void TearDown() override
    {
        EndStandIns();
        ForgetUnfinishedUninstallers();
        ClearTriedItems();
        ReportExitCode = false;
        Signature[0] = L'\0';
        PassiveUninstallerTest::TearDown();
    }
    // Makes the root and puts it in %SystemRoot%; false when it could not be made.
    bool MakeRoot(size_t rootLength = 0)
    {
        root_ = folder_.Path();
        if (rootLength > 0) {
            if (rootLength < root_.size() + 2)
                return false;
            root_ += L"\\" + std::wstring(rootLength - root_.size() - 1, L'r');
            if (!CreateDirectoryW(root_.c_str(), nullptr))
                return false;
        }
        msiExec_ = root_ + L"\\System32\\MsiExec.exe";
        systemRoot_ = std::make_unique<ScopedVariable>(L"SystemRoot", root_.c_str());
        return CreateDirectoryW((root_ + L"\\System32").c_str(), nullptr) &&
               CopyFileW((BinaryFolder() + L"\\FakeUninstaller.exe").c_str(), msiExec_.c_str(), TRUE);
    }
    std::wstring Executing(const std::wstring& code) const
    {
        return L"Executing [" + CommandLine(code) + L"]";
    }
    std::wstring CommandLine(const std::wstring& code) const
    {
        return L"\"" + msiExec_ + L"\" /x \"" + code + L"\" /quiet";
    }
    // The command lines the stand-in was started with, in order.
    Lines Started() const
    {
        std::vector<unsigned char> bytes = ReadFileBytes(record_);
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        Lines lines;
        for (size_t at = 0, end; (end = text.find(L'\n', at)) != std::wstring::npos; at = end + 1)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }
    // Ends stand-ins still running (one that outlived its wait), so their folder can go.
    void EndStandIns()
    {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE)
            return;
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                         entry.th32ProcessID);
            if (process == nullptr)
                continue;
            wchar_t image[MAX_PATH];
            DWORD count = MAX_PATH;
            if (!msiExec_.empty() && QueryFullProcessImageNameW(process, 0, image, &count) &&
                _wcsicmp(image, msiExec_.c_str()) == 0) {
                TerminateProcess(process, 99);
                WaitForSingleObject(process, 10000);
            }
            CloseHandle(process);
        }
        CloseHandle(snapshot);
    }

    TempFolder folder_;
    std::wstring root_;
    std::wstring msiExec_;
    std::wstring record_ = folder_ / L"started.txt";
    ScopedVariable recordVariable_{L"ZC_UNINSTALL_RECORD", record_.c_str()};
    std::unique_ptr<ScopedVariable> systemRoot_;
};

// The command line is MsiExec's expanded path, "/x", the code in quotes and "/quiet": with
// a code's 38 characters it fits 259 exactly for a %SystemRoot% of 185 characters.
TEST_F(StandInTest, CommandLineThatDoesNotFitIsNeverRun)
{
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000F2}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo Deployment"));
    ASSERT_TRUE(MakeRoot(185));
    ASSERT_EQ(CommandLine(code).size(), 259u);

    UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);
    const std::wstring longer = root_ + L"r";
    {
        ScopedVariable tooLong(L"SystemRoot", longer.c_str());
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);
    }

    EXPECT_EQ(MaskProcessIds(log.Lines()),
              (Lines{FirstLine, Attempting(code, L"Zamo Deployment"), Executing(code), Waiting, L"Process completed",
                     FirstLine, Attempting(code, L"Zamo Deployment"), L"Failed to execute [206]"}));
    EXPECT_EQ(Started(), Lines{CommandLine(code)});
}

// The preview composes and checks the command line as a real run does: one that does not
// fit still fails, one that fits is named and not run.
TEST_F(StandInTest, PreviewChecksTheCommandLineAsARealRunDoes)
{
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000F3}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo Deployment"));
    ASSERT_TRUE(MakeRoot(185));
    {
        PreviewRun preview;
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);
    }
    {
        PreviewRun preview;
        const std::wstring longer = root_ + L"r";
        ScopedVariable tooLong(L"SystemRoot", longer.c_str());
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);
    }

    EXPECT_EQ(log.Lines(), (Lines{FirstLine, Attempting(code, L"Zamo Deployment"),
                                  L"Would execute [" + CommandLine(code) + L"]", FirstLine,
                                  Attempting(code, L"Zamo Deployment"), L"Failed to execute [206]"}));
    EXPECT_FALSE(Exists(record_));
}

// MsiExec's own path is expanded alone: 238 characters of %SystemRoot% and its 21 fill the
// 259; one more and the expansion itself does not fit.
TEST_F(PassiveUninstallerTest, ExpansionThatDoesNotFitIsNeverRun)
{
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000F1}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo Deployment"));
    for (size_t length : {238u, 239u}) {
        ScopedVariable systemRoot(L"SystemRoot", (L"C:\\" + std::wstring(length - 3, L'r')).c_str());
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);
    }

    const std::wstring attempt = Attempting(code, L"Zamo Deployment");
    EXPECT_EQ(log.Lines(), (Lines{FirstLine, attempt, L"Failed to execute [206]", FirstLine, attempt,
                                  L"Failed to execute [122]"}));
}

// A standard user names the entries of their own uninstall list. Only a name that is a
// product code, exactly, is ever put into a command line, and as it is: anything else is
// logged and never executed (the purge deletes it with the product keys as before).
TEST_F(StandInTest, OnlyAWholeProductCodeIsEverExecutedAndNothingOfItIsExpanded)
{
    ASSERT_TRUE(MakeRoot());
    const std::wstring injected = folder_.Path() + L"\\injected.txt";
    std::wstring injectedSlashes = injected;
    std::replace(injectedSlashes.begin(), injectedSlashes.end(), L'\\', L'/');
    ScopedVariable code(L"ZC_CODE", L"44444444-4444-4444-4444-444444444444");
    const std::wstring lowerCase = L"{7e1a5c00-0000-4000-8000-0000000000fa}";
    const std::wstring names[] = {
        L"{44444444-4444-4444-4444-444444444444}\" /l*v \"" + injectedSlashes,
        L"{44444444-4444-4444-4444-444444444444} /quiet",
        L"{44444444-4444-4444-4444-444444444444}x",
        L"{44444444-4444-4444-4444-4444 4444444}",
        L" {44444444-4444-4444-4444-444444444444}",
        L"{%ZC_CODE%}",
        L"{44444444-4444-4444-4444-44444444444}",
        L"{444444444-444-4444-4444-444444444444}",
        L"{4444444G-4444-4444-4444-444444444444}",
        L"{44444444_4444-4444-4444-444444444444}",
        L"(44444444-4444-4444-4444-444444444444)",
        L"{}",
        lowerCase,
    };
    for (const std::wstring& name : names)
        ASSERT_TRUE(UserEntry(name, L"DisplayName", L"Zamo (per-machine)")) << std::string(name.begin(), name.end());

    UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);

    // Entries in the order the list gives them; the one code's uninstaller after its line.
    Lines expected = {FirstLine};
    for (const std::wstring& name : SubkeyNames(HKEY_USERS, UserList)) {
        expected.push_back(Attempting(name, L"Zamo (per-machine)"));
        if (name == lowerCase)
            expected.insert(expected.end(), {Executing(lowerCase), Waiting, L"Process completed"});
    }
    EXPECT_EQ(expected.size(), 1 + std::size(names) + 3);
    EXPECT_EQ(MaskProcessIds(log.Lines()), expected);
    EXPECT_EQ(Started(), Lines{CommandLine(lowerCase)});
    EXPECT_FALSE(Exists(injected));
    for (const std::wstring& name : names)
        EXPECT_TRUE(KeyExists(HKEY_USERS, UserList + L"\\" + name)) << std::string(name.begin(), name.end());
}

// An uninstaller still running when the wait ends (the stand-in sleeps longer than the
// bound) and one that exits 1618: neither scope is marked with the signature, each entry
// stays in "Not removed", and the run's code is 1, or 1618 ahead of 1.
TEST_F(StandInTest, UnfinishedUninstallersKeepTheirScopeUnmarkedAndTheRunNotClean)
{
    ASSERT_TRUE(MakeRoot());
    ReportExitCode = true;
    ClearTriedItems();
    ASSERT_TRUE(TextCopy(Signature, L"Wave-9"));
    const std::wstring slowCode = L"{7E1A5C00-0000-4000-8000-0000000000B1}";
    const std::wstring busyCode = L"{7E1A5C00-0000-4000-8000-0000000000B2}";
    const wchar_t otherSid[] = L"S-1-5-21-7340-7341-7342-1102";
    const std::wstring marker = L"\\Software\\Quorvex\\Cleaned";
    DeleteKeyTree(HKEY_USERS, otherSid);

    ASSERT_TRUE(UserEntry(slowCode, L"DisplayName", L"Zamo (per-user)"));
    ULONGLONG waited = 0;
    {
        ScopedVariable sleep(L"ZC_UNINSTALL_SLEEP", L"30000");
        ULONGLONG start = GetTickCount64();
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY, nullptr, 1500);
        waited = GetTickCount64() - start;
    }
    EXPECT_GE(waited, 1400u);
    EXPECT_LT(waited, 20000u);
    EXPECT_EQ(MaskProcessIds(log.Lines()), (Lines{FirstLine, Attempting(slowCode, L"Zamo (per-user)"),
                                                  Executing(slowCode), Waiting, L"Process timed out"}));
    // Only the scope of the unfinished uninstaller keeps its mark back.
    log.Clear();
    MarkScopeCleaned(HKEY_USERS, TestSid);
    MarkScopeCleaned(HKEY_USERS, otherSid);
    EXPECT_EQ(log.Lines(),
              Lines{std::wstring(L"Not marking [HKU,") + TestSid + L"] with signature [Wave-9]: an uninstaller did not finish"});
    EXPECT_FALSE(KeyExists(HKEY_USERS, std::wstring(TestSid) + marker));
    std::wstring stored;
    EXPECT_TRUE(ReadString(HKEY_USERS, std::wstring(otherSid) + marker, nullptr, &stored));
    EXPECT_EQ(stored, L"Wave-9");
    DeleteKeyTree(HKEY_USERS, otherSid);
    log.Clear();
    EXPECT_EQ(LogRunOutcome(), 1);
    EXPECT_EQ(log.Lines(), (Lines{L"Not removed: " + slowCode + L" [Zamo (per-user)] (its uninstaller did not finish)",
                                  L"Exit code [1]"}));

    // Another installation in progress: both views of the shared list run it, one line.
    log.Clear();
    EndStandIns();
    ASSERT_TRUE(UserEntry(busyCode, L"ProductName", L"Zamo Deployment"));
    {
        ScopedVariable exitCode(L"ZC_UNINSTALL_EXIT", L"1618");
        ScopedVariable otherList(L"ZC_UNINSTALL_LIST", L"ZcNoSuchList");
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_32KEY, nullptr, 1500);
    }
    // The slow one's entry is still there, but its uninstaller did not finish in this run: it
    // is not started again (a second MsiExec would only wait for the first).
    ASSERT_TRUE(KeyExists(HKEY_USERS, UserList + L"\\" + slowCode));
    EXPECT_EQ(MaskProcessIds(log.Lines()), (Lines{FirstLine, Attempting(busyCode, L"Zamo Deployment"),
                                                  Executing(busyCode), Waiting, L"Process completed",
                                                  L"Process exit code [1618]"}));
    log.Clear();
    UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY, nullptr, 1500);
    EXPECT_EQ(log.Lines(), Lines{FirstLine}) << "the other view's pass starts neither again";
    log.Clear();
    MarkScopeCleaned(HKEY_USERS, TestSid);
    EXPECT_EQ(LogRunOutcome(), 1618);
    EXPECT_EQ(log.Lines(),
              (Lines{std::wstring(L"Not marking [HKU,") + TestSid + L"] with signature [Wave-9]: an uninstaller did not finish",
                     L"Not removed: " + slowCode + L" [Zamo (per-user)] (its uninstaller did not finish)",
                     L"Not removed: " + busyCode + L" [Zamo Deployment] (its uninstaller did not finish)",
                     L"Exit code [1618]"}));
    EXPECT_FALSE(KeyExists(HKEY_USERS, std::wstring(TestSid) + marker));

    // A new run forgets them: the scope is marked again.
    ForgetUnfinishedUninstallers();
    log.Clear();
    MarkScopeCleaned(HKEY_USERS, TestSid);
    EXPECT_EQ(log.Lines(), Lines{});
    EXPECT_TRUE(ReadString(HKEY_USERS, std::wstring(TestSid) + marker, nullptr, &stored));
}

// The report tells the same story as the log: the uninstaller that timed out is an item that
// counts for the exit code, and its scope's outcome says why the scope was not marked.
TEST_F(StandInTest, ReportNamesAnUnfinishedUninstallerAndItsUnmarkedScope)
{
    ASSERT_TRUE(MakeRoot());
    const std::wstring report = folder_.Path() + L"\\report.json";
    ReportRequested = true;
    ASSERT_TRUE(TextCopy(ReportPath, report.c_str()));
    ASSERT_TRUE(TextCopy(Signature, L"Wave-9"));
    ClearTriedItems();
    BeginRunReport();
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000B4}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo (per-user)"));
    {
        ScopedVariable sleep(L"ZC_UNINSTALL_SLEEP", L"30000");
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY, nullptr, 1500);
    }
    MarkScopeCleaned(HKEY_USERS, TestSid);
    const int exitCode = SettleRunOutcome();
    WriteRunReport(exitCode);
    ReportRequested = false;
    ReportPath[0] = L'\0';

    EXPECT_EQ(exitCode, 1);
    ReportValues read;
    std::string why;
    ASSERT_TRUE(ReadReport(report, &read, &why)) << why;
    EXPECT_EQ(read["exitCode"].number, 1);
    EXPECT_EQ(read["scopes"].number, 1);
    EXPECT_EQ(read["scopes/0/sid"].text, TestSid);
    EXPECT_EQ(read["scopes/0/outcome"].text, L"not marked: uninstaller did not finish");
    ASSERT_EQ(read["items"].number, 1);
    EXPECT_EQ(read["items/0/kind"].text, L"uninstaller");
    EXPECT_EQ(read["items/0/productCode"].text, code);
    EXPECT_EQ(read["items/0/displayName"].text, L"Zamo (per-user)");
    EXPECT_EQ(read["items/0/outcome"].text, L"not removed");
    EXPECT_EQ(read["items/0/timedOut"].type, 'B');
    EXPECT_EQ(read["items/0/timedOut"].number, 1);
    EXPECT_EQ(read["items/0/countsForExitCode"].number, 1);
}

// Without "/ExitCode" the run's code stays 0 and no "Not removed" line is logged, but the
// scope is still not marked; an uninstaller that finishes with 1603 (failed) is finished.
TEST_F(StandInTest, WithoutExitCodeTheScopeIsStillNotMarked)
{
    ASSERT_TRUE(MakeRoot());
    ClearTriedItems();
    ASSERT_TRUE(TextCopy(Signature, L"Wave-9"));
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000B3}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo (per-user)"));
    {
        ScopedVariable exitCode(L"ZC_UNINSTALL_EXIT", L"1603");
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY, nullptr, 1500);
    }
    MarkScopeCleaned(HKEY_USERS, TestSid);
    EXPECT_TRUE(KeyExists(HKEY_USERS, std::wstring(TestSid) + L"\\Software\\Quorvex\\Cleaned"));
    {
        ScopedVariable exitCode(L"ZC_UNINSTALL_EXIT", L"1618");
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY, nullptr, 1500);
    }
    log.Clear();
    MarkScopeCleaned(HKEY_USERS, TestSid);
    EXPECT_EQ(LogRunOutcome(), 0);
    EXPECT_EQ(log.Lines(),
              Lines{std::wstring(L"Not marking [HKU,") + TestSid + L"] with signature [Wave-9]: an uninstaller did not finish"});
}

// Real packages: installed with the prefix's msiexec, removed by the uninstaller.
class RealPackageTest : public PassiveUninstallerTest {
protected:
    void TearDown() override
    {
        for (const wchar_t* code : {X64Code, X86CodeA, X86CodeB}) {
            if (KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + code, KEY_WOW64_64KEY) ||
                KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + code, KEY_WOW64_32KEY))
                UninstallTestProduct(code);
        }
        PassiveUninstallerTest::TearDown();
    }
    static bool Listed(const wchar_t* code, REGSAM view)
    {
        return KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + code, view);
    }
};

TEST_F(RealPackageTest, X64PackageIsUninstalledThroughMsiExec)
{
    ASSERT_TRUE(InstallTestPackage(L"ZcPurgeX64.msi"));
    ASSERT_TRUE(Listed(X64Code, KEY_WOW64_64KEY));
    const std::wstring payload = Expand(L"%ProgramW6432%\\ZcPurgeX64\\payload.txt");
    EXPECT_TRUE(Exists(payload));

    UninstallProductsPassively(HKEY_LOCAL_MACHINE, nullptr, KEY_WOW64_64KEY);

    EXPECT_EQ(MaskProcessIds(log.Lines()), (Lines{FirstLine, Attempting(X64Code, L"Zamo (per-machine)"),
                                                  Executing(X64Code), Waiting, L"Process completed"}));
    EXPECT_FALSE(Listed(X64Code, KEY_WOW64_64KEY));
    EXPECT_FALSE(Exists(payload));
    RemoveDirectoryW(Expand(L"%ProgramW6432%\\ZcPurgeX64").c_str());
}

TEST_F(RealPackageTest, TwoPackagesListedNextToEachOtherAreBothUninstalled)
{
    ASSERT_TRUE(InstallTestPackage(L"ZcPurgeX86A.msi"));
    ASSERT_TRUE(InstallTestPackage(L"ZcPurgeX86B.msi"));
    ASSERT_TRUE(Listed(X86CodeA, KEY_WOW64_32KEY));
    ASSERT_TRUE(Listed(X86CodeB, KEY_WOW64_32KEY));
    ASSERT_FALSE(Listed(X86CodeA, KEY_WOW64_64KEY));

    UninstallScopeProducts(HKEY_LOCAL_MACHINE, nullptr);

    // The first uninstaller takes its entry away and the second entry moves down to
    // its index: it is taken there, not passed over.
    EXPECT_EQ(MaskProcessIds(log.Lines()),
              (Lines{FirstLine, FirstLine, Attempting(X86CodeA, L"Zamo Deployment"), Executing(X86CodeA), Waiting,
                     L"Process completed", Attempting(X86CodeB, L"Zamo Outlook Add-In"), Executing(X86CodeB),
                     Waiting, L"Process completed"}));
    EXPECT_FALSE(Listed(X86CodeA, KEY_WOW64_32KEY));
    EXPECT_FALSE(Listed(X86CodeB, KEY_WOW64_32KEY));
    for (const wchar_t* folder : {L"ZcPurgeX86A", L"ZcPurgeX86B"}) {
        std::wstring path = Expand(L"%ProgramFiles(x86)%\\") + folder;
        EXPECT_FALSE(Exists(path + L"\\payload.txt"));
        RemoveDirectoryW(path.c_str());
    }
}

// Another maker's product, installed for real: its code under a standard user's own
// uninstall list with a catalogue display name is never given to MsiExec, in a preview or a
// real run, whether the name spells it in capitals or small letters.
TEST_F(RealPackageTest, AnotherMakersInstalledCodeUnderAUsersListIsNeverExecuted)
{
    const std::wstring otherCode = L"{E783CA5A-A944-4A7F-9E33-C95A969B909E}";
    ASSERT_TRUE(InstallTestPackage(L"OtherMaker.msi"));
    struct Uninstall {
        const std::wstring& code;
        ~Uninstall() { UninstallTestProduct(code); }
    } uninstall{otherCode};
    const std::wstring payload = Expand(L"%ProgramFiles(x86)%\\Brindlewood\\Notes\\brindle-notes.txt");
    ASSERT_TRUE(Listed(otherCode.c_str(), KEY_WOW64_32KEY));
    ASSERT_TRUE(Exists(payload));

    std::wstring lowerCase = otherCode;
    std::transform(lowerCase.begin(), lowerCase.end(), lowerCase.begin(), towlower);
    for (const std::wstring& name : {otherCode, lowerCase}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        DeleteKeyTree(HKEY_USERS, TestSid);
        ASSERT_TRUE(UserEntry(name, L"DisplayName", L"Zamo (per-user)"));
        const Lines expected = {FirstLine, Attempting(name, L"Zamo (per-user)"),
                                L"Not uninstalling " + name + L": the Windows Installer names it [Brindle Notes]"};
        log.Clear();
        {
            PreviewRun preview;
            UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);
        }
        EXPECT_EQ(log.Lines(), expected);
        log.Clear();
        UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);
        EXPECT_EQ(log.Lines(), expected);
        EXPECT_TRUE(Listed(otherCode.c_str(), KEY_WOW64_32KEY));
        EXPECT_TRUE(Exists(payload));
    }
    std::wstring name;
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + otherCode, L"DisplayName", &name,
                           KEY_WOW64_32KEY));
    EXPECT_EQ(name, L"Brindle Notes");
}

} // namespace
