#include "components/component_search.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "components/file_lock.h"
#include "components/testing/component_env.h"
#include "platform/testing/virtual_clock.h"

namespace sx {
namespace {

using testing::ComponentEnvironment;
using testing::ScratchDir;
using testing::VirtualClock;

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

    // Terminated, its higher version replaces the entry and all its files.
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
    EXPECT_EQ(find_component_file("player", "RUN", nullptr, 0), needed - 1);  // other.exe
    // Too small: the size needed, and nothing written.
    std::string buffer(needed + 8, '#');
    EXPECT_EQ(find_component_file("player", "run", buffer.data(), needed - 1), needed);
    EXPECT_EQ(buffer, std::string(needed + 8, '#'));
    // Keys are exact; unknown names and keys give 0 and write nothing.
    EXPECT_EQ(find_component_file("player", "Run", buffer.data(), needed), 0);
    EXPECT_EQ(find_component_file("nobody", "run", buffer.data(), needed), 0);
    EXPECT_EQ(buffer, std::string(needed + 8, '#'));
    EXPECT_EQ(find_component_file("player", "run", buffer.data(), needed), needed);
    EXPECT_EQ(buffer.substr(0, needed + 1), expected + '\0' + '#');
}

// The index lock is tried every 100 ms until the time-out.
TEST(LockSchedule, AttemptsEveryHundredMillisecondsUntilTheTimeOut) {
    ScratchDir scratch;
    // Time-out, clock at the start, attempts refused (-1: all), attempts made.
    const std::tuple<unsigned, uint32_t, int, int> cases[] = {
        {0, 1000, -1, 1},     {1, 1000, -1, 1},          {100, 1000, -1, 1}, {101, 1000, -1, 2},
        {1000, 1000, -1, 10}, {250, 0xFFFFFFA0u, -1, 3},  // across the counter's wrap
        {250, 5, 2, 3},                                   // free at the third attempt: taken
    };
    for (const auto& [timeout, start, failures, attempts] : cases) {
        VirtualClock clock(start);
        clock.fail_lock(".lock").failures = failures;
        ScopedPlatform use(&clock);
        EXPECT_EQ(bool(acquire_lock(FilePath(scratch / "compindx.dat"), timeout)), failures >= 0);
        EXPECT_EQ(clock.calls(Call::open_lock_file), attempts) << timeout;
        for (uint32_t sleep : clock.sleeps()) EXPECT_EQ(sleep, 100u);
    }
}

TEST(ComponentSearchFaults, AnUnreadableIndexOrLockStillLeavesTheOthers) {
    ComponentEnvironment env;
    ASSERT_TRUE(env.write_index(env.system_components(), "component=a\nversion=1\ncomponentend\n"));
    ASSERT_TRUE(env.write_index(env.user_components(), "component=b\nversion=2\ncomponentend\n"));
    VirtualClock clock(0);
    ScopedPlatform use(&clock);
    // The user index cannot be opened: only the system component is known.
    clock.fail_open_file(env.user_components() + "compindx.dat");
    EXPECT_EQ(component_version("a"), 1);
    EXPECT_EQ(component_version("b"), 0);
    clock.clear_rules();
    // No lock can be had anywhere: each index is read anyway after its wait.
    clock.fail_lock(".lock");
    EXPECT_EQ(component_version("b"), 2);
    EXPECT_EQ(clock.sleeps().size(), 2u * 3u);  // two indexes, three waits each
}

}  // namespace
}  // namespace sx
