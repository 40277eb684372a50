// Set-up of Solver for instances beyond the focal search's node limit: with
// improvement on, the solver builds only what the improvement engine reads,
// the routing context with one dense n x n table per agent type. No planning
// graph, no time-window edge list and no plugin tables: memory and time grow
// as n^2 x types.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "solver/solver.hpp"

namespace velmora {

// [(type * n + u) * n + v]: the problem's matrix cells (rows and columns are
// node indices), kMissingCost where no matrix gives one, NaN on the diagonal
// (no arc). The complete graph's arcs carry exactly these costs.
std::vector<double> Solver::DenseCostTables(const Problem& problem) const {
  const size_t n = problem.nodes().size();
  const size_t types = static_cast<size_t>(num_types_);
  std::vector<double> costs(types * n * n, kMissingCost);
  for (const auto& [name, matrix] : problem.cost_matrices()) {
    auto known = type_index_.find(name);
    if (known == type_index_.end()) throw std::out_of_range("unordered_map::at: key not found");
    const size_t t = static_cast<size_t>(known->second);
    if (matrix.size() > n) {
      throw std::invalid_argument("cost matrix of agent type '" + name + "' has " + std::to_string(matrix.size()) +
                                  " rows but the problem has " + std::to_string(n) + " nodes");
    }
    for (size_t i = 0; i < matrix.size(); ++i) {
      const std::vector<double>& row = matrix[i];
      if (row.size() > n) {
        throw std::invalid_argument("row " + std::to_string(i) + " of the cost matrix of agent type '" + name +
                                    "' has " + std::to_string(row.size()) + " columns but the problem has " +
                                    std::to_string(n) + " nodes");
      }
      double* out = costs.data() + (t * n + i) * n;
      for (size_t j = 0; j < row.size(); ++j) {
        // NaN and minus infinity would poison every sum and comparison of route costs.
        if (std::isnan(row[j]) || row[j] == -std::numeric_limits<double>::infinity()) {
          throw std::invalid_argument("cost matrix of agent type '" + name + "' holds " +
                                      (std::isnan(row[j]) ? "a value that is not a number" : "minus infinity") +
                                      " at (" + std::to_string(i) + ", " + std::to_string(j) + ")");
        }
        out[j] = row[j];
      }
    }
  }
  for (size_t t = 0; t < types; ++t) {
    for (size_t v = 0; v < n; ++v) costs[(t * n + v) * n + v] = std::numeric_limits<double>::quiet_NaN();
  }
  return costs;
}

// The routing context straight from the problem's matrices: no planning
// graph, no time-window edge list and no plugin tables (the plugins stay
// unconfigured, the focal search does not run).
void Solver::BuildEngineContext(const Problem& problem) {
  owned_graph_.reset();
  graph_ = nullptr;
  own_costs_.clear();
  edges_.clear();
  context_ = RoutingContext(OwnTables(DenseCostTables(problem)));
  context_.SetDiagnostics(&diagnostics_);
  ReportUnreachableDepots();
}

// The reachability note of the set-up, read from the context: a start or end
// node whose every arc of type 0 to another node is missing.
void Solver::ReportUnreachableDepots() {
  unreachable_.clear();
  const uint64_t n = context_.NodeCount();
  for (uint64_t i = 0; i < n; ++i) {
    if (!context_.IsDepot(i)) continue;
    double d = kLargest;
    for (uint64_t j = 0; j < n; ++j) {
      if (j != i) d = std::min(d, context_.CostOr(0, i, j, kLargest));
    }
    if (d == kMissingCost) {
      diagnostics_.Err("point: " + std::to_string(i) + " can't be reached");
      unreachable_.push_back(i);
    }
  }
}

// The engine starts from its own construction and has the whole budget.
int Solver::SolveEngineOnly() {
  if (searched_) ResetSearch();
  searched_ = true;
  goal_id_ = -1;
  improved_ = false;
  anytime_.clear();
  timer_.start();
  RunImprovement();
  return FinishSearch();
}

}  // namespace velmora
