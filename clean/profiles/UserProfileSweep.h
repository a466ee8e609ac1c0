// User profile sweep.
#pragma once

// Sweeps one name under HKEY_USERS: a user scope is cleaned and marked; a well-known account's
// hive, a class hive and a scope that bears the signature are skipped with a line.
void SweepUserScope(const wchar_t* sid);
