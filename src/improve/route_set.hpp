#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/constants.hpp"
#include "improve/improve_settings.hpp"
#include "improve/route_model.hpp"
#include "improve/segment.hpp"

namespace velmora {

// The objective of a set of routes: its longest route and its total.
struct Objective {
  double longest = 0.0;
  double total = 0.0;
};

// A piece of a new route: positions from..to (inclusive, 0 = the start) of a
// current route, forward or reversed, or a single node outside any route.
struct Piece {
  static constexpr uint32_t kFree = std::numeric_limits<uint32_t>::max();
  uint32_t route = 0;
  uint32_t from = 0;
  uint32_t to = 0;
  bool reversed = false;

  static Piece Prefix(uint32_t r, uint32_t to) { return Piece{r, 0, to, false}; }
  static Piece Range(uint32_t r, uint32_t from, uint32_t to, bool reversed = false) {
    return Piece{r, from, to, reversed};
  }
  static Piece Node(uint32_t v) { return Piece{kFree, v, v, false}; }
  bool Empty() const { return route != kFree && to < from; }
};

struct RouteEval {
  bool ok = false;
  double cost = 0.0;
};

// One route per agent (route index = agent index) with the data that lets a
// changed route be judged in O(1): prefix arrival times, suffix window
// summaries and cumulative leg sums per agent type, and node positions. A new
// route is described as a short list of pieces of the current routes, the
// first always a prefix of the agent's own route; the route closes at the
// agent's best closing node.
class RouteSet {
 public:
  static constexpr double kInf = std::numeric_limits<double>::infinity();
  static constexpr uint32_t kUnrouted = std::numeric_limits<uint32_t>::max();

  RouteSet(const RouteModel& model, bool min_max);

  const RouteModel& model() const { return *model_; }
  bool MinMax() const { return min_max_; }
  uint32_t RouteCount() const { return static_cast<uint32_t>(routes_.size()); }
  // Targets on route r; positions 1..Size(r) hold them, position 0 the start.
  uint32_t Size(uint32_t r) const { return static_cast<uint32_t>(routes_[r].seq.size() - 1); }
  uint32_t At(uint32_t r, uint32_t p) const { return routes_[r].seq[p]; }
  bool Routed(uint32_t v) const { return route_of_[v] != kUnrouted; }
  uint32_t RouteOf(uint32_t v) const { return route_of_[v]; }
  uint32_t PosOf(uint32_t v) const { return pos_of_[v]; }
  double Cost(uint32_t r) const { return routes_[r].cost; }
  const Objective& Value() const { return value_; }
  size_t Unrouted() const { return unrouted_; }
  // Every target routed, every route within its windows, limit and capacity,
  // and every precedence pair kept.
  bool Complete() const { return unrouted_ == 0 && value_.total < kInf && (!pairs_ || PairsHold()); }
  // Load of route r up to position p (0 without enforced capacities).
  double Load(uint32_t r, uint32_t p) const { return routes_[r].load.empty() ? 0.0 : routes_[r].load[p]; }
  // Arrival (after waiting) at position p of route r.
  double Time(uint32_t r, uint32_t p) const { return routes_[r].time[p]; }

  // Precedence pairs between routed targets: all of them, those with a node on
  // route r, and those of the route `pieces` would make for `agent` (its
  // arrival times walked literally), the other routes as they are. Partners
  // that are not routed are not judged.
  bool PairsHold() const;
  bool RoutePairsHold(uint32_t r) const;
  bool NewRouteKeepsPairs(uint32_t agent, const Piece* pieces, int count) const;
  // Targets of route r that the agent type `slot` may not serve, in positions 1..p.
  uint32_t Barred(uint32_t r, uint32_t slot, uint32_t p) const {
    return model_->SlotCount() == 1 ? 0 : routes_[r].barred[slot * stride_ + p];
  }

  // Cost of the route of `agent` made of `pieces`, closed at its best closing node.
  RouteEval Evaluate(uint32_t agent, const Piece* pieces, int count) const;

