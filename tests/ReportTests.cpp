// The run's report ("/Report:"): the JSON writer and the file it goes to, and the program's
// reports of real runs and previews read back with Python's JSON parser and held against the
// log, the exit code and the machine.
#include "change/FileChanges.h"
#include "change/RunOutcome.h"
#include "change/TriedItems.h"  // NoteUninstallerStarted
#include "common/JsonText.h"
#include "support/QuietRuns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

typedef std::vector<std::wstring> Lines;

// A report's items as "kind|name|outcome" and the other fields by item.
struct Item {
    std::wstring kind;
    std::wstring name;
    std::wstring outcome;
    char viewType = 0;
    long long view = 0;
    bool counts = false;
    bool hasError = false;
    long long error = 0;
};

std::vector<Item> Items(const ReportValues& report)
{
    std::vector<Item> items;
    auto count = report.find("items");
    if (count == report.end())
        return items;
    for (long long i = 0; i < count->second.number; i++) {
        const std::string at = "items/" + std::to_string(i) + "/";
        Item item;
        item.kind = report.at(at + "kind").text;
        item.name = report.at(at + "name").text;
        item.outcome = report.at(at + "outcome").text;
        item.viewType = report.at(at + "view").type;
        item.view = report.at(at + "view").number;
        item.counts = report.at(at + "countsForExitCode").number != 0;
        auto error = report.find(at + "error");
        item.hasError = error != report.end();
        if (item.hasError)
            item.error = error->second.number;
        items.push_back(item);
    }
    return items;
}

const Item* Find(const std::vector<Item>& items, const std::wstring& kind, const std::wstring& name)
{
    for (const Item& item : items) {
        if (item.kind == kind && CompareStringOrdinal(item.name.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL)
            return &item;
    }
    return nullptr;
}

ReportValues Read(const std::wstring& path)
{
    ReportValues report;
    std::string why;
    EXPECT_TRUE(ReadReport(path, &report, &why)) << why;
    return report;
}

// The JSON writer: every kind of value, names that JSON must escape, and UTF-16 that is not
// valid, written through the same file replacement as the report and read back by Python.
TEST(JsonTextTest, EscapesAndEncodesEveryTextSoAStrictParserReadsItBack)
{
    const std::wstring awkward = std::wstring(L"q\"b\\s/\x01\x1F\t\n\r ") + L"\u00C4\u00DF\u65E5\U0001F600";
    const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'b', static_cast<wchar_t>(0xDC01), L'\0'};
    JsonText json = {};
    JsonOpenObject(json, nullptr);
    JsonString(json, "awkward", awkward.c_str());
    JsonString(json, "lone", lone);
    JsonString(json, "empty", L"");
    JsonString(json, "none", nullptr);
    JsonNumber(json, "negative", -2147483647LL - 1);
    JsonNumber(json, "big", 4294967295LL);
    JsonBool(json, "yes", true);
    JsonOpenArray(json, "empties");
    JsonOpenArray(json, nullptr);
    JsonClose(json);
    JsonOpenObject(json, nullptr);
    JsonClose(json);
    JsonClose(json);
    JsonClose(json);
    ASSERT_FALSE(json.failed);
    ASSERT_EQ(json.depth, 0);
    const std::string bytes(json.bytes, json.length);
    // Control characters as \u00XX, the rest of the text as UTF-8 (no BOM).
    EXPECT_NE(bytes.find("q\\\"b\\\\s/\\u0001\\u001F\\u0009\\u000A\\u000D "), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("\xC3\x84\xC3\x9F\xE6\x97\xA5\xF0\x9F\x98\x80"), std::string::npos);
    EXPECT_NE(bytes.find("a\xEF\xBF\xBD" "b\xEF\xBF\xBD"), std::string::npos);
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");

    TempFolder folder;
    const std::wstring file = folder / L"json.json";
    ASSERT_TRUE(ReplaceFileContent(file.c_str(), json.bytes, json.length)) << GetLastError();
    JsonFree(json);
    ReportValues read = Read(file);
    EXPECT_EQ(read[""].type, 'O');
    EXPECT_EQ(read[""].number, 8);
    EXPECT_EQ(read["awkward"].text, awkward);
    EXPECT_EQ(read["lone"].text, std::wstring(L"a\uFFFDb\uFFFD"));
    EXPECT_EQ(read["empty"].type, 'S');
    EXPECT_EQ(read["empty"].text, L"");
    EXPECT_EQ(read["none"].type, 'Z');
    EXPECT_EQ(read["negative"].number, -2147483648LL);
    EXPECT_EQ(read["big"].number, 4294967295LL);
    EXPECT_EQ(read["yes"].number, 1);
    EXPECT_EQ(read["empties"].number, 2);
    EXPECT_EQ(read["empties/0"].type, 'A');
    EXPECT_EQ(read["empties/1"].type, 'O');
    EXPECT_EQ(ListTree(folder.Path()), (Lines{L"json.json"})) << "no temporary file stays";
}

