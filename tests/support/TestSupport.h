// Fixtures shared by the tests: temporary folders, registry trees, the program
// started as a child process, and the UTF-16 log read back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The folder that holds the test program, ZamoClean.exe and the helper programs.
std::wstring BinaryFolder();
std::wstring ProgramPath();

// Environment reference expanded in this process.
std::wstring Expand(const std::wstring& text);

// A fresh folder under %TEMP%, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Removes a folder tree without entering links; true when the folder is gone.
bool RemoveTree(const std::wstring& path);
bool WriteTextFile(const std::wstring& path, const std::string& content);
bool Exists(const std::wstring& path);

// The program run to its end with an exact command line (no program path is added).
struct RunResult {
    bool started = false;
    bool ended = false;
    DWORD exitCode = 0;
};
RunResult RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 120000);

// Starts the program without waiting; the caller owns the returned handle.
HANDLE StartProgram(const std::wstring& commandLine, DWORD* processId = nullptr);

// The log as written: raw bytes, and its lines without their 25-character time
// stamps (each stamp is checked for its form, a bad one fails the test).
std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
std::vector<std::wstring> ReadLogLines(const std::wstring& path);
bool IsTimeStamp(const std::wstring& text);

// Registry access in an explicit view (KEY_WOW64_64KEY or KEY_WOW64_32KEY).
bool CreateKey(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
               REGSAM view = KEY_WOW64_64KEY, DWORD type = REG_SZ);
bool SetBinary(HKEY root, const std::wstring& path, const wchar_t* name, const void* data, DWORD size,
               DWORD type, REGSAM view = KEY_WOW64_64KEY);
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
bool ReadString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring* value,
                REGSAM view = KEY_WOW64_64KEY, DWORD* type = nullptr);
void DeleteKeyTree(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);

// A run log opened in a fresh temporary folder for tests that call the engine in
// this process (LogPath and LogFile set as the shell would); closed when the object
// goes.
class TestRunLog {
public:
    TestRunLog();
    ~TestRunLog();
    TestRunLog(const TestRunLog&) = delete;
    TestRunLog& operator=(const TestRunLog&) = delete;
    const std::wstring& Path() const { return path_; }
    std::vector<std::wstring> Lines() const { return ReadLogLines(path_); }

private:
    TempFolder folder_;
    std::wstring path_;
};

// Log lines with their time stamps, as milliseconds of UTC since 1601, and the
// current system time in the same unit.
struct LogEntry {
    ULONGLONG milliseconds = 0;
    std::wstring text;
};
std::vector<LogEntry> ReadLogEntries(const std::wstring& path);
ULONGLONG NowMilliseconds();

// Copies the FakeProduct stand-in into folder under the given file name; returns
// the copy's path, or an empty string when the copy failed.
std::wstring CopyFakeProduct(const std::wstring& folder, const std::wstring& name);

// A program started from its path, optionally with a security descriptor of its
// own; terminated (if still running) and waited for when the object goes.
class ChildProcess {
public:
    explicit ChildProcess(const std::wstring& path, PSECURITY_DESCRIPTOR security = nullptr);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    bool Running() const;
    // True when the process ends within timeoutMs; its exit code goes to exitCode.
    bool EndsWithin(DWORD timeoutMs, DWORD* exitCode) const;

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};
