// Scope marker. A scope is HKEY_LOCAL_MACHINE with no SID, or HKEY_USERS and a SID.
#pragma once

#include <windows.h>

// True when the scope is to be swept; false when it bears the current signature (the skip
// line is then logged already).
bool ScopeNeedsCleaning(HKEY root, const wchar_t* sid);
// The same test without the skip line: true when the scope bears the current signature.
bool ScopeBearsSignature(HKEY root, const wchar_t* sid);
// Stores the current signature as the scope's marker (nothing without a signature); a scope
// where an uninstaller did not finish is not marked, with a line that says so.
void MarkScopeCleaned(HKEY root, const wchar_t* sid);
