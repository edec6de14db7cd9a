// Results of the comparison, per face and mesher, and the report written
// from them: Markdown tables, a per-face CSV and the chart's data and script.
#pragma once

#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace occt_bench {

// One mesher on one face at one tolerance.
struct Run {
    bool failed = true;  // no mesh, or (ruvane) a status other than 0
    int status = -1;     // ruvane's status; 0 for a BRepMesh mesh
    double ms = 0;       // best of the timed repetitions
    long triangles = 0;
    double deviation = 0;  // largest distance to the surface, model units
    double boundary = 0;   // largest distance of the open boundary to the edges
    double coverage = 0;   // mesh area / face area
    long edge_bound = 0;   // triangles set by the boundary points alone
};

struct FaceResult {
    std::string model;
    int face = 0;      // index in the model
    std::string kind;  // surface type before the conversion
    int holes = 0;
    double area = 0;
    double tolerance[3] = {0, 0, 0};  // the linear deflection of each run
    std::string export_error;         // non-empty when the face could not be written
    Run ruvane[3], occt[3];
    Run original[3];  // BRepMesh on the face before the NURBS conversion
};

struct Report {
    std::string machine, date, revision;
    double factors[3] = {0, 0, 0};  // tolerance / model diagonal
    std::vector<std::string> models, descriptions;
    std::vector<double> diagonals;
    std::vector<FaceResult> faces;
    // ruvane's first calls in fresh processes, summed per model ("all" for
    // every face), per tolerance; empty when not measured.
    std::map<std::string, double> first_call_ms[3];
};

// Reads the per-model sums of first calls from a table of ruvane-first-call
// --summary ("| model | faces | first / warm calls, ms | ..."), into `into`.
void read_first_calls(std::istream& table, std::map<std::string, double>& into);

// Goals for one run at tolerance d: status 0, deviation and boundary within
// d, coverage within 1 %.
bool meets_goals(const Run& r, double d);

void write_markdown(const Report& report, std::ostream& out);
void write_csv(const Report& report, std::ostream& out);
// Chart data (one row per model and one for the total) and a gnuplot
// script that turns it into `png_path`.
void write_chart(const Report& report, const std::string& data_path, std::ostream& data,
                 std::ostream& script, const std::string& png_path);

}  // namespace occt_bench
