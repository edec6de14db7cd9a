#include "control_panel/rasterizers_page.h"

#include <gtest/gtest.h>

#include "control_panel/cpl_test_support.h"
#include "control_panel/resource.h"
#include "platform/testing/faulty_platform.h"
#include "ui/testing/fake_dialog.h"

namespace sx::cpl {
namespace {

using test::store_value;
using test::stored_value;
using Rows = std::vector<RasterizerRow>;

constexpr char kLongLauncher[] = "C:\\Program Files\\Stellarix Player\\Stellarix3D.exe";
constexpr char kShortLauncher[] = "C:\\PROGRA~1\\STELLA~1\\STELLA~1.EXE";
constexpr char kApplet[] = "C:\\Program Files\\Stellarix Player\\test applet.sxvm";

class RasterizersPageTest : public test::PlayerKeyTest {
protected:
    RasterizersPageTest()
        : page_({.shorten_path = [this](std::string* path) { return shorten(path); },
                 .show_report = [this](const std::string& text) { shown_reports_.push_back(text); },
                 .report = &report_}),
          dialog_(page_, {IDC_RASTERIZER_LIST, IDC_RASTERIZER_SPIN, IDC_RASTERIZER_DESCRIPTION,
                          IDC_VIDEO_CARD, IDC_LAST_RASTERIZER, IDC_TEST_SELECTED, IDC_SHOW_CONFIG,
                          IDC_USE_DEFAULTS}) {}

    bool shorten(std::string* path) {
        shortened_.push_back(*path);
        if (*path == kLongLauncher) *path = kShortLauncher;
        return shorten_works_;
    }
    sx::test::FakeView& view() { return dialog_.view(); }
    int selected() { return view().list_selected(IDC_RASTERIZER_LIST); }
    std::string description() { return view().text(IDC_RASTERIZER_DESCRIPTION); }
    void select(int row) { dialog_.click_row(IDC_RASTERIZER_LIST, row, false); }
    void install_paths() {
        store_value(kLauncherPathValue, kRegSz, kLongLauncher);
        store_value(kTestAppletValue, kRegSz, kApplet);
    }
    std::vector<std::string> question_texts() {
        std::vector<std::string> texts;
        for (const auto& q : view().questions) texts.push_back(q.caption + "|" + q.text);
        return texts;
    }

    std::string report_;
    std::vector<std::string> shown_reports_;
    std::vector<std::string> shortened_;
    bool shorten_works_ = true;
    RasterizersPage page_;
    sx::test::FakeDialog dialog_;
};

const Rows kDefaultRows = {{"Direct 3D with Acceleration", true},
                           {"OpenGL ICD", true},
                           {"OpenGL MCD", true},
                           {"Direct 3D without Acceleration", true},
                           {"Stellarix Software Rasterizer", true},
                           {"3dfx OpenGL", false}};

TEST_F(RasterizersPageTest, OpensWithTheStoredListAndTheLastUsedValues) {
    store_value(kRasterizersValue, kRegSz, "ogl,t3d,eol");
    store_value(kLastRasterizerValue, kRegSz, "ogl");
    store_value(kLastVideoCardValue, kRegSz, "Card 7");
    ASSERT_TRUE(dialog_.open());
    const Rows rows = page_.rows();
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0], (RasterizerRow{"OpenGL Software", true}));
    EXPECT_EQ(rows[2], (RasterizerRow{"Direct 3D with Acceleration", false}));
    EXPECT_EQ(selected(), 0);
    EXPECT_EQ(description(), find_rasterizer_by_id("ogl")->description);
    EXPECT_EQ(view().text(IDC_VIDEO_CARD), "Card 7");
    EXPECT_EQ(view().text(IDC_LAST_RASTERIZER), "OpenGL Software");
    EXPECT_EQ(view().changed_count(), 0);
    EXPECT_TRUE(view().strays.empty());
    select(3);
    EXPECT_EQ(description(), find_rasterizer_by_name(rows[3].name)->description);
}

TEST_F(RasterizersPageTest, WithoutWriteAccessThePageIsViewOnly) {
    FaultyPlatform faulty;
    faulty.fail_registry_create("Stellarix3D");
    ScopedPlatform scope(&faulty);
    ASSERT_TRUE(dialog_.open());
    EXPECT_EQ(question_texts(),
              (std::vector<std::string>{
                  "Stellarix Error|Failed to create Stellarix3D Registry Key.",
                  "Stellarix Error|Couldn't create rasterizers list registry entry."}));
    EXPECT_FALSE(view().dialog_enabled());
    EXPECT_EQ(page_.rows().size(), 6u);
    for (const RasterizerRow& row : page_.rows()) EXPECT_FALSE(row.checked) << row.name;
}

