// The change layer in both modes against real keys, files, folders and processes:
// registry links inside a deleted tree, the preview's lines, and the preview's record of
// what it has passed as removed.
#include "change/FileChanges.h"
#include "change/PreviewRecord.h"
#include "change/ProcessChanges.h"
#include "change/RegistryChanges.h"
#include "change/RunOutcome.h"
#include "change/TriedItems.h"  // NoteKeyChange
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

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

TEST_F(ChangesTest, TreeReachedThroughALinkOnTheWayIsNeitherNamedNorDeleted)
{
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Target\\Child"), L"Keep", L"1"));
    RegistryLink link(HKEY_USERS, User(L"Way"), UserKernelRoot + L"\\Target");
    if (!link.Made())
        GTEST_SKIP() << "this Wine cannot make a registry link";
    const std::wstring path = User(L"Way\\Child");
    {
        PreviewRun preview;
        EXPECT_EQ(DeleteRegistryTree(HKEY_USERS, path.c_str(), KEY_WOW64_64KEY, {L"HKU", path.c_str(), nullptr}),
                  Change::Previewed);
    }
    EXPECT_EQ(log.Lines(), Lines{});
    EXPECT_EQ(DeleteRegistryTree(HKEY_USERS, path.c_str(), KEY_WOW64_64KEY, {L"HKU", path.c_str(), nullptr}),
              Change::Failed);
    EXPECT_TRUE(KeyExists(HKEY_USERS, User(L"Target\\Child")));
    EXPECT_TRUE(link.Exists());
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
    NotePreviewUninstall(HKEY_USERS, User(L"TreeB").c_str(), KEY_WOW64_64KEY);

    EXPECT_EQ(log.Lines(), (Lines{L"Would remove HKU\\" + User(L"Tree"), L"Would remove HKU\\" + User(L"TreeB"),
                                  L"Would delete file [" + (folder / L"Dir\\Sub\\a.txt") + L"]",
                                  L"Would delete file [" + (folder / L"Dir\\b.txt") + L"]",
                                  L"Would delete file [" + (folder / L"DirB\\c.txt") + L"]"}));

    preview.Again();
    removeKey(L"Tree", KEY_WOW64_64KEY);
    EXPECT_EQ(log.Lines().back(), L"Would remove HKU\\" + User(L"Tree")) << "a cleared record reports again";
}

// A value is named once per run: through the other view of a shared key, and again by a later
// call. A value whose name holds a backslash is another item than a value of a subkey spelled
// alike, a value of a key the preview has removed is not named, and a missing one neither. A
// real run deletes and logs nothing.
TEST_F(ChangesTest, ValueIsNamedOnceWhereARealRunWouldFindItGone)
{
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Lists"), L"Zamo.Outlook.AddIn", L"1"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Lists"), L"Sub\\Name", L"2"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Lists\\Sub"), L"Name", L"3"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Gone"), L"Zamo.Outlook.AddIn", L"4"));
    const RegistryTree before = Capture(L"");
    auto removeValue = [](const std::wstring& path, const wchar_t* name, REGSAM view) {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, User(path).c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | view, &key),
                  ERROR_SUCCESS);
        EXPECT_EQ(DeleteRegistryValue(key, name, {L"HKU", Sid, path.c_str()}), RunOptionsNow().preview ? Change::Previewed : Change::Made);
        RegCloseKey(key);
    };
    {
        PreviewRun preview;
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            removeValue(L"Lists", L"Zamo.Outlook.AddIn", view);
            removeValue(L"Lists", L"zamo.outlook.addin", view);
            removeValue(L"Lists", L"Sub\\Name", view);
            removeValue(L"Lists\\Sub", L"Name", view);
            removeValue(L"Lists", L"Missing", view);
        }
        DeleteRegistryTree(HKEY_USERS, User(L"Gone").c_str(), KEY_WOW64_64KEY, {L"HKU", Sid, L"Gone"});
        removeValue(L"Gone", L"Zamo.Outlook.AddIn", KEY_WOW64_32KEY);
    }
    const std::wstring lists = L"HKU\\" + User(L"Lists");
    EXPECT_EQ(log.Lines(), (Lines{L"Would remove value [Zamo.Outlook.AddIn] from " + lists,
                                  L"Would remove value [Sub\\Name] from " + lists,
                                  L"Would remove value [Name] from " + lists + L"\\Sub",
                                  L"Would remove HKU\\" + User(L"Gone")}));
    EXPECT_TRUE(Capture(L"").keys == before.keys) << "the preview changed the registry";

    log.Clear();
    removeValue(L"Lists", L"Sub\\Name", KEY_WOW64_64KEY);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, User(L"Lists").c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(DeleteRegistryValue(key, L"Missing", {L"HKU", Sid, L"Lists"}), Change::Failed);
    RegCloseKey(key);
    EXPECT_EQ(log.Lines(), Lines{});
    std::wstring kept;
    EXPECT_FALSE(ReadString(HKEY_USERS, User(L"Lists"), L"Sub\\Name", &kept));
    EXPECT_TRUE(ReadString(HKEY_USERS, User(L"Lists\\Sub"), L"Name", &kept));
    EXPECT_TRUE(ReadString(HKEY_USERS, User(L"Lists"), L"Zamo.Outlook.AddIn", &kept));
}

