#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "solver/simple_timer.hpp"

using namespace velmora;

namespace {

// Busy work the optimiser cannot drop; returns the thread CPU ticks it spent.
int64_t BurnCpu() {
  const int64_t before = SimpleTimer::NowTicks();
  volatile uint64_t sink = 0;
  for (uint64_t i = 0; i < 30000000; ++i) sink = sink + i * 2654435761u;
  return SimpleTimer::NowTicks() - before;
}

}  // namespace

TEST(SimpleTimer, StartReturnsZero) {
  SimpleTimer t;
  EXPECT_EQ(t.start(), 0);
}

TEST(SimpleTimer, ElapsedIsNonNegativeAndNeverDecreases) {
  SimpleTimer t;
  t.start();
  double last = t.elapsed();
  EXPECT_GE(last, 0.0);
  for (int i = 0; i < 1000; ++i) {
    const double now = t.elapsed();
    ASSERT_GE(now, last);
    last = now;
  }
}

TEST(SimpleTimer, ElapsedGrowsWithBusyWork) {
  SimpleTimer t;
  t.start();
  const double before = t.elapsed();
  EXPECT_GT(BurnCpu(), 0);
  const double after = t.elapsed();
  EXPECT_GT(after, 0.0);
  EXPECT_GT(after, before);
}

TEST(SimpleTimer, StartRestartsTheMeasurement) {
  SimpleTimer t;
  BurnCpu();
  const double long_run = t.elapsed();  // measured from construction
  EXPECT_GT(long_run, 0.0);
  t.start();
  EXPECT_LE(t.elapsed(), long_run);
}

TEST(SimpleTimer, PrintWritesOneLine) {
  SimpleTimer t;
  testing::internal::CaptureStdout();
  t.print();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::regex_match(out, std::regex(R"( System Clock Duration: [0-9.e+-]+\n)"))) << out;
}
