// Windows Installer data purge: synthetic component and product records under test
// SIDs, and the records of real packages installed by the prefix's own msiexec.
#include "clean/installer/InstallerDataPurge.h"
#include "clean/installer/InstallerProducts.h"
#include "common/Settings.h"
#include "log/log.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <iterator>
#include <set>

#include <wctype.h>

namespace {

const HKEY Machine = HKEY_LOCAL_MACHINE;
const std::wstring UserData = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

// Logs into a fresh file and gives each test its own SID under UserData, removed
// with everything below it afterwards.
class InstallerDataPurgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        sid_ = L"S-1-5-21-7070-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        logPath_ = folder_ / L"run.log";
        wcscpy(LogPath, logPath_.c_str());
        OpenRunLog();
        ASSERT_TRUE(::Exists(logPath_));
    }
    void TearDown() override
    {
        for (const std::wstring& path : pinned_)
            MakeKeyDeletable(Machine, path);
        for (const std::wstring& path : madeSids_)
            DeleteKeyTree(Machine, UserData + L"\\" + path);
        DeleteKeyTree(Machine, SidPath());
        CloseRunLog();
        LogPath[0] = L'\0';
    }

    std::wstring SidPath() const { return UserData + L"\\" + sid_; }
    std::wstring Components() const { return SidPath() + L"\\Components"; }
    std::wstring Products() const { return SidPath() + L"\\Products"; }

    // Every line after the separator that opening the log wrote.
    std::vector<std::wstring> Lines()
    {
        std::vector<std::wstring> lines = ReadLogLines(logPath_);
        EXPECT_FALSE(lines.empty());
        if (!lines.empty())
            lines.erase(lines.begin());
        return lines;
    }
    static std::wstring ComponentLine(int removed, const std::wstring& list, const std::wstring& name)
    {
        return L"Removing component [" + std::to_wstring(removed) + L"] [" + list + L"\\" + name + L"]";
    }
    static std::wstring ProductLine(int removed, const std::wstring& list, const std::wstring& name)
    {
        return L"Removing product [" + std::to_wstring(removed) + L"] [" + list + L"\\" + name + L"]";
    }
    std::wstring ComponentLine(int removed, const std::wstring& name) const
    {
        return ComponentLine(removed, Components(), name);
    }
    std::wstring ProductLine(int removed, const std::wstring& name) const
    {
        return ProductLine(removed, Products(), name);
    }

    // A product record with its InstallProperties "DisplayName" and a Features key.
    void MakeProduct(const std::wstring& list, const std::wstring& name, const std::wstring& displayName,
                     DWORD type = REG_SZ)
    {
        ASSERT_TRUE(SetString(Machine, list + L"\\" + name + L"\\InstallProperties", L"DisplayName", displayName,
                              KEY_WOW64_64KEY, type));
        ASSERT_TRUE(SetString(Machine, list + L"\\" + name + L"\\Features", L"Main", L"feature data"));
    }
    void MakeProduct(const std::wstring& name, const std::wstring& displayName, DWORD type = REG_SZ)
    {
        MakeProduct(Products(), name, displayName, type);
    }
    // Pins a record so that no deletion removes it; false when Wine cannot.
    bool Pin(const std::wstring& path)
    {
        if (!MakeKeyUndeletable(Machine, path))
            return false;
        pinned_.push_back(path);
        return true;
    }
    bool Exists(const std::wstring& path) const { return KeyExists(Machine, path); }

    TempFolder folder_;
    std::wstring logPath_;
    std::wstring sid_;
    std::vector<std::wstring> pinned_;
    std::vector<std::wstring> madeSids_;  // further SIDs a test made under UserData
};

TEST_F(InstallerDataPurgeTest, ComponentNamingTheMakerInAnyValueAndAnyCaseIsRemoved)
{
    // Value names are created in sorted order, which is the enumeration order of both
    // Windows (creation order) and Wine (name order).
    const std::wstring upper = Components() + L"\\0A11";
    ASSERT_TRUE(SetString(Machine, upper, L"01", L"C:\\Program Files\\QUORVEX\\Zamo\\zamo.exe"));
    const std::wstring binary = Components() + L"\\0B22";
    const std::wstring binaryText = L"c:\\data\\quorvex";  // stored without a NUL
    ASSERT_TRUE(SetBinary(Machine, binary, L"01", binaryText.c_str(),
                          static_cast<DWORD>(binaryText.size() * sizeof(wchar_t)), REG_BINARY));
    const std::wstring later = Components() + L"\\0C33";
    ASSERT_TRUE(SetString(Machine, later, L"01", L"C:\\Program Files\\Other\\tool.exe"));
    ASSERT_TRUE(SetString(Machine, later, L"02", L"02:\\Software\\Quorvex\\Zamo\\Installed"));
    const std::wstring expandable = Components() + L"\\0D44";
    ASSERT_TRUE(SetString(Machine, expandable, L"01", L"%ProgramFiles%\\qUoRvEx", KEY_WOW64_64KEY, REG_EXPAND_SZ));

    PurgeInstallerData(sid_.c_str());

    EXPECT_EQ(Lines(), (std::vector<std::wstring>{ComponentLine(1, L"0A11"), ComponentLine(1, L"0B22"),
                                                   ComponentLine(1, L"0C33"), ComponentLine(1, L"0D44")}));
    EXPECT_FALSE(Exists(upper));
    EXPECT_FALSE(Exists(binary));
    EXPECT_FALSE(Exists(later));
    EXPECT_FALSE(Exists(expandable));
    EXPECT_TRUE(Exists(Components()));
}

