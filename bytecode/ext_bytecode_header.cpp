#include "bytecode/ext_bytecode_header.h"

#include <cstring>
#include <utility>

#include "launcher/error_catalogue.h"
#include "platform/ascii_case.h"

namespace sx {
namespace {

constexpr char kMagic[] = "Stellarix3D:";
constexpr char kOlderFormRunComponent[] = "interpreter1";
constexpr char kWhiteSpace[] = " \t\n\v\f\r";

constexpr int kNotAnAppletFile = 12;
constexpr int kUnsupportedVersion = 14;

bool is_white(char c) { return c != '\0' && std::strchr(kWhiteSpace, c) != nullptr; }

// Reads NAME[=value] pairs from `rest`. False when a quoted name or value has
// no closing quote.
bool read_attributes(const std::string& rest,
                     std::vector<std::pair<std::string, std::string>>* attributes) {
    size_t i = 0;
    const size_t n = rest.size();
    auto skip_white = [&] {
        while (i < n && is_white(rest[i])) ++i;
    };
    for (;;) {
        skip_white();
        if (i >= n) return true;

        std::string name;
        if (rest[i] == '"') {
            size_t close = rest.find('"', i + 1);
            if (close == std::string::npos) return false;
            name = rest.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            size_t start = i;
            while (i < n && rest[i] != '=' && !is_white(rest[i])) ++i;
            name = rest.substr(start, i - start);
        }

        std::string value;
        skip_white();
        if (i < n && rest[i] == '=') {
            ++i;
            skip_white();
            if (i < n && rest[i] == '"') {
                size_t close = rest.find('"', i + 1);
                if (close == std::string::npos) return false;
                value = rest.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                size_t start = i;
                while (i < n && !is_white(rest[i])) ++i;
                value = rest.substr(start, i - start);
            }
        }
        attributes->emplace_back(std::move(name), std::move(value));
    }
}

// "name:version"; the whole value is the name when there is no ":".
ComponentRequirement requirement_from(std::string value) {
    ComponentRequirement requirement;
    split_token(&value, ":", &requirement.name);
    requirement.version = read_decimal(value);
    return requirement;
}

}  // namespace

bool split_token(std::string* text, const char* separators, std::string* token) {
    size_t at = text->find_first_of(separators);
    if (at != std::string::npos) {
        *token = text->substr(0, at);
        text->erase(0, at + 1);
        return true;
    }
    if (text->empty()) return false;
    *token = std::move(*text);
    text->clear();
    return true;
}

int32_t read_decimal(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && is_white(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the 32-bit range.
    constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= kLimit) value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

HeaderStatus read_applet_header(const std::string& line, AppletHeader* header) {
    *header = AppletHeader{};
    std::string rest = line;
    std::string token;

    if (!split_token(&rest, " ", &token) || token != kMagic) return HeaderStatus::not_an_applet;

    if (!split_token(&rest, " ", &token)) return HeaderStatus::not_an_applet;
    int32_t format = read_decimal(token);
    if (format < 0 || format > 2) {
        header->unsupported = true;
        return HeaderStatus::ok;
    }
    header->format = format;

    if (!split_token(&rest, " ", &token)) return HeaderStatus::not_an_applet;
    int32_t version = read_decimal(token);
    if (version < 5) {
        header->run = ComponentRequirement{kOlderFormRunComponent, version};
        header->header_version = 0;
    } else if (version < 10) {
        return HeaderStatus::unsupported_version;
    } else {
        header->header_version = version;
        // The attributes start after the fourth field of the whole line, which
        // must be there even though nothing reads it.
        std::string attribute_text = line;
        for (int field = 0; field < 4; ++field) {
            if (!split_token(&attribute_text, " ", &token)) return HeaderStatus::not_an_applet;
        }
        std::vector<std::pair<std::string, std::string>> attributes;
        if (!read_attributes(attribute_text, &attributes)) return HeaderStatus::not_an_applet;
        for (auto& [name, value] : attributes) {
            std::string key = ascii_upper(name);
            if (key == "RUN") {
                header->run = requirement_from(std::move(value));
            } else if (key == "REQ") {
                header->requirements.push_back(requirement_from(std::move(value)));
            }
        }
    }
    header->requirements.push_back(header->run);
    return HeaderStatus::ok;
}

bool parse_applet_header(const std::string& line, AppletHeader* header) {
    switch (read_applet_header(line, header)) {
        case HeaderStatus::ok:
            return true;
        case HeaderStatus::not_an_applet:
            show_error(kNotAnAppletFile, 0, __FILE__, __LINE__, nullptr);
            return false;
        case HeaderStatus::unsupported_version:
            show_error(kUnsupportedVersion, 0, __FILE__, __LINE__, nullptr);
            return false;
    }
    return false;
}

}  // namespace sx
