// Relocation of a string of one to three targets, forward or reversed, next to
// a neighbour or to either end of a route.
#include <cmath>

#include "improve/local_search.hpp"

namespace velmora {
namespace moves {

namespace {

// Legs of positions s0..s1 of a route, walked in the given direction, for a slot.
double StringLegs(const RouteModel& m, uint32_t slot, const uint32_t* r, uint32_t s0, uint32_t s1, bool reversed) {
  double sum = 0.0;
  for (uint32_t q = s0; q < s1; ++q) sum += reversed ? m.Leg(slot, r[q + 1], r[q]) : m.Leg(slot, r[q], r[q + 1]);
  return sum;
}

}  // namespace

bool RelocationCannotImprove(const RouteSet& s, uint32_t a, uint32_t s0, uint32_t s1, bool reversed, uint32_t b,
                             uint32_t p) {
  if (!(a == b ? s.LegsJudgeOne() : s.LegsJudgeTwo()) || s1 >= s.Size(a) || p >= s.Size(b)) return false;
  const RouteModel& m = s.model();
  const uint32_t* ra = s.Sequence(a);
  const uint32_t* rb = s.Sequence(b);
  const uint32_t slot_a = m.Slot(a);
  const uint32_t slot_b = m.Slot(b);
  const uint32_t first = ra[s0];
  const uint32_t last = ra[s1];
  const uint32_t at = rb[p];
  const uint32_t next = rb[p + 1];
  const bool grows_b = a != b && s.MinMax();  // route b's growth alone decides
  // A string that keeps its direction and agent type keeps its own legs.
  const bool same_inside = !reversed && slot_a == slot_b;
  double added = (reversed ? m.Leg(slot_b, at, last) + m.Leg(slot_b, first, next)
                           : m.Leg(slot_b, at, first) + m.Leg(slot_b, last, next)) -
                 m.Leg(slot_b, at, next);
  if (grows_b || !same_inside) added += StringLegs(m, slot_b, ra, s0, s1, reversed);
  if (grows_b) return s.GrowsPastLongest(b, added);
  const uint32_t before = ra[s0 - 1];
  const uint32_t after = ra[s1 + 1];
  double removed = m.Leg(slot_a, before, after) - m.Leg(slot_a, before, first) - m.Leg(slot_a, last, after);
  if (!same_inside) removed -= StringLegs(m, slot_a, ra, s0, s1, false);
  return a == b ? s.NoGain(removed + added) : s.NoGain(a, removed, b, added);
}

namespace {

// Moves positions s0..s1 of route a (reversed or not) to just after position p
// of route b.
bool RelocateString(LocalSearch& search, uint32_t a, uint32_t s0, uint32_t s1, bool reversed, uint32_t b,
                    uint32_t p) {
  const RouteSet& s = search.routes();
  const uint32_t na = s.Size(a);
  const Piece string = Piece::Range(a, s0, s1, reversed);
  if ((a != b || !(p + 1 >= s0 && p <= s1)) && RelocationCannotImprove(s, a, s0, s1, reversed, b, p)) {
    search.Reject();
    return false;
  }
  if (a != b) {
    const uint32_t nb = s.Size(b);
    const Piece pa[2] = {Piece::Prefix(a, s0 - 1), Piece::Range(a, s1 + 1, na)};
    const Piece pb[3] = {Piece::Prefix(b, p), string, Piece::Range(b, p + 1, nb)};
    return search.Try(a, pa, 2, b, pb, 3);
  }
  if (p + 1 >= s0 && p <= s1) return false;  // in place
  if (p < s0) {
    const Piece pa[4] = {Piece::Prefix(a, p), string, Piece::Range(a, p + 1, s0 - 1), Piece::Range(a, s1 + 1, na)};
    return search.Try(a, pa, 4);
  }
  const Piece pa[4] = {Piece::Prefix(a, s0 - 1), Piece::Range(a, s1 + 1, p), string, Piece::Range(a, p + 1, na)};
  return search.Try(a, pa, 4);
}

}  // namespace

bool Relocate(LocalSearch& search, uint32_t u, uint32_t v) {
  const RouteSet& s = search.routes();
  const uint32_t a = s.RouteOf(u);
  const uint32_t b = s.RouteOf(v);
  const uint32_t i = s.PosOf(u);
  const uint32_t j = s.PosOf(v);
  const uint32_t na = s.Size(a);
  for (uint32_t l = 1; l <= 3; ++l) {
    // Strings starting at u and strings ending at u.
    for (int end = 0; end < (l == 1 ? 1 : 2); ++end) {
      const uint32_t s0 = end ? i + 1 - l : i;
      if (end ? i < l : i + l - 1 > na) continue;
      const uint32_t s1 = s0 + l - 1;
      if (a == b && j >= s0 && j <= s1) continue;
      if (a != b) {
        bool served = true;
        for (uint32_t q = s0; q <= s1 && served; ++q) served = s.model().Serves(b, s.At(a, q));
        if (!served) continue;
      }
      // u right after v (forward string from u, or reversed string ending at u),
      // and u right before v (the mirror cases).
      const bool forward_after = !end;
      if (RelocateString(search, a, s0, s1, !forward_after, b, j)) return true;
      if (RelocateString(search, a, s0, s1, forward_after, b, j - 1)) return true;
      if (l == 1) break;
    }
  }
  return false;
}

// u to the front or the back of every other route whose agent may serve it.
bool RelocateToEnds(LocalSearch& search, uint32_t u, uint32_t /*v*/) {
  const RouteSet& s = search.routes();
  const uint32_t a = s.RouteOf(u);
  const uint32_t i = s.PosOf(u);
  for (uint32_t b : s.model().ServersOf(u)) {
    if (b == a) continue;
    if (RelocateString(search, a, i, i, false, b, 0)) return true;
    if (s.Size(b) > 0 && RelocateString(search, a, i, i, false, b, s.Size(b))) return true;
  }
  return false;
}

}  // namespace moves
}  // namespace velmora
