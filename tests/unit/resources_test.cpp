#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

class Executable : public testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExW(TEXT(TARQUELIN_EXE), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(module) << "the built executable should sit beside the tests";
    }
    void TearDown() override
    {
        if (module) FreeLibrary(module);
    }
    std::string Resource(LPCWSTR type, LPCWSTR name, WORD language)
    {
        HRSRC found = FindResourceExW(module, type, name, language);
        if (!found) return {};
        auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(data, SizeofResource(module, found));
    }
    HMODULE module = nullptr;
};

constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
constexpr WORD kSpanish = 3082;

}  // namespace

TEST_F(Executable, IconGroupHoldsTheSixImagesWithTheirNumbersSizesAndDepths)
{
    std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1), kNeutral);
    ASSERT_EQ(group.size(), 6u + 6 * sizeof(GroupEntry));
    auto* entries = reinterpret_cast<const GroupEntry*>(group.data() + 6);
    const struct {
        WORD id;
        int size, bits;
        DWORD bytes;
    } expected[] = {{30001, 48, 8, 3752}, {30002, 32, 8, 2216}, {30003, 16, 8, 1384},
                    {30004, 48, 32, 9640}, {30005, 32, 32, 4264}, {30006, 16, 32, 1128}};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(entries[i].id, expected[i].id);
        EXPECT_EQ(entries[i].width, expected[i].size);
        EXPECT_EQ(entries[i].bits, expected[i].bits);
        EXPECT_EQ(entries[i].bytes, expected[i].bytes);
        std::string image = Resource(RT_ICON, MAKEINTRESOURCEW(expected[i].id), kNeutral);
        ASSERT_EQ(image.size(), expected[i].bytes);
        auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        EXPECT_EQ(header->biWidth, expected[i].size);
        EXPECT_EQ(header->biHeight, 2 * expected[i].size);
        EXPECT_EQ(header->biBitCount, expected[i].bits);
    }
    // Windows can build an icon of each size from the group.
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, 48, 48, 0));
    EXPECT_NE(icon, nullptr);
    DestroyIcon(icon);
}

TEST_F(Executable, VersionInformation)
{
    std::string block = Resource(RT_VERSION, MAKEINTRESOURCEW(1), kSpanish);
    ASSERT_FALSE(block.empty());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000005u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000005u);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileDateMS | fixed->dwFileDateLS, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &size));
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(translation[0], 0x0C0A);
    EXPECT_EQ(translation[1], 1200);

    const std::pair<const wchar_t*, const wchar_t*> keys[] = {
        {L"CompanyName", L"Kestrova"},     {L"ProductName", L"Kestrova Zelvy Remover"},
        {L"FileVersion", L"1.00.0005"},    {L"ProductVersion", L"1.00.0005"},
        {L"InternalName", L"tarquelin"},   {L"OriginalFilename", L"tarquelin.exe"}};
    for (auto [key, value] : keys) {
        wchar_t* text = nullptr;
        std::wstring path = std::wstring(L"\\StringFileInfo\\0C0A04B0\\") + key;
        ASSERT_TRUE(VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &size)) << key;
        EXPECT_STREQ(text, value);
    }
    wchar_t* text = nullptr;
    EXPECT_FALSE(VerQueryValueW(block.data(), L"\\StringFileInfo\\0C0A04B0\\FileDescription",
                                reinterpret_cast<void**>(&text), &size));
}

TEST_F(Executable, ManifestCursorAndBanner)
{
    std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1), kNeutral);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("supportedOS"), std::string::npos);

    std::string cursor = Resource(RT_CURSOR, MAKEINTRESOURCEW(1), kNeutral);
    ASSERT_GE(cursor.size(), 4u + sizeof(BITMAPINFOHEADER));
    auto* hotSpot = reinterpret_cast<const WORD*>(cursor.data());
    EXPECT_EQ(hotSpot[0], 5);
    EXPECT_EQ(hotSpot[1], 0);
    auto* cursorHeader = reinterpret_cast<const BITMAPINFOHEADER*>(cursor.data() + 4);
    EXPECT_EQ(cursorHeader->biWidth, 32);
    EXPECT_EQ(cursorHeader->biBitCount, 1);

    std::string banner = Resource(RT_BITMAP, MAKEINTRESOURCEW(101), kNeutral);
    ASSERT_EQ(banner.size(), 145494u - sizeof(BITMAPFILEHEADER));
    auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(banner.data());
    EXPECT_EQ(header->biWidth, 160);
    EXPECT_EQ(header->biHeight, 303);  // positive: bottom-up
    EXPECT_EQ(header->biBitCount, 24);
    EXPECT_EQ(header->biClrUsed, 0u);
    EXPECT_EQ(header->biXPelsPerMeter | header->biYPelsPerMeter, 0);
}

// SHELL32 is loaded only when the web link is clicked: importing it costs every start.
TEST(ExecutableFile, HeaderFlagsAndImportsOnlyWindowsDllsWithoutTheShell)
{
    std::ifstream in(TARQUELIN_EXE, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(file.size(), 1024u);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + dos->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    WORD flags = nt->OptionalHeader.DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);

    // Walk the import directory, mapping addresses to file offsets through the sections.
    auto* sections = IMAGE_FIRST_SECTION(nt);
    auto offset = [&](DWORD rva) -> const char* {
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize)
                return file.data() + s.PointerToRawData + (rva - s.VirtualAddress);
        }
        return nullptr;
    };
    auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
        offset(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress));
    ASSERT_NE(import, nullptr);
    std::set<std::string> dlls;
    for (; import->Name; ++import) {
        std::string name = offset(import->Name);
        for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        dlls.insert(name);
    }
    const std::set<std::string> windows = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"};
    for (const std::string& dll : dlls) EXPECT_TRUE(windows.count(dll)) << dll;
    EXPECT_TRUE(dlls.count("kernel32.dll"));
}
