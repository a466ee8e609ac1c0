// Registry purge: the registry sweep of one scope, and the deletion of the product
// family's keys, settings keys and add-in keys in one registry view.
#include "steps.h"

#include "../common/Changes.h"
#include "../log/log.h"

namespace {

// The first is also the uninstall list of the passive uninstaller.
const wchar_t* const ProductKeyPaths[4] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    L"Software\\Microsoft\\Installer\\Products",
    L"Software\\Classes\\Installer\\Products",
    L"Software\\Classes\\Installer\\Dependencies",
};

// Undeletable matching subkeys remembered by index; a key with more of them than
// this is still handled exactly, only with more reading after each deletion.
const DWORD TrackedFailureCapacity = 16;
const DWORD NoIndex = 0xFFFFFFFF;

// Passed: a preview passed a matching subkey as removed; the scan goes on at the next index.
enum class Visit { End, NoMatch, Removed, Failed, Passed };

struct ProductKeyScan {
    HKEY key;
    REGSAM view;
    const wchar_t* label;
    const wchar_t* path;
};

// Deletes a matching subkey with its tree and logs how that went.
Visit RemoveMatch(const ProductKeyScan& scan, const wchar_t* name)
{
    switch (RemoveListedKey(scan.key, name, scan.view, scan.label, scan.path)) {
    case Change::Made:
        return Visit::Removed;
    case Change::Failed:
        return Visit::Failed;
    case Change::Previewed:
        break;
    }
    return Visit::Passed;
}

// Takes the subkey at one index: match test, deletion and their log lines.
Visit VisitSubkey(const ProductKeyScan& scan, DWORD index)
{
    PathBuffer name;
    DWORD nameCount = MAX_PATH;
    if (RegEnumKeyExW(scan.key, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return Visit::End;
    // What a real run would have deleted already (in the other view of a shared key, or
    // by its uninstaller) is not reported again by a preview, which deletes nothing.
    if (PreviewHasRemoved(scan.key, name, scan.view))
        return Visit::NoMatch;
    const wchar_t* displayName = EntryCatalogueName(scan.key, KEY_READ | scan.view, name);
    if (displayName == nullptr)
        return Visit::NoMatch;
    LogRemovalAttempt(name, displayName);
    return RemoveMatch(scan, name);
}

// Step A on a whole reading of the list: what a scan from index 0 that starts over after
// each deletion does. Only matches log lines, so the matches alone are walked: after a
// deletion the undeletable ones before it are tried and logged again, in index order. A
// preview deletes nothing and so never starts over.
void PurgeReadMatches(const ProductKeyScan& scan, ListReading& reading)
{
    DWORD i = 0;
    while (i < reading.matchCount) {
        const ListMatch& match = reading.matches[i];
        if (PreviewHasRemoved(scan.key, match.name, scan.view)) {
            i++;
            continue;
        }
        LogRemovalAttempt(match.name, match.displayName);
        if (RemoveMatch(scan, match.name) == Visit::Removed) {
            DropListMatch(scan.key, reading, i);
            i = 0;
        } else {
            i++;
        }
    }
}

// What a scan knows of the subkeys below its position: each either did not match or
// could not be deleted.
struct KnownSubkeys {
    DWORD failed[TrackedFailureCapacity];  // ascending indexes of undeletable matches
    DWORD failedCount;
    DWORD untrackedFrom;  // from here to the position, subkeys of both kinds, unlisted
    DWORD position;
};

// Drops one known failure; when it was deleted, the later subkeys moved down by one.
void ForgetFailure(KnownSubkeys& known, DWORD at, bool removed)
{
    for (DWORD i = at + 1; i < known.failedCount && i < TrackedFailureCapacity; i++)
        known.failed[i - 1] = known.failed[i] - (removed ? 1 : 0);
    known.failedCount--;
}

// Does what a rescan from index 0 would do to the subkeys below the position: the
// undeletable ones are matched, tried and logged again in index order, the others
// are not read again. A deletion starts the rescan over, as it moves every later
// subkey down by one. False when the enumeration ended on the way.
bool RescanKnownSubkeys(const ProductKeyScan& scan, KnownSubkeys& known)
{
    bool restart = true;
    while (restart) {
        restart = false;
        DWORD i = 0;
        while (i < known.failedCount && !restart) {
            Visit visit = VisitSubkey(scan, known.failed[i]);
            if (visit == Visit::End)
                return false;
            if (visit == Visit::Failed) {
                i++;
                continue;
            }
            // Deleted now, or no longer matching: no more a known failure.
            bool removed = visit == Visit::Removed;
            ForgetFailure(known, i, removed);
            if (removed) {
                if (known.untrackedFrom != NoIndex)
                    known.untrackedFrom--;
                known.position--;
                restart = true;
            }
        }
        if (restart || known.untrackedFrom == NoIndex)
            continue;
        for (DWORD index = known.untrackedFrom; index < known.position && !restart;) {
            Visit visit = VisitSubkey(scan, index);
            if (visit == Visit::End)
                return false;
            if (visit == Visit::Removed) {
                known.position--;
                restart = true;
            } else {
                index++;
            }
        }
    }
    return true;
}

// Step A on a list with more matches than a reading holds: the same, one subkey at a
// time.
void PurgeSubkeysOneByOne(const ProductKeyScan& scan)
{
    KnownSubkeys known = {};
    known.untrackedFrom = NoIndex;
    for (;;) {
        Visit visit = VisitSubkey(scan, known.position);
        if (visit == Visit::End)
            break;
        if (visit == Visit::NoMatch || visit == Visit::Passed) {
            known.position++;
        } else if (visit == Visit::Failed) {
            if (known.untrackedFrom == NoIndex && known.failedCount < TrackedFailureCapacity)
                known.failed[known.failedCount++] = known.position;
            else if (known.untrackedFrom == NoIndex)
                known.untrackedFrom = known.position;
            known.position++;
        } else if (!RescanKnownSubkeys(scan, known)) {
            break;  // removed, and the enumeration ended during the rescan
        }
    }
}

} // namespace

Change RemoveListedKey(HKEY parent, const wchar_t* name, REGSAM view, const wchar_t* label, const wchar_t* path)
{
    Change change = DeleteRegistryTree(parent, name, view, {label, path, name});
    if (change == Change::Made)
        LogLine(L"Successfully removed from %s\\%s", label, path);
    else if (change == Change::Failed)
        LogLine(L"Failed to remove from %s\\%s", label, path);
    return change;
}

// Step A: every subkey of the key path whose "DisplayName" or "ProductName" is a
// catalogue name is deleted with its tree.
void PurgeProductKeys(HKEY root, const wchar_t* sid, const wchar_t* keyPath, REGSAM view)
{
    PathBuffer path;
    if (!ScopeKeyPath(path, sid, keyPath))
        return;
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return;
    const ProductKeyScan scan = {key, view, RootLabel(root), path};
    ListReading& reading = ReadProductKeyList(key, KEY_READ | view, 0);
    if (reading.cut)
        PurgeSubkeysOneByOne(scan);
    else
        PurgeReadMatches(scan, reading);
    RegCloseKey(key);
}

namespace {

// Step B: the maker's and the product's keys under the scope's "Software" key. Only a
// deletion is logged, so a key is reported by the one call that removed it.
void PurgeSettingsKeys(HKEY root, const wchar_t* sid, REGSAM view)
{
    PathBuffer path;
    if (!ScopeKeyPath(path, sid, L"Software"))
        return;
    HKEY software;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &software) != ERROR_SUCCESS)
        return;
    const wchar_t* const settingsKeys[2] = {MakerWord, ProductWord};
    for (const wchar_t* name : settingsKeys) {
        if (DeleteRegistryTree(software, name, view, {RootLabel(root), path, name}) == Change::Made)
            LogLine(L"Successfully removed from %s\\%s\\%s", RootLabel(root), path, name);
    }
    RegCloseKey(software);
}

