// Command-line options and header lines: every command line through the program's own
// options code in this process (split as the program splits its command line, then the log
// opened and the header written as it starts), and the start-up as a whole through the real
// program for the cases that need it.
#include "app/app.h"
#include "log/log.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring Separator(64, L'=');
const std::wstring Quietly = L"Running quietly (no UI)";
const std::wstring Previewing = L"Preview: nothing will be changed";
const std::wstring Including = L"Including user profiles that are not loaded";
const std::wstring OwnUser = L"Cleaning the current user only [S-1-5-21-0-0-0-1000]";

std::wstring LogLocation(const std::wstring& path)
{
    return L"Using log file location [" + path + L"]";
}

std::wstring SignatureLine(const std::wstring& signature)
{
    return L"Using signature [" + signature + L"]";
}

// A path of exactly the given length inside the test folder (a chain of folders, each
// name within the file system's limit).
std::wstring PathOfLength(const std::wstring& folder, size_t length)
{
    std::wstring path = folder;
    while (path.size() + 1 + 100 < length - 8) {
        path += L"\\" + std::wstring(99, L'd');
        CreateDirectoryW(path.c_str(), nullptr);
    }
    size_t rest = length - path.size() - 1 - 4;
    return path + L"\\" + std::wstring(rest, L'f') + L".log";
}

// One command line and what the start of a run makes of it: the log it writes (empty for
// the default log), that log's lines, and files that must never be written.
struct OptionsCase {
    const wchar_t* what;
    std::wstring commandLine;
    std::wstring log;
    Lines lines;
    std::vector<std::wstring> absent;
};

// Each test gets a fresh folder, which also stands in for %LocalAppData%, so a run
// that falls back to the default log writes it here and nowhere else.
class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedLocalAppData_ = Expand(L"%LocalAppData%");
        SetEnvironmentVariableW(L"LocalAppData", folder.Path().c_str());
    }
    void TearDown() override { SetEnvironmentVariableW(L"LocalAppData", savedLocalAppData_.c_str()); }

    std::wstring DefaultLog() const { return folder / L"ZamoClean\\ZamoClean.log"; }
    std::wstring Program() const { return Quoted(ProgramPath()) + L" "; }
    std::wstring Written(const OptionsCase& test) const { return test.log.empty() ? DefaultLog() : test.log; }

    // The lines of the log the case writes; every other log the case names is checked absent,
    // and the default log too when the case names its own. The written log is deleted after.
    void ExpectLog(const OptionsCase& test)
    {
        const std::wstring written = Written(test);
        EXPECT_EQ(ReadLogLines(written), test.lines);
        for (const std::wstring& path : test.absent)
            EXPECT_FALSE(Exists(path)) << "written: " << std::string(path.begin(), path.end());
        if (!test.log.empty()) {
            EXPECT_FALSE(Exists(DefaultLog())) << "the default log was written";
        }
        DeleteFileW(written.c_str());
    }

    TempFolder folder;
    std::wstring log = folder / L"run.log";

private:
    std::wstring savedLocalAppData_;
};

