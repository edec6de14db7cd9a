// Rules of the seam that the Windows build and the emulation keep alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

TEST(AsciiCase, LettersOnlyWhateverTheLocale) {
    // The letters' neighbours and the bytes above 0x7F stay.
    EXPECT_EQ(ascii_upper(std::string("a-Z_09@[`{caf\xE9\xC9")), "A-Z_09@[`{CAF\xE9\xC9");
    EXPECT_EQ(ascii_lower(std::string("a-Z_09@[`{CAF\xE9\xC9")), "a-z_09@[`{caf\xE9\xC9");
    EXPECT_TRUE(equals_ignoring_ascii_case("A-Z\xC9", "a-z\xC9"));
    EXPECT_FALSE(equals_ignoring_ascii_case("\xE9", "\xC9"));
    EXPECT_FALSE(equals_ignoring_ascii_case("ab", "abc"));
    EXPECT_EQ(find_ignoring_ascii_case("HKEY\\Software\\Key", "software\\k"), 5u);
    EXPECT_EQ(find_ignoring_ascii_case("ab", "abc"), std::string::npos);
    EXPECT_FALSE(starts_with_ignoring_ascii_case("x\\compindx.dat", "COMPINDX.DAT"));
    EXPECT_FALSE(ends_with_ignoring_ascii_case("exe", ".EXE"));
}

// Every test works below its own fresh key of HKCU.
class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = "Software\\SxPlatformTest\\" + std::to_string(os.current_process_id());
        ASSERT_EQ(os.reg_create_key(kHkeyCurrentUser, path_.c_str(), &key_, nullptr),
                  kErrorSuccess);
    }
    void TearDown() override {
        for (const char* name : {"Beta\\Leaf", "Beta", "alpha", "Gamma", "doomed"})
            os.reg_delete_key(key_, name);
        os.reg_close_key(key_);
        os.reg_delete_key(kHkeyCurrentUser, path_.c_str());
    }
    Platform& os = platform();
    std::string path_;
    RegKey key_ = 0;
};

