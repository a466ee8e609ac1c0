// The change layer in both modes against real keys, files, folders and processes:
// registry links inside a deleted tree, the preview's lines, and the preview's record of
// what it has passed as removed.
#include "app/app.h"
#include "common/Changes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::wstring> Lines;

const wchar_t Sid[] = L"S-1-5-21-7340-7341-7342-1131";
const std::wstring UserKernelRoot = std::wstring(L"\\REGISTRY\\User\\") + Sid;

std::wstring User(const std::wstring& path)
{
    return std::wstring(Sid) + L"\\" + path;
}

// Creates each folder on the way and the file.
bool Plant(const std::wstring& file)
{
    for (size_t at = file.find(L'\\', 3); at != std::wstring::npos; at = file.find(L'\\', at + 1))
        CreateDirectoryW(file.substr(0, at).c_str(), nullptr);
    return WriteTextFile(file, "x");
}

class ChangesTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(HKEY_USERS, Sid); }
    void TearDown() override { DeleteKeyTree(HKEY_USERS, Sid); }

    // A small tree of keys and values under the test SID.
    static void BuildTree(const std::wstring& top)
    {
        ASSERT_TRUE(SetString(HKEY_USERS, User(top), L"Top", L"1"));
        ASSERT_TRUE(SetString(HKEY_USERS, User(top + L"\\A\\B"), L"Deep", L"2"));
        ASSERT_TRUE(SetString(HKEY_USERS, User(top + L"\\C"), nullptr, L"3"));
    }
    static RegistryTree Capture(const std::wstring& path)
    {
        RegistryTree tree;
        EXPECT_TRUE(CaptureKeyTree(HKEY_USERS, User(path), &tree)) << std::string(path.begin(), path.end());
        return tree;
    }

    LogCapture log;
    TempFolder folder;
};

TEST_F(ChangesTest, LinksInsideADeletedTreeAreDeletedAsLinksAndWhatTheyNameStays)
{
    BuildTree(L"Outside");
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Tree\\Level"), L"Value", L"x"));
    const std::wstring outside = UserKernelRoot + L"\\Outside";
    RegistryLink shallow(HKEY_USERS, User(L"Tree\\ToOutside"), outside);
    RegistryLink deep(HKEY_USERS, User(L"Tree\\Level\\ToInner"), outside + L"\\A");
    RegistryLink dangling(HKEY_USERS, User(L"Tree\\Level\\ToNothing"), UserKernelRoot + L"\\Missing");
    RegistryLink top(HKEY_USERS, User(L"TopLink"), outside);
    if (!shallow.Made() || !deep.Made() || !top.Made())
        GTEST_SKIP() << "this Wine cannot make a registry link";
    const RegistryTree before = Capture(L"Outside");
    ASSERT_TRUE(KeyExists(HKEY_USERS, User(L"Tree\\ToOutside\\A\\B"))) << "the link does not lead outside";

    EXPECT_EQ(DeleteRegistryTree(HKEY_USERS, User(L"Tree").c_str(), KEY_WOW64_64KEY, {}), Change::Made);
    EXPECT_EQ(DeleteRegistryTree(HKEY_USERS, User(L"TopLink").c_str(), KEY_WOW64_64KEY, {}), Change::Made);

    EXPECT_FALSE(KeyExists(HKEY_USERS, User(L"Tree")));
    EXPECT_FALSE(top.Exists());
    EXPECT_TRUE(Capture(L"Outside").keys == before.keys) << "a key outside the tree was changed through a link";
    EXPECT_EQ(log.Lines(), Lines{});
}

// Under HKEY_LOCAL_MACHINE the views are apart: a link in the 32-bit view's tree leads to
// a key of the 64-bit view, which must stay.
TEST_F(ChangesTest, LinkToTheOtherViewLeavesItsTargetAlone)
{
    ScratchKeys machine;
    const std::wstring target = L"Software\\ZcChangesOutside";
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, target + L"\\Inner", L"Keep", L"64", KEY_WOW64_64KEY));
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, L"Software\\ZcChangesTree", L"Value", L"32", KEY_WOW64_32KEY));
    RegistryLink link(HKEY_LOCAL_MACHINE, L"Software\\ZcChangesTree\\Link", L"\\REGISTRY\\Machine\\" + target,
                      KEY_WOW64_32KEY);
    if (!link.Made())
        GTEST_SKIP() << "this Wine cannot make a registry link";

    EXPECT_EQ(DeleteRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\ZcChangesTree", KEY_WOW64_32KEY, {}), Change::Made);

    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\ZcChangesTree", KEY_WOW64_32KEY));
    std::wstring kept;
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, target + L"\\Inner", L"Keep", &kept, KEY_WOW64_64KEY));
    EXPECT_EQ(kept, L"64");
}

