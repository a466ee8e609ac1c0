// Product catalogue: the fixed knowledge of what belongs to the product family, and how log
// lines name a scope. Tables are walked first to last; where a first match decides a log
// line, the order matters.
#pragma once

#include <windows.h>

extern const wchar_t* const AddInKeyPaths[2];
extern const wchar_t* const PackageCacheMarkers[3];
extern const wchar_t* const ProcessNames[4];
extern const wchar_t MakerWord[];    // "Quorvex"
extern const wchar_t ProductWord[];  // "Zamo"
// The lists of product keys under a scope; the first is the uninstall list.
extern const wchar_t* const ProductKeyPaths[4];
extern const wchar_t AddInProgId[];  // "Zamo.Outlook.AddIn", the add-in's COM name
extern const wchar_t* const ClickToRunAddInKeyPaths[2];
// The product's own ProgIDs and URL protocols, its by name whatever else their keys hold; its
// applications ("Applications\<name>") are the ProcessNames.
extern const wchar_t* const ProductClassNames[3];
// The scope marker's key below a scope ("Software\Quorvex\Cleaned"), in the 64-bit view only,
// so that a 32-bit and a 64-bit build of the program read and write the same marker.
extern const wchar_t ScopeMarkerKeyPath[];

// Hands the program's names (its log, locks, marker key, rename prefix) to the floors below,
// once at start-up, before the log is opened.
void HandDownProgramNames();

// The catalogue's display name that text equals as a whole, ignoring case, or null.
const wchar_t* CatalogueDisplayName(const wchar_t* text);
// The catalogue name that the opened key's REG_SZ value equals, or null.
const wchar_t* KeyCatalogueName(HKEY key, const wchar_t* valueName);

