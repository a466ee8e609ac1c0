// The one list scan against the literal scan it stands for, written out here: from index 0,
// every entry read and matched, and after each deletion the scan starts at index 0 again.
// Random lists of 90 to 170 entries, about half of them matching and a third of the matches
// undeletable, several seeds: the product key purge and the Installer's component purge log
// the same lines and leave the same keys as the literal scan on the same list.
#include "clean/Catalogue.h"
#include "clean/installer/InstallerDataPurge.h"
#include "clean/installer/RegistryPurge.h"
#include "change/RegistryChanges.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

const wchar_t TestSid[] = L"S-1-5-21-7340-7341-7342-1105";
const std::wstring UninstallList = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring UserData = L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

typedef std::vector<std::wstring> Lines;

struct Entry {
    std::wstring name;
    const wchar_t* valueName;  // "DisplayName" or "ProductName" for product keys, "01" for components
    std::wstring value;
    bool stuck;                // made undeletable
};

// A random list: unique names in random order, values that match and values that only look
// as if they did.
std::vector<Entry> RandomList(unsigned seed, bool components)
{
    std::mt19937 random(seed);
    const std::vector<std::wstring> matching =
        components ? std::vector<std::wstring>{L"C:\\Program Files\\Quorvex\\a.dll", L"c:\\quorvex\\B.exe"}
                   : std::vector<std::wstring>{L"Zamo (per-user)", L"ZAMO DEPLOYMENT", L"zamo web installer"};
    const std::vector<std::wstring> others =
        components ? std::vector<std::wstring>{L"C:\\Program Files\\Quorve\\a.dll", L"C:\\Vendor\\x.dll"}
                   : std::vector<std::wstring>{L"Zamo", L"Zamo (per-user) 2", L"Another Product"};
    std::vector<int> numbers(1000);
    for (int i = 0; i < 1000; i++)
        numbers[i] = i;
    std::shuffle(numbers.begin(), numbers.end(), random);
    std::vector<Entry> entries(90 + random() % 81);
    for (size_t i = 0; i < entries.size(); i++) {
        Entry& entry = entries[i];
        wchar_t name[16];
        wsprintfW(name, L"ZcScan%03d", numbers[i]);
        entry.name = name;
        bool matches = random() % 2 == 0;
        entry.value = matches ? matching[random() % matching.size()] : others[random() % others.size()];
        entry.valueName = components ? L"01" : (random() % 2 == 0 ? L"DisplayName" : L"ProductName");
        entry.stuck = matches && random() % 3 == 0;
    }
    return entries;
}

