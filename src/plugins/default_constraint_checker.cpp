#include "plugins/default_constraint_checker.hpp"

#include <algorithm>

#include "core/node_set.hpp"
#include "graph/graph_tables.hpp"

namespace velmora {

std::string DefaultConstraintChecker::GetName() const { return "DefaultConstraintChecker"; }

void DefaultConstraintChecker::Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                    const std::vector<SolverAgent>& agents) {
  own_ = RoutingContext(TablesFromGraph(graph, nodes, agents, {}, {}, {}, true));
  Apply(own_, graph != nullptr ? graph->NumVertex() : 0);
}

void DefaultConstraintChecker::Configure(const RoutingContext& context) { Apply(context, context.NodeCount()); }

void DefaultConstraintChecker::Apply(const RoutingContext& context, uint64_t span) {
  agent_count_ = context.AgentCount();
  node_count_ = context.NodeCount();
  span_ = std::min<uint64_t>(span, node_count_);
  const size_t n = node_count_;
  forbidden_.assign(agent_count_ * n, 1);
  type0_agents_.clear();
  for (size_t a = 0; a < agent_count_; ++a) {
    const int64_t type = context.AgentType(a);
    // An assignment says who may serve a node; the agent's own start and end
    // are where its route begins and closes, whoever serves them otherwise.
    for (size_t i = 0; i < n; ++i) {
      forbidden_[a * n + i] = context.AllowsType(i, type) || context.IsOwnDepot(a, i) ? 0 : 1;
    }
    if (type == 0) type0_agents_.push_back(a);
  }
  type0_only_nodes_.clear();
  // Only indices that fit a visited set can be tested against one.
  for (size_t i = 0; i < std::min<size_t>(span_, NodeSet::kBits); ++i) {
    if (context.IsDepot(i)) continue;  // closed by its own agents, never served
    const std::vector<int64_t>& types = context.NodeTypes(i);
    if (types.size() == 1 && types[0] == 0) type0_only_nodes_.push_back(i);
  }
}

bool DefaultConstraintChecker::IsForbidden(uint64_t agent, uint64_t node) const {
  if (agent >= agent_count_ || node >= node_count_) return true;
  return forbidden_[agent * node_count_ + node] != 0;
}

CheckResult DefaultConstraintChecker::CheckExtension(const SearchState& /*state*/, uint64_t /*agent*/,
                                                     uint64_t /*node*/) const {
  return {true, 0.0, false};
}

bool DefaultConstraintChecker::CheckAgent(const SearchState& /*state*/, uint64_t /*agent*/) const { return true; }

bool DefaultConstraintChecker::IsDeadEnd(const SearchState& state) const {
  for (uint64_t a : type0_agents_) {
    // An agent without a done flag in the state counts as still open.
    if (a >= state.done.size() || state.done[a] == 0) return false;
  }
  for (uint64_t i : type0_only_nodes_) {
    if (!state.visited.test(i)) return true;
  }
  return false;
}

}  // namespace velmora
