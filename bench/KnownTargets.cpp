// The benchmark's known-targets reference: deletes the product's keys, files and folders
// of the synthetic machine from a list that names every one of them, one call each, in
// an order in which each can go by itself. It enumerates nothing, matches nothing and
// writes no log: no cleaner can do less than this on the same machine.
//   KnownTargets.exe LIST    prints the time each kind took and how many went; exits 1
//                            when anything listed could not be deleted
// Each line of LIST (UTF-8, fields separated by tabs):
//   key ROOT VIEW PATH       one key without subkeys (ROOT HKLM or HKU, VIEW 64 or 32)
//   file PATH                one file
//   folder PATH              one empty folder
#include "ListFile.h"

namespace {

enum Kind { KindKey, KindFile, KindFolder, KindCount };
const wchar_t* const KindNames[KindCount] = {L"key", L"file", L"folder"};
double Seconds[KindCount];
int Deleted[KindCount];
int Failed[KindCount];

bool Delete(Kind kind, wchar_t* fields[4], int count)
{
    if (kind == KindKey) {
        if (count < 4)
            return false;
        HKEY root = wcscmp(fields[1], L"HKU") == 0 ? HKEY_USERS : HKEY_LOCAL_MACHINE;
        REGSAM view = wcscmp(fields[2], L"32") == 0 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        return RegDeleteKeyExW(root, fields[3], view, 0) == ERROR_SUCCESS;
    }
    if (count < 2)
        return false;
    return kind == KindFile ? DeleteFileW(fields[1]) != FALSE : RemoveDirectoryW(fields[1]) != FALSE;
}

void DeleteTarget(wchar_t* fields[4], int count)
{
    Kind kind = KindCount;
    for (int k = 0; k < KindCount; k++) {
        if (wcscmp(fields[0], KindNames[k]) == 0)
            kind = static_cast<Kind>(k);
    }
    if (kind == KindCount) {
        fwprintf(stderr, L"unknown line: %ls\n", fields[0]);
        return;
    }
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    bool deleted = Delete(kind, fields, count);
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    Seconds[kind] += double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    (deleted ? Deleted : Failed)[kind]++;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fputs("usage: KnownTargets.exe LIST\n", stderr);
        return 2;
    }
    if (!ForEachListLine(argv[1], DeleteTarget)) {
        fputs("cannot open the list\n", stderr);
        return 2;
    }
    int failed = 0;
    for (int k = 0; k < KindCount; k++) {
        printf("  known targets %-7ls %8.3f s  %6d deleted  %d not\n", KindNames[k], Seconds[k], Deleted[k], Failed[k]);
        failed += Failed[k];
    }
    return failed == 0 ? 0 : 1;
}
