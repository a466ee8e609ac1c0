// Changes to the registry: key trees and values deleted, the scope marker written.
#pragma once

#include "Change.h"

// Deletes subkey (a path relative to parent) and everything below it in one registry view
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY), depth first, naming that view on every open. Every key
// of the tree is opened as itself and deleted through its own handle: a registry link met in
// the tree is deleted as the link, and nothing it points to is entered or deleted. Made when the
// key itself is gone; a missing key or a partial deletion is Failed. Preview: "Would remove
// %s\%s" with the shown key, when the key can be opened as the deletion opens it and the
// preview has not passed it (or a key above it) as removed already.
Change DeleteRegistryTree(HKEY parent, const wchar_t* subkey, REGSAM view, const ShownKey& shown);

// Deletes one value of an open key (opened with KEY_QUERY_VALUE | KEY_SET_VALUE in the view the
// caller names). Preview: "Would remove value [%s] from %s\%s" (value name, root label, key path), once per value.
Change DeleteRegistryValue(HKEY key, const wchar_t* valueName, const ShownKey& shown);

// A key the run leaves in place although it names the product (another program's class that the
// product's file serves): with "/ExitCode" or "/Report:", an item that stays, so that "Not
// removed", the report and the exit code count it. A preview names nothing for it.
void NoteKeptKey(HKEY parent, const wchar_t* subkey, REGSAM view, const ShownKey& shown);

// True when an open key holds no subkey and no value but those the run has removed, in a
// preview as in a real run: in a preview, the values it has named as removed (or that lie in a
// key it has named) count as gone. A value that cannot be named so counts as still there.
bool KeyLeftEmpty(HKEY key);

// Stores text (a REG_SZ with its NUL) as the default value of keyPath under root in one view,
// creating the key (and the keys above it) if needed. Preview: "Would mark [%s,%s] with
// signature [%s]".
Change WriteMarker(HKEY root, const wchar_t* keyPath, REGSAM view, const wchar_t* text, const ShownScope& shown);
