#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/diagnostics.hpp"
#include "postopt/post_optimizer_plugin.hpp"
#include "postopt/route_evaluator.hpp"

namespace velmora {

// Route of one agent with its current cost.
struct RouteRecord {
  uint64_t agent = 0;
  double cost = 0.0;
  Route route;
};

// The agents of one type index.
struct AgentGroup {
  uint64_t count = 0;
  int64_t type = 0;
  uint64_t costliest = 0;
  uint64_t cheapest = 0;
  std::vector<uint64_t> members;  // in joining order
};

// Best single-node move from a group's costliest member to a group's cheapest.
struct Relocation {
  int64_t donor_position = -1;
  int64_t receiver_position = -1;
  int64_t donor_group = 0;
  int64_t receiver_group = 0;
  double gain = 0.0;
};

// Straightens every route with segment reversals, then moves single nodes from
// the costliest route to a cheaper one (within a type group, then across
// groups) while that lowers the larger of the two route costs.
class DefaultPostOptimizer : public PostOptimizerPlugin {
 public:
  std::string GetName() const override;
  void Configure(const RoutingContext& context) override;
  void Optimize(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                const std::vector<SolverAgent>& agents, Result& result) override;
  void SetReturnToEnd(bool flag) override;
  void SetAgentStarts(const std::vector<uint64_t>& starts) override;
  void SetAgentEnds(const std::vector<uint64_t>& ends) override;
  void SetTimeWindows(const WindowTable& windows) override;

  const RouteEvaluator& Evaluator() const { return evaluator_; }

  // Working state of the last Optimize.
  const std::vector<RouteRecord>& Records() const { return records_; }
  const std::unordered_map<int64_t, AgentGroup>& Groups() const { return groups_; }
  const std::vector<int64_t>& GroupOrder() const { return group_order_; }

  // Recomputes the costliest and cheapest member of group `type` (ties keep
  // the earlier member).
  void RefreshGroup(int64_t type);
  // Best move of one node from the costliest member of group `donor` into the
  // cheapest member of group `receiver`; gain 0 and positions -1 when none helps.
  Relocation FindRelocation(int64_t donor, int64_t receiver) const;
  // Moves the node at donor position i before receiver position j when both
  // resulting routes are valid.
  void ApplyRelocation(RouteRecord& donor, RouteRecord& receiver, int64_t i, int64_t j);

 private:
  RouteCost Evaluate(const Route& route, uint64_t agent) const;
  // The phases of Optimize.
  void GroupRoutes(const Result& result);
  void ImproveWithinGroups();
  void RelocateAcrossGroups();
  void WriteBack(Result& result) const;

  const Diagnostics* log_ = &Diagnostics::Console();

  RouteEvaluator evaluator_;
  const PlannerGraph* graph_ = nullptr;
  std::vector<SolverNode> nodes_;
  std::vector<SolverAgent> agents_;
  std::vector<RouteRecord> records_;
  std::unordered_map<int64_t, AgentGroup> groups_;
  std::vector<int64_t> group_order_;
};

}  // namespace velmora
