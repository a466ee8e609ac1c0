// The registry floor against real keys of a test user: what a walk hands over when a name or
// data does not fit, which views a walk of a key visits, and keys reached as themselves with
// registry links at the end of a path, on the way, and Windows' own link of a user's classes.
#include "common/Registry.h"
#include "common/RegistryWalk.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

#define SID_TEXT L"S-1-5-21-7350-7351-7352-1307"
const std::wstring Sid = SID_TEXT;
const std::wstring UserKernelRoot = L"\\REGISTRY\\User\\" + Sid;

std::wstring User(const std::wstring& path)
{
    return Sid + L"\\" + path;
}

class RegistryFloorTest : public ::testing::Test {
protected:
    ~RegistryFloorTest() override
    {
        DeleteKeyTree(HKEY_USERS, Sid);
        DeleteKeyTree(HKEY_USERS, Sid + L"_Classes");
        DeleteKeyTree(HKEY_USERS, Sid + L"-2");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\ZcFloorTest", KEY_WOW64_64KEY);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\ZcFloorTest", KEY_WOW64_32KEY);
    }
};

struct Walked {
    std::vector<std::wstring> names;
    std::vector<std::wstring> texts;
};

bool NoteValue(const RegValue& value, void* context)
{
    Walked& walked = *static_cast<Walked*>(context);
    walked.names.push_back(value.name);
    walked.texts.push_back(value.text != nullptr ? value.text : L"(none)");
    return true;
}

TEST_F(RegistryFloorTest, NameOrDataThatDoesNotFitIsNeverHandedOverAndTheWalkSaysSo)
{
    const std::wstring longest(259, L'N');
    const std::wstring fullData(260, L'd');  // 520 bytes without a NUL
    const std::wstring longerData(261, L'd');
    const struct {
        const wchar_t* what;
        std::wstring name;
        const std::wstring* data;
        bool withData;
        bool handedOver;
    } cases[] = {
        {L"longest name that fits", longest, nullptr, false, true},
        {L"name one character too long", longest + L"N", nullptr, false, false},
        {L"data of 520 bytes read", L"Full", &fullData, true, true},
        {L"data of 522 bytes read", L"Longer", &longerData, true, false},
        {L"data of 522 bytes not read", L"Longer", &longerData, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring key = User(L"Walk");
        DeleteKeyTree(HKEY_USERS, key);
        ASSERT_TRUE(SetString(HKEY_USERS, key, L"A", L"first"));
        if (c.data != nullptr)
            ASSERT_TRUE(SetBinary(HKEY_USERS, key, c.name.c_str(), c.data->c_str(),
                                  static_cast<DWORD>(c.data->size() * sizeof(wchar_t)), REG_BINARY));
        else
            ASSERT_TRUE(SetString(HKEY_USERS, key, c.name.c_str(), L"x"));
        ASSERT_TRUE(SetString(HKEY_USERS, key, L"Z", L"last"));
        HKEY open;
        ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &open), ERROR_SUCCESS);
        Walked walked;
        bool whole = RegEnumValues(open, c.withData, NoteValue, &walked);
        NameList names = {};
        bool namesWhole = RegReadValueNames(open, names);
        RegCloseKey(open);

        std::vector<std::wstring> expected = {L"A", L"Z"};
        if (c.handedOver)
            expected.insert(expected.begin() + 1, c.name);
        EXPECT_EQ(walked.names, expected);
        EXPECT_EQ(whole, c.handedOver);
        EXPECT_EQ(names.count, c.withData ? 3u : static_cast<DWORD>(expected.size()));
        EXPECT_EQ(namesWhole, c.withData || c.handedOver);
        FreeNames(names);
        if (c.withData && c.handedOver) {
            EXPECT_EQ(walked.texts[1], fullData);
        }
        if (!c.withData) {
            EXPECT_EQ(walked.texts[0], L"(none)");
        }
    }
}