TEST_F(RasterizersPageTest, SpinMovesTheSelectedRowWithItsMark) {
    store_value(kRasterizersValue, kRegSz, "t3d,eol");
    ASSERT_TRUE(dialog_.open());
    const Rows before = page_.rows();
    const int last = static_cast<int>(before.size()) - 1;
    // The ends: nothing moves, nothing is marked changed.
    dialog_.press_spin(IDC_RASTERIZER_SPIN, true);
    select(last);
    dialog_.press_spin(IDC_RASTERIZER_SPIN, false);
    EXPECT_EQ(page_.rows(), before);
    EXPECT_EQ(view().changed_count(), 0);
    EXPECT_EQ(selected(), last);
    // Down from the top: the checked row and its text travel together.
    select(0);
    dialog_.press_spin(IDC_RASTERIZER_SPIN, false);
    Rows expected = before;
    std::swap(expected[0], expected[1]);
    EXPECT_EQ(page_.rows(), expected);
    EXPECT_EQ(selected(), 1);
    EXPECT_EQ(view().changed_count(), 1);
    EXPECT_EQ(view().control(IDC_RASTERIZER_SPIN).spin_position, 1);
    dialog_.press_spin(IDC_RASTERIZER_SPIN, true);
    EXPECT_EQ(page_.rows(), before);
    EXPECT_EQ(selected(), 0);
    EXPECT_EQ(description(), find_rasterizer_by_id("t3d")->description);
}

TEST_F(RasterizersPageTest, ToggleAndApplyStoreTheNewOrder) {
    store_value(kRasterizersValue, kRegSz, "t3d,eol");
    ASSERT_TRUE(dialog_.open());
    select(2);  // "Direct 3D without Acceleration", unchecked
    dialog_.press_key(IDC_RASTERIZER_LIST, ui::kKeySpace);
    dialog_.press_spin(IDC_RASTERIZER_SPIN, true);
    dialog_.press_spin(IDC_RASTERIZER_SPIN, true);
    EXPECT_EQ(view().changed_count(), 3);
    EXPECT_EQ(dialog_.apply(), ui::ApplyResult::saved);
    const auto stored = stored_value(kRasterizersValue);
    EXPECT_EQ(stored.type, kRegSz);
    EXPECT_EQ(stored.bytes, "d3d_sw,t3d,eol");
}

TEST_F(RasterizersPageTest, ResetAsksAndWritesNothingUntilApplied) {
    store_value(kRasterizersValue, kRegSz, "ogl,eol");
    ASSERT_TRUE(dialog_.open());
    view().answers = {ui::Answer::no, ui::Answer::yes};
    dialog_.click(IDC_USE_DEFAULTS);
    EXPECT_EQ(page_.rows()[0], (RasterizerRow{"OpenGL Software", true}));
    EXPECT_EQ(view().changed_count(), 0);
    dialog_.click(IDC_USE_DEFAULTS);
    EXPECT_EQ(page_.rows(), kDefaultRows);
    EXPECT_EQ(view().changed_count(), 1);
    EXPECT_EQ(selected(), -1);
    ASSERT_EQ(view().questions.size(), 2u);
    EXPECT_EQ(view().questions[1].text, "Are you sure you wish to reset to the default values?");
    EXPECT_EQ(view().questions[1].caption, "Stellarix");
    EXPECT_EQ(view().questions[1].buttons, ui::Buttons::yes_no);
    dialog_.cancel();
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "ogl,eol");
}

TEST_F(RasterizersPageTest, ApplyWithNothingCheckedIsRefused) {
    store_value(kRasterizersValue, kRegSz, "t3d,eol");
    ASSERT_TRUE(dialog_.open());
    select(0);
    dialog_.press_key(IDC_RASTERIZER_LIST, ui::kKeySpace);
    EXPECT_EQ(dialog_.apply(), ui::ApplyResult::invalid);
    ASSERT_EQ(view().questions.size(), 1u);
    EXPECT_EQ(view().questions[0].text, "You must select at least one rasterizer.");
    EXPECT_EQ(view().questions[0].caption, "Stellarix Control Panel");
    EXPECT_EQ(view().questions[0].icon, ui::Icon::warning);
    EXPECT_EQ(stored_value(kRasterizersValue).bytes, "t3d,eol");
}

TEST_F(RasterizersPageTest, TestLaunchStartsTheLauncherByItsShortPath) {
    store_value(kRasterizersValue, kRegSz, "d3d_hw,ogl_icd,eol");
    install_paths();
    ASSERT_TRUE(dialog_.open());
    select(1);
    view().run_results = {{.started = true, .exit_code = 0}};
    view().while_running = [](const std::string&) {
        store_value(kLastRasterizerValue, kRegSz, "ogl_icd");
        store_value(kLastVideoCardValue, kRegSz, "Card During Test");
    };
    EXPECT_EQ(view().text(IDC_LAST_RASTERIZER), "N/A");
    dialog_.click(IDC_TEST_SELECTED);
    EXPECT_EQ(shortened_, std::vector<std::string>{kLongLauncher});
    EXPECT_EQ(view().command_lines,
              std::vector<std::string>{
                  "\"C:\\PROGRA~1\\STELLA~1\\STELLA~1.EXE\" \"C:\\Program Files\\Stellarix "
                  "Player\\test applet.sxvm\" -renderer ogl_icd"});
    EXPECT_TRUE(view().questions.empty());
    EXPECT_EQ(view().text(IDC_LAST_RASTERIZER), "OpenGL ICD");
    EXPECT_EQ(view().text(IDC_VIDEO_CARD), "Card During Test");
    EXPECT_EQ(view().changed_count(), 0);
}

