// Case rules of the system's names: ASCII letters only, byte by byte, as the
// "C" locale's toupper/tolower and as Windows compares registry and file
// names. Bytes above 0x7F are never changed, whatever the process locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sx {

constexpr char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string ascii_upper(std::string text) {
    for (char& c : text) c = ascii_upper(c);
    return text;
}

inline std::string ascii_lower(std::string text) {
    for (char& c : text) c = ascii_lower(c);
    return text;
}

constexpr bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// Where `part` first occurs in `text`, letters compared without case; npos
// when it does not. An empty part occurs at 0.
constexpr std::size_t find_ignoring_ascii_case(std::string_view text, std::string_view part) {
    if (part.size() > text.size()) return std::string_view::npos;
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
        if (equals_ignoring_ascii_case(text.substr(i, part.size()), part)) return i;
    return std::string_view::npos;
}

constexpr bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equals_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

constexpr bool ends_with_ignoring_ascii_case(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           equals_ignoring_ascii_case(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace sx
