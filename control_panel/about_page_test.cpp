#include "control_panel/about_page.h"

#include <gtest/gtest.h>

#include "components/testing/registry_guard.h"
#include "control_panel/cpl_test_support.h"
#include "control_panel/cpl_texts.h"
#include "control_panel/resource.h"
#include "platform/testing/test_support.h"
#include "ui/testing/fake_dialog.h"

namespace sx::cpl {
namespace {

using AboutPageTest = sx::testing::TempDirTest;

TEST_F(AboutPageTest, TitleFontAndEveryLineOfTheLegalText) {
    const struct {
        const char* file;  // nullptr: not installed
        std::string shown;
    } cases[] = {
        {"First line\nLast line without a break", "First line\r\nLast line without a break"},
        {"one\r\ntwo\r\n", "one\r\ntwo\r\n"},
        {"", ""},
        {nullptr, kLegalFileMissing},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(!c.file || sx::testing::write_file(file("legal"), c.file));
        AboutPage page([&] { return c.file ? file("legal") : std::string(); });
        sx::testing::FakeDialog dialog(page, {IDC_ABOUT_TITLE, IDC_ABOUT_LEGAL, IDC_WEB_SITE});
        ASSERT_TRUE(dialog.open());
        const auto& title = dialog.view().control(IDC_ABOUT_TITLE);
        EXPECT_EQ(title.font_face + std::to_string(title.font_height) + "/" +
                      std::to_string(title.font_weight),
                  "MS Sans Serif-18/700");
        EXPECT_EQ(dialog.view().text(IDC_ABOUT_LEGAL), c.shown);
    }
}

TEST_F(AboutPageTest, WebSiteFallsBackOnTheHtmlBrowser) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"C:\\Web\\browse.exe\" \"%1\"", "\"C:\\Web\\browse.exe\"  http://a/"},
        {"browse.exe -nohome", "browse.exe -nohome http://a/"},
        {"b.exe %1 \"%1\"", "b.exe %1  http://a/"},
    };
    for (const auto& [command, line] : cases)
        EXPECT_EQ(browser_command_line(command, "http://a/"), line);

    testing::RegistryValueGuard type(kHkeyClassesRoot, kHtmlFileType, "");
    testing::RegistryValueGuard command(kHkeyClassesRoot, "sxtestpage\\shell\\open\\command", "");
    ASSERT_TRUE(command.set("browse.exe %1"));
    const std::string fallback = std::string("browse.exe  ") + kWebSiteAddress;
    // Shell answers, file type known, browser started.
    const struct {
        bool shell, type;
        std::vector<std::string> started;
    } runs[] = {{true, true, {}}, {false, true, {fallback}}, {false, false, {}}};
    for (const auto& run : runs) {
        ASSERT_TRUE(run.type ? type.set("sxtestpage") : type.remove());
        testing::PanelTestPlatform os(dir());
        ScopedPlatform scope(&os);
        AboutPage page([] { return std::string(); });
        sx::testing::FakeDialog dialog(page);
        ASSERT_TRUE(dialog.open());
        dialog.view().shell_succeeds = run.shell;
        EXPECT_TRUE(dialog.click(IDC_WEB_SITE));
        EXPECT_EQ(dialog.view().opened, std::vector<std::string>{kWebSiteAddress});
        EXPECT_EQ(os.started, run.started);
        EXPECT_TRUE(dialog.view().questions.empty());
    }
}

}  // namespace
}  // namespace sx::cpl
