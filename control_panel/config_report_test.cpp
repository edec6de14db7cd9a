#include "control_panel/config_report.h"

#include <gtest/gtest.h>

#include "components/testing/component_env.h"
#include "components/testing/registry_guard.h"
#include "control_panel/cpl_test_support.h"

namespace sx::cpl {
namespace {

class ConfigReport : public testing::PlayerKeyTest {
protected:
    std::string report(const OsVersion& version) {
        std::string text = "left from the last press";
        build_config_report(version, &text);
        return text;
    }
    sx::testing::ComponentEnvironment env_;  // index folders of the test's own
    const std::string system_index_ = env_.system_components() + "compindx.dat";
    const std::string user_index_ = env_.user_components() + "compindx.dat";
};

TEST_F(ConfigReport, WholeTextOn98WithoutIndexFiles) {
    testing::store_value(kLastRasterizerValue, kRegSz, "t3d");
    testing::store_value(kLastVideoCardValue, kRegSz, "Card 9");
    EXPECT_EQ(report({4, 10, 0, 1, ""}),
              "Windows 95/98, Version 4.10\r\n"
              "Last Used Renderer: Stellarix Software Rasterizer\r\n"
              "Video Card: Card 9\r\n\r\n" +
                  system_index_ + "\r\nfile does not exist\r\n\r\n\r\n" + user_index_ +
                  "\r\nfile does not exist\r\n\r\n\r\n");
}

TEST_F(ConfigReport, ServicePackOnNtOnly) {
    testing::RegistryValueGuard pack(kHkeyLocalMachine, kWindowsVersionKey, kServicePackValue);
    ASSERT_TRUE(pack.set(std::string("\0\6\7\0", 4), kRegDword));  // only the low word counts
    EXPECT_EQ(report({4, 0, 1381, 2, ""}).rfind("Windows NT/2000, Version 4.0 SP1536\r\n", 0), 0u);
    EXPECT_EQ(report({3, 11, 0, 0, ""}).rfind("Windows ????, Version 3.11\r\n", 0), 0u);
    ASSERT_TRUE(pack.remove());
    EXPECT_EQ(report({5, 0, 2195, 2, ""}).rfind("Windows NT/2000, Version 5.0\r\n", 0), 0u);
}

TEST_F(ConfigReport, IndexFileLines) {
    const struct {
        const char* content;
        const char* lines;
    } cases[] = {
        {"a 1\n\rb 2\n\r", "a 1\r\nb 2\r\n"},
        {"a 1\r\nb 2\r\nlast", "a 1\r\nb 2\r\n"},
        {"a\r\rb\n\nc\r", "a\r\n\r\nb\r\n\r\nc\r\n"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(env_.write_index(env_.user_components(), c.content));
        const std::string tail = user_index_ + "\r\n" + c.lines + "\r\n\r\n";
        const std::string text = report({4, 10, 0, 1, ""});
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), tail.size())), tail);
    }
}

}  // namespace
}  // namespace sx::cpl
