// The Windows Installer's records of the family's products beyond the product keys: records
// built as the Installer writes them under test codes and SIDs, and the records of real
// packages installed by the prefix's own msiexec, cleaned by one quiet run.
#include "change/RunOutcome.h"
#include "clean/installer/InstallerCache.h"
#include "clean/installer/InstallerCodes.h"
#include "clean/installer/InstallerFolderCounts.h"
#include "clean/installer/InstallerProducts.h"
#include "clean/installer/InstallerRecords.h"
#include "clean/installer/InstallerWaiting.h"
#include "clean/Catalogue.h"
#include "clean/installer/InstallerDataPurge.h"
#include "clean/ground/ListScan.h"
#include "clean/installer/PackageCache.h"
#include "clean/installer/RegistryPurge.h"
#include "clean/installer/ScopeMarker.h"
#include "clean/profiles/UserProfileSweep.h"
#include "common/Settings.h"
#include "log/log.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <msi.h>
#include <msiquery.h>
#include <propidl.h>

#include <algorithm>
#include <set>

#include <string.h>
#include <wctype.h>

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
    // The product's patches: one its own, one that another product of the user lists too.
    const std::wstring packedOther = L"42C5A1E7004200040800000000000003";
    ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\Products\\" + packedOther, L"ProductName", L"Brindle Notes"));
    for (const std::wstring& patch : {PackedPatchOwn, PackedPatchShared}) {
        ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\Products\\" + PackedA + L"\\Patches", patch.c_str(), L""));
        ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\Patches\\" + patch, L"State", L"1"));
    }
    ASSERT_TRUE(SetString(HKEY_USERS, user + L"\\Products\\" + packedOther + L"\\Patches", PackedPatchShared.c_str(), L""));
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
                              Removed(L"HKU", shown + L"\\Patches\\" + PackedPatchOwn),
                          }));
    EXPECT_TRUE(KeyExists(HKEY_USERS, user + L"\\Patches\\" + PackedPatchShared));
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

