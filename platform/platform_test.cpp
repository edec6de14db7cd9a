// Rules of the seam that the Windows build and the emulation keep alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

TEST(AsciiCase, LettersOnlyWhateverTheLocale) {
    const struct {
        const char* text;
        const char* upper;
        const char* lower;
    } cases[] = {
        {"a-Z_09@[`{", "A-Z_09@[`{", "a-z_09@[`{"},     // the letters' neighbours stay
        {"caf\xE9\xC9", "CAF\xE9\xC9", "caf\xE9\xC9"},  // bytes above 0x7F stay
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ascii_upper(std::string(c.text)), c.upper) << c.text;
        EXPECT_EQ(ascii_lower(std::string(c.text)), c.lower) << c.text;
        EXPECT_TRUE(equals_ignoring_ascii_case(c.upper, c.lower)) << c.text;
    }
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
        // Whatever a failed test left, deepest first.
        for (const char* name : {"Beta\\Leaf", "Beta", "alpha", "Gamma"})
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
        // A counted string without its zero, as the system writes REG_SZ.
        {"Counted", kRegSz, "C:\\Program Files\\Stellarix"},
        {"Terminated", kRegSz, std::string("with zero\0", 10)},
        {"Expand", kRegExpandSz, std::string("%TEMP%\\x\0", 9)},
        {"Dword", kRegDword, std::string(reinterpret_cast<const char*>(&dword), 4)},
        {"Multi", kRegMultiSz, std::string("one\0two words\0\0", 15)},
        {"Binary", kRegBinary, std::string("\0\1\2\0\xff", 5)},
        {"Odd", 0x1234, "any type number"},
        {"Empty", kRegSz, ""},
        {"", kRegSz, "default value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t n = static_cast<uint32_t>(c.bytes.size());
        ASSERT_EQ(os.reg_set_value(key_, c.name, c.type, c.bytes.data(), n), kErrorSuccess);
        uint32_t type = 0, size = 0;
        EXPECT_EQ(os.reg_query_value(key_, c.name, &type, nullptr, &size), kErrorSuccess);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, n);
        if (n == 0) continue;
        // Exactly as large as the value: ASan sees any byte written past it.
        std::vector<char> exact(n);
        EXPECT_EQ(os.reg_query_value(key_, c.name, &type, exact.data(), &size), kErrorSuccess);
        EXPECT_EQ(std::string(exact.data(), size), c.bytes);
        std::vector<char> small(n - 1);
        size = n - 1;
        EXPECT_EQ(os.reg_query_value(key_, c.name, &type, small.data(), &size), kErrorMoreData);
        EXPECT_EQ(size, n) << "the size needed comes back with ERROR_MORE_DATA";
    }
    // Names compare without regard to case; a null name is the default value.
    uint32_t size = 0;
    EXPECT_EQ(os.reg_query_value(key_, "COUNTED", nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, cases[0].bytes.size());
    EXPECT_EQ(os.reg_query_value(key_, nullptr, nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, std::strlen("default value"));
    EXPECT_EQ(os.reg_query_value(key_, "Missing", nullptr, nullptr, &size), kErrorFileNotFound);
}

TEST_F(Registry, EnumerateAndDelete) {
    bool created = false;
    RegKey child;
    for (const char* name : {"Beta", "alpha", "Gamma", "BETA"}) {
        ASSERT_EQ(os.reg_create_key(key_, name, &child, &created), kErrorSuccess);
        EXPECT_EQ(created, std::strcmp(name, "BETA") != 0) << "an existing key, whatever its case";
        os.reg_close_key(child);
    }
    ASSERT_EQ(os.reg_create_key(key_, "beta\\Leaf", &child, nullptr), kErrorSuccess);
    os.reg_close_key(child);
    std::vector<std::string> names;
    char name[64];
    for (uint32_t i = 0;; ++i) {
        uint32_t size = sizeof name;
        const long result = os.reg_enum_key(key_, i, name, &size);
        if (result == kErrorNoMoreItems) break;
        ASSERT_EQ(result, kErrorSuccess);
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

    // Values: one per name whatever its case, the first spelling kept;
    // enumeration reports names, types and sizes.
    const uint32_t one = 1;
    ASSERT_EQ(os.reg_set_value(key_, "First", kRegSz, "x", 1), kErrorSuccess);
    ASSERT_EQ(os.reg_set_value(key_, "FIRST", kRegDword, &one, 4), kErrorSuccess);
    ASSERT_EQ(os.reg_set_value(key_, "Second", kRegSz, "abc", 3), kErrorSuccess);
    std::vector<std::pair<std::string, uint32_t>> values;
    for (uint32_t i = 0;; ++i) {
        uint32_t name_size = sizeof name, type = 0, data_size = 0;
        const long result =
            os.reg_enum_value(key_, i, name, &name_size, &type, nullptr, &data_size);
        if (result == kErrorNoMoreItems) break;
        ASSERT_EQ(result, kErrorSuccess);
        values.emplace_back(std::string(name, name_size), type * 100 + data_size);
    }
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values,
              (std::vector<std::pair<std::string, uint32_t>>{{"First", 404}, {"Second", 103}}));
    EXPECT_EQ(os.reg_delete_value(key_, "first"), kErrorSuccess);
    EXPECT_EQ(os.reg_delete_value(key_, "First"), kErrorFileNotFound);
    uint32_t name_size = sizeof name;
    EXPECT_EQ(os.reg_enum_value(key_, 1, name, &name_size, nullptr, nullptr, nullptr),
              kErrorNoMoreItems);
}

// A real child: platform_child, its results in the file SX_CHILD_OUTPUT names.
class Processes : public testing::TempDirTest {
protected:
    void SetUp() override {
        testing::TempDirTest::SetUp();
        ASSERT_TRUE(os.set_environment_variable("SX_CHILD_OUTPUT", file("out").c_str()));
    }
    void TearDown() override { os.set_environment_variable("SX_CHILD_OUTPUT", nullptr); }
    // What the child wrote, once it is there (start-up under Wine can take
    // seconds on a loaded machine).
    std::string output() {
        std::string text;
        for (int i = 0; i < 600 && !testing::read_file(file("out"), &text); ++i) os.sleep_ms(50);
        return text;
    }
    Platform& os = platform();
    const std::string child_ = SX_PLATFORM_CHILD;
};

// The child writes its command line, then each argument its C runtime gave
// it: our splitter must agree with the system's.
TEST_F(Processes, TheChildGetsItsExactCommandLineSplitByTheWindowsRules) {
    const std::string q = "\"" + child_ + "\"";
    const std::string lines[] = {
        q + " echo",
        q + "  echo   many    spaces   ",
        q + " echo \"quoted arg\" \"\" -renderer \"Soft Raster\"",
        q + " echo tab\there \"in\tquotes\"\t",
        q + " echo a\\\\b c\\\\\\\"d \"e\\\\\" f\\\\g \"unterminated quote",
        q + " echo %PATH% ^&|<> 'single' $HOME `x`",
        q + " echo trailing\\",
        child_ + " echo\t x\"y z\"w  \"in \"\"doubled\"\" quotes\"",
    };
    for (const std::string& line : lines) {
        testing::remove_tree(file("out"));
        ProcessHandle child = nullptr;
        uint32_t code = 1;
        ASSERT_TRUE(os.start_process(line.c_str(), &child)) << line;
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
    ASSERT_TRUE(
        os.start_process(("\"" + child_ + "\" hold-lock \"" + lock + "\"").c_str(), &holder));
    EXPECT_EQ(output().rfind("locked ", 0), 0u) << "the child never took the lock";
    EXPECT_EQ(os.open_lock_file(lock.c_str()), nullptr);
    EXPECT_EQ(os.last_error(), kErrorSharingViolation);
    uint32_t code = 0;
    EXPECT_FALSE(os.wait_process(holder, 0, &code)) << "still running";
    ASSERT_TRUE(os.terminate_process(holder, 77));
    ASSERT_TRUE(os.wait_process(holder, 30000, &code));
    EXPECT_EQ(code, 77u);
    os.close_process(holder);
#ifdef _WIN32
    // The system closed the killed holder's handle: the file went with it.
    EXPECT_EQ(os.get_file_attributes(lock.c_str()), kInvalidFileAttributes);
#endif
    LockHandle mine = os.open_lock_file(lock.c_str());
    EXPECT_NE(mine, nullptr);
    os.close_lock_file(mine);
}

// Rules match the full key path whatever its case, even for a key opened
// relative to another.
TEST_F(Registry, FaultRulesMatchTheFullKeyPath) {
    FaultyPlatform faulty;
    faulty.fail_registry_create(ascii_lower(path_) + "\\alpha");
    faulty.add_rule({Call::reg_set_value, path_ + "\\Blocked"}).error = 1234;
    RegKey key, inner;
    ASSERT_EQ(faulty.reg_open_key(kHkeyCurrentUser, path_.c_str(), kKeyAllAccess, &key),
              kErrorSuccess);
    EXPECT_EQ(faulty.reg_create_key(key, "Alpha", &inner, nullptr), kErrorAccessDenied);
    EXPECT_EQ(faulty.reg_create_key(kHkeyCurrentUser, (path_ + "\\ALPHA").c_str(), &inner, nullptr),
              kErrorAccessDenied);
    ASSERT_EQ(faulty.reg_create_key(key, "Gamma", &inner, nullptr), kErrorSuccess);
    faulty.reg_close_key(inner);
    EXPECT_EQ(faulty.reg_set_value(key, "Blocked", kRegSz, "x", 1), 1234);
    EXPECT_EQ(faulty.reg_set_value(key, "Free", kRegSz, "x", 1), kErrorSuccess);
    uint32_t size = 0;
    EXPECT_EQ(os.reg_query_value(key, "Blocked", nullptr, nullptr, &size), kErrorFileNotFound)
        << "a failed call never reaches the real registry";
    EXPECT_EQ(faulty.calls(Call::reg_create_key), 3);
    EXPECT_EQ(faulty.injected(Call::reg_create_key), 2);
    EXPECT_EQ(faulty.calls(Call::reg_set_value), 2);
    EXPECT_EQ(faulty.injected(Call::reg_set_value), 1);
    faulty.reg_close_key(key);

    faulty.add_rule({Call::reg_open_key, path_}).error = kErrorFileNotFound;
    EXPECT_EQ(faulty.reg_open_key(kHkeyCurrentUser, path_.c_str(), kKeyRead, &key),
              kErrorFileNotFound);
    faulty.clear_rules();
    EXPECT_EQ(faulty.reg_open_key(kHkeyCurrentUser, path_.c_str(), kKeyRead, &key), kErrorSuccess);
    faulty.reg_close_key(key);
}

TEST(FileErrors, CallersCanTellWhyAFileCallFailed) {
    Platform& os = platform();
    char temp[300] = {};
    const uint32_t n = os.get_temp_path(temp, sizeof temp);
    ASSERT_TRUE(n > 0 && n < sizeof temp);
    const std::string dir = temp + ("sx-file-errors-" + std::to_string(os.current_process_id()));
    const std::string full = dir + "\\full", inner = full + "\\inner.txt";
    const std::string gone = dir + "\\gone.txt", nowhere = dir + "\\nowhere\\x.txt";
    const std::string lock = dir + "\\held.lock";
    ASSERT_TRUE(os.create_directory(dir.c_str()) && os.create_directory(full.c_str()));
    std::FILE* f = os.open_file(inner.c_str(), "wb");
    ASSERT_TRUE(f && std::fclose(f) == 0);
    LockHandle held = os.open_lock_file(lock.c_str());
    EXPECT_NE(held, nullptr);

    const struct {
        const char* what;
        std::function<bool()> fails;  // makes the call; true when it failed
        long error;
    } cases[] = {
        {"delete a missing file", [&] { return !os.delete_file(gone.c_str()); },
         kErrorFileNotFound},
        {"open in a missing folder", [&] { return !os.open_file(nowhere.c_str(), "rb"); },
         kErrorPathNotFound},
        {"delete a folder as a file", [&] { return !os.delete_file(full.c_str()); },
         kErrorAccessDenied},
        {"remove a file as a folder", [&] { return !os.remove_directory(inner.c_str()); },
         kErrorDirectory},
        {"remove a folder that holds a file", [&] { return !os.remove_directory(full.c_str()); },
         kErrorDirNotEmpty},
        {"create an existing folder", [&] { return !os.create_directory(full.c_str()); },
         kErrorAlreadyExists},
        {"create an existing file",
         [&] { return os.create_new_file(inner.c_str()) == CreateNewResult::exists; },
         kErrorFileExists},
        {"move onto an existing file", [&] { return !os.move_file(full.c_str(), inner.c_str()); },
         kErrorAlreadyExists},
        {"lock a held lock", [&] { return !os.open_lock_file(lock.c_str()); },
         kErrorSharingViolation},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(c.fails()) << c.what;
        EXPECT_EQ(os.last_error(), c.error) << c.what;
    }

    // A rule's error is what the fault-injecting platform reports, and the
    // real platform's again after a call it let through.
    FaultyPlatform faulty;
    faulty.fail_delete_file("inner.txt").error = kErrorSharingViolation;
    EXPECT_FALSE(faulty.delete_file(inner.c_str()));
    EXPECT_EQ(faulty.last_error(), kErrorSharingViolation);
    EXPECT_FALSE(faulty.delete_file(gone.c_str()));
    EXPECT_EQ(faulty.last_error(), kErrorFileNotFound);

    os.close_lock_file(held);
    EXPECT_TRUE(os.delete_file(inner.c_str()) && os.remove_directory(full.c_str()));
    EXPECT_TRUE(os.remove_directory(dir.c_str()));
}

}  // namespace
}  // namespace sx
