// SPDX-License-Identifier: MIT
// The client core's millisecond tick and time-out test (the shared clock of
// common).
#include "ddnsclient_internal.h"

#include <namreg/tick_clock.h>

extern "C" uint32_t DDNSClient_GetTickMs(void) {
  return namreg::TickClock_GetMs();
}

extern "C" int DDNSClient_IsTimeout(uint32_t start_ms, uint32_t seconds,
                                    uint32_t *elapsed_seconds) {
  return namreg::TickClock_IsTimeout(start_ms, seconds, elapsed_seconds);
}
