// Plain files and folders told from links.
#include "FileKinds.h"

bool IsLinkAttributes(DWORD attributes)
{
    // INVALID_FILE_ATTRIBUTES has every bit set, the link's too: nothing there is no link.
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsPlainFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !IsLinkAttributes(attributes);
}

bool IsPlainFileAttributes(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !IsLinkAttributes(attributes);
}
