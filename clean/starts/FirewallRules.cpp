// Firewall rules: every rule whose program is the product's, read and removed through the
// firewall's own interface. The interface removes by name, and names need not be unique: a
// name goes only when every rule of that name is the product's.
#include "FirewallRules.h"
#include "../ground/ProductTargets.h"
#include "../ground/Scope.h"

#include "../../change/ServiceChanges.h"
#include "../../common/ComThread.h"
#include "../../log/log.h"

#include <initguid.h>
#include <netfw.h>
#include <shlwapi.h>

namespace {

// The names of the collection's rules: those whose program is the product's (once per rule,
// so a name may come more than once) and those of every other rule.
struct RuleNames {
    NameList products;
    NameList others;
};

void ReadRuleNames(INetFwRules* rules, const ProductTargets& targets, RuleNames& out)
{
    IUnknown* unknown = nullptr;
    if (FAILED(rules->get__NewEnum(&unknown)) || unknown == nullptr)
        return;
    IEnumVARIANT* items = nullptr;
    HRESULT queried = unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&items));
    unknown->Release();
    if (FAILED(queried))
        return;
    for (;;) {
        VARIANT item;
        VariantInit(&item);
        ULONG fetched = 0;
        if (items->Next(1, &item, &fetched) != S_OK || fetched != 1)
            break;
        INetFwRule* rule = nullptr;
        if (item.vt == VT_DISPATCH && item.pdispVal != nullptr &&
            SUCCEEDED(item.pdispVal->QueryInterface(IID_INetFwRule, reinterpret_cast<void**>(&rule)))) {
            BSTR name = nullptr;
            BSTR program = nullptr;
            // A rule whose name cannot be kept is passed over; one whose program cannot be read
            // is another program's.
            if (SUCCEEDED(rule->get_Name(&name)) && name != nullptr) {
                bool products = SUCCEEDED(rule->get_ApplicationName(&program)) && program != nullptr &&
                                PathIsProducts(targets, program);
                AddName(products ? out.products : out.others, name);
            }
            SysFreeString(name);
            SysFreeString(program);
            rule->Release();
        }
        VariantClear(&item);
    }
    items->Release();
}

DWORD CountOf(const NameList& list, const wchar_t* name)
{
    DWORD count = 0;
    for (DWORD i = 0; i < list.count; i++) {
        if (StrCmpIW(list.names[i], name) == 0)
            count++;
    }
    return count;
}

// True while the collection still holds a rule of that name.
bool RuleNamed(INetFwRules* rules, const wchar_t* name)
{
    BSTR ruleName = SysAllocString(name);
    INetFwRule* rule = nullptr;
    bool found = ruleName != nullptr && SUCCEEDED(rules->Item(ruleName, &rule)) && rule != nullptr;
    if (rule != nullptr)
        rule->Release();
    SysFreeString(ruleName);
    return found;
}

void LogRemovalFailed(const wchar_t* name, int error)
{
    LogChange(L"Failed to remove firewall rule [%s] [%d]", name, error);
}

// The system error code that a result carries (5 for access denied), or the result itself.
int ErrorCode(HRESULT result)
{
    return static_cast<int>(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : result);
}

// One name of the product's rules: removed once for each rule of it, until none is left.
void RemoveRulesNamed(INetFwRules* rules, const wchar_t* name, DWORD count)
{
    LogChange(L"Removing firewall rule [%s]", name);
    for (DWORD i = 0; i < count; i++) {
        HRESULT result = S_OK;
        Change change = RemoveFirewallRule(rules, name, result);
        if (change == Change::Failed)
            LogRemovalFailed(name, ErrorCode(result));
        if (change != Change::Made || !RuleNamed(rules, name))
            return;
    }
}

} // namespace

void RemoveFirewallRules()
{
    // The firewall's objects need COM on the worker thread for the step.
    bool com = BeginComWork();
    INetFwPolicy2* policy = nullptr;
    INetFwRules* rules = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                   reinterpret_cast<void**>(&policy))) &&
        SUCCEEDED(policy->get_Rules(&rules)) && rules != nullptr) {
        ProductTargets targets;
        ReadProductTargets(MachineScope(), targets);
        RuleNames names = {};
        ReadRuleNames(rules, targets, names);
        for (DWORD i = 0; i < names.products.count; i++) {
            const wchar_t* name = names.products.names[i];
            // Each name once, where it first comes.
            bool seen = false;
            for (DWORD j = 0; j < i && !seen; j++)
                seen = StrCmpIW(names.products.names[j], name) == 0;
            if (seen)
                continue;
            if (CountOf(names.others, name) > 0) {
                // Removing the name would take another program's rule with it.
                LogRemovalFailed(name, static_cast<int>(ERROR_ACCESS_DENIED));
                NoteFirewallRuleKept(name);
                continue;
            }
            RemoveRulesNamed(rules, name, CountOf(names.products, name));
        }
        FreeNames(names.products);
        FreeNames(names.others);
    }
    if (rules != nullptr)
        rules->Release();
    if (policy != nullptr)
        policy->Release();
    EndComWork(com);
}
