// Relocation of a string of one to three targets, forward or reversed, next to
// a neighbour or to either end of a route.
#include <cmath>

#include "improve/local_search.hpp"

namespace velmora {
namespace moves {

namespace {

// What the legs-only judgement of moving a string of route a to route b reads,
// fetched once for all such proposals of one neighbour pair. Valid while the
// routes stay as they are: a move returns as soon as it applies a proposal.
class RelocationLegs {
 public:
  RelocationLegs(const RouteSet& s, uint32_t a, uint32_t b)
      : s_(s), a_(a), b_(b), on_(a == b ? s.LegsJudgeOne() : s.LegsJudgeTwo()) {
    if (!on_) return;
    const RouteModel& m = s.model();
    n_ = m.NodeCount();
    legs_a_ = m.LegTable(m.Slot(a));
    legs_b_ = m.LegTable(m.Slot(b));
    ra_ = s.Sequence(a);
    rb_ = s.Sequence(b);
    size_a_ = s.Size(a);
    size_b_ = s.Size(b);
    grows_b_ = a != b && s.MinMax();
  }

  bool CannotImprove(uint32_t s0, uint32_t s1, bool reversed, uint32_t p) const {
    if (!on_ || s1 >= size_a_ || p >= size_b_) return false;
    const uint32_t first = ra_[s0];
    const uint32_t last = ra_[s1];
    const uint32_t at = rb_[p];
    const uint32_t next = rb_[p + 1];
    // A string that keeps its direction and agent type keeps its own legs.
    const bool same_inside = !reversed && legs_a_ == legs_b_;
    double added = (reversed ? Leg(legs_b_, at, last) + Leg(legs_b_, first, next)
                             : Leg(legs_b_, at, first) + Leg(legs_b_, last, next)) -
                   Leg(legs_b_, at, next);
    // Under min-max each route's own change counts, so the string's legs do too.
    const double inside_b = grows_b_ || !same_inside ? Inside(legs_b_, s0, s1, reversed) : 0.0;
    added += inside_b;
    if (grows_b_ && s_.GrowsPastLongest(b_, added)) return true;  // the likelier of the two, first
    const uint32_t before = ra_[s0 - 1];
    const uint32_t after = ra_[s1 + 1];
    double removed = Leg(legs_a_, before, after) - Leg(legs_a_, before, first) - Leg(legs_a_, last, after);
    if (!same_inside) {
      removed -= Inside(legs_a_, s0, s1, false);
    } else if (grows_b_) {
      removed -= inside_b;
    }
    return a_ == b_ ? s_.NoGain(removed + added) : s_.NoGain(a_, removed, b_, added);
  }

 private:
  double Leg(const double* legs, uint32_t u, uint32_t v) const { return legs[u * n_ + v]; }
  // The legs of positions s0..s1 of route a, walked in the given direction.
  double Inside(const double* legs, uint32_t s0, uint32_t s1, bool reversed) const {
    double sum = 0.0;
    for (uint32_t q = s0; q < s1; ++q)
      sum += reversed ? Leg(legs, ra_[q + 1], ra_[q]) : Leg(legs, ra_[q], ra_[q + 1]);
    return sum;
  }

  const RouteSet& s_;
  uint32_t a_, b_;
  bool on_;
  bool grows_b_ = false;
  size_t n_ = 0;
  const double* legs_a_ = nullptr;
  const double* legs_b_ = nullptr;
  const uint32_t* ra_ = nullptr;
  const uint32_t* rb_ = nullptr;
  uint32_t size_a_ = 0, size_b_ = 0;
};

// Moves positions s0..s1 of route a (reversed or not) to just after position p
// of route b.
bool RelocateString(LocalSearch& search, const RelocationLegs& legs, uint32_t a, uint32_t s0, uint32_t s1,
                    bool reversed, uint32_t b, uint32_t p) {
  const RouteSet& s = search.routes();
  const uint32_t na = s.Size(a);
  const Piece string = Piece::Range(a, s0, s1, reversed);
  if ((a != b || !(p + 1 >= s0 && p <= s1)) && legs.CannotImprove(s0, s1, reversed, p)) {
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

bool RelocationCannotImprove(const RouteSet& s, uint32_t a, uint32_t s0, uint32_t s1, bool reversed, uint32_t b,
                             uint32_t p) {
  return RelocationLegs(s, a, b).CannotImprove(s0, s1, reversed, p);
}

bool Relocate(LocalSearch& search, uint32_t u, uint32_t v) {
  const RouteSet& s = search.routes();
  const uint32_t a = s.RouteOf(u);
  const uint32_t b = s.RouteOf(v);
  const uint32_t i = s.PosOf(u);
  const uint32_t j = s.PosOf(v);
  const uint32_t na = s.Size(a);
  const RelocationLegs legs(s, a, b);
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
      if (RelocateString(search, legs, a, s0, s1, !forward_after, b, j)) return true;
      if (RelocateString(search, legs, a, s0, s1, forward_after, b, j - 1)) return true;
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
    const RelocationLegs legs(s, a, b);
    if (RelocateString(search, legs, a, i, i, false, b, 0)) return true;
    if (s.Size(b) > 0 && RelocateString(search, legs, a, i, i, false, b, s.Size(b))) return true;
  }
  return false;
}

}  // namespace moves
}  // namespace velmora
