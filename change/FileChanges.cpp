// Changes to files and folders: files and shortcuts deleted, folders removed, deletion at
// the next restart; in a preview, each named once unless a folder above it was passed as
// removed.
#include "FileChanges.h"
#include "ScheduledNames.h"
#include "PreviewItems.h"
#include "TriedItems.h"

#include "../common/ProgramNames.h"
#include "ChangePart.h"
#include "../log/log.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

// Renames a file within its folder to a name of this program's own; true when renamed. The
// name is never one that exists: an existing file is not replaced.
bool RenameForRestart(const wchar_t* path, PathBuffer& renamed)
{
    // A file renamed so by an earlier sweep of this run is not renamed again.
    const wchar_t* name = PathFindFileNameW(path);
    if (StrStrIW(name, HandedNames.renamePrefix) == name)
        return false;
    PathBuffer folder;
    if (!TextCopy(folder, path))
        return false;
    wchar_t* lastSeparator = wcsrchr(folder, L'\\');
    if (lastSeparator == nullptr)
        return false;
    *lastSeparator = L'\0';
    static LONG counter = 0;
    for (int attempt = 0; attempt < 16; attempt++) {
        if (!FormatText(renamed, L"%s\\%s%u-%u.deleted-at-restart", folder, HandedNames.renamePrefix,
                        static_cast<unsigned>(GetCurrentProcessId()),
                        static_cast<unsigned>(InterlockedIncrement(&counter))))
            return false;
        if (MoveFileExW(path, renamed, 0))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// A path in its literal form as the log and the preview's record show it: without the
// prefix that makes the system take it as it stands. Empty when it does not fit.
const wchar_t* WithoutLiteralPrefix(const wchar_t* path, PathBuffer& out)
{
    const wchar_t literal[] = L"\\\\?\\";
    const wchar_t literalShare[] = L"\\\\?\\UNC\\";
    if (StrCmpNIW(path, literalShare, ARRAYSIZE(literalShare) - 1) == 0) {
        if (!FormatText(out, L"\\\\%s", path + ARRAYSIZE(literalShare) - 1))
            out[0] = L'\0';
        return out;
    }
    if (wcsncmp(path, literal, ARRAYSIZE(literal) - 1) == 0)
        return path + ARRAYSIZE(literal) - 1;
    return path;
}

// A shortcut's deletion, which a preview names once with its own line.
Change DeleteShortcutShown(const wchar_t* path, const wchar_t* previewFormat)
{
    NoteChange(TriedFile, path, nullptr, path);
    if (RunChanges().preview) {
        if (!RecordCovers(path)) {
            LogLine(previewFormat, path);
            RecordItem(path);
        }
        return Change::Previewed;
    }
    return Outcome(DeleteFileW(path) != FALSE);
}

} // namespace

Change DeleteFileAt(const wchar_t* path, const wchar_t* shown)
{
    PathBuffer plainBuffer;
    const wchar_t* plain = WithoutLiteralPrefix(path, plainBuffer);
    NoteChange(TriedFile, path, nullptr, plain);
    if (RunChanges().preview) {
        if (!RecordCovers(plain))
            LogLine(L"Would delete file [%s]", shown != nullptr ? shown : plain);
        return Change::Previewed;
    }
    return Outcome(DeleteFileW(path) != FALSE);
}

Change DeleteCachedPackage(const wchar_t* path, const wchar_t* productName)
{
    NoteChange(TriedCachedPackage, path, nullptr, path);
    if (RunChanges().preview) {
        if (!RecordCovers(path)) {
            LogLine(L"Would remove cached installer package [%s] of [%s]", path, productName);
            RecordItem(path);
        }
        return Change::Previewed;
    }
    return Outcome(DeleteFileW(path) != FALSE);
}

Change RemoveFolder(const wchar_t* path, const wchar_t* shownEmptyTree)
{
    PathBuffer plainBuffer;
    const wchar_t* plain = WithoutLiteralPrefix(path, plainBuffer);
    NoteChange(TriedFolder, path, nullptr, plain);
    if (RunChanges().preview) {
        if (shownEmptyTree != nullptr && !RecordCovers(plain))
            LogLine(L"Would remove folder [%s]", shownEmptyTree);
        RecordItem(plain);
        return Change::Previewed;
    }
    return Outcome(RemoveDirectoryW(path) != FALSE);
}

Change DeleteShortcut(const wchar_t* path)
{
    return DeleteShortcutShown(path, L"Would delete startup shortcut [%s]");
}

Change ScheduleDeletionAtRestart(const wchar_t* path, bool isFolder)
{
    if (RunChanges().preview)
        return Change::Previewed;
    PathBuffer renamed;
    bool moved = !isFolder && RenameForRestart(path, renamed);
    if (MoveFileExW(moved ? renamed : path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        NoteScheduled(path);
        // A name not kept is scheduled again when met again: twice in the system's list does
        // no harm beyond the line.
        KeepScheduledName(path);
        if (moved)
            KeepScheduledName(renamed);
        return Change::Made;
    }
    DWORD error = GetLastError();
    // Put back where it was, so that the file is not left under a name nobody knows; one
    // that cannot be put back is recorded under its new name.
    if (moved && !MoveFileExW(renamed, path, 0))
        NoteChange(TriedFile, renamed, nullptr, renamed);
    SetLastError(error);
    return Change::Failed;
}

bool ScheduledAlready(const wchar_t* path)
{
    if (!HasScheduledName(path))
        return false;
    NoteScheduled(path);
    return true;
}

Change DeleteShortcutFile(const wchar_t* path)
{
    return DeleteShortcutShown(path, L"Would delete shortcut [%s]");
}
