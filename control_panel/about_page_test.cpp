#include "control_panel/about_page.h"

#include <gtest/gtest.h>

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

// The address goes where the document placeholder was: "%1" in quotes
// first, else "%1" alone, else at the end.
TEST(BrowserCommandLine, AddressReplacesThePlaceholder) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"C:\\b.exe\" -nohome \"%1\" %1", "\"C:\\b.exe\" -nohome  http://a/"},
        {"C:\\b.exe %1 -x", "C:\\b.exe  http://a/"},
        {"C:\\b.exe", "C:\\b.exe http://a/"},
        {"", " http://a/"},
    };
    for (const auto& [command, line] : cases)
        EXPECT_EQ(browser_command_line(command, "http://a/"), line) << command;
}

}  // namespace
}  // namespace sx::cpl
