// Class names and verbs: the names of the class root that Windows itself defines, and the
// verbs of a shell key that start the product.
#include "../ground/ProductTargets.h"
#include "ShellScope.h"

#include "../../common/Registry.h"
#include "../../common/RegistryWalk.h"

#include <shlwapi.h>
#include <wchar.h>

namespace {

// Names of the class root that Windows itself defines: an application may add verbs to them,
// but the keys are the system's and stay whatever they hold. A floor under the rule of content:
// the roots the shell builds on and the file types of Windows' own scripts and settings.
const wchar_t* const WindowsClassNames[31] = {
    L"http",    L"https",    L"ftp",     L"file",    L"mailto",  L"tel",     L"callto",
    L"*",       L"AllFilesystemObjects", L"Directory", L"Drive", L"Folder",  L"htmlfile",
    L"mhtmlfile", L"txtfile", L"exefile", L"lnkfile", L"batfile", L"cmdfile", L"comfile",
    L"SystemFileAssociations", L"Unknown", L"DesktopBackground", L"Network", L"Printers",
    L"regfile", L"inifile", L"inffile", L"VBSFile", L"JSFile",
    L"ms-",  // a prefix: every "ms-..." protocol is the system's
};

} // namespace

bool IsWindowsClassName(const wchar_t* name)
{
    for (const wchar_t* known : WindowsClassNames) {
        if (known[wcslen(known) - 1] == L'-' ? StrCmpNIW(name, known, static_cast<int>(wcslen(known))) == 0
                                             : StrCmpIW(name, known) == 0)
            return true;
    }
    return false;
}

bool IsSingleKeyName(const wchar_t* name)
{
    return name[0] != L'\0' && wcschr(name, L'\\') == nullptr && wcslen(name) < MAX_PATH / 2;
}

void ReadProductVerbs(HKEY shell, REGSAM view, const ProductTargets& targets, Verbs& out)
{
    NameList verbs = {};
    RegReadSubkeyNames(shell, verbs);
    for (DWORD i = 0; i < verbs.count; i++) {
        PathBuffer commandPath;
        HKEY command;
        if (!FormatText(commandPath, L"%s\\command", verbs.names[i]) ||
            !RegOpenAsItself(shell, commandPath, KEY_QUERY_VALUE | view, command))
            continue;
        out.commands++;
        PathBuffer text;
        if (RegReadText(command, nullptr, text, true) && CommandStartsProducts(targets, text))
            AddName(out.products, verbs.names[i]);
        RegCloseKey(command);
    }
    FreeNames(verbs);
}

