// Command-line options and header lines, through the real program started with exact
// command lines, and the parser itself where the log cannot show the result.
#include "app/app.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring Separator(64, L'=');
const std::wstring Quietly = L"Running quietly (no UI)";
const std::wstring Previewing = L"Preview: nothing will be changed";
const std::wstring Including = L"Including user profiles that are not loaded";

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring LogLocation(const std::wstring& path)
{
    return L"Using log file location [" + path + L"]";
}

// Each test gets a fresh folder, which also stands in for %LocalAppData%, so a run
// that falls back to the default log writes it here and nowhere else.
class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedLocalAppData_ = Expand(L"%LocalAppData%");
        SetEnvironmentVariableW(L"LocalAppData", folder.Path().c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"LocalAppData", savedLocalAppData_.c_str());
    }

    // Runs the program with the command line as given (nothing added) and expects
    // it to end by itself with exit code 0.
    void Run(const std::wstring& commandLine)
    {
        SCOPED_TRACE(commandLine);
        RunResult result = RunProgram(commandLine, 60000);
        ASSERT_TRUE(result.started);
        ASSERT_TRUE(result.ended) << "the program did not end by itself";
        EXPECT_EQ(result.exitCode, 0u);
    }
    // The program's path in front of the arguments, as a shell would start it.
    void RunWith(const std::wstring& arguments)
    {
        Run(Quoted(ProgramPath()) + L" " + arguments);
    }
    std::wstring DefaultLog() const { return folder / L"ZamoClean\\ZamoClean.log"; }

    TempFolder folder;
    std::wstring log = folder / L"run.log";

private:
    std::wstring savedLocalAppData_;
};

TEST_F(OptionsTest, QuietRunLogsSeparatorHeaderAndFinishing)
{
    RunWith(L"/Quiet /Log:" + log);
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, LogLocation(log), L"Finishing"}));
    EXPECT_FALSE(Exists(DefaultLog()));
}

TEST_F(OptionsTest, QuietAloneLogsToTheDefaultLocation)
{
    RunWith(L"/Quiet");
    EXPECT_EQ(ShellLogLines(DefaultLog()), (Lines{Separator, Quietly, L"Finishing"}));
}

TEST_F(OptionsTest, OptionNamesIgnoreCase)
{
    const wchar_t* quietForms[] = {L"/quiet", L"/QUIET", L"/qUiEt"};
    for (size_t i = 0; i < ARRAYSIZE(quietForms); i++) {
        SCOPED_TRACE(quietForms[i]);
        std::wstring path = folder / (L"case-" + std::to_wstring(i) + L".log");
        RunWith(std::wstring(quietForms[i]) + L" /LOG:" + path + L" /sIgNaTuRe:AbC");
        EXPECT_EQ(ShellLogLines(path), (Lines{Separator, Quietly, L"Using signature [AbC]", LogLocation(path),
                                             L"Finishing"}));
    }
}

TEST_F(OptionsTest, ValuesKeepTheirCaseAndText)
{
    // The log path keeps its case in the header; percent signs are not expanded in a signature.
    std::wstring path = folder / L"MiXeD.Log";
    RunWith(L"/Quiet /SIGNATURE:aBc%TEMP%100% /Log:" + path);
    EXPECT_EQ(ShellLogLines(path), (Lines{Separator, Quietly, L"Using signature [aBc%TEMP%100%]", LogLocation(path),
                                         L"Finishing"}));
}

TEST_F(OptionsTest, HeaderOrderDoesNotFollowTheCommandLine)
{
    RunWith(L"/Log:" + log + L" /Signature:s1 /Quiet");
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, L"Using signature [s1]", LogLocation(log), L"Finishing"}));
}

TEST_F(OptionsTest, PreviewHeaderLineComesAfterTheOtherHeaderLines)
{
    RunWith(L"/preview /Log:" + log + L" /Signature:s1 /Quiet");
    EXPECT_EQ(ShellLogLines(log),
              (Lines{Separator, Quietly, L"Using signature [s1]", LogLocation(log), Previewing, L"Finishing"}));
}

TEST_F(OptionsTest, WithBothNewOptionsThePreviewLineComesBeforeTheProfilesLine)
{
    RunWith(L"/AllProfiles /Quiet /Preview /Log:" + log);
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, LogLocation(log), Previewing, Including, L"Finishing"}));
}

TEST_F(OptionsTest, RepeatedOptionsTheLastOneWins)
{
    std::wstring first = folder / L"first.log";
    RunWith(L"/Quiet /Quiet /Signature:one /Log:" + first + L" /Signature:two /QUIET /Log:" + log);
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, L"Using signature [two]", LogLocation(log), L"Finishing"}));
    EXPECT_FALSE(Exists(first));
}