TEST_F(InstallerDataPurgeTest, ComponentNotMentioningTheMakerStaysWhateverItsName)
{
    const std::wstring other = Components() + L"\\Quorvex";  // the name alone is no match
    ASSERT_TRUE(SetString(Machine, other, L"01", L"C:\\Program Files\\Quorve\\x.exe"));
    ASSERT_TRUE(SetString(Machine, other, L"02", L"Zamo"));
    const std::wstring narrow = Components() + L"\\0A11";  // the word as 8-bit text
    ASSERT_TRUE(SetBinary(Machine, narrow, L"01", "C:\\Quorvex\\x", 12, REG_BINARY));
    const std::wstring multi = Components() + L"\\0B22";  // text ends at the first NUL
    const wchar_t multiText[] = L"C:\\first\0C:\\Quorvex\\second\0";
    ASSERT_TRUE(SetBinary(Machine, multi, L"01", multiText, sizeof(multiText), REG_MULTI_SZ));
    const std::wstring empty = Components() + L"\\0C33";
    ASSERT_TRUE(CreateKey(Machine, empty));

    PurgeInstallerData(sid_.c_str());

    EXPECT_EQ(Lines(), std::vector<std::wstring>{});
    EXPECT_TRUE(Exists(other));
    EXPECT_TRUE(Exists(narrow));
    EXPECT_TRUE(Exists(multi));
    EXPECT_TRUE(Exists(empty));
}

TEST_F(InstallerDataPurgeTest, ComponentScanReadsDataUpTo520BytesAndStopsAtATooLongValue)
{
    // 260 characters without a NUL, the word in the last seven: found.
    std::wstring full(260 - 7, L'x');
    full += L"Quorvex";
    const std::wstring fits = Components() + L"\\0A11";
    ASSERT_TRUE(SetBinary(Machine, fits, L"01", full.c_str(), 520, REG_BINARY));
    // 261 characters: too long, which ends the scan before the later value.
    std::wstring longer = L"Quorvex" + std::wstring(261 - 7, L'x');
    const std::wstring tooLong = Components() + L"\\0B22";
    ASSERT_TRUE(SetBinary(Machine, tooLong, L"01", longer.c_str(), 522, REG_BINARY));
    ASSERT_TRUE(SetString(Machine, tooLong, L"02", L"C:\\Quorvex\\x.exe"));
    // A value name of more than 259 characters ends the scan as well.
    const std::wstring longName = Components() + L"\\0C33";
    ASSERT_TRUE(SetString(Machine, longName, std::wstring(300, L'A').c_str(), L"C:\\Quorvex\\a.exe"));
    ASSERT_TRUE(SetString(Machine, longName, L"B", L"C:\\Quorvex\\b.exe"));
    // A name of exactly 259 characters is read.
    const std::wstring longestName = Components() + L"\\0D44";
    ASSERT_TRUE(SetString(Machine, longestName, std::wstring(259, L'A').c_str(), L"C:\\Quorvex\\a.exe"));

    PurgeInstallerData(sid_.c_str());

    EXPECT_EQ(Lines(), (std::vector<std::wstring>{ComponentLine(1, L"0A11"), ComponentLine(1, L"0D44")}));
    EXPECT_FALSE(Exists(fits));
    EXPECT_TRUE(Exists(tooLong));
    EXPECT_TRUE(Exists(longName));
    EXPECT_FALSE(Exists(longestName));
}

