#include "improve/local_search.hpp"

#include <utility>

namespace velmora {

LocalSearch::LocalSearch(RandomSource& random, MoveTable moves) : random_(random), moves_(moves) {
  for (uint32_t m = 0; m < moves_.size(); ++m) {
    const MoveScope scope = moves_[m].scope;
    if (scope == MoveScope::kRouteEnds) {
      route_end_rows_.push_back(m);
      continue;
    }
    if (scope != MoveScope::kOtherRoute) same_route_rows_.push_back(m);
    if (scope != MoveScope::kSameRoute) other_route_rows_.push_back(m);
  }
  ResetCounts();
}

void LocalSearch::ResetCounts() {
  counts_.assign(moves_.size(), MoveCounts());
  for (size_t m = 0; m < moves_.size(); ++m) counts_[m].name = moves_[m].name;
  judged_ = counts_.empty() ? nullptr : &counts_[0];
}

bool LocalSearch::Try(uint32_t a, const Piece* pa, int na) {
  ++judged_->attempts;
  const RouteEval ea = Evaluate(a, pa, na);
  if (!ea.ok || !s_->Better(s_->After(a, ea.cost), s_->Value())) return false;
  const Objective before = s_->Value();
  return s_->Apply(a, pa, na, &before);
}

bool LocalSearch::Try(uint32_t a, const Piece* pa, int na, uint32_t b, const Piece* pb, int nb) {
  ++judged_->attempts;
  // Under min-max a route that grows past the longest one cannot help; b,
  // which takes the string of a relocation, is the one more likely to.
  const bool min_max = s_->MinMax();
  const RouteEval eb = Evaluate(b, pb, nb);
  if (!eb.ok || (min_max && eb.cost > s_->Value().longest)) return false;
  const RouteEval ea = Evaluate(a, pa, na);
  if (!ea.ok || (min_max && ea.cost > s_->Value().longest)) return false;
  if (!s_->Better(s_->After(a, ea.cost, b, eb.cost), s_->Value())) return false;
  const Objective before = s_->Value();
  return s_->Apply(a, pa, na, b, pb, nb, &before);
}

// Tries the moves of u; true when one was applied, with the neighbour it was
// made with in `partner` (kUnrouted for a route-end move).
bool LocalSearch::Improve(uint32_t u, uint32_t& partner) {
  for (uint32_t v : s_->model().Neighbours(u)) {
    if (!s_->Routed(v)) continue;
    const std::vector<uint32_t>& rows = s_->RouteOf(u) == s_->RouteOf(v) ? same_route_rows_ : other_route_rows_;
    for (uint32_t m : rows) {
      if (TryMove(m, u, v)) {
        partner = v;
        return true;
      }
    }
  }
  partner = RouteSet::kUnrouted;
  for (uint32_t m : route_end_rows_) {
    if (TryMove(m, u, RouteSet::kUnrouted)) return true;
  }
  return false;
}

int64_t LocalSearch::Run(RouteSet& routes, const std::function<bool()>* stop) {
  s_ = &routes;
  const std::vector<uint32_t>& targets = routes.model().Targets();
  order_.assign(targets.begin(), targets.end());
  int64_t moves = 0;
  uint32_t polls = 0;
  // The clock is asked every 8 tries of a target, however small the instance.
  auto stopped = [&]() { return (++polls & 7) == 0 && stop != nullptr && (*stop)(); };
  bool improved = true;
  while (improved) {
    improved = false;
    random_.Shuffle(order_);
    for (size_t i = 0; i < order_.size(); ++i) {
      const uint32_t u = order_[i];
      if (!routes.Routed(u)) continue;
      uint32_t partner;
      while (true) {
        if (stopped()) return moves;
        if (!Improve(u, partner)) break;
        ++moves;
        improved = true;
      }
    }
  }
  return moves;
}

void LocalSearch::Activate(uint32_t v) {
  if (queued_[v]) return;
  queued_[v] = 1;
  queue_.push_back(v);
}

// v and the targets next to it on its route.
void LocalSearch::ActivateAround(uint32_t v) {
  Activate(v);
  const uint32_t r = s_->RouteOf(v);
  const uint32_t p = s_->PosOf(v);
  if (p > 1) Activate(s_->At(r, p - 1));
  if (p < s_->Size(r)) Activate(s_->At(r, p + 1));
}

int64_t LocalSearch::RunFrom(RouteSet& routes, const std::vector<uint32_t>& seeds,
                             const std::function<bool()>* stop) {
  s_ = &routes;
  queued_.assign(routes.model().NodeCount(), 0);
  queue_.clear();
  for (uint32_t v : seeds) {
    if (routes.Routed(v)) ActivateAround(v);
  }
  int64_t moves = 0;
  for (size_t head = 0; head < queue_.size(); ++head) {
    if (stop != nullptr && (head & 63) == 63 && (*stop)()) break;
    const uint32_t u = queue_[head];
    queued_[u] = 0;
    const uint32_t r = routes.RouteOf(u);
    const uint32_t p = routes.PosOf(u);
    const uint32_t before = p > 1 ? routes.At(r, p - 1) : RouteSet::kUnrouted;
    const uint32_t after = p < routes.Size(r) ? routes.At(r, p + 1) : RouteSet::kUnrouted;
    uint32_t partner;
    if (!Improve(u, partner)) continue;
    ++moves;
    // The arcs around u's old and new place and around its partner changed.
    ActivateAround(u);
    if (before != RouteSet::kUnrouted) ActivateAround(before);
    if (after != RouteSet::kUnrouted) ActivateAround(after);
    if (partner != RouteSet::kUnrouted) ActivateAround(partner);
    // Compact the queue now and then so that it stays short.
    if (head > 4096 && head * 2 > queue_.size()) {
      queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head + 1));
      head = static_cast<size_t>(-1);
    }
  }
  for (size_t i = 0; i < queue_.size(); ++i) queued_[queue_[i]] = 0;
  return moves;
}

}  // namespace velmora
