// Changes that put something on the machine rather than take it away: a folder made, a file
// copied, a command registered to run at each user's logon.
#pragma once

#include "Change.h"

// Makes one folder, which takes the access list its parent hands down. Preview: "Would create
// folder [%s]".
Change CreateFolderAt(const wchar_t* path);

// Copies the file at source to target: the copy is written beside target and put in its place
// in one step (never through a link), then read back and compared with source byte for byte;
// Failed with ERROR_FILE_CORRUPT when it differs. Preview: "Would copy [%s] to [%s]".
Change CopyFileWhole(const wchar_t* source, const wchar_t* target);

// What a logon entry holds: the name Windows shows, the command, and its version ("2612,0914,3005");
// inPlace when the entry holds them already, and a real run leaves it as it is.
struct LogonEntryValues {
    const wchar_t* displayName;
    const wchar_t* command;
    const wchar_t* version;
    bool inPlace;
};
// Writes the entry name below listPath (HKEY_LOCAL_MACHINE, 64-bit view): its default value, its
// "StubPath" and "Version" (REG_SZ) and "IsInstalled" (REG_DWORD 1), creating the key when it is
// missing. A key that is not reached as itself (a registry link) is not written: Failed with
// ERROR_CANT_ACCESS_FILE. Preview: "Would register the clean-up at each user's next logon [%s]"
// with the command.
Change WriteLogonEntry(const wchar_t* listPath, const wchar_t* name, const LogonEntryValues& values);
