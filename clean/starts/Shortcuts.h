// Shortcuts whose stored target is the product's. A programs sub-folder named "Quorvex" or
// "Zamo" that this leaves empty goes too.
#pragma once

// On the user's Desktop and in the user's Start menu programs and their sub-folders.
void DeleteUserShortcuts(const wchar_t* sid);
// On the machine's common Desktop and in its common programs.
void DeleteCommonShortcuts();
