// Active Setup entries of the product: an entry whose "StubPath" starts one of the product's
// programs re-creates the product's per-user data at each new logon, so it goes, and so do the
// users' records of it. Entries are matched by the rules that match the machine's Run values.
#include "ActiveSetupEntries.h"
#include "../RunSteps.h"
#include "../ground/ListedKeys.h"
#include "../ground/ProductTargets.h"
#include "../ground/ProfilePaths.h"
#include "../ground/Scope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>
#include <wchar.h>

const wchar_t ActiveSetupListPath[] = L"Software\\Microsoft\\Active Setup\\Installed Components";
const wchar_t LogonEntryName[] = L"ZamoClean";

namespace {

const wchar_t* const RecordListPaths[2] = {
    ActiveSetupListPath,
    L"Software\\Wow6432Node\\Microsoft\\Active Setup\\Installed Components",
};

ActiveSetupPart* Part = nullptr;

struct EntryReading {
    HKEY list;
    REGSAM view;
    const ProductTargets& targets;
    NameList& found;
};

// True when the entry name of an open list starts the product.
bool EntryStartsProduct(HKEY list, const wchar_t* name, REGSAM view, const ProductTargets& targets)
{
    HKEY entry;
    if (!RegOpenSubkeyOf(list, name, KEY_QUERY_VALUE | view, entry))
        return false;
    PathBuffer command;
    bool products = RegReadText(entry, L"StubPath", command, true) && CommandStartsProducts(targets, command);
    RegCloseKey(entry);
    return products;
}

bool NoteEntry(const wchar_t* name, void* context)
{
    EntryReading& reading = *static_cast<EntryReading*>(context);
    return !EntryStartsProduct(reading.list, name, reading.view, reading.targets) || AddName(reading.found, name);
}

void NoteEntries()
{
    if (Part->noted)
        return;
    Part->noted = true;
    ProductTargets targets;
    ReadProductTargets(MachineScope(), targets);
    for (DWORD v = 0; v < ARRAYSIZE(RegViews); v++) {
        HKEY list;
        if (!RegViewShowsOwnKey(HKEY_LOCAL_MACHINE, ActiveSetupListPath, RegViews[v]) ||
            !RegOpenPlain(HKEY_LOCAL_MACHINE, ActiveSetupListPath, KEY_READ | RegViews[v], list))
            continue;
        EntryReading reading = {list, RegViews[v], targets, Part->entries[v]};
        RegEnumSubkeys(list, NoteEntry, &reading);
        RegCloseKey(list);
    }
}

// A name under HKEY_USERS that holds a user's records: neither a well-known account's nor a
// class hive.
bool HoldsUserRecords(const wchar_t* name)
{
    size_t length = wcslen(name);
    const wchar_t classes[] = L"_Classes";
    const size_t classesLength = ARRAYSIZE(classes) - 1;
    return length >= WellKnownNameLength &&
           !(length > classesLength && StrCmpIW(name + length - classesLength, classes) == 0);
}

} // namespace

void UseActiveSetupPart(ActiveSetupPart* part)
{
    Part = part;
}

void RemoveActiveSetupRecords(const wchar_t* sid, const wchar_t* name)
{
    const Scope scope = UserScope(sid);
    for (const wchar_t* recordList : RecordListPaths) {
        PathBuffer path;
        if (ScopeKey(scope, recordList, path))
            RemoveKeyOfList(scope.root, path, name, KEY_WOW64_64KEY);
    }
}

void RemoveActiveSetupEntry(const wchar_t* name)
{
    for (REGSAM view : RegViews) {
        if (RegViewShowsOwnKey(HKEY_LOCAL_MACHINE, ActiveSetupListPath, view))
            RemoveKeyOfList(HKEY_LOCAL_MACHINE, ActiveSetupListPath, name, view);
    }
}

void RemoveUserActiveSetupRecords(const wchar_t* sid)
{
    NoteEntries();
    for (const NameList& entries : Part->entries) {
        for (DWORD i = 0; i < entries.count; i++)
            RemoveActiveSetupRecords(sid, entries.names[i]);
    }
}

void RemoveProductActiveSetupEntries()
{
    NoteEntries();
    ProductTargets targets;
    ReadProductTargets(MachineScope(), targets);
    for (DWORD v = 0; v < ARRAYSIZE(RegViews); v++) {
        HKEY list;
        if (Part->entries[v].count == 0 ||
            !RegOpenPlain(HKEY_LOCAL_MACHINE, ActiveSetupListPath, KEY_READ | RegViews[v], list))
            continue;
        // Checked again: an uninstaller that ran since the entries were noted may have changed them.
        for (DWORD i = 0; i < Part->entries[v].count; i++) {
            if (EntryStartsProduct(list, Part->entries[v].names[i], RegViews[v], targets))
                RemoveKeyOfList(HKEY_LOCAL_MACHINE, ActiveSetupListPath, Part->entries[v].names[i], RegViews[v]);
        }
        RegCloseKey(list);
    }
}

void WithdrawUserLogonRecords(const wchar_t* name)
{
    if (RunOptionsNow().atNextLogon == LogonRegistration::Withdraw && HoldsUserRecords(name))
        RemoveActiveSetupRecords(name, LogonEntryName);
}
