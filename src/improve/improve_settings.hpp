#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace velmora {

struct ImproveSettings {
  bool min_max = true;  // longest route, then total; false: total only
  uint64_t seed = 0;
  int64_t max_iterations = 0;  // ruin-and-recreate iterations; 0: no cap
  // Fraction of the time budget used so far, in [0, 1]; steers the annealing
  // schedule when there is no iteration cap. Without it the temperature falls
  // and rises again in fixed cycles.
  std::function<double()> progress;
  size_t neighbours = 30;  // granular neighbourhood size per node
};

// One route per agent, as full node sequences, with the route evaluation's costs.
struct EngineSolution {
  std::vector<std::vector<uint64_t>> paths;
  std::vector<double> costs;
};

// What the engine did, for the result's statistics.
struct ImproveCounts {
  int64_t iterations = 0;     // ruin-and-recreate iterations
  int64_t moves = 0;          // local-search moves applied
  int64_t accepted = 0;       // iterations whose result became the current solution
  int64_t improvements = 0;   // new best solutions
  int64_t restarts = 0;       // returns of the current solution to the best
  bool constructed = false;   // the start was the engine's own construction
  double start_time = 0.0;    // processor seconds of the solve when the engine took over
};

}  // namespace velmora
