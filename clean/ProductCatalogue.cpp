// The product catalogue: processes, display names, package-cache markers and add-in
// keys of the Zamo product family, the add-in's COM name, and the maker's and product's words.
#include "Catalogue.h"

#include "../common/ProgramNames.h"
#include "../common/Registry.h"

#include <shlwapi.h>

const wchar_t* const AddInKeyPaths[2] = {
    L"Software\\Microsoft\\Office\\Outlook\\Addins\\Zamo.Outlook.AddIn",
    L"Software\\Quorvex\\Outlook Add-In",
};

// Office from Click-to-Run reads add-ins from its own copy of the machine's registry.
const wchar_t* const ClickToRunAddInKeyPaths[2] = {
    L"Software\\Microsoft\\Office\\ClickToRun\\REGISTRY\\MACHINE\\Software\\Microsoft\\Office\\Outlook\\Addins\\"
    L"Zamo.Outlook.AddIn",
    L"Software\\Microsoft\\Office\\ClickToRun\\REGISTRY\\MACHINE\\Software\\Wow6432Node\\Microsoft\\Office\\Outlook\\"
    L"Addins\\Zamo.Outlook.AddIn",
};

namespace {
const wchar_t* const ProductDisplayNames[9] = {
    L"Zamo (per-user)",
    L"Zamo (per-machine)",
    L"Zamo Outlook Add-In",
    L"Zamo Deployment",
    L"Zamo Outlook Add-In (per-user)",
    L"Zamo Outlook Add-In (per-machine)",
    L"Zamo Web Installer",
    L"Zamo Web Installer (per-user)",
    L"Zamo Web Installer (per-machine)",
};
} // namespace

const wchar_t* const PackageCacheMarkers[3] = {
    L"ZamoInstallerPerUser.exe",
    L"ZamoSetupPerUserX64.msi",
    L"ZamoOutlookSetupX64.msi",
};

const wchar_t* const ProcessNames[4] = {
    L"Zamo.exe",
    L"ZamoChromiumHelper.exe",
    L"ZamoCrashHandler.exe",
    L"ZamoCptr.exe",
};

const wchar_t MakerWord[] = L"Quorvex";
const wchar_t ProductWord[] = L"Zamo";
const wchar_t AddInProgId[] = L"Zamo.Outlook.AddIn";

const wchar_t* const ProductClassNames[3] = {
    L"Zamo.Document",
    L"zamo",
    L"Zamo.Outlook.AddIn",
};

const wchar_t* const ProductKeyPaths[4] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    L"Software\\Microsoft\\Installer\\Products",
    L"Software\\Classes\\Installer\\Products",
    L"Software\\Classes\\Installer\\Dependencies",
};

const wchar_t ScopeMarkerKeyPath[] = L"Software\\Quorvex\\Cleaned";

void HandDownProgramNames()
{
    HandedNames.program = L"ZamoClean";
    HandedNames.logFolder = L"%LocalAppData%\\ZamoClean";
    HandedNames.logFileName = L"ZamoClean.log";
    HandedNames.markerKeyPath = ScopeMarkerKeyPath;
    HandedNames.renamePrefix = L"~ZamoClean-";
}

const wchar_t* CatalogueDisplayName(const wchar_t* text)
{
    for (const wchar_t* displayName : ProductDisplayNames) {
        if (StrCmpIW(text, displayName) == 0)
            return displayName;
    }
    return nullptr;
}

const wchar_t* KeyCatalogueName(HKEY key, const wchar_t* valueName)
{
    PathBuffer text;
    return RegReadText(key, valueName, text, false) ? CatalogueDisplayName(text) : nullptr;
}

