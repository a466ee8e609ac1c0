// The change layer's part of the run under way.
#include "ChangePart.h"
#include "TriedItems.h"

namespace {

ChangePart* Handed = nullptr;

} // namespace

void SetUpChangePart(ChangePart& part, bool preview, bool reportExitCode, bool listsItems)
{
    ZeroMemory(&part, sizeof(part));
    part.preview = preview;
    part.reportExitCode = reportExitCode;
    part.listsItems = listsItems;
    part.tried.lastUninstaller = NoItem;
    part.lastNoted = NoItem;
}

void UseChangePart(ChangePart* part)
{
    Handed = part;
}

void FreeChangePart(ChangePart& part)
{
    for (DWORD i = 0; i < part.tried.count; i++)
        HeapFree(GetProcessHeap(), 0, part.tried.items[i].texts);
    if (part.tried.items != nullptr)
        HeapFree(GetProcessHeap(), 0, part.tried.items);
    part.tried.items = nullptr;
    part.tried.count = 0;
    part.tried.capacity = 0;
    FoldedSetClear(part.previewRecord);
    FoldedSetClear(part.triedIndex);
    FoldedSetClear(part.scheduledNames);
}

ChangePart& RunChanges()
{
    return *Handed;
}
