// SPDX-License-Identifier: MIT
// A clock for tests, installed through the libraries' clock seam: the tick
// starts where the test puts it (just before its 32-bit wrap, say), time
// runs on with the real clock, and a wait that ends without an event jumps
// to its end after at most a few real milliseconds, so a silent peer's 30 s
// is over at once.  Waits that end with an event (a peer that answers) take
// the real time they took.
#ifndef NAMREG_TESTS_VIRTUAL_CLOCK_H
#define NAMREG_TESTS_VIRTUAL_CLOCK_H

#include <cstdint>
#include <mutex>

#include "namreg/clock.h"

namespace nrtest {

class VirtualClock {
 public:
  struct Options {
    uint32_t tick_start = 0x10000000u;  // the tick when the clock is installed
    uint64_t wait_cap_ms = 40;          // longest real wait of one clock wait
    bool follow_real_time = true;       // false: time moves only by waits and Advance
  };
  VirtualClock();
  explicit VirtualClock(const Options &options);
  // Restores the machine's clocks.
  ~VirtualClock();
  VirtualClock(const VirtualClock &) = delete;
  VirtualClock &operator=(const VirtualClock &) = delete;

  // Moves the clock on by `ms` at once.
  void Advance(uint64_t ms);
  // Milliseconds of this clock since it was installed.
  uint64_t ElapsedMs();
  uint32_t Tick();
  // Clock milliseconds skipped by waits that ran to their end.
  uint64_t SkippedMs();

 private:
  static uint64_t Monotonic(void *self);
  static uint32_t TickOf(void *self);
  static uint64_t BeginWait(void *self, uint64_t ms);
  static void EndWait(void *self, uint64_t ms, bool timed_out);
  uint64_t ElapsedLocked();

  Options options_;
  std::mutex mutex_;
  uint64_t real_start_ms_ = 0;
  uint64_t skipped_ms_ = 0;
  namreg::ClockSource source_;
};

}  // namespace nrtest

#endif  // NAMREG_TESTS_VIRTUAL_CLOCK_H
