#include "plugins/composite_constraint_checker.hpp"

#include <utility>

namespace velmora {

CompositeConstraintChecker::~CompositeConstraintChecker() {
  while (!children_.empty()) children_.pop_back();
}

std::string CompositeConstraintChecker::GetName() const { return "CompositeConstraintChecker"; }

void CompositeConstraintChecker::Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                      const std::vector<SolverAgent>& agents) {
  for (const auto& child : children_) child->Init(graph, nodes, agents);
}

void CompositeConstraintChecker::Configure(const RoutingContext& context) {
  for (const auto& child : children_) child->Configure(context);
}

bool CompositeConstraintChecker::IsForbidden(uint64_t agent, uint64_t node) const {
  for (const auto& child : children_) {
    if (child->IsForbidden(agent, node)) return true;
  }
  return false;
}

CheckResult CompositeConstraintChecker::CheckExtension(const SearchState& state, uint64_t agent,
                                                       uint64_t node) const {
  // Children see the caller's state until one of them returns a time; from
  // then on they see the private copy carrying that time. Same answers as
  // copying up front, without copying when no child changes the time.
  const SearchState* current = &state;
  bool has_value = false;
  double value = 0.0;
  for (const auto& child : children_) {
    const CheckResult r = child->CheckExtension(*current, agent, node);
    if (!r.ok) return r;
    if (!r.has_value) continue;
    if (current != &scratch_) {
      scratch_ = state;
      current = &scratch_;
    }
    if (agent < scratch_.costs.size()) scratch_.costs[agent] = r.value;
    has_value = true;
    value = r.value;
  }
  if (has_value) return {true, value, true};
  return {true, 0.0, false};
}

bool CompositeConstraintChecker::CheckAgent(const SearchState& state, uint64_t agent) const {
  for (const auto& child : children_) {
    if (!child->CheckAgent(state, agent)) return false;
  }
  return true;
}

bool CompositeConstraintChecker::IsDeadEnd(const SearchState& state) const {
  for (const auto& child : children_) {
    if (child->IsDeadEnd(state)) return true;
  }
  return false;
}

void CompositeConstraintChecker::AddChild(std::unique_ptr<ConstraintCheckerPlugin> child) {
  children_.push_back(std::move(child));
}

const std::vector<std::unique_ptr<ConstraintCheckerPlugin>>& CompositeConstraintChecker::Children() const {
  return children_;
}

}  // namespace velmora
