#include "components/settings_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/settings_encoding.h"
#include "components/testing/component_env.h"
#include "components/testing/scratch.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"

namespace sx {
namespace {

using testing::ComponentEnvironment;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

// Loads `content` as a settings file and gives its entries.
SettingsMap load(const std::string& content) {
    ScratchDir scratch;
    const std::string path = scratch / "SXRegistry.dat";
    EXPECT_TRUE(write_file(path, content));
    SettingsFile file{FilePath(path)};
    EXPECT_TRUE(file.open_settings(false));
    return file.values();
}

TEST(SettingsFileFormat, LinesCommentsAndFirstOccurrence) {
    const struct {
        std::string content;
        SettingsMap expected;
    } cases[] = {
        // The four lines of the format's example: one entry, the first wins.
        {"# comment\n\nBase%20Dir = C:%5Cx\nbase dir=second\n", {{"BASE DIR", "C:\\x"}}},
        // Every line end the reader knows; the unterminated last line is lost.
        {"a=1\rb=2\r\nc=3\n\rd=4\n\ne=5", {{"A", "1"}, {"B", "2"}, {"C", "3"}, {"D", "4"}}},
        // Only spaces, tabs and a comment after spaces are skipped; no "="
        // means no entry; the value keeps everything after the first "=".
        {" \t \n   # x=1\nnoequals\nk = a=b \n", {{"K", "a=b"}}},
        // Keys that are not valid once decoded and upper-cased.
        {"/a=1\na/=1\na//b=1\n=1\na%3Db=1\n%2Fa=1\na%5Cb=1\n a/b.c-d_e f = ok \n",
         {{"A/B.C-D_E F", "ok"}}},
        // An escape in a key may spell a lower-case letter; it is folded too.
        {"%61b=x\n", {{"AB", "x"}}},
        // A cut-off escape ends the value.
        {"k=abc%4\n", {{"K", "abc"}}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(load(c.content), c.expected) << c.content;
}

TEST(SettingsFile, AccessorsAndBooleans) {
    ScratchDir scratch;
    const std::string path = scratch / "SXRegistry.dat";
    ASSERT_TRUE(
        write_file(path, "a=yes\nb=On\nc=1\nd=no\ne=off\nf=0\ng=2\nh=T\ni=n\nj=\nk= TRUE \n"));
    SettingsFile file{FilePath(path)};
    ASSERT_TRUE(file.open_settings(false));
    EXPECT_FALSE(file.writable());
    EXPECT_FALSE(file.holds_lock());  // readers let go of the lock after reading
    EXPECT_TRUE(file.has_setting("a"));
    EXPECT_TRUE(file.has_setting("A"));
    EXPECT_FALSE(file.has_setting("zz"));
    EXPECT_EQ(file.get_setting_value("b"), "On");
    EXPECT_EQ(file.get_setting_value("zz"), "");

    const struct {
        const char* key;
        bool with_false_default, with_true_default;
    } cases[] = {
        {"a", true, true},   {"b", true, true},   {"c", true, true},   {"h", true, true},
        {"k", true, true},   {"d", false, false}, {"e", false, false}, {"f", false, false},
        {"i", false, false}, {"g", false, true},  {"j", false, true},  {"missing", false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(file.get_setting_bool(c.key, false), c.with_false_default) << c.key;
        EXPECT_EQ(file.get_setting_bool(c.key, true), c.with_true_default) << c.key;
    }
    // A read-only store takes no values.
    EXPECT_FALSE(file.set_setting_value("a", "no"));
    EXPECT_FALSE(file.set_setting_bool("a", false));
    EXPECT_EQ(file.get_setting_value("a"), "yes");
    file.close_settings();
    EXPECT_FALSE(file.has_setting("a"));
    std::string after;
    ASSERT_TRUE(read_file(path, &after));
    EXPECT_EQ(after.substr(0, 6), "a=yes\n");  // not rewritten
}

TEST(SettingsFile, WritesSortedEncodedEntriesAndReadsThemBack) {
    ScratchDir scratch;
    const std::string path = scratch / "SXRegistry.dat";
    // What a writer killed half way leaves: only a held lock counts.
    ASSERT_TRUE(write_file(path + ".lock", "") && write_file(path + ".new", "STALE=1\n"));
    {
        SettingsFile file{FilePath(path)};
        ASSERT_TRUE(file.open_settings(true));
        EXPECT_TRUE(file.writable());
        // Opening a missing file for writing creates it empty.
        std::string created;
        ASSERT_TRUE(read_file(path, &created));
        EXPECT_EQ(created, "");
        EXPECT_TRUE(file.set_setting_value("Stereo/Enable", "x"));
        EXPECT_TRUE(file.set_setting_bool("stereo/enable", true));  // replaces
        EXPECT_TRUE(file.set_setting_value("BaseURLs/Scripts", "a b\xE9"));
        EXPECT_TRUE(file.set_setting_value("a", ""));
        EXPECT_FALSE(file.set_setting_value("bad//key", "v"));
        EXPECT_FALSE(file.set_setting_value("", "v"));
        EXPECT_TRUE(file.close_settings());
    }
    std::string written;
    ASSERT_TRUE(read_file(path, &written));
    EXPECT_EQ(written, "A=\nBASEURLS%2FSCRIPTS=a%20b%E9\nSTEREO%2FENABLE=TRUE\n");
    EXPECT_FALSE(FilePath(path + ".new").exists());

    SettingsFile again{FilePath(path)};
    ASSERT_TRUE(again.open_settings(false));
    EXPECT_EQ(again.get_setting_value("baseurls/scripts"), "a b\xE9");
    EXPECT_TRUE(again.get_setting_bool("Stereo/Enable", false));
    EXPECT_EQ(again.values().size(), 3u);
}

// Two first writers of a missing file: the second must wait for the first to
// close, or one of them would overwrite the other's values.
TEST(SettingsFile, WriterOfANewFileKeepsTheLockUntilClosed) {
    ScratchDir scratch;
    const FilePath path(scratch / "SXRegistry.dat");
    SettingsFile first(path);
    ASSERT_TRUE(first.open_settings(true));
    EXPECT_TRUE(first.holds_lock());
    EXPECT_TRUE(first.set_setting_value("first", "1"));

    SettingsFile second(path);
    EXPECT_FALSE(second.open_settings(true));
    EXPECT_FALSE(second.open_settings(false));
    ASSERT_TRUE(first.close_settings());

    ASSERT_TRUE(second.open_settings(true));
    EXPECT_EQ(second.get_setting_value("first"), "1");
    EXPECT_TRUE(second.set_setting_value("second", "2"));
    ASSERT_TRUE(second.close_settings());
    ASSERT_TRUE(first.open_settings(false));
    EXPECT_EQ(first.values(), (SettingsMap{{"FIRST", "1"}, {"SECOND", "2"}}));
}

TEST(SettingsFile, RewriteThatCannotFinishLeavesTheOldFile) {
    const std::string original = "KEEP=me\nOTHER=too\n";
    struct Fault {
        const char* what;
        void (*arm)(FaultyPlatform&);
    };
    std::vector<Fault> faults = {
        {"sibling cannot be opened",
         [](FaultyPlatform& f) { f.fail_open_file("SXRegistry.dat.new", "w"); }},
        {"replace fails", [](FaultyPlatform& f) { f.fail_replace_file("SXRegistry.dat"); }},
    };
    if (FaultyPlatform::supports_disk_full())
        faults.push_back({"disk fills up", [](FaultyPlatform& f) {
                              f.fail_after_writes("SXRegistry.dat.new", 100);
                          }});
    for (const Fault& fault : faults) {
        ScratchDir scratch;
        const std::string path = scratch / "SXRegistry.dat";
        ASSERT_TRUE(write_file(path, original));
        FaultyPlatform faulty;
        fault.arm(faulty);
        {
            ScopedPlatform scope(&faulty);
            SettingsFile file{FilePath(path)};
            ASSERT_TRUE(file.open_settings(true)) << fault.what;
            for (int i = 0; i < 200; ++i)
                ASSERT_TRUE(file.set_setting_value("key" + std::to_string(i), "a long value"));
            EXPECT_FALSE(file.close_settings()) << fault.what;
        }
        EXPECT_GT(faulty.injected(Call::open_file) + faulty.injected(Call::replace_file) +
                      faulty.injected(Call::flush_file),
                  0)
            << fault.what;
        std::string after;
        ASSERT_TRUE(read_file(path, &after));
        EXPECT_EQ(after, original) << fault.what;
        EXPECT_FALSE(FilePath(path + ".new").exists()) << fault.what;
        EXPECT_FALSE(FilePath(path + ".lock").exists()) << fault.what;
    }
}

// Where the system has no one-step replace (Windows 95/98), the store is
// rewritten in place behind a copy of the old file.
TEST(SettingsFile, RewriteWithoutReplaceKeepsValuesOrTheOldFile) {
    const std::string original = "OLD=1\n";
    struct Case {
        const char* what;
        void (*arm)(FaultyPlatform&);
        bool written;
    };
    std::vector<Case> cases = {
        {"replace not implemented", [](FaultyPlatform&) {}, true},
        {"no copy of the old file", [](FaultyPlatform& f) { f.fail_copy_file("SXRegistry.dat"); },
         false},
    };
    if (FaultyPlatform::supports_disk_full())
        cases.push_back({"disk fills up in place",
                         [](FaultyPlatform& f) {
                             FaultRule& r = f.fail_after_writes("SXRegistry.dat", 3);
                             r.mode = "w";
                             r.good_calls = 1;  // the complete copy beside it is written
                         },
                         false});
    for (const Case& c : cases) {
        ScratchDir scratch;
        const std::string path = scratch / "SXRegistry.dat";
        ASSERT_TRUE(write_file(path, original));
        FaultyPlatform faulty;
        faulty.fail_replace_file("SXRegistry.dat", kErrorCallNotImplemented);
        c.arm(faulty);
        {
            ScopedPlatform scope(&faulty);
            SettingsFile file{FilePath(path)};
            ASSERT_TRUE(file.open_settings(true)) << c.what;
            ASSERT_TRUE(file.set_setting_value("new", "a b"));
            EXPECT_EQ(file.close_settings(), c.written) << c.what;
        }
        EXPECT_EQ(faulty.injected(Call::replace_file), 1) << c.what;
        std::string after;
        ASSERT_TRUE(read_file(path, &after));
        EXPECT_EQ(after, c.written ? "NEW=a%20b\nOLD=1\n" : original) << c.what;
        for (const char* suffix : {".new", ".old", ".lock"})
            EXPECT_FALSE(FilePath(path + suffix).exists()) << c.what << suffix;
    }
}

// The override file is outside every test folder; keep what was there.
class OverrideFileGuard {
public:
    OverrideFileGuard() {
        had_ = read_file(kOverrideSettingsPath, &saved_);
        FilePath(kOverrideSettingsPath).delete_file();
    }
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

struct SettingsSources {
    SettingsSources() {
        FilePath(environment.scratch() / "appdata\\Stellarix\\Stellarix Player\\")
            .ensure_directory();
        FilePath(environment.scratch() / "system\\").ensure_directory();
    }
    ComponentEnvironment environment;
    OverrideFileGuard override_guard;
    std::string user_file() const {
        return environment.scratch() / "appdata\\Stellarix\\Stellarix Player\\SXRegistry.dat";
    }
    std::string system_file() const { return environment.scratch() / "system\\SXRegistry.dat"; }
};

TEST(ReadSetting, OverrideThenUserThenSystem) {
    SettingsSources sources;
    ASSERT_TRUE(write_file(sources.system_file(), "shared=system\nsystem/only=s\n"));
    ASSERT_TRUE(write_file(sources.user_file(), "shared=user\nuser/only=u\n"));
    EXPECT_EQ(read_setting("Shared"), "user");
    EXPECT_EQ(read_setting("system/only"), "s");
    EXPECT_EQ(read_setting("USER/ONLY"), "u");
    EXPECT_EQ(read_setting("nowhere"), "");

    ASSERT_TRUE(write_file(kOverrideSettingsPath, "shared=override\n"));
    EXPECT_EQ(read_setting("shared"), "override");
    EXPECT_EQ(read_setting("system/only"), "s");

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
    writer.close_settings();
    EXPECT_EQ(read_setting("shared"), "override");
}

}  // namespace
}  // namespace sx
