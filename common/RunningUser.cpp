// The user the program runs as, read from its process token.
#include "RunningUser.h"

#include <sddl.h>

bool ReadRunningUserSid(UserSid& out)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
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

bool SidToText(PSID sid, PathBuffer& out)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return false;
    bool fit = TextCopy(out, text);
    LocalFree(text);
    return fit;
}
