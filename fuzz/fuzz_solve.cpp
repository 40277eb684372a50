// libFuzzer target: a whole solve from instance text, as the JSON entry points
// run it, with options drawn from the input.
//
// Instances above kMaxFuzzNodes nodes or kMaxFuzzAgents agents are rejected
// before solving so that every run stays short. A hash of the text draws the
// options the document does not fix: whether the improvement engine runs, its
// seed and its iteration cap. The focal search runs with a 10 ms budget, then
// the improvement engine (capped). Every recorded solution of both is checked
// by a literal walk of the routes over the problem as given (ids, matrices,
// windows, assignments): start and closing node, no other agent's depot on the
// way, allowed types, windows with waiting, limits, the recorded cost, and
// every target served exactly once; the report lists one route per agent and
// its anytime list improves strictly. The hash also draws whether the
// improvement run enforces capacities and precedence pairs; it then gives the
// nodes demands, the agents capacities and the targets pairs of every kind
// (where the document has none), and the walk checks the loads and the pairs
// by the served times.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/solve_report.hpp"
#include "io/instance_reader.hpp"
#include "model/problem.hpp"
#include "solver/solver.hpp"

namespace {

constexpr size_t kMaxFuzzNodes = 24;
constexpr size_t kMaxFuzzAgents = 6;
constexpr double kBudgetSeconds = 0.01;
constexpr int64_t kImproveIterations = 200;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_solve: %s: %s\n", what, detail.c_str());
  std::abort();
}

bool SameCost(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (a == b) return true;
  return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::max(std::fabs(a), std::fabs(b)));
}

uint64_t Fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

// The problem as the document states it, by node position: what a route may do.
struct Literal {
  const velmora::Problem& problem;
  bool return_to_end;
  std::map<uint64_t, size_t> index;  // node id -> position
  std::set<size_t> depots;
  bool capacity = false;
  bool precedence = false;
  // Where and when the walked solution serves each node.
  mutable std::vector<int64_t> route_of;
  mutable std::vector<size_t> pos_of;
  mutable std::vector<double> time_of;

  explicit Literal(const velmora::Problem& p) : problem(p), return_to_end(p.options().return_to_end) {
    for (size_t i = 0; i < p.nodes().size(); ++i) index[p.nodes()[i].id] = i;
    for (const velmora::Agent& a : p.agents_ordered()) {
      depots.insert(index.at(a.start_node));
      depots.insert(index.at(a.end_node));
    }
  }

  // Ids shared by two nodes or two agents make routes ambiguous: such documents are not walked.
  bool Unambiguous() const {
    return index.size() == problem.nodes().size() && problem.agents().size() == problem.agents_ordered().size();
  }

  double Leg(const velmora::Agent& agent, size_t u, size_t v) const {
    const auto it = problem.cost_matrices().find(agent.type);
    if (it == problem.cost_matrices().end() || u >= it->second.size() || v >= it->second[u].size()) return 9999.0;
    return it->second[u][v];
  }

  bool Allowed(const velmora::Agent& agent, size_t v) const {
    const auto& table = problem.assignment_constraint().assignments;
    const auto it = table.find(problem.nodes()[v].id);
    if (it == table.end()) return true;
    return std::find(it->second.begin(), it->second.end(), agent.type) != it->second.end();
  }

