// Shell registrations: App Paths, "Open with" entries, file types, URL protocols and registered
// applications of the product, in one scope; the scope's class roots are read here once each,
// for these and for the COM servers and browser hosts steps.
#include "ShellRegistrations.h"
#include "Catalogue.h"
#include "ListScan.h"
#include "ProductTargets.h"
#include "RegistryPurge.h"
#include "RegistryValues.h"
#include "ShellScope.h"

#include "../common/Registry.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

const wchar_t AppPathsKey[] = L"Microsoft\\Windows\\CurrentVersion\\App Paths";
const wchar_t FileExtsKey[] = L"Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
const wchar_t RegisteredApplicationsKey[] = L"RegisteredApplications";

// Names of the class root that Windows itself defines: an application may add verbs to them,
// but the keys are the system's and stay whatever their verbs start.
// Beyond the names a product is known to take, the roots the shell builds on and the file
// types of Windows' own scripts and settings: losing one of those keys breaks every file of its
// kind, so they too keep everything but the product's own verbs.
const wchar_t* const WindowsClassNames[31] = {
    L"http",    L"https",    L"ftp",     L"file",    L"mailto",  L"tel",     L"callto",
    L"*",       L"AllFilesystemObjects", L"Directory", L"Drive", L"Folder",  L"htmlfile",
    L"mhtmlfile", L"txtfile", L"exefile", L"lnkfile", L"batfile", L"cmdfile", L"comfile",
    L"SystemFileAssociations", L"Unknown", L"DesktopBackground", L"Network", L"Printers",
    L"regfile", L"inifile", L"inffile", L"VBSFile", L"JSFile",
    L"ms-",  // a prefix: every "ms-..." protocol is the system's
};

bool IsWindowsClassName(const wchar_t* name)
{
    for (const wchar_t* known : WindowsClassNames) {
        if (known[wcslen(known) - 1] == L'-' ? StrCmpNIW(name, known, static_cast<int>(wcslen(known))) == 0
                                             : StrCmpIW(name, known) == 0)
            return true;
    }
    return false;
}

// A name that can be taken as one key below a class root: not empty, no backslash (which
// would reach a key below another), and short enough to compose paths with.
bool IsSingleKeyName(const wchar_t* name)
{
    return name[0] != L'\0' && wcschr(name, L'\\') == nullptr && wcslen(name) < MAX_PATH / 2;
}

bool ListHolds(const NameList& list, const wchar_t* name)
{
    for (DWORD i = 0; i < list.count; i++) {
        if (StrCmpIW(list.names[i], name) == 0)
            return true;
    }
    return false;
}

bool OpenAsItself(HKEY parent, const wchar_t* path, REGSAM access, HKEY& key)
{
    return RegOpenKeyExW(parent, path, REG_OPTION_OPEN_LINK, access, &key) == ERROR_SUCCESS;
}

// The names of a key's subkeys, read before anything is deleted below it.
void ReadSubkeyNames(HKEY key, NameList& out)
{
    ForEachSubkeyOf(
        key, [](const wchar_t* name, void* context) { return AddName(*static_cast<NameList*>(context), name); }, &out);
}

// The verbs of a shell key that have a command: how many, and those whose command starts the
// product (a command that cannot be read is not the product's).
struct Verbs {
    DWORD commands;
    NameList products;
};
void ReadVerbs(HKEY shell, REGSAM view, const ProductTargets& targets, Verbs& out)
{
    NameList verbs = {};
    ReadSubkeyNames(shell, verbs);
    for (DWORD i = 0; i < verbs.count; i++) {
        PathBuffer commandPath;
        HKEY command;
        if (!FormatText(commandPath, L"%s\\command", verbs.names[i]) ||
            !OpenAsItself(shell, commandPath, KEY_QUERY_VALUE | view, command))
            continue;
        out.commands++;
        PathBuffer text;
        if (ReadRegistryText(command, nullptr, text, true) && CommandStartsProducts(targets, text))
            AddName(out.products, verbs.names[i]);
        RegCloseKey(command);
    }
    FreeNames(verbs);
}

