// User profiles, their shell folders, and the paths read from them.
#pragma once

#include "../common/Bounded.h"

// Names under HKEY_USERS shorter than this are the well-known accounts' hives.
const size_t WellKnownNameLength = 10;
// The machine's profile list (HKEY_LOCAL_MACHINE, 64-bit view): the profile folder of each SID.
extern const wchar_t ProfileListKey[];

// The profile folder of a SID: its profile list entry's "ProfileImagePath" (REG_SZ or
// REG_EXPAND_SZ), expanded. True when out holds it.
bool ReadProfileFolder(const wchar_t* sid, PathBuffer& out);
// Resolves one of a user's shell folders ("Local AppData", "Startup") against that user's own
// profile folder. True when out holds the folder's path.
bool ResolveUserShellFolder(const wchar_t* sid, const wchar_t* valueName, PathBuffer& out);
// Resolves one of the machine's common shell folders ("Common Desktop", "Common Programs").
// True when out holds the folder's path.
bool ResolveCommonShellFolder(const wchar_t* valueName, PathBuffer& out);
// From KeepProfileReads to ForgetProfileReads, the registry values behind ReadProfileFolder and
// ResolveUserShellFolder are read once each and kept: the steps of one user scope resolve the
// same few, and nothing the sweep does changes them.
void KeepProfileReads();
void ForgetProfileReads();
// A drive path ("C:\...") or a UNC path ("\\server\..."), never one taken relative to the
// current folder or drive.
bool IsFullPath(const wchar_t* path);
// A drive path: a letter, a colon and a backslash.
bool IsDrivePath(const wchar_t* path);
// RemoveFolderTree expands the path it is given: true when path expands to itself, so that a
// folder name such as "%NAME%" is never handed to it.
bool ExpandsToItself(const PathBuffer& path);