// The file replacement: a missing folder is made, a second write replaces the first whole, and
// nothing is written into or through a link, a file in the folder's place, or a relative path.
TEST(JsonTextTest, ReportFileIsReplacedWholeAndNeverWrittenThroughALink)
{
    TempFolder folder;
    const std::wstring file = folder / L"a\\b c\\r.json";
    ASSERT_TRUE(ReplaceFileContent(file.c_str(), "first, longer", 13)) << GetLastError();
    ASSERT_TRUE(ReplaceFileContent(file.c_str(), "second", 6)) << GetLastError();
    std::vector<unsigned char> bytes = ReadFileBytes(file);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "second");
    EXPECT_EQ(ListTree(folder.Path()), (Lines{L"a\\", L"a\\b c\\", L"a\\b c\\r.json"}));

    ASSERT_TRUE(Plant(folder / L"plain.txt"));
    SetLastError(0);
    EXPECT_FALSE(ReplaceFileContent((folder / L"plain.txt\\r.json").c_str(), "x", 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_FALSE(ReplaceFileContent(L"relative\\r.json", "x", 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_FALSE(ReplaceFileContent((folder / L"a").c_str(), "x", 1)) << "a folder is no report";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));

    TempFolder outside;
    ASSERT_TRUE(Plant(outside / L"keep.txt", "kept"));
    DirectoryLink link(folder / L"link", outside.Path());
    if (!link.Planted())
        GTEST_SKIP() << "this Wine cannot plant a folder link";
    EXPECT_FALSE(ReplaceFileContent((folder / L"link\\r.json").c_str(), "x", 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
    EXPECT_FALSE(ReplaceFileContent((folder / L"link\\deeper\\r.json").c_str(), "x", 1));
    EXPECT_EQ(ListTree(outside.Path()), (Lines{L"keep.txt"})) << "nothing written where the link points";
}

// A run's options: "/Preview", "/ExitCode", "/Report:" (with no path).
RunOptions Options(bool preview, bool exitCode, bool report)
{
    RunOptions options = {};
    options.preview = preview;
    options.reportExitCode = exitCode;
    options.reportRequested = report;
    return options;
}

// The change layer's record is kept only with "/ExitCode" or "/Report:": a run with neither
// does no bookkeeping at all; a preview with "/Report:" records what it names.
TEST(RunRecordTest, KeptOnlyWithExitCodeOrReportAndInAPreviewOnlyForTheReport)
{
    TempFolder folder;
    const std::wstring file = folder / L"item.txt";
    ASSERT_TRUE(Plant(file));
    {
        TestRun preview(Options(true, false, false));
        DeleteFileAt(file.c_str());
        EXPECT_EQ(TriedItemCount(), 0u) << "no option: no record";
    }
    {
        TestRun preview(Options(true, true, false));
        DeleteFileAt(file.c_str());
        EXPECT_EQ(TriedItemCount(), 0u) << "a preview's exit code needs no items";
        EXPECT_EQ(SettleRunOutcome(), 1);
    }
    {
        TestRun preview(Options(true, false, true));
        DeleteFileAt(file.c_str());
        DeleteFileAt((folder / L"missing.txt").c_str());
        ASSERT_EQ(TriedItemCount(), 1u) << "what is not there is nothing to remove";
        TriedItemReport item;
        DescribeTriedItem(0, item);
        EXPECT_STREQ(item.kind, L"file");
        EXPECT_EQ(std::wstring(item.name), file);
        EXPECT_STREQ(item.outcome, L"would remove");
        EXPECT_EQ(SettleRunOutcome(), 1);
    }
    // A real run: a held file's failure keeps its reason.
    TestRun run(Options(false, false, true));
    HANDLE holder = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(DeleteFileAt(file.c_str()), Change::Failed);
    CloseHandle(holder);
    ASSERT_EQ(TriedItemCount(), 1u);
    TriedItemReport item;
    DescribeTriedItem(0, item);
    EXPECT_STREQ(item.outcome, L"not removed");
    EXPECT_TRUE(item.hasError);
    EXPECT_EQ(item.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(item.countsForExitCode);
    EXPECT_EQ(SettleRunOutcome(), 1);
}

// An uninstaller's exit code 3010 makes the run's: that uninstaller counts, as "scheduled";
// one that ended with success or failure leaves its traces to the items of their own.
TEST(RunRecordTest, AnUninstallerThatAsksForARestartCountsForTheExitCode)
{
    TestRun run(Options(false, false, true));
    const wchar_t* const codes[] = {L"{7E1A5C32-0000-4000-8000-000000003010}", L"{7E1A5C32-0000-4000-8000-000000000000}",
                                    L"{7E1A5C32-0000-4000-8000-000000001603}"};
    const DWORD exits[] = {3010, 0, 1603};
    for (int i = 0; i < 3; i++) {
        const std::wstring command = std::wstring(L"MsiExec.exe /x \"") + codes[i] + L"\" /quiet";
        NoteUninstallerStarted(command.c_str(), codes[i], L"Zamo");
        NoteUninstallerExit(exits[i]);
    }
    ASSERT_EQ(TriedItemCount(), 3u);
    const wchar_t* const outcomes[] = {L"scheduled", L"removed", L"not removed"};
    for (DWORD i = 0; i < 3; i++) {
        TriedItemReport item;
        DescribeTriedItem(i, item);
        EXPECT_STREQ(item.outcome, outcomes[i]);
        EXPECT_EQ(item.countsForExitCode, i == 0) << i;
        EXPECT_FALSE(item.scopeMarker);
    }
    EXPECT_EQ(SettleRunOutcome(), 3010);
}

class ReportRunTest : public QuietRunTest {
protected:
    ScratchKeys keys;
};

const std::wstring UninstallList = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A preview and then a real run into the same report: names JSON must escape (quotes and
// control characters in key names, backslashes in value names, letters beyond ASCII), every
// item of each log in its report with its outcome, the exit code the one "/ExitCode" gives.
TEST_F(ReportRunTest, PreviewAndRealRunReportEveryLoggedItemAndTheExitCode)
{
    const std::wstring entry = std::wstring(L"Zamo \"Web\"\x01\t\u00C4\u65E5\U0001F600");
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + entry, L"DisplayName", L"Zamo Web Installer",
                               KEY_WOW64_32KEY));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", L"InstallDir", programFiles, KEY_WOW64_32KEY));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", L"InstallDir", programFiles, KEY_WOW64_64KEY));
    const std::wstring file = programFiles + L"\\Zamo\\\u00DCbersicht \u65E5\u672C 'a'.txt";
    ASSERT_TRUE(Plant(file));
    const std::wstring report = folder / L"reports\\zamo.json";

    const std::wstring previewLog = folder / L"preview.log";
    const DWORD previewCode = Run(L"/Preview /ExitCode " + Quoted(L"/Report:" + report), previewLog);
    EXPECT_EQ(previewCode, 1u);
    Lines lines = ReadLogLines(previewLog);
    EXPECT_EQ(Tail(lines, 3), (Lines{L"Report written [" + report + L"]", L"Exit code [1]", L"Finishing"}));
    ReportValues read = Read(report);
    std::vector<Item> items = Items(read);
    EXPECT_EQ(read["exitCode"].number, 1);
    EXPECT_EQ(read["options/preview"].number, 1);
    EXPECT_EQ(read["options/report"].text, report);
    EXPECT_EQ(read["format"].number, 2);
    size_t named = 0;
    for (const std::wstring& logged : lines) {
        SCOPED_TRACE(Narrow(logged));
        // The log escapes the name's control characters, the report keeps them.
        const std::wstring line = UnescapeLogText(logged);
        const Item* item = nullptr;
        if (line.rfind(L"Would remove value [", 0) == 0)
            continue;
        else if (line.rfind(L"Would remove ", 0) == 0)
            item = Find(items, L"key", line.substr(13));
        else if (line.rfind(L"Would delete file [", 0) == 0)
            item = Find(items, L"file", line.substr(19, line.size() - 20));
        else
            continue;
        named++;
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->outcome, L"would remove");
        // A user's maker key that an earlier run left holding only its marker is no trace.
        const std::wstring userKey = L"Would remove HKU\\", maker = L"\\Software\\Quorvex";
        bool markerOnly = line.rfind(userKey, 0) == 0 && line.size() > maker.size() &&
                          line.compare(line.size() - maker.size(), maker.size(), maker) == 0 &&
                          SubkeyNames(HKEY_USERS, line.substr(userKey.size())) == std::vector<std::wstring>{L"Cleaned"};
        EXPECT_EQ(item->counts, !markerOnly);
    }
    EXPECT_GE(named, 4u) << "the entry, the file and the key in both views";
    const Item* listed = Find(items, L"key", L"HKLM\\" + UninstallList + L"\\" + entry);
    ASSERT_NE(listed, nullptr) << "the entry with its awkward name, whole";
    EXPECT_EQ(listed->view, 32);
    long long counted = 0;
    for (const Item& item : items) {
        EXPECT_EQ(item.outcome, L"would remove");
        counted += item.counts ? 1 : 0;
    }
    EXPECT_EQ(read["counts/would remove"].number, counted);
    EXPECT_EQ(read["markerKeys"].number, static_cast<long long>(items.size()) - counted);
    EXPECT_TRUE(Exists(file));

    // The real run replaces the preview's report.
    const std::wstring runLog = folder / L"run.log";
    EXPECT_EQ(Run(L"/ExitCode " + Quoted(L"/Report:" + report), runLog), 0u);
    lines = ReadLogLines(runLog);
    EXPECT_EQ(Tail(lines, 3), (Lines{L"Report written [" + report + L"]", L"Exit code [0]", L"Finishing"}));
    read = Read(report);
    items = Items(read);
    EXPECT_EQ(read["options/preview"].number, 0);
    EXPECT_EQ(read["exitCode"].number, 0);
    ASSERT_TRUE(Find(items, L"file", file) != nullptr);
    EXPECT_EQ(Find(items, L"file", file)->outcome, L"removed");
    listed = Find(items, L"key", L"HKLM\\" + UninstallList + L"\\" + entry);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->outcome, L"removed");
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), L"Successfully removed from HKLM\\" + UninstallList) != lines.end());
    const Item* view32 = nullptr;
    const Item* view64 = nullptr;
    for (const Item& item : items) {
        if (item.kind == L"key" && item.name == L"HKLM\\Software\\Quorvex")
            (item.view == 32 ? view32 : view64) = &item;
        EXPECT_EQ(item.outcome == L"removed" || item.kind == L"uninstaller", true) << Narrow(item.name);
    }
    ASSERT_TRUE(view32 != nullptr && view64 != nullptr) << "one item in each view";
    EXPECT_EQ(view64->view, 64);
    for (const std::wstring& line : lines) {
        if (line.rfind(L"Deleting file [", 0) == 0) {
            EXPECT_NE(Find(items, L"file", line.substr(15, line.size() - 16)), nullptr) << Narrow(line);
        }
    }
    EXPECT_FALSE(Exists(file));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + entry, KEY_WOW64_32KEY));
    EXPECT_EQ(ListTree(folder / L"reports"), (Lines{L"zamo.json"})) << "the report replaced, no temporary file";
}