// With "/ExitCode": a record that stays is logged as it failed and counted as not removed.
TEST_F(InstallerRecordsTest, RecordThatStaysFailsItsLineAndTheExitCode)
{
    RegisterMachineProduct(PackedA, L"Zamo (per-machine)");
    const std::wstring feature = Classes + L"\\Features\\" + PackedA;
    const std::wstring code = CurrentVersion + L"\\UpgradeCodes\\" + PackedUpgradeOwn;
    SetValue(feature, L"Complete");
    SetValue(code, PackedA);
    UndeletableKeys pinned;
    if (!pinned.Make(Machine, feature))
        GTEST_SKIP() << "Wine did not make the key undeletable";
    struct Option {
        Option() { ReportExitCode = true; ClearTriedItems(); }
        ~Option() { ClearTriedItems(); ReportExitCode = false; }
    } option;
    LogCapture log;

    PurgeMachine();
    EXPECT_EQ(LogRunOutcome(), 1);

    EXPECT_EQ(Lines(log), (std::vector<std::wstring>{
                              L"Failed to remove from HKLM\\" + feature,
                              RemovedValue(PackedA, L"HKLM", code),
                              Removed(L"HKLM", code),
                              L"Not removed: HKLM\\" + feature,
                              L"Exit code [1]",
                          }));
    pinned.Release();
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

// The running user's per-user product whose uninstall entry lies in the machine's list: the
// user's pass hands its records to the machine's pass, which purges them after the uninstallers
// with the lines the user's pass would have written. Another user's, or a run whose machine
// scope bears the signature, keeps today's order.
class WaitingRecordsTest : public InstallerRecordsTest {
protected:
    void SetUp() override
    {
        InstallerRecordsTest::SetUp();
        user_ = std::wstring(RunningUserSid) + L"\\" + UserInstaller;
        ASSERT_FALSE(KeyExists(HKEY_USERS, user_ + L"\\Products\\" + PackedA));
        ASSERT_TRUE(keys_.SetString(Machine, Uninstall(), L"DisplayName", L"Zamo (per-user)", View32));
        ASSERT_TRUE(keys_.SetString(HKEY_USERS, user_ + L"\\Products\\" + PackedA, L"ProductName", L"Zamo (per-user)",
                                    View64));
        ASSERT_TRUE(keys_.SetString(HKEY_USERS, user_ + L"\\Features\\" + PackedA, L"Complete", L"", View64));
    }
    void TearDown() override
    {
        ForgetWaitingRecords();
        Signature[0] = L'\0';
        InstallerRecordsTest::TearDown();
    }
    static std::wstring Uninstall()
    {
        return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + ProductA;
    }
    DWORD Hold(const std::wstring& sid)
    {
        InstallerProductList products = {};
        FindInstallerProducts(sid.c_str(), products);
        DWORD found = products.count;
        HoldRecordsForUninstallers(sid.c_str(), products);
        DWORD held = found - products.count;
        FreeInstallerProducts(products);
        return held;
    }
    static constexpr const wchar_t* RunningUserSid = L"S-1-5-21-0-0-0-1000";
    std::wstring user_;
};

TEST_F(WaitingRecordsTest, RunningUsersRecordsWaitForTheMachinesPass)
{
    LogCapture log;
    EXPECT_EQ(Hold(RunningUserSid), 1u);
    EXPECT_TRUE(ProductRecordWaits(RunningUserSid, PackedA.c_str()));
    EXPECT_FALSE(ProductRecordWaits(sid_.c_str(), PackedA.c_str()));
    EXPECT_FALSE(ProductRecordWaits(RunningUserSid, PackedB.c_str()));
    // The user's pass passes the product key over.
    PurgeProductKeys(HKEY_USERS, RunningUserSid, L"Software\\Microsoft\\Installer\\Products", View64);
    EXPECT_EQ(Lines(log), std::vector<std::wstring>{});
    EXPECT_TRUE(KeyExists(HKEY_USERS, user_ + L"\\Products\\" + PackedA));

    PurgeWaitingUserRecords();

    EXPECT_EQ(Lines(log), (std::vector<std::wstring>{
                              L"Attempting to remove " + PackedA + L" [Zamo (per-user)]",
                              Removed(L"HKU", std::wstring(RunningUserSid) + L"\\" + UserInstaller + L"\\Products"),
                              Removed(L"HKU", user_ + L"\\Features\\" + PackedA),
                          }));
    EXPECT_FALSE(KeyExists(HKEY_USERS, user_ + L"\\Products\\" + PackedA));
    EXPECT_FALSE(KeyExists(HKEY_USERS, user_ + L"\\Features\\" + PackedA));
    EXPECT_FALSE(ProductRecordWaits(RunningUserSid, PackedA.c_str()));
}

TEST_F(WaitingRecordsTest, OtherUsersAndAMarkedMachineScopeKeepTodaysOrder)
{
    ASSERT_TRUE(SetString(HKEY_USERS, sid_ + L"\\" + UserInstaller + L"\\Products\\" + PackedA, L"ProductName",
                          L"Zamo (per-user)"));
    EXPECT_EQ(Hold(sid_), 0u);
    EXPECT_FALSE(ProductRecordWaits(sid_.c_str(), PackedA.c_str()));

    wcscpy(Signature, L"zc24-signature");
    ASSERT_TRUE(keys_.SetString(Machine, L"Software\\Quorvex\\Cleaned", nullptr, L"zc24-signature", View64));
    EXPECT_EQ(Hold(RunningUserSid), 0u);
    EXPECT_FALSE(ProductRecordWaits(RunningUserSid, PackedA.c_str()));
    // Without the machine's uninstall entry nothing waits either.
    Signature[0] = L'\0';
    DeleteKeyTree(Machine, Uninstall(), View32);
    EXPECT_EQ(Hold(RunningUserSid), 0u);
}

// A file in the Installer's folder under a name of the test's own, deleted afterwards.
class InstallerFolderFile {
public:
    // The Installer makes its folder at its first install: in a new prefix it may not be there.
    explicit InstallerFolderFile(const std::wstring& name)
        : folder_(Expand(L"%SystemRoot%\\Installer")), path_(folder_ + L"\\" + name),
          madeFolder_(CreateDirectoryW(folder_.c_str(), nullptr) != FALSE)
    {
    }
    ~InstallerFolderFile()
    {
        DeleteFileW(path_.c_str());
        if (madeFolder_)
            RemoveDirectoryW(folder_.c_str());
    }
    const std::wstring& Path() const { return path_; }

private:
    std::wstring folder_;
    std::wstring path_;
    bool madeFolder_;
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


// Real packages of the family (per machine x86 and x64, per user, two versions of one upgrade
// code, one whose cached copy and source are gone) and one of another maker, installed by the
// prefix's msiexec and cleaned by one quiet run of the program.
struct RecordsPackage {
    const wchar_t* file;
    const wchar_t* code;
    const wchar_t* packed;
    const wchar_t* upgradeCode;
    const wchar_t* packedUpgradeCode;
    const wchar_t* name;
};
const RecordsPackage X86 = {L"ZcRecordsX86.msi", L"{7E1A5C24-2400-4000-8000-000000000011}",
                            L"42C5A1E7004200040800000000000011", L"{7E1A5C24-2400-4000-8000-0000000000F1}",
                            L"42C5A1E700420004080000000000001F", L"Zamo (per-machine)"};
const RecordsPackage X64 = {L"ZcRecordsX64.msi", L"{7E1A5C24-2400-4000-8000-000000000022}",
                            L"42C5A1E7004200040800000000000022", L"{7E1A5C24-2400-4000-8000-0000000000F2}",
                            L"42C5A1E700420004080000000000002F", L"Zamo Outlook Add-In (per-machine)"};
const RecordsPackage PerUser = {L"ZcRecordsUser.msi", L"{7E1A5C24-2400-4000-8000-000000000033}",
                                L"42C5A1E7004200040800000000000033", L"{7E1A5C24-2400-4000-8000-0000000000F3}",
                                L"42C5A1E700420004080000000000003F", L"Zamo (per-user)"};
const RecordsPackage Version1 = {L"ZcRecordsV1.msi", L"{7E1A5C24-2400-4000-8000-000000000044}",
                                 L"42C5A1E7004200040800000000000044", L"{7E1A5C24-2400-4000-8000-0000000000F4}",
                                 L"42C5A1E700420004080000000000004F", L"Zamo Deployment"};
const RecordsPackage Version2 = {L"ZcRecordsV2.msi", L"{7E1A5C24-2400-4000-8000-000000000055}",
                                 L"42C5A1E7004200040800000000000055", L"{7E1A5C24-2400-4000-8000-0000000000F4}",
                                 L"42C5A1E700420004080000000000004F", L"Zamo Deployment"};
const RecordsPackage Gone = {L"ZcRecordsGone.msi", L"{7E1A5C24-2400-4000-8000-000000000066}",
                             L"42C5A1E7004200040800000000000066", L"{7E1A5C24-2400-4000-8000-0000000000F6}",
                             L"42C5A1E700420004080000000000006F", L"Zamo Web Installer (per-machine)"};
const RecordsPackage Other = {L"ZcRecordsOther.msi", L"{7E1A5C24-2400-4000-8000-000000000077}",
                              L"42C5A1E7004200040800000000000077", L"{7E1A5C24-2400-4000-8000-0000000000F7}",
                              L"42C5A1E700420004080000000000007F", L"Brindle Ledger"};
const RecordsPackage* const Family[6] = {&X86, &X64, &PerUser, &Version1, &Version2, &Gone};
const wchar_t RunningUser[] = L"S-1-5-21-0-0-0-1000";

// What a package names: its codes, braced and packed, and its product name.
std::vector<std::wstring> Needles(const RecordsPackage& package)
{
    return {package.code, package.packed, package.upgradeCode, package.packedUpgradeCode, package.name};
}

std::wstring Upper(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towupper(c)); });
    return text;
}

