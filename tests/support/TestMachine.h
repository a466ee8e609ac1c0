// Parts of a test machine that several areas' tests set up alike: the program folders moved
// to a temporary folder, and a test user with a profile folder of its own.
#pragma once

#include "TestSupport.h"

#include <string>

// The folders that ProgramFiles, ProgramFiles(x86) and ProgramW6432 name, moved to PF, PF86
// and PF64 below a temporary folder for one test.
class ProgramFolders {
public:
    ProgramFolders();
    ProgramFolders(const ProgramFolders&) = delete;
    ProgramFolders& operator=(const ProgramFolders&) = delete;
    // Makes the three folders, which otherwise do not exist.
    void Make() const;
    std::wstring operator/(const std::wstring& name) const { return root_ / name; }
    std::wstring Pf86(const std::wstring& tail) const { return root_ / (L"PF86" + tail); }

private:
    TempFolder root_;
    ScopedVariable programFiles_;
    ScopedVariable programFilesX86_;
    ScopedVariable programW6432_;
};

// A user of the profile list whose profile folder is made below a temporary folder; its
// profile list entry and its hive keys (HKU\<sid> and HKU\<sid>_Classes) go with the object.
class TestUser {
public:
    TestUser(const std::wstring& sid, const wchar_t* folderName);
    ~TestUser();
    TestUser(const TestUser&) = delete;
    TestUser& operator=(const TestUser&) = delete;
    // One of the user's User Shell Folders, written as installers write them (REG_EXPAND_SZ).
    void DefineShellFolder(const wchar_t* name, const wchar_t* definition) const;
    const std::wstring& Profile() const { return profile_; }

private:
    std::wstring ProfileList() const;
    std::wstring sid_;
    TempFolder home_;
    std::wstring profile_;
};
