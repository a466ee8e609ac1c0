// The kinds of item the run's record holds, the checks that tell whether one is still there,
// and the rule that the run's own marker is no trace of the product.
#include "RegistryChanges.h"
#include "TriedItems.h"

#include "../common/ProgramNames.h"
#include "../common/Registry.h"
#include "../common/RegistryWalk.h"

#include <wchar.h>

namespace {

// The part of a kernel key name below its hive root, and the root it is opened through.
// Any other name (a hive loaded elsewhere, a name the kernel spells otherwise) is not
// recognised and counts as still there.
bool SplitKernelName(const wchar_t* name, HKEY& root, const wchar_t*& path)
{
    const struct {
        const wchar_t* prefix;
        HKEY root;
    } roots[] = {{L"\\REGISTRY\\MACHINE\\", HKEY_LOCAL_MACHINE}, {L"\\REGISTRY\\USER\\", HKEY_USERS}};
    for (const auto& known : roots) {
        int length = static_cast<int>(wcslen(known.prefix));
        if (wcslen(name) > static_cast<size_t>(length) &&
            CompareStringOrdinal(name, length, known.prefix, length, TRUE) == CSTR_EQUAL) {
            root = known.root;
            path = name + length;
            return true;
        }
    }
    return false;
}

bool IsDefaultValue(const RegValue& value, void* context)
{
    *static_cast<bool*>(context) = value.name[0] == L'\0';
    return false;
}

// A key (opened as itself) with no subkey and no value but, at most, the default value.
bool HoldsDefaultValueAtMost(HKEY key)
{
    bool onlyDefault = true;
    return RegHoldsAtMost(key, 0, 1) && RegEnumValues(key, false, IsDefaultValue, &onlyDefault) && onlyDefault;
}

bool CopyFirstName(const wchar_t* name, void* context)
{
    TextCopy(*static_cast<PathBuffer*>(context), name);
    return false;
}

// True when the key named root\path is a scope's Software\Quorvex (64-bit view) that holds
// nothing but the marker key Cleaned, or is that Cleaned key itself. The run writes the marker
// after the sweep that removed the maker's key, and an earlier run's marker of any signature
// is no trace of the product either. Keys are opened as themselves: a link is never a marker.
bool IsScopeMarkerOnly(HKEY root, const wchar_t* path)
{
    // Below HKEY_USERS a scope's keys start after its SID.
    const wchar_t* scopePath = path;
    if (root == HKEY_USERS) {
        scopePath = wcschr(path, L'\\');
        if (scopePath == nullptr)
            return false;
        scopePath++;
    }
    // The marker's key path names the maker's key up to its last separator.
    const wchar_t* markerPath = HandedNames.markerKeyPath;
    const wchar_t* markerName = wcsrchr(markerPath, L'\\');
    if (markerName == nullptr)
        return false;
    size_t makerKeyPathLength = static_cast<size_t>(markerName - markerPath);
    size_t scopeLength = wcslen(scopePath);
    if ((scopeLength != makerKeyPathLength && scopeLength != wcslen(markerPath)) ||
        CompareStringOrdinal(scopePath, static_cast<int>(scopeLength), markerPath, static_cast<int>(scopeLength),
                             TRUE) != CSTR_EQUAL)
        return false;
    RegistryName makerPath;
    size_t makerLength = static_cast<size_t>(scopePath - path) + makerKeyPathLength;
    if (makerLength >= ARRAYSIZE(makerPath))
        return false;
    wmemcpy(makerPath, path, makerLength);
    makerPath[makerLength] = L'\0';
    HKEY maker;
    if (!RegOpenAsItself(root, makerPath, KEY_READ | KEY_WOW64_64KEY, maker))
        return false;
    bool markerOnly = false;
    PathBuffer name;
    name[0] = L'\0';
    if (RegHoldsAtMost(maker, 1, 0) && RegEnumSubkeys(maker, CopyFirstName, &name) &&
        CompareStringOrdinal(name, -1, markerName + 1, -1, TRUE) == CSTR_EQUAL) {
        HKEY marker;
        if (RegOpenSubkeyOf(maker, name, KEY_READ | KEY_WOW64_64KEY, marker)) {
            markerOnly = HoldsDefaultValueAtMost(marker);
            RegCloseKey(marker);
        }
    }
    RegCloseKey(maker);
    return markerOnly;
}

// The kernel name holds the view's own path (Wow6432Node), so the key is opened in the
// 64-bit view, and as itself: a registry link is the link.
bool KeyStillThere(const wchar_t* identity, const wchar_t* valueName)
{
    HKEY root;
    const wchar_t* path;
    if (!SplitKernelName(identity, root, path))
        return true;
    HKEY key;
    LONG opened = RegOpenKeyExW(root, path, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
    if (opened != ERROR_SUCCESS)
        return opened != ERROR_FILE_NOT_FOUND;
    LONG queried = ERROR_SUCCESS;
    if (valueName != nullptr)
        queried = RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return queried != ERROR_FILE_NOT_FOUND;
}

bool PathStillThere(const wchar_t* path, const wchar_t*)
{
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}


// A service or task is noted only once its removal has failed (or by a preview), and the
// removal leaves nothing half done: such an item is still there.
bool RemovalFailed(const wchar_t*, const wchar_t*)
{
    return true;
}

} // namespace

const ItemKind TriedKey = {KeyStillThere, L"key"};
const ItemKind TriedValue = {KeyStillThere, L"value"};
const ItemKind TriedFile = {PathStillThere, L"file"};
const ItemKind TriedFolder = {PathStillThere, L"folder"};
const ItemKind TriedProcess = {nullptr, L"process"};
const ItemKind TriedService = {RemovalFailed, L"service"};
const ItemKind TriedTask = {RemovalFailed, L"task"};
const ItemKind TriedTaskFolder = {RemovalFailed, L"task folder"};
const ItemKind TriedUninstaller = {nullptr, L"uninstaller"};
const ItemKind TriedFirewallRule = {RemovalFailed, L"firewall rule"};
const ItemKind TriedCachedPackage = {PathStillThere, L"cached package"};
const ItemKind TriedUnsearchedFolder = {RemovalFailed, L"folder"};

bool IsMarkerOnlyItem(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail)
{
    HKEY root;
    const wchar_t* path;
    return &kind == &TriedKey && detail == nullptr && SplitKernelName(identity, root, path) &&
           IsScopeMarkerOnly(root, path);
}
