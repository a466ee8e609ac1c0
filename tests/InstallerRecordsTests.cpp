// The Windows Installer's records of the family's products beyond the product keys: records
// built as the Installer writes them under test codes and SIDs, and the records of real
// packages installed by the prefix's own msiexec, cleaned by one quiet run.
#include "clean/steps.h"
#include "common/Settings.h"
#include "log/log.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <msi.h>
#include <msiquery.h>
#include <propidl.h>

#include <algorithm>
#include <set>

namespace {

const HKEY Machine = HKEY_LOCAL_MACHINE;
const REGSAM View64 = KEY_WOW64_64KEY;
const REGSAM View32 = KEY_WOW64_32KEY;
const std::wstring Classes = L"Software\\Classes\\Installer";
const std::wstring CurrentVersion = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer";
const std::wstring UserData = CurrentVersion + L"\\UserData";
const std::wstring Managed = CurrentVersion + L"\\Managed";
const std::wstring UserInstaller = L"Software\\Microsoft\\Installer";

// Test codes and their packed forms, written out by hand from the Installer's rule (the first
// three groups reversed, the digits of every later byte swapped).
const std::wstring ProductA = L"{7E1A5C24-2400-4000-8000-0000000000A1}";
const std::wstring PackedA = L"42C5A1E700420004080000000000001A";
const std::wstring ProductB = L"{7E1A5C24-2400-4000-8000-0000000000B2}";  // another maker's
const std::wstring PackedB = L"42C5A1E700420004080000000000002B";
const std::wstring PackedUpgradeShared = L"42C5A1E700420004080000000000003C";
const std::wstring PackedUpgradeOwn = L"42C5A1E700420004080000000000004D";
const std::wstring PatchOwn = L"{7E1A5C24-2400-4000-8000-0000000000E5}";
const std::wstring PackedPatchOwn = L"42C5A1E700420004080000000000005E";
const std::wstring PackedPatchShared = L"42C5A1E700420004080000000000006F";

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::vector<std::wstring> Lines(const LogCapture& log)
{
    return log.Lines();
}

std::wstring Removed(const std::wstring& label, const std::wstring& path)
{
    return L"Successfully removed from " + label + L"\\" + path;
}

std::wstring RemovedValue(const std::wstring& value, const std::wstring& label, const std::wstring& path)
{
    return L"Removed value [" + value + L"] from " + label + L"\\" + path;
}

bool HasValue(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = View64)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

TEST(InstallerProductCodes, PackedFormReordersTheDigitsAndRejectsAnythingElse)
{
    wchar_t packed[33];
    ASSERT_TRUE(PackProductCode(L"{5A3E0C11-0D2B-4C61-9E1A-7C0000000004}", packed));
    EXPECT_STREQ(packed, L"11C0E3A5B2D016C4E9A1C70000000040");
    ASSERT_TRUE(PackProductCode(ProductA.c_str(), packed));
    EXPECT_EQ(std::wstring(packed), PackedA);
    ASSERT_TRUE(PackProductCode(L"{abcdef01-2345-6789-abcd-ef0123456789}", packed));
    EXPECT_STREQ(packed, L"10fedcba54329876badcfe1032547698");

    wchar_t code[39];
    ASSERT_TRUE(UnpackProductCode(L"11C0E3A5B2D016C4E9A1C70000000040", code));
    EXPECT_STREQ(code, L"{5A3E0C11-0D2B-4C61-9E1A-7C0000000004}");

    for (const wchar_t* bad : {L"5A3E0C11-0D2B-4C61-9E1A-7C0000000004", L"{5A3E0C11-0D2B-4C61-9E1A-7C000000004}",
                               L"{5A3E0C11-0D2B-4C61-9E1A-7C00000000040}", L"{5A3E0C11-0D2B-4C61-9E1A-7C000000000G}",
                               L"{5A3E0C110-D2B-4C61-9E1A-7C0000000004}", L"(5A3E0C11-0D2B-4C61-9E1A-7C0000000004)",
                               L""})
        EXPECT_FALSE(PackProductCode(bad, packed)) << Narrow(bad);
    for (const wchar_t* bad : {L"11C0E3A5B2D016C4E9A1C7000000004", L"11C0E3A5B2D016C4E9A1C700000000400",
                               L"11C0E3A5B2D016C4E9A1C7000000004-", L"{1C0E3A5B2D016C4E9A1C70000000040"})
        EXPECT_FALSE(UnpackProductCode(bad, code)) << Narrow(bad);
}

// Records under test codes in the machine's Installer keys and a test SID's; everything the
// test made goes afterwards.
class InstallerRecordsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        sid_ = L"S-1-5-21-2424-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    }
    void TearDown() override { DeleteKeyTree(HKEY_USERS, sid_); }

