#include "control_panel/config_report.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "components/testing/component_env.h"
#include "control_panel/cpl_test_support.h"
#include "control_panel/rasterizers_page.h"
#include "control_panel/resource.h"
#include "ui/testing/fake_dialog.h"

namespace sx::cpl {
namespace {

using testing::store_value;

class ConfigReportTest : public testing::PlayerKeyTest {
protected:
    sx::testing::ComponentEnvironment environment_;
    sx::testing::RegistryValueGuard service_pack_{kHkeyLocalMachine, kWindowsVersionKey,
                                                  kServicePackValue};
};

TEST_F(ConfigReportTest, FirstLineNamesTheSystemAndNtServicePack) {
    const std::string sp_0x10600("\x00\x06\x01\x00", 4);
    // Platform, version, "CSDVersion" (empty: absent), the first line.
    const std::tuple<uint32_t, uint32_t, uint32_t, std::string, const char*> cases[] = {
        {2, 4, 0, sp_0x10600, "Windows NT/2000, Version 4.0 SP1536"},
        {2, 5, 0, "", "Windows NT/2000, Version 5.0"},
        {1, 4, 10, sp_0x10600, "Windows 95/98, Version 4.10"},
        {7, 5, 1, "", "Windows ????, Version 5.1"},
    };
    for (const auto& [platform_id, major, minor, service_pack, line] : cases) {
        if (service_pack.empty())
            ASSERT_TRUE(service_pack_.remove());
        else
            ASSERT_TRUE(service_pack_.set(service_pack, kRegDword));
        std::string report;
        build_config_report(
            {.major = major, .minor = minor, .platform_id = platform_id, .service_pack = {}},
            &report);
        EXPECT_EQ(report.substr(0, report.find("\r\n")), line);
    }
}

// Every line break of an index gives one report line; a last line without
// one is left out; a missing index says so.
TEST_F(ConfigReportTest, IndexFilesLineByLine) {
    ASSERT_TRUE(service_pack_.remove());
    const std::string system = environment_.system_components();
    ASSERT_TRUE(environment_.write_index(system, "a\r\nb\n\rc\r\rd\n\ne"));
    store_value(kLastRasterizerValue, kRegSz, "t3d");
    std::string report = "left over";
    build_config_report({.major = 4, .minor = 10, .platform_id = 1, .service_pack = {}}, &report);
    EXPECT_EQ(report,
              "Windows 95/98, Version 4.10\r\n"
              "Last Used Renderer: Stellarix Software Rasterizer\r\n"
              "Video Card: N/A\r\n\r\n" +
                  system + "compindx.dat\r\n" + "a\r\nb\r\nc\r\n\r\nd\r\n\r\n\r\n\r\n" +
                  environment_.user_components() + "compindx.dat\r\n" +
                  "file does not exist\r\n\r\n\r\n");
}

TEST_F(ConfigReportTest, PressingTheButtonTwiceShowsTheReportOnce) {
    store_value(kRasterizersValue, kRegSz, "t3d,eol");
    std::string report;
    std::vector<std::string> shown;
    RasterizersPage page({.shorten_path = nullptr,
                          .show_report = [&](const std::string& text) { shown.push_back(text); },
                          .report = &report});
    sx::testing::FakeDialog dialog(page);
    ASSERT_TRUE(dialog.open());
    dialog.click(IDC_SHOW_CONFIG);
    dialog.click(IDC_SHOW_CONFIG);
    std::string once;
    build_config_report(platform().os_version(), &once);
    EXPECT_EQ(shown, (std::vector<std::string>{once, once}));
    EXPECT_EQ(report, once);
}

TEST(ConfigReportDialog, LaysOutAtStartAndResizeCopiesAndCloses) {
    const std::string reports[] = {"", "Windows 95/98\r\nline\r\n"};
    for (const std::string& report : reports) {
        ConfigReportDialog page(report);
        sx::testing::FakeDialog dialog(page, {IDC_REPORT_TEXT, ui::kIdOk, IDC_REPORT_COPY});
        auto& view = dialog.view();
        view.control(IDC_REPORT_TEXT).rect = {9, 11, 100, 100};
        view.control(ui::kIdOk).rect = {0, 0, 98, 23};
        view.control(IDC_REPORT_COPY).rect = {0, 0, 97, 22};
        view.set_client_size(600, 400);
        ASSERT_TRUE(dialog.open());
        EXPECT_EQ(view.text(IDC_REPORT_TEXT), report);
        // half = (600 - 9) / 2 = 295; the buttons' top 400 - 23 - 11 = 366.
        EXPECT_EQ(view.control_rect(IDC_REPORT_TEXT), (ui::Rect{9, 11, 582, 344}));
        EXPECT_EQ(view.control_rect(ui::kIdOk), (ui::Rect{197, 366, 98, 23}));
        EXPECT_EQ(view.control_rect(IDC_REPORT_COPY), (ui::Rect{304, 366, 97, 22}));
        // Narrower and lower: the OK button's right edge and the Copy
        // button's left edge stay mx apart around the new centre (246).
        page.resized(501, 300);
        EXPECT_EQ(view.control_rect(IDC_REPORT_TEXT), (ui::Rect{9, 11, 483, 244}));
        EXPECT_EQ(view.control_rect(ui::kIdOk), (ui::Rect{148, 266, 98, 23}));
        EXPECT_EQ(view.control_rect(IDC_REPORT_COPY), (ui::Rect{255, 266, 97, 22}));

        EXPECT_TRUE(dialog.click(IDC_REPORT_COPY));
        EXPECT_EQ(view.clipboard, std::vector<std::string>{report});  // also an empty text
        EXPECT_FALSE(view.ended());
        EXPECT_TRUE(dialog.click(ui::kIdCancel));
        EXPECT_TRUE(view.ended());
        EXPECT_EQ(view.end_result(), 0);
        EXPECT_TRUE(view.strays.empty());
    }
}

}  // namespace
}  // namespace sx::cpl