TEST_F(OptionsTest, EachCommandLineSetsTheHeaderLinesAndTheLogLocation)
{
    const std::wstring P = Program();
    const std::wstring first = folder / L"first.log";
    const std::wstring mixed = folder / L"MiXeD.Log";
    const std::wstring blank = folder / L"with blank.log";
    const std::wstring escaped = folder / L"escaped.log";
    const std::wstring runs = folder / L"runs.log";
    const std::wstring hyphen = folder / L"hyphen.log";
    // The temporary folder lies under %TEMP%, so the same file can be named through it.
    const std::wstring temp = Expand(L"%TEMP%");
    ASSERT_EQ(folder.Path().compare(0, temp.size(), temp), 0);
    const std::wstring underTemp = folder.Path().substr(temp.size()) + L"\\temp.log";
    const std::wstring path259 = PathOfLength(folder.Path(), 259);
    ASSERT_EQ(path259.size(), 259u);
    const std::wstring path260 = PathOfLength(folder.Path(), 260);
    ASSERT_EQ(path260.size(), 260u);
    std::wstring signature259(259, L's');
    signature259[0] = L'A';
    signature259[258] = L'Z';

    std::vector<OptionsCase> cases = {
        {L"quiet with a log", P + L"/Quiet /Log:" + log, log, {Separator, Quietly, LogLocation(log)}, {}},
        {L"quiet alone: the default log", P + L"/Quiet", L"", {Separator, Quietly}, {}},
        // Option names ignore case; values keep theirs, and percent signs in a signature stay.
        {L"names in lower case", P + L"/quiet /LOG:" + log + L" /sIgNaTuRe:AbC", log,
         {Separator, Quietly, SignatureLine(L"AbC"), LogLocation(log)}, {}},
        {L"names in upper case", P + L"/QUIET /LOG:" + log + L" /sIgNaTuRe:AbC", log,
         {Separator, Quietly, SignatureLine(L"AbC"), LogLocation(log)}, {}},
        {L"names in mixed case", P + L"/qUiEt /LOG:" + log + L" /sIgNaTuRe:AbC", log,
         {Separator, Quietly, SignatureLine(L"AbC"), LogLocation(log)}, {}},
        {L"values keep their case and text", P + L"/Quiet /SIGNATURE:aBc%TEMP%100% /Log:" + mixed, mixed,
         {Separator, Quietly, SignatureLine(L"aBc%TEMP%100%"), LogLocation(mixed)}, {}},
        // The header's order is fixed, whatever the command line's.
        {L"header order", P + L"/Log:" + log + L" /Signature:s1 /Quiet", log,
         {Separator, Quietly, SignatureLine(L"s1"), LogLocation(log)}, {}},
        {L"preview after the other header lines", P + L"/preview /Log:" + log + L" /Signature:s1 /Quiet", log,
         {Separator, Quietly, SignatureLine(L"s1"), LogLocation(log), Previewing}, {}},
        {L"preview before all profiles", P + L"/AllProfiles /Quiet /Preview /Log:" + log, log,
         {Separator, Quietly, LogLocation(log), Previewing, Including}, {}},
        // A repeated option: the last one wins, and an empty value clears an earlier one.
        {L"the last repeated option wins",
         P + L"/Quiet /Quiet /Signature:one /Log:" + first + L" /Signature:two /QUIET /Log:" + log, log,
         {Separator, Quietly, SignatureLine(L"two"), LogLocation(log)}, {first}},
        {L"empty signature", P + L"/Quiet /Signature:one /Log:" + log + L" /Signature:", log,
         {Separator, Quietly, LogLocation(log)}, {}},
        {L"empty log", P + L"/Quiet /Log:" + log + L" /Log:", L"", {Separator, Quietly}, {log}},
        // The command line's own quoting: a blank ends a value unless quoted; quotes the
        // splitting leaves in a log path are taken off its ends.
        {L"unquoted blank ends the signature", P + L"/Quiet /Signature:first second /Log:" + log, log,
         {Separator, Quietly, SignatureLine(L"first"), LogLocation(log)}, {}},
        {L"quoted signature keeps its blank", P + L"/Quiet /Signature:\"first second\" /Log:" + log, log,
         {Separator, Quietly, SignatureLine(L"first second"), LogLocation(log)}, {}},
        {L"log path with a blank in quotes", P + L"/Quiet /Log:" + Quoted(blank), blank,
         {Separator, Quietly, LogLocation(blank)}, {}},
        {L"escaped quotes around the log path", P + L"/Quiet /Log:\\\"" + escaped + L"\\\"", escaped,
         {Separator, Quietly, LogLocation(escaped)}, {}},
        {L"runs of escaped quotes around the log path", P + L"/Quiet /Log:\\\"\\\"\\\"" + runs + L"\\\"\\\"", runs,
         {Separator, Quietly, LogLocation(runs)}, {}},
        {L"a log of quotes only is the default log", P + L"/Quiet /Log:" + log + L" /Log:\\\"\\\"\\\"", L"",
         {Separator, Quietly}, {log}},
        // The path is shown as given and written expanded.
        {L"log path expanded", P + L"/Quiet /Log:%ZC_OPTIONS_FOLDER%\\expanded.log", folder / L"expanded.log",
         {Separator, Quietly, LogLocation(L"%ZC_OPTIONS_FOLDER%\\expanded.log")}, {}},
        {L"%TEMP% in the log path", P + L"/Quiet /Log:%TEMP%" + underTemp, folder / L"temp.log",
         {Separator, Quietly, LogLocation(L"%TEMP%" + underTemp)}, {}},
        // No program path in front: the first token is an option like any other.
        {L"first token quiet", L"/Quiet /Log:" + log, log, {Separator, Quietly, LogLocation(log)}, {}},
        {L"first token log", L"/Log:" + log + L" /QUIET", log, {Separator, Quietly, LogLocation(log)}, {}},
        {L"hyphen forms and other words",
         P + L"/Quiet /Log:" + log + L" -Log:" + hyphen + L" -Signature:x /Signature /Log quiet Quiet /Signaturex", log,
         {Separator, Quietly, LogLocation(log)}, {hyphen}},
        // "/AllProfiles" in any case, given first, still comes last; with anything behind it, it is no option.
        {L"/AllProfiles", P + L"/AllProfiles /Quiet /Signature:s /Log:" + log, log,
         {Separator, Quietly, SignatureLine(L"s"), LogLocation(log), Including}, {}},
        {L"/allprofiles", P + L"/allprofiles /Quiet /Signature:s /Log:" + log, log,
         {Separator, Quietly, SignatureLine(L"s"), LogLocation(log), Including}, {}},
        {L"/ALLPROFILES", P + L"/ALLPROFILES /Quiet /Signature:s /Log:" + log, log,
         {Separator, Quietly, SignatureLine(L"s"), LogLocation(log), Including}, {}},
        {L"/AllProfiles:", P + L"/AllProfiles: /Quiet /Signature:s /Log:" + log, log,
         {Separator, Quietly, SignatureLine(L"s"), LogLocation(log)}, {}},
        {L"/AllProfilesX", P + L"/AllProfilesX /Quiet /Signature:s /Log:" + log, log,
         {Separator, Quietly, SignatureLine(L"s"), LogLocation(log)}, {}},
        {L"-AllProfiles", P + L"-AllProfiles /Quiet /Signature:s /Log:" + log, log,
         {Separator, Quietly, SignatureLine(L"s"), LogLocation(log)}, {}},
        // "/CurrentUser" comes last and ignores the options that need an administrator, each
        // with its line, in the order the options are listed.
        {L"/CurrentUser", P + L"/currentuser /Quiet /DeleteAtRestart /Preview /AllProfiles /Log:" + log, log,
         {Separator, Quietly, LogLocation(log), Previewing, OwnUser, L"Option /AllProfiles is ignored with /CurrentUser",
          L"Option /DeleteAtRestart is ignored with /CurrentUser"}, {}},
        // A logon run registers nothing: the option that won is ignored with its line.
        {L"/CurrentUser /AtNextLogon", P + L"/CurrentUser /Preview /AtNextLogon /Log:" + log, log,
         {Separator, LogLocation(log), Previewing, OwnUser, L"Option /AtNextLogon is ignored with /CurrentUser"}, {}},
        {L"/CurrentUser, both", P + L"/AtNextLogon /CurrentUser /Preview /WithdrawAtNextLogon /DeleteAtRestart /Log:" + log,
         log,
         {Separator, LogLocation(log), Previewing, OwnUser, L"Option /DeleteAtRestart is ignored with /CurrentUser",
          L"Option /WithdrawAtNextLogon is ignored with /CurrentUser"},
         {}},
        {L"/CurrentUser alone", P + L"/CurrentUser /Log:" + log + L" /Signature:s", log,
         {Separator, SignatureLine(L"s"), LogLocation(log), OwnUser}, {}},
        {L"/CurrentUser:", P + L"/CurrentUser: /CurrentUserX -CurrentUser /AllProfiles /Log:" + log, log,
         {Separator, LogLocation(log), Including}, {}},
        // A "/Quiet" with anything behind it, a hyphen or no slash is not quiet.
        {L"-Quiet", P + L"-Quiet /Log:" + log, log, {Separator, LogLocation(log)}, {}},
        {L"/Quiet:", P + L"/Quiet: /Log:" + log, log, {Separator, LogLocation(log)}, {}},
        {L"/Quiet:1", P + L"/Quiet:1 /Log:" + log, log, {Separator, LogLocation(log)}, {}},
        {L"/Quieter", P + L"/Quieter /Log:" + log, log, {Separator, LogLocation(log)}, {}},
        {L"Quiet", P + L"Quiet /Log:" + log, log, {Separator, LogLocation(log)}, {}},
        {L"quoted /Quiet with a blank", P + L"\"/Quiet \" /Log:" + log, log, {Separator, LogLocation(log)}, {}},
        // Values at the 260-character limit: one that fits is kept whole, one that does not
        // counts as none and replaces an earlier value like any later option.
        {L"signature of 259 characters", P + L"/Quiet /Signature:" + signature259 + L" /Log:" + log, log,
         {Separator, Quietly, SignatureLine(signature259), LogLocation(log)}, {}},
        {L"signature of 260 characters", P + L"/Quiet /Signature:kept /Signature:" + std::wstring(260, L'x') +
         L" /Log:" + log, log, {Separator, Quietly, LogLocation(log)}, {}},
        {L"signature of 261 characters", P + L"/Quiet /Signature:kept /Signature:" + std::wstring(261, L'x') +
         L" /Log:" + log, log, {Separator, Quietly, LogLocation(log)}, {}},
        {L"signature of 1000 characters", P + L"/Quiet /Signature:kept /Signature:" + std::wstring(1000, L'x') +
         L" /Log:" + log, log, {Separator, Quietly, LogLocation(log)}, {}},
        {L"log path of 259 characters", P + L"/Quiet /Log:" + path259, path259,
         {Separator, Quietly, LogLocation(path259)}, {}},
        // Quotes are removed before the length counts: 261 characters with them still fit.
        {L"log path of 259 characters in escaped quotes", P + L"/Quiet /Log:\\\"" + path259 + L"\\\"", path259,
         {Separator, Quietly, LogLocation(path259)}, {}},
        {L"log path of 260 characters", P + L"/Quiet /Log:" + log + L" /Signature:s /Log:" + path260, L"",
         {Separator, Quietly, SignatureLine(L"s")}, {path260, log}},
    };

    ScopedVariable variable(L"ZC_OPTIONS_FOLDER", folder.Path().c_str());
    for (const OptionsCase& test : cases) {
        SCOPED_TRACE(std::wstring(test.what) + L": " + test.commandLine);
        RunOptions options = {};
        ParseCommandLine(test.commandLine.c_str(), options);
        OpenRunLog(options.logPath);
        LogOptionsHeader(options);
        CloseRunLog();
        ExpectLog(test);
    }
}

