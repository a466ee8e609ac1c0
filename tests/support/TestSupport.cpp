#include "TestSupport.h"

#include "clean/Catalogue.h"
#include "clean/RunSteps.h"
#include "log/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include <wctype.h>
#include <winternl.h>

extern "C" NTSTATUS NTAPI NtCreateKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, ULONG index,
                                      PUNICODE_STRING className, ULONG options, PULONG disposition);
extern "C" NTSTATUS NTAPI NtOpenKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);

namespace {
// The tests run the floors without the program's start-up: the names are handed down as it
// hands them, before any test opens a log.
const bool NamesHandedDown = (HandDownProgramNames(), true);

// Every test begins a run of its own with no options, and ends it once the test and its
// fixture are through: what one test's steps keep never reaches the next.
class RunPerTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { run_.reset(new TestRun(RunOptions{})); }
    void OnTestEnd(const testing::TestInfo&) override { run_.reset(); }
    std::unique_ptr<TestRun> run_;
};
const bool RunsPerTest = (testing::UnitTest::GetInstance()->listeners().Append(new RunPerTest), true);
} // namespace

std::wstring BinaryFolder()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring ProgramPath()
{
    return BinaryFolder() + L"\\ZamoClean.exe";
}

std::wstring Expand(const std::wstring& text)
{
    wchar_t buffer[32768];
    DWORD n = ExpandEnvironmentStringsW(text.c_str(), buffer, ARRAYSIZE(buffer));
    return n == 0 ? std::wstring() : std::wstring(buffer);
}

TempFolder::TempFolder()
{
    static unsigned counter = 0;
    wchar_t name[64];
    wsprintfW(name, L"zc-%lu-%lu-%u", GetCurrentProcessId(), GetTickCount(), ++counter);
    path_ = Expand(L"%TEMP%") + L"\\" + name;
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder()
{
    RemoveTree(path_);
}

bool RemoveTree(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                RemoveTree(path + L"\\" + name);
            } while (FindNextFileW(find, &entry));
            FindClose(find);
        }
        return RemoveDirectoryW(path.c_str()) != 0;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return false;  // links are left to the test that planted them
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != 0;
}

bool WriteTextFile(const std::wstring& path, const std::string& content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// The program started with the process's own token, or with the given one.
HANDLE StartProgramAs(HANDLE token, const std::wstring& commandLine, DWORD* processId)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring program = ProgramPath();
    BOOL started = token == nullptr
                       ? CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &info)
                       : CreateProcessAsUserW(token, program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                              nullptr, &startup, &info);
    if (!started)
        return nullptr;
    CloseHandle(info.hThread);
    if (processId != nullptr)
        *processId = info.dwProcessId;
    return info.hProcess;
}

// Waits for a started process (null when it did not start), ends it when it outlives
// the wait, and closes its handle.
RunResult AwaitProcess(HANDLE process, DWORD timeoutMs)
{
    RunResult result;
    if (process == nullptr)
        return result;
    result.started = true;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) {
        result.ended = true;
        GetExitCodeProcess(process, &result.exitCode);
    } else {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
    return result;
}

} // namespace

HANDLE StartProgram(const std::wstring& commandLine, DWORD* processId)
{
    return StartProgramAs(nullptr, commandLine, processId);
}

RunResult RunProgram(const std::wstring& commandLine, DWORD timeoutMs)
{
    return AwaitProcess(StartProgram(commandLine), timeoutMs);
}

RunResult RunProgramWithToken(HANDLE token, const std::wstring& commandLine, DWORD timeoutMs)
{
    return AwaitProcess(StartProgramAs(token, commandLine, nullptr), timeoutMs);
}

std::vector<unsigned char> ReadFileBytes(const std::wstring& path)
{
    std::vector<unsigned char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    unsigned char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), chunk, chunk + read);
    CloseHandle(file);
    return bytes;
}

