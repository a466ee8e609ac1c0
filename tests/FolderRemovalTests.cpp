// Folder removal: real trees in temporary folders, the log lines read back.
#include "change/RunOutcome.h"
#include "clean/ground/FolderRemoval.h"
#include "common/FileKinds.h"
#include "common/Path.h"
#include "common/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class FolderRemovalTest : public ::testing::Test {
protected:
    // Creates the folders and files named relative to the tree (folders end with "\").
    void Build(const std::vector<std::wstring>& entries)
    {
        ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
        for (const std::wstring& entry : entries) {
            std::wstring path = tree + L"\\" + entry;
            if (entry.back() == L'\\')
                ASSERT_TRUE(CreateDirectoryW(path.substr(0, path.size() - 1).c_str(), nullptr)) << path;
            else
                ASSERT_TRUE(WriteTextFile(path, "content")) << path;
        }
    }

    std::wstring Line(const std::wstring& relative) const { return L"Deleting file [" + tree + L"\\" + relative + L"]"; }

    static std::vector<std::wstring> Sorted(std::vector<std::wstring> lines)
    {
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    // What was logged after the log's separator line.
    std::vector<std::wstring> Logged() const
    {
        std::vector<std::wstring> lines = log.Lines();
        return std::vector<std::wstring>(lines.begin() + (lines.empty() ? 0 : 1), lines.end());
    }

    TempFolder folder;
    std::wstring tree = folder / L"Tree";
    TestRunLog log;
};

TEST_F(FolderRemovalTest, EmptyFolderIsRemovedWithoutALine)
{
    Build({});
    RemoveFolderTree(tree.c_str());
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(Logged().empty());
}

