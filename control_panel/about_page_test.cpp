#include "control_panel/about_page.h"

#include <gtest/gtest.h>

#include "components/testing/registry_guard.h"
#include "control_panel/cpl_test_platform.h"
#include "control_panel/cpl_texts.h"
#include "control_panel/resource.h"
#include "platform/testing/test_support.h"
#include "ui/testing/fake_dialog.h"

namespace sx::cpl {
namespace {

class AboutPageTest : public sx::test::TempDirTest {
protected:
    std::string open_with(const std::string& legal_file) {
        AboutPage page([&] { return legal_file; });
        sx::test::FakeDialog dialog(page, {IDC_ABOUT_TITLE, IDC_ABOUT_LEGAL, IDC_WEB_SITE});
        EXPECT_TRUE(dialog.open());
        const auto& title = dialog.view().control(IDC_ABOUT_TITLE);
        EXPECT_EQ(title.font_face, "MS Sans Serif");
        EXPECT_EQ(title.font_height, -18);
        EXPECT_EQ(title.font_weight, 700);
        EXPECT_TRUE(dialog.view().strays.empty());
        return dialog.view().text(IDC_ABOUT_LEGAL);
    }
};

TEST_F(AboutPageTest, LegalTextKeepsEveryLine) {
    const struct {
        std::string file, shown;
    } cases[] = {
        {"First line\nLast line without a break", "First line\r\nLast line without a break"},
        {"one\r\ntwo\r\n", "one\r\ntwo\r\n"},
        {"", ""},
        {"a\n\nb", "a\r\n\r\nb"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(sx::test::write_file(file("legal.txt"), c.file));
        EXPECT_EQ(open_with(file("legal.txt")), c.shown) << c.file;
    }
    EXPECT_EQ(open_with(""), kLegalFileMissing);
    EXPECT_EQ(open_with(file("absent.txt")), kLegalFileMissing);
}

TEST(BrowserCommand, TakesTheAddressWhereTheDocumentWouldGo) {
    const struct {
        const char* command;
        const char* line;
    } cases[] = {
        {"\"C:\\Web\\browse.exe\" \"%1\"", "\"C:\\Web\\browse.exe\"  http://a/"},
        {"browse.exe %1 -new", "browse.exe  http://a/"},
        {"browse.exe -nohome", "browse.exe -nohome http://a/"},
        {"b.exe %1 \"%1\"", "b.exe %1  http://a/"},
    };
    for (const auto& c : cases) EXPECT_EQ(browser_command_line(c.command, "http://a/"), c.line);
}

TEST_F(AboutPageTest, WebSiteFallsBackOnTheHtmlBrowser) {
    testing::RegistryValueGuard type(kHkeyClassesRoot, kHtmlFileType, "");
    testing::RegistryValueGuard command(kHkeyClassesRoot, "sxtestpage\\shell\\open\\command", "");
    for (bool shell_works : {true, false}) {
        ASSERT_TRUE(type.set("sxtestpage"));
        ASSERT_TRUE(command.set("\"C:\\Web\\browse.exe\" \"%1\""));
        test::PanelTestPlatform os(dir());
        ScopedPlatform scope(&os);
        AboutPage page([] { return std::string(); });
        sx::test::FakeDialog dialog(page);
        ASSERT_TRUE(dialog.open());
        dialog.view().shell_succeeds = shell_works;
        EXPECT_TRUE(dialog.click(IDC_WEB_SITE));
        EXPECT_EQ(dialog.view().opened, std::vector<std::string>{kWebSiteAddress});
        const std::vector<std::string> expected =
            shell_works ? std::vector<std::string>{}
                        : std::vector<std::string>{std::string("\"C:\\Web\\browse.exe\"  ") +
                                                   kWebSiteAddress};
        EXPECT_EQ(os.started, expected);
        // Without the file type nothing is started, and nothing is said.
        ASSERT_TRUE(type.remove());
        os.started.clear();
        dialog.click(IDC_WEB_SITE);
        EXPECT_TRUE(os.started.empty());
        EXPECT_TRUE(dialog.view().questions.empty());
    }
}

}  // namespace
}  // namespace sx::cpl
