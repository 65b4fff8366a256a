// SPDX-License-Identifier: MIT
// Platform layer: the binary semaphore the DDNS context relies on, counting
// with a maximum, bounded waits, keys and timer words.
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <thread>
#include <vector>

#include "namreg/osal.h"

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

TEST(OSSemaphore, BinarySemaphoreTakesOnceAndPostsOnce) {
  OSSemaphoreHandle s = nullptr;
  ASSERT_EQ(OSSemaphore_Initial(&s, 1, 1), 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(OSSemaphore_Get(s, 0), 0);
  EXPECT_EQ(OSSemaphore_Get(s, 0), -1);  // already taken
  EXPECT_EQ(OSSemaphore_Post(s), 0);
  EXPECT_EQ(OSSemaphore_Post(s), -1);  // never above the maximum
  EXPECT_EQ(OSSemaphore_Get(s, 0), 0);
  EXPECT_EQ(OSSemaphore_Get(s, 0), -1);  // the failed post added nothing
  EXPECT_EQ(OSSemaphore_Post(s), 0);
  EXPECT_EQ(OSSemaphore_Release(&s), 0);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(OSSemaphore_Release(&s), 0);  // null handle accepted
}

TEST(OSSemaphore, RejectsBadCounts) {
  OSSemaphoreHandle s = reinterpret_cast<OSSemaphoreHandle>(1);
  EXPECT_EQ(OSSemaphore_Initial(&s, 2, 1), -1);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(OSSemaphore_Initial(&s, 0, 0), -1);
  EXPECT_EQ(OSSemaphore_Initial(nullptr, 1, 1), -1);
  EXPECT_EQ(OSSemaphore_Get(nullptr, 0), -1);
  EXPECT_EQ(OSSemaphore_Post(nullptr), -1);
}

TEST(OSSemaphore, TimedGetWaitsAboutItsTimeout) {
  OSSemaphoreHandle s = nullptr;
  ASSERT_EQ(OSSemaphore_Initial(&s, 0, 1), 0);
  double t0 = Now();
  EXPECT_EQ(OSSemaphore_Get(s, 150), -1);
  double waited = Now() - t0;
  EXPECT_GE(waited, 0.14);
  EXPECT_LT(waited, 1.0);
  OSSemaphore_Release(&s);
}

TEST(OSSemaphore, WaitForeverIsWokenByPost) {
  OSSemaphoreHandle s = nullptr;
  ASSERT_EQ(OSSemaphore_Initial(&s, 0, 1), 0);
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    EXPECT_EQ(OSSemaphore_Get(s, OSAL_WAIT_FOREVER), 0);
    got = true;
  });
  usleep(50000);
  EXPECT_FALSE(got.load());
  EXPECT_EQ(OSSemaphore_Post(s), 0);
  waiter.join();
  EXPECT_TRUE(got.load());
  OSSemaphore_Release(&s);
}

TEST(OSSemaphore, BinarySemaphoreExcludesConcurrentWriters) {
  OSSemaphoreHandle s = nullptr;
  ASSERT_EQ(OSSemaphore_Initial(&s, 1, 1), 0);
  int inside = 0, max_inside = 0;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(OSSemaphore_Get(s, OSAL_WAIT_FOREVER), 0);
        ++inside;
        if (inside > max_inside) max_inside = inside;
        ++counter;
        --inside;
        ASSERT_EQ(OSSemaphore_Post(s), 0);
      }
    });
  }
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(max_inside, 1);
  EXPECT_EQ(counter, 8000);
  OSSemaphore_Release(&s);
}

TEST(OSSemaphore, CountingSemaphoreHoldsUpToMaximum) {
  OSSemaphoreHandle s = nullptr;
  ASSERT_EQ(OSSemaphore_Initial(&s, 2, 3), 0);
  EXPECT_EQ(OSSemaphore_Post(s), 0);
  EXPECT_EQ(OSSemaphore_Post(s), -1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(OSSemaphore_Get(s, 0), 0);
  EXPECT_EQ(OSSemaphore_Get(s, 0), -1);
  OSSemaphore_Release(&s);
}

TEST(OSThread, KeyCreateAndRelease) {
  OSThreadKeyHandle k = nullptr;
  ASSERT_EQ(OSThread_KeyCreate(&k), 0);
  EXPECT_NE(k, nullptr);
  EXPECT_EQ(OSThread_Release(&k), 0);
  EXPECT_EQ(k, nullptr);
  EXPECT_EQ(OSThread_Release(&k), 0);
}

TEST(OSTime, TimerWordsAdvanceMonotonically) {
  uint32_t s1, us1, s2, us2;
  ASSERT_EQ(OSTime_GetTimer(&s1, &us1), 0);
  usleep(20000);
  ASSERT_EQ(OSTime_GetTimer(&s2, &us2), 0);
  EXPECT_LT(us1, 1000000u);
  EXPECT_LT(us2, 1000000u);
  uint64_t a = uint64_t(s1) * 1000000 + us1, b = uint64_t(s2) * 1000000 + us2;
  EXPECT_GE(b - a, 19000u);
  EXPECT_EQ(OSTime_GetTimer(nullptr, &us1), -1);
}

}  // namespace
