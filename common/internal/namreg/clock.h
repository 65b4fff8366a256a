// SPDX-License-Identifier: MIT
// Every reading of time and every wait of the libraries goes through here:
// the monotonic milliseconds that deadlines count, the 32-bit millisecond
// tick made from times(), and the waits of select and the pauses.  A test
// installs a source of its own (namreg::SetClockSource) to put the tick
// anywhere, across its wrap too, and to let silent waits pass without
// waiting them out in real time.
#ifndef NAMREG_INTERNAL_CLOCK_H
#define NAMREG_INTERNAL_CLOCK_H

#include <stdint.h>
#include <sys/time.h>

namespace namreg {

// A member left null keeps the machine's behaviour for it.
struct ClockSource {
  void *context;
  // Milliseconds of a clock that never steps.
  uint64_t (*monotonic_ms)(void *context);
  // The wrapping 32-bit millisecond tick.
  uint32_t (*tick_ms)(void *context);
  // A wait of `ms` on this clock is about to begin: how many real
  // milliseconds it may last.
  uint64_t (*begin_wait)(void *context, uint64_t ms);
  // That wait ended; `timed_out` when it ran to its end without an event.
  void (*end_wait)(void *context, uint64_t ms, bool timed_out);
};

// Null restores the machine's clocks.  Not for concurrent use with the
// operations that read the clock.
void SetClockSource(const ClockSource *source);

uint64_t ClockMonotonicMs();
uint32_t ClockTickMs();
uint64_t ClockBeginWait(uint64_t ms);
void ClockEndWait(uint64_t ms, bool timed_out);
// A pause of `ms` on the clock.
void ClockSleepMs(uint64_t ms);

// Milliseconds from `start` to `now` on the tick: the unsigned difference,
// right across one wrap of the 32-bit count.
inline uint32_t TickElapsedMs(uint32_t start, uint32_t now) {
  return now - start;
}

// A wait as a timeval for select; whole seconds beyond what a 32-bit
// time_t holds are capped (the wait then simply ends earlier than asked).
inline struct timeval MsToTimeval(uint64_t ms) {
  const uint64_t seconds = ms / 1000u;
  struct timeval tv;
  tv.tv_sec = static_cast<time_t>(seconds > 0x7FFFFFFFu ? 0x7FFFFFFFu : seconds);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000u) * 1000u);
  return tv;
}

inline uint64_t TimevalToMs(const struct timeval &tv) {
  return static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u +
         (tv.tv_usec % 1000 != 0 ? 1u : 0u);
}

}  // namespace namreg

#endif  // NAMREG_INTERNAL_CLOCK_H
