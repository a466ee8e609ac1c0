// Run log: file format, line format, the line cut, the location rules.
#include "log/log.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// Opens the log for one test with the given "/Log:" value and closes it afterwards.
class RunLogTest : public ::testing::Test {
protected:
    void Open(const std::wstring& logPath)
    {
        OpenRunLog(logPath.c_str());
    }
    void TearDown() override
    {
        CloseRunLog();
    }
    TempFolder folder;
};

std::wstring Repeat(wchar_t c, size_t n)
{
    return std::wstring(n, c);
}

const std::wstring Separator = Repeat(L'=', 64);

// The names in a folder, "." and ".." left out.
std::vector<std::wstring> FolderEntries(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

TEST_F(RunLogTest, NewFileStartsWithTheTimeStampAndNoByteOrderMark)
{
    std::wstring path = folder / L"new.log";
    Open(path);
    ASSERT_TRUE(Exists(path));
    LogLine(L"Finishing");
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], '2');  // the first digit of the year, in UTF-16LE
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(ReadLogLines(path), (std::vector<std::wstring>{Separator, L"Finishing"}));
}

TEST_F(RunLogTest, SecondOpenAppendsAfterTheLastByte)
{
    std::wstring path = folder / L"append.log";
    ASSERT_TRUE(WriteTextFile(path, std::string("a\0b\0", 4)));  // earlier content, no line end
    Open(path);
    LogLine(L"one");
    CloseRunLog();
    Open(path);
    LogLine(L"two");
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), std::string("a\0b\0", 4));
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 4), (bytes.size() - 4) / 2);
    // Four lines: separator, one, separator, two; each with its own stamp and CR LF.
    size_t lines = 0;
    for (size_t at = text.find(L"\r\n"); at != std::wstring::npos; at = text.find(L"\r\n", at + 2))
        lines++;
    EXPECT_EQ(lines, 4u);
    EXPECT_TRUE(IsTimeStamp(text));
    EXPECT_EQ(text.substr(25, 64), Separator);
    EXPECT_NE(text.find(L"Z one\r\n"), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - 7), L"Z two\r\n");
}

// Another program left a log of an odd size: one zero byte puts the run's lines on whole
// UTF-16 characters again, and a log of an even size gets none.
TEST_F(RunLogTest, OddSizedLogGetsOneZeroByteBeforeTheRunsFirstLine)
{
    std::wstring path = folder / L"odd.log";
    ASSERT_TRUE(WriteTextFile(path, "abc"));
    Open(path);
    LogLine(L"one");
    CloseRunLog();
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), std::string("abc\0", 4));
    ASSERT_EQ(bytes.size() % 2, 0u);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 4), (bytes.size() - 4) / 2);
    EXPECT_TRUE(IsTimeStamp(text));
    EXPECT_EQ(text.substr(25, 66), Separator + L"\r\n");
    EXPECT_EQ(text.substr(text.size() - 7), L"Z one\r\n");

    const size_t even = bytes.size();
    Open(path);
    LogLine(L"two");
    bytes = ReadFileBytes(path);
    // The separator and "two", each 27 characters of stamp and line end besides its text.
    EXPECT_EQ(bytes.size() - even, (27u + 64u + 27u + 3u) * 2u);
}

TEST_F(RunLogTest, EmptyMessageIsTheStampAloneInFiftyFourBytes)
{
    std::wstring path = folder / L"empty.log";
    Open(path);
    size_t before = ReadFileBytes(path).size();
    LogLine(L"");
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size() - before, 54u);
    std::wstring last(reinterpret_cast<const wchar_t*>(bytes.data() + before), 27);
    EXPECT_TRUE(IsTimeStamp(last));
    EXPECT_EQ(last.substr(25), L"\r\n");
}

TEST_F(RunLogTest, LongMessagesAreCutAfter4069Characters)
{
    std::wstring path = folder / L"long.log";
    Open(path);
    std::wstring exact = Repeat(L'a', 4069);
    std::wstring oneMore = Repeat(L'b', 4070);
    std::wstring huge = Repeat(L'c', 10000);
    LogLine(L"%s", exact.c_str());
    LogLine(L"%s", oneMore.c_str());
    LogLine(L"%s", huge.c_str());
    std::vector<std::wstring> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], exact);
    EXPECT_EQ(lines[2], Repeat(L'b', 4069));
    EXPECT_EQ(lines[3], Repeat(L'c', 4069));
}

