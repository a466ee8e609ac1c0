// Shortcuts: the .lnk files on a user's Desktop and in the user's Start menu programs, and in
// the machine's common ones, whose stored target is the product's program.
#include "Shortcuts.h"
#include "../Catalogue.h"
#include "../ground/ProductTargets.h"
#include "../ground/Scope.h"
#include "../ground/ProfilePaths.h"

#include "../../change/FileChanges.h"
#include "../../common/ComThread.h"
#include "../../common/FileKinds.h"
#include "../../common/Path.h"
#include "../../log/log.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

namespace {

bool IsShortcutName(const wchar_t* name)
{
    size_t length = wcslen(name);
    return length > 4 && StrCmpIW(name + length - 4, L".lnk") == 0;
}

// A Start menu folder that the product's installers make.
bool IsProductFolderName(const wchar_t* name)
{
    return StrCmpIW(name, MakerWord) == 0 || StrCmpIW(name, ProductWord) == 0;
}

// The target as the shortcut stores it: read through the shell's link object, never resolved,
// so a moved target is neither searched for nor taken for another. False when the file is no
// shortcut, holds no path, or the path does not fit.
bool ReadShortcutTarget(const wchar_t* path, PathBuffer& out)
{
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return false;
    bool read = false;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        // One character more than a path buffer: GetPath cuts a longer target without saying so.
        wchar_t target[MAX_PATH + 1];
        target[0] = L'\0';
        read = file->Load(path, STGM_READ) == S_OK &&
               link->GetPath(target, ARRAYSIZE(target), nullptr, SLGP_RAWPATH) == S_OK &&
               wcslen(target) < MAX_PATH && TextCopy(out, target);
        file->Release();
    }
    link->Release();
    return read;
}

// Takes one shortcut: true when it is gone, or passed by a preview.
bool TakeShortcut(const wchar_t* path, const ProductTargets& targets)
{
    PathBuffer target;
    if (!ReadShortcutTarget(path, target) || !PathIsProducts(targets, target))
        return false;
    switch (DeleteShortcutFile(path)) {
    case Change::Made:
        LogLine(L"Deleted shortcut [%s]", path);
        return true;
    case Change::Previewed:
        return true;
    case Change::Failed:
        break;
    }
    return false;
}

// Walks one folder: its shortcuts and, with subfolders, its sub-folders, never entering or
// taking a link. A sub-folder named as the maker or the product that the walk emptied goes too.
// True when the walk removed something here and left nothing.
bool WalkShortcuts(const wchar_t* folder, const ProductTargets& targets, bool subfolders);

// What one level of WalkShortcuts carries from entry to entry.
struct ShortcutWalk {
    const wchar_t* folder;
    const ProductTargets* targets;
    bool subfolders;
    bool removed;
    bool left;
};

bool TakeShortcutEntry(const WIN32_FIND_DATAW& entry, void* context)
{
    ShortcutWalk& walk = *static_cast<ShortcutWalk*>(context);
    bool taken = false;
    PathBuffer path;
    if (TextCopy(path, walk.folder) && PathJoinName(path, entry.cFileName) && !IsLinkAttributes(entry.dwFileAttributes)) {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            taken = IsShortcutName(entry.cFileName) && TakeShortcut(path, *walk.targets);
        } else if (walk.subfolders) {
            taken = WalkShortcuts(path, *walk.targets, true) && IsProductFolderName(entry.cFileName) &&
                    RemoveFolder(path) != Change::Failed;
        }
    }
    walk.removed = walk.removed || taken;
    walk.left = walk.left || !taken;
    return true;
}

bool WalkShortcuts(const wchar_t* folder, const ProductTargets& targets, bool subfolders)
{
    ShortcutWalk walk = {folder, &targets, subfolders, false, false};
    if (!PathForEachEntry(folder, TakeShortcutEntry, &walk))
        return false;
    return walk.removed && !walk.left;
}

// Walks a shell folder that is a plain folder; one that is a link is not entered.
void WalkShellFolder(const PathBuffer& folder, const ProductTargets& targets, bool subfolders)
{
    DWORD attributes = GetFileAttributesW(folder);
    if (!IsPlainFolder(attributes))
        return;
    WalkShortcuts(folder, targets, subfolders);
}

} // namespace

void DeleteUserShortcuts(const Scope& user)
{
    ProductTargets targets;
    ReadProductTargets(user, targets);
    // The shell's link object needs COM on the worker thread for the step.
    bool com = BeginComWork();
    PathBuffer folder;
    if (ResolveUserShellFolder(user, L"Desktop", folder))
        WalkShellFolder(folder, targets, false);
    if (ResolveUserShellFolder(user, L"Programs", folder))
        WalkShellFolder(folder, targets, true);
    EndComWork(com);
}

void DeleteCommonShortcuts()
{
    PathBuffer desktop;
    PathBuffer programs;
    bool haveDesktop = ResolveCommonShellFolder(L"Common Desktop", desktop);
    bool havePrograms = ResolveCommonShellFolder(L"Common Programs", programs);

    ProductTargets targets;
    ReadProductTargets(MachineScope(), targets);
    // The shell's link object needs COM on the worker thread for the step.
    bool com = BeginComWork();
    if (haveDesktop)
        WalkShellFolder(desktop, targets, false);
    if (havePrograms)
        WalkShellFolder(programs, targets, true);
    EndComWork(com);
}
