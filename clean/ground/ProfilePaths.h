// User profiles, their shell folders, and the paths read from them.
#pragma once

#include "../../common/Bounded.h"

// Names under HKEY_USERS shorter than this are the well-known accounts' hives.
const size_t WellKnownNameLength = 10;
// The machine's profile list (HKEY_LOCAL_MACHINE, 64-bit view): the profile folder of each SID.
extern const wchar_t ProfileListKey[];
// A user's shell folder definitions below the user's key, the machine's common ones below
// HKEY_LOCAL_MACHINE.
extern const wchar_t ShellFoldersKey[];

// The profile folder of a SID: its profile list entry's "ProfileImagePath" (REG_SZ or
// REG_EXPAND_SZ), expanded. True when out holds it.
bool ReadProfileFolder(const wchar_t* sid, PathBuffer& out);
// Resolves one of a user's shell folders ("Local AppData", "Startup") in that user's own terms:
// its definition's references take the user's values only (ShellFolders.cpp), and a definition
// that none of them resolves is logged once a scope and noted as a folder not searched. True
// when out holds the folder's path, a full path.
bool ResolveUserShellFolder(const wchar_t* sid, const wchar_t* valueName, PathBuffer& out);
// Resolves one of the machine's common shell folders ("Common Desktop", "Common Programs").
// True when out holds the folder's path.
bool ResolveCommonShellFolder(const wchar_t* valueName, PathBuffer& out);
// From KeepProfileReads to ForgetProfileReads, the registry values behind ReadProfileFolder and
// ResolveUserShellFolder are read once each and kept: the steps of one user scope resolve the
// same few, and nothing the sweep does changes them.
void KeepProfileReads();
void ForgetProfileReads();
// Within this area: one value read through the reads a scope keeps (one registry read each
// otherwise), and whether a user's definition that did not resolve is met the first time in the
// scope kept now (always true outside one).
bool ReadProfileValue(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, PathBuffer& out);
bool FirstUnresolvedInScope(const wchar_t* valueName);
// RemoveFolderTree expands the path it is given: true when path expands to itself, so that a
// folder name such as "%NAME%" is never handed to it.
bool ExpandsToItself(const PathBuffer& path);
