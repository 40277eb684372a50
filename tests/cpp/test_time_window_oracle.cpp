// TimeWindowConstraintChecker::CheckExtension against a literal, step-by-step
// reading of the rule on random instances, both as the solver wires it (one
// routing context) and as a plugin used on its own (Init and the setters).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/routing_context.hpp"
#include "graph/graph_tables.hpp"
#include "plugins/time_window_constraint_checker.hpp"
#include "test_fixtures.hpp"

using namespace velmora;
using velmora::testing_support::TestGraph;

namespace {

struct Case {
  TestGraph graph;
  std::vector<SolverNode> nodes;
  std::vector<SolverAgent> agents;
  std::vector<uint64_t> starts;  // may be empty
  std::vector<uint64_t> ends;    // may be empty
  WindowTable windows;
  bool return_to_end = false;
};

// The rule in the words of its description, with hash-map windows and the
// graph's cost vectors, and no precomputed tables.
CheckResult Literal(const Case& k, const SearchState& s, uint64_t a, uint64_t n) {
  const CheckResult reject{false, 0.0, false};
  if (n >= NodeSet::kBits || a >= s.costs.size() || a >= s.positions.size()) return reject;
  const uint64_t m = k.agents.size();
  auto window = [&](uint64_t v) -> std::optional<std::pair<double, double>> {
    auto it = k.windows.find(v);
    if (it == k.windows.end()) return std::nullopt;
    return it->second;
  };
  auto is_start = [&](uint64_t v) {
    for (uint64_t x : k.starts) {
      if (x == v) return true;
    }
    return false;
  };
  auto is_end = [&](uint64_t v) {
    for (uint64_t x : k.ends) {
      if (x == v) return true;
    }
    return false;
  };
  auto start_of = [&](uint64_t j) -> std::optional<uint64_t> {
    if (j < k.starts.size()) return k.starts[j];
    return std::nullopt;
  };
  auto end_of = [&](uint64_t j) -> std::optional<uint64_t> {
    if (j < k.ends.size()) return k.ends[j];
    return std::nullopt;
  };
  auto travel = [&](uint64_t j, uint64_t x, uint64_t y) {
    if (start_of(j) == y) return 0.0;
    if (!k.return_to_end && end_of(j) == y) return 0.0;
    const CostVector c = k.graph.GetArcCost(x, y);
    if (c.empty()) return 0.0;
    return c[static_cast<size_t>(k.agents[j].type)];
  };
  auto admissible = [&](uint64_t j, uint64_t i) {
    if (!k.ends.empty() && is_end(i) && end_of(j) != i) return false;
    if (!k.starts.empty() && is_start(i) && start_of(j) != i) return false;
    if (start_of(j) == i || end_of(j) == i) return true;  // its own depots, whatever the assignment
    const std::vector<int64_t>& types = k.nodes[i].types;
    bool allowed = false;
    for (int64_t t : types) allowed = allowed || t == k.agents[j].type;
    return allowed;
  };

  // Shortcuts: when some path through targets (nodes that are no listed start
  // or end) beats the direct arc for a type, the dominance test is off for its
  // agents and the coverage test reads shortest paths through targets.
  auto raw = [&](int64_t type, uint64_t x, uint64_t y) {
    if (x == y) return 0.0;
    const CostVector c = k.graph.GetArcCost(x, y);
    return c.empty() ? 0.0 : c[static_cast<size_t>(type)];
  };
  const uint64_t nn = k.nodes.size();
  auto target = [&](uint64_t v) { return !is_start(v) && !is_end(v); };
  auto shortest = [&](int64_t type) {
    std::vector<std::vector<double>> dist(nn, std::vector<double>(nn));
    for (uint64_t x = 0; x < nn; ++x) {
      for (uint64_t y = 0; y < nn; ++y) dist[x][y] = raw(type, x, y);
    }
    for (uint64_t v = 0; v < nn; ++v) {
      if (!target(v)) continue;
      for (uint64_t x = 0; x < nn; ++x) {
        for (uint64_t y = 0; y < nn; ++y) dist[x][y] = std::min(dist[x][y], dist[x][v] + dist[v][y]);
      }
    }
    return dist;
  };
  auto metric = [&](int64_t type) {
    if (k.windows.empty()) return true;
    for (uint64_t v = 0; v < nn; ++v) {
      for (uint64_t x = 0; x < nn; ++x) {
        for (uint64_t y = 0; y < nn; ++y) {
          if (!target(v) || x == v || y == v || x == y) continue;
          const double direct = raw(type, x, y);
          if (raw(type, x, v) + raw(type, v, y) < direct - 1e-9 * std::max(1.0, std::abs(direct))) return false;
        }
      }
    }
    return true;
  };
  auto reach = [&](uint64_t j, uint64_t x, uint64_t y) {
    if (x == y) return 0.0;
    const int64_t type = k.agents[j].type;
    if (metric(type)) return travel(j, x, y);
    if (start_of(j) == y || (!k.return_to_end && end_of(j) == y)) return 0.0;
    return shortest(type)[x][y];
  };

  const double t_in = s.costs[a];
  double t = t_in;
  const uint64_t d = s.positions[a];
  // Leaving a's start: wait for its window, or reject when it has closed.
  if (a < m && start_of(a) == d && window(d)) {
    const double departure = t - (n == d ? 0.0 : travel(a, d, n));
    if (departure > window(d)->second) return reject;
    if (departure < window(d)->first) t += window(d)->first - departure;
  }
  // Step 1: arrival at n.
  double c = t;
  const auto wn = window(n);
  if (wn) {
    if (t > wn->second) return reject;
    c = wn->first > t ? wn->first : t;
  }
  if (a >= m) return reject;
  // Step 3: dominance.
  const double e = n == d ? 0.0 : travel(a, d, n);
  for (uint64_t i = 0; i < k.nodes.size() && metric(k.agents[a].type); ++i) {
    if (i == n || i == d || s.visited.test(i) || !admissible(a, i) || start_of(a) == i) continue;
    if (!k.return_to_end && end_of(a) == i) continue;
    const auto wi = window(i);
    double o = (t - e) + travel(a, d, i);
    if (wi) {
      if (o > wi->second) continue;
      if (o < wi->first) o = wi->first;
    }
    o += travel(a, i, n);
    if (wn) {
      if (o > wn->second) continue;
      if (o < wn->first) o = wn->first;
    }
    if (o > c) continue;
    double u = c + travel(a, n, i);
    if (wi) {
      if (u > wi->second) return reject;
      if (u < wi->first) u = wi->first;
    }
    if (o < u) return reject;
  }
  // Step 4: coverage.
  for (uint64_t i = 0; i < k.nodes.size(); ++i) {
    if (s.visited.test(i)) continue;
    bool served = false;
    for (uint64_t j = 0; j < m && !served; ++j) {
      if (!k.ends.empty() && j < s.done.size() && s.done[j] != 0) continue;
      if (!admissible(j, i)) continue;
      if (j != a && (j >= s.positions.size() || j >= s.costs.size())) continue;
      const uint64_t p = j == a ? n : s.positions[j];
      const double g = j == a ? c : s.costs[j];
      const double h = reach(j, p, i);
      served = k.windows.empty() || !window(i) || g + h <= window(i)->second;
    }
    if (!served) return reject;
  }
  if (c != t_in) return {true, c, true};
  return {true, 0.0, false};
}

Case RandomCase(std::mt19937_64& rng, bool full_depots) {
  std::uniform_int_distribution<int> count(3, 11);
  const uint64_t n = static_cast<uint64_t>(count(rng));
  const uint64_t m = std::uniform_int_distribution<uint64_t>(1, 3)(rng);
  const uint64_t types = std::uniform_int_distribution<uint64_t>(1, 2)(rng);
  std::uniform_real_distribution<double> cost(0.0, 20.0);
  std::bernoulli_distribution sometimes(0.25);
  Case k;
  k.graph.ChangeCostDim(types, 0.0);
  k.graph.AddVertex(n - 1);
  for (uint64_t u = 0; u < n; ++u) {
    for (uint64_t v = 0; v < n; ++v) {
      if (u == v || sometimes(rng)) continue;  // some arcs are missing
      CostVector c(types);
      for (double& x : c) x = std::round(cost(rng));
      k.graph.AddArc(u, v, c);
    }
  }
  for (uint64_t v = 0; v < n; ++v) {
    SolverNode node;
    for (int64_t t = 0; t < static_cast<int64_t>(types); ++t) {
      if (!sometimes(rng)) node.types.push_back(t);
    }
    k.nodes.push_back(node);
    if (std::bernoulli_distribution(0.5)(rng)) {
      const double open = std::round(std::uniform_real_distribution<double>(0.0, 40.0)(rng));
      k.windows[v] = {open, open + std::round(std::uniform_real_distribution<double>(0.0, 30.0)(rng))};
    }
  }
  std::uniform_int_distribution<uint64_t> node(0, n - 1);
  for (uint64_t j = 0; j < m; ++j) {
    SolverAgent agent;
    agent.type = static_cast<int64_t>(std::uniform_int_distribution<uint64_t>(0, types - 1)(rng));
    k.agents.push_back(agent);
    k.starts.push_back(node(rng));
    k.ends.push_back(sometimes(rng) ? k.starts.back() : node(rng));
  }
  if (!full_depots) {
    if (sometimes(rng)) k.starts.clear();
    if (sometimes(rng)) k.ends.clear();
  }
  k.return_to_end = std::bernoulli_distribution(0.5)(rng);
  return k;
}

SearchState RandomState(std::mt19937_64& rng, const Case& k) {
  const uint64_t n = k.nodes.size();
  const size_t m = k.agents.size();
  SearchState s;
  s.n_nodes = static_cast<int32_t>(n);
  for (size_t j = 0; j < m; ++j) {
    s.positions.push_back(std::uniform_int_distribution<uint64_t>(0, n - 1)(rng));
    s.costs.push_back(std::round(std::uniform_real_distribution<double>(0.0, 50.0)(rng)));
    s.done.push_back(std::bernoulli_distribution(0.2)(rng) ? 1 : 0);
  }
  for (uint64_t v = 0; v < n; ++v) {
    if (std::bernoulli_distribution(0.4)(rng)) s.visited.set(v);
  }
  return s;
}

std::string Show(const CheckResult& r) {
  return "{" + std::string(r.ok ? "true" : "false") + ", " + std::to_string(r.value) + ", " +
         (r.has_value ? "true" : "false") + "}";
}

bool Same(const CheckResult& x, const CheckResult& y) {
  return x.ok == y.ok && x.value == y.value && x.has_value == y.has_value;
}

class TimeWindowOracle : public testing::TestWithParam<uint64_t> {};

// The standalone checker, with start or end lists sometimes left out.
TEST_P(TimeWindowOracle, StandaloneCheckerFollowsTheLiteralRule) {
  std::mt19937_64 rng(GetParam());
  for (int instance = 0; instance < 40; ++instance) {
    const Case k = RandomCase(rng, false);
    TimeWindowConstraintChecker checker;
    checker.Init(&k.graph, k.nodes, k.agents);
    checker.SetAgentEnds(k.ends);
    checker.SetTimeWindows(k.windows);
    checker.SetAgentStarts(k.starts);
    checker.SetReturnToEnd(k.return_to_end);
    for (int probe = 0; probe < 40; ++probe) {
      const SearchState s = RandomState(rng, k);
      const uint64_t a = std::uniform_int_distribution<uint64_t>(0, k.agents.size() - 1)(rng);
      const uint64_t n = std::uniform_int_distribution<uint64_t>(0, k.nodes.size() - 1)(rng);
      const CheckResult want = Literal(k, s, a, n);
      const CheckResult got = checker.CheckExtension(s, a, n);
      ASSERT_TRUE(Same(got, want)) << "seed " << GetParam() << " instance " << instance << " probe " << probe
                                   << ": got " << Show(got) << " want " << Show(want);
    }
  }
}

// The checker configured from a routing context, as the solver does it.
TEST_P(TimeWindowOracle, ConfiguredCheckerFollowsTheLiteralRule) {
  std::mt19937_64 rng(GetParam() + 1000);
  for (int instance = 0; instance < 40; ++instance) {
    const Case k = RandomCase(rng, true);
    RoutingContext context(
        TablesFromGraph(&k.graph, k.nodes, k.agents, k.starts, k.ends, k.windows, k.return_to_end));
    if (!k.windows.empty()) context.FindShortcuts();  // as the solver does where windows exist
    TimeWindowConstraintChecker checker;
    checker.Configure(context);
    for (int probe = 0; probe < 40; ++probe) {
      const SearchState s = RandomState(rng, k);
      const uint64_t a = std::uniform_int_distribution<uint64_t>(0, k.agents.size() - 1)(rng);
      const uint64_t n = std::uniform_int_distribution<uint64_t>(0, k.nodes.size() - 1)(rng);
      const CheckResult want = Literal(k, s, a, n);
      const CheckResult got = checker.CheckExtension(s, a, n);
      ASSERT_TRUE(Same(got, want)) << "seed " << GetParam() << " instance " << instance << " probe " << probe
                                   << ": got " << Show(got) << " want " << Show(want);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TimeWindowOracle, testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));

}  // namespace
