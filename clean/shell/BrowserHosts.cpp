// Browser hosts: the native-messaging hosts through which the product's browser extension
// reaches its program, each a key whose default value is the host's manifest file.
#include "../ground/ProductTargets.h"
#include "../ground/ListedKeys.h"
#include "ShellScope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

namespace {

const wchar_t* const HostLists[3] = {
    L"Google\\Chrome\\NativeMessagingHosts",
    L"Microsoft\\Edge\\NativeMessagingHosts",
    L"Mozilla\\NativeMessagingHosts",
};

// One host list being read: the hosts found so far whose manifest is the product's.
struct HostReading {
    const ShellScope& scope;
    HKEY list;
    REGSAM view;
    NameList found;
};

bool NoteProductHost(const wchar_t* name, void* context)
{
    HostReading& reading = *static_cast<HostReading*>(context);
    HKEY host;
    if (!RegOpenSubkeyOf(reading.list, name, KEY_QUERY_VALUE | reading.view, host))
        return true;
    PathBuffer manifest;
    if (RegReadText(host, nullptr, manifest, true) && PathIsProducts(reading.scope.targets, manifest))
        AddName(reading.found, name);
    RegCloseKey(host);
    return true;
}

// The hosts of one list whose manifest lies in the product's folders.
void RemoveListedHosts(const ShellScope& scope, HKEY list, REGSAM view, const wchar_t* path)
{
    HostReading reading = {scope, list, view, {}};
    RegEnumSubkeys(list, NoteProductHost, &reading);
    NameList& found = reading.found;
    for (DWORD i = 0; i < found.count; i++)
        RemoveListedKey(list, found.names[i], view, scope.where->label, path);
    FreeNames(found);
}

} // namespace

void RemoveBrowserHosts(const ShellScope& scope)
{
    for (DWORD v = 0; v < scope.where->softwareViews; v++) {
        for (const wchar_t* hostList : HostLists) {
            PathBuffer path;
            HKEY list;
            if (!SoftwarePath(scope, hostList, path) ||
                !RegOpenAsItself(scope.where->root, path, KEY_READ | RegViews[v], list))
                continue;
            RemoveListedHosts(scope, list, RegViews[v], path);
            RegCloseKey(list);
        }
    }
}
