// The machine's package cache, found through %ProgramData% (pointed at a temporary folder):
// entries told by a marker or by a real package's ProductName, another maker's package, a
// file in the cache itself, an entry and a cache that are links; a real run and a preview.
#include "clean/installer/PackageCache.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::wstring> Lines;

bool Plant(const std::wstring& file)
{
    for (size_t at = file.find(L'\\', 3); at != std::wstring::npos; at = file.find(L'\\', at + 1))
        CreateDirectoryW(file.substr(0, at).c_str(), nullptr);
    return WriteTextFile(file, "x");
}

bool CopyPackage(const std::wstring& package, const std::wstring& to)
{
    return Plant(to) && CopyFileW((BinaryFolder() + L"\\" + package).c_str(), to.c_str(), FALSE);
}

// The entry folders of a folder in the order the file system lists them.
Lines EntryOrder(const std::wstring& folder)
{
    Lines names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

class PackageCacheTest : public ::testing::Test {
protected:
    PackageCacheTest() : programData(L"ProgramData", data.Path().c_str()), cache(data / L"Package Cache") {}

    // Two entries of the product's, one of another maker's, a product's marker name on a file
    // of the cache itself, and an entry that links to a folder holding the product's files.
    void Build()
    {
        ASSERT_TRUE(CopyPackage(L"ZamoDeployment.msi", cache + L"\\{CE663B42-B0B0-45B7-9034-7B8AB2967B23}v1.0.0\\ZamoDeployment.msi"));
        ASSERT_TRUE(Plant(cache + L"\\{CE663B42-B0B0-45B7-9034-7B8AB2967B23}v1.0.0\\state.rsm"));
        ASSERT_TRUE(Plant(cache + L"\\{A1C3E5F7-0001-4000-8000-0000000000F3}\\ZamoOutlookSetupX64.msi"));
        ASSERT_TRUE(CopyPackage(L"OtherMaker.msi", cache + L"\\{E783CA5A-A944-4A7F-9E33-C95A969B909E}v1.0.0\\OtherMaker.msi"));
        ASSERT_TRUE(Plant(cache + L"\\ZamoOutlookSetupX64.msi"));
        ASSERT_TRUE(Plant(outside / L"ZamoOutlookSetupX64.msi"));
        ASSERT_TRUE(CopyPackage(L"ZamoDeployment.msi", outside / L"ZamoDeployment.msi"));
    }

    // The lines of a run over Build's cache, the product's entries in listing order.
    Lines Expected(const std::wstring& deleting) const
    {
        Lines lines = {L"Attempting to remove items from MSI package cache [" + cache + L"]"};
        for (const std::wstring& name : EntryOrder(cache)) {
            std::wstring entry = cache + L"\\" + name;
            if (name == L"{CE663B42-B0B0-45B7-9034-7B8AB2967B23}v1.0.0") {
                lines.push_back(L"Removing package cache for [ZamoDeployment.msi] at [" + entry + L"]");
                for (const std::wstring& file : EntryOrder(entry))
                    lines.push_back(deleting + L" [" + entry + L"\\" + file + L"]");
            } else if (name == L"{A1C3E5F7-0001-4000-8000-0000000000F3}") {
                lines.push_back(L"Removing package cache for [ZamoOutlookSetupX64.msi] at [" + entry + L"]");
                lines.push_back(deleting + L" [" + entry + L"\\ZamoOutlookSetupX64.msi]");
            }
        }
        return lines;
    }

    TempFolder data;
    TempFolder outside;
    ScopedVariable programData;
    const std::wstring cache;
    LogCapture log;
};

TEST_F(PackageCacheTest, ProductEntriesGoByMarkerOrPackageAndNothingElseIsTouched)
{
    Build();
    if (UnixPath(outside.Path()).empty())
        GTEST_SKIP() << "directory links are planted through Wine's Unix side";
    DirectoryLink link(cache + L"\\{A1C3E5F7-0001-4000-8000-0000000000F4}", outside.Path());
    if (!link.Planted())
        GTEST_SKIP() << "Wine did not report the link as a reparse point";
    const Lines outsideBefore = ListTree(outside.Path());
    const Lines expected = Expected(L"Deleting file");

    RemoveMachinePackageCache();

    EXPECT_EQ(log.Lines(), expected);
    EXPECT_EQ(ListTree(cache), (Lines{L"ZamoOutlookSetupX64.msi", L"{A1C3E5F7-0001-4000-8000-0000000000F4}",
                                      L"{E783CA5A-A944-4A7F-9E33-C95A969B909E}v1.0.0\\",
                                      L"{E783CA5A-A944-4A7F-9E33-C95A969B909E}v1.0.0\\OtherMaker.msi"}));
    EXPECT_TRUE(link.Planted());
    EXPECT_EQ(ListTree(outside.Path()), outsideBefore);
}

TEST_F(PackageCacheTest, PreviewNamesWhatARunRemovesAndChangesNothing)
{
    Build();
    const Lines before = ListTree(data.Path());
    const Lines expected = Expected(L"Would delete file");

    {
        PreviewRun preview;
        RemoveMachinePackageCache();
    }

    EXPECT_EQ(log.Lines(), expected);
    EXPECT_EQ(ListTree(data.Path()), before);
}

// The machine's cache is shared by every installer: without an entry of the product's it logs
// nothing, and a cache that is a link is never entered.
TEST_F(PackageCacheTest, CacheWithoutProductEntriesOrThatIsALinkLogsNothing)
{
    RemoveMachinePackageCache();
    ASSERT_TRUE(CopyPackage(L"OtherMaker.msi", cache + L"\\{E783CA5A-A944-4A7F-9E33-C95A969B909E}v1.0.0\\OtherMaker.msi"));
    ASSERT_TRUE(Plant(cache + L"\\ZamoInstallerPerUser.exe"));
    RemoveMachinePackageCache();
    EXPECT_EQ(log.Lines(), Lines{});
    EXPECT_TRUE(Exists(cache + L"\\ZamoInstallerPerUser.exe"));
    EXPECT_TRUE(Exists(cache + L"\\{E783CA5A-A944-4A7F-9E33-C95A969B909E}v1.0.0\\OtherMaker.msi"));

    if (UnixPath(outside.Path()).empty())
        GTEST_SKIP() << "directory links are planted through Wine's Unix side";
    ASSERT_TRUE(Plant(outside / L"{E}\\ZamoInstallerPerUser.exe"));
    ASSERT_TRUE(CopyPackage(L"ZamoDeployment.msi", outside / L"{F}\\ZamoDeployment.msi"));
    ScopedVariable linked(L"ProgramData", (data / L"Linked").c_str());
    ASSERT_TRUE(CreateDirectoryW((data / L"Linked").c_str(), nullptr));
    DirectoryLink cacheLink(data / L"Linked\\Package Cache", outside.Path());
    if (!cacheLink.Planted())
        GTEST_SKIP() << "Wine did not report the link as a reparse point";
    RemoveMachinePackageCache();
    EXPECT_EQ(log.Lines(), Lines{});
    EXPECT_EQ(ListTree(outside.Path()), (Lines{L"{E}\\", L"{E}\\ZamoInstallerPerUser.exe", L"{F}\\",
                                               L"{F}\\ZamoDeployment.msi"}));
}

} // namespace