TEST_F(OptionsTest, EmptySignatureClearsAnEarlierOne)
{
    RunWith(L"/Quiet /Signature:one /Log:" + log + L" /Signature:");
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, LogLocation(log), L"Finishing"}));
}

TEST_F(OptionsTest, EmptyLogClearsAnEarlierOne)
{
    RunWith(L"/Quiet /Log:" + log + L" /Log:");
    EXPECT_FALSE(Exists(log));
    EXPECT_EQ(ShellLogLines(DefaultLog()), (Lines{Separator, Quietly, L"Finishing"}));
}

TEST_F(OptionsTest, UnquotedBlankEndsTheSignature)
{
    RunWith(L"/Quiet /Signature:first second /Log:" + log);
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, L"Using signature [first]", LogLocation(log), L"Finishing"}));
}

TEST_F(OptionsTest, QuotedSignatureKeepsItsBlank)
{
    RunWith(L"/Quiet /Signature:\"first second\" /Log:" + log);
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, L"Using signature [first second]", LogLocation(log),
                                        L"Finishing"}));
}

TEST_F(OptionsTest, LogPathWithBlankInQuotes)
{
    // The parser consumes these quotes: the value arrives without them.
    std::wstring path = folder / L"with blank.log";
    RunWith(L"/Quiet /Log:" + Quoted(path));
    EXPECT_EQ(ShellLogLines(path), (Lines{Separator, Quietly, LogLocation(path), L"Finishing"}));
}

TEST_F(OptionsTest, EscapedQuotesAroundTheLogPathAreRemoved)
{
    // \" puts a real double quote into the argument: /Log:"<path>" and /Log:"""<path>"".
    std::wstring path = folder / L"escaped.log";
    RunWith(L"/Quiet /Log:\\\"" + path + L"\\\"");
    EXPECT_EQ(ShellLogLines(path), (Lines{Separator, Quietly, LogLocation(path), L"Finishing"}));

    std::wstring runs = folder / L"runs.log";
    RunWith(L"/Quiet /Log:\\\"\\\"\\\"" + runs + L"\\\"\\\"");
    EXPECT_EQ(ShellLogLines(runs), (Lines{Separator, Quietly, LogLocation(runs), L"Finishing"}));
}

TEST_F(OptionsTest, LogOfQuotesOnlyIsTheDefaultLog)
{
    RunWith(L"/Quiet /Log:" + log + L" /Log:\\\"\\\"\\\"");
    EXPECT_FALSE(Exists(log));
    EXPECT_EQ(ShellLogLines(DefaultLog()), (Lines{Separator, Quietly, L"Finishing"}));
}

TEST_F(OptionsTest, LogPathIsShownUnexpandedAndWrittenExpanded)
{
    SetEnvironmentVariableW(L"ZC_OPTIONS_FOLDER", folder.Path().c_str());
    RunWith(L"/Quiet /Log:%ZC_OPTIONS_FOLDER%\\expanded.log");
    SetEnvironmentVariableW(L"ZC_OPTIONS_FOLDER", nullptr);
    EXPECT_EQ(ShellLogLines(folder / L"expanded.log"),
              (Lines{Separator, Quietly, LogLocation(L"%ZC_OPTIONS_FOLDER%\\expanded.log"), L"Finishing"}));
    EXPECT_FALSE(Exists(DefaultLog()));
}

TEST_F(OptionsTest, TempInTheLogPathIsExpanded)
{
    // The temporary folder lies under %TEMP%, so the same file can be named through it.
    std::wstring temp = Expand(L"%TEMP%");
    ASSERT_EQ(folder.Path().compare(0, temp.size(), temp), 0);
    std::wstring relative = folder.Path().substr(temp.size()) + L"\\temp.log";
    RunWith(L"/Quiet /Log:%TEMP%" + relative);
    EXPECT_EQ(ShellLogLines(folder / L"temp.log"),
              (Lines{Separator, Quietly, LogLocation(L"%TEMP%" + relative), L"Finishing"}));
}

TEST_F(OptionsTest, FirstTokenIsExaminedToo)
{
    // No program path in front: the first token is an option like any other.
    Run(L"/Quiet /Log:" + log);
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, LogLocation(log), L"Finishing"}));

    std::wstring second = folder / L"second.log";
    Run(L"/Log:" + second + L" /QUIET");
    EXPECT_EQ(ShellLogLines(second), (Lines{Separator, Quietly, LogLocation(second), L"Finishing"}));
}

