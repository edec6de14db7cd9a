// The tessellator's growable tables: the room a fresh table takes from the
// host, growth that keeps every record, and refusals that leave a table as
// it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "include/component_services.h"
#include "nurbs/tessellation/tess_scratch.h"
#include "nurbs/testing/ruvane_test_host.h"

namespace {

using ruvane::tess::Scratch;
using ruvane::tess::Table;

// A host that notes the size of every request and refuses those above
// `most` bytes.
struct Requests {
    std::vector<size_t> sizes;
    size_t most = size_t{1} << 30;
    long live = 0;
};

Requests& requests() {
    static Requests r;
    return r;
}

class TessScratch : public ::testing::Test {
protected:
    void SetUp() override {
        requests() = {};
        ComponentServices table = {};
        table.table_version = 1;
        table.allocate = [](size_t size) -> void* {
            requests().sizes.push_back(size);
            void* block = size <= requests().most ? std::malloc(size) : nullptr;
            requests().live += block != nullptr;
            return block;
        };
        table.release = [](void* block) {
            requests().live -= block != nullptr;
            std::free(block);
        };
        component_client_init(&table);
        // What the scratch adds to every block it asks for.
        Scratch s;
        s.get(0);
        header_ = requests().sizes.back();
    }
    void TearDown() override {
        EXPECT_EQ(requests().live, 0);
        sx::testing::install_counting_host();
    }
    size_t header_ = 0;
};

TEST_F(TessScratch, FreshTableTakesTheRoomItAsksFor) {
    // (asked, room): never below 8 slots, else exactly the records asked.
    const int cases[][2] = {{1, 8}, {8, 8}, {9, 9}, {65, 65}, {1000, 1000}};
    for (const auto& c : cases) {
        Scratch s;
        Table<double> t;
        requests().sizes.clear();
        ASSERT_TRUE(t.resize(s, c[0], 2.5));
        EXPECT_EQ(t.cap, c[1]) << c[0];
        ASSERT_EQ(requests().sizes.size(), 1u) << c[0];
        EXPECT_EQ(requests().sizes[0], header_ + sizeof(double) * c[1]) << c[0];
        for (int i = 0; i < t.size; ++i) ASSERT_EQ(t[i], 2.5);
    }
}

TEST_F(TessScratch, GrowthKeepsEveryRecordAndDoubles) {
    Scratch s;
    Table<int> pushed;
    requests().sizes.clear();
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(pushed.push(s, 3 * i));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(pushed[i], 3 * i);
    // 8, 16, ..., 1024 slots: one request per doubling, the old block given
    // back each time.
    EXPECT_EQ(requests().sizes.size(), 8u);
    EXPECT_EQ(pushed.cap, 1024);
    EXPECT_EQ(requests().live, 1);

    // A table sized once doubles from its own size.
    Table<int> sized;
    ASSERT_TRUE(sized.resize(s, 100, 7));
    ASSERT_TRUE(sized.push(s, 8));
    EXPECT_EQ(sized.cap, 200);
    EXPECT_EQ(sized[99], 7);
    EXPECT_EQ(sized[100], 8);
    EXPECT_EQ(requests().live, 2);
}

TEST_F(TessScratch, RefusedGrowthLeavesTheTableAsItWas) {
    struct Block {
        char bytes[1 << 20];
    };
    Scratch s;
    Table<Block> t;
    ASSERT_TRUE(t.reserve(s, 2));
    Block* const data = t.data;
    const auto unchanged = [&](const char* what) {
        EXPECT_EQ(t.data, data) << what;
        EXPECT_EQ(t.cap, 8) << what;
        EXPECT_EQ(t.size, 0) << what;
    };
    // The host refuses 8 GB...
    EXPECT_FALSE(t.reserve(s, 1 << 13));
    unchanged("refused by the host");
    // ... and a 32-bit size_t cannot count 4 GB, which it must not wrap
    // into a small request the host grants.
    EXPECT_FALSE(t.reserve(s, 1 << 12));
    unchanged("more bytes than a size_t counts");
    // Beyond 2^29 records the host is not asked at all.
    requests().sizes.clear();
    Table<char> wide;
    EXPECT_FALSE(wide.reserve(s, (1 << 29) + 1));
    EXPECT_TRUE(requests().sizes.empty());
    EXPECT_EQ(wide.cap, 0);
}

}  // namespace
