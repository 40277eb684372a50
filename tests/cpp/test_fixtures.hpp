#pragma once

// Fixtures shared by the C++ tests.

// DenseTestGraph: a minimal complete-matrix PlannerGraph for plugin tests; arcs
// live in an n x n table of optional cost vectors.

#include <cstdint>
#include <string>
#include <vector>

#include "graph/planner_graph.hpp"

namespace velmora_test {

using velmora::CostVector;

class DenseTestGraph : public velmora::PlannerGraph {
 public:
  explicit DenseTestGraph(uint64_t n = 0, uint64_t dim = 1) : dim_(dim) { Resize(n); }

  // Both directions with the same single-type cost.
  void Link(uint64_t u, uint64_t v, double cost) {
    AddArc(u, v, CostVector(dim_, cost));
    AddArc(v, u, CostVector(dim_, cost));
  }
  // Arcs between every ordered pair from a square matrix (diagonal ignored).
  void FillFromMatrix(const std::vector<std::vector<double>>& m) {
    for (uint64_t i = 0; i < m.size(); ++i)
      for (uint64_t j = 0; j < m[i].size(); ++j)
        if (i != j) AddArc(i, j, CostVector(dim_, m[i][j]));
  }

  bool HasVertex(uint64_t v) const override { return v < n_; }
  bool HasArc(uint64_t u, uint64_t v) const override { return u < n_ && v < n_ && present_[u * n_ + v]; }
  std::vector<uint64_t> GetSuccs(uint64_t v) const override {
    std::vector<uint64_t> out;
    for (uint64_t w = 0; v < n_ && w < n_; ++w)
      if (present_[v * n_ + w]) out.push_back(w);
    return out;
  }
  std::vector<uint64_t> GetPreds(uint64_t v) const override {
    std::vector<uint64_t> out;
    for (uint64_t w = 0; v < n_ && w < n_; ++w)
      if (present_[w * n_ + v]) out.push_back(w);
    return out;
  }
  CostVector GetArcCost(uint64_t u, uint64_t v) const override {
    return HasArc(u, v) ? cost_[u * n_ + v] : CostVector{};
  }
  std::vector<CostVector> GetSuccCosts(uint64_t v) const override {
    std::vector<CostVector> out;
    for (uint64_t w : GetSuccs(v)) out.push_back(cost_[v * n_ + w]);
    return out;
  }
  std::vector<CostVector> GetPredCosts(uint64_t v) const override {
    std::vector<CostVector> out;
    for (uint64_t w : GetPreds(v)) out.push_back(cost_[w * n_ + v]);
    return out;
  }
  uint64_t NumVertex() const override { return n_; }
  uint64_t NumArc() const override { return 2 * arcs_; }
  uint64_t NumEdge() const override { return arcs_; }
  uint64_t GetCostDim() const override { return dim_; }
  std::vector<uint64_t> GetAllVertices() const override {
    std::vector<uint64_t> out;
    for (uint64_t v = 0; v < n_; ++v) out.push_back(v);
    return out;
  }
  void AddVertex(uint64_t v) override {
    if (v >= n_) Resize(v + 1);
  }
  void AddEdge(uint64_t u, uint64_t v, const CostVector& cost) override {
    AddArc(u, v, cost);
    AddArc(v, u, cost);
  }
  void AddArc(uint64_t u, uint64_t v, const CostVector& cost) override {
    AddVertex(u);
    AddVertex(v);
    if (!present_[u * n_ + v]) ++arcs_;
    present_[u * n_ + v] = 1;
    cost_[u * n_ + v] = cost;
  }
  void CreateFromEdges(const std::vector<uint64_t>& s, const std::vector<uint64_t>& t,
                       const std::vector<CostVector>& c) override {
    for (size_t i = 0; i < s.size(); ++i) AddEdge(s[i], t[i], c[i]);
  }
  void CreateFromArcs(const std::vector<uint64_t>& s, const std::vector<uint64_t>& t,
                      const std::vector<CostVector>& c) override {
    for (size_t i = 0; i < s.size(); ++i) AddArc(s[i], t[i], c[i]);
  }
  void ChangeCostDim(uint64_t dim, double fill) override {
    for (CostVector& c : cost_)
      if (!c.empty()) c.resize(dim, fill);
    dim_ = dim;
  }
  bool SetArcCost(uint64_t u, uint64_t v, const CostVector& cost) override {
    if (!HasArc(u, v)) return false;
    cost_[u * n_ + v] = cost;
    return true;
  }
  std::string ToStr() const override { return "DenseTestGraph"; }