TEST_F(InstallerDataPurgeTest, ProductIsRemovedOnlyForAWholeCatalogueNameInInstallProperties)
{
    MakeProduct(L"1111", L"ZAMO (PER-MACHINE)");
    MakeProduct(L"2222", L"Zamo (per-machine) 2.0");
    MakeProduct(L"3333", L"Zamo (per-user)", REG_EXPAND_SZ);
    MakeProduct(L"4444", L"Brindle Notes");
    // The name elsewhere than InstallProperties "DisplayName" counts for nothing.
    ASSERT_TRUE(SetString(Machine, Products() + L"\\5555", L"DisplayName", L"Zamo (per-user)"));
    ASSERT_TRUE(SetString(Machine, Products() + L"\\6666\\InstallProperties", L"ProductName", L"Zamo (per-user)"));
    MakeProduct(L"7777", L"Zamo Web Installer (per-machine)");
    ASSERT_TRUE(SetBinary(Machine, Products() + L"\\8888\\InstallProperties", L"DisplayName", L"", 0, REG_SZ));
    MakeProduct(L"9999", L"Zamo Deployment");

    PurgeInstallerData(sid_.c_str());

    EXPECT_EQ(Lines(), (std::vector<std::wstring>{ProductLine(1, L"1111"), ProductLine(1, L"7777"),
                                                   ProductLine(1, L"9999")}));
    EXPECT_FALSE(Exists(Products() + L"\\1111"));  // the whole record, Features too
    EXPECT_FALSE(Exists(Products() + L"\\7777"));
    EXPECT_FALSE(Exists(Products() + L"\\9999"));
    for (const wchar_t* staying : {L"2222", L"3333", L"4444", L"5555", L"6666", L"8888"})
        EXPECT_TRUE(Exists(Products() + L"\\" + staying)) << staying;
}

TEST_F(InstallerDataPurgeTest, ProductsListReadWhileFindingTheProductsServesThePurgeWithEveryMatch)
{
    // Two records named by codes and one the Installer never names so, which the purge takes too.
    const std::wstring first = L"0000000000000000000000000000A7E1";
    const std::wstring other = L"0000000000000000000000000000B7E1";
    MakeProduct(first, L"Zamo (per-machine)");
    MakeProduct(L"NotACode", L"Zamo Deployment");
    MakeProduct(other, L"Brindle Notes");
    ListReadings readings = {};
    InstallerProductList products = {};
    FindInstallerProducts(nullptr, products, &readings);
    FreeInstallerProducts(products);
    const std::wstring listName = L"\\" + sid_ + L"\\Products";
    bool kept = false;
    for (DWORD i = 0; i < readings.count; i++) {
        const std::wstring identity = readings.lists[i].identity;
        kept = kept || (identity.size() > listName.size() &&
                        _wcsicmp(identity.c_str() + identity.size() - listName.size(), listName.c_str()) == 0);
    }
    EXPECT_TRUE(kept);

    PurgeInstallerData(sid_.c_str(), &readings);
    ForgetListReadings(readings);

    EXPECT_EQ(Lines(), (std::vector<std::wstring>{ProductLine(1, first), ProductLine(1, L"NotACode")}));
    EXPECT_FALSE(Exists(Products() + L"\\" + first));
    EXPECT_FALSE(Exists(Products() + L"\\NotACode"));
    EXPECT_TRUE(Exists(Products() + L"\\" + other));
}

TEST_F(InstallerDataPurgeTest, ComponentsAndProductsAreIndependentLists)
{
    ASSERT_TRUE(SetString(Machine, Components() + L"\\0A11", L"01", L"Zamo (per-machine)"));
    MakeProduct(L"1111", L"C:\\Quorvex");

    PurgeInstallerData(sid_.c_str());

    EXPECT_EQ(Lines(), std::vector<std::wstring>{});
    EXPECT_TRUE(Exists(Components() + L"\\0A11"));
    EXPECT_TRUE(Exists(Products() + L"\\1111"));
}

TEST_F(InstallerDataPurgeTest, SidWithoutEitherListLogsNothing)
{
    ASSERT_TRUE(SetString(Machine, SidPath() + L"\\Patches\\0A11", L"01", L"C:\\Quorvex\\x.msp"));
    PurgeInstallerData(sid_.c_str());
    std::wstring missing = sid_ + L"-9";  // no key at all
    PurgeInstallerData(missing.c_str());

    EXPECT_EQ(Lines(), std::vector<std::wstring>{});
    EXPECT_TRUE(Exists(SidPath() + L"\\Patches\\0A11"));
}

