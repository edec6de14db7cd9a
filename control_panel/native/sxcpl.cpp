// sxcpl: the control panel's Rasterizers page on a terminal, for a machine
// without the Control Panel.
//   sxcpl list        the page's rows in order: "[x] Name" or "[ ] Name"
//   sxcpl test ROW    selects row ROW (from 0) and presses "Test", which
//                     starts the launcher on the test applet and waits
// Questions and messages of the page go to standard error as "caption: text".
// Exit codes: 0 done (test: the launcher ran and ended with 0), 1 the page
// refused (it said why), 2 wrong use, 3 the launcher ended with another code.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "control_panel/rasterizers_page.h"
#include "control_panel/resource.h"
#include "platform/platform.h"
#include "ui/terminal_view.h"

namespace {

constexpr char kUsage[] = "usage: sxcpl list | sxcpl test ROW\n";

// Counts what the page says and keeps the launcher's outcome.
class Terminal : public sx::ui::TerminalView {
public:
    Terminal() : TerminalView(std::cin, std::cerr) {}
    sx::ui::Answer ask(const std::string& text, const std::string& caption, sx::ui::Buttons buttons,
                       sx::ui::Icon icon) override {
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
    int said = 0;
    bool ran = false;
    sx::ui::RunResult result{};
};

}  // namespace

int main() {
    const std::vector<std::string> args = sx::split_command_line(sx::platform().command_line());
    const bool list = args.size() == 2 && args[1] == "list";
    const bool test = args.size() == 3 && args[1] == "test";
    if (!list && !test) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string report;
    sx::cpl::RasterizersPage page(
        {.shorten_path = nullptr,
         .show_report = [](const std::string& text) { std::fputs(text.c_str(), stdout); },
         .report = &report});
    Terminal view;
    view.set_list_event_sink(
        [&page](int id, const sx::ui::ListEvent& event) { page.list_event(id, event); });
    if (!page.init(view)) return 1;
    const std::vector<sx::cpl::RasterizerRow> rows = page.rows();
    if (list) {
        for (const auto& row : rows)
            std::printf("[%c] %s\n", row.checked ? 'x' : ' ', row.name.c_str());
        return 0;
    }
    char* end = nullptr;
    const long row = std::strtol(args[2].c_str(), &end, 10);
    if (*end != '\0' || row < 0 || row >= long(rows.size())) {
        std::fprintf(stderr, "sxcpl: no row %s (the page has %lu)\n", args[2].c_str(),
                     static_cast<unsigned long>(rows.size()));
        return 2;
    }
    std::printf("testing %s\n", rows[size_t(row)].name.c_str());
    sx::ui::ListEvent click{.kind = sx::ui::ListEvent::Kind::click, .hit_row = int(row)};
    page.list_event(IDC_RASTERIZER_LIST, click);
    page.command(IDC_TEST_SELECTED, sx::ui::kButtonClicked);
    if (!view.ran || view.said > 0) return 1;
    std::printf("the launcher ended with exit code %d\n", int(view.result.exit_code));
    return view.result.exit_code == 0 ? 0 : 3;
}