TEST_F(RunLogTest, ArgumentsArePrintedUnchangedAndStampIsUtc)
{
    std::wstring path = folder / L"args.log";
    Open(path);
    SYSTEMTIME before;
    GetSystemTime(&before);
    LogLine(L"Stopping process %d [%s]", -42, L"100% %TEMP% %s %d");
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    std::wstring last = text.substr(text.rfind(L"\r\n", text.size() - 3) + 2);
    EXPECT_EQ(last.substr(25), L"Stopping process -42 [100% %TEMP% %s %d]\r\n");
    // The stamp is UTC: its date and hour agree with GetSystemTime (allowing a tick over the hour).
    wchar_t expected[32];
    wsprintfW(expected, L"%04d-%02d-%02dT%02d", before.wYear, before.wMonth, before.wDay, before.wHour);
    if (before.wMinute != 59) {
        EXPECT_EQ(last.substr(0, 13), expected);
    }
    EXPECT_EQ(last[19], L'.');
    EXPECT_EQ(last[23], L'Z');
}

// A text from the machine never breaks its line: each control and format character is written
// as "<U+XXXX>", and so is the "<" of a "<U+" the text holds; its neighbours stay as they are.
TEST_F(RunLogTest, ControlAndFormatCharactersOfAnArgumentAreWrittenAsEscapes)
{
    std::wstring path = folder / L"escaped.log";
    Open(path);
    const wchar_t lone[] = {L'h', 0xD800, L'l', 0xDC00, L'p', 0xD83D, 0xDE00, L'e', 0xDBFF, L'\0'};
    LogLine(L"Removed value [%s] from %s", L"Zamo\r\n2026-01-01T00:00:00.000Z Exit code [0]", L"HKU\\a\tb");
    LogLine(L"[%s]", L"\x01\x1F\x20\x7E\x7F\x80\x9F\xA0");
    LogLine(L"[%s]", L"\u2027\u2028\u2029\u202A\u202E\u202F\u2065\u2066\u2069\u206A");
    LogLine(L"[%s]", lone);
    LogLine(L"[%s] [%s] %d%%", L"<U+0041> <u+ <U <U+", L"C:\\a<b>\\%TEMP%", 7);
    EXPECT_EQ(ReadLogLines(path),
              (std::vector<std::wstring>{
                  Separator,
                  L"Removed value [Zamo<U+000D><U+000A>2026-01-01T00:00:00.000Z Exit code [0]] from HKU\\a<U+0009>b",
                  L"[<U+0001><U+001F> ~<U+007F><U+0080><U+009F>\u00A0]",
                  L"[\u2027<U+2028><U+2029><U+202A><U+202E>\u202F\u2065<U+2066><U+2069>\u206A]",
                  L"[h<U+D800>l<U+DC00>p\U0001F600e<U+DBFF>]",
                  L"[<U+003C>U+0041> <u+ <U <U+003C>U+] [C:\\a<b>\\%TEMP%] 7%",
              }));
}

// Every text comes back whole from its line: the escapes read back give each UTF-16 code unit
// (all of them, paired surrogates and lone ones) and every text that looks like an escape.
TEST_F(RunLogTest, EveryTextReadsBackFromItsOneLine)
{
    std::wstring path = folder / L"readback.log";
    Open(path);
    std::vector<std::wstring> texts = {L"<U+000D>", L"<<U+U+003C>>", L"a<U+", L"<U+12>", L"\u2028<U+2028>"};
    // Each code unit once, with a pair after each high surrogate and a lone one at a chunk's end.
    std::wstring all;
    for (unsigned unit = 1; unit <= 0xFFFF; unit++) {
        all += static_cast<wchar_t>(unit);
        if (unit >= 0xD800 && unit <= 0xDBFF && unit % 7 != 0)
            all += static_cast<wchar_t>(0xDC00 + unit % 0x400);
    }
    for (size_t at = 0; at < all.size(); at += 450)
        texts.push_back(all.substr(at, 450));
    for (const std::wstring& text : texts)
        LogLine(L"Deleting file [%s]", text.c_str());
    std::vector<std::wstring> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), texts.size() + 1) << "one line per message";
    for (size_t i = 0; i < texts.size(); i++) {
        SCOPED_TRACE(i);
        ASSERT_EQ(UnescapeLogText(lines[i + 1]), L"Deleting file [" + texts[i] + L"]");
    }
}

