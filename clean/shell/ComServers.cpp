// COM servers of the product: the classes whose server file or program is the product's, and
// the shell extension handlers and approved-list values that name them.
#include "ComRegistration.h"
#include "../ground/ListedKeys.h"
#include "../ground/RegistryValues.h"
#include "ShellScope.h"

#include "../../change/RegistryChanges.h"
#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

// The class lists of a class root: the view's own, and the 32-bit list that a 64-bit view
// shows below it.
const wchar_t* const ClassListPaths[2] = {L"CLSID", L"Wow6432Node\\CLSID"};

// Where the shell looks for handlers of every file, folder and drive; an extension's own
// handlers are looked for below the extension.
const wchar_t* const HandlerOwners[6] = {
    L"*", L"AllFilesystemObjects", L"Directory", L"Directory\\Background", L"Drive", L"Folder",
};
const wchar_t* const HandlerLists[2] = {L"shellex\\ContextMenuHandlers", L"shellex\\PropertySheetHandlers"};

const wchar_t ApprovedKey[] = L"Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

bool ListHolds(const NameList& list, const wchar_t* name)
{
    for (DWORD i = 0; i < list.count; i++) {
        if (StrCmpIW(list.names[i], name) == 0)
            return true;
    }
    return false;
}

// A class of the machine's, in any of its class lists, wholly the product's: a user's handlers
// may name the machine's classes.
bool MachineClassIsProducts(const ShellScope& scope, const wchar_t* classId)
{
    bool products = false;
    for (REGSAM view : RegViews) {
        HKEY classes;
        // The class root as the machine's scope opens it; the lists in it as themselves.
        if (products || !OpenClassRootKey(HKEY_LOCAL_MACHINE, L"Software\\Classes", view, classes))
            continue;
        for (const wchar_t* listPath : ClassListPaths) {
            HKEY list;
            if (products || !RegOpenPlain(classes, listPath, KEY_READ | view, list))
                continue;
            products = IsProductsClass(classes, list, classId, view, scope.machine);
            RegCloseKey(list);
        }
        RegCloseKey(classes);
    }
    return products;
}

bool NamesProductsClass(const ShellScope& scope, const wchar_t* classId)
{
    if (!IsClassId(classId))
        return false;
    for (DWORD i = 0; i < scope.classCount; i++) {
        if (ListHolds(scope.classes[i].classIds, classId))
            return true;
    }
    return scope.user && MachineClassIsProducts(scope, classId);
}

bool AnyProductsClass(const ShellScope& scope)
{
    for (DWORD i = 0; i < scope.classCount; i++) {
        if (scope.classes[i].classIds.count > 0)
            return true;
    }
    return false;
}

// One handler list being read: the handlers found so far that name a product class.
struct HandlerReading {
    const ShellScope& scope;
    HKEY list;
    REGSAM view;
    NameList found;
};

bool NoteProductHandler(const wchar_t* name, void* context)
{
    HandlerReading& reading = *static_cast<HandlerReading*>(context);
    HKEY handler;
    PathBuffer classId;
    bool named = false;
    if (RegOpenSubkeyOf(reading.list, name, KEY_QUERY_VALUE | reading.view, handler)) {
        named = RegReadText(handler, nullptr, classId, false) && IsClassId(classId);
        RegCloseKey(handler);
    }
    if (named ? NamesProductsClass(reading.scope, classId) : NamesProductsClass(reading.scope, name))
        AddName(reading.found, name);
    return true;
}

// The handlers of one list below owner (a name of the class root): a handler names its class by
// its default value, or by its own name when that is a class ID.
void RemoveHandlers(const ShellScope& scope, const ClassRoot& root, const wchar_t* owner, const wchar_t* handlerList)
{
    PathBuffer path;
    PathBuffer shownPath;
    HKEY list;
    if (!RegJoinPath(path, owner, handlerList) || !RegJoinPath(shownPath, root.path, path) ||
        !RegOpenAsItself(root.key, path, KEY_READ | root.view, list))
        return;
    HandlerReading reading = {scope, list, root.view, {}};
    RegEnumSubkeys(list, NoteProductHandler, &reading);
    NameList& found = reading.found;
    for (DWORD i = 0; i < found.count; i++)
        RemoveListedKey(list, found.names[i], root.view, scope.where->label, shownPath);
    FreeNames(found);
    RegCloseKey(list);
}

// The approved list of a scope being read: its values that name a product class.
struct ApprovedReading {
    const ShellScope& scope;
    NameList found;
};