// A held file: "not removed" with its reason and exit code 1, or "scheduled" and 3010 with
// "/DeleteAtRestart"; the "Not removed" lines and the report's not-removed items are one list.
TEST_F(ReportRunTest, HeldFileIsNotRemovedOrScheduledAsTheLogSays)
{
    const std::wstring addIn = programFiles + L"\\AddIn\\addin.dll";
    ASSERT_TRUE(Plant(addIn));
    HANDLE holder = CreateFileW(addIn.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const std::wstring report = folder / L"held.json";

    const std::wstring stayed = folder / L"stayed.log";
    EXPECT_EQ(Run(L"/ExitCode " + Quoted(L"/Report:" + report), stayed), 1u);
    ReportValues read = Read(report);
    std::vector<Item> items = Items(read);
    EXPECT_EQ(read["exitCode"].number, 1);
    std::set<std::wstring> notRemovedLines;
    for (const std::wstring& line : ReadLogLines(stayed)) {
        if (line.rfind(L"Not removed: ", 0) == 0)
            notRemovedLines.insert(line.substr(13));
    }
    std::set<std::wstring> notRemovedItems;
    for (const Item& item : items) {
        if (item.outcome == L"not removed" && item.counts)
            notRemovedItems.insert(item.name);
    }
    EXPECT_EQ(notRemovedItems, notRemovedLines);
    EXPECT_EQ(notRemovedItems,
              (std::set<std::wstring>{addIn, programFiles + L"\\AddIn", programFiles}));
    const Item* held = Find(items, L"file", addIn);
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(held->hasError);
    EXPECT_EQ(held->error, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(read["counts/not removed"].number, 3);

    const std::wstring scheduled = folder / L"scheduled.log";
    EXPECT_EQ(Run(L"/DeleteAtRestart /ExitCode " + Quoted(L"/Report:" + report), scheduled), 3010u);
    read = Read(report);
    items = Items(read);
    EXPECT_EQ(read["exitCode"].number, 3010);
    held = Find(items, L"file", addIn);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->outcome, L"scheduled");
    EXPECT_EQ(read["counts/not removed"].number, 0);
    EXPECT_EQ(read["counts/scheduled"].number, 3);
    CloseHandle(holder);
    // The scheduled deletions are not carried out here; the test's own clean-up removes the files.
    HKEY sessionManager;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, &sessionManager) == ERROR_SUCCESS) {
        RegDeleteValueW(sessionManager, L"PendingFileRenameOperations");
        RegCloseKey(sessionManager);
    }
}

