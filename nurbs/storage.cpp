#include "nurbs/storage.h"

#include <cstdint>
#include <new>

namespace ruvane {

namespace {

// Largest block we ask the host for: keeps every size computation inside a
// 32-bit size_t, whatever counts a caller passes.
constexpr std::size_t kMaxBlock = 0x7FFFFFF0u;

// Byte size of (n + 1) * (m + 1) elements of `elem` bytes, or 0 when the
// indices are negative or the size is absurd.
std::size_t block_size(int n, int m, std::size_t elem) {
    if (n < 0 || m < 0) return 0;
    const std::uint64_t rows = static_cast<std::uint64_t>(n) + 1;
    const std::uint64_t cols = static_cast<std::uint64_t>(m) + 1;
    const std::uint64_t total = rows * cols * elem;
    if (total > kMaxBlock) return 0;
    return static_cast<std::size_t>(total);
}

// A block's node sits in front of it, in the same host allocation: one call
// to the host per block, and the node is released with its block. The slot
// keeps the block aligned for doubles on 32-bit builds too.
union NodeSlot {
    PoolNode node;
    double align[2];
};

// Allocates `bytes` and links the block on `list`. On failure records code 15
// with `routine`.
void* pool_take(Pool* pool, PoolList list, std::size_t bytes, const char* routine) {
    if (pool == nullptr || bytes == 0) {
        set_error(kErrStorage, routine);
        return nullptr;
    }
    void* raw = host_allocate(sizeof(NodeSlot) + bytes);
    if (raw == nullptr) {
        set_error(kErrStorage, routine);
        return nullptr;
    }
    NodeSlot* slot = new (raw) NodeSlot;
    void* block = slot + 1;
    slot->node = PoolNode{block, pool->head[list]};
    pool->head[list] = &slot->node;
    return block;
}

template <typename T>
T* take_array(Pool* pool, PoolList list, int n, const char* routine) {
    const std::size_t bytes = block_size(n, 0, sizeof(T));
    if (bytes == 0) {
        set_error(kErrStorage, routine);
        return nullptr;
    }
    void* block = pool_take(pool, list, bytes, routine);
    if (block == nullptr) return nullptr;
    T* array = static_cast<T*>(block);
    for (int i = 0; i <= n; ++i) new (&array[i]) T();
    return array;
}

// Row array of n + 1 pointers into one block of (n + 1) x (m + 1) elements.
template <typename T>
T** take_rows(Pool* pool, PoolList rows_list, PoolList block_list, int n, int m,
              const char* routine) {
    const std::size_t bytes = block_size(n, m, sizeof(T));
    if (bytes == 0) {
        set_error(kErrStorage, routine);
        return nullptr;
    }
    T** rows = take_array<T*>(pool, rows_list, n, routine);
    if (rows == nullptr) return nullptr;
    void* raw = pool_take(pool, block_list, bytes, routine);
    if (raw == nullptr) {
        pool_release_block(pool, rows_list, rows);
        return nullptr;
    }
    T* block = static_cast<T*>(raw);
    const std::size_t stride = static_cast<std::size_t>(m) + 1;
    const std::size_t total = (static_cast<std::size_t>(n) + 1) * stride;
    for (std::size_t k = 0; k < total; ++k) new (&block[k]) T();
    for (int i = 0; i <= n; ++i) rows[i] = block + static_cast<std::size_t>(i) * stride;
    return rows;
}

template <typename T>
T* take_record(Pool* pool, PoolList list, const char* routine) {
    void* raw = pool_take(pool, list, sizeof(T), routine);
    return raw == nullptr ? nullptr : new (raw) T();
}

}  // namespace

// Undo helpers for the joined allocators, so that a failed allocator leaves
// the pool as it found it.
namespace {
template <typename T>
void release_rows(Pool* pool, PoolList rows_list, PoolList block_list, T** rows) {
    if (rows == nullptr) return;
    pool_release_block(pool, block_list, rows[0]);
    pool_release_block(pool, rows_list, rows);
}
void release_knots(Pool* pool, KnotVector* knt) {
    if (knt == nullptr) return;
    pool_release_block(pool, kListKNT, knt->U);
    pool_release_block(pool, kListKNS, knt);
}
void release_polygon(Pool* pool, Polygon* pol) {
    if (pol == nullptr) return;
    pool_release_block(pool, kListPOL, pol->Pw);
    pool_release_block(pool, kListPOS, pol);
}
void release_net(Pool* pool, ControlNet* net) {
    if (net == nullptr) return;
    release_rows(pool, kListNETRows, kListNETBlock, net->Pw);
    pool_release_block(pool, kListNES, net);
}
}  // namespace

void pool_release_all(Pool* pool) {
    if (pool == nullptr) return;
    for (PoolNode*& head : pool->head) {
        while (head != nullptr) {
            PoolNode* node = head;
            head = node->next;
            host_release(node);
        }
    }
}

void pool_release_block(Pool* pool, PoolList list, const void* block) {
    if (pool == nullptr || block == nullptr || list < 0 || list >= kPoolListCount) return;
    PoolNode** link = &pool->head[list];
    while (*link != nullptr) {
        PoolNode* node = *link;
        if (node->block == block) {
            *link = node->next;
            host_release(node);
            return;
        }
        link = &node->next;
    }
}

void pool_release_block(Pool* pool, const void* block) {
    if (pool == nullptr || block == nullptr) return;
    for (int list = 0; list < kPoolListCount; ++list) {
        for (PoolNode* node = pool->head[list]; node != nullptr; node = node->next) {
            if (node->block == block) {
                pool_release_block(pool, static_cast<PoolList>(list), block);
                return;
            }
        }
    }
}

Point4* S_GETC1D(int n, Pool* pool) { return take_array<Point4>(pool, kListC1D, n, "S_GETC1D"); }
Point4** S_GETC2D(int n, int m, Pool* pool) {
    return take_rows<Point4>(pool, kListC2DRows, kListC2DBlock, n, m, "S_GETC2D");
}
Curve** S_GETCUA(int n, Pool* pool) { return take_array<Curve*>(pool, kListCUA, n, "S_GETCUA"); }
Curve*** S_GETCUB(int n, Pool* pool) { return take_array<Curve**>(pool, kListCUB, n, "S_GETCUB"); }
Curve**** S_GETCUC(int n, Pool* pool) {
    return take_array<Curve***>(pool, kListCUC, n, "S_GETCUC");
}
Curve* S_GETCUS(Pool* pool) { return take_record<Curve>(pool, kListCUS, "S_GETCUS"); }

Curve* S_GETCUR(int n, int m, int p, Pool* pool) {
    Polygon* pol = S_GETPOL(n, pool);
    KnotVector* knt = pol == nullptr ? nullptr : S_GETKNT(m, pool);
    Curve* cur = knt == nullptr ? nullptr : S_GETCUS(pool);
    if (cur == nullptr) {
        release_polygon(pool, pol);
        release_knots(pool, knt);
        // The record names this allocator, not the inner one that ran out.
        set_error(kErrStorage, "S_GETCUR");
        return nullptr;
    }
    cur->pol = pol;
    cur->knt = knt;
    cur->p = static_cast<std::int16_t>(p);
    return cur;
}

std::int16_t* S_GETF1D(int n, Pool* pool) {
    return take_array<std::int16_t>(pool, kListF1D, n, "S_GETF1D");
}
std::int16_t** S_GETF1P(int n, Pool* pool) {
    return take_array<std::int16_t*>(pool, kListF1P, n, "S_GETF1P");
}
std::int16_t** S_GETF2D(int n, int m, Pool* pool) {
    return take_rows<std::int16_t>(pool, kListF2DRows, kListF2DBlock, n, m, "S_GETF2D");
}
std::int32_t* S_GETI1D(int n, Pool* pool) {
    return take_array<std::int32_t>(pool, kListI1D, n, "S_GETI1D");
}
std::int32_t** S_GETI1P(int n, Pool* pool) {
    return take_array<std::int32_t*>(pool, kListI1P, n, "S_GETI1P");
}
std::int32_t** S_GETI2D(int n, int m, Pool* pool) {
    return take_rows<std::int32_t>(pool, kListI2DRows, kListI2DBlock, n, m, "S_GETI2D");
}
std::int32_t*** S_GETI2P(int n, int m, Pool* pool) {
    return take_rows<std::int32_t*>(pool, kListI2PRows, kListI2PBlock, n, m, "S_GETI2P");
}
KnotVector* S_GETKNS(Pool* pool) { return take_record<KnotVector>(pool, kListKNS, "S_GETKNS"); }

KnotVector* S_GETKNT(int m, Pool* pool) {
    double* U = take_array<double>(pool, kListKNT, m, "S_GETKNT");
    if (U == nullptr) return nullptr;
    KnotVector* knt = take_record<KnotVector>(pool, kListKNS, "S_GETKNT");
    if (knt == nullptr) {
        pool_release_block(pool, kListKNT, U);
        return nullptr;
    }
    knt->m = m;
    knt->cap = m;
    knt->U = U;
    return knt;
}

ControlNet* S_GETNES(Pool* pool) { return take_record<ControlNet>(pool, kListNES, "S_GETNES"); }

ControlNet* S_GETNET(int n, int m, Pool* pool) {
    Point4** Pw = take_rows<Point4>(pool, kListNETRows, kListNETBlock, n, m, "S_GETNET");
    if (Pw == nullptr) return nullptr;
    ControlNet* net = take_record<ControlNet>(pool, kListNES, "S_GETNET");
    if (net == nullptr) {
        release_rows(pool, kListNETRows, kListNETBlock, Pw);
        return nullptr;
    }
    net->n = net->cap_n = n;
    net->m = net->cap_m = m;
    net->Pw = Pw;
    return net;
}

Point3* S_GETP1D(int n, Pool* pool) { return take_array<Point3>(pool, kListP1D, n, "S_GETP1D"); }
Point3** S_GETP2D(int n, int m, Pool* pool) {
    return take_rows<Point3>(pool, kListP2DRows, kListP2DBlock, n, m, "S_GETP2D");
}
Polygon* S_GETPOS(Pool* pool) { return take_record<Polygon>(pool, kListPOS, "S_GETPOS"); }

Polygon* S_GETPOL(int n, Pool* pool) {
    Point4* Pw = take_array<Point4>(pool, kListPOL, n, "S_GETPOL");
    if (Pw == nullptr) return nullptr;
    Polygon* pol = take_record<Polygon>(pool, kListPOS, "S_GETPOL");
    if (pol == nullptr) {
        pool_release_block(pool, kListPOL, Pw);
        return nullptr;
    }
    pol->n = pol->cap = n;
    pol->Pw = Pw;
    return pol;
}

void** S_GETR12(int n, Pool* pool) { return take_array<void*>(pool, kListR12, n, "S_GETR12"); }
double* S_GETR1D(int n, Pool* pool) { return take_array<double>(pool, kListR1D, n, "S_GETR1D"); }
double** S_GETR1P(int n, Pool* pool) { return take_array<double*>(pool, kListR1P, n, "S_GETR1P"); }
double** S_GETR2D(int n, int m, Pool* pool) {
    return take_rows<double>(pool, kListR2DRows, kListR2DBlock, n, m, "S_GETR2D");
}
Surface* S_GETSUS(Pool* pool) { return take_record<Surface>(pool, kListSUS, "S_GETSUS"); }

Surface* S_GETSUR(int n, int m, int p, int q, int mu, int mv, Pool* pool) {
    ControlNet* net = S_GETNET(n, m, pool);
    KnotVector* uknt = net == nullptr ? nullptr : S_GETKNT(mu, pool);
    KnotVector* vknt = uknt == nullptr ? nullptr : S_GETKNT(mv, pool);
    Surface* sur = vknt == nullptr ? nullptr : S_GETSUS(pool);
    if (sur == nullptr) {
        release_net(pool, net);
        release_knots(pool, uknt);
        release_knots(pool, vknt);
        set_error(kErrStorage, "S_GETSUR");
        return nullptr;
    }
    sur->net = net;
    sur->uknt = uknt;
    sur->vknt = vknt;
    sur->p = static_cast<std::int16_t>(p);
    sur->q = static_cast<std::int16_t>(q);
    return sur;
}

Status curve_storage(Curve* cur, int n, int m, const char* routine, Pool* pool) {
    if (cur == nullptr || n < 0 || m < 0) {
        set_error(kErrCapacity, routine);
        return kFail;
    }
    if (cur->pol != nullptr && cur->knt != nullptr) {
        if (cur->pol->cap < n || cur->knt->cap < m) {
            set_error(kErrCapacity, routine);
            return kFail;
        }
    } else {
        Polygon* pol = S_GETPOL(n, pool);
        if (pol == nullptr) return kFail;
        KnotVector* knt = S_GETKNT(m, pool);
        if (knt == nullptr) return kFail;
        cur->pol = pol;
        cur->knt = knt;
    }
    cur->pol->n = n;
    cur->knt->m = m;
    return kOk;
}

Status surface_storage(Surface* sur, int n, int m, int mu, int mv, const char* routine,
                       Pool* pool) {
    if (sur == nullptr || n < 0 || m < 0 || mu < 0 || mv < 0) {
        set_error(kErrCapacity, routine);
        return kFail;
    }
    if (sur->net != nullptr && sur->uknt != nullptr && sur->vknt != nullptr) {
        if (sur->net->cap_n < n || sur->net->cap_m < m || sur->uknt->cap < mu ||
            sur->vknt->cap < mv) {
            set_error(kErrCapacity, routine);
            return kFail;
        }
    } else {
        ControlNet* net = S_GETNET(n, m, pool);
        if (net == nullptr) return kFail;
        KnotVector* uknt = S_GETKNT(mu, pool);
        if (uknt == nullptr) return kFail;
        KnotVector* vknt = S_GETKNT(mv, pool);
        if (vknt == nullptr) return kFail;
        sur->net = net;
        sur->uknt = uknt;
        sur->vknt = vknt;
    }
    sur->net->n = n;
    sur->net->m = m;
    sur->uknt->m = mu;
    sur->vknt->m = mv;
    return kOk;
}

namespace {

// Rounds a byte count up to whole doubles, so that every array of a joined
// block stays aligned on 32-bit builds too.
constexpr std::size_t doubles_up(std::size_t bytes) {
    return (bytes + sizeof(double) - 1) / sizeof(double) * sizeof(double);
}

// The layout of a surface block, in order: the three records, the row
// pointers, the points, the two knot arrays.
struct BlockLayout {
    std::size_t rows, points, uknots, vknots, total;
};

bool block_layout(int n, int m, int mu, int mv, BlockLayout* out) {
    const std::size_t records = doubles_up(sizeof(ControlNet)) + 2 * doubles_up(sizeof(KnotVector));
    const std::size_t row_bytes = block_size(n, 0, sizeof(Point4*));
    const std::size_t point_bytes = block_size(n, m, sizeof(Point4));
    const std::size_t u_bytes = block_size(mu, 0, sizeof(double));
    const std::size_t v_bytes = block_size(mv, 0, sizeof(double));
    if (row_bytes == 0 || point_bytes == 0 || u_bytes == 0 || v_bytes == 0) return false;
    out->rows = records;
    out->points = out->rows + doubles_up(row_bytes);
    out->uknots = out->points + point_bytes;
    out->vknots = out->uknots + u_bytes;
    const std::uint64_t total = static_cast<std::uint64_t>(out->vknots) + v_bytes;
    if (total > kMaxBlock) return false;
    out->total = static_cast<std::size_t>(total);
    return true;
}

}  // namespace

std::size_t surface_block_size(int n, int m, int mu, int mv) {
    BlockLayout layout{};
    return block_layout(n, m, mu, mv, &layout) ? layout.total : 0;
}

void surface_in_block(void* block, int n, int m, int mu, int mv, Surface* sur) {
    BlockLayout layout{};
    if (!block_layout(n, m, mu, mv, &layout)) return;
    unsigned char* base = static_cast<unsigned char*>(block);
    ControlNet* net = new (base) ControlNet();
    KnotVector* uknt = new (base + doubles_up(sizeof(ControlNet))) KnotVector();
    KnotVector* vknt =
        new (base + doubles_up(sizeof(ControlNet)) + doubles_up(sizeof(KnotVector))) KnotVector();
    Point4** rows = reinterpret_cast<Point4**>(base + layout.rows);
    Point4* points = reinterpret_cast<Point4*>(base + layout.points);
    const std::size_t stride = static_cast<std::size_t>(m) + 1;
    for (std::size_t k = 0; k < (static_cast<std::size_t>(n) + 1) * stride; ++k)
        new (&points[k]) Point4();
    for (int i = 0; i <= n; ++i) rows[i] = points + static_cast<std::size_t>(i) * stride;
    double* U = reinterpret_cast<double*>(base + layout.uknots);
    double* V = reinterpret_cast<double*>(base + layout.vknots);
    for (int i = 0; i <= mu; ++i) U[i] = 0.0;
    for (int i = 0; i <= mv; ++i) V[i] = 0.0;
    net->n = net->cap_n = n;
    net->m = net->cap_m = m;
    net->Pw = rows;
    uknt->m = uknt->cap = mu;
    uknt->U = U;
    vknt->m = vknt->cap = mv;
    vknt->U = V;
    sur->net = net;
    sur->uknt = uknt;
    sur->vknt = vknt;
}

Status range_failed(const char* routine) {
    set_error(kErrRange, routine);
    return kFail;
}

}  // namespace ruvane
