// Installer patches: the machine's patch registrations of the family's products.
#pragma once

#include "InstallerProductList.h"

// A patch registration of the machine with its cached patch, when no product but the
// listed ones names the patch.
void PurgeMachinePatches(const InstallerProductList& products);
