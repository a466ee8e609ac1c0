// The add-in's COM registration and Click-to-Run's copies of its keys: real ProgID and class
// keys of the add-in and of another component in a user scope, a class hive and the machine
// scope in both views, with the lines of a real run and of a preview.
#include "clean/addin/ClickToRunAddIns.h"
#include "clean/shell/ComRegistration.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::wstring> Lines;

const wchar_t Sid[] = L"S-1-5-21-7340-7341-7342-1181";
const std::wstring AddInClass = L"{0D1E2F30-4152-4637-8495-A6B7C8D9E0F1}";
const std::wstring OtherClass = L"{0D1E2F30-4152-4637-8495-A6B7C8D9E0F2}";
const std::wstring OtherProgId = L"ZcFenwick.Notes.AddIn";
const REGSAM V64 = KEY_WOW64_64KEY;
const REGSAM V32 = KEY_WOW64_32KEY;

std::wstring Removed(const std::wstring& path)
{
    return L"Successfully removed from " + path;
}

class ComRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteKeyTree(HKEY_USERS, Sid);
        DeleteKeyTree(HKEY_USERS, ClassHive());
    }
    void TearDown() override
    {
        DeleteKeyTree(HKEY_USERS, Sid);
        DeleteKeyTree(HKEY_USERS, ClassHive());
    }
    static std::wstring ClassHive() { return std::wstring(Sid) + L"_Classes"; }

    // A ProgID key naming a class, and the class key naming a ProgID back (under valueKey,
    // "ProgID" or "VersionIndependentProgID"), below classes in one view.
    bool Register(HKEY root, const std::wstring& classes, const std::wstring& progId, const std::wstring& classId,
                  const std::wstring& classList, const wchar_t* valueKey, const std::wstring& namedProgId, REGSAM view)
    {
        return machine.SetString(root, classes + L"\\" + progId + L"\\CLSID", nullptr, classId, view) &&
               machine.SetString(root, classes + L"\\" + classList + L"\\" + classId + L"\\InprocServer32", nullptr,
                                 L"C:\\Program Files\\Quorvex\\Outlook Add-In\\Zamo.Outlook.AddIn.dll", view) &&
               machine.SetString(root, classes + L"\\" + classList + L"\\" + classId + L"\\" + valueKey, nullptr,
                                 namedProgId, view);
    }

    ScratchKeys machine;
    LogCapture log;
};

TEST_F(ComRegistrationTest, UserScopeLosesTheAddInsProgIdAndItsClassKeysInBothLists)
{
    const std::wstring classes = std::wstring(Sid) + L"\\Software\\Classes";
    ASSERT_TRUE(Register(HKEY_USERS, classes, L"Zamo.Outlook.AddIn", AddInClass, L"CLSID", L"ProgID",
                         L"zamo.outlook.addin", V64));
    ASSERT_TRUE(Register(HKEY_USERS, classes, L"Zamo.Outlook.AddIn", AddInClass, L"Wow6432Node\\CLSID",
                         L"VersionIndependentProgID", L"Zamo.Outlook.AddIn", V64));
    ASSERT_TRUE(Register(HKEY_USERS, classes, OtherProgId, OtherClass, L"CLSID", L"ProgID", OtherProgId, V64));

    PurgeComRegistration(UserScope(Sid));

    EXPECT_EQ(log.Lines(), (Lines{Removed(L"HKU\\" + classes), Removed(L"HKU\\" + classes + L"\\CLSID"),
                                  Removed(L"HKU\\" + classes + L"\\Wow6432Node\\CLSID")}));
    for (REGSAM view : {V64, V32}) {
        EXPECT_FALSE(KeyExists(HKEY_USERS, classes + L"\\Zamo.Outlook.AddIn", view));
        EXPECT_FALSE(KeyExists(HKEY_USERS, classes + L"\\CLSID\\" + AddInClass, view));
        EXPECT_FALSE(KeyExists(HKEY_USERS, classes + L"\\Wow6432Node\\CLSID\\" + AddInClass, view));
    }
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\" + OtherProgId + L"\\CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\CLSID\\" + OtherClass + L"\\InprocServer32"));
}

