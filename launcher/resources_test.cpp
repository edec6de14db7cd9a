// The launcher's icons: the .ico files it is built from and, on Windows, the
// icon groups and version information inside the built program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/road_support.h"
#include "platform/testing/test_support.h"

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

namespace sx {
namespace {

struct Image {
    int width;
    int height;
    int bits;
    bool operator==(const Image&) const = default;
};

void PrintTo(const Image& image, std::ostream* out) {
    *out << image.width << "x" << image.height << "x" << image.bits;
}

// The program's own icon, then the applet file icon (index 1).
const std::vector<Image> kProgramIcon = {{32, 32, 4}, {32, 32, 8}, {16, 16, 4}};
const std::vector<Image> kAppletIcon = {{32, 32, 4}, {16, 16, 4}, {32, 32, 8}, {48, 48, 8}};

uint32_t le16(const std::string& s, size_t at) {
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
}
uint32_t le32(const std::string& s, size_t at) { return le16(s, at) | le16(s, at + 2) << 16; }

size_t row_bytes(int width, int bits) {
    return ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
}

// Reads an .ico file and checks each image's own header against its
// directory entry; the images are given back in file order.
std::vector<Image> read_icon_file(const std::string& path) {
    std::string data;
    EXPECT_TRUE(test::read_file(road::built_program(path.c_str()), &data)) << path;
    std::vector<Image> images;
    if (data.size() < 6 || le16(data, 0) != 0 || le16(data, 2) != 1) {
        ADD_FAILURE() << path << " is not an icon file";
        return images;
    }
    const size_t count = le16(data, 4);
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = 6 + 16 * i;
        if (entry + 16 > data.size()) {
            ADD_FAILURE() << path << ": directory cut short";
            break;
        }
        const int width = static_cast<uint8_t>(data[entry]);
        const int height = static_cast<uint8_t>(data[entry + 1]);
        const int bits = static_cast<int>(le16(data, entry + 6));
        const size_t size = le32(data, entry + 8);
        const size_t offset = le32(data, entry + 12);
        SCOPED_TRACE(path + " image " + std::to_string(i));
        EXPECT_EQ(static_cast<uint8_t>(data[entry + 2]), bits == 4 ? 16 : 0);
        if (offset + size > data.size()) {
            ADD_FAILURE() << "image runs past the end of the file";
            break;
        }
        // BITMAPINFOHEADER, palette, colour rows, mask rows.
        EXPECT_EQ(le32(data, offset), 40u);
        EXPECT_EQ(static_cast<int>(le32(data, offset + 4)), width);
        EXPECT_EQ(static_cast<int>(le32(data, offset + 8)), 2 * height);
        EXPECT_EQ(le16(data, offset + 14), static_cast<uint32_t>(bits));
        const size_t expected = 40 + (size_t{1} << bits) * 4 + row_bytes(width, bits) * height +
                                row_bytes(width, 1) * height;
        EXPECT_EQ(size, expected);
        // The mask leaves something to see and something to see through.
        const size_t mask = offset + size - row_bytes(width, 1) * height;
        bool opaque = false, transparent = false;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const bool bit =
                    static_cast<uint8_t>(data[mask + y * row_bytes(width, 1) + x / 8]) &
                    (0x80 >> (x % 8));
                (bit ? transparent : opaque) = true;
            }
        }
        EXPECT_TRUE(opaque && transparent);
        images.push_back({width, height, bits});
    }
    return images;
}

TEST(LauncherIcons, FilesHoldTheListedSizesAndDepths) {
    EXPECT_EQ(read_icon_file(SX_ICON_DIR "/Stellarix3D.ico"), kProgramIcon);
    EXPECT_EQ(read_icon_file(SX_ICON_DIR "/applet.ico"), kAppletIcon);
}

#if defined(_WIN32)

BOOL CALLBACK collect_group(HMODULE, LPCSTR, LPSTR name, LONG_PTR argument) {
    reinterpret_cast<std::vector<LPSTR>*>(argument)->push_back(name);
    return TRUE;
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD size;
    WORD id;
};
#pragma pack(pop)

TEST(LauncherProgram, CarriesTwoIconGroupsAndVersionInformation) {
    const std::string launcher = road::built_program(SX_LAUNCHER_FILE);
    HMODULE module = LoadLibraryExA(launcher.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << launcher;
    std::vector<LPSTR> groups;
    EnumResourceNamesA(module, RT_GROUP_ICON, collect_group, reinterpret_cast<LONG_PTR>(&groups));
    ASSERT_EQ(groups.size(), 2u);
    const std::vector<Image>* expected[] = {&kProgramIcon, &kAppletIcon};
    for (size_t g = 0; g < 2; ++g) {
        HRSRC found = FindResourceA(module, groups[g], RT_GROUP_ICON);
        ASSERT_NE(found, nullptr);
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
        ASSERT_NE(data, nullptr);
        const WORD count = *reinterpret_cast<const WORD*>(data + 4);
        std::vector<Image> images;
        for (WORD i = 0; i < count; ++i) {
            GroupEntry entry;
            std::memcpy(&entry, data + 6 + i * sizeof(GroupEntry), sizeof entry);
            images.push_back({entry.width, entry.height, entry.bits});
        }
        EXPECT_EQ(images, *expected[g]) << "group " << g;
    }
    FreeLibrary(module);

    // The shell's icon index 1 is the applet file icon.
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(ExtractIconA(nullptr, launcher.c_str(), UINT(-1))), 2u);
    HICON applet = ExtractIconA(nullptr, launcher.c_str(), 1);
    EXPECT_NE(reinterpret_cast<UINT_PTR>(applet), 0u);
    EXPECT_NE(reinterpret_cast<UINT_PTR>(applet), 1u);
    if (applet) DestroyIcon(applet);

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(launcher.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(launcher.c_str(), 0, size, info.data()));
    char* product = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904E4\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_STREQ(product, "Stellarix 3D Player");
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
}

TEST(LauncherProgram, IsAWindowsGuiProgram) {
    std::string image;
    ASSERT_TRUE(test::read_file(road::built_program(SX_LAUNCHER_FILE), &image));
    ASSERT_GT(image.size(), 0x40u);
    const size_t pe = le32(image, 0x3C);
    ASSERT_LT(pe + 24 + 70, image.size());
    EXPECT_EQ(image.compare(pe, 4, std::string("PE\0\0", 4)), 0);
    // The subsystem field of the optional header.
    EXPECT_EQ(le16(image, pe + 24 + 68), static_cast<uint32_t>(IMAGE_SUBSYSTEM_WINDOWS_GUI));
}

#endif

}  // namespace
}  // namespace sx
