#include "uninstaller/native/terminal_host.h"

#include "uninstaller/resource.h"
#include "uninstaller/uninstaller_texts.h"

namespace sx {

namespace texts = uninstaller_texts;

int TerminalHost::show_dialog(int dialog, const std::string& text) {
    switch (dialog) {
        case IDD_WELCOME:
        case IDD_BROWSERS: {
            const std::string& shown = dialog == IDD_WELCOME ? texts::kWelcomeText : text;
            // Only a clear yes goes on; no answer at all is a Cancel.
            return view_.ask(shown, texts::kCaption, ui::Buttons::yes_no, ui::Icon::question) ==
                           ui::Answer::yes
                       ? 1
                       : 0;
        }
        case IDD_FINISHED:
            view_.ask(text.empty() ? texts::kFinishedText : text, texts::kCaption, ui::Buttons::ok,
                      text.empty() ? ui::Icon::information : ui::Icon::warning);
            return 1;
        default:
            return 0;
    }
}

void TerminalHost::show_working() {
    out_ << texts::kCaption << ": " << texts::kWorkingText << "\n";
}

}  // namespace sx
