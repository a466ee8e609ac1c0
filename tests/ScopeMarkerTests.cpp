// Scope marker: the signature stored under Software\Quorvex\Cleaned of a scope, read
// back before a sweep and written after it.
#include "clean/installer/ScopeMarker.h"
#include "common/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const wchar_t MakerKey[] = L"Software\\Quorvex";
const wchar_t MarkerKey[] = L"Software\\Quorvex\\Cleaned";
const std::wstring TestSid = L"S-1-5-21-7700-7701-7702-1001";

std::wstring UserKey(const std::wstring& sid, const std::wstring& path)
{
    return sid + L"\\" + path;
}

std::wstring SkipLine(const std::wstring& root, const std::wstring& sid, const std::wstring& signature)
{
    return L"Skipping clean-up for [" + root + L"," + sid + L"] since signature [" + signature +
           L"] has been marked for this scope.";
}

// The value's bytes exactly as stored, with its type; false when it cannot be read.
bool ReadRawValue(HKEY root, const std::wstring& path, const wchar_t* name, std::vector<BYTE>* data, DWORD* type,
                  REGSAM view = KEY_WOW64_64KEY)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    BYTE buffer[4096];
    DWORD size = sizeof(buffer);
    LONG rc = RegQueryValueExW(key, name, nullptr, type, buffer, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;
    data->assign(buffer, buffer + size);
    return true;
}

// The text and its NUL in UTF-16LE: what a marker for text must hold.
std::vector<BYTE> StoredForm(const std::wstring& text)
{
    std::vector<BYTE> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

// A SID-like name of exactly length characters.
std::wstring SidOfLength(size_t length)
{
    std::wstring sid = L"S-1-5-21-";
    while (sid.size() < length)
        sid += static_cast<wchar_t>(L'0' + sid.size() % 10);
    return sid;
}

class ScopeMarkerTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveMarkers(); }
    void TearDown() override
    {
        Signature[0] = L'\0';
        RemoveMarkers();
        for (const std::wstring& sid : extraSids)
            DeleteKeyTree(HKEY_USERS, sid);
    }
    void RemoveMarkers()
    {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, MakerKey, KEY_WOW64_64KEY);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, MakerKey, KEY_WOW64_32KEY);
        DeleteKeyTree(HKEY_USERS, TestSid);
    }
    void UseSignature(const std::wstring& text) { ASSERT_TRUE(TextCopy(Signature, text.c_str())); }

    TestRunLog log;
    std::vector<std::wstring> extraSids;
};

TEST_F(ScopeMarkerTest, EmptySignatureReadsAndWritesNothing)
{
    // A stored empty text would equal an empty signature if it were ever compared.
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, L""));
    ASSERT_TRUE(SetString(HKEY_USERS, UserKey(TestSid, MarkerKey), nullptr, L""));
    const std::wstring otherSid = TestSid + L"-2";
    extraSids.push_back(otherSid);
    ASSERT_TRUE(CreateKey(HKEY_USERS, otherSid));

    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_USERS, TestSid.c_str()));
    MarkScopeCleaned(HKEY_LOCAL_MACHINE, nullptr);
    MarkScopeCleaned(HKEY_USERS, TestSid.c_str());
    MarkScopeCleaned(HKEY_USERS, otherSid.c_str());

    EXPECT_EQ(log.Lines().size(), 1u);
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(ReadRawValue(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, &data, &type));
    EXPECT_EQ(data, StoredForm(L""));
    ASSERT_TRUE(ReadRawValue(HKEY_USERS, UserKey(TestSid, MarkerKey), nullptr, &data, &type));
    EXPECT_EQ(data, StoredForm(L""));
    EXPECT_FALSE(KeyExists(HKEY_USERS, UserKey(otherSid, L"Software")));
}

