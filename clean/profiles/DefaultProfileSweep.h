// The Default profile, which Windows copies into every profile it makes.
#pragma once

// Loads the Default profile's hive under a name of its own, removes the product's keys, Run
// entries, shell registrations and Active Setup records from it, and unloads it. Called with the
// backup and restore privileges enabled.
void SweepDefaultProfile();
