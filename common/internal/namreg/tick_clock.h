// SPDX-License-Identifier: MIT
// The millisecond tick shared by the libraries: a wrapping 32-bit count
// derived from times(); elapsed time is the absolute difference of two
// ticks.  The DDNS client, the network utilities and the HTTP client expose
// it under their own names.
#ifndef NAMREG_INTERNAL_TICK_CLOCK_H
#define NAMREG_INTERNAL_TICK_CLOCK_H

#include <stdint.h>

namespace namreg {

uint32_t TickClock_GetMs();
// 1 when more than `seconds` have passed since `start`; *elapsed (if given)
// receives the whole seconds elapsed.
int TickClock_IsTimeout(uint32_t start, uint32_t seconds, uint32_t *elapsed);

}  // namespace namreg

#endif  // NAMREG_INTERNAL_TICK_CLOCK_H
