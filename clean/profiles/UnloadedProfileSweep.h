// Sweep of the profiles whose hives are not loaded.
#pragma once

// Each one of the profile list is loaded, swept as a loaded user is, its class hive's product
// keys purged, and unloaded again.
void SweepUnloadedProfiles();
