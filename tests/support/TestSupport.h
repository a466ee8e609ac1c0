// Fixtures shared by the tests: temporary folders, registry trees, the program
// started as a child process, and the UTF-16 log read back.
#pragma once

#include <windows.h>

#include "clean/Run.h"
#include "clean/RunSteps.h"

#include <map>
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
// The same, the program running with the given primary token.
RunResult RunProgramWithToken(HANDLE token, const std::wstring& commandLine, DWORD timeoutMs = 120000);

// Starts the program without waiting; the caller owns the returned handle.
HANDLE StartProgram(const std::wstring& commandLine, DWORD* processId = nullptr);

// The log as written: raw bytes, and its lines without their 25-character time
// stamps (each stamp is checked for its form, a bad one fails the test).
std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
std::vector<std::wstring> ReadLogLines(const std::wstring& path);
bool IsTimeStamp(const std::wstring& text);
// A log line's text as the machine held it: each "<U+XXXX>" escape read back as its character.
std::wstring UnescapeLogText(const std::wstring& line);

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
// The names of a key's subkeys (64-bit view) in enumeration order; none when it cannot
// be opened.
std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path);

// A run log opened in a fresh temporary folder for tests that call the engine in
// this process (opened as the shell opens the one "/Log:" names); closed when the object
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

// text in double quotes, as one token of a command line.
std::wstring Quoted(const std::wstring& text);
// Runs a command line (the program comes from its first token) to its end.
RunResult RunCommandLine(const std::wstring& commandLine, DWORD timeoutMs = 120000);
// Starts it without waiting; the caller owns the returned handle (null on failure).
HANDLE StartCommandLine(const std::wstring& commandLine);

// Another process holds a lock of the program's, as a hung run or a hostile process would:
// kind "run", "log" or "log-lock" (then path is the log's), as LockHolder takes them. Ended
// when the object goes.
class HeldLock {
public:
    explicit HeldLock(const std::wstring& kind, const std::wstring& path = L"");
    ~HeldLock();
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    bool Holding() const { return holding_; }

private:
    HANDLE holder_ = nullptr;
    bool holding_ = false;
};

// The engine's log for one test: a fresh file in a temporary folder, opened as the program
// opens the log "/Log:" names while the object lives, so operations can be called directly and
// their lines read.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    // What the engine logged, without the separator line.
    std::vector<std::wstring> Lines() const;
    // Forgets the lines logged so far.
    void Clear();

private:
    TempFolder folder_;
    std::wstring path_;
};

// Makes a key undeletable as a tree: it gets a volatile child whose name has a NUL inside
// ("ZcStuck", NUL, "Hidden"). The registry lists that child, but its name read back as text
// is "ZcStuck", which names no key, so no caller can open or delete it by that name and the
// key itself keeps a subkey. (Wine grants DELETE even where a DACL denies it, and a registry
// link inside a tree is deleted as a link.) True when the child was made and is out of reach.
bool MakeKeyUndeletable(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
// Removes that child again; true when the key can be deleted once more.
bool MakeKeyDeletable(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);

// A registry link at path (volatile, created in the view) to the key whose kernel name is
// target ("\\REGISTRY\\Machine\\Software\\..."); the link alone is deleted when the object goes.
class RegistryLink {
public:
    RegistryLink(HKEY root, const std::wstring& path, const std::wstring& target, REGSAM view = KEY_WOW64_64KEY);
    ~RegistryLink();
    RegistryLink(const RegistryLink&) = delete;
    RegistryLink& operator=(const RegistryLink&) = delete;
    // True when the link was made and opening its path leads to the target.
    bool Made() const { return made_; }
    // True while the link key itself exists.
    bool Exists() const;

private:
    HKEY root_;
    std::wstring path_;
    REGSAM view_;
    bool made_ = false;
};

// A run of the engine in this process while the object lives, with the options given: the
// steps a test calls read them and keep what they keep in it; the run under way before is
// under way again when the object goes. Every test begins inside a run of its own with no
// options, which ends after it.
class TestRun {
public:
    explicit TestRun(const RunOptions& options);
    ~TestRun();
    TestRun(const TestRun&) = delete;
    TestRun& operator=(const TestRun&) = delete;
    // Ends the run and begins a new one with the same options in its place.
    void Again();

private:
    Run run_;
};
// The options of a run with "/ExitCode" alone: the run keeps its record, logs what stayed
// and its exit code.
RunOptions ExitCodeOptions();
// The options of a run with "/Signature:<signature>" alone.
RunOptions SignedOptions(const wchar_t* signature);

// A preview while the object lives: a new run with the options of the run under way and
// "/Preview".
class PreviewRun : public TestRun {
public:
    PreviewRun();
};

// Keys a test made undeletable (64-bit view), made deletable again by Release or when
// the object goes.
class UndeletableKeys {
public:
    UndeletableKeys() = default;
    ~UndeletableKeys() { Release(); }
    UndeletableKeys(const UndeletableKeys&) = delete;
    UndeletableKeys& operator=(const UndeletableKeys&) = delete;
    // False when this Wine cannot make the key undeletable.
    bool Make(HKEY root, const std::wstring& path);
    void Release();

private:
    std::vector<std::pair<HKEY, std::wstring>> made_;
};

// Test MSI packages built beside the tests, installed and removed with the prefix's
// own msiexec, quietly. True when msiexec ended with 0.
bool InstallTestPackage(const std::wstring& fileName);
bool UninstallTestProduct(const std::wstring& productCode);

// "Waiting for process [1234] to complete" becomes "Waiting for process [#] to
// complete", so lines with a process ID compare whole; other lines stay as they are.
std::vector<std::wstring> MaskProcessIds(const std::vector<std::wstring>& lines);

// Keys a test creates under a shared root (HKEY_LOCAL_MACHINE): each call remembers
// the highest key of the path that did not exist yet, and the object deletes those
// trees again when it goes, so the root is left as the test found it.
class ScratchKeys {
public:
    ScratchKeys() = default;
    ~ScratchKeys();
    ScratchKeys(const ScratchKeys&) = delete;
    ScratchKeys& operator=(const ScratchKeys&) = delete;
    bool Create(HKEY root, const std::wstring& path, REGSAM view);
    bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
                   REGSAM view, DWORD type = REG_SZ);

private:
    struct Made {
        HKEY root;
        std::wstring path;
        REGSAM view;
    };
    std::vector<Made> made_;
};