    // A product the machine registers: its product key with "ProductName".
    void RegisterMachineProduct(const std::wstring& packed, const std::wstring& name)
    {
        ASSERT_TRUE(keys_.SetString(Machine, Classes + L"\\Products\\" + packed, L"ProductName", name, View64));
    }
    void SetValue(const std::wstring& path, const std::wstring& name, REGSAM view = View64)
    {
        ASSERT_TRUE(keys_.SetString(Machine, path, name.c_str(), L"", view));
    }
    // Reads the products as the machine's pass does and purges the machine's records.
    void PurgeMachine()
    {
        InstallerProductList products = {};
        FindInstallerProducts(nullptr, products);
        PurgeMachineInstallerRecords(products);
        FreeInstallerProducts(products);
    }

    ScratchKeys keys_;
    std::wstring sid_;
};

// Features and upgrade codes of the machine, in both views of the machine's own upgrade codes:
// the product's values go, an upgrade code's key only once nothing else is in it.
TEST_F(InstallerRecordsTest, MachineFeaturesAndUpgradeCodesGoAndAnotherProductKeepsItsPart)
{
    RegisterMachineProduct(PackedA, L"Zamo (per-machine)");
    RegisterMachineProduct(PackedB, L"Brindle Notes");
    const std::wstring features = Classes + L"\\Features";
    ASSERT_TRUE(keys_.SetString(Machine, features + L"\\" + PackedA, L"Complete", L"", View64));
    ASSERT_TRUE(keys_.SetString(Machine, features + L"\\" + PackedB, L"Complete", L"", View64));
    const std::wstring classesCodes = Classes + L"\\UpgradeCodes";
    const std::wstring machineCodes = CurrentVersion + L"\\UpgradeCodes";
    // Key names in sorted order, the enumeration order of Windows and Wine alike.
    for (const std::wstring& list : {classesCodes, machineCodes}) {
        SetValue(list + L"\\" + PackedUpgradeShared, PackedA);
        SetValue(list + L"\\" + PackedUpgradeShared, PackedB);
        SetValue(list + L"\\" + PackedUpgradeOwn, PackedA);
    }
    SetValue(machineCodes + L"\\" + PackedUpgradeOwn, PackedA, View32);
    // An upgrade code's key that holds a subkey stays, without the product's value.
    ASSERT_TRUE(keys_.Create(Machine, machineCodes + L"\\" + PackedUpgradeShared + L"\\Sub", View32));
    SetValue(machineCodes + L"\\" + PackedUpgradeShared, PackedA, View32);

    LogCapture log;
    PurgeMachine();

    const std::wstring own = L"\\" + PackedUpgradeOwn;
    const std::wstring shared = L"\\" + PackedUpgradeShared;
    EXPECT_EQ(Lines(log), (std::vector<std::wstring>{
                              Removed(L"HKLM", features + L"\\" + PackedA),
                              RemovedValue(PackedA, L"HKLM", classesCodes + shared),
                              RemovedValue(PackedA, L"HKLM", classesCodes + own),
                              Removed(L"HKLM", classesCodes + own),
                              RemovedValue(PackedA, L"HKLM", machineCodes + shared),
                              RemovedValue(PackedA, L"HKLM", machineCodes + own),
                              Removed(L"HKLM", machineCodes + own),
                              RemovedValue(PackedA, L"HKLM", machineCodes + shared),
                              RemovedValue(PackedA, L"HKLM", machineCodes + own),
                              Removed(L"HKLM", machineCodes + own),
                          }));
    EXPECT_FALSE(KeyExists(Machine, features + L"\\" + PackedA));
    EXPECT_TRUE(HasValue(Machine, features + L"\\" + PackedB, L"Complete"));
    EXPECT_TRUE(HasValue(Machine, classesCodes + shared, PackedB));
    EXPECT_TRUE(HasValue(Machine, machineCodes + shared, PackedB));
    EXPECT_FALSE(HasValue(Machine, machineCodes + shared, PackedA, View32));
    EXPECT_TRUE(KeyExists(Machine, machineCodes + shared + L"\\Sub", View32));
    for (REGSAM view : {View64, View32})
        EXPECT_FALSE(KeyExists(Machine, machineCodes + own, view));
    // The product's own key is the product keys' purge's, later in the pass.
    EXPECT_TRUE(KeyExists(Machine, Classes + L"\\Products\\" + PackedA));
}

