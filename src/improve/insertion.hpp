#pragma once

#include <cstddef>
#include <cstdint>

#include "improve/random_source.hpp"
#include "improve/route_set.hpp"

namespace velmora {

// Best insertion of an unrouted target over every route whose agent may serve
// it. Under min-max the best position is the one that leaves the longest route
// shortest, then the one that adds least; under min-sum the one that adds
// least. Each position is skipped with a given probability ("blinks").
class Insertion {
 public:
  // With more than `wide_targets` targets (0: never), a target is tried only
  // beside its routed neighbours and at each route's two ends.
  explicit Insertion(RandomSource& random, size_t wide_targets = 0)
      : random_(random), wide_targets_(wide_targets) {}

  // Inserts v; false, with the routes unchanged, when no position is feasible.
  // `least_added` judges every position by what it adds alone, also under
  // min-max: it keeps the routes' slack for targets still to come.
  // Precedence pairs are kept with the routed partners; a target whose "same"
  // partner is not routed goes in with it, on one route (alone when the two
  // fit nowhere together).
  bool Insert(RouteSet& routes, uint32_t v, double blink, bool least_added = false);
  // `first` and then `second` on one route, at the best pair of positions.
  bool InsertPair(RouteSet& routes, uint32_t first, uint32_t second, double blink, bool least_added);

 private:
  RandomSource& random_;
  size_t wide_targets_;
};

}  // namespace velmora