TEST_F(FolderRemovalTest, FilesAndAnEmptySubFolderGoWithOneLineEachForTheFiles)
{
    Build({L"one.txt", L"two.dat", L"Three", L"empty\\"});
    SetFileAttributesW((tree + L"\\two.dat").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    RemoveFolderTree(tree.c_str());
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(Sorted(Logged()), Sorted({Line(L"one.txt"), Line(L"two.dat"), Line(L"Three")}));
}

TEST_F(FolderRemovalTest, SeveralLevelsAreRemovedDepthFirst)
{
    Build({L"a\\", L"a\\b\\", L"a\\b\\c\\", L"a\\b\\c\\deep.txt", L"a\\b\\mid.txt", L"a\\top-a.txt", L"x\\",
           L"x\\x1.txt", L"x\\x2.txt", L"root.txt"});
    RemoveFolderTree(tree.c_str());
    EXPECT_FALSE(Exists(tree));
    std::vector<std::wstring> lines = Logged();
    ASSERT_EQ(Sorted(lines), Sorted({Line(L"a\\b\\c\\deep.txt"), Line(L"a\\b\\mid.txt"), Line(L"a\\top-a.txt"),
                                     Line(L"x\\x1.txt"), Line(L"x\\x2.txt"), Line(L"root.txt")}));
    // Depth first: the lines of each folder's subtree come as one unbroken run.
    for (const wchar_t* sub : {L"a\\", L"a\\b\\", L"a\\b\\c\\", L"x\\"}) {
        std::wstring prefix = L"Deleting file [" + tree + L"\\" + sub;
        std::vector<size_t> at;
        for (size_t i = 0; i < lines.size(); i++) {
            if (lines[i].compare(0, prefix.size(), prefix) == 0)
                at.push_back(i);
        }
        ASSERT_FALSE(at.empty());
        EXPECT_EQ(at.back() - at.front() + 1, at.size()) << "subtree " << std::string(sub, sub + wcslen(sub));
    }
}

TEST_F(FolderRemovalTest, FilesThatCannotGoKeepTheirFoldersAndEverythingElseGoes)
{
    Build({L"ro\\", L"ro\\locked.txt", L"ro\\other.txt", L"held\\", L"held\\open.txt", L"held\\inner\\",
           L"held\\inner\\f.txt", L"free\\", L"free\\f.txt", L"plain.txt"});
    std::wstring readOnly = tree + L"\\ro\\locked.txt";
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE open = CreateFileW((tree + L"\\held\\open.txt").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    RemoveFolderTree(tree.c_str());
    CloseHandle(open);

    EXPECT_EQ(Sorted(Logged()), Sorted({Line(L"ro\\locked.txt"), Line(L"ro\\other.txt"), Line(L"held\\open.txt"),
                                           Line(L"held\\inner\\f.txt"), Line(L"free\\f.txt"), Line(L"plain.txt")}));
    EXPECT_EQ(ListTree(tree), (std::vector<std::wstring>{L"held\\", L"held\\open.txt", L"ro\\", L"ro\\locked.txt"}));
    // Attributes are never changed.
    EXPECT_EQ(GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The preview walks the tree as a real run does and names the same files in the same
// order; a second call names nothing, as a real run would find the tree gone.
TEST_F(FolderRemovalTest, PreviewNamesTheFilesARealRunDeletesAndKeepsTheTree)
{
    Build({L"one.txt", L"a\\", L"a\\b\\", L"a\\b\\deep.txt", L"a\\two.txt", L"empty\\", L"z.txt"});
    const std::vector<std::wstring> before = ListTree(tree);
    std::vector<std::wstring> previewed;
    {
        PreviewRun preview;
        RemoveFolderTree(tree.c_str());
        RemoveFolderTree(tree.c_str());
        previewed = Logged();
    }
    EXPECT_EQ(ListTree(tree), before);

    RemoveFolderTree(tree.c_str());

    std::vector<std::wstring> lines = Logged();
    std::vector<std::wstring> real(lines.begin() + previewed.size(), lines.end());
    ASSERT_EQ(real.size(), 4u);
    ASSERT_EQ(previewed.size(), real.size());
    for (size_t i = 0; i < real.size(); i++)
        EXPECT_EQ(L"Would delete file" + previewed[i].substr(17), L"Would delete file" + real[i].substr(13))
            << "line " << i;
    EXPECT_FALSE(Exists(tree));
}

TEST_F(FolderRemovalTest, PathThatIsAFileIsLeftAlone)
{
    std::wstring file = folder / L"file.txt";
    ASSERT_TRUE(WriteTextFile(file, "keep"));
    RemoveFolderTree(file.c_str());
    EXPECT_TRUE(Exists(file));
    EXPECT_TRUE(Logged().empty());
}

TEST_F(FolderRemovalTest, MissingPathDoesNothing)
{
    RemoveFolderTree((folder / L"missing").c_str());
    EXPECT_TRUE(Exists(folder.Path()));
    EXPECT_TRUE(Logged().empty());
}

TEST_F(FolderRemovalTest, EnvironmentReferenceIsExpandedAndLinesShowTheExpansion)
{
    Build({L"f.txt", L"sub\\", L"sub\\g.txt"});
    ScopedVariable variable(L"ZC_TREE_PARENT", folder.Path().c_str());
    RemoveFolderTree(L"%ZC_TREE_PARENT%\\Tree");
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(Sorted(Logged()), Sorted({Line(L"f.txt"), Line(L"sub\\g.txt")}));
}

TEST_F(FolderRemovalTest, PathInAnotherLetterCaseIsRemovedAndLoggedAsGiven)
{
    Build({L"Sub\\", L"Sub\\File.TXT", L"top.txt"});
    std::wstring given = tree;
    for (wchar_t& c : given)
        c = static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : (c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c));
    ASSERT_NE(given, tree);
    RemoveFolderTree(given.c_str());
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(Sorted(Logged()), Sorted({L"Deleting file [" + given + L"\\Sub\\File.TXT]",
                                        L"Deleting file [" + given + L"\\top.txt]"}));
}

TEST_F(FolderRemovalTest, NamesFoundInsideTheTreeAreNotExpanded)
{
    // A sub-folder named like a reference must not lead the removal to the folder that
    // the reference would name.
    std::wstring victim = folder / L"victim";
    ASSERT_TRUE(CreateDirectoryW(victim.c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(victim + L"\\precious.txt", "keep"));
    Build({L"%ZC_ELSEWHERE%\\", L"%ZC_ELSEWHERE%\\f.txt"});
    ScopedVariable variable(L"ZC_ELSEWHERE", L"..\\victim");
    RemoveFolderTree(tree.c_str());
    EXPECT_TRUE(Exists(victim + L"\\precious.txt"));
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{Line(L"%ZC_ELSEWHERE%\\f.txt")}));
}

TEST_F(FolderRemovalTest, EntryWhosePathDoesNotFitStaysWithItsFolders)
{
    // The tree's own path fits with room for short names only.
    std::wstring deep = tree + L"\\" + std::wstring(250 - tree.size(), L'd');
    ASSERT_LT(deep.size(), 255u);
    std::wstring longName(259 - deep.size(), L'n');  // deep + "\" + name is 260 characters
    ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(L"\\\\?\\" + deep + L"\\" + longName, "long"));
    ASSERT_TRUE(WriteTextFile(deep + L"\\s", "short"));
    ASSERT_TRUE(WriteTextFile(deep + L"\\" + longName.substr(0, longName.size() - 1), "fits"));
    RemoveFolderTree(tree.c_str());
    std::wstring fits = deep + L"\\" + longName.substr(0, longName.size() - 1);
    EXPECT_EQ(Sorted(Logged()), Sorted({L"Deleting file [" + deep + L"\\s]", L"Deleting file [" + fits + L"]"}));
    EXPECT_TRUE(Exists(L"\\\\?\\" + deep + L"\\" + longName));
    EXPECT_FALSE(Exists(fits));
    EXPECT_TRUE(Exists(deep));
    DeleteFileW((L"\\\\?\\" + deep + L"\\" + longName).c_str());
}

TEST_F(FolderRemovalTest, FolderWhosePatternDoesNotFitIsLeftAlone)
{
    // 256 characters: the folder fits, its "\*.*" does not.
    std::wstring top = tree + L"\\" + std::wstring(256 - tree.size() - 1, L't');
    ASSERT_EQ(top.size(), 256u);
    ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + top).c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(L"\\\\?\\" + top + L"\\f", "x"));
    RemoveFolderTree(top.c_str());
    EXPECT_TRUE(Exists(L"\\\\?\\" + top + L"\\f"));
    EXPECT_TRUE(Logged().empty());
}

