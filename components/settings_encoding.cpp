#include "components/settings_encoding.h"

namespace sx {

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool kept_unencoded(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
           c == '-' || c == '.' || c == '_';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string encode(const std::string& text, bool space_as_plus) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (kept_unencoded(c)) {
            out += ch;
        } else if (space_as_plus && c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0x0F];
        }
    }
    return out;
}

}  // namespace

std::string percent_encode(const std::string& text) { return encode(text, false); }

std::string form_encode(const std::string& text) { return encode(text, true); }

std::string percent_decode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (n - i < 3) break;  // a cut-off escape ends the text
        const int high = hex_value(text[i + 1]);
        const int low = hex_value(text[i + 2]);
        if (high < 0 || low < 0) {
            // Not an escape we wrote: keep it as it stands rather than invent
            // a byte (a zero byte would end the text for C callers).
            out.append(text, i, 3);
        } else {
            out += static_cast<char>((high << 4) | low);
        }
        i += 2;
    }
    return out;
}

bool valid_setting_key(const std::string& key) {
    if (key.empty() || key.front() == '/' || key.back() == '/') return false;
    char previous = 0;
    for (char c : ascii_upper(key)) {
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                             c == '-' || c == '_' || c == ' ' || c == '/';
        if (!allowed) return false;
        if (c == '/' && previous == '/') return false;
        previous = c;
    }
    return true;
}

}  // namespace sx
