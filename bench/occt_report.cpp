#include "bench/occt_report.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>

namespace occt_bench {

namespace {

std::string format(const char* f, ...) {
    char buffer[512];
    va_list args;
    va_start(args, f);
    std::vsnprintf(buffer, sizeof buffer, f, args);
    va_end(args);
    return buffer;
}

// Totals and extremes of one mesher over a set of faces at one tolerance.
struct Tally {
    int faces = 0, failures = 0, meeting = 0, not_exported = 0;
    double ms = 0, worst_deviation = 0, worst_boundary = 0, worst_coverage = 1;
    long triangles = 0, edge_bound = 0;
    void add(const FaceResult& f, const Run& r, double d) {
        ++faces;
        if (!f.export_error.empty()) {
            ++not_exported;
            return;
        }
        ms += r.ms;
        triangles += r.triangles;
        edge_bound += r.edge_bound;
        if (r.failed) ++failures;
        if (meets_goals(r, d)) ++meeting;
        if (r.triangles == 0) return;
        worst_deviation = std::max(worst_deviation, r.deviation / d);
        worst_boundary = std::max(worst_boundary, r.boundary / d);
        if (std::abs(r.coverage - 1) > std::abs(worst_coverage - 1)) worst_coverage = r.coverage;
    }
};

struct Pair {
    Tally ruvane, occt;
};

// ruvane against BRepMesh on the converted faces, or (`original`) on the
// faces as modelled.
Pair tally(const Report& report, int t, const std::function<bool(const FaceResult&)>& pick,
           bool original = false) {
    Pair p;
    for (const FaceResult& f : report.faces)
        if (pick(f)) {
            p.ruvane.add(f, f.ruvane[t], f.tolerance[t]);
            p.occt.add(f, original ? f.original[t] : f.occt[t], f.tolerance[t]);
        }
    return p;
}

double ratio(double a, double b) { return b > 0 ? a / b : 0; }

const char* kHeader =
    "| D / diagonal | faces | time ms, ruvane / BRepMesh | time ratio | triangles, ruvane / "
    "BRepMesh | triangle ratio | worst deviation / D | worst boundary / D | worst coverage | "
    "failures | faces meeting the goals |\n"
    "|---|---|---|---|---|---|---|---|---|---|---|\n";
const char* kFirstCallHeader =
    "| D / diagonal | faces | time ms, ruvane / BRepMesh | time ratio | first calls ms, "
    "ruvane | triangles, ruvane / BRepMesh | triangle ratio | worst deviation / D | worst "
    "boundary / D | worst coverage | failures | faces meeting the goals |\n"
    "|---|---|---|---|---|---|---|---|---|---|---|---|\n";

// With a first-call figure (ms, negative for none) the table's own column.
std::string row(double factor, const Pair& p, double first_ms = -1) {
    const Tally &r = p.ruvane, &o = p.occt;
    std::string failures = format("%d / %d", r.failures, o.failures);
    if (r.not_exported) failures += format(" (%d not exported)", r.not_exported);
    const std::string first = first_ms >= 0 ? format(" %.1f |", first_ms) : "";
    return format(
        "| %g | %d | %.1f / %.1f | **%.2f** |%s %ld / %ld | **%.2f** | %.2f / %.2f | "
        "%.2f / %.2f | %.2f%% / %.2f%% | %s | %d / %d |\n",
        factor, r.faces, r.ms, o.ms, ratio(r.ms, o.ms), first.c_str(), r.triangles, o.triangles,
        ratio(static_cast<double>(r.triangles), static_cast<double>(o.triangles)),
        r.worst_deviation, o.worst_deviation, r.worst_boundary, o.worst_boundary,
        100 * r.worst_coverage, 100 * o.worst_coverage, failures.c_str(), r.meeting, o.meeting);
}

std::string run_cells(const Run& r, double d) {
    if (r.triangles == 0) return format("status %d | no mesh | | |", r.status);
    return format("status %d | %.2f | %.2f | %.2f%% |", r.status, r.deviation / d, r.boundary / d,
                  100 * r.coverage);
}

void write_misses(const Report& report, std::ostream& out) {
    out << "\n## Faces that miss a goal\n\n"
           "Per face and tolerance where either mesher misses a goal: status, deviation / D, "
           "boundary / D, coverage.\n\n"
           "| model | face | surface | holes | D / diagonal | ruvane | dev | bnd | cov | "
           "BRepMesh | dev | bnd | cov |\n|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    int listed = 0, more = 0;
    for (const FaceResult& f : report.faces)
        for (int t = 0; t < 3; ++t) {
            const double d = f.tolerance[t];
            if (!f.export_error.empty()) {
                if (t == 0)
                    out << format("| %s | %d | %s | | | not exported: %s | | | | | | | |\n",
                                  f.model.c_str(), f.face, f.kind.c_str(), f.export_error.c_str());
                continue;
            }
            if (meets_goals(f.ruvane[t], d) && meets_goals(f.occt[t], d)) continue;
            if (listed++ >= 80) {
                ++more;
                continue;
            }
            out << format("| %s | %d | %s | %d | %g | ", f.model.c_str(), f.face, f.kind.c_str(),
                          f.holes, report.factors[t])
                << run_cells(f.ruvane[t], d) << " " << run_cells(f.occt[t], d) << "\n";
        }
    if (more) out << format("\n... and %d more (see the CSV).\n", more);
    if (listed == 0) out << "| (none) | | | | | | | | | | | | |\n";
}

// Triangles over BRepMesh's, or 0 when BRepMesh made none.
double triangle_ratio(const FaceResult& f, int t) {
    return ratio(static_cast<double>(f.ruvane[t].triangles),
                 static_cast<double>(f.occt[t].triangles));
}

// The triangle goal: at most 0.6 of BRepMesh's on each model, no face above 1.
void write_triangle_goal(const Report& report, int t, std::ostream& out) {
    std::string over;
    int models_over = 0, faces_over = 0;
    for (const std::string& name : report.models) {
        const Pair p = tally(report, t, [&](const FaceResult& f) { return f.model == name; });
        const double r =
            ratio(static_cast<double>(p.ruvane.triangles), static_cast<double>(p.occt.triangles));
        // With how much of it the faces' boundary points alone demand (no
        // vertex inside any face): above 0.6, fewer inner vertices cannot
        // reach the goal.
        if (r > 0.6)
            over += format("%s%s %.2f (%.2f set by the boundary points)", models_over++ ? ", " : "",
                           name.c_str(), r,
                           ratio(static_cast<double>(p.ruvane.edge_bound),
                                 static_cast<double>(p.occt.triangles)));
    }
    for (const FaceResult& f : report.faces)
        if (f.export_error.empty() && triangle_ratio(f, t) > 1.0) ++faces_over;
    out << format(
        "  Triangles per model at most 0.6 of BRepMesh's: %s (%d of %zu models above%s%s); "
        "faces above 1.0: %d.\n",
        models_over ? "missed" : "met", models_over, report.models.size(), models_over ? ": " : "",
        over.c_str(), faces_over);
}

// The faces where ruvane made the most triangles over BRepMesh's.
void write_heaviest(const Report& report, std::ostream& out) {
    struct Entry {
        double r;
        const FaceResult* f;
        int t;
    };
    std::vector<Entry> over;
    for (const FaceResult& f : report.faces)
        for (int t = 0; t < 3; ++t)
            if (f.export_error.empty() && triangle_ratio(f, t) > 1.0)
                over.push_back({triangle_ratio(f, t), &f, t});
    std::sort(over.begin(), over.end(), [](const Entry& a, const Entry& b) { return a.r > b.r; });
    out << "\n## Faces with more triangles than BRepMesh\n\n"
           "The 40 highest ratios (of "
        << over.size()
        << " face and tolerance pairs above 1.0).\n\n"
           "| model | face | surface | holes | D / diagonal | triangles, ruvane / BRepMesh | "
           "ratio |\n|---|---|---|---|---|---|---|\n";
    for (size_t k = 0; k < over.size() && k < 40; ++k) {
        const FaceResult& f = *over[k].f;
        const int t = over[k].t;
        out << format("| %s | %d | %s | %d | %g | %ld / %ld | %.2f |\n", f.model.c_str(), f.face,
                      f.kind.c_str(), f.holes, report.factors[t], f.ruvane[t].triangles,
                      f.occt[t].triangles, over[k].r);
    }
    if (over.empty()) out << "| (none) | | | | | | |\n";
}

void write_goals(const Report& report, std::ostream& out) {
    const auto all = [](const FaceResult&) { return true; };
    out << "\nGoals (against BRepMesh on the converted faces):\n\n";
    for (int t = 0; t < 3; ++t) {
        const Pair p = tally(report, t, all);
        const double time = ratio(p.ruvane.ms, p.occt.ms);
        const double size =
            ratio(static_cast<double>(p.ruvane.triangles), static_cast<double>(p.occt.triangles));
        // The totals follow the largest faces; the median shows the typical one.
        std::vector<double> per_face;
        for (const FaceResult& f : report.faces)
            if (f.export_error.empty() && f.occt[t].ms > 0)
                per_face.push_back(f.ruvane[t].ms / f.occt[t].ms);
        std::sort(per_face.begin(), per_face.end());
        const double median = per_face.empty() ? 0 : per_face[per_face.size() / 2];
        out << format(
            "- D = %g diagonal: time ratio %.2f (goal 0.3: %s; median over the faces "
            "%.2f), triangle ratio %.2f (goal 0.7: %s), %d of %d faces meet every "
            "per-face goal.\n",
            report.factors[t], time, time <= 0.3 ? "met" : "missed", median, size,
            size <= 0.7 ? "met" : "missed", p.ruvane.meeting, p.ruvane.faces);
        write_triangle_goal(report, t, out);
    }
}

}  // namespace

bool meets_goals(const Run& r, double d) {
    return !r.failed && r.status == 0 && r.deviation <= d && r.boundary <= d &&
           std::abs(r.coverage - 1) <= 0.01;
}

void write_markdown(const Report& report, std::ostream& out) {
    out << "# ruvane against BRepMesh\n\n"
        << "Machine: " << report.machine << ". Date: " << report.date
        << ". Revision: " << report.revision << ".\n\n"
        << "Every face of every model is converted to NURBS and meshed by both meshers at the "
           "same linear deflection D (a fraction of the model's bounding-box diagonal): ruvane "
           "through its C interface with surface and trim tolerance D, BRepMesh on a copy of "
           "the face alone with angular deflection 0.5. Times are processor time of the calling "
           "thread (both meshers run single-threaded), the best of 3 to 10 runs (one "
           "for a run over a second). "
           "Both meshes are measured the same way with the geometry kernel: deviation is the "
           "largest distance of a vertex, edge midpoint or centroid to the true surface, "
           "boundary the largest distance of a vertex or midpoint of the mesh's open boundary "
           "to the face's true edges (both in units of D), coverage the area the mesh covers on "
           "the surface (each triangle cut into 16 whose corners are carried to the "
           "surface, so that the chord height hardly counts) over the true "
           "face area. A failure is a face without a mesh or, for ruvane, a status other than 0. "
           "Goals per face: status 0, deviation and boundary within D, coverage within 1%. "
           "Pairs read ruvane / BRepMesh.";
    const bool firsts = !report.first_call_ms[0].empty();
    if (firsts)
        out << " First calls: the sum over the model's faces of ruvane's first tessellation "
               "in a fresh process (median over fresh processes per face, from "
               "ruvane-first-call; see ruvane_first_call.md).";
    else
        out << " First calls were not measured in this run.";
    // The first-call figure of `name` at tolerance t, or -1.
    const auto first = [&](const std::string& name, int t) {
        const auto it = report.first_call_ms[t].find(name);
        return it == report.first_call_ms[t].end() ? -1.0 : it->second;
    };
    const char* header = firsts ? kFirstCallHeader : kHeader;
    out << "\n\n## Summary\n\n" << header;
    const auto all = [](const FaceResult&) { return true; };
    for (int t = 0; t < 3; ++t)
        out << row(report.factors[t], tally(report, t, all), firsts ? first("all", t) : -1);
    write_goals(report, out);
    out << "\nFor reference, BRepMesh on the same faces before the NURBS conversion (planes, "
           "cylinders, cones, spheres, tori and sweeps as modelled), with the same settings; "
           "ruvane's side is unchanged:\n\n"
        << kHeader;
    for (int t = 0; t < 3; ++t) out << row(report.factors[t], tally(report, t, all, true));
    for (size_t m = 0; m < report.models.size(); ++m) {
        const std::string& name = report.models[m];
        const auto pick = [&](const FaceResult& f) { return f.model == name; };
        out << format("\n## %s\n\n%s; diagonal %.4g.\n\n", name.c_str(),
                      report.descriptions[m].c_str(), report.diagonals[m])
            << header;
        for (int t = 0; t < 3; ++t)
            out << row(report.factors[t], tally(report, t, pick), firsts ? first(name, t) : -1);
    }
    write_heaviest(report, out);
    write_misses(report, out);
}

void read_first_calls(std::istream& table, std::map<std::string, double>& into) {
    for (std::string line; std::getline(table, line);) {
        char name[128];
        int faces = 0;
        double first = 0, warm = 0;
        if (std::sscanf(line.c_str(), "| %127s | %d | %lf / %lf |", name, &faces, &first, &warm) ==
            4)
            into[name] = first;
    }
}

void write_csv(const Report& report, std::ostream& out) {
    out << "model,face,surface,holes,area,tolerance,mesher,status,failed,ms,triangles,"
           "deviation,boundary,coverage,edge_bound\n";
    for (const FaceResult& f : report.faces)
        for (int t = 0; t < 3; ++t)
            for (int m = 0; m < 3; ++m) {
                const Run& r = m == 0 ? f.ruvane[t] : m == 1 ? f.occt[t] : f.original[t];
                out << format("%s,%d,%s,%d,%.6g,%.6g,%s,%d,%d,%.4f,%ld,%.6g,%.6g,%.6f,%ld\n",
                              f.model.c_str(), f.face, f.kind.c_str(), f.holes, f.area,
                              f.tolerance[t],
                              m == 0   ? "ruvane"
                              : m == 1 ? "BRepMesh"
                                       : "BRepMesh-unconverted",
                              r.status, r.failed ? 1 : 0, r.ms, r.triangles, r.deviation,
                              r.boundary, r.coverage, r.edge_bound);
            }
}

void write_chart(const Report& report, const std::string& data_path, std::ostream& data,
                 std::ostream& script, const std::string& png_path) {
    std::vector<std::string> names = report.models;
    names.push_back("all");
    for (size_t m = 0; m < names.size(); ++m) {
        const auto pick = [&](const FaceResult& f) {
            return names[m] == "all" || f.model == names[m];
        };
        data << m << " " << names[m];
        double worst[6] = {0, 0, 0, 0, 0, 0};
        for (int t = 0; t < 3; ++t) {
            const Pair p = tally(report, t, pick);
            data << format(" %.4f %.4f", ratio(p.ruvane.ms, p.occt.ms),
                           ratio(static_cast<double>(p.ruvane.triangles),
                                 static_cast<double>(p.occt.triangles)));
            worst[0] = std::max(worst[0], p.ruvane.worst_deviation);
            worst[1] = std::max(worst[1], p.occt.worst_deviation);
            worst[2] = std::max(worst[2], p.ruvane.worst_boundary);
            worst[3] = std::max(worst[3], p.occt.worst_boundary);
            worst[4] = std::max(worst[4], 100 * std::abs(p.ruvane.worst_coverage - 1));
            worst[5] = std::max(worst[5], 100 * std::abs(p.occt.worst_coverage - 1));
        }
        data << format(" %.4f %.4f %.4f %.4f %.4f %.4f\n", worst[0], worst[1], worst[2], worst[3],
                       worst[4], worst[5]);
    }
    const std::string legend[3] = {format("D = %g diagonal", report.factors[0]),
                                   format("D = %g diagonal", report.factors[1]),
                                   format("D = %g diagonal", report.factors[2])};
    script
        << "set terminal pngcairo size 1500,1500 font 'DejaVu Sans,10' noenhanced\n"
        << "set output '" << png_path << "'\n"
        << "set multiplot layout 3,2 title 'ruvane against BRepMesh: " << report.machine << ", "
        << report.date << "'\n"
        << "set style data histogram\nset style histogram cluster gap 1\n"
        << "set style fill solid 0.85 border -1\nset boxwidth 0.9\n"
        << "set xtics rotate by -35 scale 0\nset grid ytics\nset key inside top left opaque box\n"
        << "set yrange [0:*]\n";
    const std::string f = "'" + data_path + "'";
    script << "set title 'time ratio ruvane / BRepMesh (goal 0.3)'\n"
           << "plot " << f << " using 3:xtic(2) title '" << legend[0] << "', '' using 5 title '"
           << legend[1] << "', '' using 7 title '" << legend[2]
           << "', 0.3 with lines dt 2 lc rgb 'black' title 'goal'\n"
           << "set title 'triangle ratio ruvane / BRepMesh (goal 0.7)'\n"
           << "plot " << f << " using 4:xtic(2) title '" << legend[0] << "', '' using 6 title '"
           << legend[1] << "', '' using 8 title '" << legend[2]
           << "', 0.7 with lines dt 2 lc rgb 'black' title 'goal'\n"
           << "set yrange [0:3]\n"
           << "set title 'worst deviation from the surface / D, all tolerances (clipped at 3)'\n"
           << "plot " << f << " using 9:xtic(2) title 'ruvane', '' using 10 title 'BRepMesh', "
           << "1 with lines dt 2 lc rgb 'black' title 'goal'\n"
           << "set title 'worst boundary distance to the true edges / D (clipped at 3)'\n"
           << "plot " << f << " using 11:xtic(2) title 'ruvane', '' using 12 title 'BRepMesh', "
           << "1 with lines dt 2 lc rgb 'black' title 'goal'\n"
           << "set yrange [0:5]\n"
           << "set title 'worst coverage error in %, all tolerances (clipped at 5)'\n"
           << "plot " << f << " using 13:xtic(2) title 'ruvane', '' using 14 title 'BRepMesh', "
           << "1 with lines dt 2 lc rgb 'black' title 'goal'\n"
           << "unset multiplot\n";
}

}  // namespace occt_bench
