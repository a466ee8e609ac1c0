// The clean-up at each user's next logon ("/AtNextLogon", "/WithdrawAtNextLogon"): an Active
// Setup entry that runs the program's copy with "/Quiet /CurrentUser" once in each user's logon.
#pragma once

// After the run's last removal: registers the clean-up ("/AtNextLogon") unless the machine
// scope bore the signature, or withdraws it ("/WithdrawAtNextLogon"); nothing without either.
// Each user's records of the entry go in that user's sweep (WithdrawUserLogonRecords).
void ChangeLogonRegistration(bool machineSkipped);