// A preview names each matching record with its whole key path, root first, in place of
// the removal line, and the scan ends having deleted nothing.
TEST_F(InstallerDataPurgeTest, PreviewNamesEachMatchingRecordAndKeepsIt)
{
    ASSERT_TRUE(SetString(Machine, Components() + L"\\A1", L"01", L"C:\\Quorvex\\a.exe"));
    ASSERT_TRUE(SetString(Machine, Components() + L"\\B2", L"01", L"C:\\Other\\b.exe"));
    ASSERT_TRUE(SetString(Machine, Components() + L"\\C3", L"01", L"C:\\quorvex\\c.exe"));
    MakeProduct(L"1111", L"Zamo (per-user)");
    MakeProduct(L"2222", L"Brindle Notes");
    PreviewRun preview;

    PurgeInstallerData(sid_.c_str());

    const std::wstring would = L"Would remove HKLM\\";
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{would + Components() + L"\\A1", would + Components() + L"\\C3",
                                                   would + Products() + L"\\1111"}));
    for (const std::wstring& kept : {Components() + L"\\A1", Components() + L"\\C3", Products() + L"\\1111\\Features"})
        EXPECT_TRUE(Exists(kept)) << std::string(kept.begin(), kept.end());
}

TEST_F(InstallerDataPurgeTest, UndeletableComponentIsLoggedAndRetriedAfterEachLaterRemoval)
{
    ASSERT_TRUE(SetString(Machine, Components() + L"\\A1", L"01", L"C:\\Quorvex\\a.exe"));
    if (!Pin(Components() + L"\\A1"))
        GTEST_SKIP() << "Wine did not create the registry link that makes a key undeletable";
    ASSERT_TRUE(SetString(Machine, Components() + L"\\B2", L"01", L"C:\\Other\\b.exe"));
    ASSERT_TRUE(SetString(Machine, Components() + L"\\C3", L"01", L"C:\\Quorvex\\c.exe"));
    ASSERT_TRUE(SetString(Machine, Components() + L"\\D4", L"01", L"C:\\Quorvex\\d.exe"));

    PurgeInstallerData(sid_.c_str());

    EXPECT_EQ(Lines(), (std::vector<std::wstring>{ComponentLine(0, L"A1"), ComponentLine(1, L"C3"),
                                                   ComponentLine(0, L"A1"), ComponentLine(1, L"D4"),
                                                   ComponentLine(0, L"A1")}));
    EXPECT_TRUE(Exists(Components() + L"\\A1"));
    EXPECT_TRUE(Exists(Components() + L"\\B2"));
    EXPECT_FALSE(Exists(Components() + L"\\C3"));
    EXPECT_FALSE(Exists(Components() + L"\\D4"));
}

// A failed deletion of a product record can still delete parts of it. Only a record
// that still has its "DisplayName" afterwards is matched, tried and logged again.
TEST_F(InstallerDataPurgeTest, UndeletableProductIsRetriedWhileItsDisplayNameRemains)
{
    MakeProduct(L"1111", L"Zamo (per-user)");
    MakeProduct(L"2222", L"Brindle Notes");
    MakeProduct(L"3333", L"Zamo Outlook Add-In");
    if (!Pin(Products() + L"\\1111\\InstallProperties") || !Pin(Products() + L"\\3333"))
        GTEST_SKIP() << "Wine did not create the registry link that makes a key undeletable";
    MakeProduct(L"4444", L"Zamo Deployment");
    MakeProduct(L"5555", L"Zamo Web Installer");

    PurgeInstallerData(sid_.c_str());

    EXPECT_EQ(Lines(), (std::vector<std::wstring>{ProductLine(0, L"1111"), ProductLine(0, L"3333"),
                                                   ProductLine(1, L"4444"), ProductLine(0, L"1111"),
                                                   ProductLine(1, L"5555"), ProductLine(0, L"1111")}));
    EXPECT_TRUE(Exists(Products() + L"\\1111\\InstallProperties"));
    EXPECT_FALSE(Exists(Products() + L"\\1111\\Features"));
    EXPECT_TRUE(Exists(Products() + L"\\2222\\InstallProperties"));
    EXPECT_TRUE(Exists(Products() + L"\\3333"));
    EXPECT_FALSE(Exists(Products() + L"\\3333\\InstallProperties"));
    EXPECT_FALSE(Exists(Products() + L"\\4444"));
    EXPECT_FALSE(Exists(Products() + L"\\5555"));
}

