// 2-opt*: two routes exchange their tails; each keeps its own start and close.
#include "improve/local_search.hpp"

namespace velmora {
namespace moves {

bool TwoOptStar(LocalSearch& search, uint32_t u, uint32_t v) {
  const RouteSet& s = search.routes();
  const uint32_t a = s.RouteOf(u);
  const uint32_t b = s.RouteOf(v);
  const uint32_t i = s.PosOf(u);
  const uint32_t j = s.PosOf(v);
  const uint32_t na = s.Size(a);
  const uint32_t nb = s.Size(b);
  const uint32_t slot_a = s.model().Slot(a);
  const uint32_t slot_b = s.model().Slot(b);
  // Tail a[from_a..] goes to b and tail b[from_b..] to a, when the agents may serve them.
  auto exchange = [&](uint32_t from_a, uint32_t from_b) {
    if (s.Barred(a, slot_b, na) != s.Barred(a, slot_b, from_a - 1)) return false;
    if (s.Barred(b, slot_a, nb) != s.Barred(b, slot_a, from_b - 1)) return false;
    const Piece pa[2] = {Piece::Prefix(a, from_a - 1), Piece::Range(b, from_b, nb)};
    const Piece pb[2] = {Piece::Prefix(b, from_b - 1), Piece::Range(a, from_a, na)};
    return search.Try(a, pa, 2, b, pb, 2);
  };
  // u followed by v, or v followed by u.
  return exchange(i + 1, j) || exchange(i, j + 1);
}

}  // namespace moves
}  // namespace velmora
