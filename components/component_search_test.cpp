#include "components/component_search.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "components/testing/component_env.h"

namespace sx {
namespace {

using testing::ComponentEnvironment;

std::vector<IndexRecord> read_records(const std::string& content) {
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    std::fwrite(content.data(), 1, content.size(), stream);
    std::rewind(stream);
    IndexReader reader(stream);
    std::vector<IndexRecord> records;
    IndexRecord record;
    while (reader.read_component(&record)) records.push_back(record);
    std::fclose(stream);
    return records;
}

using Files = std::vector<std::pair<std::string, std::string>>;

constexpr char kBinary[] = "\0\xff\x01\ncomponent=z\0z\nversion=\xfe\ncomponentend\n";

TEST(IndexFormat, Records) {
    struct Case {
        const char* what;
        std::string content;
        std::vector<IndexRecord> expected;
    };
    const Case cases[] = {
        {"plain record",
         "component = interpreter1\nversion = 3\ninstalled_local = "
         "run;player\\viewer.exe\ncomponentend\n",
         {{"INTERPRETER1", 3, Files{{"run", "player\\viewer.exe"}}}}},
        {"keys in any case, CR LF, blanks and junk lines",
         "\r\n  junk line\r\nCOMPONENT=Mixed\r\n\tVersion\t=\t12 \r\nInstalled_Local = Key ; "
         "sub\\f.dll \r\nother = 1\r\nComponentEnd\r\n",
         {{"MIXED", 12, Files{{"Key", "sub\\f.dll"}}}}},
        {"no version gives 0; later version wins; non-number is 0",
         "component=a\ncomponentend\ncomponent=b\nversion=1\nversion=7\ncomponentend\ncomponent="
         "c\nversion=x9\ncomponentend\n",
         {{"A", 0, {}}, {"B", 7, {}}, {"C", 0, {}}}},
        {"installed_local forms",
         "component=f\ninstalled_local=viewer.exe\ninstalled_local=;lead\ninstalled_local=trail;\n"
         "installed_local=k;first\ninstalled_local=k;second\ninstalled_local=a;b;c\ncomponentend\n",
         {{"F", 0, Files{{"viewer.exe", "viewer.exe"}, {"k", "first"}, {"a", "b;c"}}}}},
        {"empty component value does not start a record; nested component ignored",
         "component=\nversion=5\ncomponentend\ncomponent = x\ncomponent = "
         "y\nversion=2\ncomponentend\n",
         {{"X", 2, {}}}},
        {"unfinished record dropped",
         "component=a\ncomponentend\ncomponent=b\nversion=1\n",
         {{"A", 0, {}}}},
        {"last line without a line break is not read", "component=a\nversion=1\ncomponentend", {}},
        {"CR alone ends lines", "component=a\rversion=4\rcomponentend\r", {{"A", 4, {}}}},
        {"value keeps case, key lower-cased",
         "Component=abc\nINSTALLED_LOCAL=RUN;X.EXE\ncomponentend\n",
         {{"ABC", 0, Files{{"RUN", "X.EXE"}}}}},
        {"equals inside value", "component=a=b\ncomponentend\n", {{"A=B", 0, {}}}},
        {"NUL bytes and binary",
         std::string(kBinary, sizeof kBinary - 1),
         {{std::string("Z\0Z", 3), 0, {}}}},
    };
    for (const Case& c : cases) {
        std::vector<IndexRecord> got = read_records(c.content);
        ASSERT_EQ(got.size(), c.expected.size()) << c.what;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].name, c.expected[i].name) << c.what;
            EXPECT_EQ(got[i].version, c.expected[i].version) << c.what;
            EXPECT_EQ(got[i].files, c.expected[i].files) << c.what;
        }
    }
}

TEST(IndexFormat, HugeLinesAndNoLineBreaks) {
    std::string long_line(3 << 20, 'a');
    EXPECT_TRUE(read_records(long_line).empty());
    // An overlong line is dropped; the records around it survive.
    EXPECT_EQ(read_records("component=a\n" + long_line + "\ncomponentend\n").size(), 1u);
    EXPECT_TRUE(read_records("component=" + long_line + "\ncomponentend\n").empty());
}

