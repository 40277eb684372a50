#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "improve/improve_parameters.hpp"

namespace velmora {

struct ImproveSettings {
  bool min_max = true;  // longest route, then total; false: total only
  uint64_t seed = 0;
  int64_t max_iterations = 0;  // ruin-and-recreate iterations; 0: no cap
  // Fraction of the time budget used so far, in [0, 1]; steers the annealing
  // schedule when there is no iteration cap. Without it the temperature falls
  // and rises again in fixed cycles.
  std::function<double()> progress;
  // The solve's time budget in seconds; 0: not bounded by time. Only a fixed
  // input steers the tuning, so that a seed and a cap give the same routes on
  // every machine.
  double budget = 0.0;
  ImproveParameters parameters;  // tuning; validated by the engine

  // The granular neighbourhood of the descent: parameters.neighbours, or
  // parameters.quick_neighbours for a short time budget.
  size_t Neighbours() const {
    const bool quick = budget > 0.0 && budget < parameters.quick_budget;
    return quick && parameters.quick_neighbours < parameters.neighbours ? parameters.quick_neighbours
                                                                        : parameters.neighbours;
  }
};

// One route per agent, as full node sequences, with the route evaluation's costs.
struct EngineSolution {
  std::vector<std::vector<uint64_t>> paths;
  std::vector<double> costs;
};

// What one local-search move did.
struct MoveCounts {
  const char* name = "";  // the move table's name
  int64_t attempts = 0;   // proposals judged
  int64_t moves = 0;      // proposals applied (each improved the objective)
};

// What the engine did, for the result's statistics.
struct ImproveCounts {
  int64_t iterations = 0;     // ruin-and-recreate iterations
  int64_t moves = 0;          // local-search moves applied (the sum of by_move's moves)
  int64_t accepted = 0;       // iterations whose result became the current solution
  int64_t improvements = 0;   // new best solutions
  int64_t restarts = 0;       // returns of the current solution to the best
  bool constructed = false;   // the start was the engine's own construction
  double start_time = 0.0;    // processor seconds of the solve when the engine took over
  std::vector<MoveCounts> by_move;  // per local-search move, in the order they are tried
};

}  // namespace velmora
