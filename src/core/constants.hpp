#pragma once

#include <cstdint>
#include <limits>

namespace velmora {

// Cost of a pair of nodes that no matrix cell gives; the heuristic and the
// reachability test read costs at or above it as missing arcs.
constexpr double kMissingCost = 9999.0;

// Largest number of nodes a search can handle: the visited set has 256 bits.
constexpr uint64_t kMaxNodes = 256;

// Largest number of nodes with improvement on: beyond kMaxNodes the
// improvement engine works alone, on n x n tables per agent type.
constexpr uint64_t kMaxImproveNodes = 2000;

// Starting value of minimum searches and the weight of a blocked node pair.
constexpr double kLargest = std::numeric_limits<double>::max();

// A route cost counts as improved only when it beats the current one by more
// than this (post-optimizers, anytime list, the improvement engine's objective).
constexpr double kImprovementTolerance = 1e-9;

// Two computations of one route cost agree when they differ by at most this,
// relative to the cost (and absolutely below a cost of 1).
constexpr double kCostAgreementTolerance = 1e-9;

// An incumbent keeps open states whose f lies up to this much above it.
constexpr double kIncumbentSlack = 0.2;

// Defaults of the anytime focal search.
struct SearchDefaults {
  static constexpr double kTimeLimit = 60.0;        // seconds of processor time
  static constexpr double kFirstWeight = 100.0;     // focal weight of the first iteration
  static constexpr int32_t kMaxIterations = 100;    // weight iterations at most
  static constexpr uint64_t kGrowthStep = 1024;     // first step of the id capacity
  static constexpr uint64_t kGrowthLimit = 4096;    // the step doubles up to this
};

}  // namespace velmora
