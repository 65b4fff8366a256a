// SPDX-License-Identifier: MIT
// The machine's clocks (CLOCK_MONOTONIC, times()) behind the clock seam.
#include "namreg/clock.h"

#include <errno.h>
#include <sys/times.h>
#include <time.h>
#include <unistd.h>

namespace namreg {

namespace {

uint64_t MachineMonotonicMs(void *) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// times() in clock ticks, turned into milliseconds in two 16-bit halves so
// that the multiplication by 1000 never overflows 32 bits.
uint32_t MachineTickMs(void *) {
  struct tms unused;
  clock_t t = times(&unused);
  if (t == static_cast<clock_t>(-1)) t = static_cast<clock_t>(~errno);
  const uint32_t ticks = static_cast<uint32_t>(t);
  const long hz = sysconf(_SC_CLK_TCK);
  const uint32_t rate = hz > 0 ? static_cast<uint32_t>(hz) : 100u;
  return (((1000u * (ticks >> 16)) / rate) << 16) + (1000u * (ticks & 0xFFFFu)) / rate;
}

// The machine's source leaves the tick and the wait hooks empty: a program
// that never reads the tick (namreg) then carries no tick code at all.
constexpr ClockSource kMachine = {nullptr, MachineMonotonicMs, nullptr, nullptr, nullptr};

const ClockSource *g_source = &kMachine;

}  // namespace

void SetClockSource(const ClockSource *source) {
  g_source = source != nullptr ? source : &kMachine;
}

uint64_t ClockMonotonicMs() {
  return g_source->monotonic_ms(g_source->context);
}

uint32_t ClockTickMs() {
  return g_source->tick_ms != nullptr ? g_source->tick_ms(g_source->context)
                                      : MachineTickMs(nullptr);
}

uint64_t ClockBeginWait(uint64_t ms) {
  return g_source->begin_wait != nullptr ? g_source->begin_wait(g_source->context, ms) : ms;
}

void ClockEndWait(uint64_t ms, bool timed_out) {
  if (g_source->end_wait != nullptr) g_source->end_wait(g_source->context, ms, timed_out);
}

void ClockSleepMs(uint64_t ms) {
  if (ms == 0) return;
  const uint64_t real = ClockBeginWait(ms);
  struct timespec pause;
  pause.tv_sec = static_cast<time_t>(real / 1000u);
  pause.tv_nsec = static_cast<long>(real % 1000u) * 1000000L;
  while (real != 0 && nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
  ClockEndWait(ms, true);
}

}  // namespace namreg
