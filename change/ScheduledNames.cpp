// The names this run has scheduled for deletion at restart.
#include "ScheduledNames.h"

#include "../common/FoldedSet.h"

#include <wchar.h>

namespace {

FoldedSet ScheduledNames = {};

} // namespace

void KeepScheduledName(const wchar_t* path)
{
    FoldedSetAdd(ScheduledNames, path, wcslen(path));
}

bool HasScheduledName(const wchar_t* path)
{
    return FoldedSetHas(ScheduledNames, path, wcslen(path));
}

void ClearScheduledNames()
{
    FoldedSetClear(ScheduledNames);
}
