// The preview's record: the kernel names of keys, values and the paths of files and folders a
// preview has passed as removed. An item covers itself and everything below it.
#include "PreviewRecord.h"
#include "PreviewItems.h"
#include "TriedItems.h"

#include "../common/Bounded.h"
#include "../common/FoldedSet.h"
#include "../common/Registry.h"

#include <wchar.h>

namespace {

// Values are recorded as this mark, which begins no kernel name and no path, the length of
// their key's kernel name, "|", that name, "\\" and the value's name. A value's name may hold
// backslashes, so a value item covers nothing but itself.
const wchar_t ValueMark = L'|';

// An uninstaller the preview has named is recorded under its entry's kernel name behind
// this mark, which no kernel name starts with: it covers no key the purge looks for.
const wchar_t UninstallMark = L'*';

} // namespace

// The entry itself and each of the names above it (cut before each backslash) are looked up.
bool RecordCovers(const wchar_t* entry)
{
    size_t length = wcslen(entry);
    if (FoldedSetHas(RunChanges().previewRecord, entry, length))
        return true;
    if (entry[0] == ValueMark)
        return false;
    for (size_t at = 0; at < length; at++)
        if (entry[at] == L'\\' && at > 0 && FoldedSetHas(RunChanges().previewRecord, entry, at))
            return true;
    return false;
}

// One the heap has no room for is left out: the preview then names what lies in it again
// where a real run would find it gone, and never passes anything over.
void RecordItem(const wchar_t* item)
{
    if (item[0] == L'\0' || RecordCovers(item))
        return;
    FoldedSetAdd(RunChanges().previewRecord, item, wcslen(item));
}

bool ValueIdentity(const wchar_t* keyName, const wchar_t* valueName, ValueRecordItem& out)
{
    wchar_t prefix[16];
    size_t keyLength = wcslen(keyName);
    wsprintfW(prefix, L"%c%u|", ValueMark, static_cast<unsigned>(keyLength));
    size_t prefixLength = wcslen(prefix);
    size_t nameLength = wcslen(valueName);
    if (prefixLength + keyLength + 1 + nameLength >= ARRAYSIZE(out))
        return false;
    wchar_t* at = out;
    wmemcpy(at, prefix, prefixLength);
    at += prefixLength;
    wmemcpy(at, keyName, keyLength);
    at += keyLength;
    *at++ = L'\\';
    wmemcpy(at, valueName, nameLength + 1);
    return true;
}

bool PreviewCovers(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail)
{
    if (RecordCovers(identity))
        return true;
    ValueRecordItem value;
    return &kind == &TriedValue && ValueIdentity(identity, detail, value) && RecordCovers(value);
}

bool PreviewHasRemoved(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    if (!RunChanges().preview)
        return false;
    RegistryName identity;
    return RegKernelNameOf(parent, subkey, KEY_READ | view, identity) && identity[0] != L'\0' && RecordCovers(identity);
}

bool PreviewHasRemovedPath(const wchar_t* path)
{
    return RunChanges().preview && path[0] != L'\0' && RecordCovers(path);
}

void NotePreviewUninstall(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    RegistryName identity;
    if (RunChanges().preview && RegKernelNameOf(parent, subkey, KEY_READ | view, identity)) {
        wchar_t marked[ARRAYSIZE(identity) + 1];
        if (FormatTextCounted(marked, ARRAYSIZE(marked), L"%c%s", UninstallMark, identity))
            RecordItem(marked);
    }
}

bool PreviewHasUninstalled(HKEY parent, const wchar_t* subkey, REGSAM view)
{
    RegistryName identity;
    if (!RunChanges().preview || !RegKernelNameOf(parent, subkey, KEY_READ | view, identity) || identity[0] == L'\0')
        return false;
    wchar_t marked[ARRAYSIZE(identity) + 1];
    return RecordCovers(identity) ||
           (FormatTextCounted(marked, ARRAYSIZE(marked), L"%c%s", UninstallMark, identity) && RecordCovers(marked));
}
