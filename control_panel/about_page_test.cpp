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

}  // namespace
}  // namespace sx::cpl
