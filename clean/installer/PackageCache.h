// Package caches.
#pragma once

#include "../../common/Bounded.h"

// A user's: the entry folders of cache that hold a catalogue marker, announced with the
// cache's line first.
void RemoveUserPackageCache(const PathBuffer& cache);
// The machine's ("%ProgramData%\Package Cache"): the entry folders that hold a marker or a
// Windows Installer package of a catalogue product, the cache's line logged before the first
// of them.
void RemoveMachinePackageCache();
// The property of a Windows Installer package from its Property table; nothing is installed.
bool ReadPackageProperty(const wchar_t* package, const wchar_t* property, PathBuffer& out);
