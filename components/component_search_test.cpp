#include "components/component_search.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "components/testing/component_env.h"

namespace sx {
namespace {

using testing::ComponentEnvironment;

// The records of an index text, one "NAME version key=path..." per record,
// read with one record object as callers do.
std::string read_records(const std::string& content) {
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    std::fwrite(content.data(), 1, content.size(), stream);
    std::rewind(stream);
    IndexReader reader(stream);
    std::string text;
    IndexRecord record;
    while (reader.read_component(&record)) {
        text += record.name + " " + std::to_string(record.version);
        for (const auto& [key, path] : record.files) text += " " + key + "=" + path;
        text += "|";
    }
    std::fclose(stream);
    return text;
}

constexpr char kBinary[] = "\0\xff\x01\ncomponent=z\0z\nversion=\xfe\ncomponentend\n";

TEST(IndexFormat, Records) {
    const std::pair<std::string, std::string> cases[] = {
        {"component = interpreter1\nversion = 3\ninstalled_local = run;player\\viewer.exe\n"
         "componentend\n",
         "INTERPRETER1 3 run=player\\viewer.exe|"},
        // Keys in any case, CR LF, blanks and junk lines.
        {"\r\n  junk line\r\nCOMPONENT=Mixed\r\n\tVersion\t=\t12 \r\nInstalled_Local = Key ; "
         "sub\\f.dll \r\nother = 1\r\nComponentEnd\r\n",
         "MIXED 12 Key=sub\\f.dll|"},
        // No version gives 0, the later one wins; the next record starts afresh.
        {"component=a\ncomponentend\ncomponent=b\nversion=1\nversion=7\ninstalled_local=k;f\n"
         "componentend\ncomponent=c\nversion=x9\ncomponentend\n",
         "A 0|B 7 k=f|C 0|"},
        {"component=f\ninstalled_local=viewer.exe\ninstalled_local=;lead\ninstalled_local=trail;\n"
         "installed_local=k;first\ninstalled_local=k;second\ninstalled_local=a;b;c\ncomponentend\n",
         "F 0 viewer.exe=viewer.exe k=first a=b;c|"},
        // An empty name starts no record; a nested one is ignored; an
        // unfinished record and an unterminated last line are dropped.
        {"component=\nversion=5\ncomponentend\ncomponent = x\ncomponent = y\nversion=2\n"
         "componentend\ncomponent=b\nversion=1\ncomponentend",
         "X 2|"},
        {"component=a=b\rversion=4\rcomponentend\r", "A=B 4|"},
        {std::string(kBinary, sizeof kBinary - 1), std::string("Z\0Z 0|", 6)},
    };
    for (const auto& [content, expected] : cases) EXPECT_EQ(read_records(content), expected);
}

TEST(IndexFormat, HugeLinesAndNoLineBreaks) {
    std::string long_line(3 << 20, 'a');
    EXPECT_EQ(read_records(long_line), "");
    // An overlong line is dropped; the records around it survive.
    EXPECT_EQ(read_records("component=a\n" + long_line + "\ncomponentend\n"), "A 0|");
    EXPECT_EQ(read_records("component=" + long_line + "\ncomponentend\n"), "");
}

std::string record(const std::string& name, int version, const std::string& files = "") {
    return "component=" + name + "\nversion=" + std::to_string(version) + "\n" + files +
           "componentend\n";
}

// The version of a component and the path of its "run" file.
std::string found(const char* component) {
    char buffer[1024];
    const int size = find_component_file(component, "run", buffer, sizeof buffer);
    return std::to_string(component_version(component)) + " " + (size > 0 ? buffer : "<none>");
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

    const std::string sys = env.system_components() + "bin\\p.exe";
    const std::string usr = env.user_components() + "bin\\p.exe";
    const std::pair<const char*, std::string> cases[] = {
        {"equal", "2 " + sys},
        {"EQUAL", "2 " + sys},
        {"userwins", "3 " + usr},
        {"sysonly", "1 " + sys},
        {"useronly", "5 " + usr},
        {"listwins", "4 " + extra1 + "bin\\p.exe"},  // extra2 is on the unterminated line
        {"samefile", "1 " + sys},
        {"upgraded", "2 " + env.system_components() + "newer.exe"},
        {"absent", "0 <none>"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(found(name), expected) << name;

    // With the line terminated, the higher version there replaces the entry
    // with all of its files (it has none).
    ASSERT_TRUE(env.write_search_list(extra1 + "\n" + extra2 + "\n"));
    EXPECT_EQ(found("listwins"), "9 <none>");
}

TEST(ComponentSearch, FindComponentFileSizeProtocol) {
    ComponentEnvironment env;
    ASSERT_TRUE(env.write_index(
        env.system_components(),
        record("player", 1, "installed_local=run;viewer.exe\ninstalled_local=RUN;other.exe\n")));
    const std::string expected = env.system_components() + "viewer.exe";
    const int needed = static_cast<int>(expected.size()) + 1;

    EXPECT_EQ(find_component_file("PLAYER", "run", nullptr, 0), needed);
    // Too small: the size needed, and nothing written.
    std::vector<char> buffer(needed + 8, '#');
    EXPECT_EQ(find_component_file("player", "run", buffer.data(), needed - 1), needed);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(needed + 8, '#'));
    EXPECT_EQ(find_component_file("player", "run", buffer.data(), needed), needed);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + needed + 1), expected + '\0' + '#');

    // Keys are exact; unknown names and keys give 0 and write nothing.
    char small[4] = {'a', 'b', 'c', 0};
    EXPECT_EQ(find_component_file("player", "Run", small, 4), 0);
    EXPECT_EQ(find_component_file("nobody", "run", small, 4), 0);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(find_component_file("player", "RUN", nullptr, 0),
              static_cast<int>((env.system_components() + "other.exe").size()) + 1);
}

}  // namespace
}  // namespace sx
