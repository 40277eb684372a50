// libFuzzer target: the post-optimizers on fuzzed routes over a small fuzzed
// graph (at most 12 vertices, 3 agent types, 5 agents), configured with the
// routing context of these records as a solve configures them.
//
// Invariants checked after Optimize:
//  - every written route that is valid for its agent costs what is written;
//  - the first and last node of every route stay in place;
//  - no node occurrence is lost or duplicated across the routes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "core/routing_context.hpp"
#include "graph/graph_tables.hpp"
#include "graph/sparse_graph.hpp"
#include "model/result.hpp"
#include "postopt/composite_post_optimizer.hpp"
#include "postopt/default_post_optimizer.hpp"
#include "postopt/route_evaluator.hpp"
#include "postopt/route_merging_post_optimizer.hpp"

namespace {

using velmora::Route;

constexpr size_t kMaxNodes = 12;
constexpr size_t kMaxTypes = 3;
constexpr size_t kMaxAgents = 5;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_postopt: %s\n", what.c_str());
  std::abort();
}

bool SameCost(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (a == b) return true;
  return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::max(std::fabs(a), std::fabs(b)));
}

// Mostly small integers (exact sums), sometimes the values that stress the
// arithmetic: the missing-arc cost, negatives, huge and non-finite values.
double PickCost(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0:
      return 9999.0;
    case 1:
      return -static_cast<double>(in.ConsumeIntegralInRange<int>(0, 50));
    case 2:
      return std::numeric_limits<double>::max();
    case 3:
      return std::numeric_limits<double>::infinity();
    case 4:
      return std::numeric_limits<double>::quiet_NaN();
    case 5:
      return in.ConsumeFloatingPointInRange<double>(0.0, 100.0);
    default:
      return static_cast<double>(in.ConsumeIntegralInRange<int>(0, 100));
  }
}

int64_t PickNode(FuzzedDataProvider& in, size_t n) {
  // Occasionally an index no node has.
  if (in.ConsumeIntegralInRange<int>(0, 31) == 0) return in.ConsumeBool() ? -1 : static_cast<int64_t>(n + 3);
  return static_cast<int64_t>(in.ConsumeIntegralInRange<size_t>(0, n - 1));
}

struct Setup {
  bool return_to_end = false;
  std::vector<uint64_t> starts;
  std::vector<uint64_t> ends;
  velmora::WindowTable windows;
};

// The routing context a solve hands its plugins, read from the same records.
velmora::RoutingContext MakeContext(const velmora::PlannerGraph* graph,
                                    const std::vector<velmora::SolverNode>& nodes,
                                    const std::vector<velmora::SolverAgent>& agents, const Setup& s) {
  return velmora::RoutingContext(
      velmora::TablesFromGraph(graph, nodes, agents, s.starts, s.ends, s.windows, s.return_to_end));
}

std::string RouteText(const Route& r) {
  std::string text = "[";
  for (size_t i = 0; i < r.size(); ++i) text += (i ? ", " : "") + std::to_string(r[i]);
  return text + "]";
}

