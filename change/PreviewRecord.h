// The preview's record of what it has passed as removed, as the steps consult it.
#pragma once

#include <windows.h>

// The record grows with the run (its part of the change layer, ChangePart.h), so that a
// preview of any size names each item once.
// True in a preview when parent\subkey (in that view) is a key the preview has passed as
// removed, or lies below one; always false in a real run. Keys are compared by the names the
// kernel gives them, so that one key seen through two views or two roots is one key.
bool PreviewHasRemoved(HKEY parent, const wchar_t* subkey, REGSAM view);
// True in a preview when the file or folder at path is one the preview has passed as removed,
// or lies in one; always false in a real run.
bool PreviewHasRemovedPath(const wchar_t* path);
// In a preview, records that the uninstaller of the list entry parent\subkey was named, and
// tells whether it was (or the entry passed as removed): the other view of a shared list
// passes it over, while the entry itself is still named by the purge, which deletes it in a
// real run when its uninstaller fails.
void NotePreviewUninstall(HKEY parent, const wchar_t* subkey, REGSAM view);
bool PreviewHasUninstalled(HKEY parent, const wchar_t* subkey, REGSAM view);
