// The resources of ZamoClean.exe, read byte by byte from the built program.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

const WORD English = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list)
{
    reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
    return TRUE;
}

class ResourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << GetLastError();
    }
    void TearDown() override
    {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }

    // The bytes of one resource in US English; empty when there is none.
    std::vector<unsigned char> Bytes(const wchar_t* type, WORD id)
    {
        std::vector<unsigned char> bytes;
        HRSRC found = FindResourceExW(module_, type, MAKEINTRESOURCEW(id), English);
        if (found == nullptr)
            return bytes;
        HGLOBAL loaded = LoadResource(module_, found);
        const unsigned char* data = static_cast<const unsigned char*>(LockResource(loaded));
        if (data != nullptr)
            bytes.assign(data, data + SizeofResource(module_, found));
        return bytes;
    }

    // Every language a resource exists in.
    std::vector<WORD> Languages(const wchar_t* type, WORD id)
    {
        std::vector<WORD> languages;
        EnumResourceLanguagesW(module_, type, MAKEINTRESOURCEW(id), AddLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        return languages;
    }

    HMODULE module_ = nullptr;
};

// Reads the little-endian fields of a resource in order, with bounds checks.
class Reader {
public:
    explicit Reader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
    WORD Word()
    {
        WORD value = 0;
        Take(&value, 2);
        return value;
    }
    DWORD Dword()
    {
        DWORD value = 0;
        Take(&value, 4);
        return value;
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte()
    {
        BYTE value = 0;
        Take(&value, 1);
        return value;
    }
    std::wstring String()
    {
        std::wstring text;
        for (WORD c = Word(); c != 0 && ok_; c = Word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    // A name or ordinal field: an ordinal comes back as "#<number>".
    std::wstring NameOrOrdinal()
    {
        WORD first = Word();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        if (first == 0)
            return L"";
        std::wstring text(1, static_cast<wchar_t>(first));
        return text + String();
    }
    void AlignToDword() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
    bool Ok() const { return ok_; }
    size_t At() const { return at_; }

private:
    void Take(void* out, size_t size)
    {
        if (at_ + size > bytes_.size()) {
            ok_ = false;
            return;
        }
        memcpy(out, bytes_.data() + at_, size);
        at_ += size;
    }
    const std::vector<unsigned char>& bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

struct Control {
    DWORD id;
    std::wstring className;   // "#128" for the button ordinal, or the name as written
    std::wstring text;
    DWORD style;
    short x, y, width, height;
};

// Predefined classes may be stored by ordinal (0x80 button, 0x82 static) or by name.
bool IsClass(const std::wstring& stored, const wchar_t* name, int ordinal)
{
    return stored == L"#" + std::to_wstring(ordinal) || lstrcmpiW(stored.c_str(), name) == 0;
}

TEST_F(ResourceTest, MainDialogTemplate)
{
    std::vector<unsigned char> bytes = Bytes(RT_DIALOG, 103);
    ASSERT_FALSE(bytes.empty());
    Reader r(bytes);
    EXPECT_EQ(r.Word(), 1);           // dialog version
    EXPECT_EQ(r.Word(), 0xFFFF);      // extended template signature
    EXPECT_EQ(r.Dword(), 0u);         // help id
    EXPECT_EQ(r.Dword(), 0x00040000u);
    EXPECT_EQ(r.Dword(), 0x80CA08C8u);
    WORD count = r.Word();
    EXPECT_EQ(count, 6);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 0);
    // The first template's 384 by 81, grown by the progress bar's row and the step line's.
    EXPECT_EQ(r.Short(), 384);
    EXPECT_EQ(r.Short(), 105);
    EXPECT_EQ(r.NameOrOrdinal(), L"");  // no menu
    EXPECT_EQ(r.NameOrOrdinal(), L"");  // the platform's dialog class
    EXPECT_EQ(r.String(), L"Zamo Clean");
    EXPECT_EQ(r.Word(), 8);             // points
    EXPECT_EQ(r.Word(), 0);             // weight
    EXPECT_EQ(r.Byte(), 0);             // italic
    EXPECT_EQ(r.Byte(), 1);             // DEFAULT_CHARSET
    EXPECT_EQ(r.String(), L"MS Shell Dlg");

    std::vector<Control> controls;
    for (WORD i = 0; i < count && r.Ok(); i++) {
        r.AlignToDword();
        EXPECT_EQ(r.Dword(), 0u) << "control " << i << " help id";
        EXPECT_EQ(r.Dword(), 0u) << "control " << i << " extended style";
        Control c;
        c.style = r.Dword();
        c.x = r.Short();
        c.y = r.Short();
        c.width = r.Short();
        c.height = r.Short();
        c.id = r.Dword();
        c.className = r.NameOrOrdinal();
        c.text = r.NameOrOrdinal();
        EXPECT_EQ(r.Word(), 0) << "control " << i << " creation data";
        controls.push_back(c);
    }
    ASSERT_TRUE(r.Ok());
    EXPECT_LE(bytes.size() - r.At(), 3u) << "bytes after the last control";
    ASSERT_EQ(controls.size(), 6u);

    const struct {
        DWORD id;
        const wchar_t* className;
        int ordinal;
        const wchar_t* text;
        DWORD style;
        short x, y, width, height;
    } expected[] = {
        {1, L"BUTTON", 0x80, L"&Clean", 0x50030001u, 273, 84, 50, 14},
        {2, L"BUTTON", 0x80, L"&Cancel", 0x50030001u, 327, 84, 50, 14},
        // -1 in the 32-bit id field of the extended template.
        {0xFFFFFFFFu, L"STATIC", 0x82,
         L"This tool removes any installation of Zamo for all active users on this machine. For the best "
         L"results, right-click and 'Run as Administrator' if that option is available to you. Press 'Clean' "
         L"to continue.",
         0x50020001u, 7, 23, 370, 29},
        // Hidden until a run starts; marquee: it moves without telling how far the run is.
        {1001, L"msctls_progress32", -1, L"", 0x40000008u, 7, 56, 370, 10},
        // Centred, "&" shown as it is, a long line ended with an ellipsis.
        {1002, L"STATIC", 0x82, L"", 0x50024081u, 7, 70, 370, 8},
        // Hidden until the run has ended, where Clean was.
        {1003, L"BUTTON", 0x80, L"&Show log", 0x40030000u, 273, 84, 50, 14},
    };
    for (size_t i = 0; i < controls.size(); i++) {
        SCOPED_TRACE(i);
        const Control& c = controls[i];
        EXPECT_EQ(c.id, expected[i].id);
        EXPECT_TRUE(IsClass(c.className, expected[i].className, expected[i].ordinal)) << c.className;
        EXPECT_EQ(c.text, expected[i].text);
        EXPECT_EQ(c.style, expected[i].style);
        EXPECT_EQ(c.x, expected[i].x);
        EXPECT_EQ(c.y, expected[i].y);
        EXPECT_EQ(c.width, expected[i].width);
        EXPECT_EQ(c.height, expected[i].height);
    }
}

TEST_F(ResourceTest, StringTable)
{
    const struct {
        UINT id;
        const wchar_t* text;
    } strings[] = {
        {104, L"&Close"},
        {105, L"Please wait while Zamo components are removed."},
        {106, L"Finished."},
        // The run's steps, then how it went.
        {112, L"Stopping Zamo's programs"},
        {113, L"Cleaning the profile of %s"},
        {114, L"Cleaning the profile of %s (%s)"},
        {115, L"Cleaning the profiles that are not loaded"},
        {116, L"Uninstalling %s"},
        {117, L"Cleaning the machine"},
        {118, L"Waiting for another clean-up run to finish"},
        {119, L"Nothing of Zamo was found."},
        {120, L"Everything of Zamo that was found is gone."},
        {121, L"1 item could not be removed (see the log)."},
        {122, L"%u items could not be removed (see the log)."},
        {123, L"1 file is removed at the next restart."},
        {124, L"%u files are removed at the next restart."},
        {125, L"Zamo's uninstaller completes at the next restart."},
        {126, L"Another clean-up run held the machine: try again later."},
        {127, L"Preview: nothing was changed; nothing of Zamo was found."},
        {128, L"Preview: nothing was changed; 1 item would be removed."},
        {129, L"Preview: nothing was changed; %u items would be removed."},
        {130, L"Not every item could be followed: some may remain (see the log)."},
    };
    for (const auto& s : strings) {
        wchar_t text[260];
        wmemset(text, L'#', ARRAYSIZE(text));
        int length = LoadStringW(module_, s.id, text, ARRAYSIZE(text));
        EXPECT_EQ(length, static_cast<int>(wcslen(s.text))) << s.id;
        EXPECT_STREQ(text, s.text) << s.id;
    }
    // Nothing else in the blocks that hold them (strings 96 to 143).
    for (UINT id = 96; id <= 143; id++) {
        if ((id >= 104 && id <= 106) || (id >= 112 && id <= 130))
            continue;
        wchar_t text[260];
        EXPECT_EQ(LoadStringW(module_, id, text, ARRAYSIZE(text)), 0) << id;
    }
}

TEST_F(ResourceTest, AcceleratorTableHasTwoAltCharacters)
{
    std::vector<unsigned char> bytes = Bytes(RT_ACCELERATOR, 109);
    ASSERT_EQ(bytes.size(), 16u);  // two 8-byte entries
    Reader r(bytes);
    const wchar_t keys[] = {L'?', L'/'};
    for (int i = 0; i < 2; i++) {
        WORD flags = r.Word();
        // FALT alone: a character entry (no FVIRTKEY), the end mark on the last one.
        EXPECT_EQ(flags & 0x7F, FALT) << i;
        EXPECT_EQ((flags & 0x80) != 0, i == 1) << i;
        EXPECT_EQ(r.Word(), keys[i]) << i;
        EXPECT_EQ(r.Word(), 104) << i;
        r.Word();
    }
    HACCEL table = LoadAcceleratorsW(module_, MAKEINTRESOURCEW(109));
    ASSERT_NE(table, nullptr);
    ACCEL entries[4] = {};
    ASSERT_EQ(CopyAcceleratorTableW(table, entries, 4), 2);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(entries[i].fVirt, FALT) << i;
        EXPECT_EQ(entries[i].key, keys[i]) << i;
        EXPECT_EQ(entries[i].cmd, 104) << i;
    }
    DestroyAcceleratorTable(table);
}

TEST_F(ResourceTest, IconGroupHasSixBitmapImagesLargestFirst)
{
    std::vector<unsigned char> group = Bytes(RT_GROUP_ICON, 107);
    ASSERT_EQ(group.size(), 6u + 6 * 14);
    Reader r(group);
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 1);  // icons
    ASSERT_EQ(r.Word(), 6);
    const int sizes[] = {256, 128, 64, 48, 32, 16};
    for (int size : sizes) {
        SCOPED_TRACE(size);
        BYTE width = r.Byte();
        BYTE height = r.Byte();
        EXPECT_EQ(width, size & 0xFF);  // 0 stands for 256
        EXPECT_EQ(height, size & 0xFF);
        EXPECT_EQ(r.Byte(), 0);  // colour count
        r.Byte();
        EXPECT_EQ(r.Word(), 1);  // planes
        EXPECT_EQ(r.Word(), 32);
        DWORD length = r.Dword();
        WORD id = r.Word();
        std::vector<unsigned char> image = Bytes(RT_ICON, id);
        ASSERT_EQ(image.size(), length);
        ASSERT_GE(image.size(), 40u);
        EXPECT_NE(memcmp(image.data(), "\x89PNG", 4), 0) << "PNG image";
        BITMAPINFOHEADER header;
        memcpy(&header, image.data(), sizeof(header));
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biWidth, size);
        EXPECT_EQ(header.biHeight, 2 * size);  // colour and mask
        EXPECT_EQ(header.biBitCount, 32);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
        // Pixels, then a 1-bit mask with rows padded to four bytes.
        size_t maskRow = ((size + 31) / 32) * 4;
        EXPECT_EQ(image.size(), 40u + size_t(size) * size * 4 + maskRow * size);
    }
}

