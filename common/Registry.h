// Registry helpers shared by the removal steps.
#pragma once

#include "Bounded.h"

// Reads a string value of an open key into out. True when the read succeeded, the
// type is REG_SZ (or REG_EXPAND_SZ when acceptExpandable), the data is not empty, and
// its text, which ends at the first NUL or at the end of the data, fits with its
// terminator. The registry is given 520 bytes, so a longer value counts as absent.
bool ReadRegistryText(HKEY key, const wchar_t* valueName, PathBuffer& out, bool acceptExpandable);

// Deletes subkey (a path relative to parent) and everything below it in one registry
// view (KEY_WOW64_64KEY or KEY_WOW64_32KEY), depth first, naming that view on every
// open and delete so that a 32-bit process on 64-bit Windows never strays into the
// other view. True when the key itself was deleted; a missing key or a partial
// deletion is false.
bool DeleteRegistryTree(HKEY parent, const wchar_t* subkey, REGSAM view);

// The full name the registry itself gives an open key ("\REGISTRY\MACHINE\..."), which
// tells whether two handles, opened through different views, are one key. True when the
// whole name fit into out.
bool RegistryKeyName(HKEY key, wchar_t (&out)[2 * MAX_PATH]);
