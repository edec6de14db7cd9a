#include "bytecode/ext_bytecode_header.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "launcher/error_catalogue.h"
#include "platform/testing/message_box_recorder.h"

namespace sx {
namespace {

using Reqs = std::vector<ComponentRequirement>;
using testing::MessageBoxRecorder;

TEST(ReadDecimal, BehavesLikeAtolOnThirtyTwoBits) {
    const std::pair<std::string, int32_t> cases[] = {
        {"42", 42},
        {"  42x", 42},
        {"-7", -7},
        {"+3", 3},
        {"abc", 0},
        {"", 0},
        {"- 3", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"99999999999999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"0012", 12},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(read_decimal(text), expected) << text;
}

TEST(ReadAppletHeader, AcceptedHeaders) {
    const struct {
        std::string rest;  // after "Stellarix3D: "
        int format;
        int32_t header_version;
        ComponentRequirement run;
        Reqs requirements;
    } cases[] = {
        // The older forms name the interpreter and ignore any attributes.
        {"1 3", 1, 0, {"interpreter1", 3}, {{"interpreter1", 3}}},
        {"2 4 x RUN=viewer:9", 2, 0, {"interpreter1", 4}, {{"interpreter1", 4}}},
        {"1 12 x RUN=viewer:4 REQ=pixmill:2 REQ=\"sound kit:1\"",
         1,
         12,
         {"viewer", 4},
         {{"pixmill", 2}, {"sound kit", 1}, {"viewer", 4}}},
        {"1 12 x run=viewer", 1, 12, {"viewer", 0}, {{"viewer", 0}}},
        {"1 10 x", 1, 10, {"", 0}, {{"", 0}}},
        // A later RUN replaces the earlier one.
        {"1 12 x RUN=a:1 REQ=b:2 RUN=c:3", 1, 12, {"c", 3}, {{"b", 2}, {"c", 3}}},
        {"1 12 x \"Req\" =  \"a b:3\" Run = v:5", 1, 12, {"v", 5}, {{"a b", 3}, {"v", 5}}},
        // Unknown and valueless attributes are skipped.
        {"1 12 x FLAG \"\" RUN=v:2 W=\"q r\" Z=", 1, 12, {"v", 2}, {{"v", 2}}},
        {"1 12 x REQ=\"\" REQ=a: REQ=b:c:3 REQ=:7 RUN=v:x",
         1,
         12,
         {"v", 0},
         {{"", 0}, {"a", 0}, {"b", 0}, {"", 7}, {"v", 0}}},
        {"1 99999999999 x RUN=v:99999999999", 1, INT32_MAX, {"v", INT32_MAX}, {{"v", INT32_MAX}}},
    };
    for (const auto& c : cases) {
        const std::string line = "Stellarix3D: " + c.rest;
        AppletHeader header;
        ASSERT_EQ(read_applet_header(line, &header), HeaderStatus::ok) << line;
        EXPECT_FALSE(header.unsupported) << line;
        EXPECT_EQ(header.format, c.format) << line;
        EXPECT_EQ(header.header_version, c.header_version) << line;
        EXPECT_EQ(header.run, c.run) << line;
        EXPECT_EQ(header.requirements, c.requirements) << line;
    }
}

TEST(ReadAppletHeader, RefusedHeaders) {
    const std::pair<std::string, HeaderStatus> cases[] = {
        {"", HeaderStatus::not_an_applet},
        {"stellarix3d: 1 3", HeaderStatus::not_an_applet},
        {"Stellarix3D 1 3", HeaderStatus::not_an_applet},
        {" Stellarix3D: 1 3", HeaderStatus::not_an_applet},
        {"Stellarix3D:", HeaderStatus::not_an_applet},
        {"Stellarix3D: 1", HeaderStatus::not_an_applet},
        {"Stellarix3D: 1 12", HeaderStatus::not_an_applet},   // no fourth field
        {"Stellarix3D: 1 12 ", HeaderStatus::not_an_applet},  // an empty rest is no field
        {"Stellarix3D: 1 12 x \"RUN=v:1", HeaderStatus::not_an_applet},
        {"Stellarix3D: 1 12 x RUN=\"v:1", HeaderStatus::not_an_applet},
        {"Stellarix3D: 1 7 x", HeaderStatus::unsupported_version},
        {"Stellarix3D: 1 5", HeaderStatus::unsupported_version},
        {"Stellarix3D: 1 9 x RUN=v:1", HeaderStatus::unsupported_version},
    };
    for (const auto& [line, status] : cases) {
        AppletHeader header;
        EXPECT_EQ(read_applet_header(line, &header), status) << line;
    }
}

TEST(ParseAppletHeader, GoodHeadersReturnWithoutAMessage) {
    MessageBoxRecorder recorder;
    AppletHeader header;
    EXPECT_TRUE(parse_applet_header("Stellarix3D: 1 12 x RUN=viewer:4", &header));
    EXPECT_TRUE(parse_applet_header("Stellarix3D: 7 12", &header));
    EXPECT_TRUE(header.unsupported);
    EXPECT_TRUE(recorder.boxes().empty());
}

#if defined(_WIN32)
constexpr int kExitMinusOne = -1;
#else
constexpr int kExitMinusOne = 255;
#endif

// The reader's report ends the program; the shutdown callback shows which
// box was up at that moment.
void print_last_caption(void* recorder) {
    const auto& boxes = static_cast<MessageBoxRecorder*>(recorder)->boxes();
    if (!boxes.empty()) std::fputs(boxes.back().caption.c_str(), stderr);
}

void parse_with_recorder(const char* line) {
    MessageBoxRecorder recorder;
    register_shutdown_callback(print_last_caption, &recorder);
    AppletHeader header;
    parse_applet_header(line, &header);
}

TEST(ParseAppletHeaderDeathTest, BadHeadersEndTheProgramThroughTheCatalogue) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(parse_with_recorder("stellarix3d: 1 3"), ::testing::ExitedWithCode(kExitMinusOne),
                "^Stellarix 3D Player: Not an applet file$");
    EXPECT_EXIT(parse_with_recorder("Stellarix3D: 1 7 x"), ::testing::ExitedWithCode(kExitMinusOne),
                "^Stellarix 3D Player: Unsupported file version number$");
}

}  // namespace
}  // namespace sx