bool NamesAny(const std::wstring& text, const std::vector<std::wstring>& needles)
{
    std::wstring upper = Upper(text);
    for (const std::wstring& needle : needles) {
        if (upper.find(Upper(needle)) != std::wstring::npos)
            return true;
    }
    return false;
}

std::wstring ValueText(const RegistryValueData& data)
{
    std::wstring text(data.bytes.size() / sizeof(wchar_t), L'\0');
    if (!text.empty())
        memcpy(&text[0], data.bytes.data(), text.size() * sizeof(wchar_t));
    return text;
}

// The registry (the machine's software in both views, the running user's hive) and the drive.
struct Snapshot {
    RegistryTree machine64;
    RegistryTree machine32;
    RegistryTree user;
    std::set<std::wstring> files;
};

Snapshot TakeSnapshot()
{
    Snapshot shot;
    EXPECT_TRUE(CaptureKeyTree(Machine, L"Software", &shot.machine64, View64));
    EXPECT_TRUE(CaptureKeyTree(Machine, L"Software", &shot.machine32, View32));
    EXPECT_TRUE(CaptureKeyTree(HKEY_USERS, RunningUser, &shot.user, View64));
    // The tests' own temporary folders come and go.
    std::wstring temp = Expand(L"%TEMP%").substr(3) + L"\\";
    for (const std::wstring& file : ListTree(L"C:")) {
        if (Upper(file).compare(0, temp.size(), Upper(temp)) != 0)
            shot.files.insert(file);
    }
    return shot;
}

