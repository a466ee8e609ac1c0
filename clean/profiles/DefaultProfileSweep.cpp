// The Default profile's hive: a profile made later starts as a copy of it, so the product's keys
// and Run entries in it would come back with every new user. It is no user's scope: it is never
// marked with the signature, since every profile copied from it would then bear the mark and a
// later run with that signature would pass the new user over.
#include "DefaultProfileSweep.h"
#include "../ground/ProfilePaths.h"
#include "../ground/Scope.h"
#include "../installer/RegistryPurge.h"
#include "../shell/ShellRegistrations.h"
#include "../starts/ActiveSetupEntries.h"
#include "../starts/RunEntries.h"

#include "../../change/RunOutcome.h"
#include "../../common/FileKinds.h"
#include "../../common/Path.h"
#include "../../common/Registry.h"
#include "../../log/log.h"

namespace {

// The name its hive is loaded under: no SID, so no other profile's.
const wchar_t DefaultHiveName[] = L"ZamoClean.DefaultProfile";

// The Default profile's folder: the profile list's "Default", else "Default" in the profiles'
// folder (where Windows keeps it when the list does not name it).
bool ReadDefaultProfileFolder(PathBuffer& out)
{
    HKEY list;
    if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, ProfileListKey, KEY_QUERY_VALUE | KEY_WOW64_64KEY, list))
        return false;
    PathBuffer text;
    bool read = RegReadText(list, L"Default", text, true) && ExpandText(out, text);
    if (!read)
        read = RegReadText(list, L"ProfilesDirectory", text, true) && ExpandText(out, text) &&
               PathJoinName(out, L"Default");
    RegCloseKey(list);
    return read && PathIsFull(out);
}

void SweepDefaultHive()
{
    const Scope scope = UserScope(DefaultHiveName);
    SweepScopeRegistry(scope, nullptr);
    RemoveRunEntries(scope);
    RemoveShellRegistrations(scope);
    RemoveUserActiveSetupRecords(DefaultHiveName);
    WithdrawUserLogonRecords(DefaultHiveName);
}

} // namespace

void SweepDefaultProfile()
{
    PathBuffer hive;
    if (!ReadDefaultProfileFolder(hive) || !PathJoinName(hive, L"NTUSER.DAT") ||
        !IsPlainFileAttributes(GetFileAttributesW(hive)))
        return;
    LogLine(L"Loading user profile [%s] from [%s]", DefaultHiveName, hive);
    LONG result = RegLoadKeyW(HKEY_USERS, DefaultHiveName, hive);
    if (result != ERROR_SUCCESS) {
        LogLine(L"Failed to load user profile [%s] [%d]", DefaultHiveName, static_cast<int>(result));
        return;
    }
    SweepDefaultHive();
    LogLine(L"Unloading user profile [%s]", DefaultHiveName);
    // Once unloaded, the hive's keys could not be told apart from deleted ones.
    SettleTriedItems();
    result = RegUnLoadKeyW(HKEY_USERS, DefaultHiveName);
    if (result != ERROR_SUCCESS)
        LogLine(L"Failed to unload user profile [%s] [%d]", DefaultHiveName, static_cast<int>(result));
}