TEST_F(InstallerDataPurgeTest, MoreUndeletableComponentsThanRememberedAreStillRetriedInOrder)
{
    const int undeletable = 700;
    std::vector<std::wstring> names;
    for (int i = 0; i < undeletable; i++) {
        wchar_t name[16];
        wsprintfW(name, L"U%04d", i);
        names.push_back(name);
        ASSERT_TRUE(SetString(Machine, Components() + L"\\" + name, L"01", L"C:\\Quorvex\\u.exe"));
        if (!Pin(Components() + L"\\" + name))
            GTEST_SKIP() << "Wine did not create the registry link that makes a key undeletable";
        if (i % 100 == 50) {  // records that do not match, among them
            wsprintfW(name, L"U%04dx", i);
            ASSERT_TRUE(SetString(Machine, Components() + L"\\" + name, L"01", L"C:\\Other\\u.exe"));
        }
    }
    ASSERT_TRUE(SetString(Machine, Components() + L"\\V1", L"01", L"C:\\Quorvex\\v.exe"));
    ASSERT_TRUE(SetString(Machine, Components() + L"\\V2", L"01", L"C:\\Quorvex\\v.exe"));

    PurgeInstallerData(sid_.c_str());

    std::vector<std::wstring> expected;
    for (int pass = 0; pass < 3; pass++) {
        for (const std::wstring& name : names)
            expected.push_back(ComponentLine(0, name));
        if (pass < 2)
            expected.push_back(ComponentLine(1, pass == 0 ? L"V1" : L"V2"));
    }
    EXPECT_EQ(Lines(), expected);
    EXPECT_FALSE(Exists(Components() + L"\\V1"));
    EXPECT_FALSE(Exists(Components() + L"\\V2"));
    EXPECT_TRUE(Exists(Components() + L"\\U0050x"));
}

// A SID so long that the list paths do not fit: the cut paths would name keys made
// here ("...\Comp", "...\Prod"), which must be neither opened nor deleted.
TEST_F(InstallerDataPurgeTest, ListPathThatDoesNotFitIsNeverOpened)
{
    size_t sidLength = 259 - (UserData.size() + 1) - 5;  // "<UserData>\<sid>\Comp" is 259
    std::wstring longSid = L"S-1-5-21-7070-" + std::wstring(sidLength - 14, L'9');
    ASSERT_EQ(longSid.size(), sidLength);
    madeSids_.push_back(longSid);
    std::wstring sidPath = UserData + L"\\" + longSid;
    ASSERT_TRUE(SetString(Machine, sidPath + L"\\Comp\\0A11", L"01", L"C:\\Quorvex\\x.exe"));
    MakeProduct(sidPath + L"\\Prod", L"1111", L"Zamo (per-machine)");
    ASSERT_TRUE(SetString(Machine, sidPath + L"\\Components\\0A11", L"01", L"C:\\Quorvex\\x.exe"));
    MakeProduct(sidPath + L"\\Products", L"1111", L"Zamo (per-machine)");

    PurgeInstallerData(longSid.c_str());

    EXPECT_EQ(Lines(), std::vector<std::wstring>{});
    EXPECT_TRUE(Exists(sidPath + L"\\Comp\\0A11"));
    EXPECT_TRUE(Exists(sidPath + L"\\Prod\\1111"));
    EXPECT_TRUE(Exists(sidPath + L"\\Components\\0A11"));
    EXPECT_TRUE(Exists(sidPath + L"\\Products\\1111"));
}

// A record whose own path does not fit is not examined: its cut path would name
// another record (here a matching one whose name is its beginning).
TEST_F(InstallerDataPurgeTest, RecordPathThatDoesNotFitIsNeverExamined)
{
    const size_t shortLength = 20;
    // "<UserData>\<sid>\Components\<20 characters>" is 259 characters.
    size_t sidLength = 259 - (UserData.size() + 1) - 12 - shortLength;
    std::wstring longSid = L"S-1-5-21-7070-" + std::wstring(sidLength - 14, L'8');
    madeSids_.push_back(longSid);
    std::wstring list = UserData + L"\\" + longSid + L"\\Components";
    std::wstring shortName(shortLength, L'A');
    std::wstring longName = shortName + L"BBBBBBBBBB";
    ASSERT_TRUE(SetString(Machine, list + L"\\" + shortName, L"01", L"C:\\Quorvex\\x.exe"));
    if (!Pin(list + L"\\" + shortName))
        GTEST_SKIP() << "Wine did not create the registry link that makes a key undeletable";
    ASSERT_TRUE(SetString(Machine, list + L"\\" + longName, L"01", L"C:\\Other\\x.exe"));
    std::wstring longMatching(30, L'C');
    ASSERT_TRUE(SetString(Machine, list + L"\\" + longMatching, L"01", L"C:\\Quorvex\\x.exe"));

    PurgeInstallerData(longSid.c_str());

    EXPECT_EQ(Lines(), std::vector<std::wstring>{ComponentLine(0, list, shortName)});
    EXPECT_TRUE(Exists(list + L"\\" + longName));
    EXPECT_TRUE(Exists(list + L"\\" + longMatching));
}

