// Unloaded profile sweep: the profiles of the machine's profile list whose hives are not
// loaded under HKEY_USERS are loaded from their hive files, swept as a logged-on user's
// scope is, and unloaded again.
#include "UnloadedProfileSweep.h"
#include "../shell/ComRegistration.h"
#include "../ground/ListScan.h"
#include "../ground/ProfilePaths.h"
#include "../ground/Scope.h"
#include "../installer/RegistryPurge.h"
#include "../installer/ScopeMarker.h"
#include "../shell/ShellRegistrations.h"
#include "../starts/ActiveSetupEntries.h"
#include "DefaultProfileSweep.h"
#include "UserProfileSweep.h"

#include "../../change/RunOutcome.h"
#include "../../common/FileKinds.h"
#include "../../common/Path.h"
#include "../../log/log.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

const wchar_t UserHiveFile[] = L"NTUSER.DAT";
const wchar_t ClassHiveFile[] = L"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";

// A logged-on user's Software\Classes is the class hive itself; in a hive loaded here it
// is a key of its own, so the class hive's product keys are purged apart.
const wchar_t* const ClassHiveProductKeyPaths[2] = {
    L"Installer\\Products",
    L"Installer\\Dependencies",
};

// Room for the two privileges that loading and unloading a hive need.
struct HivePrivileges {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[2];
};

// One profile to load: its SID, the name its class hive gets, and the hive files. The
// class hive file is empty when the profile has none.
struct UnloadedProfile {
    PathBuffer sid;
    PathBuffer classesName;
    PathBuffer userHive;
    PathBuffer classHive;
};

// Enables both privileges on the process token and keeps what they were before in
// previous. AdjustTokenPrivileges succeeds when the token lacks one and reports that
// as ERROR_NOT_ALL_ASSIGNED, which counts as a failure here. On false, error holds
// the code.
bool EnableHivePrivileges(HANDLE token, HivePrivileges& previous, DWORD& error)
{
    HivePrivileges wanted = {};
    wanted.PrivilegeCount = 2;
    if (!LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &wanted.Privileges[0].Luid) ||
        !LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &wanted.Privileges[1].Luid)) {
        error = GetLastError();
        return false;
    }
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    wanted.Privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD previousSize = sizeof(previous);
    if (!AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted), sizeof(previous),
                               reinterpret_cast<TOKEN_PRIVILEGES*>(&previous), &previousSize)) {
        previous.PrivilegeCount = 0;
        error = GetLastError();
        return false;
    }
    error = GetLastError();
    return error == ERROR_SUCCESS;
}

// A name under HKEY_USERS counts as loaded unless opening it finds no such key: a key
// that cannot be opened for another reason is someone's hive all the same. The name is a
// hive's root directly under HKEY_USERS, above every scope's keys: it is asked whether it
// exists, nothing below it is read.
bool IsLoaded(const wchar_t* name)
{
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_USERS, name, 0, KEY_READ | KEY_WOW64_64KEY, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result != ERROR_FILE_NOT_FOUND;
}

// An existing file that is neither a folder nor a link of any kind.
bool IsPlainFile(const PathBuffer& path)
{
    return IsPlainFileAttributes(GetFileAttributesW(path));
}

// True when the profile list entry sid is a profile to load here; out then describes it.
bool FindUnloadedProfile(const wchar_t* sid, UnloadedProfile& out)
{
    if (wcslen(sid) < WellKnownNameLength)
        return false;
    if (!TextCopy(out.sid, sid) || !FormatText(out.classesName, L"%s_Classes", sid))
        return false;
    if (IsLoaded(out.sid) || IsLoaded(out.classesName))
        return false;
    PathBuffer profile;
    if (!ReadProfileFolder(UserScope(sid), profile) || !PathIsFull(profile))
        return false;
    if (!TextCopy(out.userHive, profile) || !PathJoinName(out.userHive, UserHiveFile) || !IsPlainFile(out.userHive))
        return false;
    if (!TextCopy(out.classHive, profile) || !PathJoinName(out.classHive, ClassHiveFile) ||
        !IsPlainFile(out.classHive))
        out.classHive[0] = L'\0';
    return true;
}