// Keys and values of after, not in before (or changed), that name any needle: "<label>\<key>"
// or "<label>\<key> [<value>]".
void AddNewNaming(const RegistryTree& before, const RegistryTree& after, const std::wstring& label,
                  const std::vector<std::wstring>& needles, std::vector<std::wstring>& out)
{
    for (const auto& key : after.keys) {
        auto was = before.keys.find(key.first);
        if (was == before.keys.end() && NamesAny(key.first, needles)) {
            out.push_back(label + L"\\" + key.first);
            continue;
        }
        for (const auto& value : key.second) {
            bool same = was != before.keys.end() && was->second.count(value.first) != 0 &&
                        was->second.at(value.first) == value.second;
            if (!same && (NamesAny(value.first, needles) || NamesAny(ValueText(value.second), needles)))
                out.push_back(label + L"\\" + key.first + L" [" + value.first + L"]");
        }
    }
}

std::vector<std::wstring> NewNaming(const Snapshot& before, const Snapshot& after, const std::vector<std::wstring>& needles)
{
    std::vector<std::wstring> out;
    AddNewNaming(before.machine64, after.machine64, L"HKLM64", needles, out);
    AddNewNaming(before.machine32, after.machine32, L"HKLM32", needles, out);
    AddNewNaming(before.user, after.user, L"HKU", needles, out);
    return out;
}

std::vector<std::wstring> NewFiles(const Snapshot& before, const Snapshot& after)
{
    std::vector<std::wstring> out;
    for (const std::wstring& file : after.files) {
        if (before.files.count(file) == 0)
            out.push_back(file);
    }
    return out;
}

// Keys and values of tree that name a needle, with their data.
RegistryTree NamingPart(const RegistryTree& tree, const std::vector<std::wstring>& needles)
{
    RegistryTree part;
    for (const auto& key : tree.keys) {
        if (NamesAny(key.first, needles)) {
            part.keys[key.first] = key.second;
            continue;
        }
        for (const auto& value : key.second) {
            if (NamesAny(value.first, needles) || NamesAny(ValueText(value.second), needles))
                part.keys[key.first][value.first] = value.second;
        }
    }
    return part;
}

// Whether every key and value of part is in tree with the same data.
std::vector<std::wstring> Missing(const RegistryTree& part, const RegistryTree& tree, const std::wstring& label)
{
    std::vector<std::wstring> out;
    for (const auto& key : part.keys) {
        auto there = tree.keys.find(key.first);
        if (there == tree.keys.end()) {
            out.push_back(label + L"\\" + key.first);
            continue;
        }
        for (const auto& value : key.second) {
            if (there->second.count(value.first) == 0 || !(there->second.at(value.first) == value.second))
                out.push_back(label + L"\\" + key.first + L" [" + value.first + L"]");
        }
    }
    return out;
}

std::wstring Joined(const std::vector<std::wstring>& lines)
{
    std::wstring text;
    for (const std::wstring& line : lines)
        text += line + L"\n";
    return text;
}