// Thousands of records and dozens of removals: each record is examined once, so the
// time grows with the number of records. The time is printed, not asserted.
TEST_F(InstallerDataPurgeTest, ManyComponentsLoseExactlyTheMakersRecords)
{
    const int records = 3000;
    const int matching = 60;
    std::set<std::wstring> removed;
    for (int i = 0; i < records; i++) {
        wchar_t name[16];
        wsprintfW(name, L"%05d", i);
        std::wstring path = Components() + L"\\" + name;
        bool maker = i % (records / matching) == records / matching - 1;
        ASSERT_TRUE(SetString(Machine, path, L"01", L"C:\\Program Files\\Vendor\\file.dll"));
        ASSERT_TRUE(SetString(Machine, path, L"02", maker ? L"C:\\Program Files\\Quorvex\\Zamo\\zamo.dll"
                                                          : L"C:\\Program Files\\Vendor\\other.dll"));
        if (maker)
            removed.insert(name);
    }
    ASSERT_EQ(removed.size(), static_cast<size_t>(matching));

    DWORD start = GetTickCount();
    PurgeInstallerData(sid_.c_str());
    DWORD elapsed = GetTickCount() - start;
    std::printf("%d component records, %d removals: %lu ms\n", records, matching, elapsed);

    std::vector<std::wstring> expected;
    for (const std::wstring& name : removed)
        expected.push_back(ComponentLine(1, name));
    EXPECT_EQ(Lines(), expected);
    RegistryTree left;
    ASSERT_TRUE(CaptureKeyTree(Machine, Components(), &left));
    EXPECT_EQ(left.keys.size(), static_cast<size_t>(records - matching + 1));  // the list itself too
    for (const std::wstring& name : removed)
        EXPECT_EQ(left.keys.count(name), 0u) << std::string(name.begin(), name.end());
}

// The packed form of a product code under which the Installer files its records:
// the first three groups reversed, then each byte of the rest with its digits swapped.
std::wstring PackedCode(const std::wstring& code)
{
    std::wstring digits;
    for (wchar_t c : code) {
        if (iswxdigit(c))
            digits += c;
    }
    std::wstring packed;
    packed.append(digits.rbegin() + 24, digits.rbegin() + 32);
    packed.append(digits.rbegin() + 20, digits.rbegin() + 24);
    packed.append(digits.rbegin() + 16, digits.rbegin() + 20);
    for (size_t i = 16; i + 1 < digits.size(); i += 2) {
        packed += digits[i + 1];
        packed += digits[i];
    }
    return packed;
}

struct TestPackage {
    const wchar_t* file;
    const wchar_t* productCode;
    const wchar_t* upgradeCode;
    const wchar_t* installedFile;  // relative to %ProgramFiles(x86)%, as every other path here
    const wchar_t* outsideFile;    // outside the maker's folder, or null
    const wchar_t* outsideKey;     // outside the maker's key (32-bit view), or null
};
const TestPackage FamilyPackage = {L"ZamoPerMachine.msi", L"{1FE991A8-F829-456F-AE18-4DAA86E639E0}",
                                   L"{7D06DCD8-8D45-45FA-AD48-CCE78FCA5D62}",
                                   L"Quorvex\\Zamo Installer Test\\zamo-installer-test.txt", nullptr, nullptr};
const TestPackage DeploymentPackage = {L"ZamoDeployment.msi", L"{CE663B42-B0B0-45B7-9034-7B8AB2967B23}",
                                       L"{890E48E9-91B2-4978-BEC8-D374BF4F87FE}",
                                       L"Quorvex\\Zamo Deployment Test\\zamo-deployment-test.txt",
                                       L"Zamo Deployment Shared\\shared.txt", L"Software\\Zamo Deployment Shared"};
const TestPackage OtherPackage = {L"OtherMaker.msi", L"{E783CA5A-A944-4A7F-9E33-C95A969B909E}",
                                  L"{911EE930-5F34-426D-9559-C44C646DBEDE}", L"Brindlewood\\Notes\\brindle-notes.txt",
                                  nullptr, nullptr};