TEST_F(RasterizersPageTest, TestLaunchFailuresTellWhyAndStartNothing) {
    const std::string long_applet = "C:\\" + std::string(1000, 'a') + ".sxvm";
    const struct {
        const char* name;
        std::function<void()> arrange;
        bool shortening;
        bool select_row;
        ui::RunResult run;
        const char* message;  // null: no message
        size_t starts;
    } cases[] = {
        {"no selection", [] {}, true, false, {}, "You must select a rasterizer to test.", 0},
        {"no launcher",
         [] { store_value(kTestAppletValue, kRegSz, kApplet); },
         true,
         true,
         {},
         "Failed to find path to the Stellarix player.  Please reinstall the player.",
         0},
        {"launcher not a string",
         [] { store_value(kLauncherPathValue, kRegExpandSz, kLongLauncher); },
         true,
         true,
         {},
         "Failed to find path to the Stellarix player.  Please reinstall the player.",
         0},
        {"no short path",
         [this] { install_paths(); },
         false,
         true,
         {},
         "Failed to find path to the Stellarix player.  Please reinstall the player.",
         0},
        {"no applet",
         [] { store_value(kLauncherPathValue, kRegSz, kLongLauncher); },
         true,
         true,
         {},
         "Failed to find path to the test SXVM file.  Please reinstall the player.",
         0},
        {"empty applet",
         [] {
             store_value(kLauncherPathValue, kRegSz, kLongLauncher);
             store_value(kTestAppletValue, kRegSz, "");
         },
         true,
         true,
         {},
         "Failed to find path to the test SXVM file.  Please reinstall the player.",
         0},
        {"too long",
         [&] {
             store_value(kLauncherPathValue, kRegSz, kLongLauncher);
             store_value(kTestAppletValue, kRegSz, long_applet.substr(0, 259));
             store_value(kLauncherPathValue, kRegSz, "C:\\" + std::string(800, 'p') + ".exe");
         },
         true,
         true,
         {},
         kCommandTooLong,
         0},
        {"start fails",
         [this] { install_paths(); },
         true,
         true,
         {.started = false},
         "Could not launch Stellarix player.  Please reinstall the player.",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::wipe_player_key();
        store_value(kRasterizersValue, kRegSz, "ogl_icd,eol");
        c.arrange();
        RasterizersPage page(
            {.shorten_path = [&](std::string*) { return c.shortening; }, .show_report = {}});
        sx::test::FakeDialog dialog(page);
        dialog.open();
        if (!c.select_row) dialog.view().control(IDC_RASTERIZER_LIST).selected = -1;
        dialog.view().run_results = {c.run};
        dialog.click(IDC_TEST_SELECTED);
        EXPECT_EQ(dialog.view().command_lines.size(), c.starts);
        ASSERT_EQ(dialog.view().questions.size(), 1u);
        EXPECT_EQ(dialog.view().questions[0].text, c.message);
        EXPECT_EQ(dialog.view().questions[0].caption, "Stellarix Error.");
    }
}

TEST(TestCommand, FitsIntoTheBufferOrIsRefused) {
    std::string line = "unchanged";
    const std::string launcher(1024 - 1 - 19, 'x');  // quotes, blanks, switch, "t3d": 19
    EXPECT_TRUE(build_test_command(launcher, "", "t3d", &line));
    EXPECT_EQ(line.size(), 1023u);
    line = "unchanged";
    EXPECT_FALSE(build_test_command(launcher + "x", "", "t3d", &line));
    EXPECT_EQ(line, "unchanged");
}

TEST_F(RasterizersPageTest, EachReportPressRebuildsTheText) {
    store_value(kLastVideoCardValue, kRegSz, "Card A");
    ASSERT_TRUE(dialog_.open());
    dialog_.click(IDC_SHOW_CONFIG);
    dialog_.click(IDC_SHOW_CONFIG);
    ASSERT_EQ(shown_reports_.size(), 2u);
    EXPECT_EQ(shown_reports_[0], shown_reports_[1]);
    EXPECT_EQ(shown_reports_[1], report_);
    EXPECT_NE(report_.find("Video Card: Card A\r\n"), std::string::npos);
    EXPECT_EQ(report_.find("Video Card:"), report_.rfind("Video Card:"));
}

}  // namespace
}  // namespace sx::cpl
