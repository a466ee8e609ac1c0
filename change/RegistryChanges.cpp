// Changes to the registry: key trees deleted key by key as themselves, values deleted, the
// scope marker written; in a preview, each named once.
#include "RegistryChanges.h"
#include "PreviewItems.h"
#include "TriedItems.h"

#include "../common/Registry.h"
#include "../common/RegistryWalk.h"
#include "ChangePart.h"
#include "../log/log.h"

#include <wchar.h>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);
extern "C" ULONG NTAPI RtlNtStatusToDosError(LONG status);

namespace {

// False with GetLastError telling why the key itself stayed. A child is one a walk of its parent
// has just named.
bool DeleteTree(HKEY parent, const wchar_t* subkey, REGSAM view, bool child)
{
    // Opened as the preview names it: a link on the way or at the end is not followed.
    const REGSAM access = KEY_READ | DELETE | view;
    HKEY key;
    if (!(child ? RegOpenSubkeyOf(parent, subkey, access, key) : RegOpenAsItself(parent, subkey, access, key)))
        return false;
    // The children's names are read before the first deletion, which moves the later ones
    // down. A name that cannot be opened as read (one with a NUL inside it) stays, and so
    // does this key.
    NameList children = {};
    RegReadSubkeyNames(key, children);
    for (DWORD i = 0; i < children.count; i++)
        DeleteTree(key, children.names[i], view, true);
    FreeNames(children);
    LONG status = NtDeleteKey(key);
    RegCloseKey(key);
    if (status < 0)
        SetLastError(RtlNtStatusToDosError(status));
    return status >= 0;
}

void PreviewKeyRemoval(HKEY parent, const wchar_t* subkey, REGSAM view, const ShownKey& shown)
{
    RegistryName identity;
    if (!RegKernelNameOf(parent, subkey, KEY_READ | DELETE | view, identity))
        return;
    if (identity[0] != L'\0' && RecordCovers(identity))
        return;
    ShownPathBuffer path;
    if (!ShownKeyPath(path, shown.path, shown.name))
        return;
    LogLine(L"Would remove %s\\%s", shown.label, path);
    RecordItem(identity);
}

// A value is named when it is there, its key has not been passed as removed, and it has not
// been named before (through the other view of a shared key, say).
void PreviewValueRemoval(HKEY key, const wchar_t* valueName, const ShownKey& shown)
{
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    RegistryName keyName;
    ValueRecordItem identity;
    identity[0] = L'\0';
    if (RegKernelName(key, keyName)) {
        if (RecordCovers(keyName))
            return;
        if (ValueIdentity(keyName, valueName, identity) && RecordCovers(identity))
            return;
    }
    ShownPathBuffer path;
    if (!ShownKeyPath(path, shown.path, shown.name))
        return;
    LogLine(L"Would remove value [%s] from %s\\%s", valueName, shown.label, path);
    RecordItem(identity);
}

// A preview's walk of a key's values: whether each is one the preview has named as removed.
struct PreviewedValues {
    const wchar_t* keyName;
    bool allNamed;
};

bool IsNamedAsRemoved(const RegValue& value, void* context)
{
    PreviewedValues& walk = *static_cast<PreviewedValues*>(context);
    ValueRecordItem identity;
    walk.allNamed = ValueIdentity(walk.keyName, value.name, identity) && RecordCovers(identity);
    return walk.allNamed;
}

} // namespace

bool KeyLeftEmpty(HKEY key)
{
    if (!RunChanges().preview)
        return RegHoldsAtMost(key, 0, 0);
    RegistryName keyName;
    if (!RegHoldsAtMost(key, 0, MAXDWORD) || !RegKernelName(key, keyName))
        return false;
    if (RecordCovers(keyName))
        return true;
    PreviewedValues walk = {keyName, true};
    return RegEnumValues(key, false, IsNamedAsRemoved, &walk) && walk.allNamed;
}

Change DeleteRegistryTree(HKEY parent, const wchar_t* subkey, REGSAM view, const ShownKey& shown)
{
    NoteKeyChange(parent, subkey, view, nullptr, shown);
    if (RunChanges().preview) {
        PreviewKeyRemoval(parent, subkey, view, shown);
        return Change::Previewed;
    }
    return Outcome(DeleteTree(parent, subkey, view, false));
}

Change DeleteRegistryValue(HKEY key, const wchar_t* valueName, const ShownKey& shown)
{
    NoteKeyChange(key, nullptr, 0, valueName, shown);
    if (RunChanges().preview) {
        PreviewValueRemoval(key, valueName, shown);
        return Change::Previewed;
    }
    LONG deleted = RegDeleteValueW(key, valueName);
    SetLastError(static_cast<DWORD>(deleted));
    return Outcome(deleted == ERROR_SUCCESS);
}

void NoteKeptKey(HKEY parent, const wchar_t* subkey, REGSAM view, const ShownKey& shown)
{
    if (!RunChanges().preview)
        NoteKeyChange(parent, subkey, view, nullptr, shown);
}

Change WriteMarker(HKEY root, const wchar_t* keyPath, REGSAM view, const wchar_t* text, const ShownScope& shown)
{
    if (RunChanges().preview) {
        LogLine(L"Would mark [%s,%s] with signature [%s]", shown.label, shown.sid, text);
        return Change::Previewed;
    }
    const REGSAM access = KEY_WRITE | view;
    HKEY key;
    if (RegOpenKeyExW(root, keyPath, 0, access, &key) != ERROR_SUCCESS &&
        RegCreateKeyExW(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
        return Change::Failed;
    // Stored with its NUL, so that any reader finds a terminated string.
    DWORD size = static_cast<DWORD>((wcsnlen(text, MAX_PATH - 1) + 1) * sizeof(wchar_t));
    LONG written = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
    RegCloseKey(key);
    SetLastError(static_cast<DWORD>(written));
    return Outcome(written == ERROR_SUCCESS);
}
