// The run's record of what it tried to remove and the exit code it makes of it.
#include "Changes.h"

#include "../app/app.h"
#include "Registry.h"
#include "../log/log.h"

#include <wchar.h>

namespace {

// One item, its texts in one heap block: identity, detail and shown, each ended by its NUL.
struct TriedItem {
    const ItemKind* kind;
    wchar_t* texts;
    bool hasDetail;
    bool scheduled;
    bool settled;     // stillThere below is decided
    bool stillThere;
};

TriedItem* Items = nullptr;
size_t ItemCount = 0;
size_t ItemCapacity = 0;
// An item the heap had no room for: the run can no longer say that everything is gone.
bool ItemLost = false;
bool PreviewNamedChange = false;
bool RestartPending = false;

const wchar_t* Identity(const TriedItem& item)
{
    return item.texts;
}

const wchar_t* Detail(const TriedItem& item)
{
    return item.hasDetail ? item.texts + wcslen(item.texts) + 1 : nullptr;
}

const wchar_t* Shown(const TriedItem& item)
{
    const wchar_t* detail = item.texts + wcslen(item.texts) + 1;
    return detail + wcslen(detail) + 1;
}

bool SameText(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// Value names are compared as the registry does, ignoring case.
TriedItem* FindItem(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail)
{
    for (size_t i = 0; i < ItemCount; i++) {
        TriedItem& item = Items[i];
        if (item.kind == &kind && SameText(Identity(item), identity) &&
            (detail == nullptr ? !item.hasDetail : item.hasDetail && SameText(Detail(item), detail)))
            return &item;
    }
    return nullptr;
}

bool MakeRoom()
{
    if (ItemCount < ItemCapacity)
        return true;
    size_t capacity = ItemCapacity == 0 ? 64 : ItemCapacity * 2;
    void* grown = Items == nullptr ? HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(TriedItem))
                                   : HeapReAlloc(GetProcessHeap(), 0, Items, capacity * sizeof(TriedItem));
    if (grown == nullptr)
        return false;
    Items = static_cast<TriedItem*>(grown);
    ItemCapacity = capacity;
    return true;
}

void RecordItem(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown)
{
    if (FindItem(kind, identity, detail) != nullptr)
        return;
    size_t identityCount = wcslen(identity) + 1;
    size_t detailCount = detail == nullptr ? 1 : wcslen(detail) + 1;
    size_t shownCount = wcslen(shown) + 1;
    wchar_t* texts = static_cast<wchar_t*>(
        HeapAlloc(GetProcessHeap(), 0, (identityCount + detailCount + shownCount) * sizeof(wchar_t)));
    if (texts == nullptr || !MakeRoom()) {
        if (texts != nullptr)
            HeapFree(GetProcessHeap(), 0, texts);
        ItemLost = true;
        return;
    }
    wmemcpy(texts, identity, identityCount);
    wmemcpy(texts + identityCount, detail == nullptr ? L"" : detail, detailCount);
    wmemcpy(texts + identityCount + detailCount, shown, shownCount);
    Items[ItemCount++] = {&kind, texts, detail != nullptr, false, false, false};
}

// The part of a kernel key name below its hive root, and the root it is opened through.
// Any other name (a hive loaded elsewhere, a name the kernel spells otherwise) is not
// recognised and counts as still there.
bool SplitKernelName(const wchar_t* name, HKEY& root, const wchar_t*& path)
{
    const struct {
        const wchar_t* prefix;
        HKEY root;
    } roots[] = {{L"\\REGISTRY\\MACHINE\\", HKEY_LOCAL_MACHINE}, {L"\\REGISTRY\\USER\\", HKEY_USERS}};
    for (const auto& known : roots) {
        int length = static_cast<int>(wcslen(known.prefix));
        if (wcslen(name) > static_cast<size_t>(length) &&
            CompareStringOrdinal(name, length, known.prefix, length, TRUE) == CSTR_EQUAL) {
            root = known.root;
            path = name + length;
            return true;
        }
    }
    return false;
}

// The kernel name holds the view's own path (Wow6432Node), so the key is opened in the
// 64-bit view, and as itself: a registry link is the link.
bool KeyStillThere(const wchar_t* identity, const wchar_t* valueName)
{
    HKEY root;
    const wchar_t* path;
    if (!SplitKernelName(identity, root, path))
        return true;
    HKEY key;
    LONG opened = RegOpenKeyExW(root, path, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
    if (opened != ERROR_SUCCESS)
        return opened != ERROR_FILE_NOT_FOUND;
    LONG queried = ERROR_SUCCESS;
    if (valueName != nullptr)
        queried = RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return queried != ERROR_FILE_NOT_FOUND;
}

bool PathStillThere(const wchar_t* path, const wchar_t*)
{
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

void Settle(TriedItem& item)
{
    if (item.settled)
        return;
    item.stillThere = item.kind->stillThere(Identity(item), Detail(item));
    item.settled = true;
}

} // namespace

const ItemKind KeyItem = {KeyStillThere};
const ItemKind ValueItem = {KeyStillThere};
const ItemKind FileItem = {PathStillThere};
const ItemKind FolderItem = {PathStillThere};
const ItemKind ProcessItem = {nullptr};

void NoteChange(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail, const wchar_t* shown)
{
    if (!ReportExitCode)
        return;
    if (PreviewMode) {
        if (kind.stillThere == nullptr || kind.stillThere(identity, detail))
            PreviewNamedChange = true;
        return;
    }
    if (kind.stillThere != nullptr)
        RecordItem(kind, identity, detail, shown);
}

void NoteKeyChange(HKEY parent, const wchar_t* subkey, REGSAM view, const wchar_t* valueName, const ShownKey& shown)
{
    if (!ReportExitCode)
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
    bool fits = opened == ERROR_SUCCESS && RegistryKeyName(key, identity);
    if (opened == ERROR_SUCCESS)
        RegCloseKey(key);
    fits = fits && ShownKeyPath(path, shown.path != nullptr ? shown.path : L"", shown.name);
    // A key shown by nothing (a caller that logs no line for it) is shown by its kernel name.
    const wchar_t* label = shown.label;
    if (label == nullptr)
        label = identity;
    if (fits && valueName == nullptr)
        fits = FormatTextCounted(shownText, ARRAYSIZE(shownText), shown.label != nullptr ? L"%s\\%s" : L"%s",
                                 label, path);
    else if (fits)
        fits = FormatTextCounted(shownText, ARRAYSIZE(shownText), shown.label != nullptr ? L"value [%s] from %s\\%s" : L"value [%s] from %s", valueName,
                                 label, path);
    if (!fits) {
        if (!PreviewMode)
            ItemLost = true;
        return;
    }
    NoteChange(valueName == nullptr ? KeyItem : ValueItem, identity, valueName, shownText);
}

void NoteScheduled(const wchar_t* path)
{
    RestartPending = true;
    TriedItem* item = FindItem(FileItem, path, nullptr);
    if (item == nullptr)
        item = FindItem(FolderItem, path, nullptr);
    if (item != nullptr)
        item->scheduled = true;
}

void NoteUninstallerExit(DWORD exitCode)
{
    if (exitCode == ERROR_SUCCESS_REBOOT_REQUIRED || exitCode == ERROR_SUCCESS_REBOOT_INITIATED)
        RestartPending = true;
}

void SettleTriedItems()
{
    for (size_t i = 0; i < ItemCount; i++)
        Settle(Items[i]);
}

void ClearTriedItems()
{
    for (size_t i = 0; i < ItemCount; i++)
        HeapFree(GetProcessHeap(), 0, Items[i].texts);
    ItemCount = 0;
    ItemLost = false;
    PreviewNamedChange = false;
    RestartPending = false;
}

int LogRunOutcome()
{
    if (!ReportExitCode)
        return 0;
    int exitCode = 0;
    if (PreviewMode) {
        exitCode = PreviewNamedChange ? 1 : 0;
    } else {
        bool stayed = ItemLost;
        for (size_t i = 0; i < ItemCount; i++) {
            TriedItem& item = Items[i];
            Settle(item);
            if (item.stillThere && !item.scheduled) {
                LogLine(L"Not removed: %s", Shown(item));
                stayed = true;
            }
        }
        exitCode = stayed ? 1 : RestartPending ? ERROR_SUCCESS_REBOOT_REQUIRED : 0;
    }
    LogLine(L"Exit code [%d]", exitCode);
    return exitCode;
}
