#pragma once

#include <pybind11/pybind11.h>

#include "app/solve_report.hpp"
#include "model/problem.hpp"
#include "solver/anytime_entry.hpp"

// The arguments that solve callbacks receive, built with the interpreter lock held.

// For Solver.solve: one anytime entry in the solver's own terms (agent and node
// indices): "time", "max_cost", "sum_cost", "n_generated", "n_expanded", "paths",
// "times".
pybind11::dict RecordArgument(const velmora::AnytimeEntry& entry);

// For solve_json_*: one improvement as the result dictionary's "anytime" lists it,
// with the counters and the routes in the problem's ids: "time", "max_cost",
// "sum_cost", "n_generated", "n_expanded", "routes".
pybind11::dict ImprovementArgument(const velmora::AnytimePoint& point, const velmora::AnytimeEntry& entry,
                                   const velmora::Problem& problem);

// A route list as the result dictionary's "routes" holds it.
pybind11::list RouteList(const std::vector<velmora::RouteReport>& routes);
