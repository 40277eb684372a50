#pragma once

#include <cstdint>
#include <vector>

#include "core/plugin_base.hpp"
#include "core/search_state.hpp"
#include "core/solver_agent.hpp"
#include "core/solver_node.hpp"
#include "graph/planner_graph.hpp"

namespace velmora {

// Answer of CheckExtension. A rejection is {false, 0, false}; acceptance
// without a new time {true, 0, false}; with one, {true, time, true}.
struct CheckResult {
  bool ok = false;
  double value = 0.0;
  bool has_value = false;
};

// Feasibility rules of the search.
class ConstraintCheckerPlugin : public PluginBase {
 public:
  std::string GetName() const override = 0;
  virtual void Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
                    const std::vector<SolverAgent>& agents) = 0;
  // True when the agent may not serve the node.
  virtual bool IsForbidden(uint64_t agent, uint64_t node) const = 0;
  virtual CheckResult CheckExtension(const SearchState& state, uint64_t agent, uint64_t node) const = 0;
  // True while the agent is within its limits.
  virtual bool CheckAgent(const SearchState& state, uint64_t agent) const = 0;
  // True when the state can no longer be completed.
  virtual bool IsDeadEnd(const SearchState& state) const = 0;
};

}  // namespace velmora