TEST_F(ScopeMarkerTest, MarkStoresTheSignatureThatTheNextCheckFindsInAnyLetterCase)
{
    UseSignature(L"Wave-7 Deploy");
    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_USERS, TestSid.c_str()));
    MarkScopeCleaned(HKEY_LOCAL_MACHINE, nullptr);
    MarkScopeCleaned(HKEY_USERS, TestSid.c_str());
    EXPECT_EQ(log.Lines().size(), 1u);  // marking logs nothing

    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(ReadRawValue(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, StoredForm(L"Wave-7 Deploy"));  // 2n + 2 bytes, NUL last
    ASSERT_TRUE(ReadRawValue(HKEY_USERS, UserKey(TestSid, MarkerKey), nullptr, &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, StoredForm(L"Wave-7 Deploy"));
    // Always the 64-bit view, never the 32-bit one.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, MarkerKey, KEY_WOW64_32KEY));

    UseSignature(L"WAVE-7 deploy");
    EXPECT_FALSE(ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_FALSE(ScopeNeedsCleaning(HKEY_USERS, TestSid.c_str()));
    // An empty SID is no SID: the machine's own marker, shown as "-".
    EXPECT_FALSE(ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, L""));
    // Skipping leaves the stored text as it was.
    ASSERT_TRUE(ReadRawValue(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, &data, &type));
    EXPECT_EQ(data, StoredForm(L"Wave-7 Deploy"));

    UseSignature(L"Wave-8");
    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr));
    MarkScopeCleaned(HKEY_LOCAL_MACHINE, nullptr);
    ASSERT_TRUE(ReadRawValue(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, &data, &type));
    EXPECT_EQ(data, StoredForm(L"Wave-8"));

    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{
                               std::wstring(64, L'='),
                               SkipLine(L"HKLM", L"-", L"WAVE-7 deploy"),
                               SkipLine(L"HKU", TestSid, L"WAVE-7 deploy"),
                               SkipLine(L"HKLM", L"-", L"WAVE-7 deploy"),
                           }));
}

TEST_F(ScopeMarkerTest, OnlyTheWholeSignatureAsRegSzCounts)
{
    UseSignature(L"Wave-7");
    struct Stored {
        const char* what;
        std::vector<BYTE> data;
        DWORD type;
        bool marked;
    };
    auto bytesOf = [](const std::wstring& text) {
        std::vector<BYTE> bytes = StoredForm(text);
        bytes.resize(bytes.size() - 2);
        return bytes;
    };
    auto withJunk = StoredForm(L"wave-7");
    for (BYTE b : bytesOf(L"junk"))
        withJunk.push_back(b);
    const Stored cases[] = {
        {"prefix of the signature", StoredForm(L"Wave"), REG_SZ, false},
        {"signature as a prefix", StoredForm(L"Wave-7a"), REG_SZ, false},
        {"signature and a space", StoredForm(L"Wave-7 "), REG_SZ, false},
        {"REG_EXPAND_SZ of the very text", StoredForm(L"Wave-7"), REG_EXPAND_SZ, false},
        {"REG_MULTI_SZ of the very text", StoredForm(L"Wave-7") , REG_MULTI_SZ, false},
        {"REG_BINARY of the very text", StoredForm(L"Wave-7"), REG_BINARY, false},
        {"empty value", {}, REG_SZ, false},
        {"empty text", StoredForm(L""), REG_SZ, false},
        {"longer than the read buffer", StoredForm(L"Wave-7" + std::wstring(300, L' ')), REG_SZ, false},
        {"without its NUL", bytesOf(L"WAVE-7"), REG_SZ, true},
        {"text ends at the first NUL", withJunk, REG_SZ, true},
    };
    for (const Stored& stored : cases) {
        SCOPED_TRACE(stored.what);
        ASSERT_TRUE(SetBinary(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, stored.data.data(),
                              static_cast<DWORD>(stored.data.size()), stored.type));
        size_t linesBefore = log.Lines().size();
        EXPECT_EQ(ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr), !stored.marked);
        EXPECT_EQ(log.Lines().size(), linesBefore + (stored.marked ? 1 : 0));
    }

    // A named value, or a marker in the 32-bit view, is not the marker.
    DeleteKeyTree(HKEY_LOCAL_MACHINE, MakerKey);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, MarkerKey, L"Signature", L"Wave-7"));
    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, L"Wave-7", KEY_WOW64_32KEY));
    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_EQ(log.Lines().size(), 3u);  // separator and the two marked cases above
}