 private:
  void Resize(uint64_t n) {
    std::vector<uint8_t> present(n * n, 0);
    std::vector<CostVector> cost(n * n);
    for (uint64_t u = 0; u < n_; ++u)
      for (uint64_t v = 0; v < n_; ++v) {
        present[u * n + v] = present_[u * n_ + v];
        cost[u * n + v] = cost_[u * n_ + v];
      }
    present_.swap(present);
    cost_.swap(cost);
    n_ = n;
  }

  uint64_t n_ = 0;
  uint64_t dim_ = 1;
  uint64_t arcs_ = 0;
  std::vector<uint8_t> present_;
  std::vector<CostVector> cost_;
};

}  // namespace velmora_test

// Graph and instance helpers of the post-optimizer and checker tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "core/window_table.hpp"
#include "graph/planner_graph.hpp"
#include "graph/sparse_graph.hpp"
#include "model/result.hpp"

namespace velmora {
namespace testing_support {

using ArcList = std::vector<std::pair<uint64_t, uint64_t>>;

// SparseGraph with a shorthand for setting (adding or overwriting) an arc.
struct TestGraph : SparseGraph {
  void Set(uint64_t u, uint64_t v, const CostVector& c) { AddArc(u, v, c); }
  void Set(uint64_t u, uint64_t v, double c) { AddArc(u, v, CostVector(GetCostDim(), c)); }
};

// Complete directed graph on n vertices, every cost component `fill`, without
// the `missing` arcs.
inline TestGraph CompleteGraph(uint64_t n, uint64_t dim, double fill, const ArcList& missing = {}) {
  TestGraph g;
  g.ChangeCostDim(dim, fill);
  if (n > 0) g.AddVertex(n - 1);
  for (uint64_t u = 0; u < n; ++u)
    for (uint64_t v = 0; v < n; ++v)
      if (std::find(missing.begin(), missing.end(), std::make_pair(u, v)) == missing.end())
        g.AddArc(u, v, CostVector(dim, fill));
  return g;
}

inline std::vector<SolverNode> MakeNodes(uint64_t n, std::vector<int64_t> types = {0}) {
  std::vector<SolverNode> nodes(n);
  for (uint64_t i = 0; i < n; ++i) {
    nodes[i].id = static_cast<int64_t>(i);
    nodes[i].types = types;
  }
  return nodes;
}

inline SolverAgent MakeAgent(int64_t id, int64_t type, double time_limit = 0.0) {
  SolverAgent a;
  a.id = id;
  a.type = type;
  a.time_limit = time_limit;
  return a;
}

// Euclidean distances between the given points, one cost component.
inline TestGraph EuclideanGraph(const std::vector<std::pair<double, double>>& pts, const ArcList& missing = {}) {
  TestGraph g = CompleteGraph(pts.size(), 1, 0.0, missing);
  for (uint64_t u = 0; u < pts.size(); ++u)
    for (uint64_t v = 0; v < pts.size(); ++v)
      if (g.HasArc(u, v)) g.Set(u, v, std::hypot(pts[u].first - pts[v].first, pts[u].second - pts[v].second));
  return g;
}

}  // namespace testing_support
}  // namespace velmora

