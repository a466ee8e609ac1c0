// File types of the product in one scope: its ProgIDs and URL protocols, the extensions and the
// user's "Open with" records that name them, and its verbs on the names Windows itself defines.
#include "../ground/ProductTargets.h"
#include "../ground/ListedKeys.h"
#include "../ground/RegistryValues.h"
#include "ShellScope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

const wchar_t FileExtsKey[] = L"Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";

bool ListHolds(const NameList& list, const wchar_t* name)
{
    for (DWORD i = 0; i < list.count; i++) {
        if (StrCmpIW(list.names[i], name) == 0)
            return true;
    }
    return false;
}

// A ProgID or application of the machine's class root wholly the product's, in either view: a
// user's entries may name the machine's registrations.
bool MachineHasProductsEntry(const ShellScope& scope, bool application, const wchar_t* name)
{
    if (!scope.user || !IsSingleKeyName(name))
        return false;
    for (REGSAM view : RegViews) {
        HKEY classes;
        if (!OpenClassRootKey(HKEY_LOCAL_MACHINE, L"Software\\Classes", view, classes))
            continue;
        bool products = ProgIdHolding(classes, name, application, view, scope.machine) == ProductHolding::Whole;
        RegCloseKey(classes);
        if (products)
            return true;
    }
    return false;
}

bool NamesProductsProgId(const ShellScope& scope, const wchar_t* name)
{
    if (!IsSingleKeyName(name) || IsWindowsClassName(name))
        return false;
    for (DWORD i = 0; i < scope.classCount; i++) {
        if (ListHolds(scope.classes[i].progIds, name))
            return true;
    }
    return MachineHasProductsEntry(scope, false, name);
}

bool NamesProductsApplication(const ShellScope& scope, const wchar_t* name)
{
    if (!IsSingleKeyName(name))
        return false;
    for (DWORD i = 0; i < scope.classCount; i++) {
        if (ListHolds(scope.classes[i].applications, name))
            return true;
    }
    return MachineHasProductsEntry(scope, true, name);
}

// An extension of a class root: its OpenWithProgids values named by a product ProgID, and its
// default value where it names one. When nothing else would be left in it, the extension's
// key goes instead.
void CleanExtension(const ShellScope& scope, const ClassRoot& root, const wchar_t* extension)
{
    const wchar_t* label = scope.where->label;
    HKEY key;
    if (!RegOpenForValues(root.key, extension, KEY_QUERY_VALUE | root.view, key))
        return;
    PathBuffer progId;
    bool byDefault = RegReadText(key, nullptr, progId, false) && NamesProductsProgId(scope, progId);
    NameList named = {};
    HKEY openWith = nullptr;
    DWORD openWithValues = 0;
    if (RegOpenForValues(key, L"OpenWithProgids", KEY_QUERY_VALUE | root.view, openWith)) {
        NameList values = {};
        RegReadValueNames(openWith, values);
        openWithValues = values.count;
        for (DWORD i = 0; i < values.count; i++) {
            if (NamesProductsProgId(scope, values.names[i]))
                AddName(named, values.names[i]);
        }
        FreeNames(values);
    }
    if (byDefault || named.count > 0) {
        bool openWithEmptied = openWith != nullptr && named.count == openWithValues && RegHoldsAtMost(openWith, 0, openWithValues);
        // Left empty: no value but a named default, no subkey but an emptied OpenWithProgids.
        bool nothingElse = RegHoldsAtMost(key, openWithEmptied ? 1 : 0, byDefault ? 1 : 0);
        PathBuffer path;
        PathBuffer openWithPath;
        if (nothingElse) {
            if (openWith != nullptr)
                RegCloseKey(openWith);
            openWith = nullptr;
            RemoveListedKey(root.key, extension, root.view, label, root.path);
        } else if (RegJoinPath(path, root.path, extension)) {
            if (openWith != nullptr && FormatText(openWithPath, L"%s\\OpenWithProgids", path))
                RemoveValues(openWith, named, label, openWithPath);
            if (byDefault)
                RemoveRegistryValue(key, L"", label, path);
        }
    }
    FreeNames(named);
    if (openWith != nullptr)
        RegCloseKey(openWith);
    RegCloseKey(key);
}

