// Outlook's own records of the add-in in a user scope: the lists of add-ins that Outlook
// watched for crashes, keeps enabled or timed, and the add-ins it disabled. They survive an
// uninstall, and a reinstalled add-in then starts disabled.
#include "OutlookRecords.h"
#include "../Catalogue.h"
#include "../ground/RegistryValues.h"
#include "../ground/Scope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>

namespace {

const wchar_t OfficeKey[] = L"Software\\Microsoft\\Office";

// Below an Office version's key: lists whose values are named by the ProgID.
const wchar_t* const NamedValueLists[3] = {
    L"Outlook\\Resiliency\\CrashingAddinList",
    L"Outlook\\Resiliency\\DoNotDisableAddinList",
    L"Outlook\\AddInLoadTimes",
};
// Binary values whose data holds the disabled add-in's path and name as UTF-16 text.
const wchar_t DisabledItemsList[] = L"Outlook\\Resiliency\\DisabledItems";

// Room for a disabled item, in characters: a short header, the add-in's path and its name. A
// longer value is not read and stays.
const DWORD DisabledItemCapacity = 4 * MAX_PATH;

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// An Office version's key name: digits, a dot, digits ("16.0").
bool IsOfficeVersion(const wchar_t* name)
{
    const wchar_t* c = name;
    if (!IsDigit(*c))
        return false;
    while (IsDigit(*c))
        c++;
    if (*c++ != L'.' || !IsDigit(*c))
        return false;
    while (IsDigit(*c))
        c++;
    return *c == L'\0';
}

// True when the count characters of data hold text, ignoring case. The data is read whole,
// NULs included: an item's path and name follow each other.
bool HoldsText(const wchar_t* data, size_t count, const wchar_t* text)
{
    int length = lstrlenW(text);
    for (size_t at = 0; at + length <= count; at++) {
        if (CompareStringOrdinal(data + at, length, text, length, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

bool IsAddInName(HKEY, const wchar_t* name, DWORD)
{
    return StrCmpIW(name, AddInProgId) == 0;
}

bool IsDisabledAddIn(HKEY key, const wchar_t* name, DWORD type)
{
    if (type != REG_BINARY)
        return false;
    wchar_t data[DisabledItemCapacity];
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        type != REG_BINARY)
        return false;
    PathBuffer makerFolder;
    size_t count = size / sizeof(wchar_t);
    return HoldsText(data, count, AddInProgId) ||
           (FormatText(makerFolder, L"\\%s\\", MakerWord) && HoldsText(data, count, makerFolder));
}

// One list's values being read: the key, what matches, and the names found.
struct ListValueReading {
    HKEY key;
    bool (*matches)(HKEY key, const wchar_t* name, DWORD type);
    NameList found;
};

bool NoteMatchingValue(const RegValue& value, void* context)
{
    ListValueReading& reading = *static_cast<ListValueReading*>(context);
    return !reading.matches(reading.key, value.name, value.type) || AddName(reading.found, value.name);
}

// Removes every value of officePath\version\list that matches. The key is opened as itself: a
// link in its place is not followed.
void PurgeList(const wchar_t* officePath, const wchar_t* version, const wchar_t* list, REGSAM view,
               bool (*matches)(HKEY key, const wchar_t* name, DWORD type))
{
    PathBuffer path;
    if (!FormatText(path, L"%s\\%s\\%s", officePath, version, list))
        return;
    HKEY key;
    if (!RegOpenAsItself(HKEY_USERS, path, KEY_QUERY_VALUE | KEY_SET_VALUE | view, key))
        return;
    // Collected before the first removal, which moves the later values down; a name too long
    // for its buffer is no name of the add-in's.
    ListValueReading reading = {key, matches, {}};
    RegEnumValues(key, false, NoteMatchingValue, &reading);
    for (DWORD i = 0; i < reading.found.count; i++)
        RemoveRegistryValue(key, reading.found.names[i], RegRootLabel(HKEY_USERS), path);
    FreeNames(reading.found);
    RegCloseKey(key);
}

void PurgeOfficeVersion(const wchar_t* officePath, const wchar_t* version, REGSAM view)
{
    for (const wchar_t* list : NamedValueLists)
        PurgeList(officePath, version, list, view, IsAddInName);
    PurgeList(officePath, version, DisabledItemsList, view, IsDisabledAddIn);
}

// The Office versions of one view of a user's Office key.
struct OfficeView {
    const wchar_t* officePath;
    REGSAM view;
};

bool PurgeIfOfficeVersion(const wchar_t* version, void* context)
{
    const OfficeView& office = *static_cast<const OfficeView*>(context);
    if (IsOfficeVersion(version))
        PurgeOfficeVersion(office.officePath, version, office.view);
    return true;
}

void PurgeOfficeView(const wchar_t* officePath, REGSAM view)
{
    OfficeView office = {officePath, view};
    HKEY key;
    if (!RegOpenAsItself(HKEY_USERS, office.officePath, KEY_READ | view, key))
        return;
    RegEnumSubkeys(key, PurgeIfOfficeVersion, &office);
    RegCloseKey(key);
}

} // namespace

void PurgeOutlookRecords(const Scope& user)
{
    PathBuffer officePath;
    if (!ScopeKey(user, OfficeKey, officePath))
        return;
    for (DWORD v = 0; v < user.purgeViews; v++)
        PurgeOfficeView(officePath, RegViews[v]);
}
