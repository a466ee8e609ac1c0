// One scope as the shell registration steps read it: the parts of those steps that live in
// files of their own (COM servers, browser hosts) work on it.
#pragma once

#include "ProductTargets.h"

#include "../common/Bounded.h"
#include "../common/Registry.h"

// One class root of a scope, and what its class list held that the steps come back to.
struct ClassRoot {
    HKEY key;  // opened for reading in view
    REGSAM view;
    PathBuffer path;        // below the scope's root, as log lines show it
    NameList extensions;    // names beginning with "."
    NameList windowsNames;  // names that Windows itself defines: only their verbs are looked at
    NameList progIds;       // the product's ProgIDs and URL protocols
    NameList applications;  // the product's Applications\<name> keys
    NameList classIds;      // the product's COM classes, in either class list of the root
};
struct ShellScope {
    HKEY root;
    const wchar_t* sid;           // null for the machine
    PathBuffer software;          // the scope's Software key; empty for a class hive
    DWORD softwareViews;          // how many of RegistryViews show the scope's Software
    ProductTargets targets;       // the scope's own entries' terms
    bool user;                    // a user's: names its entries take from the machine's classes count too
    ProductTargets machine;       // the machine's terms, for those names
    ClassRoot classes[2];
    DWORD classCount;
    RegistryName seen[8];         // the class roots and class lists read so far
    DWORD seenCount;
};
// True the first time a key (by the name the registry gives it) is met in the scope.
bool FirstVisit(ShellScope& scope, HKEY key);

// Registry helpers of the shell registration files.
// Opens parent\path itself, never the key a link there leads to.
bool OpenAsItself(HKEY parent, const wchar_t* path, REGSAM access, HKEY& key);
// Opens a key to delete values from, or failing that to read them.
bool OpenForValues(HKEY parent, const wchar_t* path, REGSAM view, HKEY& key);
// Appends the names of an open key's values to out.
void ReadValueNames(HKEY key, NameList& out);
// Removes the listed subkeys of parent, shown below parentPath, or the listed values of key.
void RemoveKeys(HKEY parent, REGSAM view, const wchar_t* label, const wchar_t* parentPath, const NameList& names);
void RemoveValues(HKEY key, const NameList& names, const wchar_t* label, const wchar_t* path);
// True when an open key has no values beyond valueCount and no subkeys beyond subkeyCount.
bool HoldsAtMost(HKEY key, DWORD subkeyCount, DWORD valueCount);
// Calls visit with each key of the scope's Software at relativePath, in each view that shows it.
void ForEachSoftwareKey(const ShellScope& scope, const wchar_t* relativePath,
                        void (*visit)(const ShellScope& scope, HKEY key, REGSAM view, const wchar_t* path));

// File types: ProgIDs and URL protocols, extensions and "Open with" records, and the verbs of the
// names Windows itself defines.
// True for a ProgID, URL protocol or application of the product below parent.
bool IsProductsProgId(HKEY parent, const wchar_t* name, REGSAM view, const ProductTargets& targets);
// Reads the root's class list into its extensions, windowsNames and progIds.
void ReadClassList(const ShellScope& scope, ClassRoot& root);
// A user's "Open with" records, under the scope's Software, that name the product.
void RemoveFileExtRecords(const ShellScope& scope);
// The extensions of each class root whose default or OpenWithProgids name a product ProgID.
void CleanExtensions(const ShellScope& scope);
// The root's product ProgIDs, and the product's verbs on Windows' own names.
void RemoveFileTypes(const ShellScope& scope, const ClassRoot& root);
// COM servers: fills root.classIds with the classes of both its class lists whose
// InprocServer32 file or LocalServer32 program is the product's.
void FindProductClasses(ShellScope& scope, ClassRoot& root);
// Removes the shell extension handlers that name a product class, in each class root, and
// the approved list's values of those classes under the scope's Software.
void RemoveShellExtensions(const ShellScope& scope);
// Removes the product classes found.
void RemoveProductClasses(const ShellScope& scope);

// Browser native-messaging hosts whose manifest lies in the product's folders, under the
// scope's Software in each of its views.
void RemoveBrowserHosts(const ShellScope& scope);