// A registry tree with every key and value, paths relative to its top ("" is the top).
struct RegistryValueData {
    DWORD type = REG_NONE;
    std::vector<unsigned char> bytes;
    bool operator==(const RegistryValueData& other) const { return type == other.type && bytes == other.bytes; }
};
struct RegistryTree {
    std::map<std::wstring, std::map<std::wstring, RegistryValueData>> keys;
};
// Reads the tree at path; false when its top cannot be opened.
bool CaptureKeyTree(HKEY root, const std::wstring& path, RegistryTree* tree, REGSAM view = KEY_WOW64_64KEY);
// Creates every key and writes every value of tree again under path.
bool RestoreKeyTree(HKEY root, const std::wstring& path, const RegistryTree& tree, REGSAM view = KEY_WOW64_64KEY);

// Runs a command line (the program found on the search path) hidden, to its end; the
// exit code, or STILL_ACTIVE when it could not start or did not end in time.
DWORD RunCommand(const std::wstring& commandLine, DWORD timeoutMs = 120000);

// The program's dialog ("Zamo Clean", visible or not) owned by the given process,
// waited for up to timeoutMs; null when it did not appear.
HWND FindProgramWindow(DWORD processId, DWORD timeoutMs = 10000);

// A window's text through WM_GETTEXT (works across processes).
std::wstring WindowText(HWND window);

// Waits for a window (of any process) to become visible; false on timeout.
bool WaitUntilVisible(HWND window, DWORD timeoutMs = 10000);

// Unix directory links planted inside drive_c. Wine reports such a link as
// DIRECTORY | REPARSE_POINT but follows it when asked to remove it, so the tests point
// links only at non-empty folders and remove them through Unix, never through Windows.
// Under Wine: the Unix path of a Windows path, empty elsewhere or on failure.
std::string UnixPath(const std::wstring& path);
// Starts a Unix program (Wine runs an ELF image given to CreateProcessW, detached,
// without a handle to wait on); true when it was started.
bool RunUnixProgram(const std::wstring& program, const std::wstring& arguments);

// A link at linkPath to the folder target, removed (the link alone) when the object goes.
class DirectoryLink {
public:
    DirectoryLink(const std::wstring& linkPath, const std::wstring& target);
    ~DirectoryLink();
    DirectoryLink(const DirectoryLink&) = delete;
    DirectoryLink& operator=(const DirectoryLink&) = delete;
    // True when the link exists and Windows sees it as a link to a folder.
    bool Planted() const;

private:
    std::wstring linkPath_;
    std::string unixLink_;
};

// Files of a folder tree, as paths relative to root ("a\b.txt"), folders with a final
// backslash, sorted; links are listed but not entered.
std::vector<std::wstring> ListTree(const std::wstring& root);

// An environment variable set (or removed, for a null value) for one test and put back
// afterwards.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::wstring name_;
    std::wstring saved_;
    bool existed_;
};

// The lines of a log that the shell writes itself: the separator, the header lines
// and "Finishing". The clean run's step lines in between depend on what the machine
// holds (users, products), so tests of the shell and its options leave them out.
std::vector<std::wstring> ShellLogLines(const std::wstring& path);

// A run report read back by Python's JSON parser, strictly (tests/support/read-report.py):
// every value by its path, members' names and elements' indexes joined by "/" ("items/0/name",
// "" for the whole document). type: 'S' string (text), 'N' integer, 'B' boolean (number 1 or
// 0), 'Z' null, 'O' object or 'A' array (number: its size). False, with why, when the report
// is no valid UTF-8 JSON or could not be read.
struct ReportValue {
    char type = 0;
    std::wstring text;
    long long number = 0;
};
typedef std::map<std::string, ReportValue> ReportValues;
bool ReadReport(const std::wstring& path, ReportValues* out, std::string* why);
