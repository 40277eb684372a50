#pragma once

#include <memory>
#include <string>
#include <vector>

#include "postopt/post_optimizer_plugin.hpp"

namespace velmora {

// Runs an ordered list of owned post-optimizers one after the other; each child
// sees the routes the previous one left in the result.
class CompositePostOptimizer : public PostOptimizerPlugin {
 public:
  CompositePostOptimizer() = default;
  CompositePostOptimizer(const CompositePostOptimizer&) = delete;
  CompositePostOptimizer& operator=(const CompositePostOptimizer&) = delete;
  // Destroys the children from the last to the first.
  ~CompositePostOptimizer() override;

  std::string GetName() const override;
  void Configure(const RoutingContext& context) override;
  void Optimize(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                const std::vector<SolverAgent>& agents, Result& result) override;
  void SetReturnToEnd(bool flag) override;
  void SetAgentStarts(const std::vector<uint64_t>& starts) override;
  void SetAgentEnds(const std::vector<uint64_t>& ends) override;
  void SetTimeWindows(const WindowTable& windows) override;

  // Appends a child and takes ownership of it.
  void AddChild(std::unique_ptr<PostOptimizerPlugin> child);
  const std::vector<std::unique_ptr<PostOptimizerPlugin>>& Children() const { return children_; }

 private:
  std::vector<std::unique_ptr<PostOptimizerPlugin>> children_;
};

}  // namespace velmora
