// COM registration of the Outlook add-in: the ProgID key, and the class keys of the class ID
// that the ProgID names, each only when it names the add-in's ProgID back.
#include "ComRegistration.h"
#include "../Catalogue.h"
#include "../ground/ListedKeys.h"
#include "../ground/Scope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>

namespace {

// The class lists of a class root: the view's own, and the 32-bit list that a 64-bit view
// shows below it.
const wchar_t* const ClassListPaths[2] = {L"CLSID", L"Wow6432Node\\CLSID"};

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

} // namespace

// Only a class ID in its registry form is taken as a key name, so that a ProgID's text can
// never name a key elsewhere.
bool IsClassId(const wchar_t* text)
{
    const wchar_t shape[] = L"{hhhhhhhh-hhhh-hhhh-hhhh-hhhhhhhhhhhh}";
    for (size_t i = 0; i < ARRAYSIZE(shape) - 1; i++) {
        if (shape[i] == L'h' ? !IsHexDigit(text[i]) : text[i] != shape[i])
            return false;
    }
    return text[ARRAYSIZE(shape) - 1] == L'\0';
}

namespace {

// The default value (REG_SZ) of parent\name\subkey, each key opened as itself: a link in the
// place of either leads nowhere.
bool ReadClassText(HKEY parent, const wchar_t* name, const wchar_t* subkey, REGSAM view, PathBuffer& out)
{
    HKEY key;
    if (!RegOpenAsItself(parent, name, KEY_READ | view, key))
        return false;
    HKEY inner;
    bool read = false;
    if (RegOpenAsItself(key, subkey, KEY_READ | view, inner)) {
        read = RegReadText(inner, nullptr, out, false);
        RegCloseKey(inner);
    }
    RegCloseKey(key);
    return read;
}

bool NamesAddIn(HKEY list, const wchar_t* classId, const wchar_t* subkey, REGSAM view)
{
    PathBuffer progId;
    return ReadClassText(list, classId, subkey, view, progId) && StrCmpIW(progId, AddInProgId) == 0;
}

// The class keys of classId in the lists below classesPath that name the add-in.
void PurgeClassKeys(HKEY root, const wchar_t* classesPath, const wchar_t* classId, REGSAM view)
{
    for (const wchar_t* listPath : ClassListPaths) {
        PathBuffer path;
        if (!TextCopy(path, classesPath) || !TextAppend(path, L"\\") || !TextAppend(path, listPath))
            continue;
        HKEY list;
        if (!RegOpenAsItself(root, path, KEY_READ | view, list))
            continue;
        if (NamesAddIn(list, classId, L"ProgID", view) || NamesAddIn(list, classId, L"VersionIndependentProgID", view))
            RemoveListedKey(list, classId, view, RegRootLabel(root), path);
        RegCloseKey(list);
    }
}

// The ProgID's class ID is read before its key goes.
void PurgeClassRoot(HKEY root, const wchar_t* classesPath, REGSAM view)
{
    HKEY classes;
    if (!RegOpenAsItself(root, classesPath, KEY_READ | view, classes))
        return;
    PathBuffer classId;
    bool named = ReadClassText(classes, AddInProgId, L"CLSID", view, classId) && IsClassId(classId);
    HKEY progId;
    if (RegOpenAsItself(classes, AddInProgId, KEY_READ | view, progId)) {
        RegCloseKey(progId);
        RemoveListedKey(classes, AddInProgId, view, RegRootLabel(root), classesPath);
    }
    RegCloseKey(classes);
    if (named)
        PurgeClassKeys(root, classesPath, classId, view);
}

void PurgeScopeViews(const Scope& scope, const wchar_t* classesPath)
{
    for (DWORD v = 0; v < scope.purgeViews; v++)
        PurgeClassRoot(scope.root, classesPath, RegViews[v]);
}

} // namespace

void PurgeComRegistration(const Scope& scope)
{
    PathBuffer classesPath;
    if (ScopeKey(scope, L"Software\\Classes", classesPath))
        PurgeScopeViews(scope, classesPath);
}

void PurgeClassHiveComRegistration(const Scope& classHive)
{
    PathBuffer classesPath;
    if (classHive.sid != nullptr && TextCopy(classesPath, classHive.sid))
        PurgeScopeViews(classHive, classesPath);
}
