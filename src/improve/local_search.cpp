#include "improve/local_search.hpp"

#include <utility>

namespace velmora {

LocalSearch::LocalSearch(RandomSource& random) : random_(random) {}

bool LocalSearch::Try(uint32_t a, const Piece* pa, int na) {
  const RouteEval ea = Evaluate(a, pa, na);
  if (!ea.ok || !s_->Better(s_->After(a, ea.cost), s_->Value())) return false;
  return s_->Apply(a, pa, na);
}

bool LocalSearch::Try(uint32_t a, const Piece* pa, int na, uint32_t b, const Piece* pb, int nb) {
  const RouteEval ea = Evaluate(a, pa, na);
  if (!ea.ok) return false;
  // Under min-max a route that grows past the longest one cannot help.
  if (s_->MinMax() && ea.cost > s_->Value().longest) return false;
  const RouteEval eb = Evaluate(b, pb, nb);
  if (!eb.ok || !s_->Better(s_->After(a, ea.cost, b, eb.cost), s_->Value())) return false;
  return s_->Apply(a, pa, na, b, pb, nb);
}

int64_t LocalSearch::Run(RouteSet& routes, const std::function<bool()>* stop) {
  s_ = &routes;
  const std::vector<uint32_t>& targets = routes.model().Targets();
  order_.assign(targets.begin(), targets.end());
  int64_t moves = 0;
  bool improved = true;
  while (improved) {
    improved = false;
    for (size_t i = order_.size(); i > 1; --i) std::swap(order_[i - 1], order_[random_.Below(static_cast<uint32_t>(i))]);
    for (size_t i = 0; i < order_.size(); ++i) {
      if (stop != nullptr && (i & 63) == 63 && (*stop)()) return moves;
      const uint32_t u = order_[i];
      if (!routes.Routed(u)) continue;
      for (uint32_t v : routes.model().Neighbours(u)) {
        if (!routes.Routed(v)) continue;
        const bool same = routes.RouteOf(u) == routes.RouteOf(v);
        if (Relocate(u, v) || Swap(u, v) || (same ? TwoOpt(u, v) : TwoOptStar(u, v))) {
          ++moves;
          improved = true;
        }
      }
      if (RelocateToEnds(u)) {
        ++moves;
        improved = true;
      }
    }
  }
  return moves;
}

}  // namespace velmora
