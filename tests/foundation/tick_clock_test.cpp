// SPDX-License-Identifier: MIT
// The millisecond tick: agrees with the monotonic clock, and the time-out
// test measures the absolute difference of two ticks.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include "namreg/tick_clock.h"

namespace {

TEST(TickClock, FollowsRealTime) {
  uint32_t t0 = namreg::TickClock_GetMs();
  usleep(300000);
  uint32_t d = namreg::TickClock_GetMs() - t0;
  // times() counts in clock ticks (10 ms at 100 Hz).
  EXPECT_GE(d, 250u);
  EXPECT_LE(d, 600u);
}

TEST(TickClock, IsTimeoutUsesAbsoluteDifference) {
  uint32_t now = namreg::TickClock_GetMs();
  uint32_t elapsed = 99;
  EXPECT_EQ(namreg::TickClock_IsTimeout(now, 1, &elapsed), 0);
  EXPECT_EQ(elapsed, 0u);
  EXPECT_EQ(namreg::TickClock_IsTimeout(now - 5000, 4, &elapsed), 1);
  EXPECT_EQ(elapsed, 5u);
  EXPECT_EQ(namreg::TickClock_IsTimeout(now - 5000, 6, nullptr), 0);  // not yet past 6 s
  // A start "in the future" (the tick wrapped between the two readings)
  // still measures the distance between them.
  EXPECT_EQ(namreg::TickClock_IsTimeout(now + 7500, 6, &elapsed), 1);
  EXPECT_EQ(elapsed, 7u);
}

}  // namespace
