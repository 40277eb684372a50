// Plugin selection of Solver: which implementation of each family a problem gets.
#include <memory>

#include "plugins/composite_constraint_checker.hpp"
#include "plugins/default_constraint_checker.hpp"
#include "plugins/default_objective.hpp"
#include "plugins/min_sum_objective.hpp"
#include "plugins/time_limit_constraint_checker.hpp"
#include "plugins/time_window_constraint_checker.hpp"
#include "postopt/composite_post_optimizer.hpp"
#include "postopt/default_post_optimizer.hpp"
#include "postopt/route_merging_post_optimizer.hpp"
#include "solver/solver.hpp"

namespace velmora {

// The objective named by the options; a composite checker when there are
// windows or positive time limits; both post-optimizers in a composite.
void Solver::ChoosePlugins(const Options& options) {
  if (options.objective == ObjectiveType::MinSum) {
    objective_ = std::make_unique<MinSumObjective>();
  } else {
    objective_ = std::make_unique<DefaultObjective>();
  }
  bool has_limits = false;
  for (const SolverAgent& a : agents_) {
    if (a.time_limit > 0) {
      has_limits = true;
      break;
    }
  }
  if (has_limits || !windows_.empty()) {
    auto composite = std::make_unique<CompositeConstraintChecker>();
    composite->AddChild(std::make_unique<DefaultConstraintChecker>());
    if (!windows_.empty()) composite->AddChild(std::make_unique<TimeWindowConstraintChecker>());
    if (has_limits) composite->AddChild(std::make_unique<TimeLimitConstraintChecker>());
    checker_ = std::move(composite);
  }
  auto post = std::make_unique<CompositePostOptimizer>();
  post->AddChild(std::make_unique<DefaultPostOptimizer>());
  post->AddChild(std::make_unique<RouteMergingPostOptimizer>());
  post_optimizer_ = std::move(post);
}

}  // namespace velmora
