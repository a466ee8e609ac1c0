// Whole keys: whether a ProgID, URL protocol, application or COM class of a class root is wholly
// the product's, and so goes with everything it holds. The product's own names are its whatever
// else they hold; any other key only when each of its verbs starts the product and everything
// else in it that names a file, program, class or ProgID names the product's, or a class or
// ProgID that is itself wholly the product's. Display strings and flags name nothing.
#include "../Catalogue.h"
#include "ComRegistration.h"
#include "../ground/ProductTargets.h"
#include "ShellScope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

const wchar_t* const ClassListPaths[2] = {L"CLSID", L"Wow6432Node\\CLSID"};
// What a class key names besides its servers: classes it defers to, and its ProgIDs.
const wchar_t* const ClassReferences[2] = {L"TreatAs", L"AutoConvertTo"};
const wchar_t* const ProgIdReferences[2] = {L"ProgID", L"VersionIndependentProgID"};

// How far one key's references are followed (a ProgID's class, that class's ProgID, ...): a
// reference further away is not taken for the product's.
const int MaxDepth = 4;

// One decision: the class root that names are looked up in, its view, the terms, and the key
// being decided, which a reference back to it names.
struct Owner {
    HKEY classRoot;
    REGSAM view;
    const ProductTargets& targets;
    const wchar_t* origin;
};

bool NamedClassIsProducts(const Owner& owner, const wchar_t* classId, int depth);
bool NamedProgIdIsProducts(const Owner& owner, const wchar_t* name, int depth);

// True when parent\path has a default value that is not empty: what the key names. out holds its
// text, or is empty where it cannot be read as text (too long, another type), which names
// nothing of the product's.
bool ReadDefault(HKEY parent, const wchar_t* path, REGSAM view, PathBuffer& out)
{
    HKEY key;
    out[0] = L'\0';
    if (!RegOpenAsItself(parent, path, KEY_QUERY_VALUE | view, key))
        return false;
    DWORD size = 0;
    bool named = RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
                 size > sizeof(wchar_t);
    if (named && !RegReadText(key, nullptr, out, true))
        out[0] = L'\0';
    RegCloseKey(key);
    return named;
}

// An icon ("file" or "file,index") whose file is the product's.
bool IconIsProducts(const ProductTargets& targets, PathBuffer& icon)
{
    wchar_t* comma = wcsrchr(icon, L',');
    if (comma != nullptr) {
        const wchar_t* digits = comma[1] == L'-' ? comma + 2 : comma + 1;
        if (digits[0] != L'\0' && digits[wcsspn(digits, L"0123456789")] == L'\0')
            *comma = L'\0';
    }
    return PathIsProducts(targets, icon);
}

// The shell extension handlers of an open key: each class they name is wholly the product's.
// A list may name its class itself (shellex\{interface}), each handler by its default value or
// by its own name.
bool HandlersAreProducts(const Owner& owner, HKEY key, int depth)
{
    HKEY shellex;
    if (!RegOpenAsItself(key, L"shellex", KEY_READ | owner.view, shellex))
        return true;
    NameList lists = {};
    RegReadSubkeyNames(shellex, lists);
    bool products = true;
    for (DWORD i = 0; products && i < lists.count; i++) {
        HKEY list;
        if (!RegOpenSubkeyOf(shellex, lists.names[i], KEY_READ | owner.view, list))
            continue;
        PathBuffer classId;
        if (RegReadText(list, nullptr, classId, false) && IsClassId(classId))
            products = NamedClassIsProducts(owner, classId, depth);
        NameList handlers = {};
        RegReadSubkeyNames(list, handlers);
        for (DWORD j = 0; products && j < handlers.count; j++) {
            const wchar_t* name = handlers.names[j];
            if (ReadDefault(list, name, owner.view, classId) && IsClassId(classId))
                products = NamedClassIsProducts(owner, classId, depth);
            else if (IsClassId(name))
                products = NamedClassIsProducts(owner, name, depth);
        }
        FreeNames(handlers);
        RegCloseKey(list);
    }
    FreeNames(lists);
    RegCloseKey(shellex);
    return products;
}

