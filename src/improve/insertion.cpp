#include "improve/insertion.hpp"

#include "core/constants.hpp"

namespace velmora {

namespace {

// A "same" partner of v that is not routed yet: the pair then goes in whole.
bool UnroutedSamePartner(const RouteSet& routes, uint32_t v, uint32_t& partner, bool& v_first) {
  const RouteModel& m = routes.model();
  for (const RouteModel::NodePair* pair = m.PairsBegin(v); pair != m.PairsEnd(v); ++pair) {
    if (pair->kind != PairKind::kSame || routes.Routed(pair->partner)) continue;
    partner = pair->partner;
    v_first = pair->before;
    return true;
  }
  return false;
}

// The best position so far: under min-max the one that leaves the longest
// route shortest, then the one that adds least; otherwise the one that adds least.
struct BestPlace {
  explicit BestPlace(bool min_max) : min_max(min_max) {}

  // Whether a new route costing `cost` (the route cost `before`, the other
  // routes' longest `others`) beats it.
  bool Beaten(double cost, double before, double others) const {
    const double added = cost - before;
    if (!min_max) return added < best_added;
    const double longest = cost > others ? cost : others;
    return longest < best_longest - kImprovementTolerance ||
           (longest <= best_longest + kImprovementTolerance && added < best_added);
  }
  void Take(double cost, double before, double others) {
    if (min_max) best_longest = cost > others ? cost : others;
    best_added = cost - before;
    found = true;
  }

  bool min_max;
  bool found = false;
  double best_longest = RouteSet::kInf;
  double best_added = RouteSet::kInf;
};

}  // namespace

bool Insertion::Insert(RouteSet& routes, uint32_t v, double blink, bool least_added) {
  if (routes.model().SamePairs()) {
    uint32_t w = 0;
    bool v_first = true;
    if (UnroutedSamePartner(routes, v, w, v_first)) {
      if (v_first ? InsertPair(routes, v, w, blink, least_added) : InsertPair(routes, w, v, blink, least_added)) {
        return true;
      }
    }
  }
  const bool pairs = routes.model().Pairs();
  const bool min_max = routes.MinMax() && !least_added;
  BestPlace best(min_max);
  uint32_t best_route = 0;
  uint32_t best_pos = 0;
  const auto consider = [&](uint32_t r, uint32_t p, double before, double others) {
    if (blink > 0.0 && random_.Unit() < blink) return;
    const uint32_t n = routes.Size(r);
    const Piece pieces[3] = {Piece::Prefix(r, p), Piece::Node(v), Piece::Range(r, p + 1, n)};
    const RouteEval e = routes.Evaluate(r, pieces, 3);
    if (!e.ok || !best.Beaten(e.cost, before, others)) return;
    // The pairs are judged only for a position that would be taken.
    if (pairs && !routes.NewRouteKeepsPairs(r, pieces, 3)) return;
    best.Take(e.cost, before, others);
    best_route = r;
    best_pos = p;
  };
  const RouteModel& m = routes.model();
  const auto every_position = [&] {
    for (uint32_t r : m.ServersOf(v)) {
      const double before = routes.Cost(r);
      const double others = min_max ? routes.LongestOther(r, r) : 0.0;
      for (uint32_t p = 0, n = routes.Size(r); p <= n; ++p) consider(r, p, before, others);
    }
  };
  if (wide_targets_ == 0 || m.Targets().size() <= wide_targets_) {
    every_position();
  } else {
    // Many targets: each route's two ends, then beside each routed neighbour;
    // every position when none of those is feasible.
    for (uint32_t r : m.ServersOf(v)) {
      const double others = min_max ? routes.LongestOther(r, r) : 0.0;
      consider(r, 0, routes.Cost(r), others);
      if (routes.Size(r) > 0) consider(r, routes.Size(r), routes.Cost(r), others);
    }
    for (uint32_t w : m.Neighbours(v)) {
      if (!routes.Routed(w)) continue;
      const uint32_t r = routes.RouteOf(w);
      if (!m.Serves(r, v)) continue;
      const double others = min_max ? routes.LongestOther(r, r) : 0.0;
      const uint32_t p = routes.PosOf(w);
      if (p > 1) consider(r, p - 1, routes.Cost(r), others);
      if (p < routes.Size(r)) consider(r, p, routes.Cost(r), others);
    }
    if (!best.found) every_position();
  }
  if (!best.found) return false;
  routes.InsertAfter(best_route, best_pos, v);
  return true;
}

bool Insertion::InsertPair(RouteSet& routes, uint32_t first, uint32_t second, double blink, bool least_added) {
  const RouteModel& m = routes.model();
  const bool min_max = routes.MinMax() && !least_added;
  BestPlace best(min_max);
  uint32_t best_route = 0;
  uint32_t best_p = 0;
  uint32_t best_q = 0;
  for (uint32_t r : m.ServersOf(first)) {
    if (!m.Serves(r, second)) continue;
    const uint32_t n = routes.Size(r);
    const double before = routes.Cost(r);
    const double others = min_max ? routes.LongestOther(r, r) : 0.0;
    for (uint32_t p = 0; p <= n; ++p) {
      if (blink > 0.0 && random_.Unit() < blink) continue;
      for (uint32_t q = p; q <= n; ++q) {
        const Piece pieces[5] = {Piece::Prefix(r, p), Piece::Node(first), Piece::Range(r, p + 1, q),
                                 Piece::Node(second), Piece::Range(r, q + 1, n)};
        const RouteEval e = routes.Evaluate(r, pieces, 5);
        if (!e.ok || !best.Beaten(e.cost, before, others)) continue;
        if (!routes.NewRouteKeepsPairs(r, pieces, 5)) continue;
        best.Take(e.cost, before, others);
        best_route = r;
        best_p = p;
        best_q = q;
      }
    }
  }
  if (!best.found) return false;
  routes.InsertAfter(best_route, best_p, first);
  routes.InsertAfter(best_route, best_q + 1, second);
  return true;
}

}  // namespace velmora
