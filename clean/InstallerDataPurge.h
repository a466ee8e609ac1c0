// Windows Installer data purge.
#pragma once

// The Installer's per-SID data, below HKEY_LOCAL_MACHINE (64-bit view).
extern const wchar_t InstallerUserData[];
// For one SID under UserData: the component records, then the product records.
void PurgeInstallerData(const wchar_t* sid);