  // Without target windows or negative legs a route's time is its start time
  // plus its legs, and its cost never falls when the arrival at its last
  // target grows; without closing windows it grows by just as much. A move
  // that keeps the last target of each route it changes can then be judged
  // from the legs it adds and removes, which may show that it cannot beat the
  // current routes: within one route (LegsJudgeOne) when the route grows, and
  // between two (LegsJudgeTwo) when the total grows, unless under min-max the
  // longest route can fall, or when under min-max one of the two grows past
  // the longest route. The slack lies far above the rounding
  // of the legs' sums, so these judgements are the ones a full evaluation
  // gives.
  bool LegsJudgeOne() const { return legs_one_; }
  bool LegsJudgeTwo() const { return legs_two_; }
  const uint32_t* Sequence(uint32_t r) const { return routes_[r].seq.data(); }
  // Legs from position `from` to position `to` (1 <= from <= to) of route r
  // for the agent type `slot`, walked forwards or backwards.
  double Stretch(uint32_t r, uint32_t slot, uint32_t from, uint32_t to, bool reversed) const {
    const std::vector<double>& sums = reversed ? routes_[r].bwd : routes_[r].fwd;
    return sums[slot * stride_ + to] - sums[slot * stride_ + from];
  }
  // The only route changed grows by `delta`.
  bool NoGain(double delta) const { return delta > LegSlack(); }
  // Routes a and b change by delta_a and delta_b.
  bool NoGain(uint32_t a, double delta_a, uint32_t b, double delta_b) const {
    if (!min_max_) return delta_a + delta_b > LegSlack();
    if (GrowsPastLongest(a, delta_a) || GrowsPastLongest(b, delta_b)) return true;
    // Neither passes the longest route: the total has to fall, unless the
    // longest route itself can.
    return delta_a + delta_b > LegSlack() && !LongestMayFall(a, delta_a, b, delta_b);
  }
  // Route r grows by `delta` past the longest route (min-max).
  bool GrowsPastLongest(uint32_t r, double delta) const {
    return routes_[r].cost + delta > value_.longest + LegSlack();
  }
  // Whether the longest route may fall by more than the tolerance when routes
  // a and b change by delta_a and delta_b (min-max): every other route lies
  // below the mark, and so may both of them.
  bool LongestMayFall(uint32_t a, double delta_a, uint32_t b, double delta_b) const {
    const double mark = value_.longest - kImprovementTolerance;
    const double reach = mark + LegSlack();
    return LongestOther(a, b) < mark && routes_[a].cost + delta_a < reach && routes_[b].cost + delta_b < reach;
  }

  // Objective after routes a (and b) take new costs.
  Objective After(uint32_t a, double cost_a) const;
  Objective After(uint32_t a, double cost_a, uint32_t b, double cost_b) const;
  // Longest route other than a and b (-inf when there is none).
  double LongestOther(uint32_t a, uint32_t b) const;
  // x beats y by more than kImprovementTolerance.
  bool Better(const Objective& x, const Objective& y) const { return Better(min_max_, x, y); }
  // The same for either objective: the longest route, then the total (min_max), or the total.
  static bool Better(bool min_max, const Objective& x, const Objective& y) {
    if (!min_max) return x.total < y.total - kImprovementTolerance;
    if (x.longest < y.longest - kImprovementTolerance) return true;
    return x.longest <= y.longest && x.total < y.total - kImprovementTolerance;
  }

  // Replace routes a (and b) by the pieces; false, with nothing changed, when
  // the literal walk of a new route finds it infeasible, or when `beat` is given
  // and the routes' recomputed value does not beat it. The prediction a move is
  // judged by differs from the recomputed value by rounding, which legs of very
  // different sizes make large; a descent that applies only what truly improves
  // cannot cycle.
  bool Apply(uint32_t a, const Piece* pa, int na, const Objective* beat = nullptr);
  bool Apply(uint32_t a, const Piece* pa, int na, uint32_t b, const Piece* pb, int nb,
             const Objective* beat = nullptr);

  // Building and ruin. Removals leave the routes' data stale until Refresh.
  void Clear();
  void SetTargets(uint32_t r, const std::vector<uint32_t>& targets);
  void Remove(uint32_t r, uint32_t from, uint32_t to);
  void InsertAfter(uint32_t r, uint32_t p, uint32_t v);  // refreshes r
  void RemoveTarget(uint32_t v);                          // refreshes its route
  void Refresh(uint32_t r);
  void RefreshValue();

  // Copies the routes and data of `other` (same model), reusing storage.
  void CopyFrom(const RouteSet& other);

  EngineSolution Export() const;
  // The node sequence the pieces describe (without the closing node).
  void Materialise(const Piece* pieces, int count, std::vector<uint32_t>& out) const;

 private:
  struct RouteData {
    std::vector<uint32_t> seq;     // start, then targets
    std::vector<double> time;      // arrival (after waiting) at each position
    std::vector<uint8_t> ok;       // prefix up to the position is feasible
    std::vector<Segment> suffix;   // [slot * stride + p]: targets p..end (target windows)
    std::vector<double> fwd, bwd;  // [slot * stride + p]: legs between targets 1..p, forward / backward
    std::vector<uint32_t> barred;  // [slot * stride + p]
    std::vector<double> load;      // demands of targets 1..p (with enforced capacities)
    double cost = 0.0;
    uint32_t close = 0;
    bool feasible = true;
  };

  bool Walk(uint32_t slot, double limit, const RouteData& q, const Piece& piece, uint32_t& x, double& t) const;
  double LegSlack() const { return 1e-10 * (1.0 + std::fabs(value_.total)); }

  const RouteModel* model_;
  bool min_max_;
  bool loads_;  // capacities are enforced
  bool legs_one_;
  bool legs_two_;
  bool pairs_;  // precedence pairs are enforced
  size_t stride_;
  std::vector<RouteData> routes_;
  std::vector<uint32_t> route_of_, pos_of_;
  size_t unrouted_ = 0;
  Objective value_;
  std::array<uint32_t, 3> top_{};
  uint32_t top_count_ = 0;
  std::vector<uint32_t> scratch_a_, scratch_b_;
  // The pairs' judgement of a new route: its nodes, arrival times and node positions.
  mutable std::vector<uint32_t> pair_seq_;
  mutable std::vector<double> pair_time_;
  mutable std::vector<uint32_t> pair_pos_;
};

}  // namespace velmora
