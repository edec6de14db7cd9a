// sxcpl: the control panel's settings sheet on a terminal, for a machine
// without the Control Panel. The words of the command line are the person's
// gestures, done in order on the same pages the applet shows; see kUsage.
// Questions and messages of the pages go to standard error as
// "caption: text".
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "components/data_directories.h"
#include "control_panel/about_page.h"
#include "control_panel/cpl_texts.h"
#include "control_panel/rasterizers_page.h"
#include "control_panel/resource.h"
#include "control_panel/settings_pages.h"
#include "platform/platform.h"
#include "ui/terminal_view.h"

namespace {

constexpr char kUsage[] =
    "usage: sxcpl WORD...\n"
    "Does what a person does in the settings sheet, word by word, in order.\n"
    "Rasterizers page:\n"
    "  list               its rows in order: \"[x] Name\" or \"[ ] Name\"\n"
    "  select ROW         selects row ROW (from 0)\n"
    "  check ROW          selects row ROW and ticks it (uncheck ROW clears it)\n"
    "  up, down           moves the selected row with the arrows\n"
    "  defaults           \"Use Defaults\", answering Yes\n"
    "  test [ROW]         \"Test Selected\" (on row ROW when given): starts the\n"
    "                     launcher on the test applet and waits for it\n"
    "  report             \"Show Config\": prints the configuration report\n"
    "Stereo page:\n"
    "  stereo on|off      the stereo check box\n"
    "  eye POSITION       the eye separation slider, 0 to 1000\n"
    "Advanced page:\n"
    "  signed on|off      \"Display the signed/unsigned status of the applet\"\n"
    "  install on|off     \"Automatically install necessary components\"\n"
    "  usage N            the processor usage slider, 1 to 6\n"
    "The sheet:\n"
    "  visit PAGE         shows a page without touching it (rasterizers,\n"
    "                     stereo, advanced, about, or all)\n"
    "  show               prints what the pages shown so far hold\n"
    "  apply, ok, cancel  the sheet's buttons; OK and Apply store every page\n"
    "                     shown so far; a page that cannot store its changes\n"
    "                     says why and keeps the sheet open\n"
    "A page is loaded when a word first uses it. Words after OK or Cancel are\n"
    "not done. Exit codes: 0 done (a test: the launcher ended with 0), 1 a\n"
    "page refused or said why it could not act, 2 wrong use, 3 the launcher\n"
    "ended with another code.\n";

// A page's view: controls in memory, questions on the terminal. The page's
// yes/no questions take the answer its gesture implies ("defaults" is Yes).
class Terminal : public sx::ui::TerminalView {
public:
    Terminal() : TerminalView(std::cin, std::cerr) {}
    sx::ui::Answer ask(const std::string& text, const std::string& caption, sx::ui::Buttons buttons,
                       sx::ui::Icon icon) override {
        if (buttons == sx::ui::Buttons::yes_no && scripted != sx::ui::Answer::failed) {
            std::fprintf(stderr, "%s: %s %s\n", caption.c_str(), text.c_str(),
                         scripted == sx::ui::Answer::yes ? "Yes" : "No");
            const sx::ui::Answer answer = scripted;
            scripted = sx::ui::Answer::failed;
            return answer;
        }
        ++said;
        return TerminalView::ask(text, caption, buttons, icon);
    }
    sx::ui::RunResult run_and_wait(const std::string& command_line) override {
        std::printf("the page runs: %s\n", command_line.c_str());
        std::fflush(stdout);
        ran = true;
        result = TerminalView::run_and_wait(command_line);
        return result;
    }
    sx::ui::Answer scripted = sx::ui::Answer::failed;
    int said = 0;
    bool ran = false;
    sx::ui::RunResult result{};
};

enum PageIndex { kRasterizers, kStereo, kAdvanced, kAbout, kPageCount };
const char* const kPageNames[kPageCount] = {"rasterizers", "stereo", "advanced", "about"};

// One word and its argument, checked before anything is done.
struct Gesture {
    std::string word;
    std::string argument;
    int number = -1;  // ROW, POSITION, N; on/off as 1/0
};

bool parse_number(const std::string& text, int low, int high, int* number) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) return false;
    *number = static_cast<int>(value);
    return true;
}

