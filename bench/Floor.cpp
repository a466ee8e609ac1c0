// The benchmark's floor: the least a cleaner must do on the synthetic machine. It reads
// each list once (RegOpenKeyExW, RegEnumKeyExW, RegQueryValueExW or RegEnumValueW),
// deletes what matches with DeleteRegistryTree as it goes, deletes the named trees and
// folders, and writes no log.
//   Floor.exe run LIST      deletes; prints the time each kind of object took
//   Floor.exe check LIST    deletes nothing; prints how many product objects are left
//                           and how many other objects are present
//   Floor.exe run LIST [--open-per-value] [--passes]
//                           the same deletions, with the access pattern of the cleaner's
//                           registry sweep, to measure what each costs: a subkey opened
//                           once for each value read; each uninstall list read twice in a
//                           sweep before its deletions (the passive scans of both views) and,
//                           under HKEY_USERS where both views show the same list, once more
//                           after them
// Each line of LIST (UTF-8, fields separated by tabs):
//   keys ROOT VIEW PATH     subkeys of PATH whose DisplayName or ProductName is a catalogue name
//   components SID          Installer component records whose value data mention the maker
//   products SID            Installer product records whose DisplayName is a catalogue name
//   tree ROOT VIEW PATH     one key and everything below it
//   folder PATH             one folder tree
//   file PATH               one file
//   keep ROOT VIEW PATH     a key that must stay (ROOT "path": a file or folder that must stay)
// ROOT is HKLM or HKU, VIEW 64 or 32.
#include "../clean/Catalogue.h"
#include "../clean/ground/ListScan.h"
#include "../change/RegistryChanges.h"
#include "../common/Registry.h"
#include "ListFile.h"

#include <shlwapi.h>
#include <stdio.h>

