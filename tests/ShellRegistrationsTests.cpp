// The product's shell registrations: App Paths, applications, file types, extensions, "Open
// with" records, URL protocols, COM servers and their shell extensions, browser hosts and
// registered applications, in a test user's hive, a class hive and the machine in both views,
// each beside another maker's registration that stays. The program folders are redirected to
// temporary folders through the environment.
#include "clean/starts/FirewallRules.h"
#include "clean/shell/ShellRegistrations.h"
#include "change/ServiceChanges.h"
#include "support/TestMachine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <initguid.h>
#include <netfw.h>

#include <algorithm>

namespace {

typedef std::vector<std::wstring> Lines;

const REGSAM V64 = KEY_WOW64_64KEY;
const REGSAM V32 = KEY_WOW64_32KEY;
const std::wstring ProductClass = L"{5A3E0C11-0D2B-4C61-9E1A-7C00000000E1}";
const std::wstring SystemClass = L"{7C1F2B33-4E5D-4A6B-8C7D-9E00000000E1}";

Lines Sorted(Lines lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// What a preview names and a real run reports for the keys and values it takes.
struct Expected {
    Lines preview;
    Lines real;
    void Key(const std::wstring& parent, const std::wstring& name)
    {
        preview.push_back(L"Would remove " + parent + L"\\" + name);
        real.push_back(L"Successfully removed from " + parent);
    }
    void Value(const std::wstring& key, const std::wstring& name)
    {
        preview.push_back(L"Would remove value [" + name + L"] from " + key);
        real.push_back(L"Removed value [" + name + L"] from " + key);
    }
};

class ShellRegistrationsTest : public ::testing::Test {
protected:
    ShellRegistrationsTest() { testUser.DefineShellFolder(L"Local AppData", L"%USERPROFILE%\\AppData\\Local"); }
    std::wstring Pf86(const std::wstring& tail) const { return programs.Pf86(tail); }
    std::wstring Quoted(const std::wstring& path) const { return L"\"" + path + L"\" \"%1\""; }
    // The product's program and another maker's, as installers write their commands.
    std::wstring ProductCommand() const { return Quoted(Pf86(L"\\Quorvex\\Zamo\\Zamo.exe")); }
    std::wstring OtherCommand() const { return Quoted(Pf86(L"\\Fenwick\\Notes\\FenwickNotes.exe")); }

    // A ProgID or protocol with one verb per command, below classes.
    bool Verbs(HKEY root, const std::wstring& key, std::initializer_list<std::pair<const wchar_t*, std::wstring>> verbs,
               REGSAM view = V64)
    {
        for (const auto& verb : verbs) {
            if (!keys.SetString(root, key + L"\\shell\\" + verb.first + L"\\command", nullptr, verb.second, view))
                return false;
        }
        return true;
    }

    const std::wstring Sid = L"S-1-5-21-7412-7413-7414-1251";
    ProgramFolders programs;
    TestUser testUser{Sid, L"Profile S"};
    LogCapture log;
    ScratchKeys keys;
};

TEST_F(ShellRegistrationsTest, UsersFileTypesProtocolsAndOpenWithRecordsOfTheProductGoOthersStay)
{
    const std::wstring classes = Sid + L"\\Software\\Classes";
    const std::wstring shown = L"HKU\\" + classes;
    // The product's document type and protocol; another maker's; and the near misses.
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\Zamo.Document", {{L"open", ProductCommand()}, {L"edit", ProductCommand()}}));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\Zamo.Document\\DefaultIcon", nullptr, L"C:\\Fenwick\\icon.ico"));
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\zamo", {{L"open", ProductCommand()}}));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\zamo", L"URL Protocol", L""));
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\Fenwick.Note", {{L"open", OtherCommand()}}));
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\Zamo.Mixed", {{L"open", ProductCommand()}, {L"print", OtherCommand()}}));
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\Quorvex.Tools.Doc", {{L"open", Quoted(Pf86(L"\\Quorvex Tools\\tool.exe"))}}));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\Zamo.NoVerb\\CLSID", nullptr, ProductClass));
    // Windows' own names: only the product's verbs go.
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\http", {{L"open", ProductCommand()}, {L"fenwick", OtherCommand()}}));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\http", L"URL Protocol", L""));
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\ms-zamo", {{L"open", ProductCommand()}}));
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\Directory", {{L"ZamoHere", ProductCommand()}, {L"FenwickHere", OtherCommand()}}));
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\Directory\\Background", {{L"ZamoHere", ProductCommand()}}));
    // Extensions: one left empty goes whole; one keeps its other values; one names another ProgID.
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.zdoc", nullptr, L"Zamo.Document"));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.zdoc\\OpenWithProgids", L"Zamo.Document", L""));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.zcsv", nullptr, L"Zamo.Document"));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.zcsv", L"Content Type", L"text/csv"));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.note", nullptr, L"Fenwick.Note"));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.note\\OpenWithProgids", L"Zamo.Document", L""));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.note\\OpenWithProgids", L"Fenwick.Note", L""));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.mixd", nullptr, L"Zamo.Mixed"));
    // Applications that "Open with" lists.
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\Applications\\Zamo.exe", {{L"open", ProductCommand()}}));
    ASSERT_TRUE(Verbs(HKEY_USERS, classes + L"\\Applications\\FenwickNotes.exe", {{L"open", OtherCommand()}}));
    const std::wstring fileExt = Sid + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.note";
    ASSERT_TRUE(SetString(HKEY_USERS, fileExt + L"\\OpenWithList", L"a", L"Zamo.exe"));
    ASSERT_TRUE(SetString(HKEY_USERS, fileExt + L"\\OpenWithList", L"b", L"FenwickNotes.exe"));
    ASSERT_TRUE(SetString(HKEY_USERS, fileExt + L"\\OpenWithList", L"MRUList", L"ab"));
    ASSERT_TRUE(SetString(HKEY_USERS, fileExt + L"\\OpenWithProgids", L"Zamo.Document", L""));
    ASSERT_TRUE(SetString(HKEY_USERS, fileExt + L"\\OpenWithProgids", L"Fenwick.Note", L""));
    ASSERT_TRUE(SetString(HKEY_USERS, fileExt + L"\\UserChoice", L"ProgId", L"Zamo.Document"));

    Expected expected;
    expected.Value(L"HKU\\" + fileExt + L"\\OpenWithList", L"a");
    expected.Value(L"HKU\\" + fileExt + L"\\OpenWithProgids", L"Zamo.Document");
    expected.Key(shown, L".zdoc");
    expected.Value(shown + L"\\.zcsv", L"");
    expected.Value(shown + L"\\.note\\OpenWithProgids", L"Zamo.Document");
    expected.Key(shown + L"\\Applications", L"Zamo.exe");
    expected.Key(shown, L"zamo");
    expected.Key(shown, L"Zamo.Document");
    expected.Key(shown + L"\\Zamo.Mixed\\shell", L"open");
    expected.Key(shown + L"\\http\\shell", L"open");
    expected.Key(shown + L"\\ms-zamo\\shell", L"open");
    expected.Key(shown + L"\\Directory\\shell", L"ZamoHere");
    expected.Key(shown + L"\\Directory\\Background\\shell", L"ZamoHere");

    {
        PreviewRun preview;
        RemoveUserShellRegistrations(Sid.c_str());
    }
    EXPECT_EQ(Sorted(log.Lines()), Sorted(expected.preview));
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\Zamo.Document\\shell\\open\\command"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\.zdoc"));

    log.Clear();
    RemoveUserShellRegistrations(Sid.c_str());
    EXPECT_EQ(Sorted(log.Lines()), Sorted(expected.real));
    for (const wchar_t* gone : {L"\\Zamo.Document", L"\\zamo", L"\\.zdoc", L"\\Applications\\Zamo.exe", L"\\Zamo.Mixed\\shell\\open",
                                L"\\http\\shell\\open", L"\\ms-zamo\\shell\\open", L"\\Directory\\shell\\ZamoHere",
                                L"\\Directory\\Background\\shell\\ZamoHere"})
        EXPECT_FALSE(KeyExists(HKEY_USERS, classes + gone)) << gone;
    for (const wchar_t* kept : {L"\\Fenwick.Note\\shell\\open\\command", L"\\Zamo.Mixed\\shell\\print\\command", L"\\Quorvex.Tools.Doc\\shell\\open\\command",
                                L"\\Zamo.NoVerb\\CLSID", L"\\http\\shell\\fenwick\\command", L"\\ms-zamo\\shell",
                                L"\\Directory\\shell\\FenwickHere\\command", L"\\Applications\\FenwickNotes.exe",
                                L"\\.zcsv", L"\\.mixd", L"\\.note\\OpenWithProgids"})
        EXPECT_TRUE(KeyExists(HKEY_USERS, classes + kept)) << kept;
    std::wstring value;
    EXPECT_TRUE(ReadString(HKEY_USERS, classes + L"\\http", L"URL Protocol", &value));
    EXPECT_FALSE(ReadString(HKEY_USERS, classes + L"\\.zcsv", nullptr, &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, classes + L"\\.zcsv", L"Content Type", &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, classes + L"\\.note", nullptr, &value) && value == L"Fenwick.Note");
    EXPECT_TRUE(ReadString(HKEY_USERS, classes + L"\\.mixd", nullptr, &value) && value == L"Zamo.Mixed");
    EXPECT_FALSE(ReadString(HKEY_USERS, classes + L"\\.note\\OpenWithProgids", L"Zamo.Document", &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, classes + L"\\.note\\OpenWithProgids", L"Fenwick.Note", &value));
    EXPECT_FALSE(ReadString(HKEY_USERS, fileExt + L"\\OpenWithList", L"a", &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, fileExt + L"\\OpenWithList", L"b", &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, fileExt + L"\\OpenWithList", L"MRUList", &value));
    EXPECT_FALSE(ReadString(HKEY_USERS, fileExt + L"\\OpenWithProgids", L"Zamo.Document", &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, fileExt + L"\\OpenWithProgids", L"Fenwick.Note", &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, fileExt + L"\\UserChoice", L"ProgId", &value));

    // What stays is another program's: a second run finds nothing.
    log.Clear();
    RemoveUserShellRegistrations(Sid.c_str());
    EXPECT_EQ(log.Lines(), Lines{});
}

