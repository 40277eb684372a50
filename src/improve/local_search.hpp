#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "improve/improve_settings.hpp"
#include "improve/move_table.hpp"
#include "improve/random_source.hpp"
#include "improve/route_set.hpp"

namespace velmora {

// First-improvement descent over granular neighbourhoods: for every target u
// the moves of its table are tried in order with each of u's nearest targets
// v (as their scope says), then the route-end moves with u alone. A proposal
// is applied when the objective after it (the longest of all routes, then the
// total; or the total) is better by more than kImprovementTolerance. Every move
// keeps its own counts of proposals judged and applied.
class LocalSearch {
 public:
  explicit LocalSearch(RandomSource& random, MoveTable moves = MoveTable::Default());

  // Descends from `routes` (complete) to a local optimum, or until `stop`
  // (polled every few dozen targets) answers true. Returns the moves applied.
  int64_t Run(RouteSet& routes, const std::function<bool()>* stop = nullptr);
  // The same, looking first at the targets in `seeds` only: a target is looked
  // at again when a move changes the arcs next to it.
  int64_t RunFrom(RouteSet& routes, const std::vector<uint32_t>& seeds,
                  const std::function<bool()>* stop = nullptr);

  // Tries move `m` of the table for u and v on the bound routes, whatever its
  // scope; true when it applied a proposal.
  bool TryMove(size_t m, uint32_t u, uint32_t v) {
    judged_ = &counts_[m];
    if (!moves_[m].apply(*this, u, v)) return false;
    ++counts_[m].moves;
    return true;
  }

  // For the moves: the routes they read, and the judgement of a proposal for
  // route a (and b) made of pieces of the current routes, applied when it
  // improves the objective; true when it was applied.
  const RouteSet& routes() const { return *s_; }
  bool Try(uint32_t a, const Piece* pa, int na);
  bool Try(uint32_t a, const Piece* pa, int na, uint32_t b, const Piece* pb, int nb);
  // A proposal the move itself showed cannot improve: counted as judged.
  void Reject() { ++judged_->attempts; }

  const MoveTable& moves() const { return moves_; }
  // Per move of the table, since construction or the last ResetCounts.
  const std::vector<MoveCounts>& counts() const { return counts_; }
  void ResetCounts();

  void Bind(RouteSet& routes) { s_ = &routes; }
  // Observer of every evaluated candidate route (agent, pieces, prediction), for tests.
  using Probe = std::function<void(uint32_t, const Piece*, int, const RouteEval&)>;
  void set_probe(Probe probe) { probe_ = std::move(probe); }

 private:
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
  MoveTable moves_;
  // Rows of the table by scope, in table order: for a neighbour on u's route,
  // on another route, and for u alone.
  std::vector<uint32_t> same_route_rows_, other_route_rows_, route_end_rows_;
  std::vector<MoveCounts> counts_;
  MoveCounts* judged_ = nullptr;  // the counts of the move whose proposals Try judges
  std::vector<uint32_t> order_;
  std::vector<uint32_t> queue_;
  std::vector<uint8_t> queued_;
  Probe probe_;
};

namespace moves {
// Whether the legs alone show that moving positions s0..s1 of route a
// (reversed or not) to just after position p of route b cannot beat the
// current routes (RouteSet::LegsJudgeOne); false when they cannot tell. The
// moves judge no such proposal in full.
bool RelocationCannotImprove(const RouteSet& s, uint32_t a, uint32_t s0, uint32_t s1, bool reversed, uint32_t b,
                             uint32_t p);
// The same for exchanging targets u and v, within a route or between two.
bool SwapCannotImprove(const RouteSet& s, uint32_t u, uint32_t v);
// The same for reversing positions from..to of route a.
bool TwoOptCannotImprove(const RouteSet& s, uint32_t a, uint32_t from, uint32_t to);
}  // namespace moves

}  // namespace velmora
