#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugins/constraint_checker_plugin.hpp"

namespace velmora {

// Runs an ordered list of owned checkers as one. Extension checks are chained:
// a time returned by one child is what the following children see.
class CompositeConstraintChecker : public ConstraintCheckerPlugin {
 public:
  CompositeConstraintChecker() = default;
  CompositeConstraintChecker(const CompositeConstraintChecker&) = delete;
  CompositeConstraintChecker& operator=(const CompositeConstraintChecker&) = delete;
  // Destroys the children from the last to the first.
  ~CompositeConstraintChecker() override;

  std::string GetName() const override;
  void Configure(const RoutingContext& context) override;
  void Init(const PlannerGraph* graph, const std::vector<SolverNode>& nodes,
            const std::vector<SolverAgent>& agents) override;
  bool IsForbidden(uint64_t agent, uint64_t node) const override;
  CheckResult CheckExtension(const SearchState& state, uint64_t agent, uint64_t node) const override;
  bool CheckAgent(const SearchState& state, uint64_t agent) const override;
  bool IsDeadEnd(const SearchState& state) const override;

  // Appends a child and takes ownership of it.
  void AddChild(std::unique_ptr<ConstraintCheckerPlugin> child);
  const std::vector<std::unique_ptr<ConstraintCheckerPlugin>>& Children() const;

 private:
  std::vector<std::unique_ptr<ConstraintCheckerPlugin>> children_;
  // Private copy of the state handed to the children once one of them has
  // changed the agent's time; kept between calls so its lists keep their
  // capacity (the search is single-threaded).
  mutable SearchState scratch_;
};

}  // namespace velmora
