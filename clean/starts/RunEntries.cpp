// Run entries: the values of the Run and RunOnce keys whose command starts the product's
// program, in a user's scope and in both views of the machine's.
#include "RunEntries.h"
#include "../ground/ProductTargets.h"
#include "../ground/RegistryValues.h"
#include "../ground/Scope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

namespace {

const wchar_t* const RunKeys[2] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
};

// One Run key being read for the product's values.
struct RunKeyReading {
    HKEY key;
    const ProductTargets& targets;
    NameList found;
};

// A value whose command is the product's; one whose text does not fit its buffer is passed over.
bool NoteProductValue(const RegValue& value, void* context)
{
    RunKeyReading& reading = *static_cast<RunKeyReading*>(context);
    PathBuffer command;
    return !RegReadText(reading.key, value.name, command, true) || !CommandStartsProducts(reading.targets, command) ||
           AddName(reading.found, value.name);
}

void RemoveRunValues(const Scope& scope, const wchar_t* runKey, REGSAM view, const ProductTargets& targets)
{
    PathBuffer path;
    if (!ScopeKey(scope, runKey, path))
        return;
    // Reached as itself: a Run key replaced by a link, or one behind a link, is not the
    // scope's, and nothing in what the link names is touched. Without the right to set values
    // (a user's run on the machine's keys) the key is still read, so that each deletion it
    // cannot make is reported.
    HKEY key;
    if (!RegOpenForValues(scope.root, path, KEY_QUERY_VALUE | view, key))
        return;
    // Collected before the first deletion, which moves the later values to other indexes.
    RunKeyReading reading = {key, targets, {}};
    RegEnumValues(key, false, NoteProductValue, &reading);
    for (DWORD i = 0; i < reading.found.count; i++)
        RemoveRegistryValue(key, reading.found.names[i], scope.label, path);
    FreeNames(reading.found);
    RegCloseKey(key);
}

} // namespace

void RemoveRunEntries(const Scope& scope)
{
    ProductTargets targets;
    ReadProductTargets(scope, targets);
    for (DWORD v = 0; v < scope.softwareViews; v++) {
        for (const wchar_t* runKey : RunKeys)
            RemoveRunValues(scope, runKey, RegViews[v], targets);
    }
}
