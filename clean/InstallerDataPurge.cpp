// Windows Installer data purge: deletes the product family's component and product
// records under HKLM\...\Installer\UserData\<SID>, always in the 64-bit view.
#include "../app/app.h"
#include "../common/Changes.h"
#include "../common/Registry.h"
#include "../log/log.h"
#include "steps.h"

#include <shlwapi.h>

namespace {

const wchar_t InstallerUserData[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

// The Installer's records live in the 64-bit view; naming it keeps a 32-bit process
// on 64-bit Windows from being shown the 32-bit view instead.
const REGSAM ReadAccess = KEY_READ | KEY_WOW64_64KEY;

// How many matching records whose deletion failed one list scan remembers by index.
// Past that the scan still behaves the same; it only examines again, after each
// removal, the records that follow the first failure it could not remember.
const int RememberedFailureCapacity = 512;

// True when the record named name in sid's list belongs to the product family.
typedef bool (*RecordMatcher)(const wchar_t* sid, const wchar_t* name);
// Writes the removal line of one list kind.
typedef void (*RemovalLogger)(bool removed, const wchar_t* listPath, const wchar_t* name);

// True when the data of one of the component's values holds the maker word. Every
// value type is read as UTF-16 text that ends at its first NUL or with the data.
bool ComponentMentionsMaker(const wchar_t* sid, const wchar_t* name)
{
    PathBuffer componentPath;
    if (!FormatText(componentPath, L"%s\\%s\\Components\\%s", InstallerUserData, sid, name))
        return false;
    HKEY component;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, componentPath, 0, ReadAccess, &component) != ERROR_SUCCESS)
        return false;
    bool found = false;
    for (DWORD index = 0; !found; index++) {
        wchar_t valueName[MAX_PATH];
        DWORD valueNameCount = MAX_PATH;
        // One character beyond the 520 bytes offered, for the terminator of data
        // that fills them without a NUL of its own.
        wchar_t data[MAX_PATH + 1];
        DWORD dataSize = MAX_PATH * sizeof(wchar_t);
        // A name or data too long for its buffer ends the scan like the end of the values.
        if (RegEnumValueW(component, index, valueName, &valueNameCount, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                          &dataSize) != ERROR_SUCCESS)
            break;
        DWORD count = dataSize / sizeof(wchar_t);
        DWORD length = 0;
        while (length < count && data[length] != L'\0')
            length++;
        data[length] = L'\0';
        found = StrStrIW(data, MakerWord) != nullptr;
    }
    RegCloseKey(component);
    return found;
}

// True when the product's InstallProperties "DisplayName" is a REG_SZ equal to a
// catalogue name as a whole, in any letter case.
bool ProductIsCatalogued(const wchar_t* sid, const wchar_t* name)
{
    PathBuffer propertiesPath;
    if (!FormatText(propertiesPath, L"%s\\%s\\Products\\%s\\InstallProperties", InstallerUserData, sid, name))
        return false;
    HKEY properties;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, propertiesPath, 0, ReadAccess, &properties) != ERROR_SUCCESS)
        return false;
    PathBuffer displayName;
    bool read = ReadRegistryText(properties, L"DisplayName", displayName, false);
    RegCloseKey(properties);
    if (!read)
        return false;
    for (const wchar_t* catalogueName : ProductDisplayNames) {
        if (StrCmpIW(displayName, catalogueName) == 0)
            return true;
    }
    return false;
}

void LogComponentRemoval(bool removed, const wchar_t* listPath, const wchar_t* name)
{
    LogLine(L"Removing component [%d] [%s\\%s]", removed ? 1 : 0, listPath, name);
}

void LogProductRemoval(bool removed, const wchar_t* listPath, const wchar_t* name)
{
    LogLine(L"Removing product [%d] [%s\\%s]", removed ? 1 : 0, listPath, name);
}