// The whole start-up through the real program: the command line it is given, the log, the
// window or none, the run to "Finishing" and the exit code.
TEST_F(OptionsTest, ProgramStartsQuietlyOrWithItsDialogAsItsCommandLineSays)
{
    const std::wstring P = Program();
    const std::wstring second = folder / L"second.log";
    struct StartCase {
        OptionsCase options;
        bool dialog;  // not quiet: the dialog comes up and is closed
    };
    const std::vector<StartCase> cases = {
        {{L"quiet", P + L"/Quiet /Log:" + log, log, {Separator, Quietly, LogLocation(log), L"Finishing"}, {}}, false},
        {{L"quiet, default log", P + L"/Quiet", L"", {Separator, Quietly, L"Finishing"}, {}}, false},
        {{L"no program path in front", L"/Log:" + second + L" /QUIET", second,
          {Separator, Quietly, LogLocation(second), L"Finishing"}, {}}, false},
        {{L"quiet preview of every profile", P + L"/AllProfiles /Quiet /Preview /Log:" + log, log,
          {Separator, Quietly, LogLocation(log), Previewing, Including, L"Finishing"}, {}}, false},
        {{L"not quiet", P + L"/Quiet:1 /Log:" + log, log, {Separator, LogLocation(log)}, {}}, true},
        {{L"quoted, not quiet", P + L"\"/Quiet \" /Log:" + log, log, {Separator, LogLocation(log)}, {}}, true},
    };
    for (const StartCase& test : cases) {
        SCOPED_TRACE(std::wstring(test.options.what) + L": " + test.options.commandLine);
        DWORD processId = 0;
        HANDLE process = StartProgram(test.options.commandLine, &processId);
        ASSERT_NE(process, nullptr);
        if (test.dialog) {
            HWND dialog = FindProgramWindow(processId, 20000);
            EXPECT_NE(dialog, nullptr) << "no dialog";
            if (dialog != nullptr) {
                EXPECT_TRUE(WaitUntilVisible(dialog, 20000));
                SendMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
            }
        }
        DWORD exitCode = 99;
        if (WaitForSingleObject(process, 60000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the program did not end";
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 5000);
        }
        GetExitCodeProcess(process, &exitCode);
        CloseHandle(process);
        EXPECT_EQ(exitCode, 0u);
        // Only the shell's lines: a run of the test machine may log removals between them.
        EXPECT_EQ(ShellLogLines(Written(test.options)), test.options.lines);
        if (!test.options.log.empty()) {
            EXPECT_FALSE(Exists(DefaultLog())) << "the default log was written";
        }
        DeleteFileW(Written(test.options).c_str());
    }
}

