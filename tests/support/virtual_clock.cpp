// SPDX-License-Identifier: MIT
#include "virtual_clock.h"

#include <time.h>

namespace nrtest {

namespace {

constexpr uint64_t kMonotonicStartMs = 1000000000u;  // any value far from 0

uint64_t RealMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

VirtualClock::VirtualClock() : VirtualClock(Options()) {}

VirtualClock::VirtualClock(const Options &options) : options_(options) {
  real_start_ms_ = RealMs();
  source_ = {this, Monotonic, TickOf, BeginWait, EndWait};
  namreg::SetClockSource(&source_);
}

VirtualClock::~VirtualClock() {
  namreg::SetClockSource(nullptr);
}

uint64_t VirtualClock::ElapsedLocked() {
  const uint64_t real = options_.follow_real_time ? RealMs() - real_start_ms_ : 0;
  return real + skipped_ms_;
}

void VirtualClock::Advance(uint64_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  skipped_ms_ += ms;
}

uint64_t VirtualClock::ElapsedMs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ElapsedLocked();
}

uint32_t VirtualClock::Tick() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint32_t>(options_.tick_start + ElapsedLocked());
}

uint64_t VirtualClock::SkippedMs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return skipped_ms_;
}

uint64_t VirtualClock::Monotonic(void *self) {
  return kMonotonicStartMs + static_cast<VirtualClock *>(self)->ElapsedMs();
}

uint32_t VirtualClock::TickOf(void *self) {
  return static_cast<VirtualClock *>(self)->Tick();
}

uint64_t VirtualClock::BeginWait(void *self, uint64_t ms) {
  const uint64_t cap = static_cast<VirtualClock *>(self)->options_.wait_cap_ms;
  return ms < cap ? ms : cap;
}

void VirtualClock::EndWait(void *self, uint64_t ms, bool timed_out) {
  VirtualClock *clock = static_cast<VirtualClock *>(self);
  if (!timed_out) return;
  // The wait ran to its end: the clock stands at its end, whatever part of
  // it really passed.
  const uint64_t real = ms < clock->options_.wait_cap_ms ? ms : clock->options_.wait_cap_ms;
  const uint64_t spent = clock->options_.follow_real_time ? real : 0;
  clock->Advance(ms > spent ? ms - spent : 0);
}

}  // namespace nrtest