TEST_F(ChangesTest, RealRunActsAndLogsOnlyThroughLogChange)
{
    BuildTree(L"Tree");
    const std::wstring file = folder / L"file.txt";
    const std::wstring empty = folder / L"Empty";
    const std::wstring shortcut = folder / L"Zamo.lnk";
    ASSERT_TRUE(WriteTextFile(file, "x"));
    ASSERT_TRUE(WriteTextFile(shortcut, "x"));
    ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
    ChildProcess child(CopyFakeProduct(folder.Path(), L"ZcStopMe.exe"));
    ASSERT_TRUE(child.Started());
    wchar_t commandLine[MAX_PATH];
    wsprintfW(commandLine, L"cmd.exe /c mkdir \"%s\"", (folder / L"Made").c_str());

    LogChange(L"Announced [%s]", L"real");
    EXPECT_EQ(StopProcess(child.Handle(), child.Id(), L"ZcStopMe.exe"), Change::Made);
    PROCESS_INFORMATION started;
    ASSERT_EQ(StartHiddenProcess(commandLine, started), Change::Made);
    EXPECT_EQ(WaitForSingleObject(started.hProcess, 30000), WAIT_OBJECT_0);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    EXPECT_EQ(DeleteRegistryTree(HKEY_USERS, User(L"Tree").c_str(), KEY_WOW64_64KEY, {}), Change::Made);
    EXPECT_EQ(DeleteRegistryTree(HKEY_USERS, User(L"Tree").c_str(), KEY_WOW64_64KEY, {}), Change::Failed);
    EXPECT_EQ(DeleteFileAt(file.c_str()), Change::Made);
    EXPECT_EQ(RemoveFolder(folder.Path().c_str()), Change::Failed) << "not empty";
    EXPECT_EQ(RemoveFolder(empty.c_str()), Change::Made);
    EXPECT_EQ(DeleteShortcut(shortcut.c_str()), Change::Made);
    EXPECT_EQ(DeleteShortcut(shortcut.c_str()), Change::Failed);
    EXPECT_EQ(WriteMarker(HKEY_USERS, User(L"Software\\Quorvex\\Cleaned").c_str(), KEY_WOW64_64KEY, L"Sig",
                          {L"HKU", Sid}),
              Change::Made);
    wchar_t missing[] = L"C:\\ZcNoSuchProgram.exe";
    EXPECT_EQ(StartHiddenProcess(missing, started), Change::Failed);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    DWORD exitCode = 1;
    EXPECT_TRUE(child.EndsWithin(5000, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(Exists(folder / L"Made"));
    EXPECT_FALSE(KeyExists(HKEY_USERS, User(L"Tree")));
    EXPECT_FALSE(Exists(file) || Exists(empty) || Exists(shortcut));
    std::wstring marker;
    DWORD type = 0;
    EXPECT_TRUE(ReadString(HKEY_USERS, User(L"Software\\Quorvex\\Cleaned"), nullptr, &marker, KEY_WOW64_64KEY, &type));
    EXPECT_EQ(marker, L"Sig");
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(log.Lines(), Lines{L"Announced [real]"});
}

TEST_F(ChangesTest, PreviewLogsEachChangeAndMakesNone)
{
    BuildTree(L"Tree");
    const RegistryTree keys = Capture(L"");
    const std::wstring file = folder / L"file.txt";
    const std::wstring shortcut = folder / L"Zamo.lnk";
    ASSERT_TRUE(WriteTextFile(file, "x"));
    ASSERT_TRUE(WriteTextFile(shortcut, "x"));
    ASSERT_TRUE(CreateDirectoryW((folder / L"Empty").c_str(), nullptr));
    ChildProcess child(CopyFakeProduct(folder.Path(), L"ZcStopMe.exe"));
    ASSERT_TRUE(child.Started());
    const std::vector<std::wstring> files = ListTree(folder.Path());
    wchar_t commandLine[MAX_PATH];
    wsprintfW(commandLine, L"cmd.exe /c mkdir \"%s\"", (folder / L"Made").c_str());
    PreviewRun preview;

    LogChange(L"Announced [%s]", L"preview");
    EXPECT_EQ(StopProcess(child.Handle(), child.Id(), L"ZcStopMe.exe"), Change::Previewed);
    PROCESS_INFORMATION started;
    EXPECT_EQ(StartHiddenProcess(commandLine, started), Change::Previewed);
    EXPECT_EQ(started.hProcess, nullptr);
    EXPECT_EQ(DeleteRegistryTree(HKEY_USERS, User(L"Tree").c_str(), KEY_WOW64_64KEY, {L"HKU", Sid, L"Tree"}),
              Change::Previewed);
    EXPECT_EQ(DeleteRegistryTree(HKEY_USERS, User(L"Missing").c_str(), KEY_WOW64_64KEY, {L"HKU", Sid, L"Missing"}),
              Change::Previewed);
    EXPECT_EQ(DeleteFileAt(file.c_str()), Change::Previewed);
    EXPECT_EQ(RemoveFolder((folder / L"Empty").c_str()), Change::Previewed);
    EXPECT_EQ(DeleteShortcut(shortcut.c_str()), Change::Previewed);
    EXPECT_EQ(WriteMarker(HKEY_USERS, User(L"Software\\Quorvex\\Cleaned").c_str(), KEY_WOW64_64KEY, L"Sig",
                          {L"HKU", Sid}),
              Change::Previewed);

    const std::wstring id = std::to_wstring(child.Id());
    EXPECT_EQ(log.Lines(), (Lines{L"Would stop process " + id + L" [ZcStopMe.exe]", L"Would execute [" +
                                  std::wstring(commandLine) + L"]", L"Would remove HKU\\" + User(L"Tree"),
                                  L"Would delete file [" + file + L"]", L"Would delete startup shortcut [" +
                                  shortcut + L"]", L"Would mark [HKU," + std::wstring(Sid) + L"] with signature [Sig]"}));
    EXPECT_TRUE(child.Running());
    EXPECT_TRUE(Capture(L"").keys == keys.keys) << "the preview changed the registry";
    EXPECT_EQ(ListTree(folder.Path()), files);
}

// What the preview passed as removed is not reported again: through the other view of a
// shared key, below a removed key or folder, or by a second call. A name that only begins
// with a removed one is another item.
TEST_F(ChangesTest, PreviewReportsAnItemOnceWhereARealRunWouldFindItGone)
{
    BuildTree(L"Tree");
    BuildTree(L"TreeB");
    ASSERT_TRUE(Plant(folder / L"Dir\\Sub\\a.txt") && Plant(folder / L"Dir\\b.txt") && Plant(folder / L"DirB\\c.txt"));
    PreviewRun preview;
    auto removeKey = [](const std::wstring& path, REGSAM view) {
        DeleteRegistryTree(HKEY_USERS, User(path).c_str(), view, {L"HKU", Sid, path.c_str()});
    };

    removeKey(L"Tree", KEY_WOW64_64KEY);
    removeKey(L"Tree", KEY_WOW64_32KEY);
    removeKey(L"Tree\\A", KEY_WOW64_64KEY);
    removeKey(L"TreeB", KEY_WOW64_64KEY);
    EXPECT_TRUE(PreviewHasRemoved(HKEY_USERS, User(L"Tree\\A\\B").c_str(), KEY_WOW64_32KEY));
    EXPECT_FALSE(PreviewHasRemoved(HKEY_USERS, User(L"Outside").c_str(), KEY_WOW64_64KEY));
    // Sub-folders are recorded before their folder, which then covers them.
    for (const wchar_t* name : {L"Dir\\Sub\\a.txt", L"Dir\\b.txt"})
        DeleteFileAt((folder / name).c_str());
    RemoveFolder((folder / L"Dir\\Sub").c_str());
    RemoveFolder((folder / L"Dir").c_str());
    for (const wchar_t* name : {L"Dir\\Sub\\a.txt", L"Dir\\b.txt", L"DirB\\c.txt"})
        DeleteFileAt((folder / name).c_str());
    NotePreviewRemoval(HKEY_USERS, User(L"TreeB").c_str(), KEY_WOW64_64KEY);

    EXPECT_EQ(log.Lines(), (Lines{L"Would remove HKU\\" + User(L"Tree"), L"Would remove HKU\\" + User(L"TreeB"),
                                  L"Would delete file [" + (folder / L"Dir\\Sub\\a.txt") + L"]",
                                  L"Would delete file [" + (folder / L"Dir\\b.txt") + L"]",
                                  L"Would delete file [" + (folder / L"DirB\\c.txt") + L"]"}));

    ClearPreviewRecord();
    removeKey(L"Tree", KEY_WOW64_64KEY);
    EXPECT_EQ(log.Lines().back(), L"Would remove HKU\\" + User(L"Tree")) << "a cleared record reports again";
}

// The record holds a fixed number of characters: once full, later keys are reported each
// time they are met, and none is ever passed over without its line.
TEST_F(ChangesTest, FullPreviewRecordReportsAgainAndNeverSkips)
{
    const int count = 160;
    std::vector<std::wstring> names;
    for (int i = 0; i < count; i++) {
        wchar_t number[8];
        wsprintfW(number, L"%03d", i);
        names.push_back(L"Fill\\" + std::wstring(number) + std::wstring(200, L'k'));
        ASSERT_TRUE(CreateKey(HKEY_USERS, User(names.back())));
    }
    PreviewRun preview;
    auto pass = [&]() {
        log.Clear();
        for (const std::wstring& name : names)
            DeleteRegistryTree(HKEY_USERS, User(name).c_str(), KEY_WOW64_64KEY, {L"HKU", Sid, name.c_str()});
        return log.Lines();
    };

    Lines first = pass();
    Lines second = pass();

    ASSERT_EQ(first.size(), size_t(count));
    ASSERT_GT(second.size(), 0u) << "the record never filled: the test proves nothing";
    ASSERT_LT(second.size(), size_t(count)) << "nothing was recorded";
    // The keys that found room are passed over; every later one is reported again.
    EXPECT_EQ(second, Lines(first.end() - second.size(), first.end()));
    ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Late")));
    DeleteRegistryTree(HKEY_USERS, User(L"Late").c_str(), KEY_WOW64_64KEY, {L"HKU", Sid, L"Late"});
    EXPECT_EQ(log.Lines().back(), L"Would remove HKU\\" + User(L"Late"));
}

} // namespace

namespace {

// A key of the test SID opened for value deletion, in one view.
HKEY OpenForValues(const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_USERS, User(path).c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view, &key);
    return key;
}

bool HasValue(const std::wstring& path, const wchar_t* name)
{
    std::wstring value;
    return ReadString(HKEY_USERS, User(path), name, &value);
}

} // namespace

