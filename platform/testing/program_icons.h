// The icon groups inside a built program, as the shell finds them: width,
// height and colour depth of each image, group by group in resource order.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sx::testing {

struct IconImage {
    int width;
    int height;
    int bits;
    bool operator==(const IconImage&) const = default;
    friend void PrintTo(const IconImage& image, std::ostream* out) {
        *out << image.width << "x" << image.height << "x" << image.bits;
    }
};

// Empty when the program cannot be opened. Windows build only.
std::vector<std::vector<IconImage>> icon_groups(const std::string& program);

}  // namespace sx::testing
