// Shell registrations of one scope: its class roots, read here once each for every step, App
// Paths, the Applications keys and registered applications of the product.
#include "ShellRegistrations.h"
#include "../Catalogue.h"
#include "../ground/ProductTargets.h"
#include "../ground/Scope.h"
#include "ShellScope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

const wchar_t AppPathsKey[] = L"Microsoft\\Windows\\CurrentVersion\\App Paths";
const wchar_t RegisteredApplicationsKey[] = L"RegisteredApplications";

void RemoveAppPaths(const ShellScope& scope, HKEY list, REGSAM view, const wchar_t* path)
{
    NameList names = {};
    NameList found = {};
    RegReadSubkeyNames(list, names);
    for (DWORD i = 0; i < names.count; i++) {
        HKEY entry;
        if (!RegOpenSubkeyOf(list, names.names[i], KEY_QUERY_VALUE | view, entry))
            continue;
        PathBuffer program;
        if (RegReadText(entry, nullptr, program, true) && PathIsProducts(scope.targets, program))
            AddName(found, names.names[i]);
        RegCloseKey(entry);
    }
    RemoveKeys(list, view, scope.where->label, path, found);
    FreeNames(found);
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
    RegReadValueNames(values, names);
    for (DWORD i = 0; i < names.count; i++) {
        PathBuffer capabilities;
        if (RegReadText(values, names.names[i], capabilities, false) && IsProductsKeyPath(capabilities))
            AddName(found, names.names[i]);
    }
    RemoveValues(values, found, scope.where->label, path);
    FreeNames(found);
    FreeNames(names);
}

// The class root's Applications key: the names tested as applications of the product; one that
// is not wholly its keeps all but the product's verbs.
void ReadApplications(const ShellScope& scope, ClassRoot& root)
{
    HKEY applications;
    if (RegOpenAsItself(root.key, L"Applications", KEY_READ | root.view, applications)) {
        NameList found = {};
        RegReadSubkeyNames(applications, found);
        for (DWORD i = 0; i < found.count; i++) {
            ProductHolding holding = ProgIdHolding(root.key, found.names[i], true, root.view, scope.targets);
            PathBuffer kept;
            if (holding == ProductHolding::Whole)
                AddName(root.applications, found.names[i]);
            else if (holding == ProductHolding::Verbs && RegJoinPath(kept, L"Applications", found.names[i]))
                AddName(root.keptNames, kept);
        }
        FreeNames(found);
        RegCloseKey(applications);
    }
}

void RemoveApplications(const ShellScope& scope, const ClassRoot& root)
{
    const wchar_t* label = scope.where->label;
    PathBuffer applicationsPath;
    HKEY applications;
    if (root.applications.count > 0 && FormatText(applicationsPath, L"%s\\Applications", root.path) &&
        RegOpenAsItself(root.key, L"Applications", KEY_READ | root.view, applications)) {
        RemoveKeys(applications, root.view, label, applicationsPath, root.applications);
        RegCloseKey(applications);
    }
}

// Opens the class root in one view, unless another view showed its key already.
void OpenClassRoot(ShellScope& scope, const wchar_t* path, REGSAM view)
{
    ClassRoot& root = scope.classes[scope.classCount];
    root = {};
    if (!TextCopy(root.path, path) || !OpenClassRootKey(scope.where->root, path, view, root.key))
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
    for (REGSAM view : RegViews)
        OpenClassRoot(scope, path, view);
}

void CloseClassRoots(ShellScope& scope)
{
    for (DWORD i = 0; i < scope.classCount; i++) {
        ClassRoot& root = scope.classes[i];
        RegCloseKey(root.key);
        FreeNames(root.extensions);
        FreeNames(root.keptNames);
        FreeNames(root.keptClassIds);
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
        ReadApplications(scope, scope.classes[i]);
        FindProductClasses(scope, scope.classes[i]);
    }
    if (scope.user)
        RemoveFileExtRecords(scope);
    CleanExtensions(scope);
    RemoveShellExtensions(scope);
    RemoveProductClasses(scope);
    for (DWORD i = 0; i < scope.classCount; i++) {
        RemoveApplications(scope, scope.classes[i]);
        RemoveFileTypes(scope, scope.classes[i]);
    }
    RemoveBrowserHosts(scope);
    ForEachSoftwareKey(scope, RegisteredApplicationsKey, RemoveRegisteredApplications);
    CloseClassRoots(scope);
}

// A scope with nothing read yet: its Software key (none for a class hive) and its terms.
void BeginScope(ShellScope& scope, const Scope& where, bool withSoftware)
{
    scope.where = &where;
    scope.withSoftware = withSoftware;
    ReadProductTargets(where, scope.targets);
    scope.user = where.sid != nullptr;
    ReadProductTargets(MachineScope(), scope.machine);
    scope.classCount = 0;
    scope.seenCount = 0;
}

} // namespace

void RemoveShellRegistrations(const Scope& where)
{
    ShellScope scope;
    BeginScope(scope, where, true);
    PathBuffer classes;
    if (ScopeKey(where, L"Software\\Classes", classes))
        OpenClassRoots(scope, classes);
    RemoveScopeRegistrations(scope);
}

void RemoveClassHiveShellRegistrations(const Scope& user, const wchar_t* classesName)
{
    ShellScope scope;
    BeginScope(scope, user, false);
    OpenClassRoots(scope, classesName);
    RemoveScopeRegistrations(scope);
}