// Packages installed per machine by the prefix's msiexec. Afterwards the records a
// test removed are put back and msiexec uninstalls every package again; whatever it
// cannot uninstall is scrubbed by hand.
class InstalledPackagesTest : public InstallerDataPurgeTest {
protected:
    void TearDown() override
    {
        for (const auto& record : saved_) {
            if (!KeyExists(Machine, record.first))
                RestoreKeyTree(Machine, record.first, record.second);
        }
        for (const TestPackage* package : installed_) {
            if (KeyExists(Machine, UninstallPath(*package), KEY_WOW64_32KEY)) {
                EXPECT_EQ(RunCommand(std::wstring(L"msiexec.exe /x ") + package->productCode + L" /quiet"), 0u)
                    << "uninstalling " << Narrow(package->file);
            }
            Scrub(*package);
        }
        for (const std::wstring& cached : cachedPackages_)
            DeleteFileW(cached.c_str());
        InstallerDataPurgeTest::TearDown();
    }
    static std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
    static std::wstring ProgramFiles(const wchar_t* relative)
    {
        return Expand(L"%ProgramFiles(x86)%") + L"\\" + relative;
    }
    static std::wstring InstalledFile(const TestPackage& package) { return ProgramFiles(package.installedFile); }
    static std::wstring UninstallPath(const TestPackage& package)
    {
        return std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + package.productCode;
    }
    void Install(const TestPackage& package)
    {
        std::wstring msi = BinaryFolder() + L"\\" + package.file;
        ASSERT_TRUE(::Exists(msi));
        installed_.push_back(&package);
        ASSERT_EQ(RunCommand(L"msiexec.exe /i \"" + msi + L"\" /quiet"), 0u);
        ASSERT_TRUE(::Exists(InstalledFile(package)));
        // Where the Installer keeps its copy of the package, for the scrub.
        std::wstring cached;
        if (ReadString(Machine, UserData + L"\\S-1-5-18\\Products\\" + PackedCode(package.productCode) +
                                    L"\\InstallProperties",
                       L"LocalPackage", &cached))
            cachedPackages_.push_back(cached);
    }
    // Removes what msiexec leaves behind: the emptied folders always, and everything
    // of a package it could not uninstall (its cached copy in TearDown, after every
    // uninstall that may still need it).
    void Scrub(const TestPackage& package)
    {
        for (const wchar_t* file : {package.installedFile, package.outsideFile}) {
            if (file == nullptr)
                continue;
            std::wstring path = ProgramFiles(file);
            DeleteFileW(path.c_str());
            for (int level = 0; level < 2; level++) {
                path = path.substr(0, path.find_last_of(L'\\'));
                RemoveDirectoryW(path.c_str());  // only when empty
            }
        }
        if (package.outsideKey != nullptr)
            DeleteKeyTree(Machine, package.outsideKey, KEY_WOW64_32KEY);
        DeleteKeyTree(Machine, UninstallPath(package), KEY_WOW64_32KEY);
        std::wstring packed = PackedCode(package.productCode);
        for (const wchar_t* list : {L"Products\\", L"Features\\"})
            DeleteKeyTree(Machine, L"Software\\Classes\\Installer\\" + std::wstring(list) + packed);
        DeleteKeyTree(Machine, L"Software\\Classes\\Installer\\UpgradeCodes\\" + PackedCode(package.upgradeCode));
        std::wstring system = UserData + L"\\S-1-5-18";
        DeleteKeyTree(Machine, system + L"\\Products\\" + packed);
        RegistryTree records;
        if (CaptureKeyTree(Machine, system, &records)) {
            for (const std::wstring& name : ComponentsOf(records, package.productCode))
                DeleteKeyTree(Machine, system + L"\\Components\\" + name);
        }
    }
    // Names of the component records that name the product as a client.
    static std::set<std::wstring> ComponentsOf(const RegistryTree& userData, const std::wstring& productCode)
    {
        std::set<std::wstring> names;
        std::wstring packed = PackedCode(productCode);
        for (const auto& key : userData.keys) {
            if (key.first.compare(0, 11, L"Components\\") == 0 && key.second.count(packed) != 0)
                names.insert(key.first.substr(11));
        }
        return names;
    }
    void Save(const std::wstring& path)
    {
        RegistryTree tree;
        ASSERT_TRUE(CaptureKeyTree(Machine, path, &tree));
        saved_.push_back({path, tree});
    }
    std::vector<std::pair<std::wstring, RegistryTree>> saved_;
    std::vector<const TestPackage*> installed_;
    std::vector<std::wstring> cachedPackages_;
};