TEST_F(RegistryFloorTest, TheThirtyTwoBitViewIsVisitedOnlyWhereItShowsAKeyOfItsOwn)
{
    const std::wstring own = L"Software\\ZcFloorTest\\Own";
    const std::wstring only64 = L"Software\\ZcFloorTest\\Only64";
    const std::wstring only32 = L"Software\\ZcFloorTest\\Only32";
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, own, KEY_WOW64_64KEY));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, own, KEY_WOW64_32KEY));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, only64, KEY_WOW64_64KEY));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, only32, KEY_WOW64_32KEY));
    ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Software\\Shared")));
    const struct {
        HKEY root;
        std::wstring path;
        bool visits32;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, own, true},
        {HKEY_LOCAL_MACHINE, only64, false},
        {HKEY_LOCAL_MACHINE, only32, true},
        {HKEY_USERS, User(L"Software\\Shared"), false},
        // Without a 64-bit key the 32-bit view is tried: the open finds there is nothing.
        {HKEY_LOCAL_MACHINE, L"Software\\ZcFloorTest\\Neither", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_TRUE(RegViewShowsOwnKey(c.root, c.path.c_str(), KEY_WOW64_64KEY));
        EXPECT_EQ(RegViewShowsOwnKey(c.root, c.path.c_str(), KEY_WOW64_32KEY), c.visits32);
    }
}

TEST_F(RegistryFloorTest, KeyIsReachedAsItselfOrNotAtAll)
{
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Target\\Child"), L"V", L"x"));
    ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Plain\\Child")));
    ASSERT_TRUE(CreateKey(HKEY_USERS, Sid + L"_Classes\\Zc.Type"));
    ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"Other")));
    const std::wstring target = UserKernelRoot + L"\\Target";
    RegistryLink atEnd(HKEY_USERS, User(L"AtEnd"), target);
    RegistryLink onTheWay(HKEY_USERS, User(L"Way"), target);
    RegistryLink namedClasses(HKEY_USERS, User(L"Other\\Classes"), target);
    // The user's classes link where Windows has one, and one of another user's that leads elsewhere.
    ASSERT_TRUE(CreateKey(HKEY_USERS, Sid + L"-2\\Software"));
    RegistryLink usersClasses(HKEY_USERS, User(L"Software\\Classes"), UserKernelRoot + L"_Classes");
    RegistryLink strayClasses(HKEY_USERS, Sid + L"-2\\Software\\Classes", target);
    if (!atEnd.Made() || !onTheWay.Made() || !namedClasses.Made() || !usersClasses.Made() || !strayClasses.Made())
        GTEST_SKIP() << "this Wine cannot make a registry link";
    const struct {
        std::wstring path;
        const wchar_t* kernelName;  // below \REGISTRY\User, or null where it cannot be reached
        bool holdsNothing;
    } cases[] = {
        {User(L"Plain\\Child"), L"\\Plain\\Child", true},
        // A link at the end is the key itself: it holds its target's name alone.
        {User(L"AtEnd"), L"\\AtEnd", false},
        {User(L"Way\\Child"), nullptr, false},
        {User(L"Other\\Classes\\Child"), nullptr, false},
        {User(L"Other\\Classes"), L"\\Other\\Classes", false},
        {User(L"Software\\Classes\\Zc.Type"), L"_Classes\\Zc.Type", true},
        {User(L"Software\\Classes"), L"_Classes", false},
        {Sid + L"-2\\Software\\Classes\\Child", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        HKEY key;
        bool opened = RegOpenAsItself(HKEY_USERS, c.path.c_str(), KEY_READ | KEY_WOW64_64KEY, key);
        ASSERT_EQ(opened, c.kernelName != nullptr);
        if (!opened)
            continue;
        RegistryName name;
        EXPECT_TRUE(RegKernelName(key, name));
        EXPECT_TRUE(RegSameKey(name, (UserKernelRoot + c.kernelName).c_str())) << name;
        RegCloseKey(key);
        HKEY values;
        ASSERT_TRUE(RegOpenForValues(HKEY_USERS, c.path.c_str(), KEY_QUERY_VALUE | KEY_WOW64_64KEY, values));
        EXPECT_EQ(RegHoldsAtMost(values, 0, 0), c.holdsNothing);
        EXPECT_TRUE(RegHoldsAtMost(values, 1, 1));
        RegCloseKey(values);
    }
    // Below a link opened as itself there is nothing, though the key it leads to has a child.
    HKEY link;
    ASSERT_TRUE(RegOpenAsItself(HKEY_USERS, User(L"AtEnd").c_str(), KEY_READ | KEY_WOW64_64KEY, link));
    HKEY child;
    EXPECT_FALSE(RegOpenAsItself(link, L"Child", KEY_READ | KEY_WOW64_64KEY, child));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    RegCloseKey(link);
}

