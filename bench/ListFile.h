// The list files of the benchmark's programs: UTF-8 lines of up to four fields
// separated by tabs, blank lines ignored.
#pragma once

#include <windows.h>

#include <stdio.h>
#include <string.h>

// Calls handle with the fields of each line in turn; false when the file cannot be read.
inline bool ForEachListLine(const wchar_t* path, void (*handle)(wchar_t* fields[4], int count))
{
    FILE* list = _wfopen(path, L"rb");
    if (!list)
        return false;
    char line[2048];
    while (fgets(line, sizeof(line), list)) {
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0')
            continue;
        wchar_t wide[2048];
        if (!MultiByteToWideChar(CP_UTF8, 0, line, -1, wide, 2048))
            continue;
        wchar_t* fields[4] = {wide, nullptr, nullptr, nullptr};
        int count = 1;
        for (wchar_t* at = wide; *at && count < 4; at++) {
            if (*at == L'\t') {
                *at = L'\0';
                fields[count++] = at + 1;
            }
        }
        handle(fields, count);
    }
    fclose(list);
    return true;
}
