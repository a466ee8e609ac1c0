// Scope marker: the signature stored in a cleaned scope, so that later runs with the
// same signature leave that scope alone.
#include "ScopeMarker.h"
#include "../Catalogue.h"
#include "PassiveUninstaller.h"
#include "../RunReport.h"
#include "../ground/Scope.h"
#include "../RunSteps.h"

#include "../../change/RegistryChanges.h"
#include "../../common/Registry.h"
#include "../../log/log.h"

#include <shlwapi.h>

namespace {

// The marker lives in the 64-bit view only, so a 32-bit and a 64-bit build of the
// program on one machine read and write the same marker.
const REGSAM MarkerView = KEY_WOW64_64KEY;


} // namespace

bool ScopeBearsSignature(const Scope& scope)
{
    if (RunOptionsNow().signature[0] == L'\0')
        return false;
    // A SID too long for the key path is never looked up in a cut form, which would
    // be another key: such a scope counts as unmarked.
    PathBuffer path;
    if (!ScopeKey(scope, ScopeMarkerKeyPath, path))
        return false;
    HKEY key;
    if (!RegOpenAsItself(scope.root, path, KEY_READ | MarkerView, key))
        return false;

    // Only a REG_SZ counts; a stored value without its NUL ends with its data.
    PathBuffer stored;
    bool marked = RegReadText(key, nullptr, stored, false) && StrCmpIW(RunOptionsNow().signature, stored) == 0;
    RegCloseKey(key);
    return marked;
}

bool ScopeNeedsCleaning(const Scope& scope)
{
    if (!ScopeBearsSignature(scope))
        return true;
    LogLine(L"Skipping clean-up for [%s,%s] since signature [%s] has been marked for this scope.", scope.label,
            scope.shownSid, RunOptionsNow().signature);
    NoteScope(scope, ScopeOutcome::SkippedSignature);
    return false;
}

void MarkScopeCleaned(const Scope& scope)
{
    bool unfinished = ScopeHasUnfinishedUninstaller(scope);
    NoteScope(scope, unfinished ? ScopeOutcome::NotMarkedUnfinished : ScopeOutcome::Cleaned);
    if (RunOptionsNow().signature[0] == L'\0')
        return;
    PathBuffer path;
    if (!ScopeKey(scope, ScopeMarkerKeyPath, path))
        return;
    // The Windows Installer may still be working on, or rolling back, what an unfinished
    // uninstaller began: a later run with this signature must try the scope again.
    if (unfinished) {
        LogLine(L"Not marking [%s,%s] with signature [%s]: an uninstaller did not finish", scope.label,
                scope.shownSid, RunOptionsNow().signature);
        return;
    }
    WriteMarker(scope.root, path, MarkerView, RunOptionsNow().signature, {scope.label, scope.shownSid});
}
