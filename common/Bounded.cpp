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

bool AddName(NameList& list, const wchar_t* name)
{
    if (list.count == list.capacity) {
        DWORD capacity = list.capacity == 0 ? 16 : list.capacity * 2;
        SIZE_T size = capacity * sizeof(PathBuffer);
        void* grown = list.names == nullptr ? HeapAlloc(GetProcessHeap(), 0, size)
                                            : HeapReAlloc(GetProcessHeap(), 0, list.names, size);
        if (grown == nullptr)
            return false;
        list.names = static_cast<PathBuffer*>(grown);
        list.capacity = capacity;
    }
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
