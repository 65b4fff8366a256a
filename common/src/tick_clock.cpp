// SPDX-License-Identifier: MIT
// The millisecond tick and its time-out test.
#include "namreg/tick_clock.h"

#include "namreg/clock.h"

namespace namreg {

uint32_t TickClock_GetMs() {
  return ClockTickMs();
}

int TickClock_IsTimeout(uint32_t start, uint32_t seconds, uint32_t *elapsed) {
  const uint32_t d = TickElapsedMs(start, TickClock_GetMs());
  if (elapsed) *elapsed = d / 1000u;
  // In 64 bits: 1000 * seconds overflows 32 bits from 4,294,968 s on.
  return uint64_t{1000u} * seconds < d ? 1 : 0;
}

}  // namespace namreg