bool IsTimeStamp(const std::wstring& text)
{
    // YYYY-MM-DDThh:mm:ss.mmmZ and one space
    const wchar_t* shape = L"dddd-dd-ddTdd:dd:dd.dddZ ";
    if (text.size() < 25)
        return false;
    for (size_t i = 0; i < 25; i++) {
        if (shape[i] == L'd' ? !iswdigit(text[i]) : text[i] != shape[i])
            return false;
    }
    return true;
}

std::wstring UnescapeLogText(const std::wstring& line)
{
    std::wstring text;
    for (size_t at = 0; at < line.size(); at++) {
        const std::wstring digits = at + 8 <= line.size() ? line.substr(at + 3, 4) : L"";
        if (line.compare(at, 3, L"<U+") == 0 && digits.size() == 4 && line[at + 7] == L'>' &&
            std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return iswxdigit(c) != 0; })) {
            text += static_cast<wchar_t>(wcstoul(digits.c_str(), nullptr, 16));
            at += 7;
        } else {
            text += line[at];
        }
    }
    return text;
}

std::vector<std::wstring> ReadLogLines(const std::wstring& path)
{
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    std::wstring text(bytes.size() / 2, L'\0');
    if (!text.empty())
        memcpy(&text[0], bytes.data(), text.size() * 2);
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            ADD_FAILURE() << "log ends without CR LF";
            end = text.size();
        }
        std::wstring line = text.substr(start, end - start);
        EXPECT_TRUE(IsTimeStamp(line)) << "line without a time stamp";
        lines.push_back(line.size() >= 25 ? line.substr(25) : line);
        start = end + 2;
    }
    return lines;
}

bool CreateKey(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool SetBinary(HKEY root, const std::wstring& path, const wchar_t* name, const void* data, DWORD size, DWORD type,
               REGSAM view)
{
    HKEY key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value, REGSAM view,
               DWORD type)
{
    return SetBinary(root, path, name, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), type,
                     view);
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ReadString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring* value, REGSAM view, DWORD* type)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    wchar_t data[4096] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD valueType = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &valueType, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;
    if (type != nullptr)
        *type = valueType;
    *value = std::wstring(data, size / sizeof(wchar_t));
    while (!value->empty() && value->back() == L'\0')
        value->pop_back();
    return true;
}

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; index++) {
        wchar_t name[512];
        DWORD count = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, index, name, &count, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

void DeleteKeyTree(HKEY root, const std::wstring& path, REGSAM view)
{
    // A registry link left in the tree is not followed: what it leads to is not the test's.
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        wchar_t name[512];
        for (;;) {
            DWORD count = ARRAYSIZE(name);
            if (RegEnumKeyExW(key, 0, name, &count, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            DeleteKeyTree(key, name, view);
            wchar_t first[512];
            DWORD firstCount = ARRAYSIZE(first);
            if (RegEnumKeyExW(key, 0, first, &firstCount, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                wcscmp(first, name) == 0)
                break;  // undeletable: stop rather than spin
        }
        NtDeleteKey(key);
        RegCloseKey(key);
    }
}

TestRunLog::TestRunLog() : path_(folder_ / L"run.log")
{
    OpenRunLog(path_.c_str());
    EXPECT_TRUE(Exists(path_)) << "test log not opened";
}

TestRunLog::~TestRunLog()
{
    CloseRunLog();
}

namespace {

ULONGLONG SystemTimeMilliseconds(const SYSTEMTIME& time)
{
    FILETIME file;
    if (!SystemTimeToFileTime(&time, &file))
        return 0;
    ULARGE_INTEGER value;
    value.LowPart = file.dwLowDateTime;
    value.HighPart = file.dwHighDateTime;
    return value.QuadPart / 10000;
}

} // namespace

ULONGLONG NowMilliseconds()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    return SystemTimeMilliseconds(now);
}

std::vector<LogEntry> ReadLogEntries(const std::wstring& path)
{
    std::vector<LogEntry> entries;
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    std::wstring text(bytes.size() / 2, L'\0');
    if (!text.empty())
        memcpy(&text[0], bytes.data(), text.size() * 2);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 2;
        LogEntry entry;
        if (IsTimeStamp(line)) {
            // YYYY-MM-DDThh:mm:ss.mmmZ
            SYSTEMTIME time = {};
            time.wYear = static_cast<WORD>(std::stoi(line.substr(0, 4)));
            time.wMonth = static_cast<WORD>(std::stoi(line.substr(5, 2)));
            time.wDay = static_cast<WORD>(std::stoi(line.substr(8, 2)));
            time.wHour = static_cast<WORD>(std::stoi(line.substr(11, 2)));
            time.wMinute = static_cast<WORD>(std::stoi(line.substr(14, 2)));
            time.wSecond = static_cast<WORD>(std::stoi(line.substr(17, 2)));
            time.wMilliseconds = static_cast<WORD>(std::stoi(line.substr(20, 3)));
            entry.milliseconds = SystemTimeMilliseconds(time);
            entry.text = line.substr(25);
        } else {
            ADD_FAILURE() << "line without a time stamp";
            entry.text = line;
        }
        entries.push_back(entry);
    }
    return entries;
}

std::wstring CopyFakeProduct(const std::wstring& folder, const std::wstring& name)
{
    std::wstring path = folder + L"\\" + name;
    if (!CopyFileW((BinaryFolder() + L"\\FakeProduct.exe").c_str(), path.c_str(), TRUE))
        return std::wstring();
    return path;
}

ChildProcess::ChildProcess(const std::wstring& path, PSECURITY_DESCRIPTOR security)
{
    std::wstring commandLine = L"\"" + path + L"\"";
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security, FALSE};
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(path.c_str(), line.data(), security != nullptr ? &attributes : nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info))
        return;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
}

