// The path floor: what counts as a full, drive or literal path, and the literal form itself,
// never cut (the names that need it are met by the folder removal's tests).
#include "common/Path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PathFloor, KindsOfPathAndTheLiteralForm)
{
    const std::wstring deep = L"C:\\" + std::wstring(254, L'a');
    const struct {
        std::wstring path;
        bool onDrive;
        bool full;
        bool literal;
        const wchar_t* literalForm;  // null where there is none, or it does not fit
    } cases[] = {
        {L"C:\\Program Files\\Quorvex", true, true, false, L"\\\\?\\C:\\Program Files\\Quorvex"},
        {L"z:\\", true, true, false, L"\\\\?\\z:\\"},
        {L"C:relative", false, false, false, nullptr},
        {L"\\rooted", false, false, false, nullptr},
        {L"\\\\server\\share\\f", false, true, false, L"\\\\?\\UNC\\server\\share\\f"},
        {L"\\\\?\\C:\\x.", false, true, true, L"\\\\?\\C:\\x."},
        {L"\\\\.\\pipe\\p", false, true, false, nullptr},
        {L"1:\\x", false, false, false, nullptr},
        {deep, true, true, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(PathIsOnDrive(c.path.c_str()), c.onDrive);
        EXPECT_EQ(PathIsFull(c.path.c_str()), c.full);
        EXPECT_EQ(PathIsLiteral(c.path.c_str()), c.literal);
        PathBuffer literal;
        ASSERT_EQ(PathToLiteral(literal, c.path.c_str()), c.literalForm != nullptr);
        if (c.literalForm != nullptr) {
            EXPECT_STREQ(literal, c.literalForm);
        }
    }
}

// A walk's top spelled as stored: each component as the folder lists it, and nothing for a path
// that is not wholly there, not a drive path or a pattern.
TEST(PathFloor, TopOfAWalkAsStored)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring top = std::wstring(temp) + L"PathAsStored Mixed";
    const std::wstring inner = top + L"\\Sub.Folder";
    ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);

    // The temporary folder's own components come back as the file system spells them, which
    // may differ from GetTempPathW's in case; what this test made comes back exactly.
    PathBuffer stored;
    const std::wstring asked = std::wstring(temp) + L"pathasstored MIXED\\sub.folder";
    ASSERT_TRUE(PathAsStored(asked.c_str(), stored));
    const std::wstring got = stored;
    const std::wstring made = L"\\PathAsStored Mixed\\Sub.Folder";
    ASSERT_GT(got.size(), made.size());
    EXPECT_EQ(got.substr(got.size() - made.size()), made);
    EXPECT_EQ(CompareStringOrdinal(got.c_str(), -1, inner.c_str(), -1, TRUE), CSTR_EQUAL);

    const std::wstring refused[] = {
        std::wstring(temp) + L"pathasstored mixed\\missing",
        std::wstring(temp) + L"pathasstored mixed\\sub*",
        L"pathasstored mixed\\sub.folder",
        L"\\\\?\\" + inner,
    };
    for (const auto& path : refused) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(PathAsStored(path.c_str(), stored));
    }
    RemoveDirectoryW(inner.c_str());
    RemoveDirectoryW(top.c_str());
}

} // namespace