// The record grows with the run: a preview far larger than any fixed buffer names each key
// once, passes over a second visit in any letter case, and covers what lies below a key.
TEST_F(ChangesTest, LargePreviewRecordNamesEveryKeyOnce)
{
    const int count = 400;
    std::vector<std::wstring> names;
    for (int i = 0; i < count; i++) {
        wchar_t number[8];
        wsprintfW(number, L"%03d", i);
        names.push_back(L"Fill\\" + std::wstring(number) + std::wstring(200, L'k'));
        ASSERT_TRUE(CreateKey(HKEY_USERS, User(names.back() + L"\\Below")));
    }
    PreviewRun preview;
    auto pass = [&](bool upper, const wchar_t* below) {
        log.Clear();
        for (std::wstring name : names) {
            if (upper)
                CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
            name += below;
            DeleteRegistryTree(HKEY_USERS, User(name).c_str(), KEY_WOW64_64KEY, {L"HKU", Sid, name.c_str()});
        }
        return log.Lines();
    };

    Lines first = pass(false, L"");
    ASSERT_EQ(first.size(), size_t(count));
    EXPECT_EQ(first.front(), L"Would remove HKU\\" + User(names.front()));
    EXPECT_EQ(first.back(), L"Would remove HKU\\" + User(names.back()));
    EXPECT_EQ(pass(false, L""), Lines{});
    EXPECT_EQ(pass(true, L""), Lines{});
    EXPECT_EQ(pass(false, L"\\Below"), Lines{});
    ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Fill\\Late")));
    DeleteRegistryTree(HKEY_USERS, User(L"Fill\\Late").c_str(), KEY_WOW64_64KEY, {L"HKU", Sid, L"Fill\\Late"});
    EXPECT_EQ(log.Lines(), Lines{L"Would remove HKU\\" + User(L"Fill\\Late")});
}

} // namespace

