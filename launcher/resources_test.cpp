// The launcher's resources inside the built program (Windows build): its two
// icon groups and its version information.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/testing/road_support.h"
#include "platform/testing/program_icons.h"

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace sx {
namespace {

using testing::IconImage;

// The program's own icon, then the applet file icon (index 1).
const std::vector<IconImage> kProgramIcon = {{32, 32, 4}, {32, 32, 8}, {16, 16, 4}};
const std::vector<IconImage> kAppletIcon = {{32, 32, 4}, {16, 16, 4}, {32, 32, 8}, {48, 48, 8}};

TEST(LauncherProgram, CarriesTwoIconGroupsAndVersionInformation) {
    const std::string launcher = testing::built_program(SX_LAUNCHER_FILE);
    EXPECT_EQ(testing::icon_groups(launcher),
              (std::vector<std::vector<IconImage>>{kProgramIcon, kAppletIcon}));

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

}  // namespace
}  // namespace sx

#endif
