// The clean-up at each user's next logon ("/AtNextLogon", "/WithdrawAtNextLogon"): an Active
// Setup entry that runs the program's copy with "/Quiet /CurrentUser" once in each user's logon.
#pragma once

#include "../common/JsonText.h"

// Forgets what an earlier run registered: called when a run starts, before its report can be written.
void ForgetLogonRegistration();
// After the run's last removal: registers the clean-up ("/AtNextLogon") unless the machine
// scope bore the signature, or withdraws it ("/WithdrawAtNextLogon"); nothing without either.
void ChangeLogonRegistration(bool machineSkipped);
// With "/WithdrawAtNextLogon", removes the user's records of the entry (name under HKEY_USERS);
// nothing for a well-known account's hive or a class hive.
void WithdrawUserLogonRecords(const wchar_t* name);
// With "/AtNextLogon", the report's member "atNextLogon": registered or not, command, version, error.
void WriteLogonRegistrationMember(JsonText& json);
