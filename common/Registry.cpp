// Registry value reading, the registry's own key names and keys opened as themselves.
#include "Registry.h"

#include <wchar.h>

extern "C" LONG NTAPI NtQueryKey(HANDLE key, int informationClass, void* information, ULONG length,
                                 ULONG* resultLength);

bool ReadRegistryText(HKEY key, const wchar_t* valueName, PathBuffer& out, bool acceptExpandable)
{
    wchar_t data[MAX_PATH];
    DWORD type = REG_NONE;
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return false;
    if (!(type == REG_SZ || (acceptExpandable && type == REG_EXPAND_SZ)) || size == 0)
        return false;
    // The text must leave room for the terminator.
    DWORD length = RegistryTextLength(data, size);
    if (length >= MAX_PATH)
        return false;
    data[length] = L'\0';
    return TextCopy(out, data);
}

DWORD RegistryTextLength(const wchar_t* data, DWORD size)
{
    // A value stored without its NUL comes back without one: the text ends with the data.
    DWORD count = size / sizeof(wchar_t);
    DWORD length = 0;
    while (length < count && data[length] != L'\0')
        length++;
    return length;
}

bool RegistryKeyName(HKEY key, RegistryName& out)
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

bool OpenKeyAsItself(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY& key)
{
    return RegOpenKeyExW(parent, subkey, REG_OPTION_OPEN_LINK, access, &key) == ERROR_SUCCESS;
}

bool KeyIdentity(HKEY parent, const wchar_t* subkey, REGSAM access, RegistryName& out)
{
    HKEY key;
    if (!OpenKeyAsItself(parent, subkey, access, key))
        return false;
    if (!RegistryKeyName(key, out))
        out[0] = L'\0';
    RegCloseKey(key);
    return true;
}
