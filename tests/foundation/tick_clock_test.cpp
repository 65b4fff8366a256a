// SPDX-License-Identifier: MIT
// The millisecond tick: agrees with the monotonic clock, and the time-out
// test measures the time from start to now right across the 32-bit wrap.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include "namreg/clock.h"
#include "namreg/deadline.h"
#include "namreg/tick_clock.h"
#include "virtual_clock.h"

namespace {

TEST(TickClock, FollowsRealTime) {
  uint32_t t0 = namreg::TickClock_GetMs();
  usleep(300000);
  uint32_t d = namreg::TickClock_GetMs() - t0;
  // times() counts in clock ticks (10 ms at 100 Hz).
  EXPECT_GE(d, 250u);
  EXPECT_LE(d, 600u);
}

TEST(TickClock, IsTimeoutCountsForwardAcrossTheWrap) {
  nrtest::VirtualClock::Options options;
  options.follow_real_time = false;
  options.tick_start = 0xFFFFF000u;  // 4,096 ms before the wrap
  nrtest::VirtualClock clock(options);
  const uint32_t start = namreg::TickClock_GetMs();
  uint32_t elapsed = 99;
  EXPECT_EQ(namreg::TickClock_IsTimeout(start, 1, &elapsed), 0);
  EXPECT_EQ(elapsed, 0u);

  // 6 s later the tick has wrapped past zero: 6 s have passed, not 49 days.
  clock.Advance(6000);
  EXPECT_LT(namreg::TickClock_GetMs(), start);
  EXPECT_EQ(namreg::TickClock_IsTimeout(start, 5, &elapsed), 1);
  EXPECT_EQ(elapsed, 6u);
  EXPECT_EQ(namreg::TickClock_IsTimeout(start, 6, nullptr), 0);  // exactly 6 s is not past 6 s
  EXPECT_EQ(namreg::TickClock_IsTimeout(start, 7, nullptr), 0);
  clock.Advance(1);
  EXPECT_EQ(namreg::TickClock_IsTimeout(start, 6, nullptr), 1);
  EXPECT_EQ(namreg::TickElapsedMs(start, namreg::TickClock_GetMs()), 6001u);
}

TEST(VirtualClockSeam, SilentWaitsJumpAndDeadlinesFollow) {
  nrtest::VirtualClock clock;
  const namreg::Deadline deadline(30);
  const uint64_t real_start = namreg::ClockMonotonicMs();
  namreg::ClockSleepMs(29000);
  EXPECT_FALSE(deadline.Expired());
  EXPECT_GE(namreg::ClockMonotonicMs() - real_start, 29000u);
  namreg::ClockSleepMs(1000);
  EXPECT_TRUE(deadline.Expired());
  EXPECT_GE(clock.SkippedMs(), 29000u);
}

}  // namespace
