// Class servers: whether the servers of a COM class are the product's, a .NET class's by the
// file its runtime loads.
#include "../Catalogue.h"
#include "ComRegistration.h"
#include "../ground/ProductTargets.h"
#include "ShellScope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

// A class's servers; the local ones hold a command line, the others a file.
const wchar_t* const ServerKeys[5] = {L"InprocServer32", L"InprocHandler32", L"InprocServer", L"LocalServer32",
                                      L"LocalServer"};
const DWORD FirstLocalServer = 3;

// An assembly ("Name, Version=..., ...") of the product: its name is one of its programs' or the
// add-in's.
bool AssemblyIsProducts(const wchar_t* assembly)
{
    PathBuffer name;
    size_t length = wcscspn(assembly, L",");
    if (length == 0 || length >= MAX_PATH - 4)
        return false;
    wmemcpy(name, assembly, length);
    name[length] = L'\0';
    if (StrCmpIW(name, AddInProgId) == 0)
        return true;
    return TextAppend(name, L".exe") && IsCatalogued(ProcessNames, ARRAYSIZE(ProcessNames), name);
}

// A .NET class's in-process server: the runtime's mscoree.dll, with the class's own file in
// CodeBase (a file URL) or named by Assembly.
bool ManagedServerIsProducts(HKEY server, const wchar_t* file, const ProductTargets& targets)
{
    if (StrCmpIW(PathFindFileNameW(file), L"mscoree.dll") != 0)
        return false;
    PathBuffer text;
    PathBuffer path;
    DWORD pathCount = ARRAYSIZE(path);
    if (RegReadText(server, L"CodeBase", text, false) && StrCmpNIW(text, L"file:", 5) == 0 &&
        PathCreateFromUrlW(text, path, &pathCount, 0) == S_OK && PathIsProducts(targets, path))
        return true;
    return RegReadText(server, L"Assembly", text, false) && AssemblyIsProducts(text);
}

} // namespace

bool IsCatalogued(const wchar_t* const* names, DWORD count, const wchar_t* name)
{
    for (DWORD i = 0; i < count; i++) {
        if (StrCmpIW(names[i], name) == 0)
            return true;
    }
    return false;
}

namespace {

// The counts a walk of a class key's subkeys adds to, server by server.
struct ServerCount {
    HKEY classKey;
    REGSAM view;
    const ProductTargets& targets;
    DWORD& products;
    DWORD& others;
};

// A class's subkeys are walked rather than each kind of server opened: a class holds a few
// subkeys, where five opens would be asked of every class of every class list.
bool CountIfServer(const wchar_t* name, void* context)
{
    ServerCount& count = *static_cast<ServerCount*>(context);
    DWORD i = 0;
    while (i < ARRAYSIZE(ServerKeys) && StrCmpIW(name, ServerKeys[i]) != 0)
        i++;
    HKEY server;
    if (i == ARRAYSIZE(ServerKeys) || !RegOpenSubkeyOf(count.classKey, name, KEY_QUERY_VALUE | count.view, server))
        return true;
    // A server that cannot be read as text (too long, another type) is another program's.
    DWORD size = 0;
    PathBuffer text;
    if (RegQueryValueExW(server, nullptr, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        size > sizeof(wchar_t)) {
        bool product = RegReadText(server, nullptr, text, true);
        if (product && i >= FirstLocalServer)
            product = CommandStartsProducts(count.targets, text);
        else if (product)
            product = PathIsProducts(count.targets, text) ||
                      (i == 0 && ManagedServerIsProducts(server, text, count.targets));
        (product ? count.products : count.others)++;
    }
    RegCloseKey(server);
    return true;
}

} // namespace

void CountClassServers(HKEY classKey, REGSAM view, const ProductTargets& targets, DWORD& products, DWORD& others)
{
    ServerCount count = {classKey, view, targets, products, others};
    RegEnumSubkeys(classKey, CountIfServer, &count);
}

bool ClassServerIsProducts(HKEY list, const wchar_t* classId, REGSAM view, const ProductTargets& targets)
{
    HKEY key;
    if (!IsClassId(classId) || !RegOpenSubkeyOf(list, classId, KEY_READ | view, key))
        return false;
    DWORD products = 0;
    DWORD others = 0;
    CountClassServers(key, view, targets, products, others);
    RegCloseKey(key);
    return products > 0;
}