ChildProcess::~ChildProcess()
{
    if (process_ == nullptr)
        return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

bool ChildProcess::Running() const
{
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool ChildProcess::EndsWithin(DWORD timeoutMs, DWORD* exitCode) const
{
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    return GetExitCodeProcess(process_, exitCode) != 0;
}

HANDLE StartCommandLine(const std::wstring& commandLine)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

RunResult RunCommandLine(const std::wstring& commandLine, DWORD timeoutMs)
{
    return AwaitProcess(StartCommandLine(commandLine), timeoutMs);
}

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

HeldLock::HeldLock(const std::wstring& kind, const std::wstring& path)
{
    const std::wstring eventName = L"ZamoCleanTest.LockHeld." + std::to_wstring(GetCurrentProcessId());
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    if (held == nullptr)
        return;
    std::wstring commandLine = Quoted(BinaryFolder() + L"\\LockHolder.exe") + L" " + kind;
    if (!path.empty())
        commandLine += L" " + Quoted(path);
    holder_ = StartCommandLine(commandLine + L" " + eventName);
    HANDLE both[2] = {held, holder_};
    holding_ = holder_ != nullptr && WaitForMultipleObjects(2, both, FALSE, 30000) == WAIT_OBJECT_0;
    CloseHandle(held);
}

HeldLock::~HeldLock()
{
    if (holder_ == nullptr)
        return;
    TerminateProcess(holder_, 0);
    WaitForSingleObject(holder_, 30000);
    CloseHandle(holder_);
}

LogCapture::LogCapture() : path_(folder_ / L"engine.log")
{
    OpenRunLog(path_.c_str());
    EXPECT_TRUE(Exists(path_)) << "engine log not opened";
}

LogCapture::~LogCapture()
{
    CloseRunLog();
}

std::vector<std::wstring> LogCapture::Lines() const
{
    // The separator that opening the log wrote is not the engine's.
    std::vector<std::wstring> lines = ReadLogLines(path_);
    if (!lines.empty() && lines.front() == std::wstring(64, L'='))
        lines.erase(lines.begin());
    return lines;
}

void LogCapture::Clear()
{
    CloseRunLog();
    EXPECT_TRUE(DeleteFileW(path_.c_str()));
    OpenRunLog(path_.c_str());
    EXPECT_TRUE(Exists(path_)) << "engine log not opened again";
}

namespace {

// A child name with a NUL inside: listed whole by the registry, read back as "ZcStuck".
const wchar_t StuckChild[] = L"ZcStuck\0Hidden";

// Opens or creates the stuck child of key through the native calls, the only ones that
// take a name with a NUL inside it.
bool OpenStuckChild(HKEY key, bool create, ACCESS_MASK access, HANDLE* child)
{
    UNICODE_STRING name;
    name.Buffer = const_cast<wchar_t*>(StuckChild);
    name.Length = static_cast<USHORT>((ARRAYSIZE(StuckChild) - 1) * sizeof(wchar_t));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, key, nullptr);
    NTSTATUS status = create ? NtCreateKey(child, access, &attributes, 0, nullptr, REG_OPTION_VOLATILE, nullptr)
                             : NtOpenKey(child, access, &attributes);
    return status >= 0;
}

} // namespace

bool MakeKeyUndeletable(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_CREATE_SUB_KEY | view, &key) != ERROR_SUCCESS)
        return false;
    HANDLE child = nullptr;
    bool made = OpenStuckChild(key, true, KEY_ALL_ACCESS, &child);
    if (made)
        CloseHandle(child);
    RegCloseKey(key);
    if (!made)
        return false;
    // The child must be listed but not reachable by the name a caller reads back.
    HKEY probe;
    bool reachable = RegOpenKeyExW(root, (path + L"\\ZcStuck").c_str(), 0, KEY_READ | view, &probe) == ERROR_SUCCESS;
    if (reachable)
        RegCloseKey(probe);
    return !reachable;
}

