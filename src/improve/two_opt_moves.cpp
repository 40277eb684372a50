// 2-opt within a route: reverses the stretch between two targets so that they
// become adjacent.
#include <utility>

#include "improve/local_search.hpp"

namespace velmora {
namespace moves {

bool TwoOpt(LocalSearch& search, uint32_t u, uint32_t v) {
  const RouteSet& s = search.routes();
  const uint32_t a = s.RouteOf(u);
  uint32_t i = s.PosOf(u);
  uint32_t j = s.PosOf(v);
  if (i > j) std::swap(i, j);
  if (j == i + 1) return false;
  // Arcs (r[i], r[j]) and (r[i+1], r[j+1]) replace (r[i], r[i+1]) and (r[j], r[j+1]).
  const Piece pa[3] = {Piece::Prefix(a, i), Piece::Range(a, i + 1, j, true), Piece::Range(a, j + 1, s.Size(a))};
  if (search.Try(a, pa, 3)) return true;
  // Arcs (r[i-1], r[j-1]) and (r[i], r[j]): reverse i..j-1.
  if (j - 1 > i) {
    const Piece pb[3] = {Piece::Prefix(a, i - 1), Piece::Range(a, i, j - 1, true), Piece::Range(a, j, s.Size(a))};
    if (search.Try(a, pb, 3)) return true;
  }
  return false;
}

}  // namespace moves
}  // namespace velmora
