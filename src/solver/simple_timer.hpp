#pragma once

#include <cstdint>

namespace velmora {

// Stopwatch over the calling thread's processor time, counted in microsecond
// ticks, so solves running in parallel threads each measure only their own
// work.
class SimpleTimer {
 public:
  // Starts at construction; start() restarts.
  SimpleTimer();
  virtual ~SimpleTimer() = default;

  // Takes the current reading; always returns 0.
  virtual int start();
  // Processor seconds since the last start.
  virtual double elapsed() const;
  // Writes " System Clock Duration: <elapsed>" and a newline to stdout.
  virtual void print() const;

  // The calling thread's processor time in microseconds.
  static int64_t NowTicks();

 private:
  int64_t start_ticks_ = 0;
};

}  // namespace velmora