TEST_F(Registry, ValuesKeepTheirTypeAndExactByteCount) {
    const uint32_t dword = 0x12345678;
    const struct {
        const char* name;
        uint32_t type;
        std::string bytes;
    } cases[] = {
        {"Counted", kRegSz, "C:\\Program Files\\Stellarix"},  // no zero, as the system writes
        {"Terminated", kRegExpandSz, std::string("%TEMP%\\x\0", 9)},
        {"Dword", kRegDword, std::string(reinterpret_cast<const char*>(&dword), 4)},
        {"Multi", kRegMultiSz, std::string("one\0two words\0\0", 15)},
        {"Binary", 0x1234, std::string("\0\1\2\0\xff", 5)},
        {"Empty", kRegSz, ""},
        {"", kRegSz, "default value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t n = static_cast<uint32_t>(c.bytes.size());
        ASSERT_EQ(os.reg_set_value(key_, c.name, c.type, c.bytes.data(), n), kErrorSuccess);
        // Exactly as large as the value (ASan sees a byte written past it),
        // then one byte short: ERROR_MORE_DATA and the size needed.
        std::vector<char> exact(std::max<uint32_t>(n, 1));
        uint32_t type = 0, size = n;
        EXPECT_EQ(os.reg_query_value(key_, c.name, &type, exact.data(), &size), kErrorSuccess);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(std::string(exact.data(), size), c.bytes);
        if (n == 0) continue;
        std::vector<char> small(n - 1);
        size = n - 1;
        EXPECT_EQ(os.reg_query_value(key_, c.name, &type, small.data(), &size), kErrorMoreData);
        EXPECT_EQ(size, n);
    }
}

TEST_F(Registry, EnumerateAndDelete) {
    bool created = false;
    RegKey child;
    for (const char* name : {"Beta", "alpha", "Gamma", "BETA", "beta\\Leaf"}) {
        ASSERT_EQ(os.reg_create_key(key_, name, &child, &created), kErrorSuccess);
        EXPECT_EQ(created, std::strcmp(name, "BETA") != 0) << "an existing key, whatever its case";
        os.reg_close_key(child);
    }
    std::vector<std::string> names;
    char name[64];
    for (uint32_t i = 0, size = sizeof name; os.reg_enum_key(key_, i, name, &size) == kErrorSuccess;
         ++i, size = sizeof name) {
        EXPECT_EQ(size, std::strlen(name));
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Beta", "Gamma", "alpha"})) << "first case kept";
    uint32_t tiny = 3;
    EXPECT_EQ(os.reg_enum_key(key_, 0, name, &tiny), kErrorMoreData);

    // A key with subkeys stays (NT rules); without them it goes.
    EXPECT_EQ(os.reg_delete_key(key_, "Beta"), kErrorAccessDenied);
    EXPECT_EQ(os.reg_delete_key(key_, "missing"), kErrorFileNotFound);
    EXPECT_EQ(os.reg_delete_key(key_, "BETA\\LEAF"), kErrorSuccess);
    EXPECT_EQ(os.reg_delete_key(key_, "Beta"), kErrorSuccess);
    EXPECT_EQ(os.reg_open_key(key_, "Beta", kKeyRead, &child), kErrorFileNotFound);

    // Values: one per name whatever its case, the first spelling kept.
    const uint32_t one = 1;
    ASSERT_EQ(os.reg_set_value(key_, "First", kRegSz, "x", 1), kErrorSuccess);
    ASSERT_EQ(os.reg_set_value(key_, "FIRST", kRegDword, &one, 4), kErrorSuccess);
    std::vector<std::string> values;
    for (uint32_t i = 0, size = sizeof name, type = 0, bytes = 0;
         os.reg_enum_value(key_, i, name, &size, &type, nullptr, &bytes) == kErrorSuccess;
         ++i, size = sizeof name)
        values.push_back(std::string(name, size) + " " + std::to_string(type * 100 + bytes));
    EXPECT_EQ(values, (std::vector<std::string>{"First 404"}));
    EXPECT_EQ(os.reg_delete_value(key_, "first"), kErrorSuccess);
    EXPECT_EQ(os.reg_delete_value(key_, "First"), kErrorFileNotFound);
    uint32_t size = sizeof name;
    EXPECT_EQ(os.reg_enum_value(key_, 0, name, &size, nullptr, nullptr, nullptr),
              kErrorNoMoreItems);
}

// The fault-injecting platform knows a key opened through it by its full path.
TEST_F(Registry, FaultRulesMatchTheFullKeyPath) {
    FaultyPlatform faulty;
    faulty.fail_registry_create(ascii_lower(path_) + "\\alpha");
    RegKey key, inner;
    ASSERT_EQ(faulty.reg_open_key(kHkeyCurrentUser, path_.c_str(), kKeyAllAccess, &key),
              kErrorSuccess);
    EXPECT_EQ(faulty.reg_create_key(key, "Alpha", &inner, nullptr), kErrorAccessDenied);
    faulty.reg_close_key(key);
}

#ifndef _WIN32
// The emulation's own rules: only ASCII letters fold, a deleted key's handles
// stay dead, and writers in several processes at once lose nothing.
TEST_F(Registry, OnlyAsciiFoldsAndDeletedKeysStayDeleted) {
    ASSERT_EQ(os.reg_set_value(key_, "\xc9t\xe9", kRegSz, "a", 1), kErrorSuccess);
    ASSERT_EQ(os.reg_set_value(key_, "\xe9t\xe9", kRegSz, "b", 1), kErrorSuccess);
    char name[32];
    uint32_t name_size = sizeof name;
    EXPECT_EQ(os.reg_enum_value(key_, 1, name, &name_size, nullptr, nullptr, nullptr),
              kErrorSuccess)
        << "two values";
    EXPECT_EQ(os.reg_delete_key(kHkeyLocalMachine, ""), kErrorAccessDenied);

    // A handle to a key deleted meanwhile, even if it is made again.
    RegKey doomed, other;
    ASSERT_EQ(os.reg_create_key(key_, "doomed", &doomed, nullptr), kErrorSuccess);
    ASSERT_EQ(os.reg_set_value(doomed, "v", kRegSz, "1", 1), kErrorSuccess);
    ASSERT_EQ(os.reg_delete_key(key_, "doomed"), kErrorSuccess);
    ASSERT_EQ(os.reg_create_key(key_, "doomed", &other, nullptr), kErrorSuccess);
    uint32_t size = 0;
    EXPECT_EQ(os.reg_query_value(doomed, "v", nullptr, nullptr, &size), kErrorKeyDeleted);
    EXPECT_EQ(os.reg_set_value(doomed, "v", kRegSz, "1", 1), kErrorKeyDeleted);
    EXPECT_EQ(os.reg_query_value(other, "v", nullptr, nullptr, &size), kErrorFileNotFound)
        << "the values went with the key";
    EXPECT_EQ(os.reg_close_key(doomed), kErrorSuccess);
    EXPECT_EQ(os.reg_close_key(doomed), kErrorInvalidHandle);
    os.reg_close_key(other);
}

// Three writers at once, two of them children: every value arrives whole.
TEST_F(Registry, ThreeProcessesWriteAtOnce) {
    const std::string child = "\"" + std::string(SX_PLATFORM_CHILD) + "\" reg-write " + path_;
    ProcessHandle children[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(os.start_process((child + " 150 " + "ab"[i]).c_str(), nullptr, &children[i]));
    const auto data_of = [](const std::string& name) { return name + "=" + std::string(200, 'x'); };
    for (int i = 0; i < 150; ++i) {
        const std::string name = "c_" + std::to_string(i), data = data_of(name);
        ASSERT_EQ(os.reg_set_value(key_, name.c_str(), kRegSz, data.data(), data.size()),
                  kErrorSuccess);
    }
    for (ProcessHandle c : children) {
        uint32_t code = 99;
        EXPECT_TRUE(os.wait_process(c, 60000, &code));
        EXPECT_EQ(code, 0u);
        os.close_process(c);
    }
    std::set<std::string> seen;
    char name[32], data[300];
    for (uint32_t i = 0, name_size = sizeof name, data_size = sizeof data;
         os.reg_enum_value(key_, i, name, &name_size, nullptr, data, &data_size) == kErrorSuccess;
         ++i, name_size = sizeof name, data_size = sizeof data) {
        EXPECT_EQ(std::string(data, data_size), data_of(name));
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 450u);
}
#endif

// A real child: platform_child, its results in the file SX_CHILD_OUTPUT names.
class Processes : public testing::TempDirTest {
protected:
    void SetUp() override {
        testing::TempDirTest::SetUp();
        ASSERT_TRUE(os.set_environment_variable("SX_CHILD_OUTPUT", file("out").c_str()));
    }
    void TearDown() override { os.set_environment_variable("SX_CHILD_OUTPUT", nullptr); }
    Platform& os = platform();
    const std::string child_ = SX_PLATFORM_CHILD;
};

// Our splitter must agree with the C runtime, whose arguments the child echoes.
TEST_F(Processes, TheChildGetsItsExactCommandLineSplitByTheWindowsRules) {
    const std::string q = "\"" + child_ + "\"";
    const std::string lines[] = {
        q + "  echo   many    spaces   ",
        q + " echo \"quoted arg\" \"\" -renderer \"Soft Raster\"",
        q + " echo tab\there \"in\tquotes\"\t",
        q + " echo a\\\\b c\\\\\\\"d \"e\\\\\" f\\\\g \"unterminated quote",
        q + " echo %PATH% ^&|<> 'single' $HOME `x` trailing\\",
        child_ + " echo\t x\"y z\"w  \"in \"\"doubled\"\" quotes\"",
    };
    for (const std::string& line : lines) {
        testing::remove_tree(file("out"));
        ProcessHandle child = nullptr;
        uint32_t code = 1;
        ASSERT_TRUE(os.start_process(line.c_str(), nullptr, &child)) << line;
        EXPECT_TRUE(os.wait_process(child, 60000, &code));
        os.close_process(child);
        EXPECT_EQ(code, 0u) << line;
        std::string got, expected = line + '\0';
        EXPECT_TRUE(testing::read_file(file("out"), &got));
        for (const std::string& arg : split_command_line(line)) expected += arg + '\0';
        EXPECT_EQ(got, expected) << line;
    }
}

TEST_F(Processes, ALockHeldByAnotherProcessIsFreedWhenItIsKilled) {
    const std::string lock = file("held.lock");
    ProcessHandle holder = nullptr;
    ASSERT_TRUE(os.start_process(("\"" + child_ + "\" hold-lock \"" + lock + "\"").c_str(), nullptr,
                                 &holder));
    // Start-up under Wine can take seconds on a loaded machine.
    std::string text;
    for (int i = 0; i < 600 && !testing::read_file(file("out"), &text); ++i) os.sleep_ms(50);
    EXPECT_EQ(text.rfind("locked ", 0), 0u) << "the child never took the lock";
    EXPECT_EQ(os.open_lock_file(lock.c_str()), nullptr);
    EXPECT_EQ(os.last_error(), kErrorSharingViolation);
    uint32_t code = 0;
    EXPECT_FALSE(os.wait_process(holder, 100, &code)) << "still running";
    ASSERT_TRUE(os.terminate_process(holder, 77));
    ASSERT_TRUE(os.wait_process(holder, 30000, &code));
    EXPECT_EQ(code, 77u);
    os.close_process(holder);
    LockHandle mine = os.open_lock_file(lock.c_str());
    EXPECT_NE(mine, nullptr);
    os.close_lock_file(mine);
}

// The child runs in the folder it was given, and that folder cannot be
// removed while it runs there; a folder that does not exist starts nothing.
TEST_F(Processes, TheChildRunsInItsGivenFolderWhichStaysWhileItRuns) {
    const std::string home = file("home");
    ASSERT_TRUE(os.create_directory(home.c_str()));
    const std::string line = "\"" + child_ + "\" stay";
    ProcessHandle child = nullptr;
    EXPECT_FALSE(os.start_process(line.c_str(), file("missing").c_str(), &child));
    ASSERT_TRUE(os.start_process(line.c_str(), home.c_str(), &child));
    std::string text;
    for (int i = 0; i < 600 && !testing::read_file(file("out"), &text); ++i) os.sleep_ms(50);
    EXPECT_TRUE(equals_ignoring_ascii_case(text, home)) << text;
    EXPECT_FALSE(os.remove_directory(home.c_str())) << "removed under a running process";
    EXPECT_EQ(os.last_error(), kErrorSharingViolation);
    ASSERT_TRUE(os.terminate_process(child, 0));
    EXPECT_TRUE(os.wait_process(child, 30000, nullptr));
    os.close_process(child);
    bool removed = false;
    // The system lets go of the folder a moment after the process is gone.
    for (int i = 0; i < 100 && !(removed = os.remove_directory(home.c_str())); ++i) os.sleep_ms(50);
    EXPECT_TRUE(removed);
}

TEST_F(Processes, CallersCanTellWhyAFileCallFailed) {
    const std::string full = file("full"), inner = full + "\\inner.txt", gone = file("gone.txt");
    ASSERT_TRUE(os.create_directory(full.c_str()) && testing::write_file(inner, ""));
    const auto expect = [&](bool failed, long error, const char* what) {
        EXPECT_TRUE(failed) << what;
        EXPECT_EQ(os.last_error(), error) << what;
    };
    expect(!os.delete_file(gone.c_str()), kErrorFileNotFound, "delete a missing file");
    expect(!os.open_file(file("no\\x").c_str(), "rb"), kErrorPathNotFound, "open in no folder");
    expect(!os.delete_file(full.c_str()), kErrorAccessDenied, "delete a folder as a file");
    expect(!os.remove_directory(inner.c_str()), kErrorDirectory, "remove a file as a folder");
    expect(!os.remove_directory(full.c_str()), kErrorDirNotEmpty, "remove a folder with a file");
    expect(!os.create_directory(full.c_str()), kErrorAlreadyExists, "create an existing folder");
    expect(os.create_new_file(inner.c_str()) == CreateNewResult::exists, kErrorFileExists,
           "create an existing file");
    expect(!os.move_file(full.c_str(), inner.c_str()), kErrorAlreadyExists, "move onto a file");

    // The fault-injecting platform reports its rule's error, then the real one.
    FaultyPlatform faulty;
    faulty.fail_delete_file("inner.txt").error = kErrorSharingViolation;
    EXPECT_FALSE(faulty.delete_file(inner.c_str()));
    EXPECT_EQ(faulty.last_error(), kErrorSharingViolation);
    EXPECT_FALSE(faulty.delete_file(gone.c_str()));
    EXPECT_EQ(faulty.last_error(), kErrorFileNotFound);
}

}  // namespace
}  // namespace sx
