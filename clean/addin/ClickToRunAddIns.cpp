// Click-to-Run's copies of the add-in keys: Office from Click-to-Run reads add-in
// registrations from its own copy of the machine's registry, where a leftover one keeps a
// reinstalled add-in from loading.
#include "ClickToRunAddIns.h"
#include "../Catalogue.h"

#include "../../change/RegistryChanges.h"
#include "../../common/RegistryWalk.h"

void PurgeClickToRunAddIns()
{
    // Silent, as the add-in keys of the registry purge are: a preview names each.
    for (REGSAM view : RegViews) {
        for (const wchar_t* path : ClickToRunAddInKeyPaths)
            DeleteRegistryTree(HKEY_LOCAL_MACHINE, path, view, {RegRootLabel(HKEY_LOCAL_MACHINE), path, nullptr});
    }
}
