// Scope marker: the signature a cleaned scope bears.
#pragma once

#include "../ground/Scope.h"

// True when the scope is to be swept; false when it bears the current signature (the skip
// line is then logged already).
bool ScopeNeedsCleaning(const Scope& scope);
// The same test without the skip line: true when the scope bears the current signature.
bool ScopeBearsSignature(const Scope& scope);
// Stores the current signature as the scope's marker (nothing without a signature); a scope
// where an uninstaller did not finish is not marked, with a line that says so.
void MarkScopeCleaned(const Scope& scope);
