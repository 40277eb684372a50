#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "core/constants.hpp"
#include "core/diagnostics.hpp"
#include "core/weighted_pair.hpp"

namespace velmora {

// How a precedence pair ties its two targets.
enum class PairKind : uint8_t {
  kTime,  // `before` is served no later than `after`, by any agents
  kSame,  // one agent serves both, `before` earlier on its route
  kDiff,  // two different agents, with the time rule
};

// A precedence pair by node index.
struct PrecedencePair {
  uint64_t before = 0;
  uint64_t after = 0;
  PairKind kind = PairKind::kTime;
};

// What a routing context is built from, with nodes and agents by dense index.
struct RoutingTables {
  size_t nodes = 0;
  size_t types = 0;
  // [(type * nodes + u) * nodes + v]; NaN where the graph has no arc u -> v.
  std::vector<double> costs;
  std::vector<std::vector<int64_t>> node_types;  // allowed agent types per node
  std::vector<int64_t> agent_type;               // per agent; may lie outside 0..types-1
  std::vector<double> time_limit;                // per agent; 0 or less: unlimited
  std::vector<uint64_t> starts;                  // per agent; RoutingContext::kNone: none
  std::vector<uint64_t> ends;                    // per agent; RoutingContext::kNone: none
  // (node, (open, close)); nodes outside 0..nodes-1 are ignored.
  std::vector<std::pair<uint64_t, std::pair<double, double>>> windows;
  bool return_to_end = true;
  // Rules only the improvement engine knows. Empty demands: no capacities;
  // otherwise one demand per node and one capacity per agent (0 or less: none).
  std::vector<double> demand;
  std::vector<double> capacity;
  std::vector<PrecedencePair> pairs;  // targets only, each pair of two distinct nodes
};

// Read-only view of one instance for everything that walks routes: dense cost
// tables per agent type, allowed types, windows, depots and limits, and the
// route rules stated once. Built once per solver; O(1) look-ups throughout.
class RoutingContext {
 public:
  static constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();

  RoutingContext() = default;
  explicit RoutingContext(RoutingTables tables);

  size_t NodeCount() const { return n_; }
  size_t AgentCount() const { return agent_type_.size(); }
  size_t TypeCount() const { return types_; }
  bool ReturnToEnd() const { return return_to_end_; }
  bool HasWindows() const { return has_windows_; }
  bool HasTimeLimits() const { return has_limits_; }
  // Capacities are enforced: some agent has one and demands are known.
  bool HasCapacities() const { return has_capacities_; }
  bool HasPairs() const { return !pairs_.empty(); }

  // Raw table entry: NaN without an arc, or for a type outside the tables.
  double Cost(int64_t type, uint64_t u, uint64_t v) const {
    if (type < 0 || static_cast<uint64_t>(type) >= types_ || u >= n_ || v >= n_) return kNaN;
    return costs_[(static_cast<size_t>(type) * n_ + u) * n_ + v];
  }
  // Row u of a valid type's table (n entries).
  const double* CostRow(int64_t type, uint64_t u) const {
    return costs_.data() + (static_cast<size_t>(type) * n_ + u) * n_;
  }
  // Same as Cost, with `absent` in place of NaN.
  double CostOr(int64_t type, uint64_t u, uint64_t v, double absent) const {
    const double c = Cost(type, u, v);
    return c != c ? absent : c;
  }

  int64_t AgentType(uint64_t agent) const { return agent_type_[agent]; }
  double TimeLimit(uint64_t agent) const { return time_limit_[agent]; }
  bool HasLimit(uint64_t agent) const { return time_limit_[agent] > 0; }
  uint64_t Start(uint64_t agent) const { return starts_[agent]; }
  uint64_t End(uint64_t agent) const { return ends_[agent]; }
  const std::vector<uint64_t>& Starts() const { return starts_; }
  const std::vector<uint64_t>& Ends() const { return ends_; }
  // The node's demand (0 unless capacities are enforced) and the agent's
  // capacity (+inf unless it has one that is enforced).
  double Demand(uint64_t v) const { return has_capacities_ ? demand_[v] : 0.0; }
  double Capacity(uint64_t agent) const { return has_capacities_ ? capacity_[agent] : kInfinity; }
  // A load the agent may carry: at most its capacity, allowing for the
  // rounding of sums taken in another order.
  bool WithinCapacity(uint64_t agent, double load) const {
    const double c = Capacity(agent);
    return !(load > c + kLoadSlack * std::max(1.0, c));
  }
  const std::vector<PrecedencePair>& Pairs() const { return pairs_; }
  // The served times of a pair's nodes keep its order.
  static bool InOrder(double before, double after) {
    return !(before > after + kLoadSlack * std::max(1.0, std::fabs(after)));
  }

