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

// Improves complete solutions for as long as it is allowed to. A run has three
// phases:
// - start: the caller's solution, or the engine's own cheapest-insertion
//   construction when there is none (or it is not valid), and a descent on it;
// - repair, while some targets are left out: ruins around them and partial
//   reinsertions, accepted when fewer targets are left out (or as many, left
//   out no more often); the instance is taken to have no solution when the
//   count stops falling;
// - annealing: a ruin (strings of consecutive targets, or a target's nearest
//   targets), a reinsertion with blinks and a descent from the removed targets,
//   accepted against a threshold that a geometrically falling temperature
//   sets; after a long spell without a new best the search returns to the best.
// The descent (`LocalSearch`) tries the moves of its table. The tuning lives in
// `ImproveParameters`; the instance is read only through the routing context.
class ImprovementEngine {
 public:
  // Throws std::invalid_argument when settings.parameters are out of range.
  ImprovementEngine(const RoutingContext& context, const ImproveSettings& settings);
  // The same over a model built elsewhere (with settings.Neighbours())
  // that outlives the engine; several engines may share one.
  ImprovementEngine(const RoutingContext& context, const RouteModel& model, const ImproveSettings& settings);

  // Improves `initial` (or a solution of its own construction when it is null
  // or not valid) until `out_of_time()` is true or max_iterations are done.
  // `on_best` receives every new best solution. False when no valid solution
  // was found.
  bool Run(const EngineSolution* initial, const std::function<bool()>& out_of_time,
           const std::function<void(const EngineSolution&)>& on_best);

  // Run in steps, for searches that meet between steps (ImprovementTeam):
  // Begin starts (false when no solution can exist), Advance iterates until
  // `until` iterations are done in all (false when the run is over: the cap,
  // `out_of_time()`, a stalled repair or nothing to route), End closes the run
  // and answers as Run does. The two functions must outlive the run.
  bool Begin(const EngineSolution* initial, const std::function<bool()>& out_of_time,
             const std::function<void(const EngineSolution&)>& on_best);
  bool Advance(int64_t until);
  bool End();
  // The best complete routes of the run so far, and their objective.
  bool HasBest() const { return have_best_; }
  const Objective& BestValue() const { return best_.Value(); }
  // Takes `other`'s best routes as its own best and current routes (a repair
  // ends); not reported as a new best.
  void Adopt(const ImprovementEngine& other);

  const EngineSolution& best() const { return best_solution_; }
  const ImproveCounts& counts() const { return counts_; }

  // Parts used on their own by tests and tools.
  const RouteModel& model() const { return model_; }
  // Cheapest (min-max aware) insertion of every target, farthest first, then
  // in random orders; under capacities also best-fit packings of the largest
  // demands first. False when every attempt leaves some target out, and
  // `routes` then holds the attempt that left out fewest.
  bool Construct(RouteSet& routes);
  // Orders of the construction that put hard targets first.
  struct HardOrder {
    bool deadline;     // earliest closing window first; else fewest agents that may serve it
    bool least_added;  // insertion by least added cost
  };
  std::vector<HardOrder> HardOrders() const;
  // Best-fit decreasing: the targets of `order` not yet routed, each into the
  // route its demand leaves least room in, at that route's cheapest position.
  void Pack(RouteSet& routes, const std::vector<uint32_t>& order);
  // Routes of `solution` (targets in their order; depots after the start are
  // dropped); false unless they cover every target once and are feasible.
  bool Load(const EngineSolution& solution, RouteSet& routes) const;

 private:
  ImprovementEngine(const RoutingContext& context, const RouteModel* shared, const ImproveSettings& settings);
  const ImproveParameters& parameters() const { return settings_.parameters; }

  // The phases of Run.
  bool Start(const EngineSolution* initial);
  bool Finished() const;
  bool Repairing() const { return !absent_.empty(); }
  bool RepairStalled(int64_t it) const { return it - last_fewer_ > parameters().repair_patience; }
  void RepairStep(int64_t it);
  // False when the ruined targets did not all fit back.
  bool AnnealStep(double temperature);
  // Keeps a better complete candidate as the best, or returns to the best
  // after `patience` iterations without one.
  void TrackBest(int64_t it);

  // Share of the schedule done at iteration `it`, in [0, 1].
  double Progress(int64_t it) const;
  double Temperature(double progress) const;
  // Annealing acceptance of `candidate` over `current`: below the current
  // value plus the temperature times an exponential variate.
  bool Accept(const Objective& candidate, const Objective& current, double temperature);
  // The repair's acceptance: fewer targets left out, or as many, left out no
  // more often.
  bool RepairAccepts() const;
  double Scalar(const Objective& o) const;

  // Removes the "same" partners of removed_ too, so that pairs move whole.
  void RemovePartners(RouteSet& routes);
  // Reinserts removed_; false when one of them fits nowhere.
  bool Recreate(RouteSet& routes);
  // Reinserts removed_, the most often absent first; a target that fits
  // nowhere stays out and the routes keep the others.
  void RecreatePartly(RouteSet& routes);
  // Targets of `routes` that are not routed, into `out`.
  void CollectAbsent(const RouteSet& routes, std::vector<uint32_t>& out) const;
  uint64_t AbsenceOf(const std::vector<uint32_t>& targets) const;
  // Some agent may serve each target on a route of its own; when not, no
  // repair can help.
  bool EachTargetFitsAlone();
  void Report(const RouteSet& routes);

  const RoutingContext& context_;
  ImproveSettings settings_;
  std::unique_ptr<const RouteModel> own_model_;  // null when the model is shared
  const RouteModel& model_;
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

  // One run: the current routes, the candidate of the iteration and the best
  // complete routes, with the iterations of the last new best and of the last
  // fall in the targets left out.
  RouteSet current_;
  RouteSet work_;
  RouteSet best_;
  bool have_best_ = false;
  std::vector<uint32_t> work_absent_;
  size_t fewest_out_ = 0;
  int64_t last_best_ = 0;
  int64_t last_fewer_ = 0;
  int64_t last_restart_ = 0;  // the repair's last new construction
  double start_temperature_ = 0.0;
  double final_temperature_ = 0.0;
  const std::function<bool()>* stop_ = nullptr;
  const std::function<void(const EngineSolution&)>* on_best_ = nullptr;
};

// Literal check of a solution against the route rules: every route starts at
// its agent's start, closes at a closing node, serves only targets its agent
// may serve, meets windows and the limit after every step; every target is
// served once; the costs are the route costs. Used before a solution leaves the engine.
bool CheckSolution(const RoutingContext& context, const EngineSolution& solution);

}  // namespace velmora
