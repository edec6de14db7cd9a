#include "components/settings_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "components/settings_encoding.h"
#include "components/testing/component_env.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"

namespace sx {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

TEST(SettingsEncoding, EveryByteEncodesAsItselfOrUpperHexAndDecodesBack) {
    // Against the rule written out independently.
    const std::string kept = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789*-._";
    std::string all, expected;
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", b);
        all += c;
        expected += b != 0 && kept.find(c) != std::string::npos ? std::string(1, c) : escape;
    }
    EXPECT_EQ(percent_encode(all), expected);
    EXPECT_EQ(percent_decode(expected), all);
    EXPECT_EQ(percent_decode(form_encode(all)).size(), all.size());
}

TEST(SettingsEncoding, DecodingAndKeyRule) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:%5Cx%41%e9%E9", "C:\\xA\xE9\xE9"},
        {"%00z", std::string("\0z", 2)},
        {"abc%4", "abc"},    // a cut-off escape ends the text
        {"%4%41", "%4%41"},  // "4%" is not hexadecimal: kept whole
        {"%zz1 100%%41+", "%zz1 100%%41+"},
    };
    for (const auto& [text, decoded] : cases) EXPECT_EQ(percent_decode(text), decoded) << text;
    for (const char* key : {"a/b.c-d_e f", "Stereo/Eye2", " "})
        EXPECT_TRUE(valid_setting_key(key)) << key;
    for (const std::string key : {"", "/a", "a/", "a//b", "a=b", "a\\b", "a\tb", "caf\xE9"})
        EXPECT_FALSE(valid_setting_key(key)) << key;
    EXPECT_FALSE(valid_setting_key(std::string("a\0b", 3)));
    EXPECT_EQ(ascii_upper("a/b.c-d_e f\xE9"), "A/B.C-D_E F\xE9");
}

SettingsMap load(const std::string& content) {
    ScratchDir scratch;
    EXPECT_TRUE(write_file(scratch / "SXRegistry.dat", content));
    SettingsFile file{FilePath(scratch / "SXRegistry.dat")};
    EXPECT_TRUE(file.open_settings(false));
    return file.values();
}

TEST(SettingsFileFormat, LinesCommentsAndFirstOccurrence) {
    const std::pair<std::string, SettingsMap> cases[] = {
        {"# comment\n\nBase%20Dir = C:%5Cx\nbase dir=second\n", {{"BASE DIR", "C:\\x"}}},
        {" \t \n   # x=1\nnoequals\nk = a=b \n%61b=x\n", {{"K", "a=b"}, {"AB", "x"}}},
        // Keys are checked once decoded.
        {"/a=1\na%3Db=1\n%2Fa=1\na%5Cb=1\n a/b.c-d_e f = ok \n", {{"A/B.C-D_E F", "ok"}}},
    };
    for (const auto& [content, expected] : cases) EXPECT_EQ(load(content), expected) << content;
}

TEST(SettingsFile, ReadOnlyStoreAndBooleans) {
    ScratchDir scratch;
    const std::string path = scratch / "SXRegistry.dat";
    const std::string content = "a=yes\nb=On\nc=1\nd=no\ne=off\nf=0\ng=2\nh=T\ni=n\nj=\nk= TRUE \n";
    ASSERT_TRUE(write_file(path, content));
    SettingsFile file{FilePath(path)};
    ASSERT_TRUE(file.open_settings(false));
    EXPECT_FALSE(file.writable() || file.holds_lock());
    // Each key read with the defaults false and true; "z" is missing.
    std::string got;
    for (const char* key : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "z"}) {
        got += file.get_setting_bool(key, false) ? '1' : '0';
        got += file.get_setting_bool(key, true) ? "1 " : "0 ";
    }
    EXPECT_EQ(got, "11 11 11 00 00 00 01 11 00 01 11 01 ");
    EXPECT_EQ(file.get_setting_value("B"), "On");
    EXPECT_FALSE(file.set_setting_value("a", "no") || file.set_setting_bool("a", false));
    EXPECT_TRUE(file.close_settings());
    std::string after;
    ASSERT_TRUE(read_file(path, &after));
    EXPECT_EQ(after, content);
}

TEST(SettingsFile, WritesSortedEncodedEntriesAndReadsThemBack) {
    ScratchDir scratch;
    const std::string path = scratch / "SXRegistry.dat";
    // What a writer killed half way leaves: only a held lock counts.
    ASSERT_TRUE(write_file(path + ".lock", "") && write_file(path + ".new", "STALE=1\n"));
    {
        SettingsFile file{FilePath(path)};
        ASSERT_TRUE(file.open_settings(true));
        EXPECT_TRUE(FilePath(path).exists());  // created at once
        EXPECT_TRUE(file.set_setting_value("Stereo/Enable", "x"));
        EXPECT_TRUE(file.set_setting_bool("stereo/enable", true));  // replaces
        EXPECT_TRUE(file.set_setting_value("BaseURLs/Scripts", "a b\xE9"));
        EXPECT_TRUE(file.set_setting_value("a", ""));
        EXPECT_FALSE(file.set_setting_value("bad//key", "v"));
    }
    std::string written;
    ASSERT_TRUE(read_file(path, &written));
    EXPECT_EQ(written, "A=\nBASEURLS%2FSCRIPTS=a%20b%E9\nSTEREO%2FENABLE=TRUE\n");
    EXPECT_FALSE(FilePath(path + ".new").exists());
    EXPECT_EQ(load(written).at("BASEURLS/SCRIPTS"), "a b\xE9");
}