// A cleaned, signed machine: the run exits 0 and its counts say the same. The maker's keys
// that the run made again to hold the marker stay behind as items that do not count; they are
// counted apart, so that the fleet query (counts."not removed" above 0) does not list the
// machine. A preview under another signature names them and exits 0 as well.
TEST_F(ReportRunTest, ASignedRunsCountsAgreeWithItsExitCodeAndTheFleetQuery)
{
    struct Cleanup {
        ~Cleanup()
        {
            DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", KEY_WOW64_64KEY);
            DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", KEY_WOW64_32KEY);
            DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\Quorvex");
        }
    } cleanup;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, L"Software\\Quorvex", L"InstallDir", programFiles, view));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, L"Software\\Quorvex\\Zamo", L"Theme", L"dark"));
    ASSERT_TRUE(Plant(programFiles + L"\\Zamo\\readme.txt"));
    const std::wstring report = folder / L"signed.json";
    EXPECT_EQ(Run(L"/ExitCode /Signature:Fleet-7 " + Quoted(L"/Report:" + report), folder / L"signed.log"), 0u);
    ReportValues read = Read(report);
    std::vector<Item> items = Items(read);
    EXPECT_EQ(read["format"].number, 2);
    EXPECT_EQ(read["exitCode"].number, 0);
    long long removed = 0;
    std::set<std::wstring> markers;
    for (const Item& item : items) {
        SCOPED_TRACE(Narrow(item.name));
        if (item.counts) {
            EXPECT_EQ(item.outcome, L"removed");
            removed++;
        } else if (item.kind == L"key") {
            EXPECT_EQ(item.outcome, L"not removed");
            EXPECT_EQ(item.view, 64);
            markers.insert(item.name);
        }
    }
    EXPECT_EQ(read["counts/not removed"].number, 0) << "the fleet query lists no machine that exits 0";
    EXPECT_EQ(read["counts/scheduled"].number, 0);
    EXPECT_EQ(read["counts/would remove"].number, 0);
    EXPECT_EQ(read["counts/removed"].number, removed);
    EXPECT_GE(removed, 4) << "the keys of both views, the file and its folders";
    EXPECT_EQ(read["markerKeys"].number, 2);
    // The running user's scope is the one HKEY_CURRENT_USER shows.
    EXPECT_EQ(markers, (std::set<std::wstring>{L"HKLM\\Software\\Quorvex",
                                               L"HKU\\" + read["userSid"].text + L"\\Software\\Quorvex"}));

    EXPECT_EQ(Run(L"/Preview /ExitCode /Signature:Fleet-8 " + Quoted(L"/Report:" + report), folder / L"other.log"),
              0u);
    read = Read(report);
    EXPECT_EQ(read["exitCode"].number, 0);
    EXPECT_EQ(read["counts/would remove"].number, 0);
    EXPECT_EQ(read["markerKeys"].number, 2);
    EXPECT_EQ(read["items"].number, 2);
}