  // Node roles.
  bool InStartSet(uint64_t v) const { return v < n_ && (roles_[v] & kStartRole) != 0; }
  bool InEndSet(uint64_t v) const { return v < n_ && (roles_[v] & kEndRole) != 0; }
  bool IsDepot(uint64_t v) const { return v < n_ && roles_[v] != 0; }
  // A node every solution must serve: one that is no agent's start or end.
  bool IsTarget(uint64_t v) const { return v < n_ && roles_[v] == 0; }
  bool IsOwnDepot(uint64_t agent, uint64_t v) const { return v == starts_[agent] || v == ends_[agent]; }
  // The move onto v costs the agent nothing: without return-to-end, its own
  // start and end node are where its route closes.
  bool FreeArrival(uint64_t agent, uint64_t v) const {
    return !return_to_end_ && (v == starts_[agent] || v == ends_[agent]);
  }
  // Another agent's start or end node, which the agent's route may not pass.
  bool IsForeignDepot(uint64_t agent, uint64_t v) const { return IsDepot(v) && !IsOwnDepot(agent, v); }

  // The node's assignment lets agent type `type` serve it.
  bool AllowsType(uint64_t v, int64_t type) const {
    return type >= 0 && static_cast<uint64_t>(type) < types_ && v < n_ &&
           allowed_[v * types_ + static_cast<size_t>(type)] != 0;
  }
  const std::vector<int64_t>& NodeTypes(uint64_t v) const { return node_types_[v]; }

  // Windows by node index.
  bool HasWindow(uint64_t v) const { return v < n_ && has_window_[v] != 0; }
  double WindowOpen(uint64_t v) const { return window_open_[v]; }
  double WindowClose(uint64_t v) const { return window_close_[v]; }

  // --- Route rules of the route evaluation (post-optimizers, improvement) ---

  // Cost of the leg u -> v on agent's route: staying put is free; without
  // return-to-end a move onto the agent's own start or end node is free; a
  // missing arc costs 0.
  double RouteLeg(uint64_t agent, uint64_t u, uint64_t v) const {
    if (u == v) return 0.0;
    if (FreeArrival(agent, v)) return 0.0;
    return CostOr(agent_type_[agent], u, v, 0.0);
  }
  // The agent may stand at v after its start: its own depots always; any other
  // node when its type may serve it and it is no other agent's start or end.
  bool MayVisit(uint64_t agent, uint64_t v) const {
    if (IsOwnDepot(agent, v)) return true;
    return AllowsType(v, agent_type_[agent]) && !IsDepot(v);
  }
  // Arrival at v at time t: waits for an unopened window (t moves to its
  // opening); false when the window has closed.
  bool Arrive(uint64_t v, double& t) const {
    if (!HasWindow(v)) return true;
    if (t > window_close_[v]) return false;
    if (t < window_open_[v]) t = window_open_[v];
    return true;
  }
  // The agent's limit holds at cost t.
  bool WithinLimit(uint64_t agent, double t) const {
    return !(time_limit_[agent] > 0 && t > time_limit_[agent]);  // a NaN time passes, as in the evaluation
  }
  // A route may close at v: the agent's end node, or without return-to-end
  // also its start node.
  bool ClosesAt(uint64_t agent, uint64_t v) const {
    return v == ends_[agent] || (!return_to_end_ && v == starts_[agent]);
  }

  // --- Variants of the search and of the time-window check ---