TEST_F(ShellRegistrationsTest, UsersComServersShellExtensionsHostsAndApplicationsOfTheProductGo)
{
    const std::wstring software = Sid + L"\\Software";
    const std::wstring classes = software + L"\\Classes";
    const std::wstring shown = L"HKU\\" + classes;
    const std::wstring appPaths = software + L"\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    const std::wstring approved = software + L"\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
    const std::wstring chrome = software + L"\\Google\\Chrome\\NativeMessagingHosts";
    const std::wstring firefox = software + L"\\Mozilla\\NativeMessagingHosts";
    const std::wstring registered = software + L"\\RegisteredApplications";
    const std::wstring localProduct = testUser.Profile() + L"\\AppData\\Local\\Quorvex\\Zamo";

    ASSERT_TRUE(SetString(HKEY_USERS, appPaths + L"\\Zamo.exe", nullptr, localProduct + L"\\Zamo.exe"));
    ASSERT_TRUE(SetString(HKEY_USERS, appPaths + L"\\FenwickNotes.exe", nullptr, Pf86(L"\\Fenwick\\Notes\\FenwickNotes.exe")));
    ASSERT_TRUE(SetString(HKEY_USERS, appPaths + L"\\QuorvexTool.exe", nullptr, Pf86(L"\\Quorvex Tools\\tool.exe")));
    // A class served from the product's folder (the user's own terms) and one served by a system file.
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\CLSID\\" + ProductClass + L"\\InprocServer32", nullptr,
                          L"%LOCALAPPDATA%\\Quorvex\\Zamo\\ZamoShell.dll", V64, REG_EXPAND_SZ));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\Wow6432Node\\CLSID\\" + ProductClass + L"\\LocalServer32", nullptr,
                          L"\"" + localProduct + L"\\Zamo.exe\" -Embedding"));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\CLSID\\" + SystemClass + L"\\InprocServer32", nullptr,
                          L"C:\\windows\\system32\\shell32.dll"));
    // Handlers naming each class, by their value and by their name.
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\*\\shellex\\ContextMenuHandlers\\ZamoMenu", nullptr, ProductClass));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\*\\shellex\\ContextMenuHandlers\\FenwickMenu", nullptr, SystemClass));
    ASSERT_TRUE(CreateKey(HKEY_USERS, classes + L"\\Directory\\Background\\shellex\\ContextMenuHandlers\\" + ProductClass));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.zdoc\\shellex\\PropertySheetHandlers\\ZamoProps", nullptr, ProductClass));
    ASSERT_TRUE(SetString(HKEY_USERS, classes + L"\\.zdoc", L"PerceivedType", L"document"));
    ASSERT_TRUE(SetString(HKEY_USERS, approved, ProductClass.c_str(), L"Zamo shell extension"));
    ASSERT_TRUE(SetString(HKEY_USERS, approved, SystemClass.c_str(), L"Fenwick"));
    ASSERT_TRUE(SetString(HKEY_USERS, chrome + L"\\com.quorvex.zamo", nullptr, L"%LOCALAPPDATA%\\Quorvex\\Zamo\\host.json",
                          V64, REG_EXPAND_SZ));
    ASSERT_TRUE(SetString(HKEY_USERS, chrome + L"\\com.fenwick.notes", nullptr, L"C:\\Fenwick\\host.json"));
    ASSERT_TRUE(SetString(HKEY_USERS, firefox + L"\\com.quorvex.tools", nullptr, Pf86(L"\\Quorvex Tools\\host.json")));
    ASSERT_TRUE(SetString(HKEY_USERS, registered, L"Zamo", L"Software\\Quorvex\\Zamo\\Capabilities"));
    ASSERT_TRUE(SetString(HKEY_USERS, registered, L"Fenwick Notes", L"Software\\Fenwick\\Notes\\Capabilities"));
    ASSERT_TRUE(SetString(HKEY_USERS, registered, L"Quorvex Tools", L"Software\\Quorvex Tools\\Capabilities"));

    Expected expected;
    expected.Key(L"HKU\\" + appPaths, L"Zamo.exe");
    expected.Key(shown + L"\\*\\shellex\\ContextMenuHandlers", L"ZamoMenu");
    expected.Key(shown + L"\\Directory\\Background\\shellex\\ContextMenuHandlers", ProductClass);
    expected.Key(shown + L"\\.zdoc\\shellex\\PropertySheetHandlers", L"ZamoProps");
    expected.Value(L"HKU\\" + approved, ProductClass);
    expected.Key(shown + L"\\CLSID", ProductClass);
    expected.Key(shown + L"\\Wow6432Node\\CLSID", ProductClass);
    expected.Key(L"HKU\\" + chrome, L"com.quorvex.zamo");
    expected.Value(L"HKU\\" + registered, L"Zamo");

    {
        PreviewRun preview;
        RemoveUserShellRegistrations(Sid.c_str());
    }
    EXPECT_EQ(Sorted(log.Lines()), Sorted(expected.preview));
    log.Clear();
    RemoveUserShellRegistrations(Sid.c_str());
    EXPECT_EQ(Sorted(log.Lines()), Sorted(expected.real));

    EXPECT_FALSE(KeyExists(HKEY_USERS, appPaths + L"\\Zamo.exe"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, appPaths + L"\\FenwickNotes.exe"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, appPaths + L"\\QuorvexTool.exe"));
    EXPECT_FALSE(KeyExists(HKEY_USERS, classes + L"\\CLSID\\" + ProductClass));
    EXPECT_FALSE(KeyExists(HKEY_USERS, classes + L"\\Wow6432Node\\CLSID\\" + ProductClass));
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\CLSID\\" + SystemClass + L"\\InprocServer32"));
    EXPECT_FALSE(KeyExists(HKEY_USERS, classes + L"\\*\\shellex\\ContextMenuHandlers\\ZamoMenu"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\*\\shellex\\ContextMenuHandlers\\FenwickMenu"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\.zdoc\\shellex\\PropertySheetHandlers"));
    std::wstring value;
    EXPECT_FALSE(ReadString(HKEY_USERS, approved, ProductClass.c_str(), &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, approved, SystemClass.c_str(), &value));
    EXPECT_FALSE(KeyExists(HKEY_USERS, chrome + L"\\com.quorvex.zamo"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, chrome + L"\\com.fenwick.notes"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, firefox + L"\\com.quorvex.tools"));
    EXPECT_FALSE(ReadString(HKEY_USERS, registered, L"Zamo", &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, registered, L"Fenwick Notes", &value));
    EXPECT_TRUE(ReadString(HKEY_USERS, registered, L"Quorvex Tools", &value));
}

