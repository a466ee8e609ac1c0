// The scope a step cleans, made once per sweep.
#include "Scope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

namespace {

Scope MakeScope(HKEY root, const wchar_t* sid, ProfileReads* reads)
{
    Scope scope;
    scope.root = root;
    scope.sid = (sid != nullptr && sid[0] != L'\0') ? sid : nullptr;
    scope.label = RegRootLabel(root);
    scope.shownSid = scope.sid != nullptr ? scope.sid : L"-";
    scope.softwareFits = ScopeKey(scope, L"Software", scope.software);
    // A user's Software is shared by both views: the 32-bit view of HKEY_USERS\<sid>\Software
    // is the same key, so one visit covers it. The machine's Software is redirected: its 32-bit
    // view is Software\WOW6432Node, a key of its own.
    scope.softwareViews = !scope.softwareFits ? 0 : root == HKEY_USERS ? 1 : ARRAYSIZE(RegViews);
    // The purge passes (the scope's uninstallers, its product, settings and add-in keys, the
    // add-in's COM registration and Outlook records) walk both views of every scope, a user's
    // too, where the second finds what the first left: each pass logs its start once per view,
    // and a user's log shows both.
    scope.purgeViews = ARRAYSIZE(RegViews);
    scope.reads = reads;
    return scope;
}

} // namespace

Scope MachineScope()
{
    return MakeScope(HKEY_LOCAL_MACHINE, nullptr, nullptr);
}

Scope UserScope(const wchar_t* sid, ProfileReads* reads)
{
    return MakeScope(HKEY_USERS, sid, reads);
}

bool ScopeKey(const Scope& scope, const wchar_t* relativePath, PathBuffer& out)
{
    if (ScopeKeyPath(out, scope.sid, relativePath))
        return true;
    out[0] = L'\0';
    return false;
}