bool MakeKeyDeletable(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    HANDLE child = nullptr;
    bool removed = false;
    if (OpenStuckChild(key, false, DELETE, &child)) {
        removed = NtDeleteKey(child) >= 0;
        CloseHandle(child);
    }
    RegCloseKey(key);
    return removed;
}

RegistryLink::RegistryLink(HKEY root, const std::wstring& path, const std::wstring& target, REGSAM view)
    : root_(root), path_(path), view_(view)
{
    HKEY link;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK | view, nullptr, &link, nullptr) != ERROR_SUCCESS)
        return;
    LONG rc = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                             static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(link);
    HKEY followed;
    made_ = rc == ERROR_SUCCESS && RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &followed) == ERROR_SUCCESS;
    if (made_)
        RegCloseKey(followed);
}

RegistryLink::~RegistryLink()
{
    HKEY link;
    if (RegOpenKeyExW(root_, path_.c_str(), REG_OPTION_OPEN_LINK, DELETE | view_, &link) == ERROR_SUCCESS) {
        NtDeleteKey(link);
        RegCloseKey(link);
    }
}

bool RegistryLink::Exists() const
{
    HKEY link;
    if (RegOpenKeyExW(root_, path_.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | view_, &link) != ERROR_SUCCESS)
        return false;
    RegCloseKey(link);
    return true;
}

TestRun::TestRun(const RunOptions& options)
{
    BeginRun(run_, options);
}

TestRun::~TestRun()
{
    EndRun(run_);
}

void TestRun::Again()
{
    const RunOptions options = run_.options;
    EndRun(run_);
    BeginRun(run_, options);
}

RunOptions ExitCodeOptions()
{
    RunOptions options = {};
    options.reportExitCode = true;
    return options;
}

RunOptions SignedOptions(const wchar_t* signature)
{
    RunOptions options = {};
    EXPECT_TRUE(TextCopy(options.signature, signature));
    return options;
}

namespace {

RunOptions WithPreview(RunOptions options)
{
    options.preview = true;
    return options;
}

} // namespace

PreviewRun::PreviewRun() : TestRun(WithPreview(RunOptionsNow()))
{
}