// The gestures of the command line, or an error text.
bool parse_gestures(const std::vector<std::string>& args, std::vector<Gesture>* gestures,
                    std::string* error) {
    for (size_t i = 1; i < args.size(); ++i) {
        Gesture g{args[i], "", -1};
        const std::string& w = g.word;
        const bool bare = w == "list" || w == "up" || w == "down" || w == "defaults" ||
                          w == "report" || w == "show" || w == "apply" || w == "ok" ||
                          w == "cancel";
        const bool optional_row = w == "test";
        const bool row = w == "select" || w == "check" || w == "uncheck";
        const bool flag = w == "stereo" || w == "signed" || w == "install";
        const bool eye = w == "eye";
        const bool usage = w == "usage";
        const bool visit = w == "visit";
        if (!bare && !optional_row && !row && !flag && !eye && !usage && !visit) {
            *error = "unknown word \"" + w + "\"";
            return false;
        }
        const bool takes =
            !bare && !(optional_row &&
                       (i + 1 >= args.size() || !parse_number(args[i + 1], 0, 999, &g.number)));
        if (takes) {
            if (i + 1 >= args.size()) {
                *error = "\"" + w + "\" needs a value";
                return false;
            }
            g.argument = args[++i];
            bool ok = true;
            if (row || optional_row) {
                ok = parse_number(g.argument, 0, 999, &g.number);
            } else if (flag) {
                ok = g.argument == "on" || g.argument == "off";
                g.number = g.argument == "on";
            } else if (eye) {
                ok = parse_number(g.argument, 0, sx::cpl::kEyeSliderMax, &g.number);
            } else if (usage) {
                ok = parse_number(g.argument, sx::cpl::kUsageMin, sx::cpl::kUsageMax, &g.number);
            } else if (visit) {
                ok = g.argument == "all";
                for (int p = 0; p < kPageCount; ++p)
                    if (g.argument == kPageNames[p]) ok = true;
            }
            if (!ok) {
                *error = "\"" + w + "\" does not take \"" + g.argument + "\"";
                return false;
            }
        }
        gestures->push_back(g);
    }
    if (gestures->empty()) {
        *error = "nothing to do";
        return false;
    }
    return true;
}

class Sheet {
public:
    Sheet()
        : rasterizers_(
              {.shorten_path = nullptr,
               .show_report = [](const std::string& text) { std::fputs(text.c_str(), stdout); },
               .report = &report_}),
          stereo_(sx::cpl::panel_settings_path()),
          advanced_(sx::cpl::panel_settings_path(), memory_) {
        pages_[kRasterizers] = &rasterizers_;
        pages_[kStereo] = &stereo_;
        pages_[kAdvanced] = &advanced_;
        pages_[kAbout] = &about_;
    }

    // The page as the person sees it: loaded the first time it is shown.
    Terminal& visit(int index) {
        if (!shown_[index]) {
            shown_[index] = true;
            sx::ui::Page* page = pages_[index];
            views_[index].set_list_event_sink(
                [page](int id, const sx::ui::ListEvent& event) { page->list_event(id, event); });
            page->init(views_[index]);
        }
        return views_[index];
    }

    // Returns false when the gesture could not be done as asked (the page
    // said why, or there was nothing to do it on).
    bool act(const Gesture& g);

    bool closed() const { return closed_; }
    int tests_failed() const { return tests_failed_; }
    int launcher_failed() const { return launcher_failed_; }

private:
    bool select_row(int row);
    bool set_mark(int row, bool checked);
    void move(bool up);
    bool press_apply();
    void show();
    void slide(int index, int id, int position);
    void toggle_check_box(int id, bool on);
    bool set_advanced_row(int row, bool on);

    std::string report_;
    sx::cpl::PanelMemory memory_;
    sx::cpl::RasterizersPage rasterizers_;
    sx::cpl::StereoPage stereo_;
    sx::cpl::AdvancedPage advanced_;
    sx::cpl::AboutPage about_;
    sx::ui::Page* pages_[kPageCount] = {};
    Terminal views_[kPageCount];
    bool shown_[kPageCount] = {};
    bool closed_ = false;
    int tests_failed_ = 0;
    int launcher_failed_ = 0;
};