// The machine's registrations in both views, in the machine's terms, and a user's entries that
// name the machine's ProgID and class.
TEST_F(ShellRegistrationsTest, MachinesRegistrationsGoInBothViewsAndUsersEntriesMayNameThem)
{
    const std::wstring classes = L"Software\\Classes";
    const std::wstring appPaths = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    const std::wstring edge = L"Software\\Microsoft\\Edge\\NativeMessagingHosts";
    const std::wstring product64 = L"\"%ProgramW6432%\\Quorvex\\Zamo\\Zamo.exe\" \"%1\"";
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, classes + L"\\ZcTest.Zamo64\\shell\\open\\command", nullptr,
                               product64, V64, REG_EXPAND_SZ));
    ASSERT_TRUE(Verbs(HKEY_LOCAL_MACHINE, classes + L"\\ZcTest.Zamo32", {{L"open", ProductCommand()}}, V32));
    ASSERT_TRUE(Verbs(HKEY_LOCAL_MACHINE, classes + L"\\ZcTest.Fenwick32", {{L"open", OtherCommand()}}, V32));
    // A user's OpenWithProgids in the user's own classes names the machine's ProgID.
    ASSERT_TRUE(SetString(HKEY_USERS, Sid + L"\\Software\\Classes\\.zctest\\OpenWithProgids", L"ZcTest.Zamo32", L""));
    ASSERT_TRUE(SetString(HKEY_USERS, Sid + L"\\Software\\Classes\\.zctest", L"Content Type", L"x"));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, classes + L"\\CLSID\\" + ProductClass + L"\\LocalServer32", nullptr,
                               L"\"" + Pf86(L"\\Quorvex\\Zamo\\ZamoBroker.exe") + L"\"", V32));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, classes + L"\\CLSID\\" + SystemClass + L"\\InprocServer32", nullptr,
                               L"%SystemRoot%\\system32\\shell32.dll", V32, REG_EXPAND_SZ));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, classes + L"\\Drive\\shellex\\PropertySheetHandlers\\ZcTestZamo",
                               nullptr, ProductClass, V32));
    // The user's handler names the machine's class.
    ASSERT_TRUE(SetString(HKEY_USERS, Sid + L"\\Software\\Classes\\Folder\\shellex\\ContextMenuHandlers\\Zamo", nullptr,
                          ProductClass));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, appPaths + L"\\ZcTestZamo.exe", nullptr,
                               L"%ProgramW6432%\\Quorvex\\Zamo\\Zamo.exe", V64, REG_EXPAND_SZ));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, appPaths + L"\\ZcTestZamo32.exe", nullptr,
                               Pf86(L"\\Quorvex\\Zamo\\Zamo.exe"), V32));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, appPaths + L"\\ZcTestFenwick.exe", nullptr,
                               Pf86(L"\\Fenwick\\Notes\\FenwickNotes.exe"), V32));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, edge + L"\\com.zctest.zamo", nullptr,
                               Pf86(L"\\Quorvex\\Zamo\\host.json"), V32));
    ASSERT_TRUE(keys.SetString(HKEY_LOCAL_MACHINE, edge + L"\\com.zctest.fenwick", nullptr,
                               Pf86(L"\\Fenwick\\host.json"), V32));

    // The user's scope first, as the run takes it: the machine's keys are still there.
    RemoveUserShellRegistrations(Sid.c_str());
    const std::wstring user = L"HKU\\" + Sid + L"\\Software\\Classes";
    EXPECT_EQ(Sorted(log.Lines()), Sorted({L"Removed value [ZcTest.Zamo32] from " + user + L"\\.zctest\\OpenWithProgids",
                                           L"Successfully removed from " + user + L"\\Folder\\shellex\\ContextMenuHandlers"}));

    Expected expected;
    expected.Key(L"HKLM\\" + appPaths, L"ZcTestZamo.exe");
    expected.Key(L"HKLM\\" + appPaths, L"ZcTestZamo32.exe");
    expected.Key(L"HKLM\\" + classes + L"\\Drive\\shellex\\PropertySheetHandlers", L"ZcTestZamo");
    // The 32-bit view's class list is the 64-bit view's Wow6432Node\CLSID: read once, from there.
    expected.Key(L"HKLM\\" + classes + L"\\Wow6432Node\\CLSID", ProductClass);
    expected.Key(L"HKLM\\" + classes, L"ZcTest.Zamo64");
    expected.Key(L"HKLM\\" + classes, L"ZcTest.Zamo32");
    expected.Key(L"HKLM\\" + edge, L"com.zctest.zamo");
    log.Clear();
    {
        PreviewRun preview;
        RemoveMachineShellRegistrations();
    }
    EXPECT_EQ(Sorted(log.Lines()), Sorted(expected.preview));
    log.Clear();
    RemoveMachineShellRegistrations();
    EXPECT_EQ(Sorted(log.Lines()), Sorted(expected.real));

    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\ZcTest.Zamo64", V64));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\ZcTest.Zamo32", V32));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\ZcTest.Fenwick32\\shell\\open\\command", V32));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\CLSID\\" + ProductClass, V32));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\CLSID\\" + SystemClass + L"\\InprocServer32", V32));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, appPaths + L"\\ZcTestZamo.exe", V64));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, appPaths + L"\\ZcTestZamo32.exe", V32));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, appPaths + L"\\ZcTestFenwick.exe", V32));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, edge + L"\\com.zctest.zamo", V32));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, edge + L"\\com.zctest.fenwick", V32));
}

