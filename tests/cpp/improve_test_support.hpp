#pragma once

// Random instances and a literal route walk for the improvement engine's tests.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/routing_context.hpp"
#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "graph/sparse_graph.hpp"
#include "improve/improve_settings.hpp"
#include "postopt/route_evaluator.hpp"

namespace velmora {
namespace improve_testing {

// A line of points at the given x positions (symmetric, one type), all agents
// at node 0.
inline RoutingTables Line(const std::vector<double>& x, size_t agents, bool rte = true) {
  RoutingTables t;
  const size_t n = x.size();
  t.nodes = n;
  t.types = 1;
  t.return_to_end = rte;
  t.costs.resize(n * n);
  for (size_t u = 0; u < n; ++u)
    for (size_t v = 0; v < n; ++v) t.costs[u * n + v] = std::fabs(x[u] - x[v]);
  t.node_types.assign(n, {0});
  t.agent_type.assign(agents, 0);
  t.time_limit.assign(agents, 0.0);
  t.starts.assign(agents, 0);
  t.ends.assign(agents, 0);
  return t;
}

struct Shape {
  size_t nodes = 14;
  size_t agents = 3;
  size_t types = 2;
  bool windows = true;
  bool limits = true;
  bool return_to_end = true;
  bool distinct_depots = true;
  bool negative = false;  // some legs below zero
  bool missing = true;    // some NaN and 9999 cells
  bool loads = false;     // demands and capacities
  size_t pairs = 0;       // precedence pairs of every kind
};

inline RoutingTables MakeTables(uint64_t seed, const Shape& shape) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  RoutingTables t;
  const size_t n = shape.nodes;
  t.nodes = n;
  t.types = shape.types;
  t.return_to_end = shape.return_to_end;
  std::vector<std::pair<double, double>> xy(n);
  for (auto& p : xy) p = {100.0 * unit(rng), 100.0 * unit(rng)};
  t.costs.assign(shape.types * n * n, 0.0);
  for (size_t type = 0; type < shape.types; ++type) {
    for (size_t u = 0; u < n; ++u) {
      for (size_t v = 0; v < n; ++v) {
        double c = (1.0 + 0.3 * type) * std::hypot(xy[u].first - xy[v].first, xy[u].second - xy[v].second) +
                   5.0 * unit(rng);
        if (u == v) c = 0.0;
        if (shape.negative && unit(rng) < 0.15) c = -10.0 * unit(rng);
        if (shape.missing && u != v) {
          const double r = unit(rng);
          if (r < 0.02) c = std::numeric_limits<double>::quiet_NaN();
          else if (r < 0.04) c = kMissingCost;
        }
        t.costs[(type * n + u) * n + v] = c;
      }
    }
  }
  const size_t m = shape.agents;
  for (size_t k = 0; k < m; ++k) {
    t.agent_type.push_back(static_cast<int64_t>(k % shape.types));
    t.time_limit.push_back(shape.limits && unit(rng) < 0.6 ? 250.0 + 400.0 * unit(rng) : 0.0);
    if (shape.distinct_depots) {
      const uint64_t s = k % 2 == 0 ? k : 0;  // some agents share node 0
      t.starts.push_back(s);
      t.ends.push_back(unit(rng) < 0.5 ? s : static_cast<uint64_t>(m + k));
    } else {
      t.starts.push_back(0);
      t.ends.push_back(0);
    }
  }
  t.node_types.assign(n, {});
  for (size_t v = 0; v < n; ++v) {
    const double r = unit(rng);
    if (shape.types == 1 || r < 0.5) {
      for (size_t type = 0; type < shape.types; ++type) t.node_types[v].push_back(static_cast<int64_t>(type));
    } else {
      t.node_types[v] = {r < 0.75 ? 0 : 1};
    }
  }
  if (shape.windows) {
    for (size_t v = 0; v < n; ++v) {
      const double r = unit(rng);
      if (r < 0.4) {
        const double open = 200.0 * unit(rng);
        t.windows.push_back({v, {open, open + 60.0 + 250.0 * unit(rng)}});
      } else if (r < 0.45) {
        t.windows.push_back({v, {10.0 * unit(rng), 1e4}});  // depots get late-closing windows too
      }
    }
  }
  auto depot = [&](uint64_t v) {
    return std::find(t.starts.begin(), t.starts.end(), v) != t.starts.end() ||
           std::find(t.ends.begin(), t.ends.end(), v) != t.ends.end();
  };
  if (shape.loads) {
    for (size_t v = 0; v < n; ++v) t.demand.push_back(depot(v) ? 0.0 : std::floor(1.0 + 9.0 * unit(rng)));
    for (size_t k = 0; k < m; ++k)
      t.capacity.push_back(unit(rng) < 0.2 ? 0.0 : std::floor(15.0 + 40.0 * unit(rng)));
  }
  std::vector<uint64_t> targets;
  for (uint64_t v = 0; v < n; ++v) {
    if (!depot(v)) targets.push_back(v);
  }
  for (size_t i = 0; i < shape.pairs && targets.size() >= 2; ++i) {
    const uint64_t b = targets[static_cast<size_t>(unit(rng) * targets.size()) % targets.size()];
    const uint64_t a = targets[static_cast<size_t>(unit(rng) * targets.size()) % targets.size()];
    if (a == b) continue;
    const PairKind kinds[] = {PairKind::kTime, PairKind::kSame, PairKind::kDiff};
    t.pairs.push_back(PrecedencePair{b, a, kinds[i % 3]});
  }
  return t;
}

struct Walk {
  bool ok = false;
  double cost = 0.0;
};

// The route rules, walked literally on the tables: start at the agent's start
// (its window applies at time 0), each leg adds its cost (staying put is free,
// without return-to-end so is a move onto the own start or end node, a missing
// cell costs 0), every arrival waits for an unopened window and fails after a
// closed one, the limit holds after every step, only targets the agent's type
// may serve lie between start and close, and the route closes at the end node
// (without return-to-end also at the start node).
inline Walk WalkRoute(const RoutingTables& t, size_t k, const std::vector<uint64_t>& path) {
  const size_t n = t.nodes;
  const uint64_t s = t.starts[k], e = t.ends[k];
  const int64_t type = t.agent_type[k];
  if (path.size() < 2 || path.front() != s) return {};
  if (!(path.back() == e || (!t.return_to_end && path.back() == s))) return {};
  auto depot = [&](uint64_t v) {
    return std::find(t.starts.begin(), t.starts.end(), v) != t.starts.end() ||
           std::find(t.ends.begin(), t.ends.end(), v) != t.ends.end();
  };
  double c = 0.0;
  double load = 0.0;
  for (size_t p = 0; p < path.size(); ++p) {
    const uint64_t v = path[p];
    if (v >= n) return {};
    if (p > 0 && p + 1 < path.size()) {
      if (depot(v)) return {};
      if (!t.demand.empty()) load += t.demand[v];
      const auto& types = t.node_types[v];
      if (std::find(types.begin(), types.end(), type) == types.end()) return {};
    }
    if (p > 0) {
      const uint64_t u = path[p - 1];
      double leg = 0.0;
      if (u != v && !(!t.return_to_end && (v == s || v == e)) && type >= 0 &&
          static_cast<size_t>(type) < t.types) {
        leg = t.costs[(static_cast<size_t>(type) * n + u) * n + v];
        if (leg != leg) leg = 0.0;
      }
      c += leg;
    }
    for (const auto& w : t.windows) {
      if (w.first != v) continue;
      if (c > w.second.second) return {};
      if (c < w.second.first) c = w.second.first;
    }
    if (p > 0 && t.time_limit[k] > 0 && c > t.time_limit[k]) return {};
  }
  if (!t.demand.empty() && t.capacity[k] > 0 && load > t.capacity[k]) return {};
  return {true, c};
}

// Served times along full paths (start first, closing node last), by node.
struct Served {
  std::vector<int64_t> route, pos;
  std::vector<double> time;
};

inline Served ServedTimes(const RoutingTables& t, const std::vector<std::vector<uint64_t>>& paths) {
  Served s;
  s.route.assign(t.nodes, -1);
  s.pos.assign(t.nodes, 0);
  s.time.assign(t.nodes, 0.0);
  for (size_t k = 0; k < paths.size(); ++k) {
    const std::vector<uint64_t>& path = paths[k];
    const uint64_t st = t.starts[k], e = t.ends[k];
    const int64_t type = t.agent_type[k];
    double c = 0.0;
    for (size_t p = 0; p + 1 < path.size(); ++p) {
      const uint64_t v = path[p];
      if (p > 0) {
        const uint64_t u = path[p - 1];
        double leg = 0.0;
        if (u != v && !(!t.return_to_end && (v == st || v == e))) {
          leg = t.costs[(static_cast<size_t>(type) * t.nodes + u) * t.nodes + v];
          if (leg != leg) leg = 0.0;
        }
        c += leg;
      }
      for (const auto& w : t.windows) {
        if (w.first == v && c < w.second.first) c = w.second.first;
      }
      if (p > 0) {
        s.route[v] = static_cast<int64_t>(k);
        s.pos[v] = static_cast<int64_t>(p);
        s.time[v] = c;
      }
    }
  }
  return s;
}

// The pairs whose nodes are both served (and, when `touching` is given, one of
// them on a route it marks) hold.
inline bool PairsKept(const RoutingTables& t, const std::vector<std::vector<uint64_t>>& paths,
                      const std::vector<uint8_t>* touching = nullptr) {
  const Served s = ServedTimes(t, paths);
  for (const PrecedencePair& pair : t.pairs) {
    const int64_t rb = s.route[pair.before], ra = s.route[pair.after];
    if (rb < 0 || ra < 0) continue;
    if (touching != nullptr && !(*touching)[rb] && !(*touching)[ra]) continue;
    if (pair.kind == PairKind::kSame && (rb != ra || s.pos[pair.before] >= s.pos[pair.after])) return false;
    if (pair.kind == PairKind::kDiff && rb == ra) return false;
    if (pair.kind != PairKind::kSame && s.time[pair.before] > s.time[pair.after] + 1e-9) return false;
  }
  return true;
}

// Best of the closing nodes for a start-and-targets sequence.
inline Walk WalkBestClose(const RoutingTables& t, size_t k, std::vector<uint64_t> open_route) {
  Walk best;
  std::vector<uint64_t> closes{t.ends[k]};
  if (!t.return_to_end && t.starts[k] != t.ends[k]) closes.push_back(t.starts[k]);
  for (uint64_t close : closes) {
    open_route.push_back(close);
    const Walk w = WalkRoute(t, k, open_route);
    open_route.pop_back();
    if (w.ok && (!best.ok || w.cost < best.cost)) best = w;
  }
  return best;
}

// A whole solution: every route valid with its reported cost, every target
// (a node that is no agent's start or end) served exactly once.
inline bool ValidSolution(const RoutingTables& t, const EngineSolution& s, std::string* why = nullptr) {
  auto fail = [&](const std::string& text) {
    if (why) *why = text;
    return false;
  };
  if (s.paths.size() != t.starts.size() || s.costs.size() != t.starts.size()) return fail("route count");
  std::vector<int> served(t.nodes, 0);
  for (size_t k = 0; k < s.paths.size(); ++k) {
    const Walk w = WalkRoute(t, k, s.paths[k]);
    if (!w.ok) return fail("route " + std::to_string(k) + " invalid");
    if (std::fabs(w.cost - s.costs[k]) > 1e-9 * std::max(1.0, std::fabs(w.cost))) {
      return fail("route " + std::to_string(k) + " cost");
    }
    for (size_t p = 1; p + 1 < s.paths[k].size(); ++p) ++served[s.paths[k][p]];
  }
  for (size_t v = 0; v < t.nodes; ++v) {
    const bool depot = std::find(t.starts.begin(), t.starts.end(), v) != t.starts.end() ||
                       std::find(t.ends.begin(), t.ends.end(), v) != t.ends.end();
    if (served[v] != (depot ? 0 : 1))
      return fail("node " + std::to_string(v) + " served " + std::to_string(served[v]));
  }
  if (!PairsKept(t, s.paths)) return fail("a precedence pair is broken");
  return true;
}

// The post-optimisers' route evaluation, set up for the same tables.
struct EvaluatorSetup {
  SparseGraph graph;
  std::vector<SolverNode> nodes;
  std::vector<SolverAgent> agents;
  RouteEvaluator evaluator;

