// The registry floor: values read as text, the kernel's names of keys, keys opened as
// themselves, what a key holds, root labels and key paths.
#include "Registry.h"

#include <shlwapi.h>
#include <wchar.h>

extern "C" LONG NTAPI NtQueryKey(HANDLE key, int informationClass, void* information, ULONG length,
                                 ULONG* resultLength);

bool RegReadText(HKEY key, const wchar_t* valueName, PathBuffer& out, bool acceptExpandable)
{
    wchar_t data[MAX_PATH];
    DWORD type = REG_NONE;
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return false;
    if (!(type == REG_SZ || (acceptExpandable && type == REG_EXPAND_SZ)) || size == 0)
        return false;
    // The text must leave room for the terminator.
    DWORD length = RegTextLength(data, size);
    if (length >= MAX_PATH)
        return false;
    data[length] = L'\0';
    return TextCopy(out, data);
}

DWORD RegTextLength(const wchar_t* data, DWORD size)
{
    // A value stored without its NUL comes back without one: the text ends with the data.
    DWORD count = size / sizeof(wchar_t);
    DWORD length = 0;
    while (length < count && data[length] != L'\0')
        length++;
    return length;
}

bool RegKernelName(HKEY key, RegistryName& out)
{
    const int KeyNameInformation = 3;
    struct {
        ULONG length;  // in bytes
        wchar_t name[ARRAYSIZE(out)];
    } information;
    ULONG size = 0;
    if (NtQueryKey(key, KeyNameInformation, &information, sizeof(information), &size) < 0)
        return false;
    size_t count = information.length / sizeof(wchar_t);
    if (count == 0 || count >= ARRAYSIZE(out))
        return false;
    wmemcpy(out, information.name, count);
    out[count] = L'\0';
    return true;
}

bool RegSameKey(const wchar_t* name, const wchar_t* other)
{
    return StrCmpIW(name, other) == 0;
}

namespace {

// True for a key opened as itself that is a registry link.
bool IsLink(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

// True for a user's "<SID>\Software\Classes" opened as itself (link) that leads, opened
// through (classes), to that user's "<SID>_Classes", as Windows makes it: the link is part of
// the layout, not a trace of anyone's. A link of that name that leads elsewhere is no layout.
bool IsUserClassesLink(HKEY link, HKEY classes)
{
    RegistryName name;
    RegistryName reached;
    if (!RegKernelName(link, name) || !RegKernelName(classes, reached))
        return false;
    const wchar_t users[] = L"\\REGISTRY\\USER\\";
    const size_t usersLength = ARRAYSIZE(users) - 1;
    wchar_t* software = wcschr(name + usersLength, L'\\');
    if (StrCmpNIW(name, users, static_cast<int>(usersLength)) != 0 || software == nullptr ||
        StrCmpIW(software, L"\\Software\\Classes") != 0)
        return false;
    *software = L'\0';
    size_t userLength = wcslen(name);
    return wcslen(reached) == userLength + 8 && StrCmpNIW(reached, name, static_cast<int>(userLength)) == 0 &&
           StrCmpIW(reached + userLength, L"_Classes") == 0;
}

// Opens one component of a path below parent as itself. A link is taken only at the end of
// the path (as the link); on the way it ends the path, but for Windows' own link, followed.
// The registry's error code, or ERROR_FILE_NOT_FOUND for a link on the way. Only a component
// named "Classes" can be Windows' own link: the last one of a path is asked no more.
LONG OpenComponent(HKEY parent, const wchar_t* component, REGSAM access, bool last, HKEY& key)
{
    LONG opened = RegOpenKeyExW(parent, component, REG_OPTION_OPEN_LINK, access, &key);
    if (opened != ERROR_SUCCESS || (last && StrCmpIW(component, L"Classes") != 0) || !IsLink(key))
        return opened;
    HKEY link = key;
    HKEY followed;
    if (RegOpenKeyExW(parent, component, 0, access, &followed) == ERROR_SUCCESS) {
        if (IsUserClassesLink(link, followed)) {
            RegCloseKey(link);
            key = followed;
            return ERROR_SUCCESS;
        }
        RegCloseKey(followed);
    }
    // At the end of the path a link is the key asked for, opened as itself.
    if (last)
        return ERROR_SUCCESS;
    RegCloseKey(link);
    return ERROR_FILE_NOT_FOUND;
}

// The kernel's name of a key to open a path below: the two roots are spelled here, since a
// predefined handle cannot be asked; another predefined handle has none.
bool ParentName(HKEY parent, RegistryName& out)
{
    if (parent == HKEY_LOCAL_MACHINE || parent == HKEY_USERS) {
        wcscpy(out, parent == HKEY_LOCAL_MACHINE ? L"\\REGISTRY\\MACHINE" : L"\\REGISTRY\\USER");
        return true;
    }
    return (reinterpret_cast<ULONG_PTR>(parent) & 0x80000000) == 0 && RegKernelName(parent, out);
}

// Opens parent\path one component at a time: REG_OPTION_OPEN_LINK covers only the last one of a
// path, and a link further up would be followed. Views apply to every relative open; a key on
// the way is opened only to read whether it is a link.
bool OpenEachComponent(HKEY parent, const wchar_t* path, REGSAM access, HKEY& key)
{
    const REGSAM walk = KEY_QUERY_VALUE | (access & (KEY_WOW64_64KEY | KEY_WOW64_32KEY));
    HKEY current = parent;
    const wchar_t* rest = path;
    for (;;) {
        const wchar_t* separator = wcschr(rest, L'\\');
        PathBuffer component;
        size_t length = separator != nullptr ? static_cast<size_t>(separator - rest) : wcslen(rest);
        if (length >= MAX_PATH) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            break;
        }
        wmemcpy(component, rest, length);
        component[length] = L'\0';
        HKEY next;
        bool last = separator == nullptr || separator[1] == L'\0';
        LONG opened = OpenComponent(current, component, last ? access : walk, last, next);
        if (current != parent)
            RegCloseKey(current);
        if (opened != ERROR_SUCCESS) {
            SetLastError(static_cast<DWORD>(opened));
            return false;
        }
        if (last) {
            // A parent that is a link, opened as itself at the end of an earlier path, has nothing
            // below it: a relative open from it reaches into what it leads to. Asked only once
            // something was found, since most opens below a key find nothing.
            if ((reinterpret_cast<ULONG_PTR>(parent) & 0x80000000) == 0 && IsLink(parent)) {
                RegCloseKey(next);
                SetLastError(ERROR_FILE_NOT_FOUND);
                return false;
            }
            key = next;
            return true;
        }
        current = next;
        rest = separator + 1;
    }
    if (current != parent)
        RegCloseKey(current);
    return false;
}

// The quick way, in three calls: the whole path opened at once (with options, a link at its end
// as itself) is the key asked for when the kernel names it as the parent's name and the path, so
// that no link on the way and no view led elsewhere; opened without REG_OPTION_OPEN_LINK, a link
// at the end would have led elsewhere too. ERROR_MORE_DATA when that cannot be told this way (a
// view's own key, a link, a path ending at a user's classes): then each component is opened.
LONG OpenWhole(HKEY parent, const wchar_t* path, DWORD options, REGSAM access, HKEY& key)
{
    const wchar_t* last = wcsrchr(path, L'\\');
    RegistryName parentName;
    if (last == nullptr || last[1] == L'\0' || StrCmpIW(last + 1, L"Classes") == 0 || !ParentName(parent, parentName))
        return ERROR_MORE_DATA;
    LONG opened = RegOpenKeyExW(parent, path, options, access, &key);
    if (opened != ERROR_SUCCESS)
        return opened;
    RegistryName name;
    size_t length = wcslen(parentName);
    if (RegKernelName(key, name) && StrCmpNIW(name, parentName, static_cast<int>(length)) == 0 &&
        name[length] == L'\\' && StrCmpIW(name + length + 1, path) == 0)
        return ERROR_SUCCESS;
    RegCloseKey(key);
    return ERROR_MORE_DATA;
}

} // namespace