// A click on the row's text: the list selects it, then reports the click.
bool Sheet::select_row(int row) {
    Terminal& view = visit(kRasterizers);
    if (row >= view.list_row_count(IDC_RASTERIZER_LIST)) {
        std::fprintf(stderr, "sxcpl: no row %d (the page has %d)\n", row,
                     view.list_row_count(IDC_RASTERIZER_LIST));
        return false;
    }
    view.list_select(IDC_RASTERIZER_LIST, row);
    rasterizers_.list_event(IDC_RASTERIZER_LIST,
                            {.kind = sx::ui::ListEvent::Kind::click, .hit_row = row});
    return true;
}

// A click on the row's check image, when its mark is not already as asked.
bool Sheet::set_mark(int row, bool checked) {
    if (!select_row(row)) return false;
    Terminal& view = visit(kRasterizers);
    if (view.list_row(IDC_RASTERIZER_LIST, row).checked == checked) return true;
    rasterizers_.list_event(
        IDC_RASTERIZER_LIST,
        {.kind = sx::ui::ListEvent::Kind::click, .hit_row = row, .on_icon = true});
    return true;
}

// An arrow of the up-down control: one step toward its end, reported with
// the end code as the real control does.
void Sheet::move(bool up) {
    visit(kRasterizers);
    const int position = up ? 0 : 2;
    for (int code : {sx::ui::kScrollThumbPosition, sx::ui::kScrollEnd})
        rasterizers_.scroll(IDC_RASTERIZER_SPIN,
                            {.vertical = true, .code = code, .position = position});
}

// A slider dragged to `position` and let go.
void Sheet::slide(int index, int id, int position) {
    Terminal& view = visit(index);
    view.set_slider_position(id, position);
    const int at = view.slider_position(id);
    pages_[index]->scroll(
        id, {.vertical = false, .code = sx::ui::kScrollThumbPosition, .position = at});
    pages_[index]->scroll(id, {.vertical = false, .code = sx::ui::kScrollEnd, .position = 0});
}

// A click on an automatic check box, when it is not already as asked.
void Sheet::toggle_check_box(int id, bool on) {
    Terminal& view = visit(kStereo);
    if (view.checked(id) == on) return;
    view.set_checked(id, on);
    stereo_.command(id, sx::ui::kButtonClicked);
}

bool Sheet::set_advanced_row(int row, bool on) {
    Terminal& view = visit(kAdvanced);
    if (view.list_row(IDC_ADVANCED_LIST, row).checked == on) return true;
    view.list_select(IDC_ADVANCED_LIST, row);
    return advanced_.list_event(
        IDC_ADVANCED_LIST,
        {.kind = sx::ui::ListEvent::Kind::click, .hit_row = row, .on_icon = true});
}

// OK and Apply: every page shown so far stores its values, in order; the
// first that refuses keeps the sheet open on it.
bool Sheet::press_apply() {
    for (int index = 0; index < kPageCount; ++index) {
        if (!shown_[index]) continue;
        if (pages_[index]->apply() == sx::ui::ApplyResult::invalid) {
            std::fprintf(stderr,
                         "sxcpl: the %s page did not store its settings; the sheet stays open\n",
                         kPageNames[index]);
            return false;
        }
    }
    return true;
}

void Sheet::show() {
    if (shown_[kRasterizers]) {
        Terminal& view = views_[kRasterizers];
        const int selected = view.list_selected(IDC_RASTERIZER_LIST);
        std::printf("rasterizers:\n");
        for (int row = 0; row < view.list_row_count(IDC_RASTERIZER_LIST); ++row) {
            const sx::ui::ListRow r = view.list_row(IDC_RASTERIZER_LIST, row);
            std::printf("%c [%c] %s\n", row == selected ? '>' : ' ', r.checked ? 'x' : ' ',
                        r.text.c_str());
        }
        std::printf("description: %s\nvideo card: %s\nlast rasterizer used: %s\n",
                    view.text(IDC_RASTERIZER_DESCRIPTION).c_str(),
                    view.text(IDC_VIDEO_CARD).c_str(), view.text(IDC_LAST_RASTERIZER).c_str());
    }
    if (shown_[kStereo]) {
        Terminal& view = views_[kStereo];
        const int position = view.slider_position(IDC_EYE_SEPARATION);
        std::printf("stereo: %s, eye separation at %d (%f)\n",
                    view.checked(IDC_STEREO_ENABLE) ? "on" : "off", position,
                    sx::cpl::position_to_eye_separation(position));
    }
    if (shown_[kAdvanced]) {
        Terminal& view = views_[kAdvanced];
        for (int row = 0; row < view.list_row_count(IDC_ADVANCED_LIST); ++row) {
            const sx::ui::ListRow r = view.list_row(IDC_ADVANCED_LIST, row);
            std::printf("advanced: [%c] %s\n", r.checked ? 'x' : ' ', r.text.c_str());
        }
        std::printf("advanced: processor usage %d\n", view.slider_position(IDC_PROCESSOR_USAGE));
    }
    if (shown_[kAbout]) std::printf("about: %s\n", views_[kAbout].text(IDC_ABOUT_LEGAL).c_str());
}