  // Walks agent k's path; fails the run on the first broken rule.
  void Walk(size_t k, const std::vector<int64_t>& path, double recorded) const {
    const velmora::Agent& agent = problem.agents_ordered()[k];
    const std::string who = "agent " + std::to_string(k);
    if (path.empty()) Fail("empty route", who);
    for (int64_t v : path) {
      if (v < 0 || static_cast<size_t>(v) >= problem.nodes().size()) Fail("unknown node", who);
    }
    const size_t s = index.at(agent.start_node);
    const size_t e = index.at(agent.end_node);
    const size_t last = static_cast<size_t>(path.back());
    if (static_cast<size_t>(path.front()) != s) Fail("start", who);
    if (last != e && (return_to_end || last != s)) Fail("closing node", who);
    const auto& windows = problem.timewindow_constraint().windows;
    double t = 0.0;
    double load = 0.0;
    for (size_t i = 0; i < path.size(); ++i) {
      const size_t v = static_cast<size_t>(path[i]);
      const bool own = v == s || v == e;
      if (i > 0) {
        const size_t u = static_cast<size_t>(path[i - 1]);
        if (!own && depots.count(v) != 0) Fail("another agent's depot", who);
        if (!own && !Allowed(agent, v)) Fail("assignment", who);
        if (!(u == v || (!return_to_end && own))) t += Leg(agent, u, v);
      }
      const auto w = windows.find(problem.nodes()[v].id);
      if (w != windows.end()) {
        if (t > w->second.second) Fail("window", who + " at position " + std::to_string(i));
        t = std::max(t, w->second.first);
      }
      if (i > 0 && agent.time_limit > 0 && t > agent.time_limit) Fail("limit", who);
      if (i > 0 && i + 1 < path.size()) {
        load += problem.nodes()[v].demand;
        route_of[v] = static_cast<int64_t>(k);
        pos_of[v] = i;
        time_of[v] = t;
      }
    }
    if (capacity && agent.capacity_limit > 0 && load > agent.capacity_limit * (1 + 1e-9)) {
      Fail("capacity", who + ": load " + std::to_string(load));
    }
    if (!SameCost(t, recorded)) {
      Fail("route cost", who + ": walked " + std::to_string(t) + ", recorded " + std::to_string(recorded));
    }
  }

  // Every route of a solution, and every target served exactly once.
  void Check(const velmora::Result& result) const {
    if (result.paths.empty()) return;
    if (result.paths.size() != problem.agents_ordered().size()) Fail("routes", "one per agent expected");
    std::vector<int> served(problem.nodes().size(), 0);
    route_of.assign(problem.nodes().size(), -1);
    pos_of.assign(problem.nodes().size(), 0);
    time_of.assign(problem.nodes().size(), 0.0);
    for (const auto& [agent, path] : result.paths) {
      if (agent < 0 || static_cast<size_t>(agent) >= problem.agents_ordered().size()) {
        Fail("path of unknown agent", std::to_string(agent));
      }
      const auto time = result.times.find(agent);
      if (time == result.times.end()) Fail("path without cost", std::to_string(agent));
      Walk(static_cast<size_t>(agent), path, time->second);
      for (int64_t v : path) {
        if (depots.count(static_cast<size_t>(v)) == 0) ++served[static_cast<size_t>(v)];
      }
    }
    for (size_t v = 0; v < served.size(); ++v) {
      if (depots.count(v) == 0 && served[v] != 1) {
        Fail("coverage", "target " + std::to_string(v) + " served " + std::to_string(served[v]) + " times");
      }
    }
    if (precedence) CheckPairs();
  }

  void CheckPairs() const {
    const velmora::PrecedenceLists& lists = problem.precedence_lists();
    const std::vector<velmora::IdPair>* by_kind[] = {&lists.precedence, &lists.precedence_same,
                                                     &lists.precedence_diff};
    for (int kind = 0; kind < 3; ++kind) {
      for (const velmora::IdPair& pair : *by_kind[kind]) {
        const size_t b = index.at(pair.first), a = index.at(pair.second);
        const std::string which = std::to_string(pair.first) + " before " + std::to_string(pair.second);
        const bool same_route = route_of[b] == route_of[a];
        if (kind == 1) {
          if (!same_route || pos_of[b] >= pos_of[a]) Fail("same pair", which);
          continue;
        }
        if (kind == 2 && same_route) Fail("diff pair", which);
        if (time_of[b] > time_of[a] + 1e-9 * std::max(1.0, std::fabs(time_of[a]))) Fail("pair's times", which);
      }
    }
  }
};

// Demands, capacities and pairs for an enforcing run, where the document has none.
void DrawRules(velmora::Problem& problem, const Literal& literal, uint64_t draw) {
  uint64_t x = draw | 1;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  std::vector<size_t> targets;
  for (size_t v = 0; v < problem.nodes().size(); ++v) {
    if (literal.depots.count(v) == 0) targets.push_back(v);
  }
  if (literal.capacity) {
    bool any = false;
    for (const velmora::Agent& a : problem.agents_ordered()) any = any || a.capacity_limit > 0;
    if (!any) {
      for (size_t v : targets) problem.nodes()[v].demand = static_cast<double>(next() % 10);
      for (velmora::Agent& a : problem.agents_ordered()) {
        a.capacity_limit = next() % 4 == 0 ? 0.0 : static_cast<double>(5 + next() % 40);
      }
    }
  }
  const velmora::PrecedenceLists& given = problem.precedence_lists();
  if (literal.precedence && targets.size() >= 2 && given.precedence.empty() && given.precedence_same.empty() &&
      given.precedence_diff.empty()) {
    velmora::PrecedenceLists lists;
    const size_t count = 1 + next() % 5;
    for (size_t i = 0; i < count; ++i) {
      const size_t b = targets[next() % targets.size()], a = targets[next() % targets.size()];
      if (a == b) continue;
      const velmora::IdPair pair{problem.nodes()[b].id, problem.nodes()[a].id};
      (i % 3 == 0 ? lists.precedence : i % 3 == 1 ? lists.precedence_same : lists.precedence_diff).push_back(pair);
    }
    problem.set_precedence_lists(std::move(lists));
  }
}

