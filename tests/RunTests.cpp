// Runs in one process: each made new with its own options, its record of what it tried and its
// report, one after another or one begun inside another.
#include "change/FileChanges.h"
#include "change/RunOutcome.h"
#include "common/RunningUser.h"
#include "support/QuietRuns.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring Passive = L"Attempting to uninstall Zamo components passively";

// A run of the current user alone with a report of its own and a signature.
RunOptions CurrentUserRun(const std::wstring& report, const wchar_t* signature)
{
    RunOptions options = SignedOptions(signature);
    options.currentUserOnly = true;
    options.reportRequested = true;
    EXPECT_TRUE(TextCopy(options.reportPath, report.c_str()));
    return options;
}

// What a report holds of its options and exit code, then each item's outcome, kind and name,
// marked where it does not count for the exit code.
Lines ReportSummary(const std::wstring& path)
{
    ReportValues read;
    std::string why;
    EXPECT_TRUE(ReadReport(path, &read, &why)) << why;
    Lines summary = {L"preview " + std::to_wstring(read["options/preview"].number),
                     L"signature " + read["options/signature"].text,
                     L"exitCode " + std::to_wstring(read["exitCode"].number)};
    for (long long i = 0; i < read["items"].number; i++) {
        const std::string item = "items/" + std::to_string(i) + "/";
        summary.push_back(read[item + "outcome"].text + L" " + read[item + "kind"].text + L" " +
                          read[item + "name"].text + (read[item + "countsForExitCode"].number == 0 ? L" (not counted)" : L""));
    }
    return summary;
}

// Two whole runs one after the other: a preview with "/ExitCode", then a real run without it.
// Each logs, reports and exits by its own options alone; the second reports none of the
// first's items, and the first's report stays as it was written.
TEST(RunTest, TwoRunsOneAfterTheOtherKeepTheirOwnOptionsRecordsAndReports)
{
    PathBuffer sidText;
    ASSERT_TRUE(ReadRunningUserSidText(sidText));
    const std::wstring sid = sidText;
    const std::wstring maker = sid + L"\\Software\\Quorvex";
    ASSERT_TRUE(SetString(HKEY_USERS, maker + L"\\Zamo", L"Mode", L"1"));
    TempFolder folder;
    const std::wstring first = folder / L"first.json";
    const std::wstring second = folder / L"second.json";
    TestRunLog log;

    RunOptions preview = CurrentUserRun(first, L"Run-One");
    preview.preview = true;
    preview.reportExitCode = true;
    EXPECT_EQ(CleanRunWaitingAtMost(1500, preview), 1);
    EXPECT_TRUE(KeyExists(HKEY_USERS, maker + L"\\Zamo"));
    const Lines firstReport = ReportSummary(first);
    EXPECT_EQ(CleanRunWaitingAtMost(1500, CurrentUserRun(second, L"Run-Two")), 0);
    std::wstring marker;
    EXPECT_TRUE(ReadString(HKEY_USERS, maker + L"\\Cleaned", nullptr, &marker));
    EXPECT_FALSE(KeyExists(HKEY_USERS, maker + L"\\Zamo"));
    DeleteKeyTree(HKEY_USERS, maker);

    const std::wstring shown = L"HKU\\" + sid + L"\\Software\\Quorvex";
    EXPECT_EQ(log.Lines(),
              (Lines{std::wstring(64, L'='), Passive, Passive, L"Would remove " + shown,
                     L"Would mark [HKU," + sid + L"] with signature [Run-One]", L"Report written [" + first + L"]",
                     L"Exit code [1]", L"Finishing", Passive, Passive, L"Successfully removed from " + shown,
                     L"Report written [" + second + L"]", L"Finishing"}));
    EXPECT_EQ(marker, L"Run-Two");
    EXPECT_EQ(firstReport, (Lines{L"preview 1", L"signature Run-One", L"exitCode 1", L"would remove key " + shown}));
    EXPECT_EQ(ReportSummary(first), firstReport);
    // The maker's key holds the second run's marker alone: still there, but no trace of the product.
    EXPECT_EQ(ReportSummary(second),
              (Lines{L"preview 0", L"signature Run-Two", L"exitCode 0", L"not removed key " + shown + L" (not counted)"}));
}

// A run begun inside another keeps its own options and record; the outer run's record is as it
// left it when the inner one ends, and settles by its own options.
TEST(RunTest, ARunBegunInsideAnotherKeepsItsOwnRecord)
{
    TempFolder folder;
    const std::wstring held = folder / L"held.txt";
    const std::wstring other = folder / L"other.txt";
    ASSERT_TRUE(Plant(held) && Plant(other));
    LogCapture log;
    TestRun outer(ExitCodeOptions());
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(DeleteFileAt(held.c_str()), Change::Failed);
    CloseHandle(holder);
    {
        RunOptions options = {};
        options.preview = true;
        options.reportRequested = true;
        TestRun inner(options);
        EXPECT_EQ(TriedItemCount(), 0u);
        EXPECT_EQ(DeleteFileAt(other.c_str()), Change::Previewed);
        ASSERT_EQ(TriedItemCount(), 1u);
        TriedItemReport item;
        DescribeTriedItem(0, item);
        EXPECT_EQ(std::wstring(item.name), other);
        EXPECT_STREQ(item.outcome, L"would remove");
        EXPECT_EQ(LogRunOutcome(), 0) << "the inner run has no \"/ExitCode\"";
    }
    ASSERT_EQ(TriedItemCount(), 1u);
    TriedItemReport item;
    DescribeTriedItem(0, item);
    EXPECT_EQ(std::wstring(item.name), held);
    EXPECT_STREQ(item.outcome, L"not removed");
    EXPECT_EQ(LogRunOutcome(), 1);
    EXPECT_EQ(log.Lines(), (Lines{L"Would delete file [" + other + L"]", L"Not removed: " + held, L"Exit code [1]"}));
    EXPECT_TRUE(Exists(held) && Exists(other));
}

} // namespace
