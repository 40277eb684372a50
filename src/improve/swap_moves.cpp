// Exchange of two targets, within a route or between two routes.
#include <utility>

#include "improve/local_search.hpp"

namespace velmora {
namespace moves {

bool SwapCannotImprove(const RouteSet& s, uint32_t u, uint32_t v) {
  const uint32_t a = s.RouteOf(u);
  const uint32_t b = s.RouteOf(v);
  uint32_t i = s.PosOf(u);
  uint32_t j = s.PosOf(v);
  if (!(a == b ? s.LegsJudgeOne() : s.LegsJudgeTwo()) || i >= s.Size(a) || j >= s.Size(b)) return false;
  const RouteModel& m = s.model();
  const uint32_t* ra = s.Sequence(a);
  const uint32_t* rb = s.Sequence(b);
  const uint32_t slot_a = m.Slot(a);
  const uint32_t slot_b = m.Slot(b);
  // x in place of y between the neighbours of position p.
  auto exchange = [&m](uint32_t slot, const uint32_t* r, uint32_t p, uint32_t x, uint32_t y) {
    return m.Leg(slot, r[p - 1], x) + m.Leg(slot, x, r[p + 1]) - m.Leg(slot, r[p - 1], y) -
           m.Leg(slot, y, r[p + 1]);
  };
  if (a != b) return s.NoGain(a, exchange(slot_a, ra, i, v, u), b, exchange(slot_b, rb, j, u, v));
  if (i > j) {
    std::swap(i, j);
    std::swap(u, v);
  }
  if (j == i + 1) {
    const uint32_t before = ra[i - 1];
    const uint32_t after = ra[j + 1];
    return s.NoGain(m.Leg(slot_a, before, v) + m.Leg(slot_a, v, u) + m.Leg(slot_a, u, after) -
                    m.Leg(slot_a, before, u) - m.Leg(slot_a, u, v) - m.Leg(slot_a, v, after));
  }
  return s.NoGain(exchange(slot_a, ra, i, v, u) + exchange(slot_a, ra, j, u, v));
}

bool Swap(LocalSearch& search, uint32_t u, uint32_t v) {
  const RouteSet& s = search.routes();
  const uint32_t a = s.RouteOf(u);
  const uint32_t b = s.RouteOf(v);
  uint32_t i = s.PosOf(u);
  uint32_t j = s.PosOf(v);
  if (a != b && (!s.model().Serves(a, v) || !s.model().Serves(b, u))) return false;
  if (SwapCannotImprove(s, u, v)) {
    search.Reject();
    return false;
  }
  if (a != b) {
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
