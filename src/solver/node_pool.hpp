#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define KVT_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define KVT_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define KVT_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define KVT_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#endif
#endif
#ifndef KVT_POOL_POISON
#define KVT_POOL_POISON(p, n) ((void)(p), (void)(n))
#define KVT_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace velmora {

// Fixed-size block allocator for the nodes of the search's ordered sets:
// millions of equal-sized nodes come and go, and a free list beats the general
// allocator at that, both in time and in fragmentation.
class NodePool {
 public:
  NodePool() = default;
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;

  void* Allocate(size_t size) {
    if (block_ == 0)
      block_ = size < sizeof(void*) ? sizeof(void*)
                                    : (size + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
                                          alignof(std::max_align_t);
    if (size > block_) return ::operator new(size);
    if (free_ != nullptr) {
      void* p = free_;
      KVT_POOL_UNPOISON(p, block_);
      free_ = *static_cast<void**>(free_);
      return p;
    }
    if (chunks_.empty() || used_ == kBlocksPerChunk) {
      chunks_.push_back(std::unique_ptr<unsigned char[]>(new unsigned char[kBlocksPerChunk * block_]));
      used_ = 0;
    }
    return chunks_.back().get() + block_ * used_++;
  }

  void Free(void* p, size_t size) {
    if (size > block_) {
      ::operator delete(p);
      return;
    }
    *static_cast<void**>(p) = free_;
    free_ = p;
    // Under AddressSanitizer a freed block is poisoned, so a use after free is
    // reported as it would be with the general allocator.
    KVT_POOL_POISON(p, block_);
  }

  // Bytes reserved by the pool.
  size_t bytes() const { return chunks_.size() * kBlocksPerChunk * block_; }

 private:
  static constexpr size_t kBlocksPerChunk = 4096;
  size_t block_ = 0;
  size_t used_ = 0;
  void* free_ = nullptr;
  std::vector<std::unique_ptr<unsigned char[]>> chunks_;
};

// Standard allocator interface over a NodePool; single objects come from the
// pool, arrays from the general allocator.
template <typename T>
struct PoolAllocator {
  using value_type = T;
  NodePool* pool;

  explicit PoolAllocator(NodePool* p) noexcept : pool(p) {}
  template <typename U>
  PoolAllocator(const PoolAllocator<U>& other) noexcept : pool(other.pool) {}

  T* allocate(size_t n) {
    if (n == 1) return static_cast<T*>(pool->Allocate(sizeof(T)));
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept {
    if (n == 1) {
      pool->Free(p, sizeof(T));
    } else {
      ::operator delete(p);
    }
  }
  template <typename U>
  bool operator==(const PoolAllocator<U>& o) const noexcept {
    return pool == o.pool;
  }
  template <typename U>
  bool operator!=(const PoolAllocator<U>& o) const noexcept {
    return pool != o.pool;
  }
};

}  // namespace velmora
