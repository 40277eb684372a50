#pragma once

#include <cstdint>

namespace velmora {

// Fixed 256-bit set of node indices; lives inline in every search state.
struct NodeSet {
  static constexpr int kBits = 256;
  uint64_t words[4] = {0, 0, 0, 0};

  bool test(uint64_t i) const { return (words[i >> 6] >> (i & 63)) & 1u; }
  void set(uint64_t i) { words[i >> 6] |= uint64_t{1} << (i & 63); }
  void reset(uint64_t i) { words[i >> 6] &= ~(uint64_t{1} << (i & 63)); }
  int count() const {
    return __builtin_popcountll(words[0]) + __builtin_popcountll(words[1]) + __builtin_popcountll(words[2]) +
           __builtin_popcountll(words[3]);
  }
  // Every member of this set is also in `other`.
  bool subset_of(const NodeSet& other) const {
    return ((words[0] & ~other.words[0]) | (words[1] & ~other.words[1]) | (words[2] & ~other.words[2]) |
            (words[3] & ~other.words[3])) == 0;
  }
  bool all() const { return (words[0] & words[1] & words[2] & words[3]) == ~uint64_t{0}; }
  bool operator==(const NodeSet& o) const {
    return words[0] == o.words[0] && words[1] == o.words[1] && words[2] == o.words[2] && words[3] == o.words[3];
  }
  bool operator!=(const NodeSet& o) const { return !(*this == o); }
};

}  // namespace velmora