TEST_F(OptionsTest, HyphenFormsAndOtherWordsAreIgnored)
{
    std::wstring hyphen = folder / L"hyphen.log";
    RunWith(L"/Quiet /Log:" + log + L" -Log:" + hyphen + L" -Signature:x /Signature /Log quiet Quiet /Signaturex");
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, LogLocation(log), L"Finishing"}));
    EXPECT_FALSE(Exists(hyphen));
}

TEST_F(OptionsTest, AllProfilesInAnyCaseAddsTheLastHeaderLineAndNothingBehindIt)
{
    const wchar_t* forms[] = {L"/AllProfiles", L"/allprofiles", L"/ALLPROFILES", L"/AllProfiles:", L"/AllProfilesX",
                              L"-AllProfiles"};
    for (size_t i = 0; i < ARRAYSIZE(forms); i++) {
        SCOPED_TRACE(forms[i]);
        std::wstring path = folder / (L"all-" + std::to_wstring(i) + L".log");
        // Given first, it still comes after the other header lines.
        RunWith(std::wstring(forms[i]) + L" /Quiet /Signature:s /Log:" + path);
        Lines expected = {Separator, Quietly, L"Using signature [s]", LogLocation(path), Including, L"Finishing"};
        if (i >= 3)
            expected.erase(expected.begin() + 4);
        EXPECT_EQ(ShellLogLines(path), expected);
    }
}

// A "/Quiet" that does not match leaves the dialog up: close it and read the log.
void ExpectInteractive(const std::wstring& commandLine, const std::wstring& log, const Lines& expected)
{
    SCOPED_TRACE(commandLine);
    DWORD processId = 0;
    HANDLE process = StartProgram(commandLine, &processId);
    ASSERT_NE(process, nullptr);
    HWND dialog = FindProgramWindow(processId, 20000);
    EXPECT_NE(dialog, nullptr);
    if (dialog != nullptr) {
        EXPECT_TRUE(WaitUntilVisible(dialog, 20000));
        SendMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    }
    DWORD exitCode = 99;
    if (WaitForSingleObject(process, 20000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the dialog did not close";
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
    }
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ShellLogLines(log), expected);
}

TEST_F(OptionsTest, QuietWithSomethingBehindItOrAHyphenIsNotQuiet)
{
    const wchar_t* notQuiet[] = {L"-Quiet", L"/Quiet:", L"/Quiet:1", L"/Quieter", L"Quiet", L"\"/Quiet \""};
    for (size_t i = 0; i < ARRAYSIZE(notQuiet); i++) {
        std::wstring path = folder / (L"not-quiet-" + std::to_wstring(i) + L".log");
        ExpectInteractive(Quoted(ProgramPath()) + L" " + notQuiet[i] + L" /Log:" + path, path,
                          Lines{Separator, LogLocation(path)});
    }
}

TEST_F(OptionsTest, SignatureOf259CharactersIsKept)
{
    std::wstring value(259, L's');
    value[0] = L'A';
    value[258] = L'Z';
    RunWith(L"/Quiet /Signature:" + value + L" /Log:" + log);
    EXPECT_EQ(ShellLogLines(log), (Lines{Separator, Quietly, L"Using signature [" + value + L"]", LogLocation(log),
                                        L"Finishing"}));
}

TEST_F(OptionsTest, OverLongSignatureIsCleared)
{
    // Never cut into a different signature: a value that does not fit counts as none,
    // and it replaces an earlier value like any later option.
    for (size_t length : {260u, 261u, 1000u}) {
        SCOPED_TRACE(length);
        std::wstring path = folder / (std::to_wstring(length) + L".log");
        RunWith(L"/Quiet /Signature:kept /Signature:" + std::wstring(length, L'x') + L" /Log:" + path);
        EXPECT_EQ(ShellLogLines(path), (Lines{Separator, Quietly, LogLocation(path), L"Finishing"}));
    }
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

TEST_F(OptionsTest, LogPathOf259CharactersIsUsed)
{
    std::wstring path = PathOfLength(folder.Path(), 259);
    ASSERT_EQ(path.size(), 259u);
    RunWith(L"/Quiet /Log:" + path);
    EXPECT_EQ(ShellLogLines(path), (Lines{Separator, Quietly, LogLocation(path), L"Finishing"}));
    // Quotes are removed before the length counts: 261 characters with them still fit.
    DeleteFileW(path.c_str());
    RunWith(L"/Quiet /Log:\\\"" + path + L"\\\"");
    EXPECT_EQ(ShellLogLines(path), (Lines{Separator, Quietly, LogLocation(path), L"Finishing"}));
}

TEST_F(OptionsTest, OverLongLogPathIsClearedAndTheDefaultLogUsed)
{
    std::wstring path = PathOfLength(folder.Path(), 260);
    ASSERT_EQ(path.size(), 260u);
    RunWith(L"/Quiet /Log:" + log + L" /Signature:s /Log:" + path);
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(Exists(log));
    EXPECT_EQ(ShellLogLines(DefaultLog()), (Lines{Separator, Quietly, L"Using signature [s]", L"Finishing"}));
}

// The parser itself, for values the log cannot show.
class ParseOptionsTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset()
    {
        QuietMode = false;
        PreviewMode = false;
        AllProfiles = false;
        DeleteAtRestart = false;
        ReportExitCode = false;
        Signature[0] = L'\0';
        LogPath[0] = L'\0';
    }
    void Parse(std::vector<std::wstring> arguments)
    {
        std::vector<wchar_t*> vector;
        for (std::wstring& argument : arguments)
            vector.push_back(&argument[0]);
        ParseOptions(static_cast<int>(vector.size()), vector.data());
    }
};