TEST_F(ShellRegistrationsTest, ClassHiveOfAnUnloadedProfileLosesTheProductsTypesAndClasses)
{
    const std::wstring hive = Sid + L"_Classes";
    const std::wstring local = L"\"%LOCALAPPDATA%\\Quorvex\\Zamo\\Zamo.exe\" \"%1\"";
    ASSERT_TRUE(SetString(HKEY_USERS, hive + L"\\Zamo.Document\\shell\\open\\command", nullptr, local, V64, REG_EXPAND_SZ));
    ASSERT_TRUE(SetString(HKEY_USERS, hive + L"\\Fenwick.Note\\shell\\open\\command", nullptr, OtherCommand()));
    ASSERT_TRUE(SetString(HKEY_USERS, hive + L"\\.zdoc", nullptr, L"Zamo.Document"));
    ASSERT_TRUE(SetString(HKEY_USERS, hive + L"\\.note", nullptr, L"Fenwick.Note"));
    ASSERT_TRUE(SetString(HKEY_USERS, hive + L"\\CLSID\\" + ProductClass + L"\\InprocServer32", nullptr,
                          L"%LOCALAPPDATA%\\Quorvex\\Zamo\\ZamoShell.dll", V64, REG_EXPAND_SZ));
    ASSERT_TRUE(SetString(HKEY_USERS, hive + L"\\CLSID\\" + SystemClass + L"\\InprocServer32", nullptr,
                          L"C:\\windows\\system32\\shell32.dll"));

    RemoveClassHiveShellRegistrations(Sid.c_str(), hive.c_str());

    EXPECT_EQ(Sorted(log.Lines()), Sorted({L"Successfully removed from HKU\\" + hive,
                                           L"Successfully removed from HKU\\" + hive + L"\\CLSID",
                                           L"Successfully removed from HKU\\" + hive}));
    EXPECT_FALSE(KeyExists(HKEY_USERS, hive + L"\\Zamo.Document"));
    EXPECT_FALSE(KeyExists(HKEY_USERS, hive + L"\\.zdoc"));
    EXPECT_FALSE(KeyExists(HKEY_USERS, hive + L"\\CLSID\\" + ProductClass));
    EXPECT_TRUE(KeyExists(HKEY_USERS, hive + L"\\Fenwick.Note\\shell\\open\\command"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, hive + L"\\.note"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, hive + L"\\CLSID\\" + SystemClass));
}