// A user's hive is the user's to write: what it names leads to that user's records only.
TEST_F(InstallerRecordsTest, UserHiveEvidenceRemovesTheUsersRecordsAndNeverTheMachines)
{
    const std::wstring user = sid_ + L"\\" + UserInstaller;
    ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\Products\\" + PackedA, L"ProductName", L"zamo (PER-USER)"));
    // The user's own uninstall entry named by a product code names it too.
    ASSERT_TRUE(SetString(HKEY_USERS, sid_ + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + ProductB,
                          L"DisplayName", L"Zamo Web Installer (per-user)"));
    ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\Features\\" + PackedA, L"Complete", L""));
    ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\Features\\" + PackedB, L"Complete", L""));
    ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\UpgradeCodes\\" + PackedUpgradeOwn, PackedB.c_str(), L""));
    const std::wstring machineFeature = Classes + L"\\Features\\" + PackedA;
    const std::wstring machineCode = CurrentVersion + L"\\UpgradeCodes\\" + PackedUpgradeOwn;
    SetValue(machineFeature, L"Complete");
    SetValue(machineCode, PackedA);

    LogCapture log;
    InstallerProductList products = {};
    FindInstallerProducts(sid_.c_str(), products);
    PurgeMachineInstallerRecords(products);
    EXPECT_EQ(Lines(log), std::vector<std::wstring>{});
    PurgeUserInstallerRecords(sid_.c_str(), products);
    FreeInstallerProducts(products);
    PurgeMachine();

    const std::wstring shown = sid_ + L"\\" + UserInstaller;
    EXPECT_EQ(Lines(log), (std::vector<std::wstring>{
                              Removed(L"HKU", shown + L"\\Features\\" + PackedA),
                              Removed(L"HKU", shown + L"\\Features\\" + PackedB),
                              RemovedValue(PackedB, L"HKU", shown + L"\\UpgradeCodes\\" + PackedUpgradeOwn),
                              Removed(L"HKU", shown + L"\\UpgradeCodes\\" + PackedUpgradeOwn),
                          }));
    EXPECT_TRUE(KeyExists(Machine, machineFeature));
    EXPECT_TRUE(HasValue(Machine, machineCode, PackedA));
    EXPECT_TRUE(KeyExists(HKEY_USERS, user + L"\\Products\\" + PackedA));  // the product keys' purge's
}