TEST_F(ScopeMarkerTest, LongestSignatureIsStoredAndFoundWhole)
{
    std::wstring longest(259, L's');
    longest[258] = L'Z';
    UseSignature(longest);
    MarkScopeCleaned(HKEY_USERS, TestSid.c_str());
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(ReadRawValue(HKEY_USERS, UserKey(TestSid, MarkerKey), nullptr, &data, &type));
    EXPECT_EQ(data.size(), 520u);
    EXPECT_EQ(data, StoredForm(longest));
    EXPECT_FALSE(ScopeNeedsCleaning(HKEY_USERS, TestSid.c_str()));

    // 259 characters without a NUL fill 518 bytes and still compare whole; 260 do
    // not fit the text buffer and count as no marker, even with the signature first.
    std::vector<BYTE> bare = StoredForm(longest);
    bare.resize(518);
    ASSERT_TRUE(SetBinary(HKEY_USERS, UserKey(TestSid, MarkerKey), nullptr, bare.data(), 518, REG_SZ));
    EXPECT_FALSE(ScopeNeedsCleaning(HKEY_USERS, TestSid.c_str()));
    bare.push_back('x');
    bare.push_back(0);
    ASSERT_TRUE(SetBinary(HKEY_USERS, UserKey(TestSid, MarkerKey), nullptr, bare.data(), 520, REG_SZ));
    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_USERS, TestSid.c_str()));

    std::vector<std::wstring> lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], SkipLine(L"HKU", TestSid, longest));
    EXPECT_EQ(lines[2], lines[1]);
}

TEST_F(ScopeMarkerTest, MarkerKeyWithoutDefaultValueGetsTheValueAdded)
{
    UseSignature(L"Wave-7");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, MarkerKey, L"Note", L"kept"));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, std::wstring(MarkerKey) + L"\\Child"));

    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_LOCAL_MACHINE, nullptr));
    MarkScopeCleaned(HKEY_LOCAL_MACHINE, nullptr);

    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(ReadRawValue(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, StoredForm(L"Wave-7"));
    std::wstring note;
    ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, MarkerKey, L"Note", &note));
    EXPECT_EQ(note, L"kept");
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE, MarkerKey), (std::vector<std::wstring>{L"Child"}));
    EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE, MakerKey), (std::vector<std::wstring>{L"Cleaned"}));
}

TEST_F(ScopeMarkerTest, SidTooLongForTheKeyPathIsNeverUsedCut)
{
    UseSignature(L"Wave-7");
    // 234 characters, a backslash and the 24 of the marker key fill the 259.
    const std::wstring fits = SidOfLength(234);
    extraSids.push_back(fits);
    MarkScopeCleaned(HKEY_USERS, fits.c_str());
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(ReadRawValue(HKEY_USERS, UserKey(fits, MarkerKey), nullptr, &data, &type));
    EXPECT_EQ(data, StoredForm(L"Wave-7"));
    EXPECT_FALSE(ScopeNeedsCleaning(HKEY_USERS, fits.c_str()));

    // One more character: the cut path would name "...\Cleane". A marker planted
    // there must be neither read nor overwritten, and nothing else may be created.
    const std::wstring tooLong = SidOfLength(235);
    extraSids.push_back(tooLong);
    const std::wstring cutKey = UserKey(tooLong, L"Software\\Quorvex\\Cleane");
    ASSERT_EQ(cutKey.size(), 259u);
    ASSERT_TRUE(SetString(HKEY_USERS, cutKey, nullptr, L"Wave-7"));
    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_USERS, tooLong.c_str()));
    UseSignature(L"Wave-8");
    MarkScopeCleaned(HKEY_USERS, tooLong.c_str());
    ASSERT_TRUE(ReadRawValue(HKEY_USERS, cutKey, nullptr, &data, &type));
    EXPECT_EQ(data, StoredForm(L"Wave-7"));
    EXPECT_EQ(SubkeyNames(HKEY_USERS, UserKey(tooLong, MakerKey)), (std::vector<std::wstring>{L"Cleane"}));

    // The longest name HKEY_USERS can hold.
    const std::wstring longest = SidOfLength(255);
    extraSids.push_back(longest);
    ASSERT_TRUE(CreateKey(HKEY_USERS, longest));
    EXPECT_TRUE(ScopeNeedsCleaning(HKEY_USERS, longest.c_str()));
    MarkScopeCleaned(HKEY_USERS, longest.c_str());
    EXPECT_TRUE(SubkeyNames(HKEY_USERS, longest).empty());

    std::vector<std::wstring> lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], SkipLine(L"HKU", fits, L"Wave-7"));
}

