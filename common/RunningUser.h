// The user the program runs as, read once from its own process token.
#pragma once

#include "Bounded.h"

// Room for any SID.
typedef BYTE UserSid[SECURITY_MAX_SID_SIZE];

// Copies the running user's SID into out; false when the token could not be read.
bool ReadRunningUserSid(UserSid& out);
// The same as text ("S-1-5-..."); false when it could not be read, converted or did not fit.
bool ReadRunningUserSidText(PathBuffer& out);
// Copies the SID of the user a process (opened with PROCESS_QUERY_LIMITED_INFORMATION) runs
// as into out; false when its token cannot be read, as another user's cannot by a standard user.
bool ReadProcessUserSid(HANDLE process, UserSid& out);
// A SID as text ("S-1-5-..."); false when it could not be converted or did not fit.
bool SidToText(PSID sid, PathBuffer& out);
