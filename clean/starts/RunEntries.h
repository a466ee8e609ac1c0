// Run entries: the values of "...\CurrentVersion\Run" and "...\RunOnce" whose command starts
// the product's program.
#pragma once

// In a user's scope (one view: the user's Software is shared).
void RemoveUserRunEntries(const wchar_t* sid);
// In both views of the machine's.
void RemoveMachineRunEntries();
