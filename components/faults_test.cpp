// The lock, and failure paths of the component services reached by making one
// platform call fail, with retry schedules on a clock the test controls.
#include <gtest/gtest.h>

#include "components/component_search.h"
#include "components/file_lock.h"
#include "components/file_path.h"
#include "components/testing/component_env.h"
#include "components/text_util.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/virtual_clock.h"

namespace sx {
namespace {

using testing::ScratchDir;
using testing::VirtualClock;

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

TEST(LockSchedule, AttemptsEveryHundredMillisecondsUntilTheTimeOut) {
    ScratchDir scratch;
    struct Case {
        unsigned timeout;
        uint32_t start;
        int attempts;
    };
    const Case cases[] = {
        {0, 1000, 1},   {1, 1000, 1},     {100, 1000, 1},        {101, 1000, 2},
        {250, 1000, 3}, {1000, 1000, 10}, {250, 0xFFFFFFA0u, 3},  // across the counter's wrap
    };
    for (const Case& c : cases) {
        VirtualClock clock(c.start);
        clock.fail_lock(".lock");
        ScopedPlatform use(&clock);
        EXPECT_FALSE(acquire_lock(FilePath(scratch / "compindx.dat"), c.timeout));
        EXPECT_EQ(clock.calls(Call::open_lock_file), c.attempts) << c.timeout;
        for (uint32_t sleep : clock.sleeps()) EXPECT_EQ(sleep, 100u);
    }
    // A lock that frees up on the third attempt is taken.
    VirtualClock clock(5);
    clock.fail_lock(".lock").failures = 2;
    ScopedPlatform use(&clock);
    EXPECT_TRUE(acquire_lock(FilePath(scratch / "compindx.dat"), 250));
    EXPECT_EQ(clock.calls(Call::open_lock_file), 3);
}

TEST(ComponentSearchFaults, AnUnreadableIndexOrLockStillLeavesTheOthers) {
    testing::ComponentEnvironment env;
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

TEST(FilePathFaults, CopyFailuresLeaveNoDestination) {
    ScratchDir scratch;
    std::string payload(100000, 'p');
    ASSERT_TRUE(testing::write_file(scratch / "src", payload));
    const FilePath source(scratch / "src");
    const FilePath destination(scratch / "dst");

    FaultyPlatform faults;
    ScopedPlatform use(&faults);
    faults.fail_open_file(scratch / "dst", "w");
    EXPECT_FALSE(source.copy_to(destination, true));
    EXPECT_FALSE(destination.exists());

    if (FaultyPlatform::supports_disk_full()) {
        faults.clear_rules();
        faults.fail_after_writes(scratch / "dst", 40000);  // the disk fills during the second block
        EXPECT_FALSE(source.copy_to(destination, true));
        EXPECT_FALSE(destination.exists());
    }
    faults.clear_rules();
    EXPECT_TRUE(source.copy_to(destination, false));
}

}  // namespace
}  // namespace sx
