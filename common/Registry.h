// The registry floor: keys opened as themselves, the kernel's names of keys, what a key holds,
// root labels and key paths. Every name here begins with "Reg"; nothing here knows the product.
#pragma once

#include "Bounded.h"

// Reads a string value of an open key into out. True when the read succeeded, the
// type is REG_SZ (or REG_EXPAND_SZ when acceptExpandable), the data is not empty, and
// its text, which ends at the first NUL or at the end of the data, fits with its
// terminator. The registry is given 520 bytes, so a longer value counts as absent.
bool RegReadText(HKEY key, const wchar_t* valueName, PathBuffer& out, bool acceptExpandable);

// The length of data read from the registry (size bytes) as text: up to its first NUL, or
// all of it when it has none.
DWORD RegTextLength(const wchar_t* data, DWORD size);

// The full name the registry itself gives an open key ("\REGISTRY\MACHINE\..."), which
// tells whether two handles, opened through different views or roots, are one key. It has
// room for a root, a SID, and a key path and name that each fit a PathBuffer.
typedef wchar_t RegistryName[3 * MAX_PATH];
// True when the whole name fit into out.
bool RegKernelName(HKEY key, RegistryName& out);
// True when two kernel names name one key (the registry ignores case).
bool RegSameKey(const wchar_t* name, const wchar_t* other);

// Opens parent\path as itself: no registry link on the way or at the end is followed, so a
// path that passes a link is not found. The one link followed is Windows' own: a user's
// "<SID>\Software\Classes" below HKEY_USERS, which leads to that user's "<SID>_Classes".
// False with GetLastError telling why: the registry's code, or ERROR_FILE_NOT_FOUND for a
// path that meets a link. A parent that is itself a link opened as itself has nothing below it.
bool RegOpenAsItself(HKEY parent, const wchar_t* path, REGSAM access, HKEY& key);

// Opens parent\path as RegOpenAsItself does, but only a key that is no registry link itself: one
// below which RegOpenSubkeyOf reaches a subkey in one call. A link at the end is not found.
bool RegOpenPlain(HKEY parent, const wchar_t* path, REGSAM access, HKEY& key);

// Opens the subkey name of key as itself, in one call, for a key known to be no registry link:
// one RegOpenPlain opened, or one whose walk has just handed over name (a link holds no
// subkeys). Below such a key one name has no link on the way; the subkey itself may be a link,
// opened as itself. A name that can be Windows' own link is opened by RegOpenAsItself.
bool RegOpenSubkeyOf(HKEY key, const wchar_t* name, REGSAM access, HKEY& subkey);

// The kernel's name of parent\path opened as itself with access; false when it cannot be
// opened so. out is empty when the name does not fit.
bool RegKernelNameOf(HKEY parent, const wchar_t* path, REGSAM access, RegistryName& out);

// Opens parent\path as itself with read (the rights to read and the view) to delete values
// from; without the right to set values it is still opened with read alone, so that each
// deletion it cannot make is reported.
bool RegOpenForValues(HKEY parent, const wchar_t* path, REGSAM read, HKEY& key);

// True when an open key has no more than subkeyCount subkeys and valueCount values.
bool RegHoldsAtMost(HKEY key, DWORD subkeyCount, DWORD valueCount);

// How log lines name a root: "HKLM" for HKEY_LOCAL_MACHINE, "HKU" for any other.
const wchar_t* RegRootLabel(HKEY root);

// A key path and one name below it, "<path>\<name>", joined as text (a key name is no file
// path to canonicalise); true when it fit, false for a missing part.
bool RegJoinPath(PathBuffer& out, const wchar_t* path, const wchar_t* name);