// What an open class key names besides its servers: its icon, the classes it defers to, its
// ProgIDs and its handlers.
bool ClassReferencesAreProducts(const Owner& owner, HKEY key, int depth)
{
    PathBuffer text;
    if (ReadDefault(key, L"DefaultIcon", owner.view, text) && !IconIsProducts(owner.targets, text))
        return false;
    for (const wchar_t* name : ClassReferences) {
        if (ReadDefault(key, name, owner.view, text) && !NamedClassIsProducts(owner, text, depth))
            return false;
    }
    for (const wchar_t* name : ProgIdReferences) {
        if (ReadDefault(key, name, owner.view, text) && !NamedProgIdIsProducts(owner, text, depth))
            return false;
    }
    return HandlersAreProducts(owner, key, depth);
}

bool ClassInListIsProducts(const Owner& owner, HKEY list, const wchar_t* classId, int depth)
{
    HKEY key;
    if (!RegOpenSubkeyOf(list, classId, KEY_READ | owner.view, key))
        return false;
    DWORD products = 0;
    DWORD others = 0;
    CountClassServers(key, owner.view, owner.targets, products, others);
    bool whole = products > 0 && others == 0 && ClassReferencesAreProducts(owner, key, depth);
    RegCloseKey(key);
    return whole;
}

// A class that a key names, found in the root's class lists: the view's own first.
bool NamedClassIsProducts(const Owner& owner, const wchar_t* classId, int depth)
{
    if (!IsClassId(classId))
        return false;
    if (owner.origin != nullptr && StrCmpIW(classId, owner.origin) == 0)
        return true;
    if (depth >= MaxDepth)
        return false;
    for (const wchar_t* listPath : ClassListPaths) {
        HKEY list;
        if (!RegOpenPlain(owner.classRoot, listPath, KEY_READ | owner.view, list))
            continue;
        HKEY probe;
        bool there = RegOpenSubkeyOf(list, classId, KEY_QUERY_VALUE | owner.view, probe);
        if (there)
            RegCloseKey(probe);
        bool products = there && ClassInListIsProducts(owner, list, classId, depth + 1);
        RegCloseKey(list);
        if (there)
            return products;
    }
    return false;
}

