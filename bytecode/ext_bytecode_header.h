// The applet file header: the one text line at the start of a ".sxvm" file
// that names the component running the applet and the minimum versions of
// everything it needs.
//
//     Stellarix3D: <format> <version> <fourth field> [NAME=value ...]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sx {

struct ComponentRequirement {
    std::string name;     // as written in the header
    int32_t version = 0;  // minimum required

    bool operator==(const ComponentRequirement&) const = default;
};

struct AppletHeader {
    // The format number is outside 0 to 2; nothing else is filled then.
    bool unsupported = false;
    int format = 0;
    // The header's version number when it is 10 or more; 0 for the older form.
    int32_t header_version = 0;
    ComponentRequirement run;
    // Every "REQ" attribute in header order, then `run`.
    std::vector<ComponentRequirement> requirements;
};

// Splits `text` at its first character that is in `separators`: the token is
// what precedes it and `text` keeps what follows it. Without a separator the
// whole text is the token and `text` becomes empty; an empty text gives false.
bool split_token(std::string* text, const char* separators, std::string* token);

// What the header reader found, before anything is reported.
enum class HeaderStatus {
    ok,
    not_an_applet,        // reported as code 12
    unsupported_version,  // version 5 to 9, reported as code 14
};

// Reads a header line without reporting anything; the pure core of
// parse_applet_header.
HeaderStatus read_applet_header(const std::string& line, AppletHeader* header);

// Reads a header line and reports a bad one through the error catalogue
// (codes 12 and 14, both of which end the program). True otherwise, also for
// an unsupported format number (see AppletHeader::unsupported).
bool parse_applet_header(const std::string& line, AppletHeader* header);

// The C runtime's atol on a 32-bit long: leading white space, an optional
// sign, decimal digits; anything else ends the number. Values beyond the
// 32-bit range are clamped instead of overflowing.
int32_t read_decimal(const std::string& text);

}  // namespace sx
