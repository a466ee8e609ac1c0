// One scope as the shell registration steps read it: the parts of those steps that live in
// files of their own (COM servers, browser hosts) work on it.
#pragma once

#include "../ground/ProductTargets.h"
#include "../ground/Scope.h"

#include "../../common/Bounded.h"
#include "../../common/Registry.h"

// One class root of a scope, and what its class list held that the steps come back to.
struct ClassRoot {
    HKEY key;  // opened for reading in view
    REGSAM view;
    PathBuffer path;        // below the scope's root, as log lines show it
    NameList extensions;    // names beginning with "."
    NameList keptNames;     // names and Applications\<name> keys that stay (Windows' own, or not
                            // wholly the product's): only the product's verbs go
    NameList progIds;       // the product's ProgIDs and URL protocols, wholly its
    NameList applications;  // the product's Applications\<name> keys
    NameList classIds;      // the product's COM classes, wholly its, in either class list of the root
    NameList keptClassIds;  // classes whose server is the product's that are not wholly its
};
struct ShellScope {
    const Scope* where;           // the scope swept, which outlives this reading of it
    bool withSoftware;            // false for a class hive: the scope's Software is not in it
    ProductTargets targets;       // the scope's own entries' terms
    bool user;                    // a user's: names its entries take from the machine's classes count too
    ProductTargets machine;       // the machine's terms, for those names
    ClassRoot classes[2];
    DWORD classCount;
    RegistryName seen[8];         // the class roots and class lists read so far
    DWORD seenCount;
};
// Opens a scope's class root at path in view: a user's as itself; the machine's as the view
// shows it, since its 32-bit view passes through Windows' own link "Software\Wow6432Node\Classes"
// (the keys below it are opened as themselves).
bool OpenClassRootKey(HKEY root, const wchar_t* path, REGSAM view, HKEY& key);
// The scope's Software key with relativePath below it; false for a class hive and for a path
// that does not fit. Its views are where->softwareViews.
bool SoftwarePath(const ShellScope& scope, const wchar_t* relativePath, PathBuffer& out);
// True the first time a key (by the name the registry gives it) is met in the scope.
bool FirstVisit(ShellScope& scope, HKEY key);

// Registry helpers of the shell registration files.
// Removes the listed subkeys of parent, shown below parentPath, or the listed values of key.
void RemoveKeys(HKEY parent, REGSAM view, const wchar_t* label, const wchar_t* parentPath, const NameList& names);
void RemoveValues(HKEY key, const NameList& names, const wchar_t* label, const wchar_t* path);
// Calls visit with each key of the scope's Software at relativePath, in each view that shows it.
void ForEachSoftwareKey(const ShellScope& scope, const wchar_t* relativePath,
                        void (*visit)(const ShellScope& scope, HKEY key, REGSAM view, const wchar_t* path));

// Class names and verbs.
// True for a name of the class root that Windows itself defines: its key is never the product's.
bool IsWindowsClassName(const wchar_t* name);
// A name that can be taken as one key below a class root: not empty, no backslash (which would
// reach a key below another), and short enough to compose paths with.
bool IsSingleKeyName(const wchar_t* name);
// The verbs of a shell key that have a command: how many, and those whose command starts the
// product (a command that cannot be read is not the product's).
struct Verbs {
    DWORD commands;
    NameList products;
};
void ReadProductVerbs(HKEY shell, REGSAM view, const ProductTargets& targets, Verbs& out);
// True when name is one of names, ignoring case.
bool IsCatalogued(const wchar_t* const* names, DWORD count, const wchar_t* name);

// Whole keys. What a ProgID, URL protocol or application holds of the product: nothing, some of
// its verbs, or the whole key: at least one verb with a command and every such command starts
// the product, and the key is one of the product's own names (the catalogue's ProgIDs and
// protocols, its programs as applications) or everything else in it that names a file, program,
// class or ProgID names the product's. Windows' own names are never whole.
enum class ProductHolding { Nothing, Verbs, Whole };
ProductHolding ProgIdHolding(HKEY classRoot, const wchar_t* name, bool application, REGSAM view,
                             const ProductTargets& targets);
// A class of a class list of classRoot that is wholly the product's: its servers are all the
// product's, at least one there, and its icon, TreatAs, AutoConvertTo, ProgIDs and handlers name
// the product's (a .NET class by its CodeBase or Assembly). list is opened by RegOpenPlain.
bool IsProductsClass(HKEY classRoot, HKEY list, const wchar_t* classId, REGSAM view, const ProductTargets& targets);
// Class servers: the counts of an open class key's servers that are the product's and not; and
// whether any server of list\classId (list opened by RegOpenPlain) is the product's.
void CountClassServers(HKEY classKey, REGSAM view, const ProductTargets& targets, DWORD& products, DWORD& others);
bool ClassServerIsProducts(HKEY list, const wchar_t* classId, REGSAM view, const ProductTargets& targets);

// File types: ProgIDs and URL protocols, extensions and "Open with" records, and the verbs of the
// names that stay.
// Reads the root's class list into its extensions, keptNames and progIds.
void ReadClassList(const ShellScope& scope, ClassRoot& root);
// A user's "Open with" records, under the scope's Software, that name the product.
void RemoveFileExtRecords(const ShellScope& scope);
// The extensions of each class root whose default or OpenWithProgids name a product ProgID.
void CleanExtensions(const ShellScope& scope);
// The root's product ProgIDs, and the product's verbs on the names that stay.
void RemoveFileTypes(const ShellScope& scope, const ClassRoot& root);
// COM servers: fills root.classIds with the classes of both its class lists that are wholly the
// product's, and root.keptClassIds with those whose server is the product's but that are not.
void FindProductClasses(ShellScope& scope, ClassRoot& root);
// Removes the shell extension handlers that name a product class, in each class root, and
// the approved list's values of those classes under the scope's Software.
void RemoveShellExtensions(const ShellScope& scope);
// Removes the product classes found; a class kept although its server is the product's is an
// item that stays.
void RemoveProductClasses(const ShellScope& scope);

// Browser native-messaging hosts whose manifest lies in the product's folders, under the
// scope's Software in each of its views.
void RemoveBrowserHosts(const ShellScope& scope);
