#include "TestMachine.h"

ProgramFolders::ProgramFolders()
    : programFiles_(L"ProgramFiles", (root_ / L"PF").c_str()),
      programFilesX86_(L"ProgramFiles(x86)", (root_ / L"PF86").c_str()),
      programW6432_(L"ProgramW6432", (root_ / L"PF64").c_str())
{
}

void ProgramFolders::Make() const
{
    for (const wchar_t* name : {L"PF", L"PF86", L"PF64"})
        CreateDirectoryW((root_ / name).c_str(), nullptr);
}

TestUser::TestUser(const std::wstring& sid, const wchar_t* folderName) : sid_(sid), profile_(home_ / folderName)
{
    CreateDirectoryW(profile_.c_str(), nullptr);
    SetString(HKEY_LOCAL_MACHINE, ProfileList(), L"ProfileImagePath", profile_, KEY_WOW64_64KEY, REG_EXPAND_SZ);
}

TestUser::~TestUser()
{
    DeleteKeyTree(HKEY_LOCAL_MACHINE, ProfileList());
    DeleteKeyTree(HKEY_USERS, sid_);
    DeleteKeyTree(HKEY_USERS, sid_ + L"_Classes");
}

void TestUser::DefineShellFolder(const wchar_t* name, const wchar_t* definition) const
{
    SetString(HKEY_USERS, sid_ + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", name,
              definition, KEY_WOW64_64KEY, REG_EXPAND_SZ);
}

std::wstring TestUser::ProfileList() const
{
    return L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid_;
}