// The verbs of a name that stays (and of the background of folders) whose command starts the
// product: the key and all else in it stay, and a verb of Windows' that the product's replaced is
// not restored.
void RemoveProductsVerbs(const ShellScope& scope, const ClassRoot& root, const wchar_t* name)
{
    PathBuffer shellPath;
    PathBuffer shownPath;
    HKEY shell;
    if (!RegJoinPath(shellPath, name, L"shell") || !RegJoinPath(shownPath, root.path, shellPath) ||
        !RegOpenAsItself(root.key, shellPath, KEY_READ | root.view, shell))
        return;
    Verbs verbs = {};
    ReadProductVerbs(shell, root.view, scope.targets, verbs);
    RemoveKeys(shell, root.view, scope.where->label, shownPath, verbs.products);
    FreeNames(verbs.products);
    RegCloseKey(shell);
}

// A user's "Open with" records of one extension: the programs of OpenWithList and the ProgIDs of
// OpenWithProgids that are the product's. The list's order ("MRUList") is the shell's own.
void CleanFileExt(const ShellScope& scope, HKEY fileExt, const wchar_t* path)
{
    const wchar_t* const lists[2] = {L"OpenWithList", L"OpenWithProgids"};
    for (const wchar_t* listName : lists) {
        HKEY list;
        PathBuffer listPath;
        if (!RegJoinPath(listPath, path, listName) ||
            !RegOpenForValues(fileExt, listName, KEY_QUERY_VALUE | KEY_WOW64_64KEY, list))
            continue;
        bool byProgram = listName == lists[0];
        NameList values = {};
        NameList found = {};
        RegReadValueNames(list, values);
        for (DWORD i = 0; i < values.count; i++) {
            const wchar_t* name = values.names[i];
            PathBuffer program;
            if (byProgram ? StrCmpIW(name, L"MRUList") != 0 && RegReadText(list, name, program, false) &&
                                (PathIsProducts(scope.targets, program) || NamesProductsApplication(scope, program))
                          : NamesProductsProgId(scope, name))
                AddName(found, name);
        }
        RemoveValues(list, found, scope.where->label, listPath);
        FreeNames(found);
        FreeNames(values);
        RegCloseKey(list);
    }
}

void RemoveFileExts(const ShellScope& scope, HKEY fileExts, REGSAM, const wchar_t* path)
{
    NameList names = {};
    RegReadSubkeyNames(fileExts, names);
    for (DWORD i = 0; i < names.count; i++) {
        HKEY fileExt;
        PathBuffer fileExtPath;
        if (!RegJoinPath(fileExtPath, path, names.names[i]) ||
            !RegOpenSubkeyOf(fileExts, names.names[i], KEY_READ | KEY_WOW64_64KEY, fileExt))
            continue;
        CleanFileExt(scope, fileExt, fileExtPath);
        RegCloseKey(fileExt);
    }
    FreeNames(names);
}

} // namespace

// The class list, read once: the extensions and Windows' own names kept for later, and each
// other name tested as a ProgID or URL protocol of the product, wholly or by some of its verbs.
void ReadClassList(const ShellScope& scope, ClassRoot& root)
{
    NameList names = {};
    RegReadSubkeyNames(root.key, names);
    for (DWORD i = 0; i < names.count; i++) {
        const wchar_t* name = names.names[i];
        if (name[0] == L'.') {
            AddName(root.extensions, name);
        } else if (IsWindowsClassName(name)) {
            AddName(root.keptNames, name);
        } else {
            ProductHolding holding = ProgIdHolding(root.key, name, false, root.view, scope.targets);
            if (holding == ProductHolding::Whole)
                AddName(root.progIds, name);
            else if (holding == ProductHolding::Verbs)
                AddName(root.keptNames, name);
        }
    }
    FreeNames(names);
}

void RemoveFileExtRecords(const ShellScope& scope)
{
    ForEachSoftwareKey(scope, FileExtsKey, RemoveFileExts);
}

void CleanExtensions(const ShellScope& scope)
{
    // Without a product ProgID in any of the machine's roots, no extension of them names one.
    bool anyProgId = scope.user;
    for (DWORD i = 0; i < scope.classCount; i++)
        anyProgId = anyProgId || scope.classes[i].progIds.count > 0;
    for (DWORD i = 0; anyProgId && i < scope.classCount; i++) {
        const ClassRoot& root = scope.classes[i];
        for (DWORD j = 0; j < root.extensions.count; j++)
            CleanExtension(scope, root, root.extensions.names[j]);
    }
}

void RemoveFileTypes(const ShellScope& scope, const ClassRoot& root)
{
    RemoveKeys(root.key, root.view, scope.where->label, root.path, root.progIds);
    for (DWORD i = 0; i < root.keptNames.count; i++) {
        RemoveProductsVerbs(scope, root, root.keptNames.names[i]);
        if (StrCmpIW(root.keptNames.names[i], L"Directory") == 0)
            RemoveProductsVerbs(scope, root, L"Directory\\Background");
    }
}
