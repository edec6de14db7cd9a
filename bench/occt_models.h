// The benchmark's models, built with the geometry kernel so that nothing is
// fetched: analytic primitives, fillets, booleans, sweeps, lofts and free-form
// trimmed faces.
#pragma once

#include <TopoDS_Shape.hxx>
#include <string>
#include <vector>

namespace occt_bench {

struct Model {
    std::string name;
    std::string what;  // one line for the report
    TopoDS_Shape shape;
};

// All models; `quick` keeps one small model of each kind.
std::vector<Model> make_models(bool quick);

}  // namespace occt_bench