std::string record(const std::string& name, int version, const std::string& files = "") {
    return "component=" + name + "\nversion=" + std::to_string(version) + "\n" + files +
           "componentend\n";
}

std::string run_path(const char* component) {
    char buffer[1024];
    int size = find_component_file(component, "run", buffer, sizeof buffer);
    return size > 0 ? std::string(buffer) : std::string("<none>");
}

TEST(ComponentSearch, TieBreaksAcrossDirectories) {
    ComponentEnvironment env;
    const std::string extra1 = env.scratch() / "extra1\\";
    const std::string extra2 = env.scratch() / "extra2\\";
    const std::string f = "installed_local=run;bin\\p.exe\n";
    ASSERT_TRUE(env.write_index(
        env.system_components(),
        record("equal", 2, f) + record("userwins", 2, f) + record("sysonly", 1, f) +
            record("listwins", 1, f) + record("samefile", 1, f) +
            record("samefile", 1, "installed_local=run;second.exe\n") + record("upgraded", 1, f) +
            record("upgraded", 2, "installed_local=run;newer.exe\n")));
    ASSERT_TRUE(env.write_index(
        env.user_components(),
        record("Equal", 2, f) + record("UserWins", 3, f) + record("useronly", 5, f)));
    ASSERT_TRUE(env.write_index(extra1, record("listwins", 4, f) + record("equal", 2, f)));
    ASSERT_TRUE(env.write_index(extra2, record("listwins", 9, "")));
    // Lines are trimmed; a last line without a line break is not used.
    ASSERT_TRUE(env.write_search_list("  " + extra1 + " \r\n" + extra2));

    struct Case {
        const char* name;
        int version;
        std::string run;
    };
    const std::string sys = env.system_components();
    const std::string usr = env.user_components();
    const Case cases[] = {
        {"equal", 2, sys + "bin\\p.exe"},
        {"EQUAL", 2, sys + "bin\\p.exe"},
        {"userwins", 3, usr + "bin\\p.exe"},
        {"sysonly", 1, sys + "bin\\p.exe"},
        {"useronly", 5, usr + "bin\\p.exe"},
        {"listwins", 4, extra1 + "bin\\p.exe"},  // extra2 is on the unterminated line
        {"samefile", 1, sys + "bin\\p.exe"},
        {"upgraded", 2, sys + "newer.exe"},
        {"absent", 0, "<none>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(component_version(c.name), c.version) << c.name;
        EXPECT_EQ(run_path(c.name), c.run) << c.name;
    }

    // With the line terminated, the higher version there replaces the entry
    // with all of its files (it has none).
    ASSERT_TRUE(env.write_search_list(extra1 + "\n" + extra2 + "\n"));
    EXPECT_EQ(component_version("listwins"), 9);
    EXPECT_EQ(run_path("listwins"), "<none>");
}

TEST(ComponentSearch, FindComponentFileSizeProtocol) {
    ComponentEnvironment env;
    ASSERT_TRUE(env.write_index(
        env.system_components(),
        record("player", 1, "installed_local=run;viewer.exe\ninstalled_local=RUN;other.exe\n")));
    const std::string expected = env.system_components() + "viewer.exe";
    const int needed = static_cast<int>(expected.size()) + 1;

    EXPECT_EQ(find_component_file("player", "run", nullptr, 0), needed);
    EXPECT_EQ(find_component_file("PLAYER", "run", nullptr, 1000), needed);
    std::vector<char> buffer(needed + 8, '#');
    EXPECT_EQ(find_component_file("player", "run", buffer.data(), needed - 1), needed);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()),
              std::string(needed + 8, '#'));  // untouched
    EXPECT_EQ(find_component_file("player", "run", buffer.data(), needed), needed);
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_EQ(buffer[needed], '#');  // nothing beyond the zero

    // Keys are exact; unknown names and keys give 0 and write nothing.
    EXPECT_EQ(run_path("player"), expected);
    char small[4] = {'a', 'b', 'c', 0};
    EXPECT_EQ(find_component_file("player", "Run", small, 4), 0);
    EXPECT_EQ(find_component_file("nobody", "run", small, 4), 0);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(find_component_file("player", "RUN", nullptr, 0),
              static_cast<int>((env.system_components() + "other.exe").size()) + 1);
}

}  // namespace
}  // namespace sx
