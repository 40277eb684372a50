#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/routing_context.hpp"

namespace velmora {

// The engine's dense view of one instance, built from a routing context: one
// leg table per agent type in use (the route evaluation's leg costs between
// distinct nodes), target windows, start times, closing options, who may serve
// whom, and granular neighbour lists.
class RouteModel {
 public:
  static constexpr double kInf = std::numeric_limits<double>::infinity();
  static constexpr uint32_t kNoSlot = std::numeric_limits<uint32_t>::max();

  RouteModel(const RoutingContext& context, size_t neighbours);

  const RoutingContext& context() const { return context_; }
  size_t NodeCount() const { return n_; }
  size_t AgentCount() const { return agents_; }
  size_t SlotCount() const { return slots_; }
  const std::vector<uint32_t>& Targets() const { return targets_; }

  uint32_t Slot(uint32_t agent) const { return agent_slot_[agent]; }
  // Leg between distinct nodes u and v (neither a closing leg) for a slot.
  double Leg(uint32_t slot, uint32_t u, uint32_t v) const { return legs_[(slot * n_ + u) * n_ + v]; }
  // The leg table of a slot: the leg from u to v at [u * NodeCount() + v].
  const double* LegTable(uint32_t slot) const { return legs_.data() + slot * n_ * n_; }
  const double* LegRow(uint32_t slot, uint32_t u) const { return legs_.data() + (slot * n_ + u) * n_; }

  // Target windows; -inf / +inf without one.
  double Open(uint32_t v) const { return open_[v]; }
  double Close(uint32_t v) const { return close_[v]; }
  bool TargetWindows() const { return target_windows_; }
  // Some closing node has a window: an early arrival may wait for its opening.
  bool ClosingWindows() const { return closing_windows_; }
  // Some leg is negative: times may fall along a route, so the limit is
  // checked after every step and segment summaries are not used.
  bool Literal() const { return literal_; }

  bool StartOk(uint32_t agent) const { return start_ok_[agent] != 0; }
  double StartTime(uint32_t agent) const { return start_time_[agent]; }
  double Limit(uint32_t agent) const { return limit_[agent]; }
  uint32_t StartNode(uint32_t agent) const { return start_[agent]; }

  // One step along a route: the leg, then the arrival, rejected after the
  // window's close, the wait for its opening, and the agent's limit. False
  // when the step is infeasible (t is then meaningless).
  static bool Step(double leg, double open, double close, double limit, double& t) {
    t += leg;
    if (t > close) return false;
    if (t < open) t = open;
    return !(t > limit);
  }
  // The step from x onto target v for an agent of `slot` with `limit`.
  bool StepTo(uint32_t slot, uint32_t x, uint32_t v, double limit, double& t) const {
    return Step(Leg(slot, x, v), open_[v], close_[v], limit, t);
  }

  // Cost of closing the route of `agent` whose last node is x, reached at t
  // (the best of its closing nodes); false when no closing node can be reached
  // in time or within the limit. `close` receives the node.
  bool CloseRoute(uint32_t agent, uint32_t x, double t, double& cost, uint32_t* close = nullptr) const {
    bool found = false;
    for (uint32_t c = 0; c < close_count_[agent]; ++c) {
      const uint32_t node = close_node_[2 * agent + c];
      // Staying put, and without return-to-end every closing move, is free.
      const double leg = (x != node && return_to_end_) ? Leg(agent_slot_[agent], x, node) : 0.0;
      double tt = t;
      if (!Step(leg, close_open_[2 * agent + c], close_shut_[2 * agent + c], limit_[agent], tt)) continue;
      if (!found || tt < cost) {
        cost = tt;
        if (close != nullptr) *close = node;
        found = true;
      }
    }
    return found;
  }

  bool Serves(uint32_t agent, uint32_t v) const { return serves_[static_cast<size_t>(agent) * n_ + v] != 0; }
  bool SlotServes(uint32_t slot, uint32_t v) const {
    return slot_serves_[static_cast<size_t>(slot) * n_ + v] != 0;
  }
  // Agents that may serve target v.
  const std::vector<uint32_t>& ServersOf(uint32_t v) const { return servers_[v]; }

  // Loads: the targets' demands and the agents' capacities (+inf without one).
  bool Capacities() const { return context_.HasCapacities(); }
  double Demand(uint32_t v) const { return context_.Demand(v); }
  double Capacity(uint32_t agent) const { return context_.Capacity(agent); }
  bool WithinCapacity(uint32_t agent, double load) const { return context_.WithinCapacity(agent, load); }

  // Precedence pairs, listed at both of their nodes.
  struct NodePair {
    uint32_t partner;
    PairKind kind;
    bool before;  // the node is the pair's `before`
  };
  bool Pairs() const { return !pairs_.empty(); }
  bool SamePairs() const { return same_pairs_; }
  const NodePair* PairsBegin(uint32_t v) const { return pairs_.data() + pair_start_[v]; }
  const NodePair* PairsEnd(uint32_t v) const { return pairs_.data() + pair_start_[v + 1]; }

  // The nearest targets of target v (granular moves) and a longer proximity
  // order (string removal).
  const std::vector<uint32_t>& Neighbours(uint32_t v) const { return neighbours_[v]; }
  // A row holds the node itself, then its nearest targets: all of them up to
  // kAdjacencyLength - 1, so rows stay O(n) on large instances.
  const uint32_t* Adjacency(uint32_t v) const {
    return adjacency_.data() + static_cast<size_t>(rank_[v]) * adjacency_length_;
  }
  size_t AdjacencyLength() const { return adjacency_length_; }
  // Distance of target v from the nearest start of an agent that may serve it.
  double DepotDistance(uint32_t v) const { return depot_distance_[v]; }
  // Average leg between a target and its nearest neighbour: the scale of the
  // annealing temperature.
  double TypicalLeg() const { return typical_leg_; }

 private:
  double Proximity(uint32_t u, uint32_t v) const;

  const RoutingContext& context_;
  size_t n_ = 0;
  size_t agents_ = 0;
  size_t slots_ = 0;
  bool return_to_end_ = true;
  bool target_windows_ = false;
  bool closing_windows_ = false;
  bool literal_ = false;
  std::vector<uint32_t> targets_;
  std::vector<uint32_t> rank_;  // node -> position in targets_
  std::vector<int64_t> slot_type_;
  std::vector<uint32_t> agent_slot_;
  std::vector<double> legs_;
  std::vector<double> open_, close_;
  std::vector<uint8_t> start_ok_;
  std::vector<double> start_time_, limit_;
  std::vector<uint32_t> start_;
  std::vector<uint32_t> close_count_, close_node_;
  std::vector<double> close_open_, close_shut_;
  std::vector<uint8_t> serves_, slot_serves_;
  std::vector<std::vector<uint32_t>> servers_;
  std::vector<NodePair> pairs_;       // by node: [pair_start_[v], pair_start_[v + 1])
  std::vector<uint32_t> pair_start_;  // n + 1 entries
  bool same_pairs_ = false;
  std::vector<std::vector<uint32_t>> neighbours_;
  static constexpr size_t kAdjacencyLength = 256;
  std::vector<uint32_t> adjacency_;  // [rank * adjacency_length_ + j]
  size_t adjacency_length_ = 0;
  std::vector<double> depot_distance_;
  double typical_leg_ = 1.0;
};

}  // namespace velmora