// Whether this run has tried to load the SID: a profile list that changes while it is
// enumerated never has a profile loaded twice.
bool WasTried(const NameList& tried, const wchar_t* sid)
{
    for (DWORD i = 0; i < tried.count; i++) {
        if (StrCmpIW(tried.names[i], sid) == 0)
            return true;
    }
    return false;
}

void PurgeClassHive(const Scope& user, const wchar_t* classesName)
{
    // The class hive's product keys are read at its top, as a scope of its own.
    Scope classHive = UserScope(classesName);
    for (DWORD v = 0; v < classHive.purgeViews; v++) {
        for (const wchar_t* keyPath : ClassHiveProductKeyPaths)
            PurgeProductKeys(classHive, keyPath, RegViews[v]);
    }
    PurgeClassHiveComRegistration(classHive);
    RemoveClassHiveShellRegistrations(user, classesName);
}

void UnloadHive(const wchar_t* name)
{
    // Once unloaded, the hive's keys could not be told apart from deleted ones.
    SettleTriedItems();
    LONG result = RegUnLoadKeyW(HKEY_USERS, name);
    if (result != ERROR_SUCCESS)
        LogLine(L"Failed to unload user profile [%s] [%d]", name, static_cast<int>(result));
}

// Loads the profile's hives, sweeps the user's scope and unloads them again. Every step
// closes the keys it opens, so no handle into the hives is left when they are unloaded.
void SweepUnloadedProfile(const UnloadedProfile& profile)
{
    LogLine(L"Loading user profile [%s] from [%s]", profile.sid, profile.userHive);
    LONG result = RegLoadKeyW(HKEY_USERS, profile.sid, profile.userHive);
    if (result != ERROR_SUCCESS) {
        LogLine(L"Failed to load user profile [%s] [%d]", profile.sid, static_cast<int>(result));
        return;
    }
    // Without its class hive the user's scope is swept all the same; only the class
    // hive's own product keys stay.
    bool classesLoaded = false;
    if (profile.classHive[0] != L'\0') {
        result = RegLoadKeyW(HKEY_USERS, profile.classesName, profile.classHive);
        classesLoaded = result == ERROR_SUCCESS;
        if (!classesLoaded)
            LogLine(L"Failed to load user profile [%s] [%d]", profile.classesName, static_cast<int>(result));
    }

    // The mark is read before the sweep, which writes it: a scope that the sweep leaves
    // alone keeps its class hive's keys too.
    const Scope user = UserScope(profile.sid);
    bool marked = ScopeBearsSignature(user);
    SweepUserScope(profile.sid);
    WithdrawUserLogonRecords(profile.sid);
    if (classesLoaded && !marked)
        PurgeClassHive(user, profile.classesName);

    LogLine(L"Unloading user profile [%s]", profile.sid);
    if (classesLoaded)
        UnloadHive(profile.classesName);
    UnloadHive(profile.sid);
}

void SweepProfileList()
{
    // A SID that cannot be remembered is not tried, since a later repeat of it could not be
    // recognised.
    NameList tried = {};
    ForEachSubkey(
        HKEY_LOCAL_MACHINE, ProfileListKey,
        [](const wchar_t* sid, void* context) {
            NameList& met = *static_cast<NameList*>(context);
            UnloadedProfile profile;
            if (FindUnloadedProfile(sid, profile) && !WasTried(met, sid) && AddName(met, sid))
                SweepUnloadedProfile(profile);
            return true;
        },
        &tried);
    FreeNames(tried);
}

} // namespace

void SweepUnloadedProfiles()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        LogLine(L"Cannot load user profiles: [%d]", static_cast<int>(GetLastError()));
        return;
    }
    // The privileges are enabled for this step alone and put back as they were after it.
    HivePrivileges previous = {};
    DWORD error = ERROR_SUCCESS;
    if (EnableHivePrivileges(token, previous, error)) {
        SweepProfileList();
        SweepDefaultProfile();
    }
    else
        LogLine(L"Cannot load user profiles: [%d]", static_cast<int>(error));
    if (previous.PrivilegeCount > 0)
        AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&previous), 0, nullptr, nullptr);
    CloseHandle(token);
}
