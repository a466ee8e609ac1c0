// What the tests of whole quiet runs share: the program run to its end with a log of the
// test's own while the test fills %ProgramFiles%\Quorvex, files planted, a log's lines
// counted and cut, and text narrowed for failure messages.
#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// text with every character beyond ASCII as '?', for a failure message.
std::string Narrow(const std::wstring& text);

// Creates each folder on the way and the file.
bool Plant(const std::wstring& file, const std::string& content = "x");

// The last count lines (all of them when there are fewer).
std::vector<std::wstring> Tail(const std::vector<std::wstring>& lines, size_t count);
// How often line stands among lines, whole.
size_t Count(const std::vector<std::wstring>& lines, const std::wstring& line);

// %ProgramFiles%\Quorvex removed before and after each test; Run starts the program with
// "/Quiet", the arguments and "/Log:" the given log.
class QuietRunTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The program run to its end; its whole exit code, as a Windows parent reads it.
    DWORD Run(const std::wstring& arguments, const std::wstring& log);

    TempFolder folder;
    std::wstring programFiles;
};