class InstalledRecordsTest : public ::testing::Test {
protected:
    void SetUp() override { before_ = TakeSnapshot(); }
    // Whatever a failed test left: uninstalled where msiexec still can, then everything new
    // that names a package deleted, and the new files and folders with it.
    void TearDown() override
    {
        std::vector<std::wstring> needles;
        for (const RecordsPackage* package : Family)
            RunCommand(std::wstring(L"msiexec.exe /x ") + package->code + L" /quiet");
        RunCommand(std::wstring(L"msiexec.exe /x ") + Other.code + L" /quiet");
        for (const RecordsPackage* package : Family) {
            for (const std::wstring& needle : Needles(*package))
                needles.push_back(needle);
        }
        for (const std::wstring& needle : Needles(Other))
            needles.push_back(needle);
        Snapshot after = TakeSnapshot();
        Scrub(before_.machine64, after.machine64, Machine, L"Software", View64, needles);
        Scrub(before_.machine32, after.machine32, Machine, L"Software", View32, needles);
        Scrub(before_.user, after.user, HKEY_USERS, RunningUser, View64, needles);
        std::vector<std::wstring> files = NewFiles(before_, after);
        for (auto file = files.rbegin(); file != files.rend(); ++file) {
            std::wstring path = L"C:\\" + *file;
            if (path.back() == L'\\')
                RemoveDirectoryW(path.substr(0, path.size() - 1).c_str());
            else if (Upper(path).find(L"\\WINDOWS\\INSTALLER\\") != std::wstring::npos ||
                     NamesAny(path, {L"Quorvex", L"Brindlewood"}))
                DeleteFileW(path.c_str());
        }
    }
    static void Scrub(const RegistryTree& before, const RegistryTree& after, HKEY root, const std::wstring& top,
                      REGSAM view, const std::vector<std::wstring>& needles)
    {
        for (auto key = after.keys.rbegin(); key != after.keys.rend(); ++key) {
            std::wstring path = key->first.empty() ? top : top + L"\\" + key->first;
            if (before.keys.count(key->first) == 0 && NamesAny(key->first, needles)) {
                DeleteKeyTree(root, path, view);
                continue;
            }
            HKEY open;
            if (RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE | view, &open) != ERROR_SUCCESS)
                continue;
            for (const auto& value : key->second) {
                auto was = before.keys.find(key->first);
                bool existed = was != before.keys.end() && was->second.count(value.first) != 0;
                if (!existed && (NamesAny(value.first, needles) || NamesAny(ValueText(value.second), needles)))
                    RegDeleteValueW(open, value.first.c_str());
            }
            RegCloseKey(open);
        }
    }
    static void Install(const std::wstring& path)
    {
        ASSERT_EQ(RunCommand(L"msiexec.exe /i \"" + path + L"\" /quiet"), 0u) << Narrow(path);
    }
    static void InstallBuilt(const RecordsPackage& package) { Install(BinaryFolder() + L"\\" + package.file); }
    static bool Installed(const RecordsPackage& package)
    {
        std::wstring entry = std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + package.code;
        return KeyExists(Machine, entry, View32) || KeyExists(Machine, entry, View64);
    }

    Snapshot before_;
    TempFolder folder_;
};

