// The mesher's small tables: the grid of points that finds edge ends near
// one another, and the list of a boundary vertex's places along a face's
// chains. Both are reached from the mesher only through cases a test file
// can hardly arrange (an end moved out of the last slot of its cube, a
// vertex a loop passes three times), and a wrong removal or a lost place
// there changes a mesh only now and then.
#include "iges/model_mesh_parts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

namespace ruvane::iges::detail {
namespace {

double dist(const P3& a, const P3& b) {
    return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

// Points added, removed and moved in random order, many to a cube (the
// cubes are 1 wide, the points within 3 of the origin): after every step
// a look round any point visits each present point within half a cube
// once, and no point removed or moved away. Moving a point is removing it
// and adding it where it went, as the pairing of ends does; a cube's last
// point, its first, its only one and one in between all go in turn.
TEST(PointGrid, RemovalsKeepEveryOtherPointFindable) {
    std::srand(11);
    auto coordinate = [] { return 6.0 * (std::rand() / (RAND_MAX + 1.0)) - 3.0; };
    auto random_point = [&] { return P3{coordinate(), coordinate(), 0.25 * coordinate()}; };
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        PointGrid grid(1.0);
        std::vector<P3> at;
        std::vector<char> present;
        for (int step = 0; step < 300; ++step) {
            const int kind = std::rand() % 3;
            const int id = present.empty() ? 0 : std::rand() % static_cast<int>(present.size());
            if (kind == 0 || present.empty()) {
                at.push_back(random_point());
                present.push_back(1);
                grid.add(at.back(), static_cast<int>(at.size()) - 1);
            } else if (present[static_cast<size_t>(id)]) {
                grid.remove(at[static_cast<size_t>(id)], id);
                if (kind == 1) {
                    present[static_cast<size_t>(id)] = 0;
                } else {  // moved
                    at[static_cast<size_t>(id)] = random_point();
                    grid.add(at[static_cast<size_t>(id)], id);
                }
            }
            for (int look = 0; look < 4; ++look) {
                const P3 p = look == 0 ? at[static_cast<size_t>(id)] : random_point();
                std::vector<int> seen(at.size(), 0);
                size_t visits = 0;
                grid.near(p, [&](int x) {
                    // A list run into a loop would never end.
                    if (++visits > 2 * at.size()) return true;
                    ++seen[static_cast<size_t>(x)];
                    return false;
                });
                ASSERT_LE(visits, at.size()) << "step " << step << ": a point visited twice";
                for (size_t x = 0; x < at.size(); ++x) {
                    if (!present[x]) {
                        ASSERT_EQ(seen[x], 0) << "step " << step << ": removed point " << x;
                    } else if (dist(p, at[x]) <= 0.5) {
                        ASSERT_EQ(seen[x], 1) << "step " << step << ": point " << x << " lost";
                    }
                }
            }
        }
    }
}

// A vertex where a loop passes three or more times (a pole's points, a
// loop touching itself) keeps every place, in the order given, through a
// copy and a move, as the mesher stores it for the face.
TEST(PlaceList, ThreeOrMorePlacesAreKeptInOrder) {
    for (int count : {1, 2, 3, 4, 9}) {
        SCOPED_TRACE(std::to_string(count) + " places");
        PlaceList list;
        std::vector<PlaceList::Place> want;
        for (int k = 0; k < count; ++k) {
            want.push_back({k % 3, 10.0 * k + 0.5});
            list.push_back(want.back());
        }
        EXPECT_EQ(list.front(), want.front());
        const PlaceList copy = list;
        std::vector<PlaceList> stored(3);
        stored[2] = std::move(list);
        for (const PlaceList* kept : {&copy, static_cast<const PlaceList*>(&stored[2])})
            EXPECT_EQ(std::vector<PlaceList::Place>(kept->begin(), kept->end()), want);
    }
}

}  // namespace
}  // namespace ruvane::iges::detail
