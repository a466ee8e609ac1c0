// Plain files and folders told from links. A link (a junction, a symbolic link or any other
// reparse point) may point anywhere: the program never enters, replaces or deletes through one.
// Each test takes what GetFileAttributesW or a folder listing gave, INVALID_FILE_ATTRIBUTES
// for nothing there.
#pragma once

#include <windows.h>

// Something there that is a link of any kind.
bool IsLinkAttributes(DWORD attributes);
// An existing folder that is no link.
bool IsPlainFolder(DWORD attributes);
// An existing file that is neither a folder nor a link.
bool IsPlainFileAttributes(DWORD attributes);
