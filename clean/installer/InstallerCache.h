// Installer cache: the cached packages and icon folders of the family's products.
#pragma once

#include "InstallerProductList.h"
#include "../ground/Scope.h"

// The cached packages and icon folders of the products the machine names, in %WINDIR%\Installer.
void RemoveCachedInstallerFiles(const InstallerProductList& products);
// A user's icon folders of the products, %APPDATA%\Microsoft\Installer\<{code}>.
void RemoveUserInstallerFolders(const Scope& user, const InstallerProductList& products);
// Removes a cached package or patch of the Installer (checked by the caller) with the lines
// "Removing cached installer package [%s] of [%s]" and "Deleting file [%s]"; a preview logs
// "Would remove cached installer package [%s] of [%s]" alone.
void RemoveCachedInstallerPackage(const wchar_t* path, const wchar_t* productName);
// A path that names a plain file (no folder, no link) directly in that folder, by a name
// with no stream, wildcard or separator in it.
bool IsCachedFileName(const wchar_t* path);
// The folder of the Installer's cached packages, "%WINDIR%\Installer".
bool InstallerCacheFolder(PathBuffer& out);
