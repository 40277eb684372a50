#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
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
  // The improvement phase's counts (name, value), only when it ran.
  std::vector<std::pair<std::string, int64_t>> improve_counts;
  // Processor seconds of the solve when the improvement phase began; negative when it did not run.
  double improve_start_time = -1.0;
};

// The routes of `result` in the problem's terms: entry k describes agents_ordered[k],
// its path lists node ids.
std::vector<RouteReport> ReportRoutes(const Problem& problem, const Result& result);

// Time, largest and summed route cost of an anytime entry, as "anytime" lists them.
AnytimePoint PointOf(const AnytimeEntry& entry);

// Passes the anytime entries that improve the objective by more than the
// improvement tolerance, in recording order.
class ImprovementFilter {
 public:
  explicit ImprovementFilter(ObjectiveType objective) : min_sum_(objective == ObjectiveType::MinSum) {}
  bool Improves(const AnytimePoint& point);

 private:
  bool min_sum_;
  double best_ = 1e18;
};

// Reads the final result and the anytime log of a solver that has run. Route k
// describes agents_ordered[k]; its path lists node ids.
SolveReport BuildSolveReport(const Problem& problem, Solver& solver, double solve_time);

// What the caller of a JSON solve decides: where the solver's console lines go
// and how the steps of the solver's life run. An empty hook runs its step on
// the calling thread; the Python bindings run both steps without the
// interpreter lock, the search on a worker thread.
struct SolveHooks {
  // The solver's console lines; standard output and error without one.
  DiagnosticsSink sink;
  // Sees the solver and the filled problem before the search starts (to attach hooks).
  std::function<void(Solver& solver, const Problem& problem)> setup;
  // Runs `search` (the solver's solve()) and returns when it has ended.
  std::function<void(const std::function<void()>& search)> run_search;
  // Runs `destroy` (the solver's destruction, after the report is read).
  std::function<void(const std::function<void()>& destroy)> destroy_solver;
};

// Solves a filled problem as the JSON entry points do: a positive `time_limit`
// overrides the problem's budget; the solver is built from a copy of the problem
// and its options, searches (through hooks.run_search), is reported on and
// destroyed (through hooks.destroy_solver).
SolveReport SolveFilledProblem(Problem& problem, double time_limit, const SolveHooks& hooks = {});

// Parse, fill, solve and report in one call.
SolveReport SolveInstanceText(const std::string& text, double time_limit, const SolveHooks& hooks = {});

}  // namespace velmora
