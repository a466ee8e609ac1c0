// The run's record of what it tried to remove: each item noted once, in the order first
// tried, and found again by name through a hashed index, so that noting an item costs the
// same however many the record holds.
#include "PreviewItems.h"
#include "ScheduledNames.h"
#include "TriedItems.h"

#include "../common/FoldedSet.h"
#include "../common/Registry.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

const wchar_t* DetailText(const TriedItem& item)
{
    return item.texts + wcslen(item.texts) + 1;
}

// The name an item is indexed by: its kind's word, "|", the length of its identity, "|", the
// identity and, for an item with a detail, "|" and the detail. The length keeps an identity
// and a detail apart, and the index compares the whole ignoring case, as the registry does
// a value's name. Null when there was no memory for it.
wchar_t* IndexName(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, size_t& length)
{
    wchar_t identityLength[16];
    wsprintfW(identityLength, L"|%u|", static_cast<unsigned>(wcslen(identity)));
    const wchar_t* parts[] = {kind.reportName, identityLength, identity, detail != nullptr ? L"|" : L"",
                              detail != nullptr ? detail : L""};
    length = 0;
    for (const wchar_t* part : parts)
        length += wcslen(part);
    auto name = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
    if (name == nullptr)
        return nullptr;
    wchar_t* at = name;
    for (const wchar_t* part : parts) {
        size_t partLength = wcslen(part);
        wmemcpy(at, part, partLength);
        at += partLength;
    }
    *at = L'\0';
    return name;
}

DWORD FindTried(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail)
{
    size_t length = 0;
    wchar_t* name = IndexName(kind, identity, detail, length);
    if (name == nullptr)
        return NoItem;
    DWORD index = NoItem;
    if (!FoldedSetFind(RunChanges().triedIndex, name, length, index))
        index = NoItem;
    HeapFree(GetProcessHeap(), 0, name);
    return index;
}

// The item's texts in one heap block; null when there was no memory for them.
wchar_t* CopyTexts(const wchar_t* identity, const wchar_t* detail, const wchar_t* shown, const wchar_t* name)
{
    const wchar_t* parts[] = {identity, detail == nullptr ? L"" : detail, shown, name};
    size_t count = 0;
    for (const wchar_t* part : parts)
        count += wcslen(part) + 1;
    auto texts = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, count * sizeof(wchar_t)));
    if (texts == nullptr)
        return nullptr;
    wchar_t* at = texts;
    for (const wchar_t* part : parts) {
        size_t partCount = wcslen(part) + 1;
        wmemcpy(at, part, partCount);
        at += partCount;
    }
    return texts;
}

// Records an item, or finds it recorded: the index, or NoItem when the heap had no room.
// An item met again through the other registry view is one that both views show.
DWORD RecordTried(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown,
                  const wchar_t* name, int view)
{
    ChangePart& run = RunChanges();
    size_t indexLength = 0;
    wchar_t* indexName = IndexName(kind, identity, detail, indexLength);
    DWORD found = NoItem;
    if (indexName != nullptr && FoldedSetFind(run.triedIndex, indexName, indexLength, found)) {
        HeapFree(GetProcessHeap(), 0, indexName);
        if (run.tried.items[found].view != view)
            run.tried.items[found].view = 0;
        return found;
    }
    wchar_t* texts = indexName != nullptr ? CopyTexts(identity, detail, shown, name) : nullptr;
    void* items = run.tried.items;
    bool recorded = texts != nullptr && MakeRoom(items, run.tried.count, run.tried.capacity, sizeof(TriedItem));
    run.tried.items = static_cast<TriedItem*>(items);
    recorded = recorded && FoldedSetAddNumbered(run.triedIndex, indexName, indexLength, run.tried.count);
    if (indexName != nullptr)
        HeapFree(GetProcessHeap(), 0, indexName);
    if (!recorded) {
        if (texts != nullptr)
            HeapFree(GetProcessHeap(), 0, texts);
        run.tried.itemLost = true;
        return NoItem;
    }
    TriedItem& item = run.tried.items[run.tried.count];
    ZeroMemory(&item, sizeof(item));
    item.kind = &kind;
    item.texts = texts;
    item.hasDetail = detail != nullptr;
    item.counts = true;
    item.view = view;
    return run.tried.count++;
}

// The view a key or value item is shown in: the one it was noted through or, for a value
// of a key opened before, the 32-bit view where its kernel name says so.
int ShownView(REGSAM view, const wchar_t* identity)
{
    if (view & KEY_WOW64_32KEY)
        return 32;
    if (view & KEY_WOW64_64KEY)
        return 64;
    return StrStrIW(identity, L"\\Wow6432Node") != nullptr ? 32 : 0;
}

} // namespace

const wchar_t* Identity(const TriedItem& item)
{
    return item.texts;
}

const wchar_t* Detail(const TriedItem& item)
{
    return item.hasDetail ? DetailText(item) : nullptr;
}

const wchar_t* Shown(const TriedItem& item)
{
    const wchar_t* detail = DetailText(item);
    return detail + wcslen(detail) + 1;
}

const wchar_t* Name(const TriedItem& item)
{
    const wchar_t* shown = Shown(item);
    return shown + wcslen(shown) + 1;
}