namespace {

const wchar_t UserData[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

bool Checking = false;
bool OpenPerValue = false;
bool ProgramPasses = false;
bool ReadOnlyPass = false;
int LeftProductObjects = 0;
int PresentOtherObjects = 0;

enum Kind { KindKeys, KindComponents, KindProducts, KindTree, KindFolder, KindFile, KindKeep, KindCount };
const char* const KindNames[KindCount] = {"keys", "components", "products", "tree", "folder", "file", "keep"};
double Seconds[KindCount];
int Deleted[KindCount];

bool IsCatalogueName(HKEY key, const wchar_t* valueName)
{
    return KeyCatalogueName(key, valueName) != nullptr;
}

// Deletes (or, when checking, counts) the child at index; true when the list shrank.
bool TakeMatch(HKEY list, const wchar_t* name, REGSAM view, Kind kind)
{
    if (Checking) {
        LeftProductObjects++;
        return false;
    }
    if (DeleteRegistryTree(list, name, view, {}) != Change::Made)
        return false;
    Deleted[kind]++;
    return true;
}

// Walks a list once. A deletion moves the later children down to the same index.
void ScanList(HKEY root, const wchar_t* path, REGSAM view, Kind kind)
{
    HKEY list;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &list) != ERROR_SUCCESS)
        return;
    DWORD index = 0;
    for (;;) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        if (RegEnumKeyExW(list, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        bool match = false;
        HKEY child;
        if (kind == KindKeys) {
            if (OpenPerValue) {
                const wchar_t* const valueNames[2] = {L"DisplayName", L"ProductName"};
                for (const wchar_t* valueName : valueNames) {
                    if (!match && RegOpenKeyExW(list, name, 0, KEY_READ | view, &child) == ERROR_SUCCESS) {
                        match = IsCatalogueName(child, valueName);
                        RegCloseKey(child);
                    }
                }
            } else if (RegOpenKeyExW(list, name, 0, KEY_READ | view, &child) == ERROR_SUCCESS) {
                match = IsCatalogueName(child, L"DisplayName") || IsCatalogueName(child, L"ProductName");
                RegCloseKey(child);
            }
        } else if (kind == KindProducts) {
            PathBuffer properties;
            if (TextCopy(properties, name) && PathAppendName(properties, L"InstallProperties") &&
                RegOpenKeyExW(list, properties, 0, KEY_READ | view, &child) == ERROR_SUCCESS) {
                match = IsCatalogueName(child, L"DisplayName");
                RegCloseKey(child);
            }
        } else if (RegOpenKeyExW(list, name, 0, KEY_READ | view, &child) == ERROR_SUCCESS) {
            for (DWORD valueIndex = 0; !match; valueIndex++) {
                wchar_t valueName[MAX_PATH];
                DWORD valueNameCount = MAX_PATH;
                wchar_t data[MAX_PATH + 1];
                DWORD dataSize = MAX_PATH * sizeof(wchar_t);
                if (RegEnumValueW(child, valueIndex, valueName, &valueNameCount, nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS)
                    break;
                data[dataSize / sizeof(wchar_t)] = L'\0';
                match = StrStrIW(data, MakerWord) != nullptr;
            }
            RegCloseKey(child);
        }
        if (!match || ReadOnlyPass) {
            PresentOtherObjects += Checking && !match ? 1 : 0;
            index++;
        } else if (!TakeMatch(list, name, view, kind)) {
            index++;
        }
    }
    RegCloseKey(list);
}

void RemoveTree(const wchar_t* path)
{
    PathBuffer pattern;
    if (!TextCopy(pattern, path) || !PathAppendName(pattern, L"*.*"))
        return;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (StrCmpW(entry.cFileName, L".") == 0 || StrCmpW(entry.cFileName, L"..") == 0)
            continue;
        PathBuffer full;
        if (!TextCopy(full, path) || !PathAppendName(full, entry.cFileName))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(full);
        else if (DeleteFileW(full))
            Deleted[KindFolder]++;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    RemoveDirectoryW(path);
}

bool KeyExists(HKEY root, const wchar_t* path, REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void Handle(wchar_t* fields[4], int count)
{
    Kind kind = KindCount;
    for (int k = 0; k < KindCount; k++) {
        wchar_t wide[16];
        MultiByteToWideChar(CP_UTF8, 0, KindNames[k], -1, wide, 16);
        if (StrCmpW(fields[0], wide) == 0)
            kind = static_cast<Kind>(k);
    }
    HKEY root = count > 1 && StrCmpW(fields[1], L"HKU") == 0 ? HKEY_USERS : HKEY_LOCAL_MACHINE;
    REGSAM view = count > 2 && StrCmpW(fields[2], L"32") == 0 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    PathBuffer path;
    switch (kind) {
    case KindKeys:
        if (ProgramPasses && !Checking && StrStrIW(fields[3], L"\\Uninstall")) {
            bool shared = root == HKEY_USERS;
            ReadOnlyPass = true;
            for (int pass = 0; pass < (shared ? 2 : 1); pass++)
                ScanList(root, fields[3], view, kind);
            ReadOnlyPass = false;
            ScanList(root, fields[3], view, kind);
            if (shared)
                ScanList(root, fields[3], view, kind);
        } else {
            ScanList(root, fields[3], view, kind);
        }
        break;
    case KindComponents:
    case KindProducts:
        if (FormatText(path, kind == KindComponents ? L"%s\\%s\\Components" : L"%s\\%s\\Products", UserData, fields[1]))
            ScanList(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, kind);
        break;
    case KindTree:
        if (Checking)
            LeftProductObjects += KeyExists(root, fields[3], view) ? 1 : 0;
        else if (DeleteRegistryTree(root, fields[3], view, {}) == Change::Made)
            Deleted[kind]++;
        break;
    case KindFolder:
    case KindFile:
        if (Checking)
            LeftProductObjects += GetFileAttributesW(fields[1]) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
        else if (kind == KindFolder)
            RemoveTree(fields[1]);
        else if (DeleteFileW(fields[1]))
            Deleted[kind]++;
        break;
    case KindKeep:
        if (!Checking)
            break;
        if (StrCmpW(fields[1], L"path") == 0)
            PresentOtherObjects += GetFileAttributesW(fields[3]) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
        else
            PresentOtherObjects += KeyExists(root, fields[3], view) ? 1 : 0;
        break;
    default:
        fwprintf(stderr, L"unknown line: %ls\n", fields[0]);
        return;
    }
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    Seconds[kind] += double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3 || (StrCmpW(argv[1], L"run") != 0 && StrCmpW(argv[1], L"check") != 0)) {
        fputs("usage: Floor.exe run|check LIST [--open-per-value] [--passes]\n", stderr);
        return 2;
    }
    for (int i = 3; i < argc; i++) {
        OpenPerValue = OpenPerValue || StrCmpW(argv[i], L"--open-per-value") == 0;
        ProgramPasses = ProgramPasses || StrCmpW(argv[i], L"--passes") == 0;
    }
    Checking = StrCmpW(argv[1], L"check") == 0;
    if (!ForEachListLine(argv[2], Handle)) {
        fputs("cannot open the list\n", stderr);
        return 2;
    }
    if (Checking) {
        printf("left %d product objects, %d other objects present\n", LeftProductObjects, PresentOtherObjects);
        return LeftProductObjects == 0 ? 0 : 1;
    }
    for (int k = 0; k < KindCount; k++)
        if (Seconds[k] > 0)
            printf("  floor %-10s %8.3f s  %6d deleted\n", KindNames[k], Seconds[k], Deleted[k]);
    return 0;
}
