#pragma once

#include <vector>

#include "graph/planner_graph.hpp"
#include "plugins/plugin_base.hpp"
#include "solver/search_state.hpp"
#include "solver/solver_agent.hpp"
#include "solver/solver_node.hpp"

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