// A ProgID, URL protocol or application of the product: at least one verb with a command, and
// every such command starts the product.
bool IsProductsProgId(HKEY parent, const wchar_t* name, REGSAM view, const ProductTargets& targets)
{
    PathBuffer shellPath;
    HKEY shell;
    if (!FormatText(shellPath, L"%s\\shell", name) || !OpenAsItself(parent, shellPath, KEY_READ | view, shell))
        return false;
    Verbs verbs = {};
    ReadVerbs(shell, view, targets, verbs);
    RegCloseKey(shell);
    bool products = verbs.commands > 0 && verbs.products.count == verbs.commands;
    FreeNames(verbs.products);
    return products;
}

// The same test of a name in the machine's class root, in either view: a user's entries may
// name the machine's registrations.
bool MachineHasProductsEntry(const ShellScope& scope, const wchar_t* below, const wchar_t* name)
{
    if (!scope.user || !IsSingleKeyName(name))
        return false;
    for (REGSAM view : RegistryViews) {
        PathBuffer path;
        HKEY parent;
        if (!FormatText(path, below[0] == L'\0' ? L"Software\\Classes%s" : L"Software\\Classes\\%s", below) ||
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &parent) != ERROR_SUCCESS)
            continue;
        bool products = IsProductsProgId(parent, name, view, scope.machine);
        RegCloseKey(parent);
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
    return MachineHasProductsEntry(scope, L"", name);
}

bool NamesProductsApplication(const ShellScope& scope, const wchar_t* name)
{
    if (!IsSingleKeyName(name))
        return false;
    for (DWORD i = 0; i < scope.classCount; i++) {
        if (ListHolds(scope.classes[i].applications, name))
            return true;
    }
    return MachineHasProductsEntry(scope, L"Applications", name);
}

// Removes the listed subkeys of parent, shown below parentPath.
void RemoveKeys(HKEY parent, REGSAM view, const wchar_t* label, const wchar_t* parentPath, const NameList& names)
{
    for (DWORD i = 0; i < names.count; i++)
        RemoveListedKey(parent, names.names[i], view, label, parentPath);
}

// The class list, read once: the extensions and Windows' own names kept for later, and each
// other name tested as a ProgID or URL protocol of the product.
void ReadClassList(const ShellScope& scope, ClassRoot& root)
{
    NameList names = {};
    ReadSubkeyNames(root.key, names);
    for (DWORD i = 0; i < names.count; i++) {
        const wchar_t* name = names.names[i];
        if (name[0] == L'.')
            AddName(root.extensions, name);
        else if (IsWindowsClassName(name))
            AddName(root.windowsNames, name);
        else if (IsProductsProgId(root.key, name, root.view, scope.targets))
            AddName(root.progIds, name);
    }
    FreeNames(names);
    HKEY applications;
    if (OpenAsItself(root.key, L"Applications", KEY_READ | root.view, applications)) {
        NameList found = {};
        ReadSubkeyNames(applications, found);
        for (DWORD i = 0; i < found.count; i++) {
            if (IsProductsProgId(applications, found.names[i], root.view, scope.targets))
                AddName(root.applications, found.names[i]);
        }
        FreeNames(found);
        RegCloseKey(applications);
    }
}

// Opens a key to delete values from; without the right to set values it is still opened, so
// that each deletion it cannot make is reported.
bool OpenForValues(HKEY parent, const wchar_t* path, REGSAM view, HKEY& key)
{
    return OpenAsItself(parent, path, KEY_QUERY_VALUE | KEY_SET_VALUE | view, key) ||
           OpenAsItself(parent, path, KEY_QUERY_VALUE | view, key);
}

// The value names of an open key (names that do not fit are passed over).
void ReadValueNames(HKEY key, NameList& out)
{
    for (DWORD index = 0;; index++) {
        PathBuffer name;
        DWORD nameCount = MAX_PATH;
        LONG result = RegEnumValueW(key, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS || !AddName(out, name))
            break;
    }
}

void RemoveValues(HKEY key, const NameList& names, const wchar_t* label, const wchar_t* path)
{
    for (DWORD i = 0; i < names.count; i++)
        RemoveRegistryValue(key, names.names[i], label, path);
}

// True when an open key has no values beyond valueCount and no subkeys beyond subkeyCount.
bool HoldsAtMost(HKEY key, DWORD subkeyCount, DWORD valueCount)
{
    DWORD subkeys = 0;
    DWORD values = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys <= subkeyCount && values <= valueCount;
}

