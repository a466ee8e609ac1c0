// Active Setup: the machine's entries that Windows runs once for each user at logon, and each
// user's records of the entries run for that user.
#pragma once

#include "../../common/Bounded.h"

#include <windows.h>

// The entries' list below HKEY_LOCAL_MACHINE (each registry view has its own), and the same
// path below a user's hive, where that user's records lie (the 32-bit entries' records below
// "Software\Wow6432Node").
extern const wchar_t ActiveSetupListPath[];

// What a run keeps of the product's entries: those of each view (the order of RegViews), noted
// the first time a step asks for them.
struct ActiveSetupPart {
    bool noted;
    NameList entries[2];
};
// The part the entries use from now on; null: none.
void UseActiveSetupPart(ActiveSetupPart* part);
// Removes a user's records of the product's entries (those of the machine, either view, whose
// "StubPath" starts the product), in both record locations.
void RemoveUserActiveSetupRecords(const wchar_t* sid);
// Removes the product's entries from the machine, each in the view it was noted in, once its
// "StubPath" is checked again.
void RemoveProductActiveSetupEntries();

// Removes a user's records of the entry name, in both record locations: "Successfully removed
// from HKU\<sid>\...\<name>" or "Failed to remove from ..." (a preview: "Would remove ...").
void RemoveActiveSetupRecords(const wchar_t* sid, const wchar_t* name);
// Removes the machine's entry name in both views, with the same lines.
void RemoveActiveSetupEntry(const wchar_t* name);
// This program's own entry, which "/AtNextLogon" registers; no run takes it for the product's.
extern const wchar_t LogonEntryName[];
// With "/WithdrawAtNextLogon", removes the user's records of this program's own entry (name under
// HKEY_USERS), whether or not the scope bears the signature; nothing for a well-known account's
// hive or a class hive.
void WithdrawUserLogonRecords(const wchar_t* name);
