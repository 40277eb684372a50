#include "solver/memory_guard.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velmora {

namespace {

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kReportStep = kMiB;  // smaller changes are not worth an atomic update
constexpr double kProbeInterval = 0.25;

}  // namespace

std::atomic<size_t> MemoryGuard::total_{0};

MemoryGuard::MemoryGuard(size_t limit) : limit_(limit) {}

MemoryGuard::~MemoryGuard() { total_.fetch_sub(reported_, std::memory_order_relaxed); }

bool MemoryGuard::Exceeded(size_t bytes, double elapsed) {
  const size_t change = bytes > reported_ ? bytes - reported_ : reported_ - bytes;
  if (change >= kReportStep || (reported_ == 0 && bytes > 0)) {
    if (bytes > reported_) {
      total_.fetch_add(bytes - reported_, std::memory_order_relaxed);
    } else {
      total_.fetch_sub(reported_ - bytes, std::memory_order_relaxed);
    }
    reported_ = bytes;
  }
  if (std::max(bytes, ProcessTotal()) > limit_) return true;
  if (elapsed >= next_probe_) {
    next_probe_ = elapsed + kProbeInterval;
    const size_t available = AvailableMemory();
    if (available > 0 && available < LowWater()) return true;
  }
  return false;
}

size_t MemoryGuard::PhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<size_t>(pages) * static_cast<size_t>(page_size);
}

size_t MemoryGuard::AvailableMemory() {
  FILE* f = std::fopen("/proc/meminfo", "r");
  if (f == nullptr) return 0;
  char line[256];
  size_t kib = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "MemAvailable:", 13) == 0) {
      unsigned long long value = 0;
      if (std::sscanf(line + 13, "%llu", &value) == 1) kib = static_cast<size_t>(value);
      break;
    }
  }
  std::fclose(f);
  return kib * 1024;
}

size_t MemoryGuard::LowWater() {
  const size_t physical = PhysicalMemory();
  return physical == 0 ? 256 * kMiB : std::min(physical / 32, 512 * kMiB);
}

}  // namespace velmora