bool NoteApprovedProductClass(const wchar_t* name, void* context)
{
    ApprovedReading& reading = *static_cast<ApprovedReading*>(context);
    if (NamesProductsClass(reading.scope, name))
        AddName(reading.found, name);
    return true;
}

void RemoveApprovedValues(const ShellScope& scope)
{
    PathBuffer path;
    if (!SoftwarePath(scope, ApprovedKey, path))
        return;
    for (DWORD v = 0; v < scope.where->softwareViews; v++) {
        HKEY key;
        if (!RegOpenForValues(scope.where->root, path, KEY_QUERY_VALUE | RegViews[v], key))
            continue;
        ApprovedReading reading = {scope, {}};
        RegEnumValueNames(key, NoteApprovedProductClass, &reading);
        for (DWORD i = 0; i < reading.found.count; i++)
            RemoveRegistryValue(key, reading.found.names[i], scope.where->label, path);
        FreeNames(reading.found);
        RegCloseKey(key);
    }
}

// One class list of a root being read for the product's classes, and for the classes whose
// server is the product's that are not wholly its.
struct ClassListReading {
    const ShellScope& scope;
    ClassRoot& root;
    HKEY list;
};

bool NoteProductClass(const wchar_t* classId, void* context)
{
    ClassListReading& reading = *static_cast<ClassListReading*>(context);
    ClassRoot& root = reading.root;
    if (!ClassServerIsProducts(reading.list, classId, root.view, reading.scope.targets))
        return true;
    NameList& found = IsProductsClass(root.key, reading.list, classId, root.view, reading.scope.targets)
                          ? root.classIds
                          : root.keptClassIds;
    if (!ListHolds(found, classId))
        AddName(found, classId);
    return true;
}

} // namespace

void FindProductClasses(ShellScope& scope, ClassRoot& root)
{
    for (const wchar_t* listPath : ClassListPaths) {
        HKEY list;
        if (!RegOpenPlain(root.key, listPath, KEY_READ | root.view, list))
            continue;
        // One list seen through both views, or through both paths, is read once.
        if (FirstVisit(scope, list)) {
            ClassListReading reading = {scope, root, list};
            RegEnumSubkeys(list, NoteProductClass, &reading);
        }
        RegCloseKey(list);
    }
}

void RemoveShellExtensions(const ShellScope& scope)
{
    // Handlers name classes of the scope's own roots, and a user's those of the machine too:
    // the machine's handlers need not be looked at when it has no product class.
    if (!scope.user && !AnyProductsClass(scope))
        return;
    for (DWORD i = 0; i < scope.classCount; i++) {
        const ClassRoot& root = scope.classes[i];
        for (const wchar_t* handlerList : HandlerLists) {
            for (const wchar_t* owner : HandlerOwners)
                RemoveHandlers(scope, root, owner, handlerList);
            for (DWORD j = 0; j < root.extensions.count; j++)
                RemoveHandlers(scope, root, root.extensions.names[j], handlerList);
        }
    }
    RemoveApprovedValues(scope);
}

void RemoveProductClasses(const ShellScope& scope)
{
    for (DWORD i = 0; i < scope.classCount; i++) {
        const ClassRoot& root = scope.classes[i];
        if (root.classIds.count == 0 && root.keptClassIds.count == 0)
            continue;
        for (const wchar_t* listPath : ClassListPaths) {
            PathBuffer path;
            HKEY list;
            if (!RegJoinPath(path, root.path, listPath) ||
                !RegOpenPlain(root.key, listPath, KEY_READ | root.view, list))
                continue;
            // Each class is examined again where it is taken: the other list may hold another
            // program's class under the same ID.
            for (DWORD j = 0; j < root.classIds.count; j++) {
                if (IsProductsClass(root.key, list, root.classIds.names[j], root.view, scope.targets))
                    RemoveListedKey(list, root.classIds.names[j], root.view, scope.where->label, path);
            }
            // Another program's class served by the product's file keeps its server, which it
            // cannot do without: it stays, to be repaired.
            for (DWORD j = 0; j < root.keptClassIds.count; j++) {
                const wchar_t* classId = root.keptClassIds.names[j];
                if (ClassServerIsProducts(list, classId, root.view, scope.targets) &&
                    !IsProductsClass(root.key, list, classId, root.view, scope.targets))
                    NoteKeptKey(list, classId, root.view, {scope.where->label, path, classId});
            }
            RegCloseKey(list);
        }
    }
}