class ListScanTest : public ::testing::TestWithParam<unsigned> {
protected:
    void TearDown() override { Remove(); }
    // False when this Wine cannot make a key undeletable.
    bool Build(const std::vector<Entry>& entries)
    {
        Remove();
        for (const Entry& entry : entries) {
            std::wstring path = list_ + L"\\" + entry.name;
            if (!SetString(root_, path, entry.valueName, entry.value) || (entry.stuck && !undeletable_.Make(root_, path)))
                return false;
        }
        return true;
    }
    void Remove()
    {
        undeletable_.Release();
        DeleteKeyTree(root_, top_);
    }
    // The names left in the list, in enumeration order.
    Lines Left()
    {
        Lines names;
        HKEY list;
        if (RegOpenKeyExW(root_, list_.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &list) != ERROR_SUCCESS)
            return names;
        wchar_t name[MAX_PATH];
        DWORD nameCount = MAX_PATH;
        for (DWORD index = 0; RegEnumKeyExW(list, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) ==
                              ERROR_SUCCESS;
             index++, nameCount = MAX_PATH)
            names.push_back(name);
        RegCloseKey(list);
        return names;
    }
    // The literal scan: what matched is told by matched (empty for no match), and the lines
    // of one entry by logged.
    template <typename Matched, typename Logged>
    Lines LiteralScan(Matched matched, Logged logged)
    {
        Lines lines;
        HKEY list;
        EXPECT_EQ(RegOpenKeyExW(root_, list_.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &list), ERROR_SUCCESS);
        for (DWORD index = 0;;) {
            wchar_t name[MAX_PATH];
            DWORD nameCount = MAX_PATH;
            if (RegEnumKeyExW(list, index, name, &nameCount, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            std::wstring match = matched(list, name);
            if (match.empty()) {
                index++;
                continue;
            }
            bool removed = DeleteRegistryTree(list, name, KEY_WOW64_64KEY, {}) == Change::Made;
            logged(lines, name, match, removed);
            index = removed ? 0 : index + 1;
        }
        RegCloseKey(list);
        return lines;
    }
    HKEY root_ = HKEY_USERS;
    std::wstring top_ = TestSid;
    std::wstring list_ = std::wstring(TestSid) + L"\\" + UninstallList;
    LogCapture log;

private:
    UndeletableKeys undeletable_;
};

TEST_P(ListScanTest, ProductKeyPurgeDoesWhatARestartAtZeroScanDoes)
{
    std::vector<Entry> entries = RandomList(GetParam(), false);
    if (!Build(entries))
        GTEST_SKIP() << "this Wine cannot make a registry link";
    const std::wstring shown = L"HKU\\" + list_;
    Lines expected = LiteralScan(
        [](HKEY list, const wchar_t* name) {
            HKEY entry;
            if (RegOpenKeyExW(list, name, 0, KEY_READ | KEY_WOW64_64KEY, &entry) != ERROR_SUCCESS)
                return std::wstring();
            const wchar_t* displayName = KeyCatalogueName(entry, L"DisplayName");
            if (displayName == nullptr)
                displayName = KeyCatalogueName(entry, L"ProductName");
            RegCloseKey(entry);
            return std::wstring(displayName != nullptr ? displayName : L"");
        },
        [&](Lines& lines, const std::wstring& name, const std::wstring& match, bool removed) {
            lines.push_back(L"Attempting to remove " + name + L" [" + match + L"]");
            lines.push_back((removed ? L"Successfully removed from " : L"Failed to remove from ") + shown);
        });
    Lines expectedLeft = Left();
    ASSERT_GT(expected.size(), 0u);

    ASSERT_TRUE(Build(entries));
    PurgeProductKeys(HKEY_USERS, TestSid, UninstallList.c_str(), KEY_WOW64_64KEY);

    EXPECT_EQ(log.Lines(), expected);
    EXPECT_EQ(Left(), expectedLeft);
}

TEST_P(ListScanTest, ComponentPurgeDoesWhatARestartAtZeroScanDoes)
{
    root_ = HKEY_LOCAL_MACHINE;
    top_ = UserData + L"\\" + TestSid;
    list_ = top_ + L"\\Components";
    std::vector<Entry> entries = RandomList(GetParam(), true);
    if (!Build(entries))
        GTEST_SKIP() << "this Wine cannot make a registry link";
    Lines expected = LiteralScan(
        [](HKEY list, const wchar_t* name) {
            wchar_t data[MAX_PATH] = L"";
            DWORD size = sizeof(data) - sizeof(wchar_t);
            RegGetValueW(list, name, L"01", RRF_RT_REG_SZ, nullptr, data, &size);
            std::wstring text(data);
            std::transform(text.begin(), text.end(), text.begin(), ::towlower);
            return std::wstring(text.find(L"quorvex") != std::wstring::npos ? L"maker" : L"");
        },
        [&](Lines& lines, const std::wstring& name, const std::wstring&, bool removed) {
            lines.push_back(L"Removing component [" + std::to_wstring(removed ? 1 : 0) + L"] [" + list_ + L"\\" +
                            name + L"]");
        });
    Lines expectedLeft = Left();
    ASSERT_GT(expected.size(), 0u);

    ASSERT_TRUE(Build(entries));
    PurgeInstallerData(TestSid);

    EXPECT_EQ(log.Lines(), expected);
    EXPECT_EQ(Left(), expectedLeft);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ListScanTest, ::testing::Values(1u, 2u, 3u, 17u, 2026u));

} // namespace