// A preview names each record and each value once, through both views of a shared key.
TEST_F(InstallerRecordsTest, PreviewNamesTheRecordsAndChangesNothing)
{
    RegisterMachineProduct(PackedA, L"Zamo (per-machine)");
    const std::wstring feature = Classes + L"\\Features\\" + PackedA;
    const std::wstring code = CurrentVersion + L"\\UpgradeCodes\\" + PackedUpgradeOwn;
    SetValue(feature, L"Complete");
    SetValue(code, PackedA);
    LogCapture log;
    {
        PreviewRun preview;
        PurgeMachine();
    }
    EXPECT_EQ(Lines(log), (std::vector<std::wstring>{L"Would remove HKLM\\" + feature,
                                                      L"Would remove value [" + PackedA + L"] from HKLM\\" + code,
                                                      L"Would remove HKLM\\" + code}));
    EXPECT_TRUE(KeyExists(Machine, feature));
    EXPECT_TRUE(HasValue(Machine, code, PackedA));
}

// Records of products assigned by policy: the same lists under Managed\<SID>\Installer.
TEST_F(InstallerRecordsTest, ManagedCopiesOfTheRecordsGo)
{
    const std::wstring managed = Managed + L"\\" + sid_ + L"\\Installer";
    ASSERT_TRUE(keys_.SetString(Machine, managed + L"\\Products\\" + PackedA, L"ProductName", L"Zamo Deployment", View64));
    ASSERT_TRUE(keys_.SetString(Machine, managed + L"\\Products\\" + PackedB, L"ProductName", L"Brindle Notes", View64));
    SetValue(managed + L"\\Features\\" + PackedA, L"Complete");
    SetValue(managed + L"\\UpgradeCodes\\" + PackedUpgradeShared, PackedA);
    SetValue(managed + L"\\UpgradeCodes\\" + PackedUpgradeShared, PackedB);

    LogCapture log;
    PurgeMachine();

    EXPECT_EQ(Lines(log), (std::vector<std::wstring>{
                              Removed(L"HKLM", managed + L"\\Features\\" + PackedA),
                              Removed(L"HKLM", managed + L"\\Products\\" + PackedA),
                              RemovedValue(PackedA, L"HKLM", managed + L"\\UpgradeCodes\\" + PackedUpgradeShared),
                          }));
    EXPECT_FALSE(KeyExists(Machine, managed + L"\\Products\\" + PackedA));
    EXPECT_TRUE(KeyExists(Machine, managed + L"\\Products\\" + PackedB));
    EXPECT_TRUE(HasValue(Machine, managed + L"\\UpgradeCodes\\" + PackedUpgradeShared, PackedB));
}

// A file in the Installer's folder under a name of the test's own, deleted afterwards.
class InstallerFolderFile {
public:
    explicit InstallerFolderFile(const std::wstring& name) : path_(Expand(L"%SystemRoot%\\Installer\\") + name) {}
    ~InstallerFolderFile() { DeleteFileW(path_.c_str()); }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// A patch file as the Installer caches it: a storage whose summary's revision number holds
// the patch code.
bool WritePatchFile(const std::wstring& path, const std::wstring& patchCode)
{
    MSIHANDLE database;
    if (MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, &database) != ERROR_SUCCESS)
        return false;
    MSIHANDLE summary;
    bool written = MsiGetSummaryInformationW(database, nullptr, 2, &summary) == ERROR_SUCCESS;
    if (written) {
        std::wstring revision = patchCode + L"{00000000-0000-0000-0000-000000000000}";
        written = MsiSummaryInfoSetPropertyW(summary, PIDSI_REVNUMBER, VT_LPSTR, 0, nullptr, revision.c_str()) ==
                      ERROR_SUCCESS &&
                  MsiSummaryInfoPersist(summary) == ERROR_SUCCESS;
        MsiCloseHandle(summary);
    }
    written = written && MsiDatabaseCommit(database) == ERROR_SUCCESS;
    MsiCloseHandle(database);
    return written;
}

