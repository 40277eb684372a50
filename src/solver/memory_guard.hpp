#pragma once

#include <atomic>
#include <cstddef>

namespace velmora {

// Keeps the searches of a process within the machine's memory. Each running
// search reports the bytes its own structures hold; it has to stop when all
// running searches of the process together pass the limit, or when the
// machine itself is about to run out of memory (other processes included).
class MemoryGuard {
 public:
  // `limit`: bytes all running searches of the process may hold together.
  explicit MemoryGuard(size_t limit);
  ~MemoryGuard();
  MemoryGuard(const MemoryGuard&) = delete;
  MemoryGuard& operator=(const MemoryGuard&) = delete;

  // Records that this search now holds `bytes`; true when it must stop.
  // `elapsed` (seconds) paces the look at the machine's free memory.
  bool Exceeded(size_t bytes, double elapsed);

  // Bytes held by all running searches of the process.
  static size_t ProcessTotal() { return total_.load(std::memory_order_relaxed); }
  // Physical memory of the machine; 0 when unknown.
  static size_t PhysicalMemory();
  // Memory the machine can still hand out (MemAvailable); 0 when unknown.
  static size_t AvailableMemory();
  // Below this much available memory every search stops.
  static size_t LowWater();

 private:
  static std::atomic<size_t> total_;
  size_t limit_;
  size_t reported_ = 0;
  double next_probe_ = 0.0;
};

}  // namespace velmora
