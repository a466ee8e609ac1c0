// Windows Installer data purge: deletes the product family's component and product
// records under HKLM\...\Installer\UserData\<SID>, always in the 64-bit view.
#include "InstallerDataPurge.h"
#include "../Catalogue.h"
#include "../ground/ListScan.h"

#include "../../change/RegistryChanges.h"
#include "../../common/Registry.h"
#include "../../log/log.h"

#include <shlwapi.h>

const wchar_t InstallerUserData[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

namespace {

// The Installer's records live in the 64-bit view; naming it keeps a 32-bit process
// on 64-bit Windows from being shown the 32-bit view instead.
const REGSAM ReadAccess = KEY_READ | KEY_WOW64_64KEY;

bool NotesMaker(const RegValue& value, void* context)
{
    bool& found = *static_cast<bool*>(context);
    found = StrStrIW(value.text, MakerWord) != nullptr;
    return !found;
}

// What matches in a component record: the maker word in the data of one of its values.
// Every value type is read as UTF-16 text that ends at its first NUL or with the data.
const wchar_t* ComponentMentionsMaker(const ListScan& scan, const wchar_t* name)
{
    // A record whose whole path does not fit is never examined: no line could name it.
    PathBuffer componentPath;
    if (!FormatText(componentPath, L"%s\\%s\\Components\\%s", InstallerUserData, scan.sid, name))
        return nullptr;
    HKEY component;
    if (!RegOpenSubkeyOf(scan.list, name, ReadAccess, component))
        return nullptr;
    // A name or data too long for its buffer is never read cut: met before the maker, it
    // counts as another's, and the record stays.
    bool found = false;
    found = RegEnumValues(component, true, NotesMaker, &found) && found;
    RegCloseKey(component);
    return found ? MakerWord : nullptr;
}

// Deletes one record and writes its list's removal line (format), which a preview leaves
// to its own "Would remove" line.
Taken RemoveRecord(const ListScan& scan, const wchar_t* name, const wchar_t* format)
{
    Change change = DeleteRegistryTree(scan.list, name, KEY_WOW64_64KEY, {L"HKLM", scan.path, name});
    if (change != Change::Previewed)
        LogLine(format, change == Change::Made ? 1 : 0, scan.path, name);
    return change == Change::Made ? Taken::Removed : Taken::Kept;
}

Taken RemoveComponent(const ListScan& scan, const wchar_t* name, const wchar_t*)
{
    return RemoveRecord(scan, name, L"Removing component [%d] [%s\\%s]");
}

Taken RemoveProduct(const ListScan& scan, const wchar_t* name, const wchar_t*)
{
    return RemoveRecord(scan, name, L"Removing product [%d] [%s\\%s]");
}

// Scans the list of one kind (the part of its path below the SID) of one SID.
void PurgeRecordList(const wchar_t* sid, const wchar_t* kind, const wchar_t* (*match)(const ListScan&, const wchar_t*),
                     Taken (*take)(const ListScan&, const wchar_t*, const wchar_t*), ListReadings* readings)
{
    // A list path that did not fit would name another key: that SID's list is left alone.
    PathBuffer listPath;
    if (!FormatText(listPath, L"%s\\%s\\%s", InstallerUserData, sid, kind))
        return;
    HKEY list;
    if (!RegOpenPlain(HKEY_LOCAL_MACHINE, listPath, ReadAccess, list))
        return;
    ScanList({list, KEY_WOW64_64KEY, match, take, L"HKLM", listPath, sid}, readings);
    RegCloseKey(list);
}

} // namespace

const wchar_t* MatchCataloguedRecord(const ListScan& scan, const wchar_t* name)
{
    PathBuffer propertiesPath;
    if (!FormatText(propertiesPath, L"%s\\%s\\Products\\%s\\InstallProperties", InstallerUserData, scan.sid, name))
        return nullptr;
    HKEY properties;
    if (!RegOpenAsItself(HKEY_LOCAL_MACHINE, propertiesPath, ReadAccess, properties))
        return nullptr;
    const wchar_t* displayName = KeyCatalogueName(properties, L"DisplayName");
    RegCloseKey(properties);
    return displayName;
}

void PurgeInstallerData(const wchar_t* sid, ListReadings* readings)
{
    PurgeRecordList(sid, L"Components", ComponentMentionsMaker, RemoveComponent, nullptr);
    PurgeRecordList(sid, L"Products", MatchCataloguedRecord, RemoveProduct, readings);
}
