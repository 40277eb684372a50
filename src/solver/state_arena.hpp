#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/node_set.hpp"
#include "core/search_state.hpp"

namespace velmora {

// Compact, append-only store of the search states, addressed by state id.
// Each state takes one fixed-size slot: a header (visited set, g, h, f, parent,
// agents_left, last agent) followed by the per-agent costs, positions and done
// flags. Slots live in fixed chunks that never move, so pointers to a stored
// state's costs stay valid until Reset. Node indices must be below 256.
class StateArena {
 public:
  // Empties the arena for states of `agents` agents in a graph of `n_nodes`.
  void Reset(size_t agents, int32_t n_nodes);

  // Stores `state` under the next id (the current size) and returns that id.
  uint64_t Append(const SearchState& state, int64_t parent);

  // Rebuilds stored state `id` into `out`, reusing its buffers.
  void Load(uint64_t id, SearchState& out) const;

  uint64_t size() const { return size_; }
  size_t agents() const { return agents_; }
  // Bytes held by the slots (whole chunks).
  size_t bytes() const { return chunks_.size() * kChunkStates * stride_; }

  int64_t Parent(uint64_t id) const { return Head(id).parent; }
  double F(uint64_t id) const { return Head(id).f; }
  int64_t AgentsLeft(uint64_t id) const { return Head(id).agents_left; }
  int64_t LastAgent(uint64_t id) const { return Head(id).last_agent; }
  const NodeSet& Visited(uint64_t id) const { return Head(id).visited; }
  double G(uint64_t id) const { return Head(id).g; }
  const double* Costs(uint64_t id) const { return reinterpret_cast<const double*>(Slot(id) + sizeof(Header)); }
  uint64_t Position(uint64_t id, size_t agent) const { return Slot(id)[positions_offset_ + agent]; }

  static constexpr size_t kChunkStates = size_t{1} << 14;

 private:
  struct Header {
    NodeSet visited;
    double g;
    double h;
    double f;
    int64_t parent;
    int32_t agents_left;
    int32_t last_agent;
  };

  unsigned char* Slot(uint64_t id) const {
    return chunks_[static_cast<size_t>(id / kChunkStates)].get() +
           static_cast<size_t>(id % kChunkStates) * stride_;
  }
  const Header& Head(uint64_t id) const { return *reinterpret_cast<const Header*>(Slot(id)); }

  size_t agents_ = 0;
  int32_t n_nodes_ = 0;
  size_t stride_ = sizeof(Header);
  size_t positions_offset_ = sizeof(Header);
  size_t done_offset_ = sizeof(Header);
  uint64_t size_ = 0;
  std::vector<std::unique_ptr<unsigned char[]>> chunks_;
};

}  // namespace velmora
