// Installer folder counts: the Installer's values that name a gone path of the product's.
#pragma once

#include "InstallerProductList.h"

// The Installer's "Folders" and "SharedDLLs" values that name a path inside the product's
// folders (the program folders' maker folder, the products' icon folders) that is gone.
void PurgeInstallerFolderCounts(const InstallerProductList& products);
