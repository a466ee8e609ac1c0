// Inside the change layer: the preview record's items, which the change functions add and
// look up.
#pragma once

#include <windows.h>

struct ItemKind;

// True when entry (a kernel key name, a path or a value item) is an item of the record or
// lies below one.
bool RecordCovers(const wchar_t* entry);
// Adds an item; an empty one is not recorded.
void RecordItem(const wchar_t* item);

// The record's item for a value: it covers nothing but itself.
typedef wchar_t ValueRecordItem[4 * MAX_PATH + 16];
// The item for valueName of the key named keyName; false when it does not fit.
bool ValueIdentity(const wchar_t* keyName, const wchar_t* valueName, ValueRecordItem& out);

// True in a preview when the preview has passed the item of the run's record as removed
// already (a key or a folder above it, the value itself): a real run would find it gone.
bool PreviewCovers(const ItemKind& kind, const wchar_t* identity, const wchar_t* detail);