// The list keys whose entries are opened one call each: a plain key is found where no link is
// on the way or at the end, and below it each name is reached as itself.
TEST_F(RegistryFloorTest, PlainKeysAndTheSubkeysBelowThem)
{
    ASSERT_TRUE(SetString(HKEY_USERS, User(L"Target\\Child"), L"V", L"x"));
    ASSERT_TRUE(CreateKey(HKEY_USERS, User(L"List\\Entry")));
    ASSERT_TRUE(CreateKey(HKEY_USERS, Sid + L"_Classes\\Zc.Type"));
    ASSERT_TRUE(CreateKey(HKEY_LOCAL_MACHINE, L"Software\\ZcFloorTest\\Narrow\\Entry", KEY_WOW64_32KEY));
    const std::wstring target = UserKernelRoot + L"\\Target";
    RegistryLink atEnd(HKEY_USERS, User(L"AtEnd"), target);
    RegistryLink onTheWay(HKEY_USERS, User(L"Way"), target);
    RegistryLink entryLink(HKEY_USERS, User(L"List\\Linked"), target);
    RegistryLink usersClasses(HKEY_USERS, User(L"Software\\Classes"), UserKernelRoot + L"_Classes");
    if (!atEnd.Made() || !onTheWay.Made() || !entryLink.Made() || !usersClasses.Made())
        GTEST_SKIP() << "this Wine cannot make a registry link";
    const struct {
        HKEY root;
        std::wstring path;
        REGSAM view;
        const wchar_t* subkey;       // opened below the plain key, when it is found
        const wchar_t* kernelName;   // of the plain key below \REGISTRY, or null where none is found
        const wchar_t* subkeyName;   // of the subkey below \REGISTRY, or null where none is found
    } cases[] = {
        {HKEY_USERS, User(L"List"), KEY_WOW64_64KEY, L"Entry", L"\\User\\" SID_TEXT L"\\List",
         L"\\User\\" SID_TEXT L"\\List\\Entry"},
        // An entry that is a link is opened as itself, never as what it leads to.
        {HKEY_USERS, User(L"List"), KEY_WOW64_64KEY, L"Linked", L"\\User\\" SID_TEXT L"\\List",
         L"\\User\\" SID_TEXT L"\\List\\Linked"},
        {HKEY_USERS, User(L"List"), KEY_WOW64_64KEY, L"Missing", L"\\User\\" SID_TEXT L"\\List", nullptr},
        {HKEY_USERS, User(L"AtEnd"), KEY_WOW64_64KEY, L"Child", nullptr, nullptr},
        {HKEY_USERS, User(L"Way\\Child"), KEY_WOW64_64KEY, nullptr, nullptr, nullptr},
        // Windows' own link of a user's classes is followed, at the end and as a name below.
        {HKEY_USERS, User(L"Software\\Classes"), KEY_WOW64_64KEY, L"Zc.Type", L"\\User\\" SID_TEXT L"_Classes",
         L"\\User\\" SID_TEXT L"_Classes\\Zc.Type"},
        {HKEY_USERS, User(L"Software"), KEY_WOW64_64KEY, L"Classes", L"\\User\\" SID_TEXT L"\\Software",
         L"\\User\\" SID_TEXT L"_Classes"},
        // A view's own key is told by its components, the quick way cannot.
        {HKEY_LOCAL_MACHINE, L"Software\\ZcFloorTest\\Narrow", KEY_WOW64_32KEY, L"Entry",
         L"\\Machine\\Software\\Wow6432Node\\ZcFloorTest\\Narrow",
         L"\\Machine\\Software\\Wow6432Node\\ZcFloorTest\\Narrow\\Entry"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        HKEY plain;
        bool found = RegOpenPlain(c.root, c.path.c_str(), KEY_READ | c.view, plain);
        ASSERT_EQ(found, c.kernelName != nullptr);
        if (!found) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
            continue;
        }
        RegistryName name;
        EXPECT_TRUE(RegKernelName(plain, name));
        EXPECT_TRUE(RegSameKey(name, (L"\\REGISTRY" + std::wstring(c.kernelName)).c_str())) << name;
        HKEY subkey;
        bool reached = RegOpenSubkeyOf(plain, c.subkey, KEY_READ | c.view, subkey);
        RegCloseKey(plain);
        ASSERT_EQ(reached, c.subkeyName != nullptr);
        if (!reached)
            continue;
        EXPECT_TRUE(RegKernelName(subkey, name));
        EXPECT_TRUE(RegSameKey(name, (L"\\REGISTRY" + std::wstring(c.subkeyName)).c_str())) << name;
        RegCloseKey(subkey);
    }
}

} // namespace
