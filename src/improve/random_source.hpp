#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace velmora {

// Small, fast generator (xoshiro256**) seeded by splitmix64; the same seed
// gives the same sequence on every platform.
class RandomSource {
 public:
  explicit RandomSource(uint64_t seed = 0) {
    uint64_t x = seed;
    for (uint64_t& s : s_) s = SplitMix(x);
  }

  uint64_t Next() {
    const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }
  // Uniform in [0, bound); bound > 0.
  uint32_t Below(uint32_t bound) {
    return static_cast<uint32_t>(((Next() >> 32) * static_cast<uint64_t>(bound)) >> 32);
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Fisher-Yates shuffle of the whole vector.
  template <typename T>
  void Shuffle(std::vector<T>& items) {
    for (size_t i = items.size(); i > 1; --i) std::swap(items[i - 1], items[Below(static_cast<uint32_t>(i))]);
  }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  static uint64_t SplitMix(uint64_t& x) {
    uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  uint64_t s_[4];
};

}  // namespace velmora
