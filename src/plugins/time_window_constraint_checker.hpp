#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/node_set.hpp"
#include "core/routing_context.hpp"
#include "core/window_table.hpp"
#include "plugins/constraint_checker_plugin.hpp"
#include "plugins/default_constraint_checker.hpp"

namespace velmora {

// Time-window feasibility of a move: the arrival fits the target's window
// (waiting when early), no open node could be served first without delaying
// the target, and every open node can still be reached in time by some agent.
// Assignment and dead ends come from an inner default checker.
class TimeWindowConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string GetName() const override;
  void Configure(const RoutingContext& context) override;
  // Init and the setters build a context of the checker's own from what they
  // are given (a node or agent without a depot has none).
  void Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
            const std::vector<SolverAgent>& agents) override;
  bool IsForbidden(uint64_t agent, uint64_t node) const override;
  // On rejection {false, 0, false}; on acceptance {true, arrival after
  // waiting, true} when waiting changed the agent's time, else {true, 0, false}.
  CheckResult CheckExtension(const SearchState& state, uint64_t agent, uint64_t node) const override;
  bool CheckAgent(const SearchState& state, uint64_t agent) const override;
  bool IsDeadEnd(const SearchState& state) const override;

  void SetAgentEnds(const std::vector<uint64_t>& ends);
  void SetTimeWindows(const WindowTable& windows);
  void SetAgentStarts(const std::vector<uint64_t>& starts);
  void SetReturnToEnd(bool return_to_end);

 private:
  static constexpr size_t kMaxNodes = NodeSet::kBits;

  // Travel time of agent j from x to y (RoutingContext::WindowTravel).
  double Travel(uint64_t j, uint64_t x, uint64_t y) const { return ctx_->WindowTravel(j, x, y); }
  // A lower bound of the time agent j needs from x to y over any route: the
  // direct travel where its type's times obey the triangle inequality over
  // targets, else the shortest path through targets (RoutingContext::FindShortcuts).
  double ReachTime(uint64_t j, uint64_t x, uint64_t y) const;
  // The dominance and coverage tests rest on the triangle inequality: for a
  // type without it the dominance test is off and coverage reads shortest paths.
  bool Metric(uint64_t j) const;
  bool Admissible(uint64_t j, uint64_t i) const { return admissible_[j * node_span_ + i] != 0; }
  void Rebuild();
  void Apply(const RoutingContext& context, size_t nodes, bool skip_done, bool no_windows, bool has_graph);

  DefaultConstraintChecker inner_;
  // What Init and the setters were given.
  WindowTable windows_;
  const PlannerGraph* graph_ = nullptr;
  std::vector<SolverNode> nodes_;
  std::vector<SolverAgent> agents_;
  std::vector<uint64_t> ends_;
  std::vector<uint64_t> starts_;
  bool return_to_end_ = false;
  RoutingContext own_;

  const RoutingContext* ctx_ = &own_;
  bool has_graph_ = false;   // off: only the window at the target is checked
  bool skip_done_ = false;   // finished agents serve nothing more
  bool no_windows_ = true;
  uint64_t agent_count_ = 0;
  size_t node_span_ = 0;             // nodes examined: min(node count, kMaxNodes)
  std::vector<uint8_t> admissible_;  // [agent * node_span_ + node]: MayServe
};

}  // namespace velmora