bool UndeletableKeys::Make(HKEY root, const std::wstring& path)
{
    if (!MakeKeyUndeletable(root, path))
        return false;
    made_.emplace_back(root, path);
    return true;
}

void UndeletableKeys::Release()
{
    for (const auto& made : made_)
        MakeKeyDeletable(made.first, made.second);
    made_.clear();
}

namespace {

bool RunMsiExec(const std::wstring& arguments)
{
    RunResult result = RunCommandLine(L"\"" + Expand(L"%SystemRoot%\\System32\\msiexec.exe") + L"\" " + arguments);
    return result.ended && result.exitCode == 0;
}

} // namespace

bool InstallTestPackage(const std::wstring& fileName)
{
    return RunMsiExec(L"/i \"" + BinaryFolder() + L"\\" + fileName + L"\" /quiet");
}

bool UninstallTestProduct(const std::wstring& productCode)
{
    return RunMsiExec(L"/x \"" + productCode + L"\" /quiet");
}

std::vector<std::wstring> MaskProcessIds(const std::vector<std::wstring>& lines)
{
    const std::wstring head = L"Waiting for process [";
    const std::wstring tail = L"] to complete";
    std::vector<std::wstring> masked;
    for (const std::wstring& line : lines) {
        if (line.size() > head.size() + tail.size() && line.compare(0, head.size(), head) == 0 &&
            line.compare(line.size() - tail.size(), tail.size(), tail) == 0) {
            std::wstring digits = line.substr(head.size(), line.size() - head.size() - tail.size());
            bool allDigits = true;
            for (wchar_t c : digits)
                allDigits = allDigits && iswdigit(c);
            if (allDigits) {
                masked.push_back(head + L"#" + tail);
                continue;
            }
        }
        masked.push_back(line);
    }
    return masked;
}

ScratchKeys::~ScratchKeys()
{
    for (auto it = made_.rbegin(); it != made_.rend(); ++it)
        DeleteKeyTree(it->root, it->path, it->view);
}

bool ScratchKeys::Create(HKEY root, const std::wstring& path, REGSAM view)
{
    for (size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1)) {
        std::wstring prefix = path.substr(0, end);
        if (!KeyExists(root, prefix, view)) {
            made_.push_back({root, prefix, view});
            break;
        }
        if (end == std::wstring::npos)
            break;
    }
    return CreateKey(root, path, view);
}

bool ScratchKeys::SetString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
                            REGSAM view, DWORD type)
{
    return Create(root, path, view) && ::SetString(root, path, name, value, view, type);
}