namespace velmora {
namespace testing_support {

// Literal route evaluation over a materialised route: the reference the
// optimised evaluator is compared with.
struct RouteConfig {
  bool return_to_end = false;
  std::vector<uint64_t> starts;
  std::vector<uint64_t> ends;
  WindowTable windows;
};

struct RefCost {
  bool valid;
  double cost;
};

inline RefCost ReferenceEvaluate(const RouteConfig& cfg, const PlannerGraph* graph,
                                 const std::vector<SolverNode>& nodes, const std::vector<SolverAgent>& agents,
                                 const std::vector<int64_t>& r, uint64_t k) {
  const size_t n = r.size();
  if (n == 0) return {true, 0.0};
  auto in = [](const std::vector<uint64_t>& list, int64_t v) {
    for (uint64_t x : list)
      if (static_cast<int64_t>(x) == v) return true;
    return false;
  };
  const bool has_s = !cfg.starts.empty();
  const bool has_e = !cfg.ends.empty();
  if (has_s && r[0] != static_cast<int64_t>(cfg.starts[k])) return {false, 0.0};
  const bool end_match = has_e && r[n - 1] == static_cast<int64_t>(cfg.ends[k]);
  const bool start_match = has_s && r[n - 1] == static_cast<int64_t>(cfg.starts[k]);
  if (cfg.return_to_end ? !end_match : !(end_match || start_match)) return {false, 0.0};
  const int64_t t = agents[k].type;
  const double limit = agents[k].time_limit;
  double c = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const int64_t v = r[i];
    if (has_s && i > 0 && i < n - 1 && v == static_cast<int64_t>(cfg.starts[k])) return {false, 0.0};
    if (v < 0 || static_cast<size_t>(v) >= nodes.size()) return {false, 0.0};
    // The own start and end are exempt from the type assignment, and another
    // agent's start or end node is off limits.
    const bool own_depot =
        (has_s && v == static_cast<int64_t>(cfg.starts[k])) || (has_e && v == static_cast<int64_t>(cfg.ends[k]));
    bool allowed = own_depot;
    for (int64_t x : nodes[v].types) allowed = allowed || x == t;
    if (!allowed) return {false, 0.0};
    if (!own_depot && ((has_s && in(cfg.starts, v)) || (has_e && in(cfg.ends, v)))) return {false, 0.0};
    if (i > 0) {
      const int64_t u = r[i - 1];
      double leg = 0.0;
      const bool free_return = !cfg.return_to_end && ((has_s && v == static_cast<int64_t>(cfg.starts[k])) ||
                                                      (has_e && v == static_cast<int64_t>(cfg.ends[k])));
      if (v != u && graph != nullptr && !free_return) {
        const CostVector cv = graph->GetArcCost(u, v);
        if (!cv.empty() && static_cast<size_t>(t) < cv.size()) leg = cv[t];
      }
      c += leg;
    }
    auto w = cfg.windows.find(static_cast<uint64_t>(v));
    if (w != cfg.windows.end()) {
      if (c > w->second.second) return {false, 0.0};
      if (c < w->second.first) c = w->second.first;
    }
    if (i > 0 && limit > 0 && c > limit) return {false, 0.0};
  }
  return {true, c};
}

// A random instance with routes: shared or own depots, one or two agent types,
// optional windows, time limits, missing arcs and negative costs.
struct RandomInstance {
  RouteConfig cfg;
  TestGraph graph;
  std::vector<SolverNode> nodes;
  std::vector<SolverAgent> agents;
  Result result;

