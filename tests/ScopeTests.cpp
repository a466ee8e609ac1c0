// The scope a step cleans: its root, label, key paths and the views of its Software.
#include "clean/ground/Scope.h"
#include "common/RegistryWalk.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

const std::wstring TestSid = L"S-1-5-21-7710-7711-7712-1001";

struct ScopeCase {
    const wchar_t* what;
    bool machine;
    std::wstring sid;
    HKEY root;
    const wchar_t* label;
    std::wstring shownSid;
    std::wstring software;  // empty when it does not fit
    DWORD views;
    const wchar_t* relative;
    std::wstring key;  // empty when it does not fit
};

} // namespace

TEST(Scope, HoldsRootLabelKeyPathsAndViews)
{
    // The longest SID whose Software still fits a key path, and one character more.
    const std::wstring fits(MAX_PATH - 1 - 9, L'7');
    const std::wstring tooLong(MAX_PATH - 9, L'7');
    const ScopeCase cases[] = {
        {L"machine", true, L"", HKEY_LOCAL_MACHINE, L"HKLM", L"-", L"Software", 2, L"Software\\Zamo",
         L"Software\\Zamo"},
        {L"user", false, TestSid, HKEY_USERS, L"HKU", TestSid, TestSid + L"\\Software", 1,
         L"Software\\Microsoft\\Office", TestSid + L"\\Software\\Microsoft\\Office"},
        {L"empty SID is the root itself", false, L"", HKEY_USERS, L"HKU", L"-", L"Software", 1, L"Software",
         L"Software"},
        {L"Software just fits", false, fits, HKEY_USERS, L"HKU", fits, fits + L"\\Software", 1, L"Software\\Zamo",
         L""},
        {L"Software does not fit", false, tooLong, HKEY_USERS, L"HKU", tooLong, L"", 0, L"Software", L""},
    };
    for (const ScopeCase& c : cases) {
        SCOPED_TRACE(c.what);
        Scope scope = c.machine ? MachineScope() : UserScope(c.sid.c_str());
        EXPECT_EQ(scope.root, c.root);
        EXPECT_STREQ(scope.label, c.label);
        EXPECT_EQ(std::wstring(scope.shownSid), c.shownSid);
        EXPECT_EQ(scope.softwareFits, !c.software.empty());
        EXPECT_EQ(std::wstring(scope.software), c.software);
        EXPECT_EQ(scope.softwareViews, c.views);
        // The purge passes walk both views of every scope, one that does not fit included.
        EXPECT_EQ(scope.purgeViews, 2u);
        EXPECT_EQ(scope.reads, nullptr);
        PathBuffer key;
        wcscpy(key, L"stale");
        EXPECT_EQ(ScopeKey(scope, c.relative, key), !c.key.empty());
        EXPECT_EQ(std::wstring(key), c.key);
    }
}

// The one view a user's Software is given holds: a key made through the 64-bit view is the
// same key through the 32-bit view. The machine's Software is two keys.
TEST(Scope, UserSoftwareIsOneKeyInBothViews)
{
    Scope user = UserScope(TestSid.c_str());
    PathBuffer path;
    ASSERT_TRUE(ScopeKey(user, L"Software\\ZamoScopeTest", path));
    ASSERT_TRUE(CreateKey(HKEY_USERS, path, KEY_WOW64_64KEY));
    EXPECT_TRUE(KeyExists(HKEY_USERS, path, KEY_WOW64_32KEY));
    EXPECT_FALSE(RegViewShowsOwnKey(HKEY_USERS, path, KEY_WOW64_32KEY));
    DeleteKeyTree(HKEY_USERS, TestSid);

    Scope machine = MachineScope();
    ASSERT_TRUE(ScopeKey(machine, L"Software\\ZamoScopeTest", path));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY));
    DeleteKeyTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
}
