// The scope a step cleans: the machine, or one user's hive under HKEY_USERS. Steps compose the
// key paths they visit below its root through it, never from the SID themselves.
#pragma once

#include "../../common/Bounded.h"

#include <windows.h>

struct ProfileReads;

struct Scope {
    HKEY root;
    const wchar_t* sid;       // null for the machine
    const wchar_t* label;     // the root as log lines show it
    const wchar_t* shownSid;  // the SID as log lines show it: "-" for the machine
    PathBuffer software;      // the scope's Software key, below root
    bool softwareFits;        // false when the SID left no room for Software: software is empty
    DWORD softwareViews;      // how many of RegViews show software as keys of their own
    DWORD purgeViews;         // how many of RegViews the registry purge passes walk
    ProfileReads* reads;      // what the sweep that made it keeps of its profile paths; null: read afresh
};

// The machine's scope, and a user's by the SID its hive is loaded under; a sweep hands the user's
// scope the reads it keeps for it (ProfilePaths.h), made empty, and keeps them until it ends.
Scope MachineScope();
Scope UserScope(const wchar_t* sid, ProfileReads* reads = nullptr);
// Composes out = the scope's relativePath below its root ("<sid>\relativePath" for a user); false
// when it does not fit, and out is then empty and never to be used.
bool ScopeKey(const Scope& scope, const wchar_t* relativePath, PathBuffer& out);
