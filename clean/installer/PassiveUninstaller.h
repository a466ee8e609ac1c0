// Passive uninstaller: the product's own uninstallers, run quietly from the scope's
// uninstall list.
#pragma once

#include "InstallerProductList.h"
#include "../ground/ListScan.h"
#include "../ground/Scope.h"

// Runs MsiExec /x quietly for every matching entry of the scope's uninstall list in one view
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY) whose name is a product code that the Windows Installer
// does not know as another product's, waiting for each at most waitMs. A run always waits
// UninstallerWaitMs; the tests pass shorter bounds.
extern const DWORD UninstallerWaitMs;
void UninstallProductsPassively(const Scope& scope, REGSAM view, ListReadings* readings = nullptr,
                                DWORD waitMs = UninstallerWaitMs);
// A run of the current user alone: MsiExec /x for the user's own per-user packages (own, found
// through the Installer's records of the user) whose entries, named by their product codes, lie in
// the machine's uninstall list (Wine keeps them there) in one view, as the machine's pass would run
// them, the entries only read; an uninstaller that does not finish keeps the user's scope
// unmarked. Nothing is logged or read for a user with no products.
void UninstallOwnPackagesPassively(const Scope& user, const InstallerProductList& own, REGSAM view,
                                   ListReadings* readings = nullptr, DWORD waitMs = UninstallerWaitMs);
// True when an uninstaller of the scope did not finish in this run (still running when its
// wait ended, or another installation in progress): the scope is not marked.
bool ScopeHasUnfinishedUninstaller(const Scope& scope);
// What a run keeps of its uninstallers: the scopes, as "<root label>,<SID or ->", and the
// product codes whose uninstallers did not finish. A scope that could not be added makes every
// scope count as one.
struct UninstallerPart {
    NameList unfinishedScopes;
    bool unfinishedScopeLost;
    NameList unfinishedCodes;
    DWORD scanWaitMs;  // the bound of the current scan's waits
};
// The part the uninstallers use from now on; null: none.
void UseUninstallerPart(UninstallerPart* part);
// Logs that a list entry matched: the line that comes before its removal is tried.
void LogRemovalAttempt(const wchar_t* name, const wchar_t* displayName);
