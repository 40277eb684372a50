#include "solver/simple_timer.hpp"

#include <ctime>
#include <iostream>

namespace velmora {

int64_t SimpleTimer::NowTicks() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + static_cast<int64_t>(ts.tv_nsec) / 1000;
}

SimpleTimer::SimpleTimer() : start_ticks_(NowTicks()) {}

int SimpleTimer::start() {
  start_ticks_ = NowTicks();
  return 0;
}

double SimpleTimer::elapsed() const { return static_cast<double>(NowTicks() - start_ticks_) / 1000000.0; }

void SimpleTimer::print() const { std::cout << " System Clock Duration: " << elapsed() << "\n"; }

}  // namespace velmora