DWORD NoteItem(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown,
               const wchar_t* name, int view)
{
    RunChanges().lastNoted = NoItem;
    if (!KeepsTriedItems())
        return NoItem;
    if (RunChanges().preview) {
        if (kind.stillThere != nullptr && !kind.stillThere(identity, detail))
            return NoItem;
        bool counts = !IsMarkerOnlyItem(kind, identity, detail);
        if (counts)
            RunChanges().tried.previewNamedChange = true;
        if (ListsTriedItems() && !PreviewCovers(kind, identity, detail)) {
            RunChanges().lastNoted = RecordTried(kind, identity, detail, shown, name, view);
            if (RunChanges().lastNoted != NoItem)
                RunChanges().tried.items[RunChanges().lastNoted].counts = counts;
        }
        return RunChanges().lastNoted;
    }
    RunChanges().lastNoted = RecordTried(kind, identity, detail, shown, name, view);
    return RunChanges().lastNoted;
}

void NoteFailure(DWORD error)
{
    if (RunChanges().lastNoted == NoItem)
        return;
    RunChanges().tried.items[RunChanges().lastNoted].hasError = true;
    RunChanges().tried.items[RunChanges().lastNoted].error = error;
    // The caller reads the reason after this too.
    SetLastError(error);
}

Change Outcome(bool made)
{
    if (made)
        return Change::Made;
    NoteFailure(GetLastError());
    return Change::Failed;
}

bool KeepsTriedItems()
{
    return RunChanges().reportExitCode || ListsTriedItems();
}

bool ListsTriedItems()
{
    return RunChanges().listsItems;
}

void NoteChange(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown)
{
    NoteItem(kind, identity, detail, shown, shown, 0);
}
void NoteKeyChange(HKEY parent, const wchar_t* subkey, REGSAM view, const wchar_t* valueName, const ShownKey& shown)
{
    RunChanges().lastNoted = NoItem;
    if (!KeepsTriedItems())
        return;
    // The key as itself, in its view: its kernel name holds the view's own path. A key that is
    // not there has nothing to remove.
    HKEY key;
    LONG opened = RegOpenKeyExW(parent, subkey, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return;
    // A key that cannot be named cannot be told gone: in a real run it counts as lost.
    RegistryName identity;
    ShownPathBuffer path;
    wchar_t shownText[ARRAYSIZE(path) + 2 * MAX_PATH];
    wchar_t keyText[ARRAYSIZE(shownText)];
    wchar_t nameText[ARRAYSIZE(shownText)];
    bool fits = opened == ERROR_SUCCESS && RegKernelName(key, identity);
    if (opened == ERROR_SUCCESS)
        RegCloseKey(key);
    fits = fits && ShownKeyPath(path, shown.path != nullptr ? shown.path : L"", shown.name);
    // A key shown by nothing (a caller that logs no line for it) is shown by its kernel name.
    const wchar_t* label = shown.label;
    if (label == nullptr)
        label = identity;
    const wchar_t* keyFormat = shown.label != nullptr ? L"%s\\%s" : L"%s";
    // The report names a value by its key's name and its own, the log as "value [...] from".
    fits = fits && FormatTextCounted(keyText, ARRAYSIZE(keyText), keyFormat, label, path);
    if (fits && valueName == nullptr)
        fits = FormatTextCounted(shownText, ARRAYSIZE(shownText), L"%s", keyText) &&
               FormatTextCounted(nameText, ARRAYSIZE(nameText), L"%s", keyText);
    else if (fits)
        fits = FormatTextCounted(shownText, ARRAYSIZE(shownText), L"value [%s] from %s", valueName, keyText) &&
               FormatTextCounted(nameText, ARRAYSIZE(nameText), L"%s\\%s", keyText, valueName);
    if (!fits) {
        if (!RunChanges().preview)
            RunChanges().tried.itemLost = true;
        return;
    }
    NoteItem(valueName == nullptr ? TriedKey : TriedValue, identity, valueName, shownText, nameText,
             ShownView(view, identity));
}

void NoteRemoved(const ItemKind& kind, const wchar_t* identity, const wchar_t* shown)
{
    DWORD index = NoteItem(kind, identity, nullptr, shown, identity, 0);
    if (index != NoItem && !RunChanges().preview) {
        RunChanges().tried.items[index].settled = true;
        RunChanges().tried.items[index].stillThere = false;
    }
}

void NoteScheduled(const wchar_t* path)
{
    RunChanges().tried.restartPending = true;
    const ItemKind* const kinds[] = {&TriedFile, &TriedFolder, &TriedCachedPackage};
    DWORD index = NoItem;
    for (const ItemKind* kind : kinds) {
        if (index == NoItem)
            index = FindTried(*kind, path, nullptr);
    }
    if (index != NoItem)
        RunChanges().tried.items[index].scheduled = true;
}

void NoteUninstallerStarted(const wchar_t* commandLine, const wchar_t* productCode, const wchar_t* displayName)
{
    RunChanges().tried.lastUninstaller =
        NoteItem(TriedUninstaller, commandLine, productCode, displayName, commandLine, 0);
}
