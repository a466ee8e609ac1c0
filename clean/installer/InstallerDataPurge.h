// Windows Installer data purge.
#pragma once

#include "../ground/ListScan.h"

// The Installer's per-SID data, below HKEY_LOCAL_MACHINE (64-bit view).
extern const wchar_t InstallerUserData[];
// For one SID under UserData: the component records, then the product records, these with the
// reading of their list that readings (when not null) keeps, made when the products were found.
void PurgeInstallerData(const wchar_t* sid, ListReadings* readings = nullptr);
// A product record of UserData\<SID>\Products (scan.sid) that matches: its InstallProperties
// "DisplayName", a REG_SZ equal to a catalogue name as a whole, in any letter case.
const wchar_t* MatchCataloguedRecord(const ListScan& scan, const wchar_t* name);
