#include "uninstaller/flow.h"

#include <atomic>
#include <cstdlib>

#include "components/file_path.h"
#include "components/registry.h"
#include "components/text_util.h"
#include "platform/platform.h"
#include "uninstaller/removal.h"
#include "uninstaller/resource.h"
#include "uninstaller/uninstaller_texts.h"

namespace sx {

namespace texts = uninstaller_texts;

namespace {

constexpr size_t kMaxWords = 128;
constexpr int kExitError = -1;

bool all_digits(const std::string& text) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

void store_run_once_command(const std::string& copy) {
    RegistryKey key;
    if (key.create(kHkeyLocalMachine, texts::kRunOnceKey) != kErrorSuccess) return;
    const std::string command = delete_command(copy, platform().os_version().platform_id);
    // The byte count is the text's length, as every string value of the player's.
    platform().reg_set_value(key.get(), texts::kRunOnceUninstaller, kRegSz, command.c_str(),
                             static_cast<uint32_t>(command.size()));
}

// Copies the program into the temporary directory and starts the copy as the
// second stage; the first stage then ends without waiting for it.
int start_second_stage(const UninstallerCommand& command) {
    Platform& os = platform();
    FilePath copy;
    if (!copy.make_unique_file(texts::kTempPrefix, texts::kTempExtension, true)) {
        os.message_box(texts::kCreateFailed, texts::kErrorCaption, kMbOk | kMbIconError);
        return kExitError;
    }
    // The running module rather than word 0, which may be a bare name the
    // system found on the search path.
    std::string program = os.program_path();
    if (program.empty()) program = command.program;
    // The system's copy, so the copy keeps what makes it a program.
    if (!os.copy_file(program.c_str(), copy.c_str(), false)) {
        os.message_box(texts::kCopyFailed, texts::kErrorCaption, kMbOk | kMbIconError);
        return kExitError;
    }
    store_run_once_command(copy.text());
    // Quoted: the temporary directory often holds blanks.
    const std::string line =
        format_text(texts::kSecondStageFormat, quote_argument(copy.text()).c_str(),
                    static_cast<int>(os.current_process_id()), command.quiet ? " -q" : "");
    // The copy runs in its own folder: a folder that is a process's current
    // directory cannot be removed, and the first stage may have been started
    // from inside the player's.
    FilePath folder(copy);
    folder.to_parent();
    ProcessHandle process = nullptr;
    if (os.start_process(line.c_str(), folder.c_str(), &process)) os.close_process(process);
    return 0;
}

int first_stage(const UninstallerCommand& command, UninstallerHost& host) {
    if (!command.quiet) {
        if (host.show_dialog(IDD_WELCOME, std::string()) != 1) return 0;
        const bool ie = host.internet_explorer_running();
        const bool netscape = host.netscape_running();
        if ((ie || netscape) && host.show_dialog(IDD_BROWSERS, browser_message(ie, netscape)) != 1)
            return 0;
    }
    return start_second_stage(command);
}

struct Worker {
    RemovalFunction removal;
    RemovalReport report;
    std::atomic<bool> done{false};
};

uint32_t run_worker(void* argument) {
    auto* worker = static_cast<Worker*>(argument);
    worker->report = worker->removal();
    worker->done.store(true);
    return 0;
}

// A log of an earlier run must not outlive a removal that left nothing.
std::string log_report(const RemovalReport& report) {
    if (!report.left.empty() || !report.kept.empty()) return write_uninstall_log(report);
    FilePath old_log;
    old_log.set_to_temp_directory();
    old_log.append_file(texts::kLogName);
    old_log.delete_file();
    return std::string();
}

int second_stage(const UninstallerCommand& command, UninstallerHost& host,
                 RemovalFunction removal) {
    Platform& os = platform();
    os.wait_process_id(command.first_stage_id, kWaitInfinite);
    if (!command.quiet) host.show_working();
    Worker worker{removal, {}, {}};
    ThreadHandle thread = os.start_thread(run_worker, &worker);
    if (!thread) {
        // No second thread: the removal runs here, the window waits.
        run_worker(&worker);
    }
    while (!worker.done.load()) {
        host.pump_messages();
        // A short rest keeps the wait from spinning a whole processor.
        os.sleep_ms(10);
    }
    if (thread) {
        os.wait_thread(thread, kWaitInfinite);
        os.close_thread(thread);
    }
    const std::string log = log_report(worker.report);
    if (!command.quiet) {
        host.hide_working();
        host.show_dialog(IDD_FINISHED, finished_text(worker.report, log));
    }
    return worker.report.complete() ? 0 : kExitIncomplete;
}

bool is_help_switch(const std::string& word) {
    for (const char* help : texts::kHelpSwitches)
        if (word == help) return true;
    return false;
}

}  // namespace

std::vector<std::string> split_uninstaller_words(const std::string& command_line) {
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = command_line.size();
    while (i < n && words.size() < kMaxWords) {
        while (i < n && (command_line[i] == ' ' || command_line[i] == '\t')) ++i;
        if (i >= n) break;
        std::string word;
        if (command_line[i] == '"') {
            size_t end = command_line.find('"', i + 1);
            if (end == std::string::npos) end = n;
            word = command_line.substr(i + 1, end - i - 1);
            i = end < n ? end + 1 : n;
        } else {
            size_t end = command_line.find_first_of(" \t", i);
            if (end == std::string::npos) end = n;
            word = command_line.substr(i, end - i);
            i = end;
        }
        words.push_back(word);
    }
    return words;
}

UninstallerCommand parse_uninstaller_command(const std::string& command_line) {
    const std::vector<std::string> words = split_uninstaller_words(command_line);
    UninstallerCommand command;
    if (!words.empty()) command.program = words[0];
    if (words.size() < 2) return command;
    if (words[1] == texts::kQuietSwitch) {
        command.quiet = true;
    } else if (words[1][0] == '1' && words.size() >= 3 && all_digits(words[2])) {
        command.second_stage = true;
        command.first_stage_id = static_cast<uint32_t>(std::strtoul(words[2].c_str(), nullptr, 10));
        command.quiet = words.size() >= 4 && words[3] == texts::kQuietSwitch;
    }
    return command;
}

bool is_netscape_title(const std::string& title) {
    const std::string shown = title.substr(0, 1023);
    return shown.find(" - Netscape") != std::string::npos || shown.compare(0, 8, "Netscape") == 0;
}

std::string browser_message(bool internet_explorer, bool netscape) {
    std::string message = texts::kBrowsersHead;
    if (internet_explorer) message += texts::kBrowserIe;
    if (netscape) message += texts::kBrowserNetscape;
    return message + texts::kBrowsersTail;
}

std::string finished_text(const RemovalReport& report, const std::string& log) {
    if (report.complete()) return std::string();
    if (log.empty()) return texts::kIncompleteNoLogText;
    return format_text(texts::kIncompleteText, log.c_str());
}

int run_uninstaller(const std::string& command_line, UninstallerHost& host,
                    RemovalFunction removal) {
    const std::vector<std::string> words = split_uninstaller_words(command_line);
    if (words.size() >= 2 && is_help_switch(words[1])) {
        host.show_usage(texts::kUsage);
        return 0;
    }
    const UninstallerCommand command = parse_uninstaller_command(command_line);
    if (command.second_stage) return second_stage(command, host, removal);
    return first_stage(command, host);
}

bool UninstallerPage::init(ui::DialogView& view) {
    view_ = &view;
    view.center();
    if (text_control_ != 0 && !text_.empty()) view.set_text(text_control_, text_);
    return true;
}

bool UninstallerPage::command(int id, int) {
    if (!view_) return false;
    switch (id) {
        case ui::kIdCancel:
        case IDC_CANCEL_BUTTON:
            view_->end_dialog(0);
            return true;
        case IDC_NEXT_BUTTON:
        case IDC_OK_BUTTON:
            view_->end_dialog(1);
            return true;
        default:
            return false;
    }
}

}  // namespace sx