// Two quiet runs of the program with one signature: the first sweeps and marks the
// machine scope, the second finds the mark and skips the scope's steps.
TEST(ScopeMarkerRun, SecondQuietRunWithTheSameSignatureSkipsTheMachineScope)
{
    TempFolder folder;
    const std::wstring logPath = folder / L"runs.log";
    const std::wstring commandLine = L"/Quiet /Signature:Wave-7 \"/Log:" + logPath + L"\"";
    DeleteKeyTree(HKEY_LOCAL_MACHINE, MakerKey);

    RunResult first = RunProgram(commandLine);
    ASSERT_TRUE(first.ended);
    std::vector<BYTE> data;
    DWORD type = 0;
    ASSERT_TRUE(ReadRawValue(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, &data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data, StoredForm(L"Wave-7"));
    size_t firstRunLines = ReadLogEntries(logPath).size();

    // A product key the machine scope's sweep would delete: the skipped scope keeps it.
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, L"Software\\Zamo"));
    RunResult second = RunProgram(commandLine);
    ASSERT_TRUE(second.ended);
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Zamo"));
    ASSERT_TRUE(ReadRawValue(HKEY_LOCAL_MACHINE, MarkerKey, nullptr, &data, &type));
    EXPECT_EQ(data, StoredForm(L"Wave-7"));
    DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\Zamo");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, MakerKey);
    // The runs swept and marked the running user's scope too.
    DeleteKeyTree(HKEY_CURRENT_USER, MakerKey);

    std::vector<LogEntry> entries = ReadLogEntries(logPath);
    const std::wstring skip = SkipLine(L"HKLM", L"-", L"Wave-7");
    ASSERT_GT(entries.size(), firstRunLines);
    for (size_t i = 0; i < firstRunLines; i++)
        EXPECT_NE(entries[i].text, skip);
    std::vector<std::wstring> secondRun;
    for (size_t i = firstRunLines; i < entries.size(); i++)
        secondRun.push_back(entries[i].text);
    ASSERT_GE(secondRun.size(), 6u);
    EXPECT_EQ(std::vector<std::wstring>(secondRun.begin(), secondRun.begin() + 4),
              (std::vector<std::wstring>{std::wstring(64, L'='), L"Running quietly (no UI)",
                                         L"Using signature [Wave-7]", L"Using log file location [" + logPath + L"]"}));
    // The machine scope comes last: its skip line, then nothing of its steps.
    EXPECT_EQ(std::vector<std::wstring>(secondRun.end() - 2, secondRun.end()),
              (std::vector<std::wstring>{skip, L"Finishing"}));
    EXPECT_EQ(std::count(secondRun.begin(), secondRun.end(), skip), 1);
    // Nothing to stop, so no pause before the end.
    EXPECT_LT(entries.back().milliseconds - entries[firstRunLines].milliseconds, 2500u);
}

} // namespace