void CheckSolver(velmora::Solver& solver, const Literal& literal) {
  if (std::getenv("KVT_FUZZ_DUMP") != nullptr) {  // decoded result, to turn a finding into a unit test
    for (const auto& [agent, path] : solver.get_result().paths) {
      std::string text;
      for (int64_t v : path) text += std::to_string(v) + " ";
      std::fprintf(stderr, "agent %lld: [ %s]\n", static_cast<long long>(agent), text.c_str());
    }
  }
  for (const velmora::AnytimeEntry& entry : solver.get_result_process()) literal.Check(entry.result);
  literal.Check(solver.get_result());
}

void CheckReport(const velmora::Problem& problem, velmora::Solver& solver) {
  const velmora::SolveReport report = velmora::BuildSolveReport(problem, solver, 0.0);
  if (report.routes.size() != problem.agents_ordered().size()) Fail("report routes", "count");
  const bool min_sum = problem.options().objective == velmora::ObjectiveType::MinSum;
  for (size_t i = 1; i < report.anytime.size(); ++i) {
    const auto& a = report.anytime[i - 1];
    const auto& b = report.anytime[i];
    if (!((min_sum ? b.sum_cost : b.max_cost) < (min_sum ? a.sum_cost : a.max_cost))) {
      Fail("anytime list", "not strictly improving");
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
  const uint64_t draw = Fnv1a(text);
  const bool improve = problem.options().improve || (draw & 1) != 0;

  // The rules need the improvement engine: the focal run goes without them.
  const bool enforce_capacity = problem.options().enforce_capacity;
  const bool enforce_precedence = problem.options().enforce_precedence;
  problem.options().enforce_capacity = false;
  problem.options().enforce_precedence = false;
  std::unique_ptr<velmora::Solver> solver;
  try {
    problem.options().improve = false;
    solver = std::make_unique<velmora::Solver>(problem, problem.options());
  } catch (const std::out_of_range& e) {
    if (std::strcmp(e.what(), "unordered_map::at: key not found") != 0) Fail("out_of_range", e.what());
    return 0;
  } catch (const std::invalid_argument&) {
    return 0;
  }
  Literal literal(problem);  // the solver has accepted every id
  solver->solve();
  if (literal.Unambiguous()) CheckSolver(*solver, literal);
  CheckReport(problem, *solver);
  if (!improve) return 0;

  // The improvement engine with a drawn seed and cap (the document's own when it sets them).
  problem.options().improve = true;
  if (problem.options().seed == 0) problem.options().seed = draw >> 8;
  const int64_t cap = problem.options().improve_iterations;
  problem.options().improve_iterations =
      cap > 0 && cap <= kImproveIterations ? cap : 1 + static_cast<int64_t>((draw >> 40) % kImproveIterations);
  problem.options().enforce_capacity = enforce_capacity || (draw & 2) != 0;
  problem.options().enforce_precedence = enforce_precedence || (draw & 4) != 0;
  literal.capacity = problem.options().enforce_capacity;
  literal.precedence = problem.options().enforce_precedence;
  if (literal.Unambiguous()) DrawRules(problem, literal, draw);
  std::unique_ptr<velmora::Solver> improved;
  try {
    improved = std::make_unique<velmora::Solver>(problem, problem.options());
  } catch (const std::invalid_argument&) {
    return 0;  // a negative demand or a pair the set-up refuses
  }
  improved->solve();
  if (literal.Unambiguous()) CheckSolver(*improved, literal);
  CheckReport(problem, *improved);
  return 0;
}
