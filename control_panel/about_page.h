// The About page: the product title in a large bold font, the legal text
// found through the component search, and a button that opens the maker's
// web site in the browser.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "ui/page.h"

namespace sx::cpl {

// The legal text of an open file: each complete line followed by "\r\n",
// then whatever follows the last line break, as it is.
std::string read_legal_text(std::FILE* stream);

// The browser's open command with the address put where the document
// placeholder was ("%1" in quotes first, else "%1" alone), or appended when
// there is none.
std::string browser_command_line(const std::string& open_command, const std::string& address);

// The open command of the ".htm" file type; false when a key is missing.
bool html_open_command(std::string* command);

class AboutPage : public ui::Page {
public:
    // `legal_file` gives the legal text's path, empty when it is not
    // installed; by default it asks the component search.
    using LegalFileLookup = std::function<std::string()>;
    explicit AboutPage(LegalFileLookup legal_file = {});

    bool init(ui::DialogView& view) override;
    bool command(int id, int code) override;

private:
    void open_web_site();

    LegalFileLookup legal_file_;
    ui::DialogView* view_ = nullptr;
};

}  // namespace sx::cpl
