#include "plugins/default_constraint_checker.hpp"

#include <algorithm>

#include "core/node_set.hpp"
#include "core/routing_context.hpp"

namespace velmora {

std::string DefaultConstraintChecker::GetName() const { return "DefaultConstraintChecker"; }

void DefaultConstraintChecker::Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                    const std::vector<SolverAgent>& agents) {
  graph_ = graph;
  context_ = nullptr;
  nodes_ = nodes;
  agents_ = agents;
  agent_count_ = agents_.size();
  node_count_ = nodes_.size();

  const size_t n = nodes_.size();
  forbidden_.assign(agent_count_ * n, 1);
  for (size_t a = 0; a < agent_count_; ++a) {
    for (size_t i = 0; i < n; ++i) {
      const std::vector<int64_t>& types = nodes_[i].types;
      const bool allowed = std::find(types.begin(), types.end(), agents_[a].type) != types.end();
      forbidden_[a * n + i] = allowed ? 0 : 1;
    }
  }

  type0_only_nodes_.clear();
  // Only indices that fit a visited set can be tested against one.
  const size_t addressable = std::min<size_t>(n, NodeSet::kBits);
  for (size_t i = 0; i < addressable; ++i) {
    const std::vector<int64_t>& types = nodes_[i].types;
    if (types.size() == 1 && types[0] == 0) type0_only_nodes_.push_back(i);
  }
  type0_agents_.clear();
  for (size_t a = 0; a < agent_count_; ++a) {
    if (agents_[a].type == 0) type0_agents_.push_back(a);
  }
}

void DefaultConstraintChecker::Configure(const RoutingContext& context) {
  context_ = &context;
  graph_ = nullptr;
  nodes_.clear();
  agents_.clear();
  ends_ = context.Ends();
  agent_count_ = context.AgentCount();
  node_count_ = context.NodeCount();
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
  for (size_t i = 0; i < std::min<size_t>(n, NodeSet::kBits); ++i) {
    if (context.IsDepot(i)) continue;  // closed by its own agents, never served
    const std::vector<int64_t>& types = context.NodeTypes(i);
    if (types.size() == 1 && types[0] == 0) type0_only_nodes_.push_back(i);
  }
}

void DefaultConstraintChecker::SetAgentEnds(const std::vector<uint64_t>& ends) { ends_ = ends; }

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
  const uint64_t vertices =
      context_ != nullptr ? context_->NodeCount() : (graph_ != nullptr ? graph_->NumVertex() : 0);
  for (uint64_t i : type0_only_nodes_) {
    if (i >= vertices) break;
    if (!state.visited.test(i)) return true;
  }
  return false;
}

}  // namespace velmora
