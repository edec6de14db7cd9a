// The encodings of settings files and query strings, and the rule for
// settings keys.
#pragma once

#include <string>

#include "platform/ascii_case.h"

namespace sx {

// Keeps ASCII letters, digits and "*-._"; every other byte becomes "%XX"
// (upper-case hexadecimal of its unsigned value).
std::string percent_encode(const std::string& text);

// Replaces "%XX" by the byte XX. A "%" with fewer than two characters after
// it ends the text. A "%" whose two characters are not both hexadecimal
// digits is kept with them as it is.
std::string percent_decode(const std::string& text);

// percent_encode, except that a space becomes "+" (query strings).
std::string form_encode(const std::string& text);

// A key is valid when, upper-cased, it is non-empty, uses only
// "A-Z 0-9 . - _ space /", neither begins nor ends with "/" and never has two
// "/" in a row.
bool valid_setting_key(const std::string& key);

}  // namespace sx