// A tree that holds no file gets no "Would delete file" line: the preview names its top
// folder instead, once however often it is walked, and a real run still logs nothing for it.
TEST_F(FolderRemovalTest, PreviewNamesATreeWithoutFilesOnceByItsTopFolder)
{
    Build({L"Zamo\\", L"Zamo\\empty\\", L"Other\\"});
    const std::vector<std::wstring> before = ListTree(tree);
    {
        PreviewRun preview;
        RemoveFolderTree(tree.c_str());
        RemoveFolderTree(tree.c_str());
        // A sub-folder of a tree the preview has passed as removed is not named again.
        RemoveFolderTree((tree + L"\\Zamo").c_str());
    }
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{L"Would remove folder [" + tree + L"]"}));
    EXPECT_EQ(ListTree(tree), before);

    RemoveFolderTree(tree.c_str());
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{L"Would remove folder [" + tree + L"]"}));
}

// Its files name a tree that holds any: no folder line, not for its empty sub-folders either.
TEST_F(FolderRemovalTest, PreviewOfATreeWithAFileDeepDownNamesOnlyTheFile)
{
    Build({L"empty\\", L"a\\", L"a\\b\\", L"a\\b\\deep.txt"});
    {
        PreviewRun preview;
        RemoveFolderTree(tree.c_str());
    }
    EXPECT_EQ(Logged(), (std::vector<std::wstring>{L"Would delete file [" + tree + L"\\a\\b\\deep.txt]"}));
    EXPECT_TRUE(Exists(tree + L"\\empty"));
}

