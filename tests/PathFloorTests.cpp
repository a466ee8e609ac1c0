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

} // namespace
