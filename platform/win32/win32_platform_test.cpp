// The Win32 side of the seam against the real system (Wine in CI): the
// contracts that the rest of the system relies on and that the POSIX
// emulation copies, checked where they come from.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

Platform& os() { return native_platform(); }

// The registry key of this test run; removed at the end.
std::string run_suffix() { return std::to_string(GetCurrentProcessId()); }
const std::string kTestKey = "Software\\SxPlatformWin32Test";

std::string scratch_directory() {
    static testing::TemporaryDirectory directory;
    return directory.path() + "\\";
}

bool exists(const std::string& path) {
    return os().get_file_attributes(path.c_str()) != kInvalidFileAttributes;
}

// Waits for a file another process creates; process start-up under Wine can
// take seconds on a loaded machine.
bool wait_for_file(const std::string& path) {
    for (int i = 0; i < 600; ++i) {
        if (exists(path)) return true;
        Sleep(50);
    }
    return false;
}

const std::string kHelper = SX_WIN32_HELPER;

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = kTestKey + "\\" + run_suffix();
        ASSERT_EQ(os().reg_create_key(kHkeyCurrentUser, path_.c_str(), &key_, nullptr),
                  kErrorSuccess);
    }
    void TearDown() override {
        // Whatever the tests left, deepest first; a key with subkeys stays.
        for (const char* name : {"Beta\\Leaf", "Beta", "alpha", "Gamma"})
            os().reg_delete_key(key_, name);
        os().reg_close_key(key_);
        os().reg_delete_key(kHkeyCurrentUser, path_.c_str());
    }
    std::string path_;
    RegKey key_ = 0;
};

