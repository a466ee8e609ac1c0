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

// The program's dialog ("Zamo Clean", visible or not) owned by the given process,
// waited for up to timeoutMs; null when it did not appear.
HWND FindProgramWindow(DWORD processId, DWORD timeoutMs = 10000);

// A window's text through WM_GETTEXT (works across processes).
std::wstring WindowText(HWND window);

// Waits for a window (of any process) to become visible; false on timeout.
bool WaitUntilVisible(HWND window, DWORD timeoutMs = 10000);
