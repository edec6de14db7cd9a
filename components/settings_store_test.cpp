#include "components/settings_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

    // A source held by a writer is skipped, not waited for.
    SettingsFile writer{FilePath(kOverrideSettingsPath)};
    ASSERT_TRUE(writer.open_settings(true));
    EXPECT_EQ(read_setting("shared"), "user");
    writer.close_settings();
    EXPECT_EQ(read_setting("shared"), "override");
}

// ---------------------------------------------------------------------------
// Other processes. The test program starts itself again with a role in
// kChildRole; the role runs before any test and ends the process.

const char kChildRole[] = "SX_SETTINGS_TEST_CHILD";

std::vector<std::string> split_role(const std::string& role) {
    std::vector<std::string> parts(1);
    for (char c : role) {
        if (c == '|')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// hold|FILE|MARKER: opens FILE for writing, sets CHILD=yes, creates MARKER
// and keeps the store open until MARKER is deleted.
int run_child_role(const std::string& role) {
    const std::vector<std::string> parts = split_role(role);
    if (parts.size() < 3) return 64;
    SettingsFile file{FilePath(parts[1])};
    const FilePath marker(parts[2]);
    if (parts[0] == "hold") {
        if (!file.open_settings(true) || !file.set_setting_value("child", "yes")) return 2;
        if (!write_file(marker.text(), "")) return 3;
        for (int waited = 0; marker.exists() && waited < 60000; waited += 20)
            platform().sleep_ms(20);
        return file.close_settings() ? 0 : 4;
    }
    if (parts[0] == "stall" && parts.size() == 4) {
        // Rewrites FILE but stops for good at flush or replace, creating
        // MARKER first, so the parent can kill it in the middle.
        class StallingPlatform : public FaultyPlatform {
        public:
            StallingPlatform(std::string point, FilePath marker)
                : point_(std::move(point)), marker_(std::move(marker)) {}
            bool flush_file(std::FILE* stream) override {
                if (point_ == "flush") stall();
                return FaultyPlatform::flush_file(stream);
            }
            bool replace_file(const char* from, const char* to) override {
                if (point_ == "replace") stall();
                return FaultyPlatform::replace_file(from, to);
            }

        private:
            [[noreturn]] void stall() {
                write_file(marker_.text(), "");
                sleep_ms(60000);
                std::_Exit(5);
            }
            std::string point_;
            FilePath marker_;
        };
        StallingPlatform stalling(parts[3], marker);
        ScopedPlatform scope(&stalling);
        if (!file.open_settings(true)) return 2;
        // More than any stream buffer, so part of it reaches the disk.
        for (int i = 0; i < 2000; ++i)
            file.set_setting_value("new/key" + std::to_string(i), std::string(40, 'x'));
        file.close_settings();
        return 6;  // never reached
    }
    return 64;
}

class ChildRoleEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string role;
        if (platform().get_environment_variable(kChildRole, &role) && !role.empty())
            std::exit(run_child_role(role));
    }
};
[[maybe_unused]] ::testing::Environment* const child_role_environment =
    ::testing::AddGlobalTestEnvironment(new ChildRoleEnvironment);

// Starts this program in a role; the role reaches the child through the
// environment it inherits.
ProcessHandle start_child(const std::string& role) {
    Platform& os = platform();
    // The filter only has to name one test so that the environment runs.
    const std::string command =
        quote_argument(os.program_path()) + " --gtest_filter=SettingsEncoding.KeyRule";
    os.set_environment_variable(kChildRole, role.c_str());
    ProcessHandle child = nullptr;
    const bool started = os.start_process(command.c_str(), &child);
    os.set_environment_variable(kChildRole, "");
    return started ? child : nullptr;
}

bool wait_for_file(const FilePath& file, ProcessHandle child) {
    for (int waited = 0; waited < 30000; waited += 20) {
        if (file.exists()) return true;
        if (platform().wait_process(child, 0, nullptr)) return false;  // ended early
        platform().sleep_ms(20);
    }
    return false;
}

TEST(SettingsProcesses, AFileHeldByAWriterElsewhereIsSkipped) {
    SettingsSources sources;
    ASSERT_TRUE(write_file(kOverrideSettingsPath, "shared=override\n"));
    ASSERT_TRUE(write_file(sources.user_file(), "shared=user\n"));
    const FilePath marker(sources.environment.scratch() / "holding");

    ProcessHandle child =
        start_child(std::string("hold|") + kOverrideSettingsPath + "|" + marker.text());
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(wait_for_file(marker, child));

    {
        // One attempt at the lock, no waiting.
        FaultyPlatform counting;
        ScopedPlatform scope(&counting);
        SettingsFile other{FilePath(kOverrideSettingsPath)};
        EXPECT_FALSE(other.open_settings(false));
        EXPECT_EQ(counting.calls(Call::open_lock_file), 1);
        EXPECT_EQ(counting.calls(Call::sleep_ms), 0);
        EXPECT_FALSE(other.open_settings(true));
        EXPECT_EQ(read_setting("shared"), "user");
    }

    marker.delete_file();
    uint32_t exit_code = 99;
    EXPECT_TRUE(platform().wait_process(child, 30000, &exit_code));
    platform().close_process(child);
    EXPECT_EQ(exit_code, 0u);
    // The writer's values are in once it has closed.
    EXPECT_EQ(read_setting("shared"), "override");
    EXPECT_EQ(read_setting("child"), "yes");
}

TEST(SettingsProcesses, AWriterKilledInTheMiddleOfItsRewriteLeavesTheOldFile) {
    for (const char* point : {"flush", "replace"}) {
        ScratchDir scratch;
        const std::string path = scratch / "SXRegistry.dat";
        const std::string original = "A=1\nB=2\nSTEREO%2FENABLE=TRUE\n";
        ASSERT_TRUE(write_file(path, original));
        const FilePath marker(scratch / "stalled");

        ProcessHandle child =
            start_child(std::string("stall|") + path + "|" + marker.text() + "|" + point);
        ASSERT_NE(child, nullptr);
        ASSERT_TRUE(wait_for_file(marker, child)) << point;
        EXPECT_TRUE(platform().terminate_process(child, 9));
        EXPECT_TRUE(platform().wait_process(child, 30000, nullptr));
        platform().close_process(child);

        std::string after;
        ASSERT_TRUE(read_file(path, &after));
        EXPECT_EQ(after, original) << point;
        // The killed writer's lock went with it; its leftover is overwritten.
        SettingsFile next{FilePath(path)};
        ASSERT_TRUE(next.open_settings(true)) << point;
        EXPECT_EQ(next.values(), (SettingsMap{{"A", "1"}, {"B", "2"}, {"STEREO/ENABLE", "TRUE"}}));
        EXPECT_TRUE(next.set_setting_value("c", "3"));
        EXPECT_TRUE(next.close_settings());
        ASSERT_TRUE(read_file(path, &after));
        EXPECT_EQ(after, "A=1\nB=2\nC=3\nSTEREO%2FENABLE=TRUE\n");
        EXPECT_FALSE(FilePath(path + ".new").exists());
    }
}

}  // namespace
}  // namespace sx
