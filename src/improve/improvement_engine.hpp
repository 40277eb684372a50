#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/routing_context.hpp"
#include "improve/improve_settings.hpp"
#include "improve/insertion.hpp"
#include "improve/local_search.hpp"
#include "improve/radial_removal.hpp"
#include "improve/random_source.hpp"
#include "improve/route_model.hpp"
#include "improve/route_set.hpp"
#include "improve/string_removal.hpp"

namespace velmora {

// Improves complete solutions for as long as it is allowed to: a descent with
// granular neighbourhoods, then ruin and recreate with string removals,
// simulated annealing acceptance and a descent on every recreated solution.
// Reads the instance only through the routing context.
class ImprovementEngine {
 public:
  ImprovementEngine(const RoutingContext& context, const ImproveSettings& settings);

  // Improves `initial` (or a solution of its own construction when it is null
  // or not valid) until `out_of_time()` is true or max_iterations are done.
  // `on_best` receives every new best solution. False when no valid solution
  // was found.
  bool Run(const EngineSolution* initial, const std::function<bool()>& out_of_time,
           const std::function<void(const EngineSolution&)>& on_best);

  const EngineSolution& best() const { return best_solution_; }
  const ImproveCounts& counts() const { return counts_; }

  // Parts used on their own by tests and tools.
  const RouteModel& model() const { return model_; }
  // Cheapest (min-max aware) insertion of every target, farthest first, then
  // in random orders; false when every attempt leaves some target out, and
  // `routes` then holds the attempt that left out fewest.
  bool Construct(RouteSet& routes);
  // Routes of `solution` (targets in their order; depots after the start are
  // dropped); false unless they cover every target once and are feasible.
  bool Load(const EngineSolution& solution, RouteSet& routes) const;

 private:
  double Scalar(const Objective& o) const;
  // Reinserts removed_; with `partial` a target that fits nowhere stays out
  // (the routes keep the others), otherwise the first such target fails it.
  bool Recreate(RouteSet& routes, bool partial);
  // Targets of `routes` that are not routed, into `out`.
  void CollectAbsent(const RouteSet& routes, std::vector<uint32_t>& out) const;
  uint64_t AbsenceOf(const std::vector<uint32_t>& targets) const;
  // Some agent may serve each target on a route of its own; when not, no
  // repair can help.
  bool EachTargetFitsAlone();
  void Report(const RouteSet& routes, const std::function<void(const EngineSolution&)>& on_best);

  const RoutingContext& context_;
  ImproveSettings settings_;
  RouteModel model_;
  RandomSource random_;
  LocalSearch local_search_;
  Insertion insertion_;
  StringRemoval removal_;
  RadialRemoval radial_;
  std::vector<uint32_t> removed_;
  // While no complete solution is known: the targets the current routes leave
  // out, and how often each target was left out (hard ones are inserted first).
  std::vector<uint32_t> absent_;
  std::vector<uint32_t> absence_;
  EngineSolution best_solution_;
  ImproveCounts counts_;
};

// Literal check of a solution against the route rules: every route starts at
// its agent's start, closes at a closing node, serves only targets its agent
// may serve, meets windows and the limit after every step; every target is
// served once; the costs are the route costs. Used before a solution leaves the engine.
bool CheckSolution(const RoutingContext& context, const EngineSolution& solution);

}  // namespace velmora
