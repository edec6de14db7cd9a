#include "components/settings_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/testing/component_env.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"

namespace sx {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

SettingsMap load(const std::string& content) {
    ScratchDir scratch;
    EXPECT_TRUE(write_file(scratch / "SXRegistry.dat", content));
    SettingsFile file{FilePath(scratch / "SXRegistry.dat")};
    EXPECT_TRUE(file.open_settings(false));
    return file.values();
}

TEST(SettingsFileFormat, LinesCommentsAndFirstOccurrence) {
    const struct {
        std::string content;
        SettingsMap expected;
    } cases[] = {
        {"# comment\n\nBase%20Dir = C:%5Cx\nbase dir=second\n", {{"BASE DIR", "C:\\x"}}},
        // Every line end the reader knows; the unterminated last line is lost.
        {"a=1\rb=2\r\nc=3\n\rd=4\n\ne=5", {{"A", "1"}, {"B", "2"}, {"C", "3"}, {"D", "4"}}},
        {" \t \n   # x=1\nnoequals\nk = a=b \n%61b=x\n", {{"K", "a=b"}, {"AB", "x"}}},
        // Keys that are not valid once decoded.
        {"/a=1\na/=1\na//b=1\n=1\na%3Db=1\n%2Fa=1\na%5Cb=1\n a/b.c-d_e f = ok \n",
         {{"A/B.C-D_E F", "ok"}}},
        {"k=abc%4\n", {{"K", "abc"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(load(c.content), c.expected) << c.content;
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
    EXPECT_FALSE(file.set_setting_value("a", "no"));
    EXPECT_FALSE(file.set_setting_bool("a", false));
    EXPECT_TRUE(file.close_settings());
    EXPECT_FALSE(file.has_setting("a"));
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
        EXPECT_TRUE(file.close_settings());
    }
    std::string written;
    ASSERT_TRUE(read_file(path, &written));
    EXPECT_EQ(written, "A=\nBASEURLS%2FSCRIPTS=a%20b%E9\nSTEREO%2FENABLE=TRUE\n");
    EXPECT_FALSE(FilePath(path + ".new").exists());
    EXPECT_EQ(load(written).at("BASEURLS/SCRIPTS"), "a b\xE9");
}

// Two first writers of a missing file: the second must wait for the first to
// close, or one of them would overwrite the other's values.
TEST(SettingsFile, WriterOfANewFileKeepsTheLockUntilClosed) {
    ScratchDir scratch;
    const FilePath path(scratch / "SXRegistry.dat");
    SettingsFile first(path);
    ASSERT_TRUE(first.open_settings(true));
    EXPECT_TRUE(first.set_setting_value("first", "1"));

    SettingsFile second(path);
    EXPECT_FALSE(second.open_settings(true));
    EXPECT_FALSE(second.open_settings(false));
    ASSERT_TRUE(first.close_settings());

    ASSERT_TRUE(second.open_settings(true));
    EXPECT_TRUE(second.set_setting_value("second", "2"));
    ASSERT_TRUE(second.close_settings());
    ASSERT_TRUE(first.open_settings(false));
    EXPECT_EQ(first.values(), (SettingsMap{{"FIRST", "1"}, {"SECOND", "2"}}));
}

// A rewrite gives the new file or leaves the old one, also where the system
// has no one-step replace (Windows 95/98) and the file is rewritten in place
// behind a copy of it.
TEST(SettingsFile, RewriteGivesTheNewFileOrLeavesTheOldOne) {
    const std::string original = "OLD=1\n";
    const std::string value(200, 'v');
    struct Case {
        const char* what;
        bool no_replace;
        void (*arm)(FaultyPlatform&);
        bool written;
    };
    std::vector<Case> cases = {
        {"sibling cannot be opened", false,
         [](FaultyPlatform& f) { f.fail_open_file("SXRegistry.dat.new", "w"); }, false},
        {"replace fails", false, [](FaultyPlatform& f) { f.fail_replace_file("SXRegistry.dat"); },
         false},
        {"in place", true, [](FaultyPlatform&) {}, true},
        {"in place without a copy", true,
         [](FaultyPlatform& f) { f.fail_copy_file("SXRegistry.dat"); }, false},
    };
    if (FaultyPlatform::supports_disk_full()) {
        cases.push_back({"disk fills up", false,
                         [](FaultyPlatform& f) { f.fail_after_writes("SXRegistry.dat.new", 100); },
                         false});
        cases.push_back({"disk fills up in place", true,
                         [](FaultyPlatform& f) {
                             FaultRule& r = f.fail_after_writes("SXRegistry.dat", 3);
                             r.mode = "w";
                             r.good_calls = 1;  // the complete copy beside it is written
                         },
                         false});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir scratch;
        const std::string path = scratch / "SXRegistry.dat";
        ASSERT_TRUE(write_file(path, original));
        FaultyPlatform faulty;
        if (c.no_replace) faulty.fail_replace_file("SXRegistry.dat", kErrorCallNotImplemented);
        c.arm(faulty);
        {
            ScopedPlatform scope(&faulty);
            SettingsFile file{FilePath(path)};
            ASSERT_TRUE(file.open_settings(true));
            ASSERT_TRUE(file.set_setting_value("new", value));
            EXPECT_EQ(file.close_settings(), c.written);
        }
        if (c.no_replace) {
            EXPECT_EQ(faulty.injected(Call::replace_file), 1);
        }
        std::string after;
        ASSERT_TRUE(read_file(path, &after));
        EXPECT_EQ(after, c.written ? "NEW=" + value + "\n" + original : original);
        for (const char* suffix : {".new", ".old", ".lock"})
            EXPECT_FALSE(FilePath(path + suffix).exists()) << suffix;
    }
}

// The override file is outside every test folder; keep what was there.
class OverrideFileGuard {
public:
    OverrideFileGuard() { had_ = read_file(kOverrideSettingsPath, &saved_); }
    ~OverrideFileGuard() {
        if (had_)
            write_file(kOverrideSettingsPath, saved_);
        else
            FilePath(kOverrideSettingsPath).delete_file();
    }

private:
    bool had_ = false;
    std::string saved_;
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
    EXPECT_EQ(read_setting("system/only"), "s");
    EXPECT_EQ(read_setting("USER/ONLY"), "u");
    EXPECT_EQ(read_setting("nowhere"), "");

    // A source held by a writer is skipped after one attempt, not waited for.
    SettingsFile writer{FilePath(kOverrideSettingsPath)};
    ASSERT_TRUE(writer.open_settings(true));
    {
        FaultyPlatform counting;
        ScopedPlatform scope(&counting);
        EXPECT_EQ(read_setting("shared"), "user");
        EXPECT_EQ(counting.calls(Call::open_lock_file), 3);  // one per source
        EXPECT_EQ(counting.calls(Call::sleep_ms), 0);
    }
}

}  // namespace
}  // namespace sx
