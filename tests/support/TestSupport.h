// Fixtures shared by the tests: temporary folders, registry trees, the program
// started as a child process, and the UTF-16 log read back.
#pragma once

#include <windows.h>

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

// Makes a key undeletable by any ordinary deletion: it gets a (volatile) child that is
// a registry link to a key that does not exist, so that child can be neither opened
// nor deleted by name. UnpinKey deletes the link itself.
bool PinKey(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
void UnpinKey(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);

// Runs a command line (the program found on the search path) hidden, to its end; the
// exit code, or STILL_ACTIVE when it could not start or did not end in time.
DWORD RunCommand(const std::wstring& commandLine, DWORD timeoutMs = 120000);
