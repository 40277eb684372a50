#pragma once

#include <cstdint>
#include <vector>

#include "core/plugin_base.hpp"
#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "core/window_table.hpp"
#include "graph/planner_graph.hpp"
#include "model/result.hpp"

namespace velmora {

// Improves the routes of a recorded solution in place.
class PostOptimizerPlugin : public PluginBase {
 public:
  std::string GetName() const override = 0;
  virtual void Optimize(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                        const std::vector<SolverAgent>& agents, Result& result) = 0;
  virtual void SetReturnToEnd(bool flag) = 0;
  virtual void SetAgentStarts(const std::vector<uint64_t>& starts) = 0;
  virtual void SetAgentEnds(const std::vector<uint64_t>& ends) = 0;
  virtual void SetTimeWindows(const WindowTable& windows) = 0;
};

}  // namespace velmora
