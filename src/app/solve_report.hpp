#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <memory>
#include <vector>

#include "core/diagnostics.hpp"
#include "model/problem.hpp"
#include "solver/solver.hpp"

namespace velmora {

struct RouteReport {
  uint64_t agent_id = 0;
  std::vector<uint64_t> path;  // node ids in visiting order
  double cost = 0.0;
};

struct AnytimePoint {
  double time = 0.0;
  double max_cost = 0.0;
  double sum_cost = 0.0;
};

// Everything the JSON entry points report about one solve.
struct SolveReport {
  bool success = false;
  bool timeout = false;
  std::vector<RouteReport> routes;
  double solve_time = 0.0;
  double max_cost = 0.0;
  double sum_cost = 0.0;
  int64_t n_generated = 0;
  int64_t n_expanded = 0;
  double last_update_time = 0.0;
  std::vector<AnytimePoint> anytime;  // strict improvements only
};

// Reads the final result and the anytime log of a solver that has run. Route k
// describes agents_ordered[k]; its path lists node ids.
SolveReport BuildSolveReport(const Problem& problem, Solver& solver, double solve_time);

// Runs `work` where the caller chooses; the Python bindings run it with the
// interpreter lock released.
using LockReleaser = std::function<void(const std::function<void()>& work)>;

// Solves a filled problem as the JSON entry points do: a positive `time_limit`
// overrides the problem's budget; the solver is built from a copy of the problem
// and its options, runs, is reported on and destroyed. The search and the
// destruction run through `release`. The solver's console lines go to `sink`
// (standard output and error without one).
SolveReport SolveFilledProblem(Problem& problem, double time_limit, const LockReleaser& release,
                               const DiagnosticsSink& sink = {});

// Parse, fill, solve and report in one call.
SolveReport SolveInstanceText(const std::string& text, double time_limit, const LockReleaser& release,
                              const DiagnosticsSink& sink = {});

}  // namespace velmora
