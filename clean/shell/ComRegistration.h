// COM registration of the Outlook add-in.
#pragma once

#include <windows.h>

// Its ProgID key, and each class key that the ProgID names and that names the ProgID back,
// under the scope's Software\Classes in both views.
void PurgeComRegistration(HKEY root, const wchar_t* sid);
// The same at the top of a class hive loaded at HKEY_USERS\<classesName>.
void PurgeClassHiveComRegistration(const wchar_t* classesName);

// A class ID in its registry form ("{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"), and nothing else.
bool IsClassId(const wchar_t* text);