// With KVT_FUZZ_DUMP set, prints the decoded case, to turn a finding into a unit test.
void Dump(const velmora::SparseGraph& graph, bool no_graph, const std::vector<velmora::SolverNode>& nodes,
          const std::vector<velmora::SolverAgent>& agents, const Setup& s, const velmora::Result& result,
          const char* stage) {
  if (std::getenv("KVT_FUZZ_DUMP") == nullptr) return;
  std::fprintf(stderr, "--- %s\n", stage);
  if (std::string(stage) == "input") {
    std::fprintf(stderr, "graph %s, return_to_end %d\n", no_graph ? "absent" : "set", s.return_to_end);
    for (uint64_t u = 0; u < nodes.size(); ++u) {
      std::string types;
      for (int64_t t : nodes[u].types) types += std::to_string(t) + " ";
      std::fprintf(stderr, "node %llu types {%s}:", static_cast<unsigned long long>(u), types.c_str());
      for (uint64_t v = 0; v < nodes.size(); ++v) {
        const velmora::CostVector c = graph.GetArcCost(u, v);
        std::string cell;
        for (double x : c) cell += (cell.empty() ? "" : "/") + std::to_string(x);
        std::fprintf(stderr, " %s", c.empty() ? "-" : cell.c_str());
      }
      std::fprintf(stderr, "\n");
    }
    for (size_t k = 0; k < agents.size(); ++k) {
      std::fprintf(stderr, "agent %zu type %lld limit %g start %lld end %lld\n", k,
                   static_cast<long long>(agents[k].type), agents[k].time_limit,
                   k < s.starts.size() ? static_cast<long long>(s.starts[k]) : -1LL,
                   k < s.ends.size() ? static_cast<long long>(s.ends[k]) : -1LL);
    }
    std::fprintf(stderr, "starts %zu ends %zu\n", s.starts.size(), s.ends.size());
    for (const auto& [v, w] : s.windows)
      std::fprintf(stderr, "window %llu [%g, %g]\n", static_cast<unsigned long long>(v), w.first, w.second);
  }
  for (const auto& [k, r] : result.paths) {
    const auto t = result.times.find(k);
    std::fprintf(stderr, "path %lld %s cost %g\n", static_cast<long long>(k), RouteText(r).c_str(),
                 t == result.times.end() ? -0.0 : t->second);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const size_t n = in.ConsumeIntegralInRange<size_t>(1, kMaxNodes);
  const size_t dim = in.ConsumeIntegralInRange<size_t>(1, kMaxTypes);
  const size_t m = in.ConsumeIntegralInRange<size_t>(0, kMaxAgents);

  // Graph: each ordered pair has an arc with some probability.
  velmora::SparseGraph graph;
  graph.ChangeCostDim(dim, 9999.0);
  graph.AddVertex(n - 1);
  const int density = in.ConsumeIntegralInRange<int>(0, 4);  // 0: complete
  for (uint64_t u = 0; u < n; ++u) {
    for (uint64_t v = 0; v < n; ++v) {
      if (u == v || (density > 0 && in.ConsumeIntegralInRange<int>(0, density) == 0)) continue;
      velmora::CostVector cost(dim);
      for (double& c : cost) c = PickCost(in);
      graph.AddArc(u, v, cost);
    }
  }
  const bool no_graph = in.ConsumeIntegralInRange<int>(0, 15) == 0;

  // Nodes with their allowed types (sometimes an index outside 0..dim-1).
  std::vector<velmora::SolverNode> nodes(n);
  for (size_t i = 0; i < n; ++i) {
    nodes[i].id = static_cast<int64_t>(i);
    const uint8_t mask = in.ConsumeIntegral<uint8_t>();
    for (size_t t = 0; t < dim; ++t) {
      if (mask & (1u << t)) nodes[i].types.push_back(static_cast<int64_t>(t));
    }
    if (mask == 0xff) nodes[i].types.push_back(-1);
    if (mask == 0xfe) nodes[i].types.push_back(static_cast<int64_t>(dim));
    if (mask >= 0x80 && mask < 0xf0) {  // most nodes allow every type
      nodes[i].types.clear();
      for (size_t t = 0; t < dim; ++t) nodes[i].types.push_back(static_cast<int64_t>(t));
    }
  }

  std::vector<velmora::SolverAgent> agents(m);
  Setup setup;
  setup.return_to_end = in.ConsumeBool();
  for (size_t k = 0; k < m; ++k) {
    agents[k].id = static_cast<int64_t>(k);
    agents[k].type = in.ConsumeIntegralInRange<int64_t>(-1, static_cast<int64_t>(dim));
    if (agents[k].type == static_cast<int64_t>(dim) || agents[k].type < 0) {
      if (in.ConsumeBool()) agents[k].type = 0;  // keep invalid types rare
    }
    agents[k].time_limit = in.ConsumeBool() ? 0.0 : PickCost(in);
    setup.starts.push_back(static_cast<uint64_t>(in.ConsumeIntegralInRange<size_t>(0, n - 1)));
    setup.ends.push_back(static_cast<uint64_t>(in.ConsumeIntegralInRange<size_t>(0, n - 1)));
  }
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      setup.starts.clear();
      break;
    case 1:
      setup.ends.clear();
      break;
    case 2:
      if (!setup.starts.empty()) setup.starts.pop_back();
      break;
    default:
      break;
  }
  const size_t n_windows = in.ConsumeIntegralInRange<size_t>(0, n);
  for (size_t w = 0; w < n_windows; ++w) {
    const uint64_t node = in.ConsumeIntegralInRange<uint64_t>(0, n - 1);
    const double a = PickCost(in);
    const double b = in.ConsumeBool() ? a + PickCost(in) : PickCost(in);
    setup.windows[node] = {a, b};
  }

  // Routes: either the targets dealt out to the agents between their start and
  // end (the shape the search produces), or arbitrary node lists.
  velmora::Result result;
  const bool dealt = in.ConsumeBool();
  if (dealt && m > 0) {
    std::vector<Route> interior(m);
    for (size_t v = 0; v < n; ++v) {
      interior[in.ConsumeIntegralInRange<size_t>(0, m - 1)].push_back(static_cast<int64_t>(v));
    }
    for (size_t k = 0; k < m; ++k) {
      Route r;
      r.push_back(k < setup.starts.size() ? static_cast<int64_t>(setup.starts[k]) : PickNode(in, n));
      r.insert(r.end(), interior[k].begin(), interior[k].end());
      r.push_back(k < setup.ends.size() ? static_cast<int64_t>(setup.ends[k]) : PickNode(in, n));
      if (in.ConsumeIntegralInRange<int>(0, 7) != 0) result.paths[static_cast<int64_t>(k)] = r;
    }
  } else {
    for (size_t k = 0; k < m + 1; ++k) {  // one extra key no agent has, sometimes
      if (!in.ConsumeBool()) continue;
      Route r(in.ConsumeIntegralInRange<size_t>(0, n + 2));
      for (int64_t& v : r) v = PickNode(in, n);
      result.paths[static_cast<int64_t>(k)] = r;
    }
  }
  // Incoming costs as the solver records them: a valid route carries its own
  // cost (the route-merging optimizer leaves the result untouched when every
  // route costs 0 or less); other entries carry anything.
  // Configured as a solve configures its plugins (Solver::ConfigurePlugins).
  const velmora::PlannerGraph* g = no_graph ? nullptr : &graph;
  const velmora::RoutingContext context = MakeContext(g, nodes, agents, setup);
  velmora::RouteEvaluator evaluator;
  evaluator.Configure(context);
  for (const auto& [k, r] : result.paths) {
    const velmora::RouteCost rc = k >= 0 ? evaluator.EvaluateRoute(g, nodes, agents, r, static_cast<uint64_t>(k))
                                         : velmora::RouteCost{false};
    result.times[k] = rc.valid ? rc.cost : PickCost(in);
  }
  const velmora::Result before = result;

  std::unique_ptr<velmora::PostOptimizerPlugin> optimizer;
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
      optimizer = std::make_unique<velmora::DefaultPostOptimizer>();
      break;
    case 1:
      optimizer = std::make_unique<velmora::RouteMergingPostOptimizer>();
      break;
    default: {
      auto composite = std::make_unique<velmora::CompositePostOptimizer>();
      composite->AddChild(std::make_unique<velmora::DefaultPostOptimizer>());
      composite->AddChild(std::make_unique<velmora::RouteMergingPostOptimizer>());
      optimizer = std::move(composite);
    }
  }
  optimizer->Configure(context);
  Dump(graph, no_graph, nodes, agents, setup, result, "input");
  optimizer->Optimize(g, nodes, agents, result);
  Dump(graph, no_graph, nodes, agents, setup, result, optimizer->GetName().c_str());

  for (const auto& [k, route] : result.paths) {
    if (k < 0 || static_cast<size_t>(k) >= m) continue;  // untouched foreign key
    const auto time = result.times.find(k);
    if (time == result.times.end()) Fail("route " + std::to_string(k) + " written without a cost");
    const velmora::RouteCost rc = evaluator.EvaluateRoute(g, nodes, agents, route, static_cast<uint64_t>(k));
    if (rc.valid && !SameCost(rc.cost, time->second)) {
      Fail("route " + std::to_string(k) + " evaluates to " + std::to_string(rc.cost) + " but " +
           std::to_string(time->second) + " was written");
    }
  }

  // Endpoints fixed; node occurrences preserved over the agents' routes.
  std::map<int64_t, long> balance;
  for (size_t k = 0; k < m; ++k) {
    const auto old_it = before.paths.find(static_cast<int64_t>(k));
    const auto new_it = result.paths.find(static_cast<int64_t>(k));
    const Route empty;
    const Route& old_route = old_it == before.paths.end() ? empty : old_it->second;
    const Route& new_route = new_it == result.paths.end() ? empty : new_it->second;
    for (int64_t v : old_route) ++balance[v];
    for (int64_t v : new_route) --balance[v];
    if (old_route.empty() != new_route.empty()) Fail("route " + std::to_string(k) + " appeared or vanished");
    if (!old_route.empty() && (old_route.front() != new_route.front() || old_route.back() != new_route.back())) {
      Fail("route " + std::to_string(k) + " changed its first or last node");
    }
  }
  for (const auto& [v, count] : balance) {
    if (count != 0) Fail("node " + std::to_string(v) + " lost or duplicated");
  }
  return 0;
}