// Names that a plain path does not reach (a final dot or space, a device name) are created
// and removed through the literal "\\?\" form; Wine takes it as Windows does.
class OddNameTest : public FolderRemovalTest {
protected:
    void SetUp() override
    {
        literalTree = L"\\\\?\\" + tree;
        ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((literalTree + L"\\dir.").c_str(), nullptr));
        for (const std::wstring& file : files)
            ASSERT_TRUE(WriteTextFile(literalTree + L"\\" + file, "x")) << Narrow(file);
        // A plain path to "dot." names "dot", which is not there: the case is real only then.
        if (GetFileAttributesW((tree + L"\\dot.").c_str()) != INVALID_FILE_ATTRIBUTES ||
            GetFileAttributesW((literalTree + L"\\dot.").c_str()) == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "this Wine reaches a name with a final dot through a plain path, or not at all";
    }
    void TearDown() override
    {
        ReportExitCode = false;
        ClearTriedItems();
        RemoveTree(literalTree);
    }
    static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
    std::vector<std::wstring> Lines(const wchar_t* format) const
    {
        std::vector<std::wstring> lines;
        for (const std::wstring& file : files)
            lines.push_back(format + tree + L"\\" + file + L"]");
        return Sorted(lines);
    }

    std::wstring literalTree;
    const std::vector<std::wstring> files = {L"dot.",    L"space ",   L"con.txt",          L"AUX.log",
                                             L"nul",     L"com1.dat", L"dir.\\inner.txt", L"dir.\\lpt9",
                                             L"plain.txt"};
};

TEST_F(OddNameTest, EveryNameIsNamedByThePreviewAndDeletedByARealRun)
{
    {
        PreviewRun preview;
        RemoveFolderTree(tree.c_str());
    }
    EXPECT_EQ(Sorted(Logged()), Lines(L"Would delete file ["));
    EXPECT_TRUE(Exists(literalTree + L"\\dir.\\inner.txt"));

    const size_t previewed = Logged().size();
    RemoveFolderTree(tree.c_str());
    std::vector<std::wstring> lines = Logged();
    EXPECT_EQ(Sorted(std::vector<std::wstring>(lines.begin() + previewed, lines.end())), Lines(L"Deleting file ["));
    EXPECT_FALSE(Exists(literalTree));
}

