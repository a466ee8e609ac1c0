// What starts the product: Run values of a test user and of the machine (both views) and
// shortcuts made with the shell's own link object, in a real run and a preview. The program
// folders are redirected to temporary folders through the environment.
#include "clean/starts/RunEntries.h"
#include "clean/starts/Shortcuts.h"
#include "common/Settings.h"
#include "support/TestMachine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>

namespace {

typedef std::vector<std::wstring> Lines;

const std::wstring RunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring RunOnceKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// Creates each folder on the way and the file.
bool Plant(const std::wstring& file)
{
    for (size_t at = file.find(L'\\', 3); at != std::wstring::npos; at = file.find(L'\\', at + 1))
        CreateDirectoryW(file.substr(0, at).c_str(), nullptr);
    return WriteTextFile(file, "x");
}

// A shortcut saved by the shell's link object; true when the file was written.
bool MakeShortcut(const std::wstring& file, const std::wstring& target)
{
    Plant(file);
    DeleteFileW(file.c_str());
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return false;
    link->SetPath(target.c_str());
    IPersistFile* persist = nullptr;
    bool saved = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
                 SUCCEEDED(persist->Save(file.c_str(), TRUE));
    if (persist != nullptr)
        persist->Release();
    link->Release();
    return saved && Exists(file);
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

bool HasValue(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = KEY_WOW64_64KEY)
{
    std::wstring value;
    return ReadString(root, path, name, &value, view);
}

// A test user with a profile folder of its own and the usual shell folder definitions; the
// program folders live in temporary folders named by the environment.
class StartEntriesTest : public ::testing::Test {
protected:
    StartEntriesTest()
    {
        programs.Make();
        testUser.DefineShellFolder(L"Local AppData", L"%USERPROFILE%\\AppData\\Local");
        testUser.DefineShellFolder(L"AppData", L"%USERPROFILE%\\AppData\\Roaming");
        testUser.DefineShellFolder(L"Desktop", L"%USERPROFILE%\\Desktop");
        testUser.DefineShellFolder(L"Programs",
                                   L"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs");
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    ~StartEntriesTest() override { CoUninitialize(); }
    // Paths as the steps compose them: a definition's text lower-cased, then the names.
    std::wstring Lower(const std::wstring& tail) const { return testUser.Profile() + tail; }
    std::wstring Desktop() const { return Lower(L"\\desktop"); }
    std::wstring Programs() const { return Lower(L"\\appdata\\roaming\\microsoft\\windows\\start menu\\programs"); }
    std::wstring AppFolder() const { return Lower(L"\\appdata\\local\\Quorvex"); }
    std::wstring Pf86(const std::wstring& tail) const { return programs.Pf86(tail); }
    std::wstring Run() const { return Sid + L"\\" + RunKey; }

    const std::wstring Sid = L"S-1-5-21-7190-7191-7192-1901";
    ProgramFolders programs;
    TestUser testUser{Sid, L"Profile Z"};
    LogCapture log;
};

TEST_F(StartEntriesTest, UserRunValuesThatStartTheProductGoOthersStay)
{
    const std::wstring longTail(240, L'x');
    struct Value {
        const wchar_t* name;
        std::wstring command;
        DWORD type;
        bool products;
    } values[] = {
        {L"Quoted", L"\"" + Pf86(L"\\Quorvex\\Zamo\\ZamoUpdater.exe") + L"\" /background", REG_SZ, true},
        {L"Unquoted", Pf86(L"\\Quorvex\\updater.exe") + L" -silent", REG_SZ, true},
        {L"SpacedUnquoted", Pf86(L"\\Quorvex\\Zamo Agent\\agent.exe") + L" /tray", REG_SZ, true},
        {L"UsersOwnTerms", L"%LOCALAPPDATA%\\Quorvex\\Zamo\\tray.exe", REG_EXPAND_SZ, true},
        {L"ProfileTerms", L"\"%USERPROFILE%\\AppData\\Local\\Quorvex\\helper.exe\"", REG_EXPAND_SZ, true},
        {L"MachineTerms", L"\"%ProgramW6432%\\Quorvex\\Zamo64.exe\"", REG_EXPAND_SZ, true},
        {L"ByProcessName", L"C:\\Elsewhere\\ZamoCrashHandler.exe --watch", REG_SZ, true},
        {L"ToolsNextDoor", L"\"" + Pf86(L"\\Quorvex Tools\\tool.exe") + L"\"", REG_SZ, false},
        {L"ClimbsOut", Pf86(L"\\Quorvex\\..\\Fenwick\\notes.exe"), REG_SZ, false},
        {L"ArgumentOnly", L"C:\\Fenwick\\notes.exe \"" + Pf86(L"\\Quorvex\\Zamo.dat") + L"\"", REG_SZ, false},
        {L"RunningUsersTemp", L"%TEMP%\\Quorvex\\x.exe", REG_EXPAND_SZ, false},
        {L"RunningUsersFolder", Expand(L"%LOCALAPPDATA%\\Quorvex\\Zamo\\tray.exe"), REG_SZ, false},
        {L"TooLong", Pf86(L"\\Quorvex\\" + longTail + L".exe"), REG_SZ, false},
        {L"OpenQuote", L"\"" + Pf86(L"\\Quorvex\\Zamo.exe"), REG_SZ, false},
    };
    for (const Value& value : values)
        ASSERT_TRUE(SetString(HKEY_USERS, Run(), value.name, value.command, KEY_WOW64_64KEY, value.type)) << value.name;
    ASSERT_TRUE(SetBinary(HKEY_USERS, Run(), L"Binary", "Zamo.exe", 8, REG_BINARY));
    ASSERT_TRUE(SetString(HKEY_USERS, Sid + L"\\" + RunOnceKey, L"Once", L"Zamo.exe /finish"));

    {
        PreviewRun preview;
        RemoveUserRunEntries(Sid.c_str());
    }
    Lines expected;
    for (const Value& value : values) {
        if (value.products)
            expected.push_back(std::wstring(L"Would remove value [") + value.name + L"] from HKU\\" + Run());
    }
    expected.push_back(L"Would remove value [Once] from HKU\\" + Sid + L"\\" + RunOnceKey);
    // The registry lists values in an order of its own.
    EXPECT_EQ(Sorted(log.Lines()), Sorted(expected));
    for (const Value& value : values)
        EXPECT_TRUE(HasValue(HKEY_USERS, Run(), value.name)) << value.name;

    log.Clear();
    RemoveUserRunEntries(Sid.c_str());
    for (std::wstring& line : expected)
        line.replace(0, 12, L"Removed");
    EXPECT_EQ(Sorted(log.Lines()), Sorted(expected));
    for (const Value& value : values)
        EXPECT_EQ(HasValue(HKEY_USERS, Run(), value.name), !value.products) << value.name;
    EXPECT_TRUE(HasValue(HKEY_USERS, Run(), L"Binary"));
    EXPECT_FALSE(HasValue(HKEY_USERS, Sid + L"\\" + RunOnceKey, L"Once"));
}

TEST_F(StartEntriesTest, RunKeysReachedThroughALinkAreLeftAloneWithWhatTheLinkNames)
{
    // What the links name: keys outside the scope's Run keys that hold a product's value.
    const std::wstring elsewhere = Sid + L"\\Elsewhere";
    ASSERT_TRUE(SetString(HKEY_USERS, elsewhere, L"Once", L"Zamo.exe /finish"));
    ASSERT_TRUE(SetString(HKEY_USERS, elsewhere + L"\\Run", L"Tray", L"Zamo.exe /tray"));
    const std::wstring target = L"\\REGISTRY\\User\\" + elsewhere;
    const struct {
        const wchar_t* what;
        std::wstring link;
        std::wstring target;
    } cases[] = {
        {L"RunOnce is a link", Sid + L"\\" + RunOnceKey, target},
        {L"a link on the way to Run", Sid + L"\\Software\\Microsoft\\Windows\\CurrentVersion", target},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKeyTree(HKEY_USERS, c.link);
        RegistryLink link(HKEY_USERS, c.link, c.target);
        if (!link.Made())
            GTEST_SKIP() << "this Wine cannot make a registry link";
        log.Clear();
        {
            PreviewRun preview;
            RemoveUserRunEntries(Sid.c_str());
        }
        RemoveUserRunEntries(Sid.c_str());
        EXPECT_EQ(log.Lines(), Lines{});
        EXPECT_TRUE(link.Exists());
        EXPECT_TRUE(HasValue(HKEY_USERS, elsewhere, L"Once"));
        EXPECT_TRUE(HasValue(HKEY_USERS, elsewhere + L"\\Run", L"Tray"));
    }
}

TEST_F(StartEntriesTest, MachineRunValuesGoInBothViewsInTheMachinesTerms)
{
    ScratchKeys scratch;
    const std::wstring run = RunKey;
    ASSERT_TRUE(scratch.SetString(HKEY_LOCAL_MACHINE, run, L"ZcTestWide", L"\"%ProgramW6432%\\Quorvex\\Zamo.exe\"",
                                  KEY_WOW64_64KEY, REG_EXPAND_SZ));
    ASSERT_TRUE(scratch.SetString(HKEY_LOCAL_MACHINE, run, L"ZcTestNarrow", Pf86(L"\\Quorvex\\ZamoCptr.exe") + L" -s",
                                  KEY_WOW64_32KEY));
    // A user's folder means nothing in the machine's terms, and another maker's program stays.
    ASSERT_TRUE(scratch.SetString(HKEY_LOCAL_MACHINE, run, L"ZcTestUserTerms", L"%LOCALAPPDATA%\\Quorvex\\agent.exe",
                                  KEY_WOW64_32KEY, REG_EXPAND_SZ));
    ASSERT_TRUE(scratch.SetString(HKEY_LOCAL_MACHINE, run, L"ZcTestOther", L"C:\\Fenwick\\notes.exe", KEY_WOW64_64KEY));
    ASSERT_TRUE(scratch.SetString(HKEY_LOCAL_MACHINE, RunOnceKey, L"ZcTestOnce", L"ZamoChromiumHelper.exe",
                                  KEY_WOW64_32KEY));

    {
        PreviewRun preview;
        RemoveMachineRunEntries();
    }
    const Lines previewed = {
        L"Would remove value [ZcTestWide] from HKLM\\" + RunKey,
        L"Would remove value [ZcTestNarrow] from HKLM\\" + RunKey,
        L"Would remove value [ZcTestOnce] from HKLM\\" + RunOnceKey,
    };
    EXPECT_EQ(log.Lines(), previewed);
    EXPECT_TRUE(HasValue(HKEY_LOCAL_MACHINE, run, L"ZcTestWide"));

    log.Clear();
    RemoveMachineRunEntries();
    EXPECT_EQ(log.Lines(), (Lines{
                               L"Removed value [ZcTestWide] from HKLM\\" + RunKey,
                               L"Removed value [ZcTestNarrow] from HKLM\\" + RunKey,
                               L"Removed value [ZcTestOnce] from HKLM\\" + RunOnceKey,
                           }));
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, run, L"ZcTestWide"));
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, run, L"ZcTestNarrow", KEY_WOW64_32KEY));
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, RunOnceKey, L"ZcTestOnce", KEY_WOW64_32KEY));
    EXPECT_TRUE(HasValue(HKEY_LOCAL_MACHINE, run, L"ZcTestUserTerms", KEY_WOW64_32KEY));
    EXPECT_TRUE(HasValue(HKEY_LOCAL_MACHINE, run, L"ZcTestOther"));
}