bool RegOpenAsItself(HKEY parent, const wchar_t* path, REGSAM access, HKEY& key)
{
    // A path that cannot be opened whole cannot be opened component by component either.
    LONG whole = OpenWhole(parent, path, REG_OPTION_OPEN_LINK, access, key);
    if (whole != ERROR_MORE_DATA) {
        SetLastError(static_cast<DWORD>(whole));
        return whole == ERROR_SUCCESS;
    }
    return OpenEachComponent(parent, path, access, key);
}

bool RegOpenPlain(HKEY parent, const wchar_t* path, REGSAM access, HKEY& key)
{
    // Opened whole, a link at the end is followed and so leads elsewhere: what the quick way
    // finds is no link. Opened component by component, the key is asked.
    LONG whole = OpenWhole(parent, path, 0, access, key);
    if (whole != ERROR_MORE_DATA) {
        SetLastError(static_cast<DWORD>(whole));
        return whole == ERROR_SUCCESS;
    }
    if (!OpenEachComponent(parent, path, access, key))
        return false;
    if (!IsLink(key))
        return true;
    RegCloseKey(key);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
}

bool RegOpenSubkeyOf(HKEY key, const wchar_t* name, REGSAM access, HKEY& subkey)
{
    // What is not one plain name, and the one name that can be Windows' own link, take the long way.
    if (name[0] == L'\0' || wcschr(name, L'\\') != nullptr || StrCmpIW(name, L"Classes") == 0)
        return RegOpenAsItself(key, name, access, subkey);
    LONG opened = RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK, access, &subkey);
    SetLastError(static_cast<DWORD>(opened));
    return opened == ERROR_SUCCESS;
}

bool RegKernelNameOf(HKEY parent, const wchar_t* path, REGSAM access, RegistryName& out)
{
    HKEY key;
    if (!RegOpenAsItself(parent, path, access, key))
        return false;
    if (!RegKernelName(key, out))
        out[0] = L'\0';
    RegCloseKey(key);
    return true;
}

bool RegOpenForValues(HKEY parent, const wchar_t* path, REGSAM read, HKEY& key)
{
    if (RegOpenAsItself(parent, path, read | KEY_SET_VALUE, key))
        return true;
    // Only a key there that denies the right to set values is worth a second open.
    return GetLastError() == ERROR_ACCESS_DENIED && RegOpenAsItself(parent, path, read, key);
}

bool RegHoldsAtMost(HKEY key, DWORD subkeyCount, DWORD valueCount)
{
    DWORD subkeys = 0;
    DWORD values = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys <= subkeyCount && values <= valueCount;
}

const wchar_t* RegRootLabel(HKEY root)
{
    return root == HKEY_LOCAL_MACHINE ? L"HKLM" : L"HKU";
}

bool RegJoinPath(PathBuffer& out, const wchar_t* path, const wchar_t* name)
{
    // A missing part makes no path: the caller acts on nothing rather than on "(null)".
    if (path == nullptr || name == nullptr)
        return false;
    return TextCopy(out, path) && TextAppend(out, L"\\") && TextAppend(out, name);
}
