// Passive uninstaller: the catalogue match of an entry's values, the uninstall list of a
// scope in each view, and MsiExec run for real against packages built with wixl.
#include "clean/steps.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

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
    for (REGSAM view : RegistryViews)
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

TEST_F(PassiveUninstallerTest, CommandLineThatDoesNotFitIsNeverRun)
{
    // The composed command line is 48 characters and the name: 211 characters fit
    // 259 exactly, 212 do not. Names of equal length sort by their last character.
    const std::wstring fits = L"{" + std::wstring(209, L'A') + L"}";
    const std::wstring tooLong = L"{" + std::wstring(210, L'B') + L"}";
    ASSERT_TRUE(UserEntry(fits, L"DisplayName", L"Zamo Deployment"));
    ASSERT_TRUE(UserEntry(tooLong, L"DisplayName", L"Zamo Deployment"));

    UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);

    EXPECT_EQ(MaskProcessIds(log.Lines()),
              (Lines{FirstLine, Attempting(fits, L"Zamo Deployment"), Executing(fits), Waiting, L"Process completed",
                     Attempting(tooLong, L"Zamo Deployment"), L"Failed to execute [206]"}));
}

// The preview composes and checks the command line as a real run does: one that does not
// fit still fails, one that fits is named and not run.
TEST_F(PassiveUninstallerTest, PreviewChecksTheCommandLineAsARealRunDoes)
{
    const std::wstring fits = L"{" + std::wstring(209, L'A') + L"}";
    const std::wstring tooLong = L"{" + std::wstring(210, L'B') + L"}";
    ASSERT_TRUE(UserEntry(fits, L"DisplayName", L"Zamo Deployment"));
    ASSERT_TRUE(UserEntry(tooLong, L"DisplayName", L"Zamo Deployment"));
    PreviewRun preview;

    UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);

    const std::wstring executing = Executing(fits);
    EXPECT_EQ(log.Lines(), (Lines{FirstLine, Attempting(fits, L"Zamo Deployment"),
                                  L"Would execute" + executing.substr(std::wstring(L"Executing").size()),
                                  Attempting(tooLong, L"Zamo Deployment"), L"Failed to execute [206]"}));
}

TEST_F(PassiveUninstallerTest, ExpansionThatDoesNotFitIsNeverRun)
{
    const std::wstring code = L"{7E1A5C00-0000-4000-8000-0000000000F1}";
    ASSERT_TRUE(UserEntry(code, L"DisplayName", L"Zamo Deployment"));
    wchar_t systemRoot[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"SystemRoot", systemRoot, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    ASSERT_TRUE(SetEnvironmentVariableW(L"SystemRoot", (L"C:\\" + std::wstring(200, L'r')).c_str()));

    UninstallProductsPassively(HKEY_USERS, TestSid, KEY_WOW64_64KEY);

    SetEnvironmentVariableW(L"SystemRoot", systemRoot);
    EXPECT_EQ(log.Lines(), (Lines{FirstLine, Attempting(code, L"Zamo Deployment"), L"Failed to execute [122]"}));
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

} // namespace
