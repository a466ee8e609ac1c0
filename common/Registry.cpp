// Registry value reading, view-exact tree deletion and the registry's own key names.
#include "Registry.h"

#include <wchar.h>

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

bool DeleteRegistryTree(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExW(parent, subkey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    // Each deletion moves the later children down, so the scan stays at an index
    // until the child there cannot be deleted.
    DWORD index = 0;
    for (;;) {
        wchar_t name[MAX_PATH];
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(key, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (!DeleteRegistryTree(key, name, view))
            index++;
    }
    RegCloseKey(key);
    return RegDeleteKeyExW(parent, subkey, view, 0) == ERROR_SUCCESS;
}

namespace {

// NtQueryKey's KeyNameInformation: the name's length in bytes, then the name.
struct KeyNameInformation {
    ULONG nameLength;
    wchar_t name[2 * MAX_PATH];
};
const int KeyNameInformationClass = 3;
typedef LONG(WINAPI* QueryKeyFunction)(HANDLE key, int informationClass, void* information, ULONG length,
                                       ULONG* resultLength);

} // namespace

bool RegistryKeyName(HKEY key, wchar_t (&out)[2 * MAX_PATH])
{
    // NtQueryKey is ntdll's alone, which every process has loaded: it is looked up
    // there rather than imported.
    static const QueryKeyFunction queryKey = reinterpret_cast<QueryKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    if (queryKey == nullptr)
        return false;
    KeyNameInformation information;
    ULONG resultLength = 0;
    if (queryKey(key, KeyNameInformationClass, &information, sizeof(information), &resultLength) != 0)
        return false;
    ULONG count = information.nameLength / sizeof(wchar_t);
    if (count == 0 || count >= ARRAYSIZE(out))
        return false;
    wmemcpy(out, information.name, count);
    out[count] = L'\0';
    return true;
}
