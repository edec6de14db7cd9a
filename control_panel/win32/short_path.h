// The short (8.3) form of a path, which needs no quotes on a command line.
#pragma once

#include <string>

namespace sx::cpl {

// Replaces `path` by its short form; false when the system cannot give one
// within 1023 characters.
bool shorten_path(std::string* path);

}  // namespace sx::cpl
