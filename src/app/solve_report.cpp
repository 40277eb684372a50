#include "app/solve_report.hpp"

#include "core/constants.hpp"

#include <algorithm>
#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

#include "io/instance_reader.hpp"

namespace velmora {

std::vector<RouteReport> ReportRoutes(const Problem& problem, const Result& result) {
  const auto& nodes = problem.nodes();
  const auto& agents = problem.agents_ordered();
  std::vector<RouteReport> routes;
  routes.reserve(agents.size());
  for (size_t k = 0; k < agents.size(); ++k) {
    RouteReport route;
    route.agent_id = agents[k].id;
    auto p = result.paths.find(static_cast<int64_t>(k));
    if (p != result.paths.end()) {
      for (int64_t index : p->second) {
        route.path.push_back(index >= 0 && static_cast<size_t>(index) < nodes.size()
                                 ? nodes[index].id
                                 : static_cast<uint64_t>(index));
      }
    }
    auto t = result.times.find(static_cast<int64_t>(k));
    if (t != result.times.end()) route.cost = t->second;
    routes.push_back(std::move(route));
  }
  return routes;
}

AnytimePoint PointOf(const AnytimeEntry& entry) {
  AnytimePoint point{entry.time, 0.0, 0.0};
  bool first = true;
  for (const auto& time : entry.result.times) {
    point.sum_cost += time.second;
    point.max_cost = first ? time.second : std::max(point.max_cost, time.second);
    first = false;
  }
  return point;
}

bool ImprovementFilter::Improves(const AnytimePoint& point) {
  const double value = min_sum_ ? point.sum_cost : point.max_cost;
  if (!(value < best_ - kImprovementTolerance)) return false;
  best_ = value;
  return true;
}

SolveReport BuildSolveReport(const Problem& problem, Solver& solver, double solve_time) {
  const Result result = solver.get_result();
  SolveReport report;
  report.success = !result.paths.empty();
  report.timeout = result.timeout;
  report.routes = ReportRoutes(problem, result);
  for (const RouteReport& route : report.routes) {
    report.sum_cost += route.cost;
    report.max_cost = std::max(report.max_cost, route.cost);
  }
  report.solve_time = solve_time;
  report.n_generated = result.n_generated;
  report.n_expanded = result.n_expanded;
  report.last_update_time = result.last_update_time;
  if (solver.improve()) {
    const ImproveCounts& c = solver.improve_counts();
    report.improve_counts = {{"improve_iterations", c.iterations},
                             {"improve_moves", c.moves},
                             {"improve_accepted", c.accepted},
                             {"improve_improvements", c.improvements},
                             {"improve_restarts", c.restarts}};
    for (const MoveCounts& move : c.by_move) {
      const std::string key = std::string("improve_") + move.name;
      report.improve_counts.emplace_back(key + "_attempts", move.attempts);
      report.improve_counts.emplace_back(key + "_moves", move.moves);
    }
    report.improve_start_time = c.start_time;
  }

  ImprovementFilter filter(problem.options().objective);
  for (const AnytimeEntry& entry : solver.get_result_process()) {
    const AnytimePoint point = PointOf(entry);
    if (filter.Improves(point)) report.anytime.push_back(point);
  }
  return report;
}

namespace {

// Runs `step` through `hook`, or directly without one.
void RunThrough(const std::function<void(const std::function<void()>&)>& hook, const std::function<void()>& step) {
  if (hook) {
    hook(step);
  } else {
    step();
  }
}

}  // namespace

SolveReport SolveFilledProblem(Problem& problem, double time_limit, const SolveHooks& hooks) {
  if (time_limit > 0) problem.options().time_limit = time_limit;
  const auto start = std::chrono::steady_clock::now();
  auto solver = std::make_unique<Solver>(problem, problem.options(), hooks.sink);
  if (hooks.setup) hooks.setup(*solver, problem);
  RunThrough(hooks.run_search, [&] { solver->solve(); });
  const auto end = std::chrono::steady_clock::now();
  const double seconds =
      static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()) / 1e9;
  SolveReport report = BuildSolveReport(problem, *solver, seconds);
  RunThrough(hooks.destroy_solver, [&] { solver.reset(); });
  return report;
}

SolveReport SolveInstanceText(const std::string& text, double time_limit, const SolveHooks& hooks) {
  const nlohmann::json document = ParseInstanceText(text);
  Problem problem;
  ReadInstance(document, problem);
  return SolveFilledProblem(problem, time_limit, hooks);
}

}  // namespace velmora
