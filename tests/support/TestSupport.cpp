#include "TestSupport.h"

#include <gtest/gtest.h>

#include <wctype.h>

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

HANDLE StartProgram(const std::wstring& commandLine, DWORD* processId)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    std::wstring program = ProgramPath();
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    if (processId != nullptr)
        *processId = info.dwProcessId;
    return info.hProcess;
}

RunResult RunProgram(const std::wstring& commandLine, DWORD timeoutMs)
{
    RunResult result;
    HANDLE process = StartProgram(commandLine);
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

void DeleteKeyTree(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        wchar_t name[512];
        for (;;) {
            DWORD count = ARRAYSIZE(name);
            if (RegEnumKeyExW(key, 0, name, &count, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            DeleteKeyTree(key, name, view);
            HKEY check;
            if (RegOpenKeyExW(key, name, 0, KEY_READ | view, &check) == ERROR_SUCCESS) {
                RegCloseKey(check);
                break;  // undeletable: stop rather than spin
            }
        }
        RegCloseKey(key);
    }
    RegDeleteKeyExW(root, path.c_str(), view, 0);
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
