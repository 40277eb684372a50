#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/constraint_checker_plugin.hpp"

namespace velmora {

// Agent-type assignment and the type-0 dead-end rule; accepts every extension.
class DefaultConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string GetName() const override;
  void Configure(const RoutingContext& context) override;
  void Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
            const std::vector<SolverAgent>& agents) override;
  // True when the node's allowed types do not include the agent's type; also
  // true for an agent or node index this checker does not know.
  bool IsForbidden(uint64_t agent, uint64_t node) const override;
  CheckResult CheckExtension(const SearchState& state, uint64_t agent, uint64_t node) const override;
  bool CheckAgent(const SearchState& state, uint64_t agent) const override;
  // True when every type-0 agent is done while a node only type 0 may serve is open.
  bool IsDeadEnd(const SearchState& state) const override;

  void SetAgentEnds(const std::vector<uint64_t>& ends);

 private:
  const PlannerGraph* graph_ = nullptr;
  std::vector<SolverNode> nodes_;
  std::vector<SolverAgent> agents_;
  std::vector<uint64_t> ends_;
  uint64_t agent_count_ = 0;
  uint64_t node_count_ = 0;
  const RoutingContext* context_ = nullptr;  // set by Configure

  // forbidden_[agent * nodes_.size() + node], filled by Init.
  std::vector<uint8_t> forbidden_;
  // Ascending node indices whose allowed types are exactly [0].
  std::vector<uint64_t> type0_only_nodes_;
  // Indices of the agents of type 0.
  std::vector<uint64_t> type0_agents_;
};

}  // namespace velmora
