// SPDX-License-Identifier: MIT
// Millisecond tick from times(), computed in two 16-bit halves so the
// multiplication by 1000 never overflows 32 bits.
#include "namreg/tick_clock.h"

#include <errno.h>
#include <sys/times.h>
#include <unistd.h>

namespace namreg {

uint32_t TickClock_GetMs() {
  struct tms unused;
  clock_t t = times(&unused);
  if (t == static_cast<clock_t>(-1)) t = static_cast<clock_t>(~errno);
  const uint32_t ticks = static_cast<uint32_t>(t);
  long hz = sysconf(_SC_CLK_TCK);
  const uint32_t rate = hz > 0 ? static_cast<uint32_t>(hz) : 100u;
  return (((1000u * (ticks >> 16)) / rate) << 16) + (1000u * (ticks & 0xFFFFu)) / rate;
}

int TickClock_IsTimeout(uint32_t start, uint32_t seconds, uint32_t *elapsed) {
  const uint32_t now = TickClock_GetMs();
  // Elapsed time is the absolute difference of the two ticks, whichever is
  // the larger.
  const uint32_t d = now >= start ? now - start : start - now;
  if (elapsed) *elapsed = d / 1000u;
  // In 64 bits: 1000 * seconds overflows 32 bits from 4,294,968 s on.
  return uint64_t{1000u} * seconds < d ? 1 : 0;
}

}  // namespace namreg
