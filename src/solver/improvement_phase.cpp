// The improvement phase of a solve: once the focal search has recorded its
// first solution (or ended, or used half of the budget), the improvement engine
// works on the best routes so far, or on a construction of its own, for the
// rest of the budget. Every new best is recorded like a solution of the search.
// Without a graph (beyond the focal search's node limit) the engine runs alone.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "improve/improvement_engine.hpp"
#include "solver/solver.hpp"

namespace velmora {

bool Solver::FocalSearchDone() const { return improve_ && (found_ != 0 || Elapsed() > 0.5 * time_limit_); }

void Solver::RunImprovement() {
  ImproveSettings settings;
  settings.min_max = objective_type_ == ObjectiveType::MinMax;
  settings.seed = seed_;
  settings.max_iterations = std::max<int64_t>(improve_iterations_, 0);
  const double phase_start = Elapsed();
  const double span = time_limit_ - phase_start;
  settings.progress = [this, phase_start, span] { return span > 0.0 ? (Elapsed() - phase_start) / span : 1.0; };

  const size_t m = context_.AgentCount();
  Result& result = output_.result();
  EngineSolution initial;
  const bool have = found_ != 0 && !result.paths.empty();
  if (have) {
    initial.paths.resize(m);
    initial.costs.assign(m, 0.0);
    for (size_t k = 0; k < m; ++k) {
      const auto path = result.paths.find(static_cast<int64_t>(k));
      if (path == result.paths.end()) continue;
      for (int64_t v : path->second) initial.paths[k].push_back(v < 0 ? UINT64_MAX : static_cast<uint64_t>(v));
    }
  }

  bool out = false;
  const auto out_of_time = [this, &out] {
    if (!out && (stop_requested() || Elapsed() > time_limit_)) out = true;
    return out;
  };
  const auto on_best = [this, m, &result](const EngineSolution& s) {
    result.paths.clear();
    result.times.clear();
    double largest = 0.0;
    for (size_t k = 0; k < m; ++k) {
      result.paths[static_cast<int64_t>(k)].assign(s.paths[k].begin(), s.paths[k].end());
      result.times[static_cast<int64_t>(k)] = s.costs[k];
      largest = std::max(largest, s.costs[k]);
    }
    found_ = 1;
    improved_ = true;
    largest_route_cost_ = largest;
    RecordAnytime(Elapsed());
    UpdateStatistics();
  };
  ImprovementEngine engine(context_, settings);
  const bool solved = engine.Run(have ? &initial : nullptr, out_of_time, on_best);
  improve_counts_ = engine.counts();
  improve_counts_.start_time = phase_start;
  if (solved && out) result.timeout = true;
}

// The engine starts from its own construction and has the whole budget.
int Solver::SolveEngineOnly() {
  if (searched_) ResetSearch();
  searched_ = true;
  goal_id_ = -1;
  improved_ = false;
  output_.ClearLog();
  timer_.start();
  RunImprovement();
  return FinishSearch();
}

}  // namespace velmora
