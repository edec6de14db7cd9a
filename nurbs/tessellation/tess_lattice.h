// Cut lines of the subdivision sized from the surface's bend: where a cell
// off its plane may be cut so that its pieces come out about as large as the
// surface tolerance allows, and neighbouring cells still cut at the same
// lines.
#pragma once

#include "nurbs/nurbs.h"
#include "nurbs/tessellation/tess_scratch.h"

namespace ruvane::tess {

// What lay_lattice sampled of one surface, kept for the lattices laid on it
// after: both orders of two bending directions, and the bands of saddle
// rows, sample the same lines again. A sampling is reused only where every
// value that placed its points is the same (to the bit), so the lattices
// come out as they would from fresh samples; only successful ones are kept.
struct LatticeSamples {
    static constexpr int kGrids = 6;
    struct Grid {
        int direction = 0, M = 0;
        double L = 0.0, from = 0.0, to = 0.0;
        Table<Point3> points;
    };
    struct Bend {
        int direction = 0;
        double L = 0.0, L_other = 0.0, bend = 0.0;
    };
    const Surface* sur = nullptr;
    Grid grids[kGrids];
    int grid_count = 0, grid_next = 0;  // grid_next: the one replaced when all are taken
    Bend bends[2];
    int bend_count = 0;
};

struct Lattice {
    Table<double> lines;        // ascending from 0 to the domain's length; empty: none
    bool tried = false;         // laid once per direction, successful or not
    bool closed = false;        // the sized direction closes on itself (a full turn)
    bool other_closed = false;  // and the other direction
    // The budget's share its pieces take (0: none laid); when the other
    // direction's lattice is laid first, its share, set by the caller.
    double share = 0.0, other_share = 0.0;
    // The other direction's lattice when it was laid first (else null): a
    // lattice laid second gives each of its pieces what the other's pieces
    // leave of the budget there.
    const Lattice* other = nullptr;
    // Where the direction's cells are expected to be cut: the lines when
    // laid, else halving's even pieces (empty where the surface could not
    // be sampled).
    Table<double> expected;
    // A lattice for a band of the other direction's pieces, [from, to]
    // across (to 0: the whole domain), where the surface is a saddle: the
    // triangles through a cell's corners stand off it by the larger of the
    // two directions' sags, not their sum, so each takes the whole budget.
    double from = 0.0, to = 0.0;
    bool saddle = false;
    int periods = 1;  // the spans it was laid in
    // The other direction bends by half the budget or more.
    bool bent_across = false;
    // Laid second, its pieces take what the other lattice's pieces leave
    // at each step: they count on those being cut as laid.
    bool local = false;
    // Laid second: the bands of its pieces where every sampled step is a
    // saddle, as pairs of its lines (low, high).
    Table<double> saddles;
    // Where the surface's samples are kept between lattices (null: none).
    LatticeSamples* samples = nullptr;
};

// Lays lines at constant v (direction 1) or constant u (direction 2) over
// the metric domain [0, Lu] x [0, Lv]. The domain is cut into `periods`
// equal spans (a power of two: the lines of halving cuts made before stay
// lines), each span gets the fewest lines that keep the sag of every piece
// of the surface's lines across them within its share of `budget`; they are
// spread by the sampled bend, so a rational piece that runs faster in places
// gets its lines closer there. Where `strip_share` is above 0 and the
// other direction needs no cut, cells reach from one open edge to the other
// (a chamfer, a fillet strip): their pieces also keep the two outermost
// lines within `edge` (their tolerances across the domain edge) or else all
// but `strip_share` of the surface's area with two triangles each,
// whichever asks for fewer, as either lets a cell pass. No lines where the
// surface cannot be sampled or halving would do as well; false only when
// storage fails.
bool lay_lattice(const Surface& sur, int direction, double Lu, double Lv, int periods,
                 double budget, const double edge[2], double strip_share, Scratch& s, Lattice* out);

// The lattice line half way (by count) between the lines `lo` and `hi`;
// false when either is not a line or no line lies between them.
bool lattice_cut(const Lattice& lattice, double lo, double hi, double* line);

// The lattice line strictly between `lo` and `hi` nearest their middle,
// whether or not they are lines; false when there is none.
bool lattice_inner(const Lattice& lattice, double lo, double hi, double* line);

// Whether `lo` and `hi` are neighbouring lines of the lattice: a cell
// between them is one piece of it.
bool lattice_piece(const Lattice& lattice, double lo, double hi);

}  // namespace ruvane::tess
