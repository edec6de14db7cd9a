// The uninstaller's two stages. The first runs from the installed program:
// it asks the user, copies the program into the temporary directory and
// starts the copy. The second runs from the copy, so nothing it deletes is in
// use: it waits for the first to end, removes the player on a worker thread
// while the window side keeps pumping, and says it is done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/page.h"
#include "uninstaller/removal.h"

namespace sx {

struct UninstallerCommand {
    bool second_stage = false;
    bool quiet = false;
    uint32_t first_stage_id = 0;  // second stage: the process to wait for
    std::string program;          // word 0
};

// Words split at blanks and tabs; a word that starts with a double quote runs
// to the next one (quotes dropped). At most 128 words.
std::vector<std::string> split_uninstaller_words(const std::string& command_line);
UninstallerCommand parse_uninstaller_command(const std::string& command_line);

// A top-level window title that shows a running Netscape.
bool is_netscape_title(const std::string& title);
std::string browser_message(bool internet_explorer, bool netscape);

// What the stages ask of the window system. The win32 program implements it
// with real dialogs; natively the dialogs become terminal prompts.
class UninstallerHost {
public:
    virtual ~UninstallerHost() = default;
    // Shows a modal dialog (IDD_WELCOME, IDD_BROWSERS with the browser
    // message, IDD_FINISHED with its own text, or with `text` when that is
    // not empty): 1 for Next or OK, 0 for Cancel or closing.
    virtual int show_dialog(int dialog, const std::string& text) = 0;
    // The usage asked for with "--help": standard output when there is one.
    virtual void show_usage(const std::string& usage) = 0;
    virtual bool internet_explorer_running() = 0;
    virtual bool netscape_running() = 0;
    // The modeless working dialog; hidden again before the finished one.
    virtual void show_working() = 0;
    virtual void hide_working() = 0;
    // Handles the messages waiting now; returns at once when there are none.
    virtual void pump_messages() = 0;
};

// The removal the second stage runs; the player's by default.
using RemovalFunction = RemovalReport (*)();

// The second stage's exit code when something of the player's was left.
constexpr int kExitIncomplete = 1;

// What the finished dialog says instead of its own text: empty when the
// player is gone, otherwise where the log names what was left.
std::string finished_text(const RemovalReport& report, const std::string& log);

// Runs the stage the command line asks for; the process exit code.
int run_uninstaller(const std::string& command_line, UninstallerHost& host,
                    RemovalFunction removal);

// The dialogs' logic: centred at start, 1 for Next and OK, 0 for Cancel and
// the close box; a text given replaces that of the control (the browsers
// dialog's message, the finished dialog's body).
class UninstallerPage : public ui::Page {
public:
    UninstallerPage() = default;
    UninstallerPage(int text_control, std::string text)
        : text_control_(text_control), text_(std::move(text)) {}
    bool init(ui::DialogView& view) override;
    bool command(int id, int code) override;

private:
    int text_control_ = 0;
    std::string text_;
    ui::DialogView* view_ = nullptr;
};

// The working dialog: centred, and deaf to Escape and the close box while
// the removal runs.
class WorkingPage : public ui::Page {
public:
    bool init(ui::DialogView& view) override {
        view.center();
        return true;
    }
    bool command(int, int) override { return true; }
};

}  // namespace sx
