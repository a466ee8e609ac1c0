// Passive uninstaller: the product's own uninstallers, run quietly from the scope's
// uninstall list.
#pragma once

#include "../ground/ListScan.h"
#include "../ground/Scope.h"

// Runs MsiExec /x quietly for every matching entry of the scope's uninstall list in one view
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY) whose name is a product code that the Windows Installer
// does not know as another product's, waiting for each at most waitMs. A run always waits
// UninstallerWaitMs; the tests pass shorter bounds.
extern const DWORD UninstallerWaitMs;
void UninstallProductsPassively(const Scope& scope, REGSAM view, ListReadings* readings = nullptr,
                                DWORD waitMs = UninstallerWaitMs);
// True when an uninstaller of the scope did not finish in this run (still running when its
// wait ended, or another installation in progress): the scope is not marked.
bool ScopeHasUnfinishedUninstaller(const Scope& scope);
// Forgets the scopes of unfinished uninstallers: called when a run starts.
void ForgetUnfinishedUninstallers();
// Logs that a list entry matched: the line that comes before its removal is tried.
void LogRemovalAttempt(const wchar_t* name, const wchar_t* displayName);