TEST_F(ResourceTest, IconLoadsAtTheDefaultSize)
{
    HANDLE icon = LoadImageW(module_, MAKEINTRESOURCEW(107), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
    ASSERT_NE(icon, nullptr) << GetLastError();
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXICON));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(static_cast<HICON>(icon));
}

TEST_F(ResourceTest, ManifestAsksForNoElevationAndCommonControls6)
{
    std::vector<unsigned char> bytes = Bytes(RT_MANIFEST, 1);
    ASSERT_FALSE(bytes.empty());
    std::string text(bytes.begin(), bytes.end());
    const char* parts[] = {
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        "type=\"win32\"",
        "name=\"Microsoft.Windows.Common-Controls\"",
        "version=\"6.0.0.0\"",
        "processorArchitecture=\"*\"",
        "publicKeyToken=\"6595b64144ccf1df\"",
        "language=\"*\"",
    };
    for (const char* part : parts)
        EXPECT_NE(text.find(part), std::string::npos) << part;
    // One dependency and one privilege request, nothing else.
    EXPECT_EQ(text.find("<assemblyIdentity"), text.rfind("<assemblyIdentity"));
    EXPECT_EQ(text.find("<application"), std::string::npos);
    EXPECT_EQ(text.find("<file"), std::string::npos);
}

