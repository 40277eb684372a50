// Relocation of a string of one to three targets, forward or reversed, next to
// a neighbour or to either end of a route.
#include "improve/local_search.hpp"

namespace velmora {

// Moves positions s0..s1 of route a (reversed or not) to just after position p
// of route b.
bool LocalSearch::RelocateString(uint32_t a, uint32_t s0, uint32_t s1, bool reversed, uint32_t b, uint32_t p) {
  const uint32_t na = s_->Size(a);
  const Piece string = Piece::Range(a, s0, s1, reversed);
  if (a != b) {
    const uint32_t nb = s_->Size(b);
    const Piece pa[2] = {Piece::Prefix(a, s0 - 1), Piece::Range(a, s1 + 1, na)};
    const Piece pb[3] = {Piece::Prefix(b, p), string, Piece::Range(b, p + 1, nb)};
    return Try(a, pa, 2, b, pb, 3);
  }
  if (p + 1 >= s0 && p <= s1) return false;  // in place
  if (p < s0) {
    const Piece pa[4] = {Piece::Prefix(a, p), string, Piece::Range(a, p + 1, s0 - 1), Piece::Range(a, s1 + 1, na)};
    return Try(a, pa, 4);
  }
  const Piece pa[4] = {Piece::Prefix(a, s0 - 1), Piece::Range(a, s1 + 1, p), string, Piece::Range(a, p + 1, na)};
  return Try(a, pa, 4);
}

bool LocalSearch::Relocate(uint32_t u, uint32_t v) {
  const uint32_t a = s_->RouteOf(u);
  const uint32_t b = s_->RouteOf(v);
  const uint32_t i = s_->PosOf(u);
  const uint32_t j = s_->PosOf(v);
  const uint32_t na = s_->Size(a);
  for (uint32_t l = 1; l <= 3; ++l) {
    // Strings starting at u and strings ending at u.
    for (int end = 0; end < (l == 1 ? 1 : 2); ++end) {
      const uint32_t s0 = end ? i + 1 - l : i;
      if (end ? i < l : i + l - 1 > na) continue;
      const uint32_t s1 = s0 + l - 1;
      if (a == b && j >= s0 && j <= s1) continue;
      if (a != b) {
        bool served = true;
        for (uint32_t q = s0; q <= s1 && served; ++q) served = s_->model().Serves(b, s_->At(a, q));
        if (!served) continue;
      }
      // u right after v (forward string from u, or reversed string ending at u),
      // and u right before v (the mirror cases).
      const bool forward_after = !end;
      if (RelocateString(a, s0, s1, !forward_after, b, j)) return true;
      if (RelocateString(a, s0, s1, forward_after, b, j - 1)) return true;
      if (l == 1) break;
    }
  }
  return false;
}

bool LocalSearch::RelocateToEnds(uint32_t u) {
  const uint32_t a = s_->RouteOf(u);
  const uint32_t i = s_->PosOf(u);
  for (uint32_t b : s_->model().ServersOf(u)) {
    if (b == a) continue;
    if (RelocateString(a, i, i, false, b, 0)) return true;
    if (s_->Size(b) > 0 && RelocateString(a, i, i, false, b, s_->Size(b))) return true;
  }
  return false;
}

}  // namespace velmora