// A patch goes with the product that lists it, unless another product lists it too.
TEST_F(InstallerRecordsTest, PatchesGoOnlyWhereNoOtherProductListsThem)
{
    RegisterMachineProduct(PackedA, L"Zamo (per-machine)");
    RegisterMachineProduct(PackedB, L"Brindle Notes");
    SetValue(Classes + L"\\Products\\" + PackedA + L"\\Patches", PackedPatchOwn);
    SetValue(Classes + L"\\Products\\" + PackedA + L"\\Patches", PackedPatchShared);
    SetValue(Classes + L"\\Products\\" + PackedB + L"\\Patches", PackedPatchShared);
    for (const std::wstring& patch : {PackedPatchOwn, PackedPatchShared})
        SetValue(Classes + L"\\Patches\\" + patch, L"Transforms");
    InstallerFolderFile cached(L"zc24-own.msp");
    InstallerFolderFile wrong(L"zc24-wrong.msp");  // names another patch
    ASSERT_TRUE(WritePatchFile(cached.Path(), PatchOwn));
    ASSERT_TRUE(WritePatchFile(wrong.Path(), L"{7E1A5C24-2400-4000-8000-0000000000FF}"));
    const std::wstring patches = UserData + L"\\" + sid_ + L"\\Patches";
    const std::wstring otherSid = sid_ + L"-2";
    const std::wstring otherPatches = UserData + L"\\" + otherSid + L"\\Patches";
    ASSERT_TRUE(keys_.SetString(Machine, patches + L"\\" + PackedPatchOwn, L"LocalPackage", cached.Path(), View64));
    ASSERT_TRUE(keys_.SetString(Machine, otherPatches + L"\\" + PackedPatchOwn, L"LocalPackage", wrong.Path(), View64));
    ASSERT_TRUE(keys_.SetString(Machine, patches + L"\\" + PackedPatchShared, L"LocalPackage", L"", View64));

    LogCapture log;
    PurgeMachine();

    EXPECT_EQ(Lines(log), (std::vector<std::wstring>{
                              Removed(L"HKLM", Classes + L"\\Patches\\" + PackedPatchOwn),
                              Removed(L"HKLM", patches + L"\\" + PackedPatchOwn),
                              L"Removing cached installer package [" + cached.Path() + L"] of [Zamo (per-machine)]",
                              L"Deleting file [" + cached.Path() + L"]",
                              Removed(L"HKLM", otherPatches + L"\\" + PackedPatchOwn),
                          }));
    EXPECT_FALSE(::Exists(cached.Path()));
    EXPECT_TRUE(::Exists(wrong.Path()));
    EXPECT_TRUE(KeyExists(Machine, Classes + L"\\Patches\\" + PackedPatchShared));
    EXPECT_TRUE(KeyExists(Machine, patches + L"\\" + PackedPatchShared));
    DeleteKeyTree(Machine, UserData + L"\\" + otherSid);
}

// The cached package named by "LocalPackage" goes only when it is the product's own file in
// the Installer's folder; the product's icon folder there goes through the folder removal.
class CachedPackageTest : public InstallerRecordsTest {
protected:
    // Product records of the test SID: InstallProperties with the catalogue name and the package.
    void RegisterInstalled(const std::wstring& packed, const std::wstring& localPackage)
    {
        const std::wstring properties = UserData + L"\\" + sid_ + L"\\Products\\" + packed + L"\\InstallProperties";
        ASSERT_TRUE(keys_.SetString(Machine, properties, L"DisplayName", L"Zamo Deployment", View64));
        ASSERT_TRUE(keys_.SetString(Machine, properties, L"LocalPackage", localPackage, View64));
    }
    static bool CopyPackage(const wchar_t* file, const std::wstring& to)
    {
        return CopyFileW((BinaryFolder() + L"\\" + file).c_str(), to.c_str(), FALSE) != FALSE;
    }
    void RemoveFiles()
    {
        InstallerProductList products = {};
        FindInstallerProducts(nullptr, products);
        RemoveCachedInstallerFiles(products);
        FreeInstallerProducts(products);
    }
};