// Firewall rules are read and removed through the firewall's own objects. Wine's keeps no rules:
// there the step finds nothing and logs nothing.
TEST_F(ShellRegistrationsTest, FirewallRulesOfTheProductGoThroughTheFirewallsInterface)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INetFwPolicy2* policy = nullptr;
    INetFwRules* rules = nullptr;
    INetFwRule* rule = nullptr;
    bool added = false;
    const std::wstring program = Pf86(L"\\Quorvex\\Zamo\\Zamo.exe");
    if (SUCCEEDED(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2,
                                   reinterpret_cast<void**>(&policy))) &&
        SUCCEEDED(policy->get_Rules(&rules)) &&
        SUCCEEDED(CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule,
                                   reinterpret_cast<void**>(&rule)))) {
        BSTR name = SysAllocString(L"ZcTest Zamo");
        BSTR path = SysAllocString(program.c_str());
        added = SUCCEEDED(rule->put_Name(name)) && SUCCEEDED(rule->put_ApplicationName(path)) &&
                SUCCEEDED(rules->Add(rule));
        SysFreeString(name);
        SysFreeString(path);
    }
    LONG count = 0;
    if (added && rules != nullptr && FAILED(rules->get_Count(&count)))
        count = 0;
    RemoveFirewallRules();
    Lines lines = log.Lines();
    // Where the firewall keeps no rules, a preview of a rule's removal through its collection
    // still names the rule and leaves the collection as it was.
    Lines previewed;
    LONG countAfterPreview = -1;
    if (rules != nullptr && (!added || count == 0)) {
        log.Clear();
        {
            PreviewRun preview;
            HRESULT result = S_OK;
            EXPECT_EQ(RemoveFirewallRule(rules, L"ZcTest Zamo", result), Change::Previewed);
        }
        previewed = log.Lines();
        if (FAILED(rules->get_Count(&countAfterPreview)))
            countAfterPreview = 0;
    }
    if (rule != nullptr)
        rule->Release();
    if (rules != nullptr)
        rules->Release();
    if (policy != nullptr)
        policy->Release();
    CoUninitialize();
    if (!added || count == 0) {
        EXPECT_EQ(lines, Lines{});
        EXPECT_EQ(previewed, Lines{L"Would remove firewall rule [ZcTest Zamo]"});
        EXPECT_EQ(countAfterPreview, count);
        GTEST_SKIP() << "this firewall keeps no rules (Wine's collection is empty): finding and removing a rule "
                        "were not checked";
    }
    EXPECT_EQ(lines, Lines{L"Removing firewall rule [ZcTest Zamo]"});
}

} // namespace