TEST_F(StartEntriesTest, UserShortcutsThatPointIntoTheProductGoWithTheirEmptiedFolder)
{
    const std::wstring product = Pf86(L"\\Quorvex\\Zamo\\Zamo.exe");
    ASSERT_TRUE(MakeShortcut(Desktop() + L"\\Zamo.lnk", product));
    ASSERT_TRUE(MakeShortcut(Desktop() + L"\\Tools.lnk", Pf86(L"\\Quorvex Tools\\tool.exe")));
    ASSERT_TRUE(MakeShortcut(Desktop() + L"\\Notes.lnk", L"C:\\Fenwick\\notes.exe"));
    ASSERT_TRUE(MakeShortcut(Desktop() + L"\\Kept\\Zamo.lnk", product));
    ASSERT_TRUE(Plant(Desktop() + L"\\Unreadable.lnk"));
    ASSERT_TRUE(MakeShortcut(Programs() + L"\\Quorvex\\Zamo.lnk", product));
    ASSERT_TRUE(MakeShortcut(Programs() + L"\\Quorvex\\Zamo Settings.lnk", AppFolder() + L"\\settings.exe"));
    ASSERT_TRUE(MakeShortcut(Programs() + L"\\Quorvex\\Zamo\\Help.lnk", product));
    ASSERT_TRUE(MakeShortcut(Programs() + L"\\Zamo\\Zamo.lnk", product));
    ASSERT_TRUE(Plant(Programs() + L"\\Zamo\\readme.txt"));
    ASSERT_TRUE(MakeShortcut(Programs() + L"\\Accessories\\Crash.lnk", L"C:\\Elsewhere\\ZamoCrashHandler.exe"));
    // A link inside the walked folders is never entered.
    TempFolder outside;
    ASSERT_TRUE(MakeShortcut(outside / L"Zamo.lnk", product));
    DirectoryLink link(Programs() + L"\\Linked", outside.Path());
    if (!link.Planted())
        GTEST_SKIP() << "Wine could not plant a directory link here";

    const Lines gone = {
        Desktop() + L"\\Zamo.lnk",
        Programs() + L"\\Quorvex\\Zamo.lnk",
        Programs() + L"\\Quorvex\\Zamo Settings.lnk",
        Programs() + L"\\Quorvex\\Zamo\\Help.lnk",
        Programs() + L"\\Zamo\\Zamo.lnk",
        Programs() + L"\\Accessories\\Crash.lnk",
    };
    Lines previewed;
    Lines deleted;
    for (const std::wstring& path : gone) {
        previewed.push_back(L"Would delete shortcut [" + path + L"]");
        deleted.push_back(L"Deleted shortcut [" + path + L"]");
    }

    {
        PreviewRun preview;
        DeleteUserShortcuts(Sid.c_str());
    }
    EXPECT_EQ(Sorted(log.Lines()), Sorted(previewed));
    for (const std::wstring& path : gone)
        EXPECT_TRUE(Exists(path));

    log.Clear();
    DeleteUserShortcuts(Sid.c_str());
    EXPECT_EQ(Sorted(log.Lines()), Sorted(deleted));
    for (const std::wstring& path : gone)
        EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(Exists(Programs() + L"\\Quorvex"));
    EXPECT_TRUE(Exists(Programs() + L"\\Zamo\\readme.txt"));
    EXPECT_TRUE(Exists(Programs() + L"\\Accessories"));
    for (const wchar_t* kept : {L"\\Tools.lnk", L"\\Notes.lnk", L"\\Kept\\Zamo.lnk", L"\\Unreadable.lnk"})
        EXPECT_TRUE(Exists(Desktop() + kept)) << kept;
    EXPECT_TRUE(Exists(outside / L"Zamo.lnk"));
}

