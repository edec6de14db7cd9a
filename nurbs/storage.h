// Storage pools, the NURBS records and the S_GET allocators.
//
// Every array of a computation comes from a pool and is released with it in one
// pass; nothing is freed one by one on error paths. Allocators take the highest
// index n (and m), so they allocate n + 1 (and m + 1) elements; on failure they
// record code 15 with their own name and return null, leaving the pool as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "nurbs/conventions.h"
#include "nurbs/geometry.h"

namespace ruvane {

// One list per kind of allocation.
enum PoolList : int {
    kListC1D,
    kListC2DRows,
    kListC2DBlock,
    kListCUA,
    kListCUB,
    kListCUC,
    kListCUS,
    kListF1D,
    kListF1P,
    kListF2DRows,
    kListF2DBlock,
    kListI1D,
    kListI1P,
    kListI2DRows,
    kListI2DBlock,
    kListI2PRows,
    kListI2PBlock,
    kListKNS,
    kListKNT,
    kListNES,
    kListNETRows,
    kListNETBlock,
    kListP1D,
    kListP2DRows,
    kListP2DBlock,
    kListPOS,
    kListPOL,
    kListR12,
    kListR1D,
    kListR1P,
    kListR2DRows,
    kListR2DBlock,
    kListSUS,
    kListSpare0,
    kListSpare1,
    kListSpare2,
    kListSpare3,
    kPoolListCount  // 37
};

// Heads the host allocation of its block (the block follows it), so that
// releasing the node releases the block.
struct PoolNode {
    void* block;
    PoolNode* next;
};

struct Pool {
    PoolNode* head[kPoolListCount] = {};
};

// Releases every block and node; the pool is empty and reusable afterwards.
void pool_release_all(Pool* pool);
// Releases one block early; a block not in the pool is left alone.
void pool_release_block(Pool* pool, PoolList list, const void* block);
void pool_release_block(Pool* pool, const void* block);  // searches every list
// Scoped private pool: released on every exit of the routine that owns it.
// Its lists are set up at the first get(): many owners (a subdivision's
// thousands of cells) never need it, and clearing and scanning 37 empty
// lists for each of them cost as much as cutting a small net.
class PrivatePool {
public:
    PrivatePool() {}
    ~PrivatePool() {
        if (made_) pool_release_all(&lazy_.pool);
    }
    PrivatePool(const PrivatePool&) = delete;
    PrivatePool& operator=(const PrivatePool&) = delete;
    Pool* get() {
        if (!made_) new (&lazy_.pool) Pool();
        made_ = true;
        return &lazy_.pool;
    }

private:
    union Lazy {
        Lazy() {}
        ~Lazy() {}
        Pool pool;
    };
    bool made_ = false;
    Lazy lazy_;
};

// --- Records --------------------------------------------------------------
// `cap` fields hold the allocated highest index; the capacity checks compare
// requests with them, so a record reused for smaller sizes can grow back.

struct KnotVector {
    int m = -1;           // highest knot index
    double* U = nullptr;  // U[0..m], non-decreasing
    int cap = -1;
};

struct Polygon {
    int n = -1;            // highest point index
    Point4* Pw = nullptr;  // Pw[0..n]
    int cap = -1;
};

struct Curve {
    Polygon* pol = nullptr;
    std::int16_t p = 0;  // degree; knt->m == pol->n + p + 1
    KnotVector* knt = nullptr;
};

struct ControlNet {
    int n = -1;             // highest index along u
    int m = -1;             // highest index along v
    Point4** Pw = nullptr;  // Pw[i][j], first index along u
    int cap_n = -1;
    int cap_m = -1;
};

struct Surface {
    ControlNet* net = nullptr;
    std::int16_t p = 0;  // degree in u
    std::int16_t q = 0;  // degree in v
    KnotVector* uknt = nullptr;
    KnotVector* vknt = nullptr;
};

// --- Allocators -------------------------------------------------------------
Point4* S_GETC1D(int n, Pool* pool);
Point4** S_GETC2D(int n, int m, Pool* pool);
Curve** S_GETCUA(int n, Pool* pool);
Curve*** S_GETCUB(int n, Pool* pool);
Curve**** S_GETCUC(int n, Pool* pool);
Curve* S_GETCUS(Pool* pool);
// Polygon of n + 1 points, knot vector of highest index m, curve of degree p.
Curve* S_GETCUR(int n, int m, int p, Pool* pool);
std::int16_t* S_GETF1D(int n, Pool* pool);
std::int16_t** S_GETF1P(int n, Pool* pool);
std::int16_t** S_GETF2D(int n, int m, Pool* pool);
std::int32_t* S_GETI1D(int n, Pool* pool);
std::int32_t** S_GETI1P(int n, Pool* pool);
std::int32_t** S_GETI2D(int n, int m, Pool* pool);
std::int32_t*** S_GETI2P(int n, int m, Pool* pool);
KnotVector* S_GETKNS(Pool* pool);
KnotVector* S_GETKNT(int m, Pool* pool);
ControlNet* S_GETNES(Pool* pool);
ControlNet* S_GETNET(int n, int m, Pool* pool);
Point3* S_GETP1D(int n, Pool* pool);
Point3** S_GETP2D(int n, int m, Pool* pool);
Polygon* S_GETPOS(Pool* pool);
Polygon* S_GETPOL(int n, Pool* pool);
void** S_GETR12(int n, Pool* pool);
double* S_GETR1D(int n, Pool* pool);
double** S_GETR1P(int n, Pool* pool);
double** S_GETR2D(int n, int m, Pool* pool);
Surface* S_GETSUS(Pool* pool);
// Net (n + 1) x (m + 1), degrees p and q, knot vectors of highest indices mu, mv.
Surface* S_GETSUR(int n, int m, int p, int q, int mu, int mv, Pool* pool);

// A surface's records and arrays in one block of the caller's, for pieces
// made by the thousand and dropped soon after (a subdivision's cells): one
// block instead of the seven the allocators take, and reusable. The size is
// 0 when the counts are negative or absurd.
std::size_t surface_block_size(int n, int m, int mu, int mv);
// Lays out a net 0..n x 0..m and knot vectors 0..mu, 0..mv in `block` (at
// least surface_block_size bytes, aligned for doubles), every value zero and
// every capacity that size, and points `sur`'s net and knot vectors at them.
void surface_in_block(void* block, int n, int m, int mu, int mv, Surface* sur);

// Gives `cur` room for points 0..n and knots 0..m: reuses its arrays when they
// are large enough (code 9 with `routine` when not), or allocates fresh ones
// when it has none. Sets n and m.
Status curve_storage(Curve* cur, int n, int m, const char* routine, Pool* pool);
// The same for a surface: net 0..n x 0..m, knots 0..mu and 0..mv.
Status surface_storage(Surface* sur, int n, int m, int mu, int mv, const char* routine, Pool* pool);

// Records code 6 with `routine` and fails: check_range's way out.
Status range_failed(const char* routine);
// Range check: U[0] <= x <= U[m], else code 6 with `routine`. Inline: every
// evaluation asks it, mostly of points well inside.
inline Status check_range(const KnotVector& knt, const char* routine, double x) {
    // Written so that NaN fails too.
    if (knt.U != nullptr && knt.m >= 0 && knt.U[0] <= x && x <= knt.U[knt.m]) return kOk;
    return range_failed(routine);
}

}  // namespace ruvane