namespace {

const wchar_t SessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t PendingOperations[] = L"PendingFileRenameOperations";

// The system's pending file operations, as raw bytes; empty when there are none.
std::vector<unsigned char> ReadPendingOperations()
{
    std::vector<unsigned char> bytes;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return bytes;
    DWORD size = 0;
    if (RegQueryValueExW(key, PendingOperations, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
        bytes.resize(size);
        if (RegQueryValueExW(key, PendingOperations, nullptr, nullptr, bytes.data(), &size) != ERROR_SUCCESS)
            bytes.clear();
    }
    RegCloseKey(key);
    return bytes;
}

// Puts the pending operations back as they were, so that no later restart of the prefix
// acts on what a test scheduled.
void RestorePendingOperations(const std::vector<unsigned char>& bytes)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    if (bytes.empty())
        RegDeleteValueW(key, PendingOperations);
    else
        RegSetValueExW(key, PendingOperations, 0, REG_MULTI_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

std::wstring PendingText(const std::vector<unsigned char>& bytes)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    for (wchar_t& c : text)
        if (c == L'\0')
            c = L'|';
    return text;
}

// A run with "/ExitCode": the record is empty when it starts.
class ExitCodeRecordTest : public ChangesTest {
protected:
    // A file held open without delete sharing, as a running program holds its DLL.
    HANDLE Hold(const std::wstring& path)
    {
        EXPECT_TRUE(Plant(path));
        HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(held, INVALID_HANDLE_VALUE);
        return held;
    }

    TestRun exitCodeRun{ExitCodeOptions()};
};

} // namespace

TEST_F(ExitCodeRecordTest, WhatIsStillThereAtTheEndIsReportedOnceInTheOrderFirstTried)
{
    UndeletableKeys stuck;
    ScratchKeys machine;
    ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Gone")));
    ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Shared")));
    ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Stuck")));
    ASSERT_TRUE(machine.Create(HKEY_LOCAL_MACHINE, L"Software\\ZcRecordStuck", KEY_WOW64_32KEY));
    if (!stuck.Make(HKEY_USERS, User(L"Stuck")) || !stuck.Make(HKEY_USERS, User(L"Shared")) ||
        !MakeKeyUndeletable(HKEY_LOCAL_MACHINE, L"Software\\ZcRecordStuck", KEY_WOW64_32KEY))
        GTEST_SKIP() << "this Wine cannot make a key undeletable";
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Values"), L"Kept", L"1"));
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Values"), L"Dropped", L"2"));
    const std::wstring held = folder / L"Full\\held.dll";
    HANDLE holder = Hold(held);
    ASSERT_TRUE(Plant(folder / L"free.txt"));

    auto deleteKey = [](const wchar_t* name, REGSAM view) {
        return DeleteRegistryTree(HKEY_USERS, User(name).c_str(), view, {L"HKU", Sid, name});
    };
    EXPECT_EQ(deleteKey(L"Stuck", KEY_WOW64_64KEY), Change::Failed);
    EXPECT_EQ(deleteKey(L"Shared", KEY_WOW64_64KEY), Change::Failed);
    EXPECT_EQ(DeleteFileAt(held.c_str()), Change::Failed);
    EXPECT_EQ(DeleteFileAt((folder / L"free.txt").c_str()), Change::Made);
    EXPECT_EQ(RemoveFolder((folder / L"Full").c_str()), Change::Failed);
    HKEY machineSoftware;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ | KEY_WOW64_32KEY, &machineSoftware),
              ERROR_SUCCESS);
    EXPECT_EQ(DeleteRegistryTree(machineSoftware, L"ZcRecordStuck", KEY_WOW64_32KEY,
                                 {L"HKLM", L"Software", L"ZcRecordStuck"}),
              Change::Failed);
    RegCloseKey(machineSoftware);
    HKEY user;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, Sid, 0, KEY_READ | KEY_WOW64_64KEY, &user), ERROR_SUCCESS);
    NoteKeyChange(user, L"Values", KEY_WOW64_64KEY, L"Kept", {L"HKU", Sid, L"Values"});
    NoteKeyChange(user, L"Values", KEY_WOW64_64KEY, L"Dropped", {L"HKU", Sid, L"Values"});
    RegCloseKey(user);
    EXPECT_EQ(RegDeleteKeyValueW(HKEY_USERS, User(L"Values").c_str(), L"Dropped"), ERROR_SUCCESS);
    // Tried again, and the shared key deleted through the other view: gone at the end.
    EXPECT_EQ(deleteKey(L"Stuck", KEY_WOW64_32KEY), Change::Failed);
    EXPECT_EQ(deleteKey(L"Gone", KEY_WOW64_64KEY), Change::Made);
    ASSERT_TRUE(MakeKeyDeletable(HKEY_USERS, User(L"Shared")));
    EXPECT_EQ(deleteKey(L"Shared", KEY_WOW64_32KEY), Change::Made);
    log.Clear();

    EXPECT_EQ(LogRunOutcome(), 1);
    EXPECT_EQ(log.Lines(), (Lines{L"Not removed: HKU\\" + User(L"Stuck"), L"Not removed: " + held,
                                  L"Not removed: " + (folder / L"Full"), L"Not removed: HKLM\\Software\\ZcRecordStuck",
                                  L"Not removed: value [Kept] from HKU\\" + User(L"Values"), L"Exit code [1]"}));
    CloseHandle(holder);
    MakeKeyDeletable(HKEY_LOCAL_MACHINE, L"Software\\ZcRecordStuck", KEY_WOW64_32KEY);
}