namespace {

void CaptureKeys(HKEY key, const std::wstring& relative, RegistryTree* tree, REGSAM view)
{
    std::map<std::wstring, RegistryValueData>& values = tree->keys[relative];
    for (DWORD index = 0;; index++) {
        wchar_t name[16384];
        DWORD nameCount = ARRAYSIZE(name);
        DWORD size = 0;
        if (RegEnumValueW(key, index, name, &nameCount, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
            break;
        RegistryValueData data;
        data.bytes.resize(size + 2);
        nameCount = ARRAYSIZE(name);
        if (RegEnumValueW(key, index, name, &nameCount, nullptr, &data.type, data.bytes.data(), &size) != ERROR_SUCCESS)
            break;
        data.bytes.resize(size);
        values[std::wstring(name, nameCount)] = data;
    }
    for (DWORD index = 0;; index++) {
        wchar_t name[512];
        DWORD nameCount = ARRAYSIZE(name);
        if (RegEnumKeyExW(key, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY child;
        if (RegOpenKeyExW(key, name, 0, KEY_READ | view, &child) != ERROR_SUCCESS)
            continue;
        CaptureKeys(child, relative.empty() ? name : relative + L"\\" + name, tree, view);
        RegCloseKey(child);
    }
}

} // namespace

bool CaptureKeyTree(HKEY root, const std::wstring& path, RegistryTree* tree, REGSAM view)
{
    tree->keys.clear();
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    CaptureKeys(key, L"", tree, view);
    RegCloseKey(key);
    return true;
}

bool RestoreKeyTree(HKEY root, const std::wstring& path, const RegistryTree& tree, REGSAM view)
{
    bool ok = true;
    for (const auto& key : tree.keys) {
        std::wstring keyPath = key.first.empty() ? path : path + L"\\" + key.first;
        ok = CreateKey(root, keyPath, view) && ok;
        for (const auto& value : key.second) {
            ok = SetBinary(root, keyPath, value.first.c_str(), value.second.bytes.data(),
                           static_cast<DWORD>(value.second.bytes.size()), value.second.type, view) && ok;
        }
    }
    return ok;
}

DWORD RunCommand(const std::wstring& commandLine, DWORD timeoutMs)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return STILL_ACTIVE;
    CloseHandle(info.hThread);
    DWORD exitCode = STILL_ACTIVE;
    if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &exitCode);
    else
        TerminateProcess(info.hProcess, STILL_ACTIVE);
    CloseHandle(info.hProcess);
    return exitCode;
}

HWND FindProgramWindow(DWORD processId, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        for (HWND window = FindWindowExW(nullptr, nullptr, nullptr, L"Zamo Clean"); window != nullptr;
             window = FindWindowExW(nullptr, window, nullptr, L"Zamo Clean")) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == processId)
                return window;
        }
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(10);
    }
}

std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 10000,
                             &length))
        return L"<no answer>";
    return std::wstring(text, length);
}