  // The search may move the agent onto v as far as depots go: with
  // return-to-end never back onto its start (unless it is also its end) nor
  // onto another end node; without, onto neither another agent's start nor
  // another end node.
  bool SearchMayEnter(uint64_t agent, uint64_t v) const {
    const uint64_t s = starts_[agent];
    const uint64_t e = ends_[agent];
    if (return_to_end_) {
      if (v == s && v != e) return false;
      return v == e || !InEndSet(v);
    }
    if (v != s && InStartSet(v)) return false;
    return v == e || !InEndSet(v);
  }
  // The time-window check's admissibility: v is no end node but the agent's
  // own end and no start node but its own start, and the agent's type may
  // serve it (an assignment does not keep an agent from its own depots).
  // Stricter than MayVisit: a node where the agent starts and another agent
  // ends is not admissible.
  bool MayServe(uint64_t agent, uint64_t v) const {
    if (InEndSet(v) && v != ends_[agent]) return false;
    if (InStartSet(v) && v != starts_[agent]) return false;
    return IsOwnDepot(agent, v) || AllowsType(v, agent_type_[agent]);
  }
  // Travel time of the time-window check from x to y: 0 onto the agent's
  // start, 0 onto its end without return-to-end, 0 without an arc.
  double WindowTravel(uint64_t agent, uint64_t x, uint64_t y) const {
    if (y == starts_[agent]) return 0.0;
    if (!return_to_end_ && y == ends_[agent]) return 0.0;
    return CostOr(agent_type_[agent], x, y, 0.0);
  }

  // --- Shortcuts: where a detour through targets beats the direct arc ---

  // Finds, per agent type in use, whether some path through targets is
  // shorter than the direct arc (rounded travel times and missing arcs often
  // allow it), and the shortest paths through targets for the types where
  // one is. O(n^3) per type; the owner calls it only where windows or limits
  // make such detours matter. Until then every type counts as metric.
  void FindShortcuts();
  // No path through targets is shorter than the direct arc for agents of `type`.
  bool Metric(int64_t type) const {
    return type < 0 || static_cast<size_t>(type) >= metric_.size() || metric_[static_cast<size_t>(type)] != 0;
  }
  bool AllMetric() const { return all_metric_; }
  // Shortest travel time from u to v through targets for a non-metric type.
  double ShortestTravel(int64_t type, uint64_t u, uint64_t v) const {
    return shortest_[(static_cast<size_t>(type) * n_ + u) * n_ + v];
  }

  // --- Set-up products the owner adds before handing the context out ---

  // The heuristic's edge list, sorted by weight.
  const std::vector<WeightedPair>& Edges() const { return edges_; }
  void SetEdges(std::vector<WeightedPair> edges) { edges_ = std::move(edges); }
  // Where the plugins' console lines go; not owned.
  const Diagnostics& Log() const { return *diagnostics_; }
  void SetDiagnostics(const Diagnostics* diagnostics) {
    diagnostics_ = diagnostics != nullptr ? diagnostics : &Diagnostics::Console();
  }

 private:
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  static constexpr double kInfinity = std::numeric_limits<double>::infinity();
  static constexpr double kLoadSlack = 1e-9;
  static constexpr uint8_t kStartRole = 1;
  static constexpr uint8_t kEndRole = 2;

  size_t n_ = 0;
  size_t types_ = 0;
  bool return_to_end_ = true;
  bool has_windows_ = false;
  bool has_limits_ = false;
  bool has_capacities_ = false;
  std::vector<double> costs_;
  std::vector<std::vector<int64_t>> node_types_;
  std::vector<uint8_t> allowed_;  // [node * types_ + type]
  std::vector<int64_t> agent_type_;
  std::vector<double> time_limit_;
  std::vector<uint64_t> starts_;
  std::vector<uint64_t> ends_;
  std::vector<uint8_t> roles_;  // bit 0: some agent's start, bit 1: some agent's end
  std::vector<uint8_t> has_window_;
  std::vector<double> window_open_;
  std::vector<double> window_close_;
  std::vector<double> demand_;
  std::vector<double> capacity_;  // +inf without a limit
  std::vector<PrecedencePair> pairs_;
  std::vector<uint8_t> metric_;    // per type, after FindShortcuts
  bool all_metric_ = true;
  std::vector<double> shortest_;  // [(type * n + u) * n + v], filled for non-metric types
  std::vector<WeightedPair> edges_;
  const Diagnostics* diagnostics_ = &Diagnostics::Console();
};

}  // namespace velmora
