// Registry reading and key identity shared by the removal steps (changes are in change/).
#pragma once

#include "Bounded.h"

// Reads a string value of an open key into out. True when the read succeeded, the
// type is REG_SZ (or REG_EXPAND_SZ when acceptExpandable), the data is not empty, and
// its text, which ends at the first NUL or at the end of the data, fits with its
// terminator. The registry is given 520 bytes, so a longer value counts as absent.
bool ReadRegistryText(HKEY key, const wchar_t* valueName, PathBuffer& out, bool acceptExpandable);

// The length of data read from the registry (size bytes) as text: up to its first NUL, or
// all of it when it has none.
DWORD RegistryTextLength(const wchar_t* data, DWORD size);

// The full name the registry itself gives an open key ("\REGISTRY\MACHINE\..."), which
// tells whether two handles, opened through different views or roots, are one key. It has
// room for a root, a SID, and a key path and name that each fit a PathBuffer.
typedef wchar_t RegistryName[3 * MAX_PATH];
// True when the whole name fit into out.
bool RegistryKeyName(HKEY key, RegistryName& out);

// Opens parent\subkey as itself: a registry link is opened as the link, not as the key it names.
bool OpenKeyAsItself(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY& key);

// The kernel's name of parent\subkey opened as itself with access; false when it cannot be
// opened so. out is empty when the name does not fit.
bool KeyIdentity(HKEY parent, const wchar_t* subkey, REGSAM access, RegistryName& out);