// The ProgID key is the add-in's by its name, but a class key only by what it names: a class of
// another component that the ProgID points at stays, and so does a class ID of another form.
TEST_F(ComRegistrationTest, ClassOfAnotherComponentStaysThoughTheProgIdNamesIt)
{
    const std::wstring classes = ClassHive();
    ASSERT_TRUE(Register(HKEY_USERS, classes, OtherProgId, OtherClass, L"CLSID", L"ProgID", OtherProgId, V64));
    ASSERT_TRUE(machine.SetString(HKEY_USERS, classes + L"\\Zamo.Outlook.AddIn\\CLSID", nullptr, OtherClass, V64));
    ASSERT_TRUE(machine.SetString(HKEY_USERS, classes + L"\\CLSID\\" + OtherClass + L"\\VersionIndependentProgID",
                                  nullptr, L"Zamo.Outlook.AddIn.Helper", V64));
    const std::wstring unbraced = AddInClass.substr(1, AddInClass.size() - 2);
    ASSERT_TRUE(machine.SetString(HKEY_USERS, classes + L"\\CLSID\\" + unbraced + L"\\ProgID", nullptr,
                                  L"Zamo.Outlook.AddIn", V64));

    PurgeClassHiveComRegistration(UserScope(classes.c_str()));

    EXPECT_EQ(log.Lines(), (Lines{Removed(L"HKU\\" + classes)}));
    EXPECT_FALSE(KeyExists(HKEY_USERS, classes + L"\\Zamo.Outlook.AddIn"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\CLSID\\" + OtherClass + L"\\InprocServer32"));
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\" + OtherProgId + L"\\CLSID"));

    // A ProgID naming a class ID of another form names no key.
    log.Clear();
    ASSERT_TRUE(machine.SetString(HKEY_USERS, classes + L"\\Zamo.Outlook.AddIn\\CLSID", nullptr, unbraced, V64));
    PurgeClassHiveComRegistration(UserScope(classes.c_str()));
    EXPECT_EQ(log.Lines(), (Lines{Removed(L"HKU\\" + classes)}));
    EXPECT_TRUE(KeyExists(HKEY_USERS, classes + L"\\CLSID\\" + unbraced));
}

// HKLM\Software\Classes is one key in both views, but the 32-bit view's class list is the
// 64-bit view's Wow6432Node\CLSID: the 64-bit pass removes both registrations, and a preview
// names each key once.
TEST_F(ComRegistrationTest, MachineScopeBothViewsAndAPreviewThatNamesEachKeyOnce)
{
    const std::wstring classes = L"Software\\Classes";
    ASSERT_TRUE(Register(HKEY_LOCAL_MACHINE, classes, L"Zamo.Outlook.AddIn", AddInClass, L"CLSID", L"ProgID",
                         L"Zamo.Outlook.AddIn", V64));
    ASSERT_TRUE(Register(HKEY_LOCAL_MACHINE, classes, L"Zamo.Outlook.AddIn", AddInClass, L"CLSID", L"ProgID",
                         L"Zamo.Outlook.AddIn", V32));
    ASSERT_TRUE(Register(HKEY_LOCAL_MACHINE, classes, OtherProgId, OtherClass, L"CLSID", L"ProgID", OtherProgId, V64));
    ASSERT_TRUE(Register(HKEY_LOCAL_MACHINE, classes, OtherProgId, OtherClass, L"CLSID", L"ProgID", OtherProgId, V32));
    if (!KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\Wow6432Node\\CLSID\\" + AddInClass, V64))
        GTEST_SKIP() << "this Wine does not show the 32-bit class list below Wow6432Node";
    RegistryTree before;
    ASSERT_TRUE(CaptureKeyTree(HKEY_LOCAL_MACHINE, classes + L"\\CLSID\\" + AddInClass, &before, V32));

    {
        PreviewRun preview;
        PurgeComRegistration(MachineScope());
    }
    EXPECT_EQ(log.Lines(), (Lines{L"Would remove HKLM\\Software\\Classes\\Zamo.Outlook.AddIn",
                                  L"Would remove HKLM\\Software\\Classes\\CLSID\\" + AddInClass,
                                  L"Would remove HKLM\\Software\\Classes\\Wow6432Node\\CLSID\\" + AddInClass}));
    RegistryTree after;
    ASSERT_TRUE(CaptureKeyTree(HKEY_LOCAL_MACHINE, classes + L"\\CLSID\\" + AddInClass, &after, V32));
    EXPECT_TRUE(after.keys == before.keys) << "the preview changed a key";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\Zamo.Outlook.AddIn\\CLSID"));

    log.Clear();
    PurgeComRegistration(MachineScope());

    EXPECT_EQ(log.Lines(), (Lines{Removed(L"HKLM\\Software\\Classes"), Removed(L"HKLM\\Software\\Classes\\CLSID"),
                                  Removed(L"HKLM\\Software\\Classes\\Wow6432Node\\CLSID")}));
    for (REGSAM view : {V64, V32}) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\Zamo.Outlook.AddIn", view));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\CLSID\\" + AddInClass, view));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\CLSID\\" + OtherClass + L"\\ProgID", view));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, classes + L"\\" + OtherProgId + L"\\CLSID", view));
    }
}

