// Registry walks: subkey names and values in index order, and both registry views.
#include "RegistryWalk.h"

const REGSAM RegViews[2] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

bool RegViewShowsOwnKey(HKEY root, const wchar_t* path, REGSAM view)
{
    if (view != KEY_WOW64_32KEY)
        return true;
    RegistryName names[2];
    for (int i = 0; i < 2; i++) {
        HKEY key;
        // Without a 64-bit key the 32-bit one is its own; without a 32-bit one there is nothing to visit.
        if (RegOpenKeyExW(root, path, 0, KEY_READ | RegViews[i], &key) != ERROR_SUCCESS)
            return i == 0;
        bool named = RegKernelName(key, names[i]);
        RegCloseKey(key);
        if (!named)
            return true;
    }
    return !RegSameKey(names[0], names[1]);
}

bool RegEnumSubkeys(HKEY key, bool (*visit)(const wchar_t* name, void* context), void* context)
{
    bool whole = true;
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        LONG result = RegEnumKeyExW(key, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) {
            whole = false;
            continue;
        }
        if (result == ERROR_NO_MORE_ITEMS)
            return whole;
        if (result != ERROR_SUCCESS)
            return false;
        if (!visit(name, context))
            return whole;
    }
}

bool RegEnumValues(HKEY key, bool withData, bool (*visit)(const RegValue& value, void* context), void* context)
{
    bool whole = true;
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        DWORD type = REG_NONE;
        // One character beyond the 520 bytes offered, for the terminator of data that fills
        // them without a NUL of its own.
        wchar_t data[MAX_PATH + 1];
        DWORD dataSize = MAX_PATH * sizeof(wchar_t);
        LONG result = RegEnumValueW(key, index, name, &nameCount, nullptr, &type,
                                    withData ? reinterpret_cast<BYTE*>(data) : nullptr, withData ? &dataSize : nullptr);
        if (result == ERROR_MORE_DATA) {
            whole = false;
            continue;
        }
        if (result == ERROR_NO_MORE_ITEMS)
            return whole;
        if (result != ERROR_SUCCESS)
            return false;
        if (withData)
            data[RegTextLength(data, dataSize)] = L'\0';
        if (!visit({name, type, withData ? data : nullptr}, context))
            return whole;
    }
}

namespace {

// A reading of names into a list; full once the heap had no room for one.
struct NameReading {
    NameList& names;
    bool full;
};

bool AddReadName(const wchar_t* name, void* context)
{
    NameReading& reading = *static_cast<NameReading*>(context);
    reading.full = !AddName(reading.names, name);
    return !reading.full;
}

bool AddReadValueName(const RegValue& value, void* context)
{
    return AddReadName(value.name, context);
}

} // namespace

bool RegReadSubkeyNames(HKEY key, NameList& out)
{
    NameReading reading = {out, false};
    return RegEnumSubkeys(key, AddReadName, &reading) && !reading.full;
}

bool RegReadValueNames(HKEY key, NameList& out)
{
    NameReading reading = {out, false};
    return RegEnumValues(key, false, AddReadValueName, &reading) && !reading.full;
}

bool RegEnumValueNames(HKEY key, bool (*visit)(const wchar_t* name, void* context), void* context)
{
    struct NameVisit {
        bool (*visit)(const wchar_t* name, void* context);
        void* context;
    } byName = {visit, context};
    return RegEnumValues(
        key, false,
        [](const RegValue& value, void* named) {
            NameVisit& by = *static_cast<NameVisit*>(named);
            return by.visit(value.name, by.context);
        },
        &byName);
}
