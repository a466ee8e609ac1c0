// Run entries: the values of "...\CurrentVersion\Run" and "...\RunOnce" whose command starts
// the product's program.
#pragma once

#include "../ground/Scope.h"

// In each view that shows the scope's Software: one for a user's, both for the machine's.
void RemoveRunEntries(const Scope& scope);