TEST_F(ComRegistrationTest, ClickToRunCopiesGoSilentlyBesideAnotherAddInsInBothViews)
{
    const std::wstring c2r = L"Software\\Microsoft\\Office\\ClickToRun\\REGISTRY\\MACHINE\\Software\\";
    const std::wstring addIns64 = c2r + L"Microsoft\\Office\\Outlook\\Addins\\";
    const std::wstring addIns32 = c2r + L"Wow6432Node\\Microsoft\\Office\\Outlook\\Addins\\";
    for (REGSAM view : {V64, V32}) {
        for (const std::wstring& addIns : {addIns64, addIns32}) {
            ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, addIns + L"Zamo.Outlook.AddIn", L"FriendlyName",
                                          L"Zamo for Outlook", view));
            ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, addIns + OtherProgId, L"FriendlyName", L"Notes", view));
        }
    }

    // HKLM\Software is split between the views, so each view holds its own copies. Wine's
    // 32-bit view also goes through any key that has a Wow6432Node subkey, so there both paths
    // may name one key, which the preview names once.
    ASSERT_TRUE(machine.SetString(HKEY_LOCAL_MACHINE, addIns32 + L"Zamo.Outlook.AddIn", L"Path", L"2", V32));
    std::wstring seen;
    bool sharedKey = ReadString(HKEY_LOCAL_MACHINE, addIns64 + L"Zamo.Outlook.AddIn", L"Path", &seen, V32);

    {
        PreviewRun preview;
        PurgeClickToRunAddIns();
    }
    Lines named = {L"Would remove HKLM\\" + addIns64 + L"Zamo.Outlook.AddIn",
                   L"Would remove HKLM\\" + addIns32 + L"Zamo.Outlook.AddIn",
                   L"Would remove HKLM\\" + addIns64 + L"Zamo.Outlook.AddIn"};
    if (!sharedKey)
        named.push_back(L"Would remove HKLM\\" + addIns32 + L"Zamo.Outlook.AddIn");
    EXPECT_EQ(log.Lines(), named);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, addIns32 + L"Zamo.Outlook.AddIn", V32));

    log.Clear();
    PurgeClickToRunAddIns();

    EXPECT_EQ(log.Lines(), Lines{});
    for (REGSAM view : {V64, V32}) {
        for (const std::wstring& addIns : {addIns64, addIns32}) {
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, addIns + L"Zamo.Outlook.AddIn", view));
            EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, addIns + OtherProgId, view));
        }
    }
}

} // namespace
