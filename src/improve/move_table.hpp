#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

class LocalSearch;

// Which targets a move is tried with, for a target u of the descent.
enum class MoveScope : uint8_t {
  kAnyRoute,    // each routed neighbour v of u
  kSameRoute,   // each neighbour v on u's route
  kOtherRoute,  // each neighbour v on another route
  kRouteEnds,   // u alone (v is unused), once no neighbour gave a move
};

// A move proposes new routes for u (and v) as pieces of the current ones and
// hands each proposal to `LocalSearch::Try`, which applies it when it improves
// the objective; true as soon as one was applied.
using MoveFunction = bool (*)(LocalSearch& search, uint32_t u, uint32_t v);

struct Move {
  const char* name;  // also the move's key in the result's statistics
  MoveScope scope;
  MoveFunction apply;
};

// A list of moves, in the order the descent tries them.
class MoveTable {
 public:
  constexpr MoveTable(const Move* rows, size_t count) : rows_(rows), count_(count) {}

  // The engine's moves: one row each, every move in a file of its own.
  static MoveTable Default();

  size_t size() const { return count_; }
  const Move& operator[](size_t i) const { return rows_[i]; }
  const Move* begin() const { return rows_; }
  const Move* end() const { return rows_ + count_; }

 private:
  const Move* rows_;
  size_t count_;
};

}  // namespace velmora
