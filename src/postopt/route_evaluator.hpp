#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <unordered_set>
#include <vector>

#include "core/routing_context.hpp"
#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "core/window_table.hpp"
#include "graph/planner_graph.hpp"
#include "postopt/route_view.hpp"

namespace velmora {

// Outcome of evaluating a route. `cut` marks a candidate abandoned because its
// cost provably exceeds the caller's limit; it is then also reported invalid.
struct RouteCost {
  bool valid = true;
  double cost = 0.0;
  bool cut = false;
};

// Prefix data of one route for one agent: lets edited copies of the route be
// evaluated from their first changed position on, and rejected in O(1) when the
// sum of their legs already exceeds a limit. Filled by RouteEvaluator::BuildProfile;
// stale as soon as the route changes.
struct RouteProfile {
  const Route* route = nullptr;
  uint64_t agent = 0;
  size_t size = 0;
  std::vector<uint8_t> valid;          // positions 0..p pass every per-position check
  std::vector<double> cost;            // cost after position p (meaningful while valid)
  std::vector<double> fwd;             // sum of legs r[q-1] -> r[q], q = 1..p
  std::vector<double> bwd;             // sum of legs r[q] -> r[q-1], q = 1..p
  std::vector<uint32_t> fwd_negative;  // legs counted in fwd[p] that are negative or NaN
  std::vector<uint32_t> bwd_negative;  // same for bwd[p]
  double abs_total = 0.0;              // sum of |leg| both ways: scale of rounding errors
};

// Configuration shared by the post-optimizers (return-to-end flag, time windows,
// agent starts and ends) and the route evaluation and segment reversal built on it.
class RouteEvaluator {
 public:
  static constexpr double kNoLimit = std::numeric_limits<double>::infinity();

  // Takes the depots, windows and return-to-end flag from the context and
  // evaluates legs and visits by its rules (RouteLeg, MayVisit, Arrive,
  // WithinLimit) for the calls with a graph and an agent it knows; the context
  // outlives the evaluator. A later setter call drops it.
  void Configure(const RoutingContext& context);

  // Without a configured context (and for the calls it does not cover) the
  // evaluator reads a context of its own, built from the setters' data and the
  // graph, nodes and agents of the call (graph/TablesFromGraph): it is rebuilt
  // after a setter or Refresh call, or when a call names other records.
  void SetReturnToEnd(bool flag);
  void SetAgentStarts(const std::vector<uint64_t>& starts);
  void SetAgentEnds(const std::vector<uint64_t>& ends);
  void SetTimeWindows(const WindowTable& windows);
  // The graph, nodes or agents of the calls have changed in place: the own
  // context is built again on the next call.
  void Refresh();

  bool ReturnToEnd() const { return return_to_end_; }
  bool HasTimeWindows() const { return has_time_windows_; }
  const WindowTable& TimeWindows() const { return windows_; }
  const std::vector<uint64_t>& AgentStarts() const { return starts_; }
  const std::vector<uint64_t>& AgentEnds() const { return ends_; }
  const std::unordered_set<uint64_t>& StartSet() const { return start_set_; }
  const std::unordered_set<uint64_t>& EndSet() const { return end_set_; }

  // Validity and cost (arrival time at the last node, waits included) of
  // `route` for agent index `agent`.
  RouteCost EvaluateRoute(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                          const std::vector<SolverAgent>& agents, const Route& route, uint64_t agent) const;

  // Same result as evaluating view.Materialise(). With `profile` (built from
  // view.base() for the same agent) the unchanged prefix is not walked again,
  // and the evaluation may stop as soon as the cost is certain to exceed
  // `limit`; it then returns invalid with `cut` set.
  RouteCost EvaluateRoute(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                          const std::vector<SolverAgent>& agents, const RouteView& view, uint64_t agent,
                          const RouteProfile* profile = nullptr, double limit = kNoLimit) const;

  void BuildProfile(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                    const std::vector<SolverAgent>& agents, const Route& route, uint64_t agent,
                    RouteProfile& profile) const;

  // First-improvement segment reversal: reverses positions i..j (first and last
  // node fixed) whenever that lowers `cost` by more than 1e-9, restarting after
  // every improvement. `cost` is the route's current cost on entry.
  void ReverseSegments(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                       const std::vector<SolverAgent>& agents, Route& route, double& cost, uint64_t agent) const;

  // True when node v is another agent's start or end node for agent `agent`
  // (only the sets whose agent list is non-empty count).
  bool IsForeignDepot(uint64_t v, uint64_t agent) const;

 private:
  struct Context;

  // The context whose rules hold for `agent` on these records.
  const RoutingContext& Rules(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                              const std::vector<SolverAgent>& agents, uint64_t agent) const;
  void Rebuild(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
               const std::vector<SolverAgent>& agents) const;
  bool MakeContext(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                   const std::vector<SolverAgent>& agents, uint64_t agent, Context& ctx) const;
  bool EndsMatch(const Context& ctx, int64_t first, int64_t last) const;
  double Leg(const Context& ctx, int64_t u, int64_t v) const;
  bool Visit(const Context& ctx, size_t p, size_t n, int64_t v, int64_t prev, double& c) const;
  template <class At>
  RouteCost Walk(const Context& ctx, const At& at, size_t n, size_t from, double c, double limit) const;
  bool InStartSet(uint64_t v) const;
  bool InEndSet(uint64_t v) const;

  const RoutingContext* context_ = nullptr;
  bool return_to_end_ = false;
  bool has_time_windows_ = false;
  WindowTable windows_;
  std::vector<uint64_t> starts_;
  std::vector<uint64_t> ends_;
  std::unordered_set<uint64_t> start_set_;
  std::unordered_set<uint64_t> end_set_;

  // Dense copy of the depot sets for O(1) look-ups; used while every key is
  // below kDenseLimit, else the hash tables are.
  std::vector<uint8_t> depot_roles_;  // bit 0: start set, bit 1: end set
  bool dense_roles_ = true;

  // The own context and the records it was built from (not thread-safe).
  mutable RoutingContext own_;
  mutable bool own_stale_ = true;
  mutable const PlannerGraph* own_graph_ = nullptr;
  mutable const std::vector<SolverNode>* own_nodes_ = nullptr;
  mutable const std::vector<SolverAgent>* own_agents_ = nullptr;
  mutable size_t own_node_count_ = 0;
  mutable size_t own_agent_count_ = 0;
};

}  // namespace velmora
