// The improvement phase of a solve: once the focal search has recorded its
// first solution (or ended, or spent the smaller of 5 % of the budget and
// 0.2 s without one), the improvement engine works on the best routes so far,
// or on a construction of its own, for the rest of the budget; with
// Options.threads above 1 a team of engines does, one thread each. Every new
// best is recorded like a solution of the search. Without a graph (beyond the
// focal search's node limit) the engine runs alone.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "improve/improvement_engine.hpp"
#include "improve/improvement_team.hpp"
#include "solver/solver.hpp"

namespace velmora {

namespace {

// The focal search's time without a solution before the engine starts from its own construction.
constexpr double kHandOverShare = 0.05;
constexpr double kHandOverSeconds = 0.2;

}  // namespace

bool Solver::FocalSearchDone() const {
  return improve_ && (found_ != 0 || Elapsed() > std::min(kHandOverShare * time_limit_, kHandOverSeconds));
}

uint32_t Solver::UsableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<uint32_t>(count);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

uint32_t Solver::search_threads() const {
  const uint32_t wanted = threads_ == 0 ? UsableProcessors() : threads_;
  return std::min(wanted, kMaxSearchThreads);
}

void Solver::RunImprovement() {
  ImproveSettings settings;
  settings.min_max = objective_type_ == ObjectiveType::MinMax;
  settings.seed = seed_;
  settings.max_iterations = std::max<int64_t>(improve_iterations_, 0);
  const double phase_start = Elapsed();
  const double span = time_limit_ - phase_start;
  settings.progress = [this, phase_start, span] { return span > 0.0 ? (Elapsed() - phase_start) / span : 1.0; };
  settings.budget = std::max(time_limit_, 0.0);

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
  const uint32_t threads = search_threads();
  bool solved = false;
  if (threads <= 1) {
    ImprovementEngine engine(context_, settings);
    solved = engine.Run(have ? &initial : nullptr, out_of_time, on_best);
    improve_counts_ = engine.counts();
  } else {
    // Every other search measures its own processor time against the rest of the budget.
    std::atomic<bool> late{false};
    const auto make_clock = [this, span, &late] {
      auto timer = std::make_shared<SimpleTimer>();
      ImprovementTeam::Clock clock;
      clock.out_of_time = [this, timer, span, &late] {
        if (!stop_requested() && !(timer->elapsed() > span)) return false;
        late.store(true, std::memory_order_relaxed);
        return true;
      };
      clock.progress = [timer, span] { return span > 0.0 ? timer->elapsed() / span : 1.0; };
      return clock;
    };
    ImprovementTeam team(context_, settings, threads);
    solved = team.Run(have ? &initial : nullptr, out_of_time, make_clock, on_best);
    improve_counts_ = team.counts();
    out = out || late.load(std::memory_order_relaxed);
  }
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
