#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/routing_context.hpp"
#include "plugins/constraint_checker_plugin.hpp"

namespace velmora {

// Agent-type assignment and the type-0 dead-end rule; accepts every extension.
class DefaultConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string GetName() const override;
  void Configure(const RoutingContext& context) override;
  // Builds a context of the checker's own from the records (no depots); the
  // dead-end rule looks at the nodes the graph holds at this call.
  void Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
            const std::vector<SolverAgent>& agents) override;
  // True when the node's allowed types do not include the agent's type (the
  // agent's own depots excepted); also true for an agent or node index this
  // checker does not know.
  bool IsForbidden(uint64_t agent, uint64_t node) const override;
  CheckResult CheckExtension(const SearchState& state, uint64_t agent, uint64_t node) const override;
  bool CheckAgent(const SearchState& state, uint64_t agent) const override;
  // True when every type-0 agent is done while a node only type 0 may serve is open.
  bool IsDeadEnd(const SearchState& state) const override;

 private:
  // Fills the tables from `context`; the dead-end rule looks at nodes below `span`.
  void Apply(const RoutingContext& context, uint64_t span);

  RoutingContext own_;  // built by Init
  uint64_t agent_count_ = 0;
  uint64_t node_count_ = 0;
  uint64_t span_ = 0;

  // forbidden_[agent * node_count_ + node].
  std::vector<uint8_t> forbidden_;
  // Ascending node indices below span_ whose allowed types are exactly [0].
  std::vector<uint64_t> type0_only_nodes_;
  // Indices of the agents of type 0.
  std::vector<uint64_t> type0_agents_;
};

}  // namespace velmora