bool WaitUntilVisible(HWND window, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

std::string UnixPath(const std::wstring& path)
{
    typedef char*(CDECL * UnixFileName)(const wchar_t*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    UnixFileName toUnix = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    if (toUnix == nullptr)
        return std::string();
    char* name = toUnix(path.c_str());
    if (name == nullptr)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

namespace {

std::wstring Widen(const std::string& text)
{
    int count = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring result(count, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &result[0], count);
    result.resize(count - 1);
    return result;
}

// Waits until the path's existence is as wanted: Wine starts a Unix program detached,
// with no process handle to wait on.
bool AwaitExistence(const std::wstring& path, bool wanted)
{
    for (int i = 0; i < 200; i++) {
        if (Exists(path) == wanted)
            return true;
        Sleep(25);
    }
    return false;
}

} // namespace

bool RunUnixProgram(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring line = L"\"" + program + L"\" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    if (info.hThread != nullptr)
        CloseHandle(info.hThread);
    if (info.hProcess != nullptr) {
        WaitForSingleObject(info.hProcess, 10000);
        CloseHandle(info.hProcess);
    }
    return true;
}

DirectoryLink::DirectoryLink(const std::wstring& linkPath, const std::wstring& target) : linkPath_(linkPath)
{
    std::string unixTarget = UnixPath(target);
    std::string unixFolder = UnixPath(linkPath.substr(0, linkPath.find_last_of(L'\\')));
    if (unixTarget.empty() || unixFolder.empty())
        return;
    unixLink_ = unixFolder + "/" + std::string(linkPath.begin() + linkPath.find_last_of(L'\\') + 1, linkPath.end());
    if (RunUnixProgram(L"Z:\\bin\\ln", L"-s \"" + Widen(unixTarget) + L"\" \"" + Widen(unixLink_) + L"\""))
        AwaitExistence(linkPath_, true);
}

DirectoryLink::~DirectoryLink()
{
    // Without a trailing slash rm removes the link itself, never what it points to.
    if (!unixLink_.empty() && RunUnixProgram(L"Z:\\bin\\rm", L"-f \"" + Widen(unixLink_) + L"\""))
        AwaitExistence(linkPath_, false);
}

bool DirectoryLink::Planted() const
{
    DWORD attributes = GetFileAttributesW(linkPath_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

namespace {

void ListInto(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& out)
{
    WIN32_FIND_DATAW entry;
    std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            out.push_back(path + L"\\");
            ListInto(root, path, out);
        } else {
            out.push_back(path);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

} // namespace

std::vector<std::wstring> ListTree(const std::wstring& root)
{
    std::vector<std::wstring> out;
    ListInto(root, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

ScopedVariable::ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name), existed_(false)
{
    wchar_t buffer[32768];
    DWORD length = GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
    if (length > 0 && length < ARRAYSIZE(buffer)) {
        existed_ = true;
        saved_ = buffer;
    }
    SetEnvironmentVariableW(name, value);
}

ScopedVariable::~ScopedVariable()
{
    SetEnvironmentVariableW(name_.c_str(), existed_ ? saved_.c_str() : nullptr);
}

std::vector<std::wstring> ShellLogLines(const std::wstring& path)
{
    const std::wstring shellLines[] = {std::wstring(64, L'='), L"Running quietly (no UI)",
                                       L"Preview: nothing will be changed",
                                       L"Including user profiles that are not loaded", L"Finishing"};
    const std::wstring headerStarts[] = {L"Using signature [", L"Using log file location ["};
    std::vector<std::wstring> lines;
    for (const std::wstring& line : ReadLogLines(path)) {
        bool shell = std::find(std::begin(shellLines), std::end(shellLines), line) != std::end(shellLines);
        for (const std::wstring& start : headerStarts)
            shell = shell || line.compare(0, start.size(), start) == 0;
        if (shell)
            lines.push_back(line);
    }
    return lines;
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool ReadReport(const std::wstring& path, ReportValues* out, std::string* why)
{
    out->clear();
    TempFolder folder;
    const std::wstring flat = folder / L"report.txt";
    std::string unixReport = UnixPath(path);
    std::string unixFlat = UnixPath(flat);
    std::string script = UnixPath(BinaryFolder() + L"\\read-report.py");
    if (unixReport.empty() || unixFlat.empty() || script.empty()) {
        *why = "no Unix paths: not under Wine";
        return false;
    }
    if (!RunUnixProgram(L"Z:\\usr\\bin\\python3", L"\"" + Widen(script) + L"\" \"" + Widen(unixReport) + L"\" \"" +
                                                       Widen(unixFlat) + L"\"")) {
        *why = "python3 did not start";
        return false;
    }
    // Python starts detached: its answer is there once renamed into place.
    for (int i = 0; i < 1200 && !Exists(flat); i++)
        Sleep(25);
    std::vector<unsigned char> bytes = ReadFileBytes(flat);
    if (bytes.empty()) {
        *why = "python3 gave no answer";
        return false;
    }
    std::string text(bytes.begin(), bytes.end());
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t tab = line.find('\t');
        size_t second = tab == std::string::npos ? std::string::npos : line.find('\t', tab + 1);
        if (line.compare(0, 6, "ERROR\t") == 0) {
            *why = line.substr(6);
            return false;
        }
        if (second == std::string::npos || second != tab + 2) {
            *why = "unreadable answer: " + line;
            return false;
        }
        ReportValue value;
        value.type = line[tab + 1];
        std::string rest = line.substr(second + 1);
        if (value.type == 'S') {
            for (size_t at = 0; at + 4 <= rest.size(); at += 4) {
                int digits[4] = {HexDigit(rest[at]), HexDigit(rest[at + 1]), HexDigit(rest[at + 2]),
                                 HexDigit(rest[at + 3])};
                // UTF-16LE: the low byte first.
                value.text.push_back(static_cast<wchar_t>((digits[2] << 12) | (digits[3] << 8) | (digits[0] << 4) |
                                                          digits[1]));
            }
        } else if (value.type == 'N' || value.type == 'O' || value.type == 'A') {
            value.number = std::stoll(rest);
        } else if (value.type == 'B') {
            value.number = rest == "true" ? 1 : 0;
        }
        (*out)[line.substr(0, tab)] = value;
    }
    return true;
}
