// Windows' own file types and classes that the product made itself the handler or server of: only
// the product's verbs and handlers go, the keys stay with their icons and classes, and a class
// served by the product's file stays as an item not removed. A key of another name goes whole only
// when all it holds is the product's, a .NET class by its CodeBase or Assembly; a class list that is
// a registry link is not entered.
#include "clean/shell/ShellRegistrations.h"
#include "change/RunOutcome.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring ProductClass = L"{5A3E0C11-0D2B-4C61-9E1A-7C00000000F1}";
const std::wstring ManagedClass = L"{5A3E0C11-0D2B-4C61-9E1A-7C00000000F2}";
const std::wstring AddInClass = L"{5A3E0C11-0D2B-4C61-9E1A-7C00000000F3}";
const std::wstring FenwickManaged = L"{7C1F2B33-4E5D-4A6B-8C7D-9E00000000F2}";
const std::wstring ShellLink = L"{00021401-0000-0000-C000-000000000046}";
const std::wstring MyComputer = L"{20D04FE0-3AEA-1069-A2D8-08002B30309D}";

Lines Sorted(Lines lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

class WindowsRegistrationsTest : public ::testing::Test {
protected:
    WindowsRegistrationsTest() : programFilesX86(L"ProgramFiles(x86)", (programs / L"PF86").c_str()) {}
    ~WindowsRegistrationsTest() override { DeleteKeyTree(HKEY_USERS, Sid); }

    std::wstring Product(const std::wstring& file) const { return programs / (L"PF86\\Quorvex\\Zamo\\" + file); }
    std::wstring ProductCommand() const { return L"\"" + Product(L"Zamo.exe") + L"\" \"%1\""; }
    bool Set(const std::wstring& path, const wchar_t* name, const std::wstring& value)
    {
        return SetString(HKEY_USERS, Classes + L"\\" + path, name, value);
    }
    bool Exists(const std::wstring& path) { return KeyExists(HKEY_USERS, Classes + L"\\" + path); }
    std::wstring Read(const std::wstring& path, const wchar_t* name = nullptr)
    {
        std::wstring value;
        return ReadString(HKEY_USERS, Classes + L"\\" + path, name, &value) ? value : L"(none)";
    }
    std::wstring Removed(const std::wstring& parent) { return L"Successfully removed from " + Shown + parent; }

    const std::wstring Sid = L"S-1-5-21-7412-7413-7414-1253";
    const std::wstring Classes = Sid + L"\\Software\\Classes";
    const std::wstring Shown = L"HKU\\" + Classes;
    TempFolder programs;
    LogCapture log;
    ScopedVariable programFilesX86;
};

// Windows' own ProgIDs and protocols whose verb an installer pointed at the product: each loses
// that verb alone; its icon, its class and its extension stay, and a handler of the product on the
// extension goes.
TEST_F(WindowsRegistrationsTest, WindowsFileTypesLoseOnlyTheProductsVerb)
{
    struct Type {
        const wchar_t* progId;
        const wchar_t* extension;
        const wchar_t* icon;
        const wchar_t* classId;
    };
    const Type types[] = {
        {L"InternetShortcut", L".url", L"%SystemRoot%\\System32\\ieframe.dll,-190",
         L"{FBF23B40-E3F0-101B-8488-00AA003E56F8}"},
        {L"Msi.Package", L".msi", L"%SystemRoot%\\System32\\msiexec.exe,0", nullptr},
        {L"Microsoft.PowerShellScript.1", L".ps1", L"%SystemRoot%\\System32\\WindowsPowerShell\\v1.0\\powershell.exe,0",
         nullptr},
        {L"htafile", L".hta", L"%SystemRoot%\\System32\\mshta.exe,1", nullptr},
        {L"CompressedFolder", nullptr, nullptr, L"{E88DCCE0-B7B3-11d1-A9F0-00AA0060FA31}"},
        {L"search-ms", nullptr, L"%SystemRoot%\\System32\\imageres.dll,-8", nullptr},
        {L"microsoft-edge", nullptr, L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe,0", nullptr},
        {L"scrfile", L".scr", L"%1", nullptr},
        {L"piffile", L".pif", L"%SystemRoot%\\System32\\imageres.dll,-68", nullptr},
        {L"JSEFile", L".jse", L"%SystemRoot%\\System32\\WScript.exe,3", nullptr},
        {L"WSFFile", L".wsf", L"%SystemRoot%\\System32\\WScript.exe,2", nullptr},
        {L"Word.Document.8", L".doc", nullptr, L"{00020906-0000-0000-C000-000000000046}"},
    };
    ASSERT_TRUE(Set(L"CLSID\\" + ProductClass + L"\\InprocServer32", nullptr, Product(L"ZamoShell.dll")));
    Lines expected = {Removed(L"\\CLSID"), Removed(L"\\.url\\shellex\\ContextMenuHandlers")};
    for (const Type& type : types) {
        std::wstring progId = type.progId;
        ASSERT_TRUE(Set(progId, nullptr, L"A type of Windows"));
        ASSERT_TRUE(Set(progId + L"\\shell\\open\\command", nullptr, ProductCommand()));
        if (type.icon != nullptr) {
            ASSERT_TRUE(Set(progId + L"\\DefaultIcon", nullptr, type.icon));
        }
        if (type.classId != nullptr) {
            ASSERT_TRUE(Set(progId + L"\\CLSID", nullptr, type.classId));
        }
        if (type.extension != nullptr) {
            ASSERT_TRUE(Set(type.extension, nullptr, progId));
        }
        expected.push_back(Removed(L"\\" + progId + L"\\shell"));
    }
    ASSERT_TRUE(Set(L".url\\shellex\\ContextMenuHandlers\\ZamoMenu", nullptr, ProductClass));

    RemoveShellRegistrations(UserScope(Sid.c_str()));

    EXPECT_EQ(Sorted(log.Lines()), Sorted(expected));
    for (const Type& type : types) {
        std::wstring progId = type.progId;
        SCOPED_TRACE(progId);
        EXPECT_FALSE(Exists(progId + L"\\shell\\open"));
        EXPECT_EQ(Read(progId), L"A type of Windows");
        if (type.icon != nullptr) {
            EXPECT_EQ(Read(progId + L"\\DefaultIcon"), type.icon);
        }
        if (type.classId != nullptr) {
            EXPECT_EQ(Read(progId + L"\\CLSID"), type.classId);
        }
        if (type.extension != nullptr) {
            EXPECT_EQ(Read(type.extension), progId);
        }
    }
    EXPECT_FALSE(Exists(L".url\\shellex\\ContextMenuHandlers\\ZamoMenu"));
}

// Windows' classes whose server an installer pointed at the product's file keep everything, their
// handlers too; each is not removed, in both class lists, and the run's exit code says so.
TEST_F(WindowsRegistrationsTest, WindowsClassesServedByTheProductStayAndAreNotRemoved)
{
    for (const wchar_t* list : {L"CLSID\\", L"Wow6432Node\\CLSID\\"}) {
        ASSERT_TRUE(Set(list + ShellLink, nullptr, L"Shortcut"));
        ASSERT_TRUE(Set(list + ShellLink + L"\\InprocServer32", nullptr, Product(L"ZamoShell.dll")));
        ASSERT_TRUE(Set(list + ShellLink + L"\\InprocServer32", L"ThreadingModel", L"Both"));
        ASSERT_TRUE(Set(list + ShellLink + L"\\ProgID", nullptr, L"lnkfile"));
        ASSERT_TRUE(Set(list + MyComputer + L"\\DefaultIcon", nullptr, L"%SystemRoot%\\System32\\imageres.dll,-109"));
        ASSERT_TRUE(Set(list + MyComputer + L"\\InProcServer32", nullptr, Product(L"ZamoShell.dll")));
        ASSERT_TRUE(Set(list + MyComputer + L"\\ShellFolder", L"Attributes", L"b0000164"));
    }
    ASSERT_TRUE(Set(L"lnkfile", L"IsShortcut", L""));
    ASSERT_TRUE(Set(L"*\\shellex\\ContextMenuHandlers\\ZcLink", nullptr, ShellLink));
    ASSERT_TRUE(Set(L"Folder\\shellex\\ContextMenuHandlers\\" + MyComputer, nullptr, L""));
    TestRun run(ExitCodeOptions());

    {
        PreviewRun preview;
        RemoveShellRegistrations(UserScope(Sid.c_str()));
    }
    EXPECT_EQ(log.Lines(), Lines{});
    RemoveShellRegistrations(UserScope(Sid.c_str()));
    EXPECT_EQ(LogRunOutcome(), 1);

    EXPECT_EQ(Sorted(log.Lines()), Sorted({L"Not removed: " + Shown + L"\\CLSID\\" + ShellLink,
                                           L"Not removed: " + Shown + L"\\CLSID\\" + MyComputer,
                                           L"Not removed: " + Shown + L"\\Wow6432Node\\CLSID\\" + ShellLink,
                                           L"Not removed: " + Shown + L"\\Wow6432Node\\CLSID\\" + MyComputer,
                                           L"Exit code [1]"}));
    for (const wchar_t* list : {L"CLSID\\", L"Wow6432Node\\CLSID\\"}) {
        EXPECT_EQ(Read(list + ShellLink + L"\\InprocServer32"), Product(L"ZamoShell.dll"));
        EXPECT_EQ(Read(list + ShellLink + L"\\ProgID"), L"lnkfile");
        EXPECT_EQ(Read(list + MyComputer + L"\\DefaultIcon"), L"%SystemRoot%\\System32\\imageres.dll,-109");
        EXPECT_TRUE(Exists(list + MyComputer + L"\\InProcServer32"));
    }
    EXPECT_EQ(Read(L"*\\shellex\\ContextMenuHandlers\\ZcLink"), ShellLink);
    EXPECT_TRUE(Exists(L"Folder\\shellex\\ContextMenuHandlers\\" + MyComputer));
}

// Keys of other names: one wholly the product's goes whole with its class and extension; one
// with another program's verb, or another program's icon, loses the product's verb alone, and
// its extension stays. .NET classes go by their CodeBase or Assembly; another maker's stays.
TEST_F(WindowsRegistrationsTest, OtherNamesGoWholeOnlyWhenAllTheyHoldIsTheProducts)
{
    ASSERT_TRUE(Set(L"Fenwick.ZamoView\\shell\\open\\command", nullptr, ProductCommand()));
    ASSERT_TRUE(Set(L"Fenwick.ZamoView\\shell\\edit\\command", nullptr, ProductCommand()));
    ASSERT_TRUE(Set(L"Fenwick.ZamoView\\DefaultIcon", nullptr, L"\"" + Product(L"Zamo.exe") + L"\",2"));
    ASSERT_TRUE(Set(L"Fenwick.ZamoView\\CLSID", nullptr, ProductClass));
    ASSERT_TRUE(Set(L"Fenwick.ZamoView\\CurVer", nullptr, L"Fenwick.ZamoView.2"));
    ASSERT_TRUE(Set(L"Fenwick.ZamoView.2\\shell\\open\\command", nullptr, ProductCommand()));
    ASSERT_TRUE(Set(L"Fenwick.ZamoView", L"FriendlyTypeName", L"@C:\\windows\\system32\\shell32.dll,-1"));
    ASSERT_TRUE(Set(L"CLSID\\" + ProductClass + L"\\LocalServer32", nullptr, ProductCommand()));
    ASSERT_TRUE(Set(L"CLSID\\" + ProductClass + L"\\ProgID", nullptr, L"Fenwick.ZamoView"));
    ASSERT_TRUE(Set(L".zview", nullptr, L"Fenwick.ZamoView"));
    ASSERT_TRUE(Set(L"Fenwick.Mixed\\shell\\open\\command", nullptr, ProductCommand()));
    ASSERT_TRUE(Set(L"Fenwick.Mixed\\shell\\print\\command", nullptr, L"notepad.exe /p \"%1\""));
    ASSERT_TRUE(Set(L"Fenwick.Painted\\shell\\open\\command", nullptr, ProductCommand()));
    ASSERT_TRUE(Set(L"Fenwick.Painted\\DefaultIcon", nullptr, L"C:\\Fenwick\\paint.ico"));
    ASSERT_TRUE(Set(L".fpaint", nullptr, L"Fenwick.Painted"));
    // A verb without a command that hands its work to another class is not the product's.
    ASSERT_TRUE(Set(L"Fenwick.Delegated\\shell\\open\\command", nullptr, ProductCommand()));
    ASSERT_TRUE(Set(L"Fenwick.Delegated\\shell\\preview", L"ExplorerCommandHandler", MyComputer));
    // An icon too long to read is not taken for the product's.
    ASSERT_TRUE(Set(L"Fenwick.LongIcon\\shell\\open\\command", nullptr, ProductCommand()));
    ASSERT_TRUE(Set(L"Fenwick.LongIcon\\DefaultIcon", nullptr, Product(std::wstring(300, L'a') + L".ico")));
    ASSERT_TRUE(Set(L"Applications\\FenwickTool.exe\\shell\\zamo\\command", nullptr, ProductCommand()));
    ASSERT_TRUE(Set(L"Applications\\FenwickTool.exe\\shell\\open\\command", nullptr, L"C:\\Fenwick\\tool.exe \"%1\""));
    const std::wstring runtime = L"C:\\windows\\system32\\mscoree.dll";
    ASSERT_TRUE(Set(L"CLSID\\" + ManagedClass + L"\\InprocServer32", nullptr, runtime));
    std::wstring codeBase = L"file:///" + Product(L"Zamo.Interop.dll");
    std::replace(codeBase.begin(), codeBase.end(), L'\\', L'/');
    ASSERT_TRUE(Set(L"CLSID\\" + ManagedClass + L"\\InprocServer32", L"CodeBase", codeBase));
    ASSERT_TRUE(Set(L"CLSID\\" + AddInClass + L"\\InprocServer32", nullptr, L"mscoree.dll"));
    ASSERT_TRUE(Set(L"CLSID\\" + AddInClass + L"\\InprocServer32", L"Assembly",
                    L"Zamo.Outlook.AddIn, Version=1.0.0.0, Culture=neutral, PublicKeyToken=null"));
    ASSERT_TRUE(Set(L"CLSID\\" + FenwickManaged + L"\\InprocServer32", nullptr, runtime));
    ASSERT_TRUE(Set(L"CLSID\\" + FenwickManaged + L"\\InprocServer32", L"CodeBase", L"file:///C:/Fenwick/Interop.dll"));

    RemoveShellRegistrations(UserScope(Sid.c_str()));

    EXPECT_EQ(Sorted(log.Lines()), Sorted({Removed(L""), Removed(L""), Removed(L""), Removed(L"\\CLSID"),
                                           Removed(L"\\CLSID"), Removed(L"\\CLSID"), Removed(L"\\Fenwick.Mixed\\shell"),
                                           Removed(L"\\Fenwick.Painted\\shell"), Removed(L"\\Fenwick.LongIcon\\shell"),
                                           Removed(L"\\Fenwick.Delegated\\shell"),
                                           Removed(L"\\Applications\\FenwickTool.exe\\shell")}));
    for (const wchar_t* gone : {L"Fenwick.ZamoView", L"Fenwick.ZamoView.2", L".zview", L"Fenwick.Mixed\\shell\\open",
                                L"Fenwick.Painted\\shell\\open", L"Applications\\FenwickTool.exe\\shell\\zamo"})
        EXPECT_FALSE(Exists(gone)) << gone;
    for (const std::wstring& classId : {ProductClass, ManagedClass, AddInClass})
        EXPECT_FALSE(Exists(L"CLSID\\" + classId)) << classId;
    EXPECT_TRUE(Exists(L"Fenwick.Mixed\\shell\\print\\command"));
    EXPECT_EQ(Read(L"Fenwick.Painted\\DefaultIcon"), L"C:\\Fenwick\\paint.ico");
    EXPECT_EQ(Read(L".fpaint"), L"Fenwick.Painted");
    EXPECT_TRUE(Exists(L"Fenwick.LongIcon\\DefaultIcon"));
    EXPECT_TRUE(Exists(L"Fenwick.Delegated\\shell\\preview"));
    EXPECT_TRUE(Exists(L"Applications\\FenwickTool.exe\\shell\\open\\command"));
    EXPECT_TRUE(Exists(L"CLSID\\" + FenwickManaged + L"\\InprocServer32"));
}

// A class list replaced by a registry link: the run reads the link as itself, finds no class in
// it, and leaves the key it leads to as it was.
TEST_F(WindowsRegistrationsTest, AClassListThatIsARegistryLinkIsNotEntered)
{
    const std::wstring target = Sid + L"\\Elsewhere\\CLSID";
    ASSERT_TRUE(SetString(HKEY_USERS, target + L"\\" + ProductClass + L"\\InprocServer32", nullptr,
                          Product(L"ZamoShell.dll")));
    ASSERT_TRUE(CreateKey(HKEY_USERS, Classes));
    RegistryLink link(HKEY_USERS, Classes + L"\\CLSID", L"\\REGISTRY\\User\\" + target);
    if (!link.Made())
        GTEST_SKIP() << "Wine made no registry link here";
    ASSERT_TRUE(Set(L"*\\shellex\\ContextMenuHandlers\\ZamoMenu", nullptr, ProductClass));

    RemoveShellRegistrations(UserScope(Sid.c_str()));

    EXPECT_EQ(log.Lines(), Lines{});
    EXPECT_TRUE(link.Exists());
    EXPECT_TRUE(KeyExists(HKEY_USERS, target + L"\\" + ProductClass + L"\\InprocServer32"));
    EXPECT_TRUE(Exists(L"*\\shellex\\ContextMenuHandlers\\ZamoMenu"));
}

// A user's class root replaced by a registry link that is not Windows' own (which leads to the
// user's "<SID>_Classes"): the run reads the link as itself, finds no class root in it, and
// leaves what it leads to as it was, in a preview and in a real run.
TEST_F(WindowsRegistrationsTest, AClassRootThatIsARegistryLinkElsewhereIsNotEntered)
{
    const std::wstring target = Sid + L"\\Elsewhere";
    const std::wstring server = target + L"\\CLSID\\" + ProductClass + L"\\InprocServer32";
    const std::wstring handler = target + L"\\*\\shellex\\ContextMenuHandlers\\ZamoMenu";
    ASSERT_TRUE(SetString(HKEY_USERS, server, nullptr, Product(L"ZamoShell.dll")));
    ASSERT_TRUE(SetString(HKEY_USERS, handler, nullptr, ProductClass));
    ASSERT_TRUE(CreateKey(HKEY_USERS, Sid + L"\\Software"));
    RegistryLink link(HKEY_USERS, Classes, L"\\REGISTRY\\User\\" + target);
    if (!link.Made())
        GTEST_SKIP() << "Wine made no registry link here";

    {
        PreviewRun preview;
        RemoveShellRegistrations(UserScope(Sid.c_str()));
    }
    RemoveShellRegistrations(UserScope(Sid.c_str()));

    EXPECT_EQ(log.Lines(), Lines{});
    EXPECT_TRUE(link.Exists());
    EXPECT_TRUE(KeyExists(HKEY_USERS, server));
    EXPECT_TRUE(KeyExists(HKEY_USERS, handler));
}

// Each kind of server a class may have counts, whatever the spelling of its key: a class goes
// when every server it has is the product's, and stays with one of another program's. A class
// that is a registry link to the product's class is read as itself: it and its target stay.
TEST_F(WindowsRegistrationsTest, EveryKindOfServerCountsWhateverItsSpelling)
{
    const std::wstring target = Sid + L"\\Elsewhere\\" + ProductClass;
    ASSERT_TRUE(SetString(HKEY_USERS, target + L"\\InprocServer32", nullptr, Product(L"ZamoShell.dll")));
    const struct {
        const wchar_t* classId;
        std::vector<std::pair<const wchar_t*, std::wstring>> servers;
        bool removed;
    } cases[] = {
        {L"{5A3E0C11-0D2B-4C61-9E1A-7C0000000A01}", {{L"InprocHandler32", Product(L"ZamoShell.dll")}}, true},
        {L"{5A3E0C11-0D2B-4C61-9E1A-7C0000000A02}", {{L"LocalServer", ProductCommand()}}, true},
        {L"{5A3E0C11-0D2B-4C61-9E1A-7C0000000A03}", {{L"InprocServer", Product(L"ZamoShell.dll")}}, true},
        {L"{5A3E0C11-0D2B-4C61-9E1A-7C0000000A04}", {{L"inprocserver32", Product(L"ZamoShell.dll")}}, true},
        {L"{5A3E0C11-0D2B-4C61-9E1A-7C0000000A05}",
         {{L"InprocServer32", Product(L"ZamoShell.dll")}, {L"LocalServer32", L"C:\\Fenwick\\host.exe -Embedding"}},
         false},
        {L"{5A3E0C11-0D2B-4C61-9E1A-7C0000000A06}",
         {{L"InprocServer32", Product(L"ZamoShell.dll")}, {L"LOCALSERVER32", ProductCommand()}}, true},
        // A key of another name is no server, even with the product's file in it.
        {L"{5A3E0C11-0D2B-4C61-9E1A-7C0000000A07}", {{L"InprocServer64", Product(L"ZamoShell.dll")}}, false},
    };
    for (const auto& c : cases) {
        for (const auto& server : c.servers)
            ASSERT_TRUE(Set(std::wstring(L"CLSID\\") + c.classId + L"\\" + server.first, nullptr, server.second));
    }
    RegistryLink link(HKEY_USERS, Classes + L"\\CLSID\\" + ProductClass, L"\\REGISTRY\\User\\" + target);
    if (!link.Made())
        GTEST_SKIP() << "Wine made no registry link here";

    RemoveShellRegistrations(UserScope(Sid.c_str()));

    Lines removed;
    for (const auto& c : cases) {
        EXPECT_EQ(Exists(std::wstring(L"CLSID\\") + c.classId), !c.removed) << c.classId;
        if (c.removed)
            removed.push_back(Removed(L"\\CLSID"));
    }
    EXPECT_EQ(log.Lines(), removed);
    EXPECT_TRUE(link.Exists());
    EXPECT_TRUE(KeyExists(HKEY_USERS, target + L"\\InprocServer32"));
}

} // namespace