// An extension of a class root: its OpenWithProgids values named by a product ProgID, and its
// default value where it names one. When nothing else would be left in it, the extension's
// key goes instead.
void CleanExtension(const ShellScope& scope, const ClassRoot& root, const wchar_t* extension)
{
    const wchar_t* label = RootLabel(scope.root);
    HKEY key;
    if (!OpenForValues(root.key, extension, root.view, key))
        return;
    PathBuffer progId;
    bool byDefault = ReadRegistryText(key, nullptr, progId, false) && NamesProductsProgId(scope, progId);
    NameList named = {};
    HKEY openWith = nullptr;
    DWORD openWithValues = 0;
    if (OpenForValues(key, L"OpenWithProgids", root.view, openWith)) {
        NameList values = {};
        ReadValueNames(openWith, values);
        openWithValues = values.count;
        for (DWORD i = 0; i < values.count; i++) {
            if (NamesProductsProgId(scope, values.names[i]))
                AddName(named, values.names[i]);
        }
        FreeNames(values);
    }
    if (byDefault || named.count > 0) {
        bool openWithEmptied = openWith != nullptr && named.count == openWithValues && HoldsAtMost(openWith, 0, openWithValues);
        // Left empty: no value but a named default, no subkey but an emptied OpenWithProgids.
        bool nothingElse = HoldsAtMost(key, openWithEmptied ? 1 : 0, byDefault ? 1 : 0);
        PathBuffer path;
        PathBuffer openWithPath;
        if (nothingElse) {
            if (openWith != nullptr)
                RegCloseKey(openWith);
            openWith = nullptr;
            RemoveListedKey(root.key, extension, root.view, label, root.path);
        } else if (FormatText(path, L"%s\\%s", root.path, extension)) {
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

// The verbs of one of Windows' own names (and of the background of folders) whose command
// starts the product.
void RemoveProductsVerbs(const ShellScope& scope, const ClassRoot& root, const wchar_t* name)
{
    PathBuffer shellPath;
    PathBuffer shownPath;
    HKEY shell;
    if (!FormatText(shellPath, L"%s\\shell", name) || !FormatText(shownPath, L"%s\\%s", root.path, shellPath) ||
        !OpenAsItself(root.key, shellPath, KEY_READ | root.view, shell))
        return;
    Verbs verbs = {};
    ReadVerbs(shell, root.view, scope.targets, verbs);
    RemoveKeys(shell, root.view, RootLabel(scope.root), shownPath, verbs.products);
    FreeNames(verbs.products);
    RegCloseKey(shell);
}

void RemoveClassRootEntries(const ShellScope& scope, const ClassRoot& root)
{
    const wchar_t* label = RootLabel(scope.root);
    PathBuffer applicationsPath;
    HKEY applications;
    if (root.applications.count > 0 && FormatText(applicationsPath, L"%s\\Applications", root.path) &&
        OpenAsItself(root.key, L"Applications", KEY_READ | root.view, applications)) {
        RemoveKeys(applications, root.view, label, applicationsPath, root.applications);
        RegCloseKey(applications);
    }
    RemoveKeys(root.key, root.view, label, root.path, root.progIds);
    for (DWORD i = 0; i < root.windowsNames.count; i++) {
        RemoveProductsVerbs(scope, root, root.windowsNames.names[i]);
        if (StrCmpIW(root.windowsNames.names[i], L"Directory") == 0)
            RemoveProductsVerbs(scope, root, L"Directory\\Background");
    }
}

// Calls visit with each key of the scope's Software at relativePath, in each view that shows it,
// opened to read and, where the run may, to delete values.
void ForEachSoftwareKey(const ShellScope& scope, const wchar_t* relativePath,
                        void (*visit)(const ShellScope& scope, HKEY key, REGSAM view, const wchar_t* path))
{
    PathBuffer path;
    if (scope.software[0] == L'\0' || !FormatText(path, L"%s\\%s", scope.software, relativePath))
        return;
    for (DWORD i = 0; i < scope.softwareViews; i++) {
        HKEY key;
        if (RegOpenKeyExW(scope.root, path, 0, KEY_READ | KEY_SET_VALUE | RegistryViews[i], &key) != ERROR_SUCCESS &&
            RegOpenKeyExW(scope.root, path, 0, KEY_READ | RegistryViews[i], &key) != ERROR_SUCCESS)
            continue;
        visit(scope, key, RegistryViews[i], path);
        RegCloseKey(key);
    }
}

void RemoveAppPaths(const ShellScope& scope, HKEY list, REGSAM view, const wchar_t* path)
{
    NameList names = {};
    NameList found = {};
    ReadSubkeyNames(list, names);
    for (DWORD i = 0; i < names.count; i++) {
        HKEY entry;
        if (!OpenAsItself(list, names.names[i], KEY_QUERY_VALUE | view, entry))
            continue;
        PathBuffer program;
        if (ReadRegistryText(entry, nullptr, program, true) && PathIsProducts(scope.targets, program))
            AddName(found, names.names[i]);
        RegCloseKey(entry);
    }
    RemoveKeys(list, view, RootLabel(scope.root), path, found);
    FreeNames(found);
    FreeNames(names);
}

// A user's "Open with" records of one extension: the programs of OpenWithList and the ProgIDs of
// OpenWithProgids that are the product's. The list's order ("MRUList") is the shell's own.
void CleanFileExt(const ShellScope& scope, HKEY fileExt, const wchar_t* path)
{
    const wchar_t* const lists[2] = {L"OpenWithList", L"OpenWithProgids"};
    for (const wchar_t* listName : lists) {
        HKEY list;
        PathBuffer listPath;
        if (!FormatText(listPath, L"%s\\%s", path, listName) || !OpenForValues(fileExt, listName, KEY_WOW64_64KEY, list))
            continue;
        bool byProgram = listName == lists[0];
        NameList values = {};
        NameList found = {};
        ReadValueNames(list, values);
        for (DWORD i = 0; i < values.count; i++) {
            const wchar_t* name = values.names[i];
            PathBuffer program;
            if (byProgram ? StrCmpIW(name, L"MRUList") != 0 && ReadRegistryText(list, name, program, false) &&
                                (PathIsProducts(scope.targets, program) || NamesProductsApplication(scope, program))
                          : NamesProductsProgId(scope, name))
                AddName(found, name);
        }
        RemoveValues(list, found, RootLabel(scope.root), listPath);
        FreeNames(found);
        FreeNames(values);
        RegCloseKey(list);
    }
}

void RemoveFileExts(const ShellScope& scope, HKEY fileExts, REGSAM, const wchar_t* path)
{
    NameList names = {};
    ReadSubkeyNames(fileExts, names);
    for (DWORD i = 0; i < names.count; i++) {
        HKEY fileExt;
        PathBuffer fileExtPath;
        if (!FormatText(fileExtPath, L"%s\\%s", path, names.names[i]) ||
            !OpenAsItself(fileExts, names.names[i], KEY_READ | KEY_WOW64_64KEY, fileExt))
            continue;
        CleanFileExt(scope, fileExt, fileExtPath);
        RegCloseKey(fileExt);
    }
    FreeNames(names);
}

// A capabilities key of the product: a path below the maker's or the product's own key.
bool IsProductsKeyPath(const wchar_t* text)
{
    const wchar_t* const words[2] = {MakerWord, ProductWord};
    for (const wchar_t* word : words) {
        PathBuffer prefix;
        if (FormatText(prefix, L"Software\\%s\\", word) &&
            StrCmpNIW(text, prefix, static_cast<int>(wcslen(prefix))) == 0 && text[wcslen(prefix)] != L'\0')
            return true;
    }
    return false;
}

void RemoveRegisteredApplications(const ShellScope& scope, HKEY values, REGSAM, const wchar_t* path)
{
    NameList names = {};
    NameList found = {};
    ReadValueNames(values, names);
    for (DWORD i = 0; i < names.count; i++) {
        PathBuffer capabilities;
        if (ReadRegistryText(values, names.names[i], capabilities, false) && IsProductsKeyPath(capabilities))
            AddName(found, names.names[i]);
    }
    RemoveValues(values, found, RootLabel(scope.root), path);
    FreeNames(found);
    FreeNames(names);
}

// A class root being opened in each view.
struct ClassRootPath {
    ShellScope& scope;
    const wchar_t* path;
};

// Opens the class root in one view, unless another view showed its key already.
void OpenClassRoot(REGSAM view, void* context)
{
    ShellScope& scope = static_cast<ClassRootPath*>(context)->scope;
    const wchar_t* path = static_cast<ClassRootPath*>(context)->path;
    ClassRoot& root = scope.classes[scope.classCount];
    root = {};
    if (!TextCopy(root.path, path) || RegOpenKeyExW(scope.root, path, 0, KEY_READ | view, &root.key) != ERROR_SUCCESS)
        return;
    if (!FirstVisit(scope, root.key)) {
        RegCloseKey(root.key);
        return;
    }
    root.view = view;
    scope.classCount++;
}

// Opens the class root at path in each view, once for each key of its own.
void OpenClassRoots(ShellScope& scope, const wchar_t* path)
{
    ClassRootPath root = {scope, path};
    ForEachRegistryView(OpenClassRoot, &root);
}

void CloseClassRoots(ShellScope& scope)
{
    for (DWORD i = 0; i < scope.classCount; i++) {
        ClassRoot& root = scope.classes[i];
        RegCloseKey(root.key);
        FreeNames(root.extensions);
        FreeNames(root.windowsNames);
        FreeNames(root.progIds);
        FreeNames(root.applications);
        FreeNames(root.classIds);
    }
    scope.classCount = 0;
}

// One scope, its class roots open. The "Open with" records and the extensions go before the
// ProgIDs they name, and the shell extensions before the classes they name, so that each is
// still recognised when it is taken.
void RemoveScopeRegistrations(ShellScope& scope)
{
    ForEachSoftwareKey(scope, AppPathsKey, RemoveAppPaths);
    for (DWORD i = 0; i < scope.classCount; i++) {
        ReadClassList(scope, scope.classes[i]);
        FindProductClasses(scope, scope.classes[i]);
    }
    if (scope.user)
        ForEachSoftwareKey(scope, FileExtsKey, RemoveFileExts);
    // Without a product ProgID in any of the machine's roots, no extension of them names one.
    bool anyProgId = scope.user;
    for (DWORD i = 0; i < scope.classCount; i++)
        anyProgId = anyProgId || scope.classes[i].progIds.count > 0;
    for (DWORD i = 0; anyProgId && i < scope.classCount; i++) {
        const ClassRoot& root = scope.classes[i];
        for (DWORD j = 0; j < root.extensions.count; j++)
            CleanExtension(scope, root, root.extensions.names[j]);
    }
    RemoveShellExtensions(scope);
    RemoveProductClasses(scope);
    for (DWORD i = 0; i < scope.classCount; i++)
        RemoveClassRootEntries(scope, scope.classes[i]);
    RemoveBrowserHosts(scope);
    ForEachSoftwareKey(scope, RegisteredApplicationsKey, RemoveRegisteredApplications);
    CloseClassRoots(scope);
}

// A scope with nothing read yet: its Software key (none for a class hive) and its terms.
void BeginScope(ShellScope& scope, HKEY root, const wchar_t* sid, bool hasSoftware)
{
    scope.root = root;
    scope.sid = sid;
    scope.software[0] = L'\0';
    scope.softwareViews = 0;
    if (hasSoftware && ScopeKeyPath(scope.software, sid, L"Software"))
        // A user's Software is one key in both views.
        scope.softwareViews = root == HKEY_USERS ? 1 : ARRAYSIZE(RegistryViews);
    ReadProductTargets(sid, scope.targets);
    scope.user = sid != nullptr;
    ReadProductTargets(nullptr, scope.machine);
    scope.classCount = 0;
    scope.seenCount = 0;
}

} // namespace

bool FirstVisit(ShellScope& scope, HKEY key)
{
    RegistryName name;
    if (!RegistryKeyName(key, name))
        return true;
    for (DWORD i = 0; i < scope.seenCount; i++) {
        if (StrCmpIW(scope.seen[i], name) == 0)
            return false;
    }
    if (scope.seenCount < ARRAYSIZE(scope.seen))
        wcscpy(scope.seen[scope.seenCount++], name);
    return true;
}

void RemoveUserShellRegistrations(const wchar_t* sid)
{
    ShellScope scope;
    BeginScope(scope, HKEY_USERS, sid, true);
    PathBuffer classes;
    if (ScopeKeyPath(classes, sid, L"Software\\Classes"))
        OpenClassRoots(scope, classes);
    RemoveScopeRegistrations(scope);
}

void RemoveMachineShellRegistrations()
{
    ShellScope scope;
    BeginScope(scope, HKEY_LOCAL_MACHINE, nullptr, true);
    OpenClassRoots(scope, L"Software\\Classes");
    RemoveScopeRegistrations(scope);
}

void RemoveClassHiveShellRegistrations(const wchar_t* sid, const wchar_t* classesName)
{
    ShellScope scope;
    BeginScope(scope, HKEY_USERS, sid, false);
    OpenClassRoots(scope, classesName);
    RemoveScopeRegistrations(scope);
}