TEST_F(RegistryTest, ValuesKeepTheirTypeAndExactByteCount) {
    const uint32_t dword = 0x12345678;
    struct Case {
        const char* name;
        uint32_t type;
        std::string bytes;
    };
    const Case cases[] = {
        // A counted string without its zero, as the system writes REG_SZ.
        {"Counted", kRegSz, "C:\\Program Files\\Stellarix"},
        {"Expand", kRegExpandSz, std::string("%TEMP%\\x\0", 9)},
        {"Dword", kRegDword, std::string(reinterpret_cast<const char*>(&dword), 4)},
        {"Multi", kRegMultiSz, std::string("one\0two words\0\0", 15)},
        {"Binary", kRegBinary, std::string("\0\1\2\0\xff", 5)},
        {"", kRegSz, "default value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t n = static_cast<uint32_t>(c.bytes.size());
        ASSERT_EQ(os().reg_set_value(key_, c.name, c.type, c.bytes.data(), n), kErrorSuccess);

        uint32_t type = 0, size = 0;
        EXPECT_EQ(os().reg_query_value(key_, c.name, &type, nullptr, &size), kErrorSuccess);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(size, n);

        std::vector<char> exact(n);
        size = n;
        EXPECT_EQ(os().reg_query_value(key_, c.name, &type, exact.data(), &size), kErrorSuccess);
        EXPECT_EQ(size, n);
        EXPECT_EQ(std::string(exact.data(), size), c.bytes);

        std::vector<char> small(n - 1);
        size = n - 1;
        EXPECT_EQ(os().reg_query_value(key_, c.name, &type, small.data(), &size), kErrorMoreData);
        EXPECT_EQ(size, n) << "the size needed comes back with ERROR_MORE_DATA";
    }
    // Names compare without regard to case; a null name is the default value.
    uint32_t size = 0;
    EXPECT_EQ(os().reg_query_value(key_, "COUNTED", nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, cases[0].bytes.size());
    EXPECT_EQ(os().reg_query_value(key_, nullptr, nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, cases[5].bytes.size());
    EXPECT_EQ(os().reg_query_value(key_, "Missing", nullptr, nullptr, &size), kErrorFileNotFound);
}

TEST_F(RegistryTest, EnumerateAndDelete) {
    bool created = false;
    RegKey child;
    for (const char* name : {"Beta", "alpha", "Gamma"}) {
        ASSERT_EQ(os().reg_create_key(key_, name, &child, &created), kErrorSuccess);
        EXPECT_TRUE(created) << name;
        os().reg_close_key(child);
    }
    ASSERT_EQ(os().reg_create_key(key_, "BETA", &child, &created), kErrorSuccess);
    EXPECT_FALSE(created) << "an existing key, whatever its case";
    ASSERT_EQ(os().reg_create_key(child, "Leaf", nullptr, nullptr), kErrorSuccess);
    os().reg_close_key(child);

    std::vector<std::string> names;
    char name[64];
    for (uint32_t i = 0;; ++i) {
        uint32_t size = sizeof name;
        long result = os().reg_enum_key(key_, i, name, &size);
        if (result == kErrorNoMoreItems) break;
        ASSERT_EQ(result, kErrorSuccess);
        EXPECT_EQ(size, std::strlen(name));
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Beta", "Gamma", "alpha"}));

    uint32_t tiny = 3;
    EXPECT_EQ(os().reg_enum_key(key_, 0, name, &tiny), kErrorMoreData);

    // A key with subkeys stays (NT rules); without them it goes.
    EXPECT_EQ(os().reg_delete_key(key_, "Beta"), kErrorAccessDenied);
    EXPECT_EQ(os().reg_delete_key(key_, "beta\\leaf"), kErrorSuccess);
    EXPECT_EQ(os().reg_delete_key(key_, "Beta"), kErrorSuccess);
    EXPECT_EQ(os().reg_open_key(key_, "Beta", kKeyRead, &child), kErrorFileNotFound);

    // Values: enumeration reports names, types and sizes; deletion is by name.
    const uint32_t one = 1;
    ASSERT_EQ(os().reg_set_value(key_, "First", kRegDword, &one, 4), kErrorSuccess);
    ASSERT_EQ(os().reg_set_value(key_, "Second", kRegSz, "abc", 3), kErrorSuccess);
    std::vector<std::pair<std::string, uint32_t>> values;
    for (uint32_t i = 0;; ++i) {
        uint32_t name_size = sizeof name, type = 0, data_size = 0;
        long result = os().reg_enum_value(key_, i, name, &name_size, &type, nullptr, &data_size);
        if (result == kErrorNoMoreItems) break;
        ASSERT_EQ(result, kErrorSuccess);
        values.emplace_back(std::string(name, name_size), type * 100 + data_size);
    }
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values,
              (std::vector<std::pair<std::string, uint32_t>>{{"First", 404}, {"Second", 103}}));
    EXPECT_EQ(os().reg_delete_value(key_, "first"), kErrorSuccess);
    EXPECT_EQ(os().reg_delete_value(key_, "First"), kErrorFileNotFound);
    uint32_t name_size = sizeof name;
    EXPECT_EQ(os().reg_enum_value(key_, 1, name, &name_size, nullptr, nullptr, nullptr),
              kErrorNoMoreItems);
}

TEST(Win32Locks, AnotherProcessHoldsTheLockUntilItIsKilled) {
    const std::string lock = scratch_directory() + "held.lock";
    const std::string ready = scratch_directory() + "held.ready";
    ProcessHandle holder = nullptr;
    ASSERT_TRUE(os().start_process(
        ("\"" + kHelper + "\" hold-lock \"" + lock + "\" \"" + ready + "\"").c_str(), &holder));
    ASSERT_TRUE(wait_for_file(ready)) << "the helper never took the lock";

    EXPECT_EQ(os().open_lock_file(lock.c_str()), nullptr);
    EXPECT_FALSE(os().wait_process(holder, 0, nullptr)) << "still running";

    ASSERT_TRUE(os().terminate_process(holder, 9));
    uint32_t code = 0;
    ASSERT_TRUE(os().wait_process(holder, 30000, &code));
    EXPECT_EQ(code, 9u);
    os().close_process(holder);

    // The system closed the killed holder's handle: the file went with it.
    EXPECT_FALSE(exists(lock));
    LockHandle mine = os().open_lock_file(lock.c_str());
    EXPECT_NE(mine, nullptr);
    os().close_lock_file(mine);
}

TEST(Win32Processes, TheChildReadsBackItsExactCommandLine) {
    ASSERT_NE(os().get_file_attributes(kHelper.c_str()), kInvalidFileAttributes) << kHelper;
    // Tails appended to "<helper>" command-line OUT, spacing and quotes kept.
    const std::vector<std::string> tails = {
        "",
        "  two   spaces",
        " \"quoted arg\" plain",
        " -renderer \"Soft Raster\"",
        " back\\\\slash \"trailing\\\\\" \\\"q\\\"",
        "\t tab",
    };
    int index = 0;
    for (const std::string& tail : tails) {
        SCOPED_TRACE(tail);
        const std::string out = scratch_directory() + "cmdline" + std::to_string(index++) + ".txt";
        const std::string line = "\"" + kHelper + "\" command-line " + out + tail;
        ProcessHandle child = nullptr;
        ASSERT_TRUE(os().start_process(line.c_str(), &child));
        uint32_t code = 1;
        ASSERT_TRUE(os().wait_process(child, 60000, &code));
        os().close_process(child);
        ASSERT_EQ(code, 0u);

        std::string written;
        ASSERT_TRUE(testing::read_file(out, &written));
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = written.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(written.substr(start, end - start));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], line);
        // The C runtime's argv of the child and our own splitter agree.
        std::vector<std::string> runtime_argv(lines.begin() + 1, lines.end());
        std::vector<std::string> ours = split_command_line(line);
        ASSERT_EQ(runtime_argv.size(), ours.size());
        for (size_t i = 1; i < ours.size(); ++i) EXPECT_EQ(runtime_argv[i], ours[i]) << i;
    }
}

}  // namespace
}  // namespace sx
