#include "control_panel/config_report.h"

#include <gtest/gtest.h>

#include "components/data_directories.h"
#include "control_panel/cpl_test_support.h"
#include "platform/testing/test_support.h"

namespace sx::cpl {
namespace {

// The two index files, put aside during a test and restored after it.
class ConfigReport : public test::PlayerKeyTest {
protected:
    void SetUp() override {
        test::PlayerKeyTest::SetUp();
        reset_component_directories();
        register_component_directories();
        for (const char* name : {"Components-System", "Components-User"}) {
            FilePath dir;
            ASSERT_TRUE(find_component_directory(name, &dir)) << name;
            ASSERT_TRUE(dir.ensure_directory()) << dir.text();
            dir.append_file("compindx.dat");
            Saved saved{dir.text(), false, {}};
            saved.existed = sx::test::read_file(saved.path, &saved.content);
            FilePath(saved.path).delete_file();
            saved_.push_back(saved);
        }
    }
    void TearDown() override {
        for (const Saved& saved : saved_) {
            FilePath(saved.path).delete_file();
            if (saved.existed) sx::test::write_file(saved.path, saved.content);
        }
        test::PlayerKeyTest::TearDown();
    }
    const std::string& index_path(int which) const { return saved_[which].path; }

    struct Saved {
        std::string path;
        bool existed;
        std::string content;
    };
    std::vector<Saved> saved_;
};

std::string missing_section(const std::string& path) {
    return path + "\r\nfile does not exist\r\n\r\n\r\n";
}

TEST_F(ConfigReport, VersionLines) {
    RegKey key = 0;
    const bool can_write_version = platform().reg_create_key(kHkeyLocalMachine, kWindowsVersionKey,
                                                             &key, nullptr) == kErrorSuccess;
    ASSERT_TRUE(can_write_version);
    uint32_t old_value = 0, old_type = 0, old_size = sizeof old_value;
    const bool had_value = platform().reg_query_value(key, kServicePackValue, &old_type, &old_value,
                                                      &old_size) == kErrorSuccess;
    const struct {
        OsVersion version;
        bool service_pack;
        const char* first_line;
    } cases[] = {
        {{4, 10, 0, 1, ""}, true, "Windows 95/98, Version 4.10"},
        {{4, 0, 1381, 2, ""}, true, "Windows NT/2000, Version 4.0 SP1536"},
        {{5, 0, 2195, 2, ""}, false, "Windows NT/2000, Version 5.0"},
        {{3, 11, 0, 0, ""}, true, "Windows ????, Version 3.11"},
    };
    for (const auto& c : cases) {
        if (c.service_pack) {
            const uint32_t pack = 0x00070600;  // only the low word is shown
            platform().reg_set_value(key, kServicePackValue, kRegDword, &pack, sizeof pack);
        } else {
            platform().reg_delete_value(key, kServicePackValue);
        }
        std::string text;
        build_config_report(c.version, &text);
        EXPECT_EQ(text.substr(0, text.find("\r\n")), c.first_line);
    }
    if (had_value)
        platform().reg_set_value(key, kServicePackValue, old_type, &old_value, old_size);
    else
        platform().reg_delete_value(key, kServicePackValue);
    platform().reg_close_key(key);
}

TEST_F(ConfigReport, WholeTextWithoutIndexFiles) {
    test::store_value(kLastRasterizerValue, kRegSz, "t3d");
    test::store_value(kLastVideoCardValue, kRegSz, "Card 9");
    std::string text = "left over from the last press";
    build_config_report({4, 10, 0, 1, ""}, &text);
    EXPECT_EQ(text,
              "Windows 95/98, Version 4.10\r\n"
              "Last Used Renderer: Stellarix Software Rasterizer\r\n"
              "Video Card: Card 9\r\n\r\n" +
                  missing_section(index_path(0)) + missing_section(index_path(1)));
}

TEST_F(ConfigReport, IndexFileLines) {
    const struct {
        std::string content;
        std::string lines;
    } cases[] = {
        {"a 1\n\rb 2\n\r", "a 1\r\nb 2\r\n"},
        {"a 1\r\nb 2\r\nlast", "a 1\r\nb 2\r\n"},
        {"a\r\rb\n\nc\r", "a\r\n\r\nb\r\n\r\nc\r\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(sx::test::write_file(index_path(1), c.content));
        std::string text;
        build_config_report({4, 10, 0, 1, ""}, &text);
        const std::string tail =
            missing_section(index_path(0)) + index_path(1) + "\r\n" + c.lines + "\r\n\r\n";
        ASSERT_GE(text.size(), tail.size());
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
        EXPECT_NE(text.find("Last Used Renderer: N/A\r\nVideo Card: N/A\r\n\r\n"),
                  std::string::npos);
    }
}

TEST_F(ConfigReport, AnUnregisteredDirectoryStillGivesAPathLineAndAState) {
    reset_component_directories();
    std::string text;
    build_config_report({4, 10, 0, 1, ""}, &text);
    EXPECT_NE(text.find("Components-System: no directory registered\r\nfile does not exist\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Components-User: no directory registered\r\nfile does not exist\r\n"),
              std::string::npos);
    register_component_directories();
}

TEST(ConfigReportLayout, KeepsMarginsAndCentresTheButtons) {
    const ControlRect edit{9, 11, 500, 300}, ok{186, 360, 97, 24}, copy{298, 360, 97, 24};
    const struct {
        int width, height;
        ReportLayout expected;
    } cases[] = {
        {582, 400, {{9, 11, 564, 343}, {189, 365, 97, 24}, {295, 365, 97, 24}}},
        {583, 401, {{9, 11, 565, 344}, {190, 366, 97, 24}, {296, 366, 97, 24}}},
        {100, 50, {{9, 11, 82, -7}, {-52, 15, 97, 24}, {54, 15, 97, 24}}},
    };
    for (const auto& c : cases) {
        const ReportLayout got = layout_config_report(c.width, c.height, edit, ok, copy);
        EXPECT_EQ(got.edit, c.expected.edit) << c.width;
        EXPECT_EQ(got.ok, c.expected.ok) << c.width;
        EXPECT_EQ(got.copy, c.expected.copy) << c.width;
        // The gap between the two buttons is the left margin.
        EXPECT_EQ(got.copy.left - (got.ok.left + got.ok.width), edit.left);
    }
}

}  // namespace
}  // namespace sx::cpl