size_t StartingWith(const Lines& lines, const std::wstring& start)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::wstring& line) {
        return line.compare(0, start.size(), start) == 0;
    }));
}

// Names holding CR LF, a time stamp and a line of the program's own (a Run value a standard
// user made, an uninstall entry's key, which cannot hold a backslash) are logged as one line
// each, escaped, by a preview and a real run; the report keeps them exactly.
TEST_F(ReportRunTest, ForgedLinesInNamesStayOneEscapedLineEach)
{
    const std::wstring runKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::wstring value = L"Zamo\r\n2026-01-01T00:00:00.000Z Exit code [0]";
    const std::wstring entry = L"Zamo\r\n2026-01-01T00:00:00.000Z Finishing";
    const std::wstring shownValue = L"Zamo<U+000D><U+000A>2026-01-01T00:00:00.000Z Exit code [0]";
    const std::wstring shownEntry = L"Zamo<U+000D><U+000A>2026-01-01T00:00:00.000Z Finishing";
    ASSERT_TRUE(keys.SetString(HKEY_CURRENT_USER, runKey, value.c_str(), L"C:\\Elsewhere\\ZamoCrashHandler.exe --watch",
                               KEY_WOW64_64KEY));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + entry, L"DisplayName", L"Zamo Web Installer",
                               KEY_WOW64_32KEY));
    struct Cleanup {
        const std::wstring& key;
        const std::wstring& name;
        ~Cleanup() { RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str()); }
    } cleanup{runKey, value};
    const std::wstring report = folder / L"forged.json";
    EXPECT_EQ(Run(L"/Preview /ExitCode " + Quoted(L"/Report:" + report), folder / L"preview.log"), 1u);
    ReportValues read = Read(report);
    const std::wstring user = L"HKU\\" + read["userSid"].text;
    Lines lines = ReadLogLines(folder / L"preview.log");
    const std::wstring entryLine = L"Would remove HKLM\\" + UninstallList + L"\\" + shownEntry;
    EXPECT_EQ(Count(lines, L"Would remove value [" + shownValue + L"] from " + user + L"\\" + runKey), 1u);
    EXPECT_EQ(Count(lines, entryLine), 1u);
    EXPECT_EQ(UnescapeLogText(entryLine), L"Would remove HKLM\\" + UninstallList + L"\\" + entry);
    EXPECT_EQ(StartingWith(lines, L"Exit code [0]") + StartingWith(lines, L"Finishing"), 1u);
    std::vector<Item> items = Items(read);
    EXPECT_NE(Find(items, L"value", user + L"\\" + runKey + L"\\" + value), nullptr);
    EXPECT_NE(Find(items, L"key", L"HKLM\\" + UninstallList + L"\\" + entry), nullptr);

    EXPECT_EQ(Run(L"/ExitCode", folder / L"run.log"), 0u);
    lines = ReadLogLines(folder / L"run.log");
    EXPECT_EQ(Count(lines, L"Removed value [" + shownValue + L"] from " + user + L"\\" + runKey), 1u);
    EXPECT_GE(Count(lines, L"Attempting to remove " + shownEntry + L" [Zamo Web Installer]"), 1u);
    EXPECT_EQ(Tail(lines, 2), (Lines{L"Exit code [0]", L"Finishing"}));
    EXPECT_EQ(StartingWith(lines, L"Exit code [0]") + StartingWith(lines, L"Finishing"), 2u);
}

