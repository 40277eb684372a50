#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "plugins/constraint_checker_plugin.hpp"
#include "plugins/default_constraint_checker.hpp"
#include "solver/node_set.hpp"
#include "solver/window_table.hpp"

namespace velmora {

// Time-window feasibility of a move: the arrival fits the target's window
// (waiting when early), no open node could be served first without delaying
// the target, and every open node can still be reached in time by some agent.
// Assignment and dead ends come from an inner default checker.
class TimeWindowConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string GetName() const override;
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
  static constexpr uint64_t kNone = ~uint64_t{0};
  static constexpr size_t kMaxNodes = NodeSet::kBits;

  // Travel time of agent j from x to y (0 without an arc, onto j's start, or
  // onto j's end when routes need not return there).
  double Travel(uint64_t j, uint64_t x, uint64_t y) const;
  bool Admissible(uint64_t j, uint64_t i) const { return admissible_[j * node_span_ + i] != 0; }
  void RebuildAgentTables();

  DefaultConstraintChecker inner_;
  WindowTable windows_;
  const PlannerGraph* graph_ = nullptr;
  std::vector<SolverNode> nodes_;
  std::vector<SolverAgent> agents_;
  uint64_t agent_count_ = 0;
  std::vector<uint64_t> ends_;
  std::vector<uint64_t> starts_;
  bool return_to_end_ = false;

  // Dense views of the above, indexed by node (below kMaxNodes) or agent.
  std::array<uint8_t, kMaxNodes> has_window_{};
  std::array<double, kMaxNodes> window_start_{};
  std::array<double, kMaxNodes> window_end_{};
  std::array<uint8_t, kMaxNodes> is_end_{};
  std::array<uint8_t, kMaxNodes> is_start_{};
  std::vector<uint64_t> start_of_;  // per agent, kNone without one
  std::vector<uint64_t> end_of_;    // per agent, kNone without one
  std::vector<int64_t> type_of_;    // per agent
  size_t node_span_ = 0;            // nodes examined: min(node count, kMaxNodes)
  std::vector<uint8_t> admissible_;  // [agent * node_span_ + node]
};

}  // namespace velmora
