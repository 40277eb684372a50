#pragma once

#include <pybind11/pybind11.h>

// Registers Solver, solve_json_file and solve_json_str with the module, in that order.
void RegisterSolveEntryPoints(pybind11::module_& m);
