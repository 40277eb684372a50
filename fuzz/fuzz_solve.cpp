// libFuzzer target: a whole solve from instance text with a 10 ms processor-time
// budget, as the JSON entry points run it.
//
// Instances above kMaxFuzzNodes nodes or kMaxFuzzAgents agents are rejected
// before solving so that every run stays short. After the search, every route
// of the final result must be a valid route for its agent whose cost is the
// recorded one, and the report must list one route per agent. The instance is then
// solved again with the improvement engine (an iteration cap keeps it short), whose
// result must be valid too and serve every target exactly once.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/solve_report.hpp"
#include "io/instance_reader.hpp"
#include "model/problem.hpp"
#include "postopt/route_evaluator.hpp"
#include "solver/solver.hpp"

namespace {

constexpr size_t kMaxFuzzNodes = 24;
constexpr size_t kMaxFuzzAgents = 6;
constexpr double kBudgetSeconds = 0.01;
constexpr int64_t kImproveIterations = 50;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_solve: %s: %s\n", what, detail.c_str());
  std::abort();
}

bool SameCost(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (a == b) return true;
  return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::max(std::fabs(a), std::fabs(b)));
}

void CheckResult(velmora::Solver& solver, bool return_to_end) {
  velmora::RouteEvaluator evaluator;
  evaluator.SetReturnToEnd(return_to_end);
  evaluator.SetAgentStarts(solver.starts());
  evaluator.SetAgentEnds(solver.ends());
  evaluator.SetTimeWindows(solver.windows());
  const velmora::Result result = solver.get_result();
  if (std::getenv("KVT_FUZZ_DUMP") != nullptr) {  // decoded result, to turn a finding into a unit test
    for (const velmora::AnytimeEntry& entry : solver.get_result_process()) {
      std::fprintf(stderr, "anytime %g:", entry.time);
      for (const auto& [agent, path] : entry.result.paths) {
        std::fprintf(stderr, " %lld[", static_cast<long long>(agent));
        for (int64_t v : path) std::fprintf(stderr, " %lld", static_cast<long long>(v));
        const auto t = entry.result.times.find(agent);
        std::fprintf(stderr, " ]=%g", t == entry.result.times.end() ? -1.0 : t->second);
      }
      std::fprintf(stderr, "\n");
    }
    for (const auto& [agent, path] : result.paths) {
      std::string text;
      for (int64_t v : path) text += std::to_string(v) + " ";
      const auto t = result.times.find(agent);
      std::fprintf(stderr, "agent %lld type %lld limit %g: [ %s] cost %.17g\n", static_cast<long long>(agent),
                   static_cast<long long>(solver.agents()[agent].type), solver.agents()[agent].time_limit,
                   text.c_str(), t == result.times.end() ? -1.0 : t->second);
    }
  }
  for (const auto& [agent, path] : result.paths) {
    if (agent < 0 || static_cast<size_t>(agent) >= solver.agents().size()) {
      Fail("path of unknown agent", std::to_string(agent));
    }
    const auto time = result.times.find(agent);
    if (time == result.times.end()) Fail("path without cost", std::to_string(agent));
    const velmora::RouteCost rc = evaluator.EvaluateRoute(solver.graph(), solver.nodes(), solver.agents(), path,
                                                          static_cast<uint64_t>(agent));
    if (!rc.valid) Fail("invalid route in the result", "agent " + std::to_string(agent));
    if (!SameCost(rc.cost, time->second)) {
      Fail("route cost", "agent " + std::to_string(agent) + ": evaluated " + std::to_string(rc.cost) +
                             ", recorded " + std::to_string(time->second));
    }
  }
}

// A found solution serves every target once and no target twice.
void CheckCoverage(velmora::Solver& solver) {
  const velmora::Result result = solver.get_result();
  if (result.paths.empty()) return;
  const velmora::RoutingContext& context = solver.context();
  std::vector<int> served(context.NodeCount(), 0);
  for (const auto& entry : result.paths) {
    for (int64_t v : entry.second) {
      if (v >= 0 && static_cast<size_t>(v) < served.size() && context.IsTarget(static_cast<uint64_t>(v))) {
        ++served[static_cast<size_t>(v)];
      }
    }
  }
  for (size_t v = 0; v < served.size(); ++v) {
    if (context.IsTarget(v) && served[v] != 1) {
      Fail("coverage", "target " + std::to_string(v) + " served " + std::to_string(served[v]) + " times");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  nlohmann::json document;
  try {
    document = velmora::ParseInstanceText(text);
  } catch (const nlohmann::json::exception&) {  // syntax errors, number overflow (406)
    return -1;
  }
  velmora::Problem problem;
  try {
    velmora::ReadInstance(document, problem);
  } catch (const nlohmann::json::exception&) {
    return 0;
  }
  if (problem.nodes().size() > kMaxFuzzNodes || problem.agents_ordered().size() > kMaxFuzzAgents) return -1;

  problem.options().time_limit = kBudgetSeconds;
  std::unique_ptr<velmora::Solver> solver;
  try {
    solver = std::make_unique<velmora::Solver>(problem, problem.options());
  } catch (const std::out_of_range& e) {
    if (std::strcmp(e.what(), "unordered_map::at: key not found") != 0) Fail("out_of_range", e.what());
    return 0;
  } catch (const std::invalid_argument&) {
    return 0;
  }

  solver->solve();
  CheckResult(*solver, problem.options().return_to_end);
  if (problem.options().improve) return 0;  // the document asked for the improvement: checked above

  // The same instance with the improvement engine, capped so that the run stays short: every
  // recorded solution must be valid, and the final one must serve every target exactly once.
  problem.options().improve = true;
  problem.options().improve_iterations = kImproveIterations;
  auto improved = std::make_unique<velmora::Solver>(problem, problem.options());
  improved->solve();
  CheckResult(*improved, problem.options().return_to_end);
  CheckCoverage(*improved);
  problem.options().improve = false;

  const velmora::SolveReport report = velmora::BuildSolveReport(problem, *solver, 0.0);
  if (report.routes.size() != problem.agents_ordered().size()) Fail("report routes", "count");
  for (size_t i = 1; i < report.anytime.size(); ++i) {
    const auto& a = report.anytime[i - 1];
    const auto& b = report.anytime[i];
    const bool min_sum = problem.options().objective == velmora::ObjectiveType::MinSum;
    if (!((min_sum ? b.sum_cost : b.max_cost) < (min_sum ? a.sum_cost : a.max_cost))) {
      Fail("anytime list", "not strictly improving");
    }
  }
  return 0;
}