// ZcPurgeX86A.msi's own ProductCode is {7E1A5C00-0000-4000-8000-0000000000A1}.
const std::wstring PackageCode = L"{7E1A5C00-0000-4000-8000-0000000000A1}";
const std::wstring PackagePacked = L"00C5A1E700000004080000000000001A";

TEST_F(CachedPackageTest, OwnPackageAndIconFolderGo)
{
    InstallerFolderFile cached(L"zc24-cached.msi");
    ASSERT_TRUE(CopyPackage(L"ZcPurgeX86A.msi", cached.Path()));
    RegisterInstalled(PackagePacked, cached.Path());
    const std::wstring icons = Expand(L"%SystemRoot%\\Installer\\") + PackageCode;
    ASSERT_TRUE(CreateDirectoryW(icons.c_str(), nullptr));
    ASSERT_TRUE(WriteTextFile(icons + L"\\ProductIcon.ico", "icon"));

    LogCapture log;
    RemoveFiles();

    EXPECT_EQ(Lines(log), (std::vector<std::wstring>{
                              L"Removing cached installer package [" + cached.Path() + L"] of [Zamo Deployment]",
                              L"Deleting file [" + cached.Path() + L"]",
                              L"Deleting file [" + icons + L"\\ProductIcon.ico]",
                          }));
    EXPECT_FALSE(::Exists(cached.Path()));
    EXPECT_FALSE(::Exists(icons));
    RemoveTree(icons);
}

TEST_F(CachedPackageTest, PreviewNamesThePackageAloneAndKeepsIt)
{
    InstallerFolderFile cached(L"zc24-preview.msi");
    ASSERT_TRUE(CopyPackage(L"ZcPurgeX86A.msi", cached.Path()));
    RegisterInstalled(PackagePacked, cached.Path());

    LogCapture log;
    {
        PreviewRun preview;
        RemoveFiles();
    }

    EXPECT_EQ(Lines(log), std::vector<std::wstring>{L"Would remove cached installer package [" + cached.Path() +
                                                     L"] of [Zamo Deployment]"});
    EXPECT_TRUE(::Exists(cached.Path()));
}

TEST_F(CachedPackageTest, PackageThatIsNotTheProductsOwnFileInTheInstallersFolderStays)
{
    const std::wstring installer = Expand(L"%SystemRoot%\\Installer");
    // Another product's package under the product's record.
    InstallerFolderFile other(L"zc24-other.msi");
    ASSERT_TRUE(CopyPackage(L"ZcPurgeX86B.msi", other.Path()));
    RegisterInstalled(PackagePacked, other.Path());
    // The product's own package, but in a sub-folder, outside, or named through "..".
    const std::wstring sub = installer + L"\\zc24-sub";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CopyPackage(L"ZcPurgeX86A.msi", sub + L"\\nested.msi"));
    TempFolder outside;
    ASSERT_TRUE(CopyPackage(L"ZcPurgeX86A.msi", outside / L"outside.msi"));
    const std::wstring packedX = L"42C5A1E7004200040800000000000001";  // codes of their own
    const std::wstring packedY = L"42C5A1E7004200040800000000000002";
    const std::wstring packedZ = L"42C5A1E7004200040800000000000003";
    RegisterInstalled(packedX, sub + L"\\nested.msi");
    RegisterInstalled(packedY, outside / L"outside.msi");
    RegisterInstalled(packedZ, installer + L"\\zc24-sub\\..\\zc24-other.msi");
    // A folder in the package's place.
    const std::wstring packedW = L"42C5A1E7004200040800000000000004";
    RegisterInstalled(packedW, sub);

    LogCapture log;
    RemoveFiles();

    EXPECT_EQ(Lines(log), std::vector<std::wstring>{});
    EXPECT_TRUE(::Exists(other.Path()));
    EXPECT_TRUE(::Exists(sub + L"\\nested.msi"));
    EXPECT_TRUE(::Exists(outside / L"outside.msi"));
    RemoveTree(sub);
}

