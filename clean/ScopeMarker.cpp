// Scope marker: the signature stored in a cleaned scope, so that later runs with the
// same signature leave that scope alone.
#include "ScopeMarker.h"
#include "Catalogue.h"
#include "PassiveUninstaller.h"
#include "RunReport.h"

#include "../change/RegistryChanges.h"
#include "../common/Registry.h"
#include "../common/Settings.h"
#include "../log/log.h"

#include <shlwapi.h>

namespace {

// The marker lives in the 64-bit view only, so a 32-bit and a 64-bit build of the
// program on one machine read and write the same marker.
const REGSAM MarkerView = KEY_WOW64_64KEY;

// How log lines name a scope's SID: "-" for the machine scope.
const wchar_t* ShownSid(const wchar_t* sid)
{
    return (sid != nullptr && sid[0] != L'\0') ? sid : L"-";
}

} // namespace

bool ScopeBearsSignature(HKEY root, const wchar_t* sid)
{
    if (Signature[0] == L'\0')
        return false;
    // A SID too long for the key path is never looked up in a cut form, which would
    // be another key: such a scope counts as unmarked.
    PathBuffer path;
    if (!ScopeKeyPath(path, sid, ScopeMarkerKeyPath))
        return false;
    HKEY key;
    if (!RegOpenAsItself(root, path, KEY_READ | MarkerView, key))
        return false;

    // Only a REG_SZ counts; a stored value without its NUL ends with its data.
    PathBuffer stored;
    bool marked = RegReadText(key, nullptr, stored, false) && StrCmpIW(Signature, stored) == 0;
    RegCloseKey(key);
    return marked;
}

bool ScopeNeedsCleaning(HKEY root, const wchar_t* sid)
{
    if (!ScopeBearsSignature(root, sid))
        return true;
    LogLine(L"Skipping clean-up for [%s,%s] since signature [%s] has been marked for this scope.", RegRootLabel(root),
            ShownSid(sid), Signature);
    NoteScope(root, sid, ScopeOutcome::SkippedSignature);
    return false;
}

void MarkScopeCleaned(HKEY root, const wchar_t* sid)
{
    bool unfinished = ScopeHasUnfinishedUninstaller(root, sid);
    NoteScope(root, sid, unfinished ? ScopeOutcome::NotMarkedUnfinished : ScopeOutcome::Cleaned);
    if (Signature[0] == L'\0')
        return;
    PathBuffer path;
    if (!ScopeKeyPath(path, sid, ScopeMarkerKeyPath))
        return;
    // The Windows Installer may still be working on, or rolling back, what an unfinished
    // uninstaller began: a later run with this signature must try the scope again.
    if (unfinished) {
        LogLine(L"Not marking [%s,%s] with signature [%s]: an uninstaller did not finish", RegRootLabel(root),
                ShownSid(sid), Signature);
        return;
    }
    WriteMarker(root, path, MarkerView, Signature, {RegRootLabel(root), ShownSid(sid)});
}
