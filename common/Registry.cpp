// Registry value reading.
#include "Registry.h"

bool ReadRegistryText(HKEY key, const wchar_t* valueName, PathBuffer& out, bool acceptExpandable)
{
    wchar_t data[MAX_PATH];
    DWORD type = REG_NONE;
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
        return false;
    if (!(type == REG_SZ || (acceptExpandable && type == REG_EXPAND_SZ)) || size == 0)
        return false;
    // A value stored without its NUL comes back without one: the text ends with the
    // data, and it must leave room for the terminator.
    DWORD count = size / sizeof(wchar_t);
    DWORD length = 0;
    while (length < count && data[length] != L'\0')
        length++;
    if (length >= MAX_PATH)
        return false;
    data[length] = L'\0';
    return TextCopy(out, data);
}