TEST_F(ResourceTest, VersionStrings)
{
    std::vector<unsigned char> bytes = Bytes(RT_VERSION, 1);
    ASSERT_FALSE(bytes.empty());
    struct LanguageAndCodePage {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(bytes.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &size));
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(translation->language, 0x0409);
    EXPECT_EQ(translation->codePage, 1200);
    struct {
        const wchar_t* name;
        const wchar_t* value;
    } entries[] = {{L"FileDescription", L"Zamo Clean"},
                   {L"ProductName", L"Zamo Clean"},
                   {L"InternalName", L"ZamoClean"},
                   {L"OriginalFilename", L"ZamoClean.exe"}};
    for (const auto& entry : entries) {
        wchar_t* value = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + entry.name;
        ASSERT_TRUE(VerQueryValueW(bytes.data(), query.c_str(), reinterpret_cast<void**>(&value), &size))
            << entry.name;
        EXPECT_STREQ(value, entry.value) << entry.name;
    }
}

TEST_F(ResourceTest, EverythingIsInUsEnglishOnly)
{
    struct {
        const wchar_t* type;
        WORD id;
    } resources[] = {{RT_DIALOG, 103}, {RT_STRING, 7}, {RT_STRING, 8}, {RT_STRING, 9}, {RT_GROUP_ICON, 107},
                     {RT_ACCELERATOR, 109}, {RT_MANIFEST, 1}, {RT_VERSION, 1}};
    for (const auto& resource : resources)
        EXPECT_EQ(Languages(resource.type, resource.id), std::vector<WORD>{English}) << resource.id;
}

} // namespace