// Deletes one record through a handle of its list opened for this deletion alone,
// beside the one the scan enumerates with. Made when the record is gone.
Change DeleteRecord(const wchar_t* listPath, const wchar_t* name)
{
    HKEY list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, listPath, 0, ReadAccess, &list) != ERROR_SUCCESS)
        return PreviewMode ? Change::Previewed : Change::Failed;
    Change change = DeleteRegistryTree(list, name, KEY_WOW64_64KEY, {L"HKLM", listPath, name});
    RegCloseKey(list);
    return change;
}

// Drops entry position of the remembered failures; when the record was removed, the
// later records moved down one index and so do their entries.
void ForgetFailure(DWORD* failed, int& failedCount, int position, bool recordRemoved)
{
    for (int later = position + 1; later < failedCount; later++)
        failed[later - 1] = failed[later] - (recordRemoved ? 1 : 0);
    failedCount--;
}

// Scans one list and deletes every record that matches, logging each attempt.
//
// After each removal the list is walked again from its first record, so a matching
// record whose deletion failed is tried (and logged) again, in index order. Walking
// again never examines a non-matching record a second time: the records before
// `settled` are all known, each one either not matching or a failed match remembered
// in `failed` by index, so a new walk retries just those and then resumes at
// `settled`. A removal moves every later record down one index; the remembered
// indexes follow it. A failed match is examined again before each retry, so a list
// changed by someone else meanwhile never has a record deleted unexamined.
void PurgeRecordList(const wchar_t* listPath, const wchar_t* sid, RecordMatcher matches, RemovalLogger logRemoval)
{
    HKEY list;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, listPath, 0, ReadAccess, &list) != ERROR_SUCCESS)
        return;
    DWORD failed[RememberedFailureCapacity];
    int failedCount = 0;
    DWORD settled = 0;
    int nextRetry = 0;  // the walk's next entry of failed
    DWORD next = 0;     // the walk's next index at or past settled
    for (;;) {
        bool retry = nextRetry < failedCount;
        DWORD index = retry ? failed[nextRetry] : (next > settled ? next : settled);
        wchar_t name[MAX_PATH];
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(list, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;

        if (!matches(sid, name)) {
            if (retry) {
                ForgetFailure(failed, failedCount, nextRetry, false);
            } else {
                if (index == settled)
                    settled++;
                next = index + 1;
            }
            continue;
        }
        Change change = DeleteRecord(listPath, name);
        if (change == Change::Previewed) {
            // A preview deletes nothing: the record is passed like one that does not match.
            if (index == settled)
                settled++;
            next = index + 1;
            continue;
        }
        bool removed = change == Change::Made;
        logRemoval(removed, listPath, name);
        if (removed) {
            if (retry) {
                ForgetFailure(failed, failedCount, nextRetry, true);
                settled--;
            }
            nextRetry = 0;
            next = 0;
        } else if (retry) {
            nextRetry++;
        } else {
            // Only a failure right at settled can be remembered: one further on has
            // unremembered records before it, which are examined again after a removal.
            if (index == settled && failedCount < RememberedFailureCapacity) {
                failed[failedCount++] = index;
                nextRetry = failedCount;  // this walk is past it already
                settled++;
            }
            next = index + 1;
        }
    }
    RegCloseKey(list);
}

} // namespace

void PurgeInstallerComponents(const wchar_t* sid)
{
    // A list path that did not fit would name another key: that SID's list is left alone.
    PathBuffer listPath;
    if (!FormatText(listPath, L"%s\\%s\\Components", InstallerUserData, sid))
        return;
    PurgeRecordList(listPath, sid, ComponentMentionsMaker, LogComponentRemoval);
}

void PurgeInstallerProducts(const wchar_t* sid)
{
    PathBuffer listPath;
    if (!FormatText(listPath, L"%s\\%s\\Products", InstallerUserData, sid))
        return;
    PurgeRecordList(listPath, sid, ProductIsCatalogued, LogProductRemoval);
}