// A name held open stays and "Not removed" names it as the log does, without the prefix; its
// folders stay with it.
TEST_F(OddNameTest, OneHeldOpenIsNamedByNotRemoved)
{
    ReportExitCode = true;
    ClearTriedItems();
    HANDLE held = CreateFileW((literalTree + L"\\dir.\\inner.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RemoveFolderTree(tree.c_str());
    const int exitCode = LogRunOutcome();
    CloseHandle(held);

    EXPECT_EQ(exitCode, 1);
    std::vector<std::wstring> lines = Logged();
    const std::vector<std::wstring> outcome = {L"Not removed: " + tree + L"\\dir.\\inner.txt",
                                               L"Not removed: " + tree + L"\\dir.", L"Not removed: " + tree,
                                               L"Exit code [1]"};
    ASSERT_GE(lines.size(), outcome.size());
    EXPECT_EQ(std::vector<std::wstring>(lines.end() - outcome.size(), lines.end()), outcome);
    EXPECT_EQ(Sorted(std::vector<std::wstring>(lines.begin(), lines.end() - outcome.size())), Lines(L"Deleting file ["));
    EXPECT_EQ(ListTree(literalTree), (std::vector<std::wstring>{L"dir.\\", L"dir.\\inner.txt"}));
}

TEST(PathJoinName, TakesOnlyTheFolderOneBackslashAndTheName)
{
    PathBuffer path = L"C:\\Folder";
    EXPECT_TRUE(PathJoinName(path, L"Entry.txt"));
    EXPECT_STREQ(path, L"C:\\Folder\\Entry.txt");
    PathBuffer rooted = L"C:\\";
    EXPECT_TRUE(PathJoinName(rooted, L"Entry"));
    EXPECT_STREQ(rooted, L"C:\\Entry");
    // PathAppendW would canonicalise these into other paths.
    PathBuffer dotted = L"C:\\Folder\\..\\Other";
    EXPECT_FALSE(PathJoinName(dotted, L"Entry"));
    PathBuffer parent = L"C:\\Folder";
    EXPECT_FALSE(PathJoinName(parent, L".."));
    // 255 characters and a backslash leave room for a name of three, not four.
    std::wstring folder = L"C:\\" + std::wstring(252, L'f');
    PathBuffer fits;
    wcscpy(fits, folder.c_str());
    EXPECT_TRUE(PathJoinName(fits, L"abc"));
    PathBuffer tooLong;
    wcscpy(tooLong, folder.c_str());
    EXPECT_FALSE(PathJoinName(tooLong, L"abcd"));
}

// Links to non-empty folders outside the tree: Wine deletes through a link when asked
// to remove it, so a link must be neither entered nor removed.
class FolderLinkTest : public FolderRemovalTest {
protected:
    void SetUp() override
    {
        if (UnixPath(folder.Path()).empty())
            GTEST_SKIP() << "directory links are planted through Wine's Unix side";
        ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((outside + L"\\inner").c_str(), nullptr));
        ASSERT_TRUE(WriteTextFile(outside + L"\\precious.txt", "keep"));
        ASSERT_TRUE(WriteTextFile(outside + L"\\inner\\also.txt", "keep"));
    }
    void ExpectOutsideIntact()
    {
        EXPECT_EQ(ListTree(outside),
                  (std::vector<std::wstring>{L"inner\\", L"inner\\also.txt", L"precious.txt"}));
    }
    std::wstring outside = folder / L"Outside";
};

TEST_F(FolderLinkTest, LinkHandedInIsNotEntered)
{
    DirectoryLink link(folder / L"TopLink", outside);
    if (!link.Planted())
        GTEST_SKIP() << "Wine did not report the link as a reparse point";
    RemoveFolderTree((folder / L"TopLink").c_str());
    ExpectOutsideIntact();
    EXPECT_TRUE(link.Planted());
    EXPECT_TRUE(Logged().empty());
}

TEST_F(FolderLinkTest, LinkDeepInsideStaysWithItsParentsAndEverythingElseGoes)
{
    Build({L"a\\", L"a\\b\\", L"a\\b\\f.txt", L"a\\g.txt", L"c\\", L"c\\h.txt"});
    DirectoryLink link(tree + L"\\a\\b\\Link", outside);
    DirectoryLink top(tree + L"\\TopLevelLink", outside);
    if (!link.Planted() || !top.Planted())
        GTEST_SKIP() << "Wine did not report the link as a reparse point";
    RemoveFolderTree(tree.c_str());
    ExpectOutsideIntact();
    EXPECT_TRUE(link.Planted());
    EXPECT_TRUE(top.Planted());
    EXPECT_EQ(ListTree(tree), (std::vector<std::wstring>{L"TopLevelLink", L"a\\", L"a\\b\\", L"a\\b\\Link"}));
    EXPECT_EQ(Sorted(Logged()), Sorted({Line(L"a\\b\\f.txt"), Line(L"a\\g.txt"), Line(L"c\\h.txt")}));
}

// The one link check every walk uses: what is there and what it is, and nothing there, whose
// INVALID_FILE_ATTRIBUTES has the link's bit set among all the others.
TEST_F(FolderLinkTest, LinkChecksTellFoldersFilesLinksAndNothingApart)
{
    DirectoryLink link(folder / L"Link", outside);
    if (!link.Planted())
        GTEST_SKIP() << "Wine did not report the link as a reparse point";
    DWORD linked = GetFileAttributesW((folder / L"Link").c_str());
    DWORD plainFolder = GetFileAttributesW(outside.c_str());
    DWORD plainFile = GetFileAttributesW((outside + L"\\precious.txt").c_str());
    DWORD nothing = GetFileAttributesW((folder / L"Missing").c_str());
    ASSERT_EQ(nothing, INVALID_FILE_ATTRIBUTES);

    EXPECT_TRUE(IsLinkAttributes(linked));
    EXPECT_FALSE(IsPlainFolder(linked));
    EXPECT_FALSE(IsPlainFileAttributes(linked));

    EXPECT_FALSE(IsLinkAttributes(plainFolder));
    EXPECT_TRUE(IsPlainFolder(plainFolder));
    EXPECT_FALSE(IsPlainFileAttributes(plainFolder));

    EXPECT_FALSE(IsLinkAttributes(plainFile));
    EXPECT_FALSE(IsPlainFolder(plainFile));
    EXPECT_TRUE(IsPlainFileAttributes(plainFile));

    EXPECT_FALSE(IsLinkAttributes(nothing));
    EXPECT_FALSE(IsPlainFolder(nothing));
    EXPECT_FALSE(IsPlainFileAttributes(nothing));
}

} // namespace