// The parser itself, for values the log cannot show.
class ParseOptionsTest : public ::testing::Test {
protected:
    // Parses into options, which keeps what earlier calls set.
    void Parse(std::vector<std::wstring> arguments)
    {
        std::vector<wchar_t*> vector;
        for (std::wstring& argument : arguments)
            vector.push_back(&argument[0]);
        ParseOptions(static_cast<int>(vector.size()), vector.data(), options);
    }

    RunOptions options = {};
};

TEST_F(ParseOptionsTest, QuotesInsideTheLogPathStay)
{
    Parse({L"/Log:\"\"a\"b\" c\"\""});
    EXPECT_STREQ(options.logPath, L"a\"b\" c");
    Parse({L"/Log:  \"x\"  "});
    EXPECT_STREQ(options.logPath, L"  \"x\"  ");
    Parse({L"/Log:\""});
    EXPECT_STREQ(options.logPath, L"");
}

TEST_F(ParseOptionsTest, SignatureKeepsQuotesAndBlanks)
{
    Parse({L"/Signature:\" a \""});
    EXPECT_STREQ(options.signature, L"\" a \"");
}

TEST_F(ParseOptionsTest, OverLongValuesLeaveTheOtherSettingsAlone)
{
    wcscpy(options.logPath, L"C:\\keep.log");
    Parse({L"/Signature:" + std::wstring(5000, L'x')});
    EXPECT_STREQ(options.signature, L"");
    EXPECT_STREQ(options.logPath, L"C:\\keep.log");
    EXPECT_FALSE(options.quiet);

    wcscpy(options.signature, L"keep");
    Parse({L"/Log:" + std::wstring(5000, L'y')});
    EXPECT_STREQ(options.logPath, L"");
    EXPECT_STREQ(options.signature, L"keep");

    Parse({L"/Log:\"" + std::wstring(259, L'z') + L"\""});
    EXPECT_EQ(std::wstring(options.logPath), std::wstring(259, L'z'));
}

