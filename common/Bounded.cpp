// Bounded composition helpers: nothing here ever writes past a buffer or hands back
// a cut result as if it were whole.
#define STRSAFE_NO_DEPRECATE
#include "Bounded.h"

#include <shlwapi.h>
#include <strsafe.h>
#include <wchar.h>

bool TextCopy(PathBuffer& out, const wchar_t* text)
{
    return SUCCEEDED(StringCchCopyW(out, MAX_PATH, text));
}

bool TextAppend(PathBuffer& out, const wchar_t* text)
{
    return SUCCEEDED(StringCchCatW(out, MAX_PATH, text));
}

bool PathAppendName(PathBuffer& out, const wchar_t* name)
{
    // PathAppendW assumes a MAX_PATH buffer and may canonicalise the result, so it
    // works on a larger copy and the result is taken only when it fits.
    wchar_t work[2 * MAX_PATH];
    size_t used = wcslen(out);
    size_t added = wcslen(name);
    if (used + 1 + added >= ARRAYSIZE(work))
        return false;
    wmemcpy(work, out, used + 1);
    if (!PathAppendW(work, name))
        return false;
    return TextCopy(out, work);
}

bool ExpandText(PathBuffer& out, const wchar_t* text)
{
    wchar_t work[MAX_PATH];
    DWORD needed = ExpandEnvironmentStringsW(text, work, MAX_PATH);
    if (needed == 0 || needed > MAX_PATH)
        return false;
    work[MAX_PATH - 1] = L'\0';
    return TextCopy(out, work);
}

bool FormatText(PathBuffer& out, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    HRESULT result = StringCchVPrintfW(out, MAX_PATH, format, arguments);
    va_end(arguments);
    return SUCCEEDED(result);
}

bool FormatTextCounted(wchar_t* out, size_t count, const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    HRESULT result = StringCchVPrintfW(out, count, format, arguments);
    va_end(arguments);
    return SUCCEEDED(result);
}

bool TextAppendCounted(wchar_t* out, size_t count, const wchar_t* text)
{
    HRESULT result = StringCchCatW(out, count, text);
    if (FAILED(result))
        out[0] = L'\0';
    return SUCCEEDED(result);
}

bool ScopeKeyPath(PathBuffer& out, const wchar_t* sid, const wchar_t* relativePath)
{
    out[0] = L'\0';
    if (sid != nullptr && sid[0] != L'\0') {
        if (!TextAppend(out, sid) || !TextAppend(out, L"\\"))
            return false;
    }
    return TextAppend(out, relativePath);
}


bool ShownKeyPath(ShownPathBuffer& out, const wchar_t* path, const wchar_t* name)
{
    if (name == nullptr)
        return SUCCEEDED(StringCchCopyW(out, ARRAYSIZE(out), path));
    return SUCCEEDED(StringCchPrintfW(out, ARRAYSIZE(out), L"%s\\%s", path, name));
}

bool MakeRoom(void*& items, DWORD count, DWORD& capacity, SIZE_T itemSize)
{
    if (count < capacity)
        return true;
    DWORD grown = capacity == 0 ? 16 : capacity * 2;
    void* moved = items == nullptr ? HeapAlloc(GetProcessHeap(), 0, grown * itemSize)
                                   : HeapReAlloc(GetProcessHeap(), 0, items, grown * itemSize);
    if (moved == nullptr)
        return false;
    items = moved;
    capacity = grown;
    return true;
}

bool AddName(NameList& list, const wchar_t* name)
{
    void* names = list.names;
    if (!MakeRoom(names, list.count, list.capacity, sizeof(PathBuffer)))
        return false;
    list.names = static_cast<PathBuffer*>(names);
    if (!TextCopy(list.names[list.count], name))
        return false;
    list.count++;
    return true;
}

void FreeNames(NameList& list)
{
    if (list.names != nullptr)
        HeapFree(GetProcessHeap(), 0, list.names);
    list = {};
}