// Step C: the add-in keys, silently, in the view of the call: under
// HKEY_LOCAL_MACHINE the 64-bit and the 32-bit add-in are registered apart.
void PurgeAddInKeys(HKEY root, const wchar_t* sid, REGSAM view)
{
    for (const wchar_t* addInPath : AddInKeyPaths) {
        PathBuffer path;
        if (ScopeKeyPath(path, sid, addInPath))
            DeleteRegistryTree(root, path, view, {RootLabel(root), path, nullptr});
    }
}

} // namespace

void SweepScopeRegistry(HKEY root, const wchar_t* sid)
{
    // Every uninstaller of both views runs before the first key is deleted, so
    // MsiExec still finds the records of the products it removes. The passes read each
    // list once, where nothing but the sweep's own deletions changed it in between.
    BeginListReadings();
    UninstallScopeProducts(root, sid);
    PurgeScopeRegistry(root, sid);
    EndListReadings();
}

void UninstallScopeProducts(HKEY root, const wchar_t* sid)
{
    UninstallProductsPassively(root, sid, KEY_WOW64_64KEY);
    UninstallProductsPassively(root, sid, KEY_WOW64_32KEY);
}

void PurgeScopeRegistry(HKEY root, const wchar_t* sid)
{
    const REGSAM views[2] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (REGSAM view : views) {
        for (const wchar_t* keyPath : ProductKeyPaths)
            PurgeRegistryScope(root, sid, keyPath, view);
    }
    PurgeComRegistration(root, sid);
}

void PurgeRegistryScope(HKEY root, const wchar_t* sid, const wchar_t* keyPath, REGSAM view)
{
    PurgeProductKeys(root, sid, keyPath, view);
    PurgeSettingsKeys(root, sid, view);
    PurgeAddInKeys(root, sid, view);
}