TEST_F(InstalledPackagesTest, RecordsOfTheFamilysPackageGoAndAnotherMakersStay)
{
    const std::wstring system = L"S-1-5-18";
    const std::wstring systemPath = UserData + L"\\" + system;
    ASSERT_NO_FATAL_FAILURE(Install(FamilyPackage));
    ASSERT_NO_FATAL_FAILURE(Install(OtherPackage));
    RegistryTree before;
    ASSERT_TRUE(CaptureKeyTree(Machine, systemPath, &before));
    std::set<std::wstring> family = ComponentsOf(before, FamilyPackage.productCode);
    std::set<std::wstring> other = ComponentsOf(before, OtherPackage.productCode);
    ASSERT_EQ(family.size(), 2u);  // the file and the registry value
    ASSERT_EQ(other.size(), 2u);
    const std::wstring familyProduct = L"Products\\" + PackedCode(FamilyPackage.productCode);
    const std::wstring otherProduct = L"Products\\" + PackedCode(OtherPackage.productCode);
    ASSERT_EQ(before.keys.count(familyProduct + L"\\InstallProperties"), 1u);
    ASSERT_EQ(before.keys.count(otherProduct + L"\\InstallProperties"), 1u);
    for (const std::wstring& name : family)
        Save(systemPath + L"\\Components\\" + name);
    Save(systemPath + L"\\" + familyProduct);

    PurgeInstallerData(system.c_str());

    std::vector<std::wstring> expected;
    for (const std::wstring& name : family)
        expected.push_back(ComponentLine(1, systemPath + L"\\Components", name));
    expected.push_back(ProductLine(1, systemPath + L"\\Products", PackedCode(FamilyPackage.productCode)));
    EXPECT_EQ(Lines(), expected);

    // Everything else under the SID is as it was, value for value.
    RegistryTree after;
    ASSERT_TRUE(CaptureKeyTree(Machine, systemPath, &after));
    RegistryTree left = before;
    for (auto key = left.keys.begin(); key != left.keys.end();) {
        bool familyRecord = key->first.compare(0, familyProduct.size(), familyProduct) == 0;
        for (const std::wstring& name : family)
            familyRecord = familyRecord || key->first == L"Components\\" + name;
        key = familyRecord ? left.keys.erase(key) : std::next(key);
    }
    EXPECT_EQ(after.keys, left.keys);
    for (const std::wstring& name : other)
        EXPECT_EQ(after.keys.count(L"Components\\" + name), 1u);
    EXPECT_EQ(after.keys.count(otherProduct + L"\\InstallProperties"), 1u);
}

// The whole program, run quietly, on a machine with a per-machine package of the
// family that put a file and a value outside the maker's folders and keys, and a
// package of another maker. MsiExec must uninstall the family's package while the
// Installer's records of it are intact, so the machine scope's passive uninstall
// runs before the Installer data purge; afterwards nothing of it is left.
TEST_F(InstalledPackagesTest, QuietRunUninstallsTheFamilysPackageBeforePurgingItsRecords)
{
    const std::wstring systemPath = UserData + L"\\S-1-5-18";
    ASSERT_NO_FATAL_FAILURE(Install(DeploymentPackage));
    ASSERT_NO_FATAL_FAILURE(Install(OtherPackage));
    ASSERT_TRUE(::Exists(ProgramFiles(DeploymentPackage.outsideFile)));
    ASSERT_TRUE(KeyExists(Machine, DeploymentPackage.outsideKey, KEY_WOW64_32KEY));
    RegistryTree before;
    ASSERT_TRUE(CaptureKeyTree(Machine, systemPath, &before));
    std::set<std::wstring> family = ComponentsOf(before, DeploymentPackage.productCode);
    std::set<std::wstring> other = ComponentsOf(before, OtherPackage.productCode);
    ASSERT_EQ(family.size(), 3u);
    ASSERT_EQ(other.size(), 2u);

    std::wstring log = folder_ / L"quiet.log";
    RunResult run = RunProgram(L"/Quiet \"/Log:" + log + L"\"");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    std::vector<std::wstring> lines = ReadLogLines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Finishing");

    // Uninstalled by MsiExec: what it installed outside the maker's folder and key too.
    EXPECT_FALSE(::Exists(InstalledFile(DeploymentPackage)));
    EXPECT_FALSE(::Exists(ProgramFiles(DeploymentPackage.outsideFile)));
    EXPECT_FALSE(KeyExists(Machine, DeploymentPackage.outsideKey, KEY_WOW64_32KEY));
    EXPECT_FALSE(KeyExists(Machine, UninstallPath(DeploymentPackage), KEY_WOW64_32KEY));
    RegistryTree after;
    ASSERT_TRUE(CaptureKeyTree(Machine, systemPath, &after));
    EXPECT_EQ(ComponentsOf(after, DeploymentPackage.productCode), std::set<std::wstring>{});
    EXPECT_EQ(after.keys.count(L"Products\\" + PackedCode(DeploymentPackage.productCode)), 0u);

    // The other maker's package is still installed, its records as they were.
    EXPECT_TRUE(::Exists(InstalledFile(OtherPackage)));
    for (const std::wstring& name : other) {
        std::wstring key = L"Components\\" + name;
        ASSERT_EQ(after.keys.count(key), 1u);
        EXPECT_EQ(after.keys[key], before.keys[key]);
    }
    std::wstring otherProperties = L"Products\\" + PackedCode(OtherPackage.productCode) + L"\\InstallProperties";
    ASSERT_EQ(after.keys.count(otherProperties), 1u);
    EXPECT_EQ(after.keys[otherProperties], before.keys[otherProperties]);
}

} // namespace