TEST_F(ParseOptionsTest, QuotesInsideTheLogPathStay)
{
    Parse({L"/Log:\"\"a\"b\" c\"\""});
    EXPECT_STREQ(LogPath, L"a\"b\" c");
    Parse({L"/Log:  \"x\"  "});
    EXPECT_STREQ(LogPath, L"  \"x\"  ");
    Parse({L"/Log:\""});
    EXPECT_STREQ(LogPath, L"");
}

TEST_F(ParseOptionsTest, SignatureKeepsQuotesAndBlanks)
{
    Parse({L"/Signature:\" a \""});
    EXPECT_STREQ(Signature, L"\" a \"");
}

TEST_F(ParseOptionsTest, OverLongValuesLeaveTheOtherSettingsAlone)
{
    wcscpy(LogPath, L"C:\\keep.log");
    Parse({L"/Signature:" + std::wstring(5000, L'x')});
    EXPECT_STREQ(Signature, L"");
    EXPECT_STREQ(LogPath, L"C:\\keep.log");
    EXPECT_FALSE(QuietMode);

    wcscpy(Signature, L"keep");
    Parse({L"/Log:" + std::wstring(5000, L'y')});
    EXPECT_STREQ(LogPath, L"");
    EXPECT_STREQ(Signature, L"keep");

    Parse({L"/Log:\"" + std::wstring(259, L'z') + L"\""});
    EXPECT_EQ(std::wstring(LogPath), std::wstring(259, L'z'));
}

TEST_F(ParseOptionsTest, AllProfilesIsTheWholeArgumentOnly)
{
    Parse({L"/AllProfiles:", L"/AllProfiles ", L"/AllProfilesX", L"\"/AllProfiles\""});
    EXPECT_FALSE(AllProfiles);
    Parse({L"x", L"/aLLpROFILES"});
    EXPECT_TRUE(AllProfiles);
    EXPECT_FALSE(QuietMode);
}

TEST_F(ParseOptionsTest, PreviewIsOneWholeArgumentInAnyLetterCase)
{
    Parse({L"/Preview:", L"/Previewer", L"-Preview", L"Preview", L"/Preview:1"});
    EXPECT_FALSE(PreviewMode);
    Parse({L"/pReViEw"});
    EXPECT_TRUE(PreviewMode);
    EXPECT_FALSE(QuietMode);
}

TEST_F(ParseOptionsTest, DeploymentOptionsAreWholeArgumentsInAnyLetterCase)
{
    Parse({L"/ExitCode:", L"/ExitCodes", L"-ExitCode", L"ExitCode", L"/DeleteAtRestart:1", L"/DeleteAtRestarts",
           L"/Delete"});
    EXPECT_FALSE(ReportExitCode);
    EXPECT_FALSE(DeleteAtRestart);
    Parse({L"/eXiTcOdE"});
    EXPECT_TRUE(ReportExitCode);
    EXPECT_FALSE(DeleteAtRestart);
    Parse({L"/Quiet", L"/DELETEATRESTART"});
    EXPECT_TRUE(DeleteAtRestart);
    EXPECT_FALSE(PreviewMode);
}

TEST_F(ParseOptionsTest, EmptyVectorChangesNothing)
{
    wcscpy(Signature, L"keep");
    ParseOptions(0, nullptr);
    EXPECT_STREQ(Signature, L"keep");
    EXPECT_FALSE(QuietMode);
}

} // namespace