// A message cut at the line's limit ends before an escape or a surrogate pair that does not
// fit whole: the line never ends in half of one.
TEST_F(RunLogTest, ALongMessageIsCutBeforeAnEscapeOrAPairThatDoesNotFit)
{
    std::wstring path = folder / L"cut.log";
    Open(path);
    const std::wstring head = Repeat(L'a', 4063);
    LogLine(L"%s", (head + L"\r").c_str());
    LogLine(L"%s", (head + L"bbbbb\U0001F600").c_str());
    LogLine(L"%s", (head + L"bb\r").c_str());
    LogLine(L"%s", (Repeat(L'a', 4061) + L"\r").c_str());
    EXPECT_EQ(ReadLogLines(path), (std::vector<std::wstring>{Separator, head, head + L"bbbbb", head + L"bb",
                                                            Repeat(L'a', 4061) + L"<U+000D>"}));
}

TEST_F(RunLogTest, GivenPathInMissingFolderCreatesNothingAndLogsNothing)
{
    std::wstring missing = folder / L"no-such-folder";
    Open(missing + L"\\x.log");
    LogLine(L"dropped");
    EXPECT_FALSE(Exists(missing));
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::wstring>{});
}

TEST_F(RunLogTest, GivenPathIsExpanded)
{
    SetEnvironmentVariableW(L"ZC_LOG_FOLDER", folder.Path().c_str());
    Open(L"%ZC_LOG_FOLDER%\\expanded.log");
    LogLine(L"here");
    EXPECT_EQ(ReadLogLines(folder / L"expanded.log"), (std::vector<std::wstring>{Separator, L"here"}));
    SetEnvironmentVariableW(L"ZC_LOG_FOLDER", nullptr);
}

TEST_F(RunLogTest, ExpansionThatDoesNotFitTurnsLoggingOff)
{
    // Expands to more than 259 characters: a cut form of it must never be created.
    std::wstring longFolder = folder.Path() + L"\\" + Repeat(L'd', 200);
    ASSERT_TRUE(CreateDirectoryW(folder.Path().c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    SetEnvironmentVariableW(L"ZC_LONG", longFolder.c_str());
    Open(L"%ZC_LONG%\\0123456789012345678901234567890123456789012345678901234567890123456789.log");
    LogLine(L"dropped");
    SetEnvironmentVariableW(L"ZC_LONG", nullptr);
    // Nothing in the folder, neither a cut file name nor a cut folder.
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::wstring>{});
}

TEST_F(RunLogTest, DefaultLocationIsUnderLocalAppData)
{
    std::wstring saved = Expand(L"%LocalAppData%");
    SetEnvironmentVariableW(L"LocalAppData", folder.Path().c_str());
    Open(L"");
    LogLine(L"default");
    SetEnvironmentVariableW(L"LocalAppData", saved.c_str());
    EXPECT_EQ(ReadLogLines(folder / L"ZamoClean\\ZamoClean.log"), (std::vector<std::wstring>{Separator, L"default"}));
}

// Another program appends to the log this process has open: each line of either lands at
// the end of the file as it then is, whole.
TEST_F(RunLogTest, AnotherWriterBetweenTwoLinesLeavesEveryLineWholeAndInOrder)
{
    std::wstring path = folder / L"shared.log";
    Open(path);
    std::vector<std::wstring> expected = {Separator};
    for (int round = 1; round <= 3; round++) {
        LogLine(L"line %d of this process", round);
        expected.push_back(L"line " + std::to_wstring(round) + L" of this process");
        if (round == 3)
            break;
        RunResult appender = RunCommandLine(L"\"" + BinaryFolder() + L"\\LogAppender.exe\" " +
                                            std::to_wstring(round) + L" 2 \"/Log:" + path + L"\"");
        ASSERT_TRUE(appender.started && appender.ended);
        ASSERT_EQ(appender.exitCode, 0u);
        expected.push_back(Separator);
        for (int n = 1; n <= 2; n++)
            expected.push_back(L"Appender " + std::to_wstring(round) + L" line " + std::to_wstring(n));
    }
    EXPECT_EQ(ReadLogLines(path), expected);
}

// A run alone in its log writes its lines without the lock: a process that holds the lock
// but never opened the log costs it nothing, where a line that took the lock would wait ten
// seconds for it.
TEST_F(RunLogTest, ARunAloneInItsLogWritesWithoutTakingTheLock)
{
    std::wstring path = folder / L"alone.log";
    Open(path);
    HeldLock lock(L"log-lock", path);
    ASSERT_TRUE(lock.Holding()) << "LockHolder did not take the log's lock";
    std::vector<std::wstring> expected = {Separator};
    const ULONGLONG started = GetTickCount64();
    for (int n = 1; n <= 20; n++) {
        LogLine(L"line %d", n);
        expected.push_back(L"line " + std::to_wstring(n));
    }
    EXPECT_LT(GetTickCount64() - started, 5000u);
    EXPECT_EQ(ReadLogLines(path), expected);
}

} // namespace
