#include "app/solve_report.hpp"

#include "core/constants.hpp"

#include <algorithm>
#include <chrono>

#include <nlohmann/json.hpp>

#include "io/instance_reader.hpp"

namespace velmora {

SolveReport BuildSolveReport(const Problem& problem, Solver& solver, double solve_time) {
  const Result result = solver.get_result();
  SolveReport report;
  report.success = !result.paths.empty();
  report.timeout = result.timeout;

  const auto& nodes = problem.nodes();
  const auto& agents = problem.agents_ordered();
  for (size_t k = 0; k < agents.size(); ++k) {
    RouteReport route;
    route.agent_id = agents[k].id;
    auto p = result.paths.find(static_cast<int64_t>(k));
    if (p != result.paths.end()) {
      for (int64_t index : p->second) {
        route.path.push_back(index >= 0 && static_cast<size_t>(index) < nodes.size() ? nodes[index].id
                                                                                    : static_cast<uint64_t>(index));
      }
    }
    auto t = result.times.find(static_cast<int64_t>(k));
    if (t != result.times.end()) route.cost = t->second;
    report.sum_cost += route.cost;
    report.max_cost = std::max(report.max_cost, route.cost);
    report.routes.push_back(std::move(route));
  }
  report.solve_time = solve_time;
  report.n_generated = result.n_generated;
  report.n_expanded = result.n_expanded;
  report.last_update_time = result.last_update_time;

  const bool min_sum = problem.options().objective == ObjectiveType::MinSum;
  double best = 1e18;
  for (const AnytimeEntry& entry : solver.get_result_process()) {
    double sum = 0.0;
    double max = 0.0;
    bool first = true;
    for (const auto& time : entry.result.times) {
      sum += time.second;
      max = first ? time.second : std::max(max, time.second);
      first = false;
    }
    const double value = min_sum ? sum : max;
    if (value < best - kImprovementTolerance) {
      report.anytime.push_back(AnytimePoint{entry.time, max, sum});
      best = value;
    }
  }
  return report;
}

SolveReport SolveFilledProblem(Problem& problem, double time_limit, const LockReleaser& release,
                               const DiagnosticsSink& sink) {
  if (time_limit > 0) problem.options().time_limit = time_limit;
  const auto start = std::chrono::steady_clock::now();
  auto solver = std::make_unique<Solver>(problem, problem.options(), sink);
  release([&] { solver->solve(); });
  const auto end = std::chrono::steady_clock::now();
  const double seconds =
      static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()) / 1e9;
  SolveReport report = BuildSolveReport(problem, *solver, seconds);
  release([&] { solver.reset(); });
  return report;
}

SolveReport SolveInstanceText(const std::string& text, double time_limit, const LockReleaser& release,
                              const DiagnosticsSink& sink) {
  const nlohmann::json document = ParseInstanceText(text);
  Problem problem;
  ReadInstance(document, problem);
  return SolveFilledProblem(problem, time_limit, release, sink);
}

}  // namespace velmora
