// The configuration report's dialog: the text in a read-only edit control
// that grows with the dialog, and a button that copies it as CF_TEXT.
#pragma once

#include <windows.h>

#include <string>

namespace sx::cpl {

// Shows `report` modally over `owner`; returns when the dialog is closed.
void show_config_report(HINSTANCE resources, HWND owner, const std::string& report);

// Puts `text` on the clipboard as CF_TEXT, owned by `owner`; false when the
// clipboard could not be opened or emptied (it is then left as it was).
bool copy_report_to_clipboard(HWND owner, const std::string& text);

}  // namespace sx::cpl
