// Registry purge: the product, settings and add-in keys of a scope.
#pragma once

#include "../ground/ListScan.h"

// Registry purge of one scope: the passive uninstall in both views, then what betweenPasses
// does (nothing when null; it may keep readings of its own for the passes), then the product,
// settings and add-in keys of both views, all with one set of readings: those of kept when not
// null (what the scope read of its lists before, with nothing changed since), and forgets them.
void SweepScopeRegistry(HKEY root, const wchar_t* sid, void (*betweenPasses)(ListReadings& readings),
                        ListReadings* kept = nullptr);
// The matcher of a user's Installer product lists: MatchProductKey's, but null for a product
// key that waits for the machine's uninstallers.
const wchar_t* MatchUserProductKey(const ListScan& scan, const wchar_t* name);
// The product keys alone: every subkey of "<sid>\<keyPath>" in one view whose "DisplayName"
// or "ProductName" is a catalogue name, deleted with its tree.
void PurgeProductKeys(HKEY root, const wchar_t* sid, const wchar_t* keyPath, REGSAM view);
