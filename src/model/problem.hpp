#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/agent.hpp"
#include "model/assignment_constraint.hpp"
#include "model/node.hpp"
#include "model/options.hpp"
#include "model/time_window_constraint.hpp"

namespace velmora {

using Matrix = std::vector<std::vector<double>>;
using IdPair = std::pair<uint64_t, uint64_t>;

// Precedence pairs (before, after) read from "sequence" constraints; the solver
// does not use them.
struct PrecedenceLists {
  std::vector<IdPair> precedence;
  std::vector<IdPair> precedence_same;
  std::vector<IdPair> precedence_diff;
};

// A routing instance as the caller describes it. Nothing is validated here.
// Nodes and agents live in deques so that references handed out by nodes() and
// agents_ordered() stay valid across later appends.
class Problem {
 public:
  void add_node(const Node& node);
  void add_agent(Agent agent, uint64_t id);
  void set_cost_matrix(const std::string& agent_type, const Matrix& matrix);
  void set_assignment_constraint(const AssignmentConstraint& constraint);
  void set_timewindow_constraint(const TimeWindowConstraint& constraint);

  Options& options() { return options_; }
  const Options& options() const { return options_; }
  std::deque<Node>& nodes() { return nodes_; }
  const std::deque<Node>& nodes() const { return nodes_; }
  std::deque<Agent>& agents_ordered() { return agents_ordered_; }
  const std::deque<Agent>& agents_ordered() const { return agents_ordered_; }

  // Read access for the solver set-up and the JSON reader.
  const std::unordered_map<uint64_t, Agent>& agents() const { return agents_; }
  uint64_t num_agents() const { return num_agents_; }
  uint64_t num_nodes() const { return num_nodes_; }
  const std::map<std::string, Matrix>& cost_matrices() const { return cost_matrices_; }
  const AssignmentConstraint& assignment_constraint() const { return assignment_constraint_; }
  const TimeWindowConstraint& timewindow_constraint() const { return timewindow_constraint_; }
  const PrecedenceLists& precedence_lists() const { return precedence_; }
  void set_precedence_lists(PrecedenceLists lists) { precedence_ = std::move(lists); }
  const std::unordered_map<uint64_t, uint64_t>& agent_index() const { return agent_index_; }
  const std::unordered_map<std::string, uint64_t>& type_index() const { return type_index_; }
  const std::vector<std::string>& agent_types() const { return agent_types_; }
  const std::unordered_map<uint64_t, uint64_t>& agent_type_index() const { return agent_type_index_; }

 private:
  std::deque<Node> nodes_;
  std::unordered_map<uint64_t, Agent> agents_;
  uint64_t num_agents_ = 0;
  uint64_t num_nodes_ = 0;
  std::map<std::string, Matrix> cost_matrices_;
  AssignmentConstraint assignment_constraint_;
  TimeWindowConstraint timewindow_constraint_;
  PrecedenceLists precedence_;
  Options options_;
  std::deque<Agent> agents_ordered_;
  std::unordered_map<uint64_t, uint64_t> agent_index_;
  std::unordered_map<std::string, uint64_t> type_index_;
  std::vector<std::string> agent_types_;
  std::unordered_map<uint64_t, uint64_t> agent_type_index_;
};

}  // namespace velmora
