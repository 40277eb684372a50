// Exchange of two targets, within a route or between two routes.
#include <utility>

#include "improve/local_search.hpp"

namespace velmora {
namespace moves {

bool Swap(LocalSearch& search, uint32_t u, uint32_t v) {
  const RouteSet& s = search.routes();
  const uint32_t a = s.RouteOf(u);
  const uint32_t b = s.RouteOf(v);
  uint32_t i = s.PosOf(u);
  uint32_t j = s.PosOf(v);
  if (a != b) {
    if (!s.model().Serves(a, v) || !s.model().Serves(b, u)) return false;
    const Piece pa[3] = {Piece::Prefix(a, i - 1), Piece::Range(b, j, j), Piece::Range(a, i + 1, s.Size(a))};
    const Piece pb[3] = {Piece::Prefix(b, j - 1), Piece::Range(a, i, i), Piece::Range(b, j + 1, s.Size(b))};
    return search.Try(a, pa, 3, b, pb, 3);
  }
  if (i > j) std::swap(i, j);
  const Piece pa[5] = {Piece::Prefix(a, i - 1), Piece::Range(a, j, j), Piece::Range(a, i + 1, j - 1),
                       Piece::Range(a, i, i), Piece::Range(a, j + 1, s.Size(a))};
  return search.Try(a, pa, 5);
}

}  // namespace moves
}  // namespace velmora
