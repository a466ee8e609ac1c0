// The user the program runs as, read from its process token.
#include "RunningUser.h"

#include <sddl.h>

bool ReadProcessUserSid(HANDLE process, UserSid& out)
{
    HANDLE token;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } information;
    DWORD size = 0;
    bool read = GetTokenInformation(token, TokenUser, &information, sizeof(information), &size) != FALSE &&
                CopySid(sizeof(out), out, information.user.User.Sid) != FALSE;
    CloseHandle(token);
    return read;
}

bool ReadRunningUserSid(UserSid& out)
{
    return ReadProcessUserSid(GetCurrentProcess(), out);
}

bool ReadRunningUserSidText(PathBuffer& out)
{
    UserSid sid;
    return ReadRunningUserSid(sid) && SidToText(sid, out);
}

bool SidToText(PSID sid, PathBuffer& out)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return false;
    bool fit = TextCopy(out, text);
    LocalFree(text);
    return fit;
}
