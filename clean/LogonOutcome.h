// What became of the clean-up at each user's next logon in this run, as the report shows it.
#pragma once

#include "../common/Bounded.h"
#include "../common/JsonText.h"

// A logon command: the copy's path and the user-side options, each up to a path's length.
typedef wchar_t LogonCommand[4 * MAX_PATH + 64];

struct LogonOutcome {
    bool tried;
    bool registered;
    LogonCommand command;
    PathBuffer version;
    DWORD error;  // ERROR_SUCCESS for none
};

// The outcome of the run under way, which the registration fills in.
LogonOutcome& RunLogonOutcome();
// The outcome the registration fills in from now on (the run's own, empty when it begins);
// null: none.
void UseLogonOutcome(LogonOutcome* outcome);
// With "/AtNextLogon", the report's member "atNextLogon": registered or not, command, version, error.
void WriteLogonOutcomeMember(JsonText& json);
