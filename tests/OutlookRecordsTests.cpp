// Outlook's records of the add-in in a user scope: resiliency lists, load times and disabled
// items of two Office versions, beside another add-in's values and a policy key, in a real run
// and a preview; and the value removal's failure line.
#include "clean/addin/OutlookRecords.h"
#include "clean/ground/RegistryValues.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::wstring> Lines;

const wchar_t Sid[] = L"S-1-5-21-7340-7341-7342-1182";
const std::wstring Office = std::wstring(Sid) + L"\\Software\\Microsoft\\Office\\";

std::wstring Removed(const std::wstring& name, const std::wstring& key)
{
    return L"Removed value [" + name + L"] from HKU\\" + key;
}

// A disabled item as Outlook stores it: three DWORDs (kind, path and name sizes in bytes),
// then the add-in's path and its name, each with its NUL.
std::vector<BYTE> DisabledItem(const std::wstring& path, const std::wstring& name)
{
    DWORD header[3] = {1, static_cast<DWORD>((path.size() + 1) * 2), static_cast<DWORD>((name.size() + 1) * 2)};
    std::vector<BYTE> data(reinterpret_cast<BYTE*>(header), reinterpret_cast<BYTE*>(header) + sizeof(header));
    for (const std::wstring* text : {&path, &name}) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text->c_str());
        data.insert(data.end(), bytes, bytes + (text->size() + 1) * 2);
    }
    return data;
}

class OutlookRecordsTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(HKEY_USERS, Sid); }
    void TearDown() override { DeleteKeyTree(HKEY_USERS, Sid); }

    static bool Dword(const std::wstring& key, const wchar_t* name)
    {
        DWORD one = 1;
        return SetBinary(HKEY_USERS, key, name, &one, sizeof(one), REG_DWORD);
    }
    static bool Binary(const std::wstring& key, const wchar_t* name, const std::vector<BYTE>& data, DWORD type = REG_BINARY)
    {
        return SetBinary(HKEY_USERS, key, name, data.data(), static_cast<DWORD>(data.size()), type);
    }
    static bool HasValue(const std::wstring& key, const wchar_t* name)
    {
        HKEY handle;
        if (RegOpenKeyExW(HKEY_USERS, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS)
            return false;
        bool found = RegQueryValueExW(handle, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(handle);
        return found;
    }

    // Two Office versions and a key that is not one, each list with the add-in's value and
    // another add-in's, disabled items of both, and a policy that names the add-in.
    void Build()
    {
        const std::wstring quorvexDll = L"C:\\Program Files\\Quorvex\\Outlook Add-In\\Zamo.Outlook.AddIn.dll";
        ASSERT_TRUE(Dword(crashing16, L"Zamo.Outlook.AddIn"));
        ASSERT_TRUE(Dword(crashing16, L"ZcFenwick.Notes.AddIn"));
        ASSERT_TRUE(Dword(crashing16, L"Zamo.Outlook.AddIn.Helper"));
        ASSERT_TRUE(Binary(disabled16, L"6k9", DisabledItem(quorvexDll, L"Zamo for Outlook")));
        ASSERT_TRUE(Binary(disabled16, L"7a1", DisabledItem(L"C:\\Program Files\\Fenwick\\notes.dll", L"Notes")));
        ASSERT_TRUE(Binary(disabled16, L"8b2", DisabledItem(L"D:\\AddIns\\x.dll", L"zamo.outlook.addin")));
        ASSERT_TRUE(Binary(disabled16, L"9c3", DisabledItem(L"C:\\Program Files\\Quorvex Tools\\x.dll", L"Tools")));
        ASSERT_TRUE(Binary(disabled16, L"Ad4", DisabledItem(quorvexDll, L"Zamo"), REG_NONE));
        ASSERT_TRUE(Dword(doNotDisable15, L"zamo.outlook.addin"));
        ASSERT_TRUE(Dword(doNotDisable15, L"ZcFenwick.Notes.AddIn"));
        ASSERT_TRUE(Binary(loadTimes15, L"Zamo.Outlook.AddIn", std::vector<BYTE>(20, 1)));
        ASSERT_TRUE(Binary(loadTimes15, L"ZcFenwick.Notes.AddIn", std::vector<BYTE>(20, 1)));
        ASSERT_TRUE(Dword(notAVersion, L"Zamo.Outlook.AddIn"));
        ASSERT_TRUE(Dword(policy, L"Zamo.Outlook.AddIn"));
    }

    const std::wstring crashing16 = Office + L"16.0\\Outlook\\Resiliency\\CrashingAddinList";
    const std::wstring disabled16 = Office + L"16.0\\Outlook\\Resiliency\\DisabledItems";
    const std::wstring doNotDisable15 = Office + L"15.0\\Outlook\\Resiliency\\DoNotDisableAddinList";
    const std::wstring loadTimes15 = Office + L"15.0\\Outlook\\AddInLoadTimes";
    const std::wstring notAVersion = Office + L"Outlook\\Outlook\\AddInLoadTimes";
    const std::wstring policy =
        std::wstring(Sid) + L"\\Software\\Policies\\Microsoft\\Office\\16.0\\Outlook\\Resiliency\\DoNotDisableAddinList";
    LogCapture log;
};

TEST_F(OutlookRecordsTest, AddInsValuesOfEveryVersionGoAndEveryOtherStays)
{
    Build();

    PurgeOutlookRecords(Sid);

    EXPECT_EQ(log.Lines(), (Lines{Removed(L"zamo.outlook.addin", doNotDisable15),
                                  Removed(L"Zamo.Outlook.AddIn", loadTimes15), Removed(L"Zamo.Outlook.AddIn", crashing16),
                                  Removed(L"6k9", disabled16), Removed(L"8b2", disabled16)}));
    EXPECT_FALSE(HasValue(crashing16, L"Zamo.Outlook.AddIn"));
    EXPECT_FALSE(HasValue(disabled16, L"6k9"));
    EXPECT_FALSE(HasValue(disabled16, L"8b2"));
    EXPECT_FALSE(HasValue(doNotDisable15, L"Zamo.Outlook.AddIn"));
    EXPECT_FALSE(HasValue(loadTimes15, L"Zamo.Outlook.AddIn"));
    EXPECT_TRUE(HasValue(crashing16, L"ZcFenwick.Notes.AddIn"));
    EXPECT_TRUE(HasValue(crashing16, L"Zamo.Outlook.AddIn.Helper"));
    EXPECT_TRUE(HasValue(disabled16, L"7a1"));
    EXPECT_TRUE(HasValue(disabled16, L"9c3")) << "\"Quorvex Tools\" is not the maker's folder";
    EXPECT_TRUE(HasValue(disabled16, L"Ad4")) << "only binary values are disabled items";
    EXPECT_TRUE(HasValue(doNotDisable15, L"ZcFenwick.Notes.AddIn"));
    EXPECT_TRUE(HasValue(loadTimes15, L"ZcFenwick.Notes.AddIn"));
    EXPECT_TRUE(HasValue(notAVersion, L"Zamo.Outlook.AddIn"));
    EXPECT_TRUE(HasValue(policy, L"Zamo.Outlook.AddIn"));
}

// Under HKEY_USERS both views show one key: a preview names each value once.
TEST_F(OutlookRecordsTest, PreviewNamesEachValueOnceAndChangesNothing)
{
    Build();
    RegistryTree before;
    ASSERT_TRUE(CaptureKeyTree(HKEY_USERS, Sid, &before));

    {
        PreviewRun preview;
        PurgeOutlookRecords(Sid);
    }

    auto would = [](const std::wstring& name, const std::wstring& key) {
        return L"Would remove value [" + name + L"] from HKU\\" + key;
    };
    EXPECT_EQ(log.Lines(), (Lines{would(L"zamo.outlook.addin", doNotDisable15), would(L"Zamo.Outlook.AddIn", loadTimes15),
                                  would(L"Zamo.Outlook.AddIn", crashing16), would(L"6k9", disabled16),
                                  would(L"8b2", disabled16)}));
    RegistryTree after;
    ASSERT_TRUE(CaptureKeyTree(HKEY_USERS, Sid, &after));
    EXPECT_TRUE(after.keys == before.keys) << "the preview changed the registry";
}

TEST_F(OutlookRecordsTest, ValueThatCannotBeRemovedIsReportedAndStays)
{
    ASSERT_TRUE(Dword(crashing16, L"Zamo.Outlook.AddIn"));
    HKEY readOnly;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, crashing16.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &readOnly),
              ERROR_SUCCESS);

    RemoveRegistryValue(readOnly, L"Zamo.Outlook.AddIn", L"HKU", crashing16.c_str());
    RegCloseKey(readOnly);

    EXPECT_EQ(log.Lines(), (Lines{L"Failed to remove value [Zamo.Outlook.AddIn] from HKU\\" + crashing16}));
    EXPECT_TRUE(HasValue(crashing16, L"Zamo.Outlook.AddIn"));
}

} // namespace
