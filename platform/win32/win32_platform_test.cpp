// The Win32 side of the seam against the real system (Wine in CI): the
// contracts that the rest of the system relies on and that the POSIX
// emulation copies, checked where they come from.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace sx {
namespace {

Platform& os() { return native_platform(); }

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

        // The C runtime's argv of the child and our own splitter agree (the
        // program's own name aside).
        std::string written, expected = line + "\n";
        ASSERT_TRUE(testing::read_file(out, &written));
        const std::vector<std::string> ours = split_command_line(line);
        for (size_t i = 1; i < ours.size(); ++i) expected += ours[i] + "\n";
        EXPECT_EQ(written, expected);
    }
}

}  // namespace
}  // namespace sx
