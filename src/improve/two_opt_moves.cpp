// 2-opt within a route: reverses the stretch between two targets so that they
// become adjacent.
#include <utility>

#include "improve/local_search.hpp"

namespace velmora {
namespace moves {

bool TwoOptCannotImprove(const RouteSet& s, uint32_t a, uint32_t from, uint32_t to) {
  if (!s.LegsJudgeOne() || from < 1 || to >= s.Size(a)) return false;
  const RouteModel& m = s.model();
  const uint32_t* r = s.Sequence(a);
  const uint32_t slot = m.Slot(a);
  const uint32_t before = r[from - 1];
  const uint32_t after = r[to + 1];
  return s.NoGain(m.Leg(slot, before, r[to]) + m.Leg(slot, r[from], after) - m.Leg(slot, before, r[from]) -
                  m.Leg(slot, r[to], after) + s.Stretch(a, slot, from, to, true) -
                  s.Stretch(a, slot, from, to, false));
}

bool TwoOpt(LocalSearch& search, uint32_t u, uint32_t v) {
  const RouteSet& s = search.routes();
  const uint32_t a = s.RouteOf(u);
  uint32_t i = s.PosOf(u);
  uint32_t j = s.PosOf(v);
  if (i > j) std::swap(i, j);
  if (j == i + 1) return false;
  // Arcs (r[i], r[j]) and (r[i+1], r[j+1]) replace (r[i], r[i+1]) and (r[j], r[j+1]).
  if (TwoOptCannotImprove(s, a, i + 1, j)) {
    search.Reject();
  } else {
    const Piece pa[3] = {Piece::Prefix(a, i), Piece::Range(a, i + 1, j, true), Piece::Range(a, j + 1, s.Size(a))};
    if (search.Try(a, pa, 3)) return true;
  }
  // Arcs (r[i-1], r[j-1]) and (r[i], r[j]): reverse i..j-1.
  if (j - 1 > i) {
    if (TwoOptCannotImprove(s, a, i, j - 1)) {
      search.Reject();
      return false;
    }
    const Piece pb[3] = {Piece::Prefix(a, i - 1), Piece::Range(a, i, j - 1, true), Piece::Range(a, j, s.Size(a))};
    if (search.Try(a, pb, 3)) return true;
  }
  return false;
}

}  // namespace moves
}  // namespace velmora
