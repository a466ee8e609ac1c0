#include "QuietRuns.h"

#include <algorithm>

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

bool Plant(const std::wstring& file, const std::string& content)
{
    for (size_t at = file.find(L'\\', 3); at != std::wstring::npos; at = file.find(L'\\', at + 1))
        CreateDirectoryW(file.substr(0, at).c_str(), nullptr);
    return WriteTextFile(file, content);
}

std::vector<std::wstring> Tail(const std::vector<std::wstring>& lines, size_t count)
{
    return std::vector<std::wstring>(lines.end() - std::min(count, lines.size()), lines.end());
}

size_t Count(const std::vector<std::wstring>& lines, const std::wstring& line)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

void QuietRunTest::SetUp()
{
    programFiles = Expand(L"%ProgramFiles%\\Quorvex");
    RemoveTree(programFiles);
}

void QuietRunTest::TearDown()
{
    RemoveTree(programFiles);
}

DWORD QuietRunTest::Run(const std::wstring& arguments, const std::wstring& log)
{
    RunResult result = RunProgram(Quoted(ProgramPath()) + L" /Quiet " + arguments + L" " + Quoted(L"/Log:" + log));
    EXPECT_TRUE(result.started && result.ended) << Narrow(arguments);
    return result.exitCode;
}
