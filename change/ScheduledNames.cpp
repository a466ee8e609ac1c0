// The names this run has scheduled for deletion at restart.
#include "ScheduledNames.h"

#include "ChangePart.h"

#include <wchar.h>

void KeepScheduledName(const wchar_t* path)
{
    FoldedSetAdd(RunChanges().scheduledNames, path, wcslen(path));
}

bool HasScheduledName(const wchar_t* path)
{
    return FoldedSetHas(RunChanges().scheduledNames, path, wcslen(path));
}