TEST_F(ParseOptionsTest, AllProfilesIsTheWholeArgumentOnly)
{
    Parse({L"/AllProfiles:", L"/AllProfiles ", L"/AllProfilesX", L"\"/AllProfiles\""});
    EXPECT_FALSE(options.allProfiles);
    Parse({L"x", L"/aLLpROFILES"});
    EXPECT_TRUE(options.allProfiles);
    EXPECT_FALSE(options.quiet);
}

TEST_F(ParseOptionsTest, PreviewIsOneWholeArgumentInAnyLetterCase)
{
    Parse({L"/Preview:", L"/Previewer", L"-Preview", L"Preview", L"/Preview:1"});
    EXPECT_FALSE(options.preview);
    Parse({L"/pReViEw"});
    EXPECT_TRUE(options.preview);
    EXPECT_FALSE(options.quiet);
}

TEST_F(ParseOptionsTest, DeploymentOptionsAreWholeArgumentsInAnyLetterCase)
{
    Parse({L"/ExitCode:", L"/ExitCodes", L"-ExitCode", L"ExitCode", L"/DeleteAtRestart:1", L"/DeleteAtRestarts",
           L"/Delete"});
    EXPECT_FALSE(options.reportExitCode);
    EXPECT_FALSE(options.deleteAtRestart);
    Parse({L"/eXiTcOdE"});
    EXPECT_TRUE(options.reportExitCode);
    EXPECT_FALSE(options.deleteAtRestart);
    Parse({L"/Quiet", L"/DELETEATRESTART"});
    EXPECT_TRUE(options.deleteAtRestart);
    EXPECT_FALSE(options.preview);
}

