// SPDX-License-Identifier: MIT
// One time budget for a whole operation: a fixed end on the monotonic clock
// that every wait of the operation counts down, so that a peer which keeps
// answering a little at a time cannot stretch the operation past its budget.
#ifndef NAMREG_INTERNAL_DEADLINE_H
#define NAMREG_INTERNAL_DEADLINE_H

#include <stdint.h>
#include <sys/time.h>

#include "namreg/clock.h"

namespace namreg {

// Milliseconds of the monotonic clock (never steps with the wall clock).
inline uint64_t MonotonicMs() {
  return ClockMonotonicMs();
}

class Deadline {
 public:
  // Ends `seconds` from now (64-bit: no time-out wraps).
  explicit Deadline(uint32_t seconds) : end_ms_(MonotonicMs() + uint64_t{seconds} * 1000u) {}
  static Deadline AfterMs(uint64_t ms) {
    Deadline d(0);
    d.end_ms_ += ms;
    return d;
  }
  uint64_t LeftMs() const {
    const uint64_t now = MonotonicMs();
    return now >= end_ms_ ? 0 : end_ms_ - now;
  }
  bool Expired() const { return LeftMs() == 0; }
  // Whole seconds left, rounded down.
  uint32_t LeftSeconds() const {
    const uint64_t seconds = LeftMs() / 1000u;
    return seconds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(seconds);
  }
  // Whole seconds left, rounded up: a routine's nominal time-out when the
  // deadline itself is the limit that binds.
  uint32_t LeftSecondsRoundedUp() const {
    const uint64_t seconds = (LeftMs() + 999u) / 1000u;
    return seconds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(seconds);
  }
  struct timeval Left() const {
    return MsToTimeval(LeftMs());
  }

 private:
  uint64_t end_ms_;
};

}  // namespace namreg

#endif  // NAMREG_INTERNAL_DEADLINE_H
