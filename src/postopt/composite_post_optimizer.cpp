#include "postopt/composite_post_optimizer.hpp"

#include <utility>

namespace velmora {

CompositePostOptimizer::~CompositePostOptimizer() {
  while (!children_.empty()) children_.pop_back();
}

std::string CompositePostOptimizer::GetName() const { return "CompositePostOptimizer"; }

void CompositePostOptimizer::AddChild(std::unique_ptr<PostOptimizerPlugin> child) {
  if (child) children_.push_back(std::move(child));  // an empty pointer would fault on every call
}

void CompositePostOptimizer::Optimize(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                                      const std::vector<SolverAgent>& agents, Result& result) {
  for (auto& child : children_) child->Optimize(graph, nodes, agents, result);
}

void CompositePostOptimizer::Configure(const RoutingContext& context) {
  for (auto& child : children_) child->Configure(context);
}

void CompositePostOptimizer::SetReturnToEnd(bool flag) {
  for (auto& child : children_) child->SetReturnToEnd(flag);
}

void CompositePostOptimizer::SetAgentStarts(const std::vector<uint64_t>& starts) {
  for (auto& child : children_) child->SetAgentStarts(starts);
}

void CompositePostOptimizer::SetAgentEnds(const std::vector<uint64_t>& ends) {
  for (auto& child : children_) child->SetAgentEnds(ends);
}

void CompositePostOptimizer::SetTimeWindows(const WindowTable& windows) {
  for (auto& child : children_) child->SetTimeWindows(windows);
}

}  // namespace velmora