// What a store keeps of a file it rewrites: every line it did not change,
// byte for byte, including those it could not read.
TEST(SettingsFile, RewriteKeepsEveryLineItDidNotChange) {
    const std::string huge(1100 * 1000, 'x');  // over the 1 MiB bound of a line
    struct Case {
        const char* what;
        std::string content;
        std::vector<std::pair<const char*, const char*>> sets;
        std::string expected;
    };
    const Case cases[] = {
        {"overlong line, nothing changed",
         "A=1\n" + huge + "\nProcessorUsage=2\nzz=keep\n",
         {{"ProcessorUsage", "2"}},
         "A=1\n" + huge + "\nProcessorUsage=2\nzz=keep\n"},
        {"overlong line, one value changed, one added",
         "A=1\n" + huge + "\r\nProcessorUsage=2\nzz=keep\n",
         {{"ProcessorUsage", "5"}, {"Q", "new"}},
         "A=1\n" + huge + "\r\nPROCESSORUSAGE=5\nQ=new\nzz=keep\n"},
        {"comments, breaks, duplicates and bad keys",
         "# note\r\n\n b = 2 \n\rnoequals\na//b=3\nB=second\n\nc=%zz\r",
         {{"b", "2"}, {"c", "%zz"}, {"a", "0"}},
         "# note\r\n\nA=0\n b = 2 \n\rnoequals\na//b=3\nB=second\n\nc=%zz\r"},
        {"a changed line keeps its break",
         "a=1\r\rb=2\n\rc=3",
         {{"a", "9"}, {"b", "8"}},
         "A=9\r\rB=8\n\rc=3"},
        {"last line without a break stays last and unread",
         "m=1\nz=2",
         {{"z", "9"}, {"n", "3"}},
         "m=1\nN=3\nZ=9\nz=2"},
        {"overlong last line without a break",
         "m=1\n" + huge,
         {{"n", "3"}},
         "m=1\n" + huge + "\nN=3\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        const std::string path = scratch / "SXRegistry.dat";
        ASSERT_TRUE(write_file(path, c.content));
        {
            SettingsFile file{FilePath(path)};
            ASSERT_TRUE(file.open_settings(true));
            ASSERT_TRUE(file.writable());
            for (const auto& [key, value] : c.sets) ASSERT_TRUE(file.set_setting_value(key, value));
            ASSERT_TRUE(file.close_settings());
        }
        std::string after;
        ASSERT_TRUE(read_file(path, &after));
        EXPECT_TRUE(after == c.expected)
            << after.size() << " bytes, " << c.expected.size() << " expected";
    }
    // Entries after an overlong line are read.
    EXPECT_EQ(load("A=1\n" + huge + "\nProcessorUsage=2\n").count("PROCESSORUSAGE"), 1u);
}

// A file that may not be written loads read-only, says so, and is left alone.
TEST(SettingsFile, AFileThatMayNotBeWrittenGivesAReadOnlyStore) {
    ScratchDir scratch;
    const std::string path = scratch / "SXRegistry.dat";
    ASSERT_TRUE(write_file(path, "Stereo/Enable=FALSE\n"));
    FaultyPlatform faulty;
    faulty.add_rule(FaultRule(Call::open_file, "SXRegistry.dat", "a"));
    ScopedPlatform scope(&faulty);
    SettingsFile file{FilePath(path)};
    ASSERT_TRUE(file.open_settings(true));
    EXPECT_FALSE(file.writable() || file.holds_lock());
    EXPECT_FALSE(file.get_setting_bool("Stereo/Enable", true));
    EXPECT_FALSE(file.set_setting_bool("Stereo/Enable", true));
    EXPECT_TRUE(file.close_settings());
    std::string after;
    ASSERT_TRUE(read_file(path, &after));
    EXPECT_EQ(after, "Stereo/Enable=FALSE\n");
}

// Two first writers of a missing file: the second must wait for the first to
// close, or one of them would overwrite the other's values.
TEST(SettingsFile, WriterOfANewFileKeepsTheLockUntilClosed) {
    ScratchDir scratch;
    const FilePath path(scratch / "SXRegistry.dat");
    SettingsFile first(path);
    SettingsFile second(path);
    ASSERT_TRUE(first.open_settings(true));
    EXPECT_TRUE(first.set_setting_value("first", "1"));
    EXPECT_FALSE(second.open_settings(true) || second.open_settings(false));
    ASSERT_TRUE(first.close_settings());

    ASSERT_TRUE(second.open_settings(true));
    EXPECT_TRUE(second.set_setting_value("second", "2"));
    ASSERT_TRUE(second.close_settings());
    ASSERT_TRUE(first.open_settings(false));
    EXPECT_EQ(first.values(), (SettingsMap{{"FIRST", "1"}, {"SECOND", "2"}}));
}

// A rule that fails the writing of `path` after `bytes` (the disk fills up).
FaultRule disk_full(const char* path, long bytes, int good_calls) {
    FaultRule rule(Call::open_file, path, "w");
    rule.write_limit = bytes;
    rule.good_calls = good_calls;
    return rule;
}

// A rewrite gives the new file or leaves the old one, also where the system
// has no one-step replace (Windows 95/98) and the file is rewritten in place
// behind a copy of it.
TEST(SettingsFile, RewriteGivesTheNewFileOrLeavesTheOldOne) {
    // Lines the reader skips survive a rewrite as well as a failed one.
    const std::string original = "# kept\nOLD=1\nno equals sign\n";
    const std::string value(200, 'v');
    FaultRule no_replace(Call::replace_file, "SXRegistry.dat");
    no_replace.error = kErrorCallNotImplemented;
    std::vector<std::tuple<const char*, std::vector<FaultRule>, bool>> cases = {
        {"replace fails", {FaultRule(Call::replace_file, "SXRegistry.dat")}, false},
        {"in place", {no_replace}, true},
        {"in place without a copy",
         {no_replace, FaultRule(Call::copy_file, "SXRegistry.dat")},
         false},
    };
    if (FaultyPlatform::supports_disk_full()) {
        cases.push_back({"disk fills up", {disk_full("SXRegistry.dat.new", 100, 0)}, false});
        // In place, after the complete copy beside it was written.
        cases.push_back(
            {"disk fills up in place", {no_replace, disk_full("SXRegistry.dat", 3, 1)}, false});
    }
    for (const auto& [what, faults, written] : cases) {
        SCOPED_TRACE(what);
        ScratchDir scratch;
        const std::string path = scratch / "SXRegistry.dat";
        ASSERT_TRUE(write_file(path, original));
        FaultyPlatform faulty;
        for (const FaultRule& rule : faults) faulty.add_rule(rule);
        {
            ScopedPlatform scope(&faulty);
            SettingsFile file{FilePath(path)};
            ASSERT_TRUE(file.open_settings(true));
            ASSERT_TRUE(file.set_setting_value("new", value));
            EXPECT_EQ(file.close_settings(), written);
        }
        std::string after;
        ASSERT_TRUE(read_file(path, &after));
        EXPECT_EQ(after, written ? "# kept\nNEW=" + value + "\nOLD=1\nno equals sign\n" : original);
        for (const char* suffix : {".new", ".old", ".lock"})
            EXPECT_FALSE(FilePath(path + suffix).exists()) << suffix;
    }
}

// The override file is outside every test folder; keep what was there.
struct OverrideFileGuard {
    std::string saved;
    bool had = read_file(kOverrideSettingsPath, &saved);
    ~OverrideFileGuard() {
        if (had) {
            write_file(kOverrideSettingsPath, saved);
        } else {
            FilePath(kOverrideSettingsPath).delete_file();
        }
    }
};

TEST(ReadSetting, OverrideThenUserThenSystem) {
    testing::ComponentEnvironment environment;
    OverrideFileGuard override_guard;
    const std::string user = environment.scratch() / "appdata\\Stellarix\\Stellarix Player\\";
    const std::string system = environment.scratch() / "system\\";
    ASSERT_TRUE(FilePath(user).ensure_directory() && FilePath(system).ensure_directory());
    ASSERT_TRUE(write_file(system + "SXRegistry.dat", "shared=system\nsystem/only=s\n"));
    ASSERT_TRUE(write_file(user + "SXRegistry.dat", "shared=user\nuser/only=u\n"));
    ASSERT_TRUE(write_file(kOverrideSettingsPath, "shared=override\n"));
    EXPECT_EQ(read_setting("shared"), "override");
    EXPECT_EQ(read_setting("system/only") + read_setting("USER/ONLY") + read_setting("no"), "su");

    // A source held by a writer is skipped after one attempt, not waited for.
    SettingsFile writer{FilePath(kOverrideSettingsPath)};
    ASSERT_TRUE(writer.open_settings(true));
    FaultyPlatform counting;
    ScopedPlatform scope(&counting);
    EXPECT_EQ(read_setting("shared"), "user");
    EXPECT_EQ(counting.calls(Call::open_lock_file), 3);  // one per source
    EXPECT_EQ(counting.calls(Call::sleep_ms), 0);
}

}  // namespace
}  // namespace sx
