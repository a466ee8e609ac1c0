// Click-to-Run's copies of the add-in keys.
#pragma once

// The machine scope's copies, both views, deleted silently.
void PurgeClickToRunAddIns();