TEST_F(ChangesTest, ValueDeletionTakesOneValueAndReportsAMissingOneAsFailed)
{
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Run"), L"Zamo", L"a"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Run"), L"Zamo\\Other", L"b"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Run\\Zamo"), L"Kept", L"c"));
    HKEY key = OpenForValues(L"Run", KEY_WOW64_64KEY);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(DeleteRegistryValue(key, L"Zamo", {L"HKU", L"x", nullptr}), Change::Made);
    EXPECT_EQ(DeleteRegistryValue(key, L"Zamo", {L"HKU", L"x", nullptr}), Change::Failed);
    RegCloseKey(key);
    EXPECT_FALSE(HasValue(L"Run", L"Zamo"));
    EXPECT_TRUE(HasValue(L"Run", L"Zamo\\Other"));
    EXPECT_TRUE(HasValue(L"Run\\Zamo", L"Kept"));
    EXPECT_EQ(log.Lines(), Lines{});
}

TEST_F(ChangesTest, PreviewNamesAValueOnceAcrossViewsAndNamesChangeNothing)
{
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Run"), L"Zamo", L"a"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Run"), L"Zamo\\Deeper", L"b"));
    PreviewRun preview;
    // The user's Software branch is one key in both views: two handles, one value.
    HKEY wide = OpenForValues(L"Run", KEY_WOW64_64KEY);
    HKEY narrow = OpenForValues(L"Run", KEY_WOW64_32KEY);
    ASSERT_NE(wide, nullptr);
    ASSERT_NE(narrow, nullptr);
    const ShownKey shown = {L"HKU", L"S\\Run", nullptr};
    EXPECT_EQ(DeleteRegistryValue(wide, L"Zamo", shown), Change::Previewed);
    EXPECT_EQ(DeleteRegistryValue(narrow, L"zamo", shown), Change::Previewed);
    // A name that holds the first one's name and more is another value.
    EXPECT_EQ(DeleteRegistryValue(narrow, L"Zamo\\Deeper", shown), Change::Previewed);
    EXPECT_EQ(DeleteRegistryValue(wide, L"Missing", shown), Change::Previewed);
    RegCloseKey(wide);
    RegCloseKey(narrow);
    EXPECT_EQ(log.Lines(), (Lines{L"Would remove value [Zamo] from HKU\\S\\Run",
                                  L"Would remove value [Zamo\\Deeper] from HKU\\S\\Run"}));
    EXPECT_TRUE(HasValue(L"Run", L"Zamo"));
    EXPECT_TRUE(HasValue(L"Run", L"Zamo\\Deeper"));
}