TEST_F(ExitCodeRecordTest, ScheduledFilesAndARestartingUninstallerMake3010)
{
    const std::vector<unsigned char> pendingBefore = ReadPendingOperations();
    const std::wstring held = folder / L"Product\\held.dll";
    HANDLE holder = Hold(held);
    ChildProcess running(CopyFakeProduct(folder / L"Product", L"Helper.exe"));
    ASSERT_TRUE(running.Started());
    const std::wstring image = folder / L"Product\\Helper.exe";

    EXPECT_EQ(DeleteFileAt(held.c_str()), Change::Failed);
    EXPECT_EQ(DeleteFileAt(image.c_str()), Change::Failed);
    EXPECT_EQ(ScheduleDeletionAtRestart(held.c_str(), false), Change::Made);
    EXPECT_EQ(ScheduleDeletionAtRestart(image.c_str(), false), Change::Made);
    const std::wstring pending = PendingText(ReadPendingOperations());
    RestorePendingOperations(pendingBefore);
    log.Clear();

    // The file in use without delete sharing cannot be renamed: scheduled as itself. The
    // running program's image is renamed within its folder first.
    EXPECT_TRUE(Exists(held));
    EXPECT_FALSE(Exists(image));
    std::vector<std::wstring> left = ListTree(folder / L"Product");
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], L"held.dll");
    EXPECT_EQ(left[1].rfind(L"~ZamoClean-", 0), 0u) << std::string(left[1].begin(), left[1].end());
    EXPECT_NE(pending.find(L"\\??\\" + held + L"||"), std::wstring::npos);
    EXPECT_NE(pending.find(L"\\??\\" + folder / (L"Product\\" + left[1]) + L"||"), std::wstring::npos);
    EXPECT_EQ(LogRunOutcome(), 3010);
    EXPECT_EQ(log.Lines(), Lines{L"Exit code [3010]"});

    // An uninstaller's own codes: 3010 and 1641 complete at restart, others do not.
    exitCodeRun.Again();
    NoteUninstallerExit(1605);
    EXPECT_EQ(LogRunOutcome(), 0);
    NoteUninstallerExit(1641);
    EXPECT_EQ(LogRunOutcome(), 3010);
    CloseHandle(holder);
}

// The record finds an item again by its name ignoring case, whatever it holds besides: a file
// tried twice in two spellings is one item, its scheduling found among thousands of others.
TEST_F(ExitCodeRecordTest, AnItemIsFoundAgainAmongManyWhateverItsCase)
{
    const std::vector<unsigned char> pendingBefore = ReadPendingOperations();
    const DWORD others = 2000;
    for (DWORD i = 0; i < others; i++) {
        const std::wstring gone = folder / (L"Gone\\file" + std::to_wstring(i) + L".txt");
        ASSERT_EQ(DeleteFileAt(gone.c_str()), Change::Failed);
    }
    const std::wstring held = folder / L"Product\\Held.dll";
    HANDLE holder = Hold(held);
    std::wstring shouted = held;
    CharUpperBuffW(&shouted[0], static_cast<DWORD>(shouted.size()));
    ASSERT_NE(shouted, held);
    EXPECT_EQ(DeleteFileAt(held.c_str()), Change::Failed);
    EXPECT_EQ(DeleteFileAt(shouted.c_str()), Change::Failed);
    // A folder of the same path is an item of its own kind.
    EXPECT_EQ(RemoveFolder(held.c_str()), Change::Failed);
    EXPECT_EQ(TriedItemCount(), others + 2);
    // Scheduled in the other spelling: the one item is found and counts as scheduled.
    const Change scheduled = ScheduleDeletionAtRestart(shouted.c_str(), false);
    RestorePendingOperations(pendingBefore);
    ASSERT_EQ(scheduled, Change::Made);
    EXPECT_TRUE(ScheduledAlready(held.c_str()));
    log.Clear();

    EXPECT_EQ(LogRunOutcome(), 1) << "the folder of that path is still there as a file";
    EXPECT_EQ(log.Lines(), (Lines{L"Not removed: " + held, L"Exit code [1]"}));
    TriedItemReport item;
    DescribeTriedItem(others, item);
    EXPECT_EQ(std::wstring(item.kind), L"file");
    EXPECT_EQ(std::wstring(item.name), held);
    EXPECT_EQ(std::wstring(item.outcome), L"scheduled");
    DescribeTriedItem(others + 1, item);
    EXPECT_EQ(std::wstring(item.kind), L"folder");
    EXPECT_EQ(std::wstring(item.outcome), L"not removed");
    DescribeTriedItem(others - 1, item);
    EXPECT_EQ(std::wstring(item.outcome), L"removed");
    CloseHandle(holder);
}

