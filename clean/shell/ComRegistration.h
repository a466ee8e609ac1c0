// COM registration of the Outlook add-in.
#pragma once

#include "../ground/Scope.h"

// Its ProgID key, and each class key that the ProgID names and that names the ProgID back,
// under the scope's Software\Classes in both views.
void PurgeComRegistration(const Scope& scope);
// The same at the top of a class hive loaded at HKEY_USERS\<classesName>, the scope of that name.
void PurgeClassHiveComRegistration(const Scope& classHive);

// A class ID in its registry form ("{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"), and nothing else.
bool IsClassId(const wchar_t* text);