// The verbs of a shell key that have no command: each that hands its work to a class
// (ExplorerCommandHandler, DropTarget) names that class.
bool CommandlessVerbsAreProducts(const Owner& owner, HKEY shell, int depth)
{
    NameList verbs = {};
    RegReadSubkeyNames(shell, verbs);
    bool products = true;
    for (DWORD i = 0; products && i < verbs.count; i++) {
        HKEY verb;
        if (!RegOpenSubkeyOf(shell, verbs.names[i], KEY_READ | owner.view, verb))
            continue;
        HKEY command;
        PathBuffer classId;
        if (RegOpenAsItself(verb, L"command", KEY_QUERY_VALUE | owner.view, command)) {
            RegCloseKey(command);
        } else {
            if (RegQueryValueExW(verb, L"ExplorerCommandHandler", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
                products = RegReadText(verb, L"ExplorerCommandHandler", classId, false) &&
                           NamedClassIsProducts(owner, classId, depth);
            HKEY dropTarget;
            if (products && RegOpenAsItself(verb, L"DropTarget", KEY_QUERY_VALUE | owner.view, dropTarget)) {
                products = RegReadText(dropTarget, L"CLSID", classId, false) &&
                           NamedClassIsProducts(owner, classId, depth);
                RegCloseKey(dropTarget);
            }
        }
        RegCloseKey(verb);
    }
    FreeNames(verbs);
    return products;
}

// The verbs of an open ProgID key that start the product, with everything their commands defer
// to: how many verbs have a command, and whether each of them is the product's.
bool VerbsAreProducts(const Owner& owner, HKEY key, bool verbRequired, int depth)
{
    HKEY shell;
    if (!RegOpenAsItself(key, L"shell", KEY_READ | owner.view, shell))
        return !verbRequired;
    Verbs verbs = {};
    ReadProductVerbs(shell, owner.view, owner.targets, verbs);
    bool products = (verbs.commands > 0 || !verbRequired) && verbs.products.count == verbs.commands &&
                    CommandlessVerbsAreProducts(owner, shell, depth);
    for (DWORD i = 0; products && i < verbs.products.count; i++) {
        PathBuffer commandPath;
        HKEY command;
        PathBuffer classId;
        if (!FormatText(commandPath, L"%s\\command", verbs.products.names[i]) ||
            !RegOpenAsItself(shell, commandPath, KEY_QUERY_VALUE | owner.view, command))
            continue;
        if (RegReadText(command, L"DelegateExecute", classId, false))
            products = NamedClassIsProducts(owner, classId, depth);
        RegCloseKey(command);
    }
    FreeNames(verbs.products);
    RegCloseKey(shell);
    return products;
}

// A ProgID, protocol or application key (path below the class root) whose verbs and references
// are all the product's.
bool ProgIdContentIsProducts(const Owner& owner, const wchar_t* path, bool verbRequired, int depth)
{
    HKEY key;
    if (!RegOpenAsItself(owner.classRoot, path, KEY_READ | owner.view, key))
        return false;
    PathBuffer text;
    bool products = VerbsAreProducts(owner, key, verbRequired, depth) &&
                    (!ReadDefault(key, L"DefaultIcon", owner.view, text) || IconIsProducts(owner.targets, text)) &&
                    (!ReadDefault(key, L"CLSID", owner.view, text) || NamedClassIsProducts(owner, text, depth)) &&
                    (!ReadDefault(key, L"CurVer", owner.view, text) || NamedProgIdIsProducts(owner, text, depth)) &&
                    HandlersAreProducts(owner, key, depth);
    RegCloseKey(key);
    return products;
}

// A ProgID that a key names: the product's own by name, or wholly the product's by content. One
// that is not there is not the product's.
bool NamedProgIdIsProducts(const Owner& owner, const wchar_t* name, int depth)
{
    if (!IsSingleKeyName(name) || IsWindowsClassName(name))
        return false;
    if (owner.origin != nullptr && StrCmpIW(name, owner.origin) == 0)
        return true;
    if (IsCatalogued(ProductClassNames, ARRAYSIZE(ProductClassNames), name))
        return true;
    return depth < MaxDepth && ProgIdContentIsProducts(owner, name, false, depth + 1);
}

} // namespace

ProductHolding ProgIdHolding(HKEY classRoot, const wchar_t* name, bool application, REGSAM view,
                             const ProductTargets& targets)
{
    PathBuffer path;
    HKEY key;
    if (!IsSingleKeyName(name) || !(application ? FormatText(path, L"Applications\\%s", name) : TextCopy(path, name)) ||
        !RegOpenAsItself(classRoot, path, KEY_READ | view, key))
        return ProductHolding::Nothing;
    HKEY shell;
    Verbs verbs = {};
    if (RegOpenAsItself(key, L"shell", KEY_READ | view, shell)) {
        ReadProductVerbs(shell, view, targets, verbs);
        RegCloseKey(shell);
    }
    RegCloseKey(key);
    bool allVerbs = verbs.commands > 0 && verbs.products.count == verbs.commands;
    bool anyVerb = verbs.products.count > 0;
    FreeNames(verbs.products);
    if (!anyVerb)
        return ProductHolding::Nothing;
    bool byName = application ? IsCatalogued(ProcessNames, ARRAYSIZE(ProcessNames), name)
                              : IsCatalogued(ProductClassNames, ARRAYSIZE(ProductClassNames), name);
    Owner owner = {classRoot, view, targets, name};
    if (allVerbs && !IsWindowsClassName(name) && (byName || ProgIdContentIsProducts(owner, path, true, 0)))
        return ProductHolding::Whole;
    return ProductHolding::Verbs;
}

bool IsProductsClass(HKEY classRoot, HKEY list, const wchar_t* classId, REGSAM view, const ProductTargets& targets)
{
    Owner owner = {classRoot, view, targets, classId};
    return IsClassId(classId) && ClassInListIsProducts(owner, list, classId, 0);
}