TEST_F(InstalledRecordsTest, OneRunLeavesNothingOfTheFamilyInTheInstallerAndTheProductInstallsAgain)
{
    ASSERT_NO_FATAL_FAILURE(InstallBuilt(Other));
    Snapshot withOther = TakeSnapshot();
    std::vector<std::wstring> otherFiles = NewFiles(before_, withOther);
    ASSERT_FALSE(otherFiles.empty());

    ASSERT_NO_FATAL_FAILURE(InstallBuilt(X86));
    ASSERT_NO_FATAL_FAILURE(InstallBuilt(X64));
    ASSERT_NO_FATAL_FAILURE(InstallBuilt(PerUser));
    // The later version first: the earlier one, which has no upgrade rule, installs beside it.
    ASSERT_NO_FATAL_FAILURE(InstallBuilt(Version2));
    ASSERT_NO_FATAL_FAILURE(InstallBuilt(Version1));
    const std::wstring sharedCode = Classes + L"\\UpgradeCodes\\" + Version1.packedUpgradeCode;
    ASSERT_TRUE(HasValue(Machine, sharedCode, Version1.packed));
    ASSERT_TRUE(HasValue(Machine, sharedCode, Version2.packed));
    // Installed from a copy that then goes, with the Installer's cached copy.
    const std::wstring source = folder_ / Gone.file;
    ASSERT_TRUE(CopyFileW((BinaryFolder() + L"\\" + Gone.file).c_str(), source.c_str(), FALSE));
    ASSERT_NO_FATAL_FAILURE(Install(source));
    std::wstring cached;
    ASSERT_TRUE(ReadString(Machine, UserData + L"\\S-1-5-18\\Products\\" + Gone.packed + L"\\InstallProperties",
                           L"LocalPackage", &cached));
    ASSERT_TRUE(DeleteFileW(cached.c_str()));
    ASSERT_TRUE(DeleteFileW(source.c_str()));
    // What the run must remove: the Installer's records of every kind.
    ASSERT_TRUE(KeyExists(Machine, Classes + L"\\Features\\" + Gone.packed));
    ASSERT_TRUE(KeyExists(HKEY_USERS, std::wstring(RunningUser) + L"\\" + UserInstaller + L"\\Features\\" + PerUser.packed));
    ASSERT_TRUE(HasValue(Machine, CurrentVersion + L"\\UpgradeCodes\\" + Gone.packedUpgradeCode, Gone.packed));

    std::wstring log = folder_ / L"run.log";
    RunResult run = RunProgram(L"/Quiet \"/Log:" + log + L"\"");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    std::vector<std::wstring> lines = ReadLogLines(log);
    auto at = [&lines](const std::wstring& line) {
        return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
    };
    // The running user's per-user product kept its registration for its uninstaller, which
    // the machine's pass ran (Wine lists it there) and which then removed it all itself.
    EXPECT_LT(at(L"Executing [\"" + Expand(L"%SystemRoot%") + L"\\System32\\MsiExec.exe\" /x \"" + PerUser.code +
                 L"\" /quiet]"),
              lines.size());
    for (const std::wstring& line : lines)
        EXPECT_EQ(line.find(PerUser.packed), std::wstring::npos) << Narrow(line);
    // What msiexec could not remove of the package without its cached copy and source.
    const std::wstring upgradeCodes[2] = {Classes + L"\\UpgradeCodes\\" + Gone.packedUpgradeCode,
                                          CurrentVersion + L"\\UpgradeCodes\\" + Gone.packedUpgradeCode};
    const std::vector<std::wstring> purged = {
        Removed(L"HKLM", Classes + L"\\Features\\" + Gone.packed),
        RemovedValue(Gone.packed, L"HKLM", upgradeCodes[0]),
        Removed(L"HKLM", upgradeCodes[0]),
        RemovedValue(Gone.packed, L"HKLM", upgradeCodes[1]),
        Removed(L"HKLM", upgradeCodes[1]),
        L"Deleting file [" + Expand(L"%SystemRoot%") + L"\\Installer\\" + Gone.code + L"\\ProductIcon.ico]",
    };
    size_t first = at(purged[0]);
    ASSERT_LT(first, lines.size()) << Narrow(Joined(lines));
    EXPECT_EQ(std::vector<std::wstring>(lines.begin() + first, lines.begin() + std::min(lines.size(), first + purged.size())),
              purged);

    Snapshot after = TakeSnapshot();
    std::vector<std::wstring> needles;
    for (const RecordsPackage* package : Family) {
        for (const std::wstring& needle : Needles(*package))
            needles.push_back(needle);
    }
    EXPECT_EQ(Joined(NewNaming(before_, after, needles)), L"") << Narrow(Joined(lines));
    // Of the files, only the other maker's are new.
    std::vector<std::wstring> newFiles = NewFiles(before_, after);
    std::vector<std::wstring> foreign;
    for (const std::wstring& file : newFiles) {
        // Wine's msiexec leaves the empty parents of what it removes; one that names nothing of
        // the family (the user's "Microsoft\Installer", say) is the Installer's, not a trace.
        bool namelessFolder = file.back() == L'\\' && !NamesAny(file, needles) && !NamesAny(file, {L"Quorvex", L"Zamo"});
        if (!namelessFolder && std::find(otherFiles.begin(), otherFiles.end(), file) == otherFiles.end())
            foreign.push_back(file);
    }
    EXPECT_EQ(Joined(foreign), L"");
    EXPECT_EQ(Joined(NewFiles(after, withOther)), L"");  // the other maker's files all stay
    // The other maker's package keeps every key and value that names it.
    std::vector<std::wstring> otherNeedles = Needles(Other);
    otherNeedles.push_back(L"Brindlewood");
    std::vector<std::wstring> lost = Missing(NamingPart(withOther.machine64, otherNeedles), after.machine64, L"HKLM64");
    for (const std::wstring& key : Missing(NamingPart(withOther.machine32, otherNeedles), after.machine32, L"HKLM32"))
        lost.push_back(key);
    EXPECT_EQ(Joined(lost), L"");
    EXPECT_TRUE(Installed(Other));

    // The family installs, upgrades and uninstalls again as on a machine that never had it.
    ASSERT_NO_FATAL_FAILURE(InstallBuilt(Version1));
    ASSERT_NO_FATAL_FAILURE(InstallBuilt(Version2));
    EXPECT_FALSE(Installed(Version1));
    EXPECT_TRUE(Installed(Version2));
    for (const RecordsPackage* package : {&X86, &X64, &PerUser, &Gone})
        ASSERT_NO_FATAL_FAILURE(InstallBuilt(*package));
    for (const RecordsPackage* package : {&Version2, &X86, &X64, &PerUser, &Gone})
        EXPECT_EQ(RunCommand(std::wstring(L"msiexec.exe /x ") + package->code + L" /quiet"), 0u) << Narrow(package->file);
    Snapshot again = TakeSnapshot();
    EXPECT_EQ(Joined(NewNaming(before_, again, needles)), L"");
}

} // namespace