// The Installer's folder list and the shared files' counts: values for paths inside the
// product's folders that are gone.
TEST_F(InstallerRecordsTest, FolderCountsOfGonePathsInsideTheProductsFoldersGo)
{
    const std::wstring folders = CurrentVersion + L"\\Folders";
    const std::wstring shared = L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
    const std::wstring maker = Expand(L"%ProgramFiles(x86)%\\Quorvex");
    const std::wstring maker64 = Expand(L"%ProgramW6432%\\Quorvex");
    const std::wstring here = maker + L"\\ZcHere";
    ASSERT_TRUE(CreateDirectoryW(maker.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryW(here.c_str(), nullptr));
    RegisterMachineProduct(PackedA, L"Zamo (per-machine)");
    const std::wstring icons = Expand(L"%SystemRoot%\\Installer\\") + ProductA + L"\\";
    const std::vector<std::wstring> gone = {maker + L"\\ZcGone\\", icons};
    const std::vector<std::wstring> staying = {here + L"\\", Expand(L"%ProgramFiles(x86)%\\QuorvexOther\\ZcGone\\"),
                                               Expand(L"%SystemRoot%\\Installer\\") + ProductB + L"\\",
                                               L"Quorvex\\ZcGone\\"};
    // Values the test wrote into lists that may have been there before, deleted afterwards.
    std::vector<std::pair<std::wstring, std::pair<std::wstring, REGSAM>>> written;
    auto set = [&](const std::wstring& list, const std::wstring& name, REGSAM view) {
        ASSERT_FALSE(HasValue(Machine, list, name, view));
        written.push_back({list, {name, view}});
        ASSERT_TRUE(keys_.SetString(Machine, list, name.c_str(), L"", view));
    };
    for (const std::wstring& name : gone)
        set(folders, name, View64);
    for (const std::wstring& name : staying)
        set(folders, name, View64);
    set(shared, maker64 + L"\\ZcGone\\zc.dll", View32);
    set(shared, maker64 + L"\\ZcGone\\zc.dll", View64);
    RegistryTree foldersBefore;
    CaptureKeyTree(Machine, folders, &foldersBefore);

    LogCapture log;
    InstallerProductList products = {};
    FindInstallerProducts(nullptr, products);
    PurgeInstallerFolderCounts(products);
    FreeInstallerProducts(products);

    std::vector<std::wstring> expected;
    for (const std::wstring& name : gone)
        expected.push_back(RemovedValue(name, L"HKLM", folders));
    expected.push_back(RemovedValue(maker64 + L"\\ZcGone\\zc.dll", L"HKLM", shared));
    expected.push_back(RemovedValue(maker64 + L"\\ZcGone\\zc.dll", L"HKLM", shared));
    std::vector<std::wstring> lines = Lines(log);
    std::vector<std::wstring> sortedLines = lines;
    std::sort(sortedLines.begin(), sortedLines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sortedLines, expected);  // in the list's own order, which Wine keeps by name
    RegistryTree foldersAfter;
    CaptureKeyTree(Machine, folders, &foldersAfter);
    for (const std::wstring& name : gone)
        foldersBefore.keys[L""].erase(name);
    EXPECT_EQ(foldersAfter.keys, foldersBefore.keys);
    for (const auto& value : written) {
        HKEY key;
        if (RegOpenKeyExW(Machine, value.first.c_str(), 0, KEY_SET_VALUE | value.second.second, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, value.second.first.c_str());
            RegCloseKey(key);
        }
    }
    RemoveDirectoryW(here.c_str());
    RemoveDirectoryW(maker.c_str());
}

} // namespace
