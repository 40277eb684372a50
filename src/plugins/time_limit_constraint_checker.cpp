#include "plugins/time_limit_constraint_checker.hpp"

#include "core/routing_context.hpp"

namespace velmora {

std::string TimeLimitConstraintChecker::GetName() const { return "TimeLimitConstraintChecker"; }

void TimeLimitConstraintChecker::Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                      const std::vector<SolverAgent>& agents) {
  inner_.Init(graph, nodes, agents);
  limits_.clear();
  for (const SolverAgent& agent : agents) limits_.push_back(agent.time_limit);
}

void TimeLimitConstraintChecker::Configure(const RoutingContext& context) {
  inner_.Configure(context);
  limits_.clear();
  for (uint64_t k = 0; k < context.AgentCount(); ++k) limits_.push_back(context.TimeLimit(k));
}

bool TimeLimitConstraintChecker::IsForbidden(uint64_t agent, uint64_t node) const {
  return inner_.IsForbidden(agent, node);
}

CheckResult TimeLimitConstraintChecker::CheckExtension(const SearchState& /*state*/, uint64_t /*agent*/,
                                                       uint64_t /*node*/) const {
  return {true, 0.0, false};
}

bool TimeLimitConstraintChecker::CheckAgent(const SearchState& state, uint64_t agent) const {
  // An agent this checker does not know carries no limit.
  if (agent >= limits_.size()) return true;
  const double limit = limits_[agent];
  if (limit <= 0.0) return true;
  // A limited agent without a cost in the state cannot be shown to be within it.
  if (agent >= state.costs.size()) return false;
  return state.costs[agent] <= limit;
}

bool TimeLimitConstraintChecker::IsDeadEnd(const SearchState& state) const { return inner_.IsDeadEnd(state); }

}  // namespace velmora