TEST_F(ParseOptionsTest, OfTheLogonRegistrationOptionsTheLastOneWins)
{
    Parse({L"/AtNextLogon:", L"/AtNextLogons", L"-AtNextLogon", L"/Withdraw"});
    EXPECT_EQ(options.atNextLogon, LogonRegistration::None);
    Parse({L"/atnextlogon"});
    EXPECT_EQ(options.atNextLogon, LogonRegistration::Register);
    Parse({L"/AtNextLogon", L"/WITHDRAWATNEXTLOGON"});
    EXPECT_EQ(options.atNextLogon, LogonRegistration::Withdraw);
    Parse({L"/WithdrawAtNextLogon", L"/AtNextLogon"});
    EXPECT_EQ(options.atNextLogon, LogonRegistration::Register);
}

TEST_F(ParseOptionsTest, CurrentUserClearsWhatNeedsAnAdministrator)
{
    Parse({L"/AllProfiles", L"/DeleteAtRestart", L"/CurrentUser"});
    EXPECT_TRUE(options.currentUserOnly);
    EXPECT_FALSE(options.allProfiles || options.deleteAtRestart);
    EXPECT_TRUE(options.allProfilesIgnored && options.deleteAtRestartIgnored);
    Parse({L"/WithdrawAtNextLogon", L"/CurrentUser"});
    EXPECT_EQ(options.atNextLogon, LogonRegistration::None);
    EXPECT_EQ(options.atNextLogonIgnored, LogonRegistration::Withdraw);
}

TEST_F(ParseOptionsTest, EmptyVectorChangesNothing)
{
    wcscpy(options.signature, L"keep");
    ParseOptions(0, nullptr, options);
    EXPECT_STREQ(options.signature, L"keep");
    EXPECT_FALSE(options.quiet);
}

} // namespace
