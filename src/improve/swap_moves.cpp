// Exchange of two targets, within a route or between two routes.
#include "improve/local_search.hpp"

namespace velmora {

bool LocalSearch::Swap(uint32_t u, uint32_t v) {
  uint32_t a = s_->RouteOf(u);
  uint32_t b = s_->RouteOf(v);
  uint32_t i = s_->PosOf(u);
  uint32_t j = s_->PosOf(v);
  if (a != b) {
    if (!s_->model().Serves(a, v) || !s_->model().Serves(b, u)) return false;
    const Piece pa[3] = {Piece::Prefix(a, i - 1), Piece::Range(b, j, j), Piece::Range(a, i + 1, s_->Size(a))};
    const Piece pb[3] = {Piece::Prefix(b, j - 1), Piece::Range(a, i, i), Piece::Range(b, j + 1, s_->Size(b))};
    return Try(a, pa, 3, b, pb, 3);
  }
  if (i > j) std::swap(i, j);
  const Piece pa[5] = {Piece::Prefix(a, i - 1), Piece::Range(a, j, j), Piece::Range(a, i + 1, j - 1),
                       Piece::Range(a, i, i), Piece::Range(a, j + 1, s_->Size(a))};
  return Try(a, pa, 5);
}

}  // namespace velmora