  explicit EvaluatorSetup(const RoutingTables& t) {
    const size_t n = t.nodes;
    graph.ChangeCostDim(t.types, 0.0);
    if (n > 0) graph.AddVertex(n - 1);
    for (size_t u = 0; u < n; ++u) {
      for (size_t v = 0; v < n; ++v) {
        CostVector c(t.types, 0.0);
        bool any = false;
        for (size_t type = 0; type < t.types; ++type) {
          const double x = t.costs[(type * n + u) * n + v];
          if (x == x) any = true;
          c[type] = x == x ? x : 0.0;
        }
        if (any) graph.AddArc(u, v, c);
      }
    }
    nodes.resize(n);
    for (size_t v = 0; v < n; ++v) {
      nodes[v].id = static_cast<int64_t>(v);
      nodes[v].types = t.node_types[v];
    }
    for (size_t k = 0; k < t.starts.size(); ++k) {
      SolverAgent a;
      a.id = static_cast<int64_t>(k);
      a.type = t.agent_type[k];
      a.time_limit = t.time_limit[k];
      agents.push_back(a);
    }
    WindowTable windows;
    for (const auto& w : t.windows) windows[w.first] = w.second;
    evaluator.SetReturnToEnd(t.return_to_end);
    evaluator.SetAgentStarts(t.starts);
    evaluator.SetAgentEnds(t.ends);
    evaluator.SetTimeWindows(windows);
  }

  RouteCost Evaluate(size_t k, const std::vector<uint64_t>& path) const {
    const Route route(path.begin(), path.end());
    return evaluator.EvaluateRoute(&graph, nodes, agents, route, k);
  }
};

}  // namespace improve_testing
}  // namespace velmora
