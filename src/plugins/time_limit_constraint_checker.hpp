#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/constraint_checker_plugin.hpp"
#include "plugins/default_constraint_checker.hpp"

namespace velmora {

// Keeps every agent's route cost within its time limit (a limit <= 0 is none);
// assignment and dead ends come from an inner default checker.
class TimeLimitConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string GetName() const override;
  void Configure(const RoutingContext& context) override;
  void Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
            const std::vector<SolverAgent>& agents) override;
  bool IsForbidden(uint64_t agent, uint64_t node) const override;
  CheckResult CheckExtension(const SearchState& state, uint64_t agent, uint64_t node) const override;
  bool CheckAgent(const SearchState& state, uint64_t agent) const override;
  bool IsDeadEnd(const SearchState& state) const override;

 private:
  DefaultConstraintChecker inner_;
  std::vector<double> limits_;  // per agent; 0 or less: unlimited
};

}  // namespace velmora
