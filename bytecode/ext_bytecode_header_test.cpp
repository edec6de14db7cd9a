#include "bytecode/ext_bytecode_header.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

// The reading only: the launcher's road test shows how a bad header ends it.
namespace sx {
namespace {

TEST(ReadDecimal, BehavesLikeAtolOnThirtyTwoBits) {
    const std::pair<std::string, int32_t> cases[] = {
        {"  42x", 42},
        {"-7", -7},
        {"+3", 3},
        {"abc", 0},
        {"- 3", 0},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"99999999999999999999999", INT32_MAX},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(read_decimal(text), expected) << text;
}

// What the reader makes of a line, as one text.
std::string read(const std::string& line) {
    AppletHeader h;
    const HeaderStatus status = read_applet_header(line, &h);
    if (status != HeaderStatus::ok)
        return status == HeaderStatus::not_an_applet ? "not an applet" : "unsupported version";
    if (h.unsupported) return "unsupported format";
    std::string out = std::to_string(h.format) + " " + std::to_string(h.header_version) + " run " +
                      h.run.name + ":" + std::to_string(h.run.version) + ", needs";
    for (const auto& r : h.requirements) out += " " + r.name + ":" + std::to_string(r.version);
    return out;
}

TEST(ReadAppletHeader, Table) {
    const std::pair<std::string, std::string> cases[] = {
        // The older forms name the interpreter and ignore any attributes.
        {"Stellarix3D: 1 3", "1 0 run interpreter1:3, needs interpreter1:3"},
        {"Stellarix3D: 2 4 x RUN=viewer:9", "2 0 run interpreter1:4, needs interpreter1:4"},
        {"Stellarix3D: 1 12 x RUN=viewer:4 REQ=pixmill:2 REQ=\"sound kit:1\"",
         "1 12 run viewer:4, needs pixmill:2 sound kit:1 viewer:4"},
        // A later RUN replaces the earlier one; names and spaces around "=" as
        // the attribute syntax allows.
        {"Stellarix3D: 1 12 x RUN=a:1 REQ=b:2 RUN=c:3", "1 12 run c:3, needs b:2 c:3"},
        {"Stellarix3D: 1 12 x \"Req\" =  \"a b:3\" run = v", "1 12 run v:0, needs a b:3 v:0"},
        // Unknown and valueless attributes are skipped.
        {"Stellarix3D: 1 12 x FLAG \"\" RUN=v:2 W=\"q r\" Z=", "1 12 run v:2, needs v:2"},
        {"Stellarix3D: 1 12 x REQ=\"\" REQ=a: REQ=b:c:3 REQ=:7 RUN=v:x",
         "1 12 run v:0, needs :0 a:0 b:0 :7 v:0"},
        {"Stellarix3D: 1 99999999999 x RUN=v:99999999999",
         "1 2147483647 run v:2147483647, needs v:2147483647"},
        {"Stellarix3D: 7 12", "unsupported format"},
        {"stellarix3d: 1 3", "not an applet"},
        {" Stellarix3D: 1 3", "not an applet"},
        {"Stellarix3D: 1", "not an applet"},
        {"Stellarix3D: 1 12 ", "not an applet"},  // an empty rest is no fourth field
        {"Stellarix3D: 1 12 x \"RUN=v:1", "not an applet"},
        {"Stellarix3D: 1 12 x RUN=\"v:1", "not an applet"},
        {"Stellarix3D: 1 5", "unsupported version"},
        {"Stellarix3D: 1 9 x RUN=v:1", "unsupported version"},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(read(line), expected) << line;
}

}  // namespace
}  // namespace sx