bool Sheet::act(const Gesture& g) {
    const std::string& w = g.word;
    if (w == "visit") {
        for (int index = 0; index < kPageCount; ++index)
            if (g.argument == "all" || g.argument == kPageNames[index]) visit(index);
        return true;
    }
    if (w == "list") {
        Terminal& view = visit(kRasterizers);
        for (int row = 0; row < view.list_row_count(IDC_RASTERIZER_LIST); ++row) {
            const sx::ui::ListRow r = view.list_row(IDC_RASTERIZER_LIST, row);
            std::printf("[%c] %s\n", r.checked ? 'x' : ' ', r.text.c_str());
        }
        return true;
    }
    if (w == "select") return select_row(g.number);
    if (w == "check" || w == "uncheck") return set_mark(g.number, w == "check");
    if (w == "up" || w == "down") {
        move(w == "up");
        return true;
    }
    if (w == "defaults") {
        visit(kRasterizers).scripted = sx::ui::Answer::yes;
        rasterizers_.command(IDC_USE_DEFAULTS, sx::ui::kButtonClicked);
        return true;
    }
    if (w == "test") {
        if (g.number >= 0 && !select_row(g.number)) return false;
        Terminal& view = visit(kRasterizers);
        const int selected = view.list_selected(IDC_RASTERIZER_LIST);
        if (selected >= 0)
            std::printf("testing %s\n", view.list_row(IDC_RASTERIZER_LIST, selected).text.c_str());
        view.ran = false;
        const int said = view.said;
        rasterizers_.command(IDC_TEST_SELECTED, sx::ui::kButtonClicked);
        if (!view.ran || view.said > said) {
            ++tests_failed_;
            return false;
        }
        std::printf("the launcher ended with exit code %d\n", int(view.result.exit_code));
        if (view.result.exit_code != 0) ++launcher_failed_;
        return true;
    }
    if (w == "report") {
        visit(kRasterizers);
        rasterizers_.command(IDC_SHOW_CONFIG, sx::ui::kButtonClicked);
        return true;
    }
    if (w == "stereo") {
        toggle_check_box(IDC_STEREO_ENABLE, g.number == 1);
        return true;
    }
    if (w == "eye") {
        slide(kStereo, IDC_EYE_SEPARATION, g.number);
        return true;
    }
    if (w == "signed" || w == "install")
        return set_advanced_row(w == "signed" ? 0 : 1, g.number == 1);
    if (w == "usage") {
        slide(kAdvanced, IDC_PROCESSOR_USAGE, g.number);
        return true;
    }
    if (w == "show") {
        show();
        return true;
    }
    if (w == "apply") return press_apply();
    if (w == "ok") {
        if (!press_apply()) return false;
        closed_ = true;
        return true;
    }
    // Cancel: nothing is stored.
    for (int index = 0; index < kPageCount; ++index)
        if (shown_[index]) pages_[index]->reset();
    closed_ = true;
    return true;
}

}  // namespace

int main() {
    const std::vector<std::string> args = sx::split_command_line(sx::platform().command_line());
    if (args.size() == 2 && (args[1] == "-h" || args[1] == "--help" || args[1] == "/?")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::vector<Gesture> gestures;
    std::string error;
    if (!parse_gestures(args, &gestures, &error)) {
        std::fprintf(stderr, "sxcpl: %s (sxcpl --help tells the words)\n", error.c_str());
        return 2;
    }
    // As the Control Panel's CPL_INIT does: the report lists both indexes.
    sx::register_component_directories();
    Sheet sheet;
    bool refused = false;
    for (const Gesture& gesture : gestures) {
        if (sheet.closed()) break;
        refused = !sheet.act(gesture) || refused;
    }
    if (sheet.launcher_failed() > 0 && !refused) return 3;
    return refused ? 1 : 0;
}
