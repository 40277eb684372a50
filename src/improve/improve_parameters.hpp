#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

// The improvement engine's tuning: ruin and recreate, annealing, patience.
// The defaults are what the benchmark was tuned with. `Validate` throws
// std::invalid_argument naming the first field out of its range.
struct ImproveParameters {
  size_t neighbours = 30;            // granular neighbourhood size per node, >= 1
  // A time budget of less than quick_budget seconds descends over the
  // quick_neighbours nearest only (never more than neighbours): the narrower
  // descent costs a third as much, and a short budget gains more from the
  // extra iterations than from the wider moves. quick_neighbours >= 1,
  // quick_budget >= 0 (0: never).
  size_t quick_neighbours = 10;
  double quick_budget = 5.0;
  // Instances with more than insertion_targets targets (0: none) insert a
  // target only beside its routed neighbours and at each route's two ends.
  size_t insertion_targets = 300;
  uint32_t construction_attempts = 8;  // insertion orders tried before repairing, >= 1
  // Under capacities, best-fit packings of demands perturbed by up to
  // pack_noise (relative, in [0, 1]) tried when no insertion order routes every
  // target, before repairing; 0 tries none.
  uint32_t pack_attempts = 32;
  double pack_noise = 0.4;
  double average_removed = 10.0;     // targets a ruin removes on average, > 0
  uint32_t longest_string = 10;      // longest string a string removal cuts, >= 1
  double blink = 0.01;               // chance of skipping an insertion position, in [0, 1)
  double radial_share = 0.3;         // share of the annealing ruins that remove a target's nearest, in [0, 1]
  double repair_centre_share = 0.5;  // share of the repair ruins around a target left out, in [0, 1]
  // Under min-max, the weight of the mean route cost beside the longest route
  // in the objective the annealing compares, >= 0.
  double total_weight = 0.1;
  // Annealing temperatures at the start and the end of the schedule, in units
  // of the typical leg between neighbours; 0 < final <= start.
  double start_temperature = 3.0;
  double final_temperature = 0.01;
  // Without an iteration cap or a progress measure the temperature falls over
  // this many iterations and starts again, >= 1.
  int64_t cycle = 20000;
  // Iterations without a new best after which the search returns to the best, >= 1.
  int64_t patience = 5000;
  // Repair iterations without fewer targets left out after which the instance
  // is taken to have no solution, >= 1.
  int64_t repair_patience = 100000;
  // Repair iterations without fewer targets left out after which the repair
  // starts again from a new construction (and again as often), >= 1.
  int64_t repair_restart = 300;
  // Iterations of every search between two meetings of the searches of one
  // instance (ImprovementTeam), where they take over the best routes, >= 1.
  int64_t exchange_interval = 5000;

  void Validate() const;
};

}  // namespace velmora