TEST_F(StartEntriesTest, CommonShortcutsAreReadInTheMachinesTerms)
{
    std::wstring definition;
    ASSERT_TRUE(ReadString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                           L"Common Desktop", &definition));
    const std::wstring desktop = Expand(definition);
    const std::wstring product = desktop + L"\\ZcTest Zamo.lnk";
    const std::wstring other = desktop + L"\\ZcTest Fenwick.lnk";
    const std::wstring userTerms = desktop + L"\\ZcTest User.lnk";
    ASSERT_TRUE(MakeShortcut(product, Pf86(L"\\Quorvex\\Zamo.exe")));
    ASSERT_TRUE(MakeShortcut(other, L"C:\\Fenwick\\notes.exe"));
    // The machine's shortcuts count no user's application folder.
    ASSERT_TRUE(MakeShortcut(userTerms, Expand(L"%LOCALAPPDATA%\\Quorvex\\agent.exe")));

    {
        PreviewRun preview;
        DeleteCommonShortcuts();
    }
    EXPECT_EQ(log.Lines(), Lines{L"Would delete shortcut [" + product + L"]"});
    log.Clear();
    DeleteCommonShortcuts();
    EXPECT_EQ(log.Lines(), Lines{L"Deleted shortcut [" + product + L"]"});
    EXPECT_FALSE(Exists(product));
    EXPECT_TRUE(Exists(other));
    EXPECT_TRUE(Exists(userTerms));
    DeleteFileW(other.c_str());
    DeleteFileW(userTerms.c_str());
}

} // namespace
