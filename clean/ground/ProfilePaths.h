// User profiles, their shell folders, and the paths read from them.
#pragma once

#include "Scope.h"

#include "../../common/Bounded.h"

// Names under HKEY_USERS shorter than this are the well-known accounts' hives.
const size_t WellKnownNameLength = 10;
// The machine's profile list (HKEY_LOCAL_MACHINE, 64-bit view): the profile folder of each SID.
extern const wchar_t ProfileListKey[];
// A user's shell folder definitions below the user's key, the machine's common ones below
// HKEY_LOCAL_MACHINE.
extern const wchar_t ShellFoldersKey[];

// The profile folder of a user scope: its SID's profile list entry's "ProfileImagePath" (REG_SZ
// or REG_EXPAND_SZ), expanded. True when out holds it.
bool ReadProfileFolder(const Scope& user, PathBuffer& out);
// Resolves one of a user's shell folders ("Local AppData", "Startup") in that user's own terms:
// its definition's references take the user's values only (ShellFolders.cpp), and a definition
// that none of them resolves is logged once a scope that keeps its reads and noted as a folder
// not searched. True when out holds the folder's path, a full path.
bool ResolveUserShellFolder(const Scope& user, const wchar_t* valueName, PathBuffer& out);
// Resolves one of the machine's common shell folders ("Common Desktop", "Common Programs").
// True when out holds the folder's path.
bool ResolveCommonShellFolder(const wchar_t* valueName, PathBuffer& out);
// One value read while a scope keeps its reads: where it was, whether it was there, and its text.
struct KeptRead {
    HKEY root;
    PathBuffer keyPath;
    PathBuffer valueName;
    bool found;
    PathBuffer text;
};
// What a user scope keeps of its profile paths while its sweep goes, made empty by the sweep
// that makes the scope: the profile folder, the few shell folders its steps resolve, each many
// times, and the user's values their definitions refer to; and the definitions that did not
// resolve, each logged once. Nothing the sweep does changes them.
struct ProfileReads {
    KeptRead reads[32];
    DWORD count;
    PathBuffer unresolved[8];
    DWORD unresolvedCount;
};
// Within this area: one value read through the reads the scope keeps (one registry read each
// for a scope that keeps none), and whether a user's definition that did not resolve is met the
// first time in the scope (always true for a scope that keeps no reads).
bool ReadProfileValue(const Scope& scope, HKEY root, const wchar_t* keyPath, const wchar_t* valueName,
                      PathBuffer& out);
bool FirstUnresolvedInScope(const Scope& scope, const wchar_t* valueName);
// RemoveFolderTree expands the path it is given: true when path expands to itself, so that a
// folder name such as "%NAME%" is never handed to it.
bool ExpandsToItself(const PathBuffer& path);
