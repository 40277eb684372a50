#pragma once

#include <vector>

#include "core/plugin_base.hpp"
#include "core/search_state.hpp"
#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "graph/planner_graph.hpp"

namespace velmora {

// Estimates the cost still to come from a state.
class HeuristicPlugin : public PluginBase {
 public:
  std::string GetName() const override = 0;
  virtual void Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                    const std::vector<SolverAgent>& agents) = 0;
  virtual double Estimate(const SearchState& state) const = 0;
};

}  // namespace velmora
