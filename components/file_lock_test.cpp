#include "components/file_lock.h"

#include <gtest/gtest.h>

#include <string>

#include "components/component_search.h"
#include "components/testing/component_env.h"

namespace sx {
namespace {

using testing::ComponentEnvironment;
using testing::ScratchDir;

uint32_t elapsed_since(uint32_t start) { return platform().tick_count() - start; }

TEST(FileLock, ExclusiveWithinAProcessAndGoneWithItsHolder) {
    ScratchDir scratch;
    const FilePath file(scratch / "compindx.dat");
    const FilePath lock_file(scratch / "compindx.dat.lock");
    {
        FileLockHolder first = acquire_lock(file, 0);
        ASSERT_TRUE(first);
        EXPECT_TRUE(lock_file.exists());
        EXPECT_FALSE(acquire_lock(file, 0));
        // Another file of the same folder has its own lock.
        EXPECT_TRUE(acquire_lock(FilePath(scratch / "other.dat"), 0));
    }
    EXPECT_FALSE(lock_file.exists());
    EXPECT_TRUE(acquire_lock(file, 0));
}

// A lock held by another process: the holder is a real child process.
class HeldLock {
public:
    explicit HeldLock(const std::string& file, const std::string& marker,
                      unsigned hold_ms = 60000) {
        const std::string command = quote_argument(testing::host_path(SX_LOCK_HOLDER)) + " " +
                                    quote_argument(file) + " " + quote_argument(marker) + " " +
                                    std::to_string(hold_ms);
        if (!platform().start_process(command.c_str(), &process_)) return;
        for (int i = 0; i < 200 && !FilePath(marker).exists(); ++i) platform().sleep_ms(50);
        ready_ = FilePath(marker).exists();
    }
    ~HeldLock() {
        if (process_) {
            platform().terminate_process(process_, 1);
            platform().wait_process(process_, 10000, nullptr);
            platform().close_process(process_);
        }
    }
    bool ready() const { return ready_; }
    ProcessHandle process() const { return process_; }

private:
    ProcessHandle process_ = nullptr;
    bool ready_ = false;
};

TEST(FileLock, BetweenProcesses) {
    ComponentEnvironment env;
    ASSERT_TRUE(
        env.write_index(env.system_components(),
                        "component=held\nversion=4\ninstalled_local=run;held.exe\ncomponentend\n"));
    const std::string index = env.system_components() + "compindx.dat";
    HeldLock holder(index, env.scratch() / "ready");
    ASSERT_TRUE(holder.ready());

    // Time-out 0: one attempt, no waiting.
    uint32_t start = platform().tick_count();
    EXPECT_FALSE(acquire_lock(FilePath(index), 0));
    EXPECT_LT(elapsed_since(start), 100u);

    // Time-out 250: attempts at 0, 100 and 200 ms, then it gives up.
    start = platform().tick_count();
    EXPECT_FALSE(acquire_lock(FilePath(index), 250));
    uint32_t waited = elapsed_since(start);
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 2000u);

    // The search waits for the lock, then reads the index anyway.
    start = platform().tick_count();
    EXPECT_EQ(component_version("held"), 4);
    EXPECT_GE(elapsed_since(start), 250u);
    EXPECT_EQ(find_component_file("held", "run", nullptr, 0),
              static_cast<int>((env.system_components() + "held.exe").size()) + 1);

    // A holder that is killed frees the lock.
    ASSERT_TRUE(platform().terminate_process(holder.process(), 9));
    ASSERT_TRUE(platform().wait_process(holder.process(), 10000, nullptr));
    FileLockHolder mine;
    for (int i = 0; i < 50 && !mine; ++i) {
        mine = acquire_lock(FilePath(index), 0);
        if (!mine) platform().sleep_ms(20);
    }
    EXPECT_TRUE(mine);
}

}  // namespace
}  // namespace sx
