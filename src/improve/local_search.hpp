#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "improve/random_source.hpp"
#include "improve/route_set.hpp"

namespace velmora {

// First-improvement descent over granular neighbourhoods: for every target u
// and each of its nearest targets v, moves that create an arc between u and v
// (relocation of strings of 1-3 targets, also reversed; swaps; 2-opt within a
// route; exchange of route tails), plus relocation to either end of every
// route. A move is taken when the objective after it (the longest of all
// routes, then the total; or the total) is better by more than 1e-9.
class LocalSearch {
 public:
  explicit LocalSearch(RandomSource& random);

  // Descends from `routes` (complete) to a local optimum, or until `stop`
  // (polled every few dozen targets) answers true. Returns the moves applied.
  int64_t Run(RouteSet& routes, const std::function<bool()>* stop = nullptr);
  // The same, looking first at the targets in `seeds` only: a target is looked
  // at again when a move changes the arcs next to it.
  int64_t RunFrom(RouteSet& routes, const std::vector<uint32_t>& seeds,
                  const std::function<bool()>* stop = nullptr);

  // Each operator tries its moves for the pair (u, v) and applies the first
  // improving one; true when it did.
  bool Relocate(uint32_t u, uint32_t v);
  bool RelocateToEnds(uint32_t u);
  bool Swap(uint32_t u, uint32_t v);
  bool TwoOpt(uint32_t u, uint32_t v);
  bool TwoOptStar(uint32_t u, uint32_t v);

  void Bind(RouteSet& routes) { s_ = &routes; }
  // Observer of every evaluated candidate route (agent, pieces, prediction), for tests.
  using Probe = std::function<void(uint32_t, const Piece*, int, const RouteEval&)>;
  void set_probe(Probe probe) { probe_ = std::move(probe); }

 private:
  bool Try(uint32_t a, const Piece* pa, int na);
  bool Try(uint32_t a, const Piece* pa, int na, uint32_t b, const Piece* pb, int nb);
  bool RelocateString(uint32_t a, uint32_t s0, uint32_t s1, bool reversed, uint32_t b, uint32_t p);
  RouteEval Evaluate(uint32_t a, const Piece* pieces, int count) {
    const RouteEval e = s_->Evaluate(a, pieces, count);
    if (probe_) probe_(a, pieces, count, e);
    return e;
  }

  bool Improve(uint32_t u, uint32_t& partner);
  void Activate(uint32_t v);
  void ActivateAround(uint32_t v);

  RouteSet* s_ = nullptr;
  RandomSource& random_;
  std::vector<uint32_t> order_;
  std::vector<uint32_t> queue_;
  std::vector<uint8_t> queued_;
  Probe probe_;
};

}  // namespace velmora