TEST_F(ExitCodeRecordTest, PreviewIsOneWhenItNamesAnyChangeAndNoneForAMarker)
{
    const std::wstring file = folder / L"product.txt";
    ASSERT_TRUE(Plant(file));
    PreviewRun preview;
    EXPECT_EQ(DeleteFileAt((folder / L"missing.txt").c_str()), Change::Previewed);
    EXPECT_EQ(DeleteRegistryTree(HKEY_USERS, User(L"Missing").c_str(), KEY_WOW64_64KEY, {L"HKU", Sid, L"Missing"}),
              Change::Previewed);
    EXPECT_EQ(WriteMarker(HKEY_USERS, User(L"Software\\Quorvex\\Cleaned").c_str(), KEY_WOW64_64KEY, L"Sig",
                          {L"HKU", Sid}),
              Change::Previewed);
    EXPECT_EQ(LogRunOutcome(), 0);
    EXPECT_EQ(DeleteFileAt(file.c_str()), Change::Previewed);
    EXPECT_EQ(LogRunOutcome(), 1);
    EXPECT_TRUE(Exists(file));
    // A file is named as the walk found it, and counts only where it is there.
    EXPECT_EQ(log.Lines(), (Lines{L"Would delete file [" + (folder / L"missing.txt") + L"]",
                                  L"Would mark [HKU," + std::wstring(Sid) + L"] with signature [Sig]", L"Exit code [0]",
                                  L"Would delete file [" + file + L"]", L"Exit code [1]"}));

    preview.Again();
    ChildProcess child(CopyFakeProduct(folder.Path(), L"ZcPreviewed.exe"));
    ASSERT_TRUE(child.Started());
    StopProcess(child.Handle(), child.Id(), L"ZcPreviewed.exe");
    EXPECT_EQ(LogRunOutcome(), 1) << "a process it would stop";
    EXPECT_TRUE(child.Running());
}

namespace {

// A key of the test SID opened for value deletion, in one view.
HKEY RegOpenForValues(const std::wstring& path, REGSAM view)
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
    HKEY key = RegOpenForValues(L"Run", KEY_WOW64_64KEY);
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
    HKEY wide = RegOpenForValues(L"Run", KEY_WOW64_64KEY);
    HKEY narrow = RegOpenForValues(L"Run", KEY_WOW64_32KEY);
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

namespace {

// Whether a key is left empty, asked after each of a run's value removals: a preview answers as
// the real run does, and a subkey or a value the run leaves keeps the key.
TEST_F(ChangesTest, KeyIsLeftEmptyAfterTheRunsRemovalsInAPreviewAsInARealRun)
{
    const struct {
        const wchar_t* what;
        std::vector<const wchar_t*> values;
        bool subkey;
        std::vector<const wchar_t*> removed;
        std::vector<bool> emptyAfter;  // before any removal, then after each
    } cases[] = {
        {L"every value removed", {L"A", L"B"}, false, {L"A", L"B"}, {false, false, true}},
        {L"one value left", {L"A", L"B", L"Other"}, false, {L"A", L"B"}, {false, false, false}},
        {L"a subkey left", {L"A"}, true, {L"A"}, {false, false}},
        {L"nothing in it", {}, false, {}, {true}},
    };
    for (bool preview : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::wstring(c.what) + (preview ? L", preview" : L", real run"));
            DeleteKeyTree(HKEY_USERS, User(L"Codes"));
            ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Codes\\Code")));
            for (const wchar_t* name : c.values)
                ASSERT_TRUE(SetString(HKEY_USERS, User(L"Codes\\Code"), name, L"x"));
            if (c.subkey) {
                ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Codes\\Code\\Sub")));
            }
            std::unique_ptr<PreviewRun> run(preview ? new PreviewRun : nullptr);
            HKEY key;
            ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, User(L"Codes\\Code").c_str(), 0,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, &key),
                      ERROR_SUCCESS);
            std::vector<bool> empty = {KeyLeftEmpty(key)};
            for (const wchar_t* name : c.removed) {
                DeleteRegistryValue(key, name, {L"HKU", Sid, L"Codes\\Code"});
                empty.push_back(KeyLeftEmpty(key));
            }
            RegCloseKey(key);
            EXPECT_EQ(empty, c.emptyAfter);
        }
    }
}

} // namespace