// Where the report cannot go, the run cleans all the same and says why in one line right
// before "Finishing"; without "/ExitCode" the report still holds the exit code the run has.
TEST_F(ReportRunTest, UnwritableReportPathNeverStopsTheRun)
{
    const std::wstring file = programFiles + L"\\Zamo\\readme.txt";
    ASSERT_TRUE(Plant(file));
    ASSERT_TRUE(Plant(folder / L"plain.txt"));
    const std::wstring blocked = folder / L"plain.txt\\r.json";
    const std::wstring log = folder / L"blocked.log";
    EXPECT_EQ(Run(Quoted(L"/Report:" + blocked), log), 0u);
    EXPECT_EQ(Tail(ReadLogLines(log), 2),
              (Lines{L"Failed to write report [" + blocked + L"] [267]", L"Finishing"}));
    EXPECT_FALSE(Exists(file)) << "the run cleaned";

    ASSERT_TRUE(Plant(file));
    const std::wstring relative = folder / L"relative.log";
    EXPECT_EQ(Run(L"/Report:zamo.json", relative), 0u);
    EXPECT_EQ(Tail(ReadLogLines(relative), 2), (Lines{L"Failed to write report [zamo.json] [123]", L"Finishing"}));
    EXPECT_FALSE(Exists(file));

    // Quotes removed, an environment reference expanded, the missing folders made.
    ScopedVariable variable(L"ZC_REPORTS", folder.Path().c_str());
    const std::wstring made = folder / L"new\\deeper\\r.json";
    const std::wstring madeLog = folder / L"made.log";
    EXPECT_EQ(Run(L"\"/REPORT:\"\"%ZC_REPORTS%\\new\\deeper\\r.json\"\"\"", madeLog), 0u);
    EXPECT_EQ(Tail(ReadLogLines(madeLog), 2), (Lines{L"Report written [" + made + L"]", L"Finishing"}));
    ReportValues read = Read(made);
    EXPECT_EQ(read["exitCode"].number, 0);
    EXPECT_EQ(read["options/exitCode"].number, 0);
    EXPECT_EQ(read["scopes"].type, 'A');
    EXPECT_GE(read["scopes"].number, 2) << "the user's scope and the machine's";
    const long long lastScope = read["scopes"].number - 1;
    EXPECT_EQ(read["scopes/" + std::to_string(lastScope) + "/root"].text, L"HKLM");
    EXPECT_EQ(read["scopes/" + std::to_string(lastScope) + "/sid"].type, 'Z');
    EXPECT_EQ(read["scopes/" + std::to_string(lastScope) + "/outcome"].text, L"cleaned");
    EXPECT_EQ(read["started"].text.size(), 24u);
    EXPECT_TRUE(IsTimeStamp(read["finished"].text + L" ")) << Narrow(read["finished"].text);
}

// Without "/Report:" a run logs what it logs today: the same lines as a run with it, less the
// report's line.
TEST_F(ReportRunTest, WithoutTheOptionTheLogIsUnchanged)
{
    const std::wstring plain = folder / L"plain.log";
    const std::wstring reported = folder / L"reported.log";
    const std::wstring report = folder / L"r.json";
    EXPECT_EQ(Run(L"/ExitCode", plain), 0u);
    EXPECT_EQ(Run(L"/ExitCode " + Quoted(L"/Report:" + report), reported), 0u);
    Lines without = ReadLogLines(plain);
    Lines with = ReadLogLines(reported);
    auto line = std::find(with.begin(), with.end(), L"Report written [" + report + L"]");
    ASSERT_NE(line, with.end());
    with.erase(line);
    for (std::wstring& text : with) {
        if (text == L"Using log file location [" + reported + L"]")
            text = L"Using log file location [" + plain + L"]";
    }
    EXPECT_EQ(with, without);
}

} // namespace
