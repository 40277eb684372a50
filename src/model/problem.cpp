#include "model/problem.hpp"

namespace velmora {

void Problem::add_node(const Node& node) {
  nodes_.push_back(node);
  num_nodes_ = nodes_.size();
}

void Problem::add_agent(Agent agent, uint64_t id) {
  uint64_t type;
  auto it = type_index_.find(agent.type);
  if (it == type_index_.end()) {
    type = type_index_.size();
    type_index_.emplace(agent.type, type);
    agent_types_.push_back(agent.type);
  } else {
    type = it->second;
  }
  agent_type_index_[id] = type;
  agent_index_[id] = agents_ordered_.size();
  agents_ordered_.push_back(agent);
  agents_[id] = std::move(agent);
  num_agents_ = agents_.size();
}

void Problem::set_cost_matrix(const std::string& agent_type, const Matrix& matrix) {
  cost_matrices_[agent_type] = matrix;
}

void Problem::set_assignment_constraint(const AssignmentConstraint& constraint) {
  assignment_constraint_ = constraint;
}

void Problem::set_timewindow_constraint(const TimeWindowConstraint& constraint) {
  timewindow_constraint_ = constraint;
}

}  // namespace velmora
