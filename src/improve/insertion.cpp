#include "improve/insertion.hpp"

#include "core/constants.hpp"

namespace velmora {

bool Insertion::Insert(RouteSet& routes, uint32_t v, double blink, bool least_added) {
  const bool min_max = routes.MinMax() && !least_added;
  bool found = false;
  uint32_t best_route = 0;
  uint32_t best_pos = 0;
  double best_longest = RouteSet::kInf;
  double best_added = RouteSet::kInf;
  for (uint32_t r : routes.model().ServersOf(v)) {
    const uint32_t n = routes.Size(r);
    const double before = routes.Cost(r);
    const double others = min_max ? routes.LongestOther(r, r) : 0.0;
    for (uint32_t p = 0; p <= n; ++p) {
      if (blink > 0.0 && random_.Unit() < blink) continue;
      const Piece pieces[3] = {Piece::Prefix(r, p), Piece::Node(v), Piece::Range(r, p + 1, n)};
      const RouteEval e = routes.Evaluate(r, pieces, 3);
      if (!e.ok) continue;
      const double added = e.cost - before;
      bool better;
      if (min_max) {
        const double longest = e.cost > others ? e.cost : others;
        better = longest < best_longest - kImprovementTolerance ||
                 (longest <= best_longest + kImprovementTolerance && added < best_added);
        if (better) best_longest = longest;
      } else {
        better = added < best_added;
      }
      if (better) {
        best_added = added;
        best_route = r;
        best_pos = p;
        found = true;
      }
    }
  }
  if (!found) return false;
  routes.InsertAfter(best_route, best_pos, v);
  return true;
}

}  // namespace velmora
