#include "bindings/solve_bindings.hpp"

// Solver, solve_json_file and solve_json_str are registered here once the engine is in place.
void RegisterSolveEntryPoints(pybind11::module_& /*m*/) {}
