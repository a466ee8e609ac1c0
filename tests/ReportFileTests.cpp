// The report file's edges: its path checked whole, ".." resolved and its temporary name
// included, before any folder is made; device names refused; the temporary files that a killed
// run left beside it removed unless a process has them open; and the program's line for each.
#include "change/FileChanges.h"
#include "support/QuietRuns.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

typedef std::vector<std::wstring> Lines;

// Writes a small report; the error it failed with, or ERROR_SUCCESS.
DWORD Write(const std::wstring& path)
{
    SetLastError(0xDEADBEEF);
    return ReplaceFileContent(path.c_str(), "{}", 2) ? ERROR_SUCCESS : GetLastError();
}

// The path folder\sub\<name> padded with 'r' to length characters ("...rrr.json").
std::wstring PathOfLength(const std::wstring& folder, const std::wstring& sub, size_t length)
{
    const std::wstring head = folder + L"\\" + sub + L"\\";
    return head + std::wstring(length - head.size() - 5, L'r') + L".json";
}

// The full path may hold 233 characters, so that "<path>.<process>-<n>.tmp" fits with any
// process ID and number; a longer one fails with 206 before any folder is made, the issue's
// 250 to 259 characters too.
TEST(ReportFileTest, APathAndItsTemporaryNameMustFitBeforeAnyFolderIsMade)
{
    TempFolder folder;
    const std::wstring fits = PathOfLength(folder.Path(), L"fits", 233);
    ASSERT_EQ(fits.size(), 233u);
    EXPECT_EQ(Write(fits), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(Exists(fits));
    for (size_t length : {234u, 250u, 259u}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(Write(PathOfLength(folder.Path(), L"long", length)), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    }
    EXPECT_EQ(ListTree(folder.Path()), (Lines{L"fits\\", L"fits\\" + fits.substr(folder.Path().size() + 6)}))
        << "no folder of a path that did not fit, no temporary file";

    // What counts is the path resolved: a long spelling of a short path is written.
    std::wstring detour = folder.Path();
    while (detour.size() < 230)
        detour += L"\\x\\..";
    EXPECT_EQ(Write(detour + L"\\short.json"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(Exists(folder / L"short.json"));
    EXPECT_FALSE(Exists(folder / L"x")) << "the folder the '..' cancels is not made";
}

// ".." is resolved before a folder is made: only the folders the resolved path passes through
// are made. A report at a drive's root needs no folder at all.
TEST(ReportFileTest, OnlyTheFoldersOfTheResolvedPathAreMade)
{
    TempFolder folder;
    EXPECT_EQ(Write(folder / L"nonexist\\..\\r3\\r.json"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Write(folder / L"a\\.\\b\\..\\..\\c\\d\\r.json."), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ListTree(folder.Path()), (Lines{L"c\\", L"c\\d\\", L"c\\d\\r.json", L"r3\\", L"r3\\r.json"}));
    EXPECT_EQ(Write(folder / L"c\\d\\.."), static_cast<DWORD>(ERROR_DIRECTORY)) << "a folder is no report";

    const std::wstring root = L"C:\\zc-report-at-root.json";
    EXPECT_EQ(Write(root), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(Exists(root));
    DeleteFileW(root.c_str());
}

// A last component that the system takes for a device is refused with 123, with or without an
// extension, in any case, and no folder is made for it; names that only look alike are files.
TEST(ReportFileTest, ADeviceNameIsRefusedAndNamesThatOnlyLookAlikeAreWritten)
{
    TempFolder folder;
    const std::wstring devices[] = {L"CON", L"nul.json", L"Aux.txt", L"PRN.a.b", L"COM1.json", L"lpt9", L"CON .json",
                                    L"CONOUT$", L"LPT\u00B9.json", L"com\u00B3"};
    for (const std::wstring& device : devices) {
        SCOPED_TRACE(Narrow(device));
        EXPECT_EQ(Write(folder / (L"dev\\" + device)), static_cast<DWORD>(ERROR_INVALID_NAME));
    }
    for (const wchar_t* prefix : {L"\\\\.\\", L"\\\\?\\"})
        EXPECT_EQ(Write(prefix + (folder / L"dev\\r.json")), static_cast<DWORD>(ERROR_INVALID_NAME)) << Narrow(prefix);
    EXPECT_EQ(ListTree(folder.Path()), Lines{});
    const std::wstring alike[] = {L"CONSOLE.json", L"NULL.json", L"COM10.json", L"LPT.json", L"xAUX.json", L"PRN_.txt"};
    for (const std::wstring& name : alike)
        EXPECT_EQ(Write(folder / name), static_cast<DWORD>(ERROR_SUCCESS)) << Narrow(name);
    EXPECT_EQ(ListTree(folder.Path()).size(), ARRAYSIZE(alike));
}

// "<report>.<digits>-<digits>.tmp" beside the report is a killed run's: it goes, unless a process
// has it open (a run writing it now), or it is a folder. Other names stay.
TEST(ReportFileTest, TemporaryFilesAKilledRunLeftGoUnlessAProcessHasThemOpen)
{
    TempFolder folder;
    const std::wstring report = folder / L"r.json";
    for (const wchar_t* name : {L"r.json.1234-5.tmp", L"R.JSON.12-34.TMP", L"r.json.99-1.tmp", L"r.json.x-1.tmp",
                                L"r.json.1-.tmp", L"r.json.1-1.tmp.bak", L"other.json.1-1.tmp", L"r.json"})
        ASSERT_TRUE(WriteTextFile(folder / name, "left")) << Narrow(name);
    ASSERT_TRUE(CreateDirectoryW((folder / L"r.json.7-7.tmp").c_str(), nullptr));
    // Open with every kind of sharing: still no one else's to delete.
    HANDLE held = CreateFileW((folder / L"r.json.99-1.tmp").c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Write(report), static_cast<DWORD>(ERROR_SUCCESS));
    const Lines kept = {L"other.json.1-1.tmp", L"r.json", L"r.json.1-.tmp", L"r.json.1-1.tmp.bak",
                        L"r.json.7-7.tmp\\", L"r.json.99-1.tmp", L"r.json.x-1.tmp"};
    EXPECT_EQ(ListTree(folder.Path()), kept);
    std::vector<unsigned char> bytes = ReadFileBytes(report);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "{}");

    CloseHandle(held);
    EXPECT_EQ(Write(report), static_cast<DWORD>(ERROR_SUCCESS));
    Lines after = kept;
    after.erase(std::find(after.begin(), after.end(), L"r.json.99-1.tmp"));
    EXPECT_EQ(ListTree(folder.Path()), after) << "closed, it is a leftover like the others";
}

// The program's line for a report that cannot be written at these edges, and a clean run all
// the same.
TEST(ReportFileTest, TheRunLogsWhyAReportAtAnEdgeWasNotWritten)
{
    TempFolder folder;
    const std::wstring device = folder / L"made\\NUL.json";
    const std::wstring tooLong = PathOfLength(folder.Path(), L"long", 250);
    for (const auto& edge : {std::make_pair(device, 123), std::make_pair(tooLong, 206)}) {
        SCOPED_TRACE(edge.second);
        const std::wstring log = folder / L"edge.log";
        DeleteFileW(log.c_str());
        RunResult result = RunProgram(Quoted(ProgramPath()) + L" /Quiet /Preview " + Quoted(L"/Report:" + edge.first) +
                                      L" " + Quoted(L"/Log:" + log));
        EXPECT_TRUE(result.started && result.ended);
        EXPECT_EQ(result.exitCode, 0u);
        Lines lines = ReadLogLines(log);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
                  (Lines{L"Failed to write report [" + edge.first + L"] [" + std::to_wstring(edge.second) + L"]",
                         L"Finishing"}));
    }
    EXPECT_EQ(ListTree(folder.Path()), Lines{L"edge.log"}) << "no folder made for either";
}

} // namespace
