#include "solver/state_arena.hpp"

#include <cstring>

namespace velmora {

void StateArena::Reset(size_t agents, int32_t n_nodes) {
  agents_ = agents;
  n_nodes_ = n_nodes;
  positions_offset_ = sizeof(Header) + agents * sizeof(double);
  done_offset_ = positions_offset_ + agents;
  stride_ = (done_offset_ + agents + 7) / 8 * 8;  // keeps every header 8-byte aligned
  size_ = 0;
  chunks_.clear();
  chunks_.shrink_to_fit();
}

uint64_t StateArena::Append(const SearchState& state, int64_t parent) {
  const uint64_t id = size_;
  if (id / kChunkStates >= chunks_.size()) {
    chunks_.push_back(std::make_unique<unsigned char[]>(kChunkStates * stride_));
  }
  unsigned char* slot = Slot(id);
  Header head;
  head.visited = state.visited;
  head.g = state.g;
  head.h = state.h;
  head.f = state.f;
  head.parent = parent;
  head.agents_left = static_cast<int32_t>(state.agents_left);
  head.last_agent = static_cast<int32_t>(state.last_agent);
  std::memcpy(slot, &head, sizeof(Header));
  // With no agents costs.data() may be null, which memcpy must not be given.
  if (agents_ > 0) std::memcpy(slot + sizeof(Header), state.costs.data(), agents_ * sizeof(double));
  for (size_t k = 0; k < agents_; ++k) {
    slot[positions_offset_ + k] = static_cast<unsigned char>(state.positions[k]);
    slot[done_offset_ + k] = state.done[k];
  }
  ++size_;
  return id;
}

void StateArena::Load(uint64_t id, SearchState& out) const {
  const unsigned char* slot = Slot(id);
  const Header& head = Head(id);
  out.id = static_cast<int64_t>(id);
  out.visited = head.visited;
  out.n_nodes = n_nodes_;
  out.g = head.g;
  out.h = head.h;
  out.f = head.f;
  out.agents_left = head.agents_left;
  out.last_agent = head.last_agent;
  out.aux.clear();
  out.costs.resize(agents_);
  if (agents_ > 0) std::memcpy(out.costs.data(), slot + sizeof(Header), agents_ * sizeof(double));
  out.positions.resize(agents_);
  out.done.resize(agents_);
  for (size_t k = 0; k < agents_; ++k) {
    out.positions[k] = slot[positions_offset_ + k];
    out.done[k] = slot[done_offset_ + k];
  }
}

}  // namespace velmora
