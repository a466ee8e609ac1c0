// Names a standard user or a broken installer wrote, holding CR LF, a time stamp and one of the
// program's own lines: the program, run for real and as a preview, logs each as one line with
// its control characters escaped, and the report keeps the names exactly.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring RunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring UninstallList = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// What a forger would want a deployment tool to read in the log.
const std::wstring ForgedValue = L"Zamo\r\n2026-01-01T00:00:00.000Z Exit code [0]";
// A key name cannot hold a backslash: the entry forges the run's last line.
const std::wstring ForgedEntry = L"Zamo\r\n2026-01-01T00:00:00.000Z Finishing";
const std::wstring ShownValue = L"Zamo<U+000D><U+000A>2026-01-01T00:00:00.000Z Exit code [0]";
const std::wstring ShownEntry = L"Zamo<U+000D><U+000A>2026-01-01T00:00:00.000Z Finishing";

// The running user's SID, whose scope HKEY_CURRENT_USER shows.
std::wstring CurrentUserSid()
{
    std::wstring text;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return text;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } information;
    DWORD size = 0;
    wchar_t* sid = nullptr;
    if (GetTokenInformation(token, TokenUser, &information, sizeof(information), &size) &&
        ConvertSidToStringSidW(information.user.User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

bool Has(const Lines& lines, const std::wstring& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Lines that start as a forged one does: none may come from a name.
size_t StartingWith(const Lines& lines, const std::wstring& start)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::wstring& line) {
        return line.compare(0, start.size(), start) == 0;
    }));
}

class ForgedLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, RunKey, ForgedValue.c_str(),
                              L"C:\\Elsewhere\\ZamoCrashHandler.exe --watch"));
        ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + ForgedEntry, L"DisplayName",
                                   L"Zamo Web Installer", KEY_WOW64_32KEY));
    }
    void TearDown() override
    {
        HKEY run;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, RunKey.c_str(), 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
            RegDeleteValueW(run, ForgedValue.c_str());
            RegCloseKey(run);
        }
    }

    Lines Run(const std::wstring& arguments, const std::wstring& log, DWORD expectedExit)
    {
        RunResult result = RunProgram(Quoted(ProgramPath()) + L" /Quiet /ExitCode " + arguments + L" " +
                                      Quoted(L"/Log:" + log));
        EXPECT_TRUE(result.started && result.ended);
        EXPECT_EQ(result.exitCode, expectedExit);
        return ReadLogLines(log);
    }

    TempFolder folder;
    ScratchKeys keys;
};

TEST_F(ForgedLineTest, ARunValueNameAndAnUninstallEntrysKeyNameEachStayOneLine)
{
    const std::wstring user = L"HKU\\" + CurrentUserSid();
    ASSERT_NE(user, L"HKU\\");
    const std::wstring report = folder / L"forged.json";
    Lines lines = Run(L"/Preview " + Quoted(L"/Report:" + report), folder / L"preview.log", 1);
    EXPECT_TRUE(Has(lines, L"Would remove value [" + ShownValue + L"] from " + user + L"\\" + RunKey));
    EXPECT_TRUE(Has(lines, L"Would remove HKLM\\" + UninstallList + L"\\" + ShownEntry));
    EXPECT_TRUE(Has(lines, L"Attempting to remove " + ShownEntry + L" [Zamo Web Installer]"));
    EXPECT_EQ(StartingWith(lines, L"Exit code [0]"), 0u);
    EXPECT_EQ(StartingWith(lines, L"Finishing"), 1u);
    EXPECT_EQ(lines.back(), L"Finishing");
    // Read back, the escaped name is the name; the report holds it as it is.
    EXPECT_EQ(UnescapeLogText(L"Would remove HKLM\\" + UninstallList + L"\\" + ShownEntry),
              L"Would remove HKLM\\" + UninstallList + L"\\" + ForgedEntry);
    ReportValues read;
    std::string why;
    ASSERT_TRUE(ReadReport(report, &read, &why)) << why;
    std::vector<std::wstring> names;
    for (long long i = 0; i < read["items"].number; i++)
        names.push_back(read["items/" + std::to_string(i) + "/name"].text);
    EXPECT_TRUE(std::find(names.begin(), names.end(), user + L"\\" + RunKey + L"\\" + ForgedValue) != names.end());
    EXPECT_TRUE(std::find(names.begin(), names.end(), L"HKLM\\" + UninstallList + L"\\" + ForgedEntry) != names.end());

    lines = Run(L"", folder / L"run.log", 0);
    EXPECT_TRUE(Has(lines, L"Removed value [" + ShownValue + L"] from " + user + L"\\" + RunKey));
    EXPECT_TRUE(Has(lines, L"Attempting to remove " + ShownEntry + L" [Zamo Web Installer]"));
    EXPECT_EQ(StartingWith(lines, L"Exit code [0]"), 1u) << "the run's own, last but one";
    EXPECT_EQ(lines[lines.size() - 2], L"Exit code [0]");
    EXPECT_EQ(StartingWith(lines, L"Finishing"), 1u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UninstallList + L"\\" + ForgedEntry, KEY_WOW64_32KEY));
}

} // namespace