  static RandomInstance Make(std::mt19937& rng, bool allow_negative) {
    auto unit = [&rng]() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); };
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    RandomInstance inst;
    const int n_agents = pick(1, 4);
    const int n_types = pick(1, 2);
    const int n_targets = pick(3, 10);
    const bool shared = unit() < 0.4;
    const int n_depots = shared ? 2 : 2 * n_agents;
    const int n = n_depots + n_targets;
    inst.cfg.return_to_end = unit() < 0.6;
    for (int a = 0; a < n_agents; ++a) {
      inst.agents.push_back(MakeAgent(a, pick(0, n_types - 1), unit() < 0.3 ? 20.0 + 40.0 * unit() : 0.0));
      const uint64_t s = shared ? 0 : static_cast<uint64_t>(2 * a);
      const uint64_t e = unit() < 0.3 ? s : s + 1;
      inst.cfg.starts.push_back(s);
      inst.cfg.ends.push_back(e);
    }
    std::vector<int64_t> all_types;
    for (int t = 0; t < n_types; ++t) all_types.push_back(t);
    inst.nodes = MakeNodes(static_cast<uint64_t>(n), all_types);
    for (int v = n_depots; v < n; ++v) {
      if (n_types == 2 && unit() < 0.4) inst.nodes[v].types = {pick(0, 1)};
    }
    inst.graph.ChangeCostDim(static_cast<uint64_t>(n_types), 0.0);
    inst.graph.AddVertex(static_cast<uint64_t>(n - 1));
    const bool negative = allow_negative && unit() < 0.5;
    for (int u = 0; u < n; ++u)
      for (int v = 0; v < n; ++v) {
        CostVector c;
        for (int t = 0; t < n_types; ++t) c.push_back((negative ? -2.0 : 0.0) + 10.0 * unit());
        if (u == v || unit() >= 0.04) inst.graph.Set(u, v, c);  // a few arcs stay absent
      }
    if (unit() < 0.4) {
      for (int v = n_depots; v < n; ++v)
        if (unit() < 0.4) {
          const double open = 15.0 * unit();
          inst.cfg.windows[static_cast<uint64_t>(v)] = {open, open + 25.0 * unit()};
        }
    }
    std::vector<std::vector<int64_t>> interior(static_cast<size_t>(n_agents));
    for (int v = n_depots; v < n; ++v) {
      std::vector<int> ok;
      for (int a = 0; a < n_agents; ++a)
        for (int64_t t : inst.nodes[v].types)
          if (t == inst.agents[a].type) ok.push_back(a);
      const int a =
          ok.empty() || unit() < 0.05 ? pick(0, n_agents - 1) : ok[pick(0, static_cast<int>(ok.size()) - 1)];
      interior[a].push_back(v);
    }
    for (int a = 0; a < n_agents; ++a) {
      std::vector<int64_t> r{static_cast<int64_t>(inst.cfg.starts[a])};
      r.insert(r.end(), interior[a].begin(), interior[a].end());
      r.push_back(static_cast<int64_t>(inst.cfg.ends[a]));
      if (unit() < 0.05) r.erase(r.begin());  // now invalid
      if (unit() < 0.9) {
        inst.result.paths[a] = r;
        const RefCost rc = ReferenceEvaluate(inst.cfg, &inst.graph, inst.nodes, inst.agents, r, a);
        inst.result.times[a] = rc.valid ? rc.cost : 0.0;
      }
    }
    return inst;
  }
};

}  // namespace testing_support
}  // namespace velmora

namespace velmora {
namespace testing_support {

// Hand-built instance for one post-optimizer: a complete graph (default cost
// `fill`), one type list for every node; Run() returns what went to stderr.
template <class Optimizer>
struct HandInstance {
  TestGraph g;
  std::vector<SolverNode> nodes;
  std::vector<SolverAgent> agents;
  Optimizer opt;
  Result result;

  HandInstance(uint64_t n, uint64_t dim, double fill, std::vector<int64_t> types = {0})
      : g(CompleteGraph(n, dim, fill)), nodes(MakeNodes(n, types)) {}

  void Configure(const std::vector<uint64_t>& starts, const std::vector<uint64_t>& ends,
                 const WindowTable& windows = {}, bool rte = true) {
    opt.SetReturnToEnd(rte);
    opt.SetAgentStarts(starts);
    opt.SetAgentEnds(ends);
    opt.SetTimeWindows(windows);
  }
  std::string Run() {
    ::testing::internal::CaptureStderr();
    opt.Optimize(&g, nodes, agents, result);
    return ::testing::internal::GetCapturedStderr();
  }
};

template <class Optimizer>
void ConfigureFrom(Optimizer& opt, const RouteConfig& cfg) {
  opt.SetReturnToEnd(cfg.return_to_end);
  opt.SetAgentStarts(cfg.starts);
  opt.SetAgentEnds(cfg.ends);
  opt.SetTimeWindows(cfg.windows);
}

// Every written route that evaluates valid carries exactly its evaluated
// cost; every other one carries 0.
inline void ExpectConsistentWriteBack(const RandomInstance& inst, const Result& out) {
  ASSERT_EQ(out.paths.size(), out.times.size());
  for (const auto& entry : out.paths) {
    const RefCost rc = ReferenceEvaluate(inst.cfg, &inst.graph, inst.nodes, inst.agents, entry.second,
                                         static_cast<uint64_t>(entry.first));
    ASSERT_EQ(out.times.at(entry.first), rc.valid ? rc.cost : 0.0) << "agent " << entry.first;
  }
}

inline std::vector<int64_t> AllNodes(const Result& r) {
  std::vector<int64_t> all;
  for (const auto& entry : r.paths) all.insert(all.end(), entry.second.begin(), entry.second.end());
  std::sort(all.begin(), all.end());
  return all;
}

}  // namespace testing_support
}  // namespace velmora
