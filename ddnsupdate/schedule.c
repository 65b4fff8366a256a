/* SPDX-License-Identifier: MIT */
#define _DEFAULT_SOURCE /* random */
#include "schedule.h"

#include <stdlib.h>
#include <time.h>

static uint64_t MonotonicMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
}

static int64_t WallSeconds(void) {
  return (int64_t)time(NULL);
}

static uint32_t Random32(void) {
  return ((uint32_t)random() << 1) ^ (uint32_t)random();
}

uint64_t (*dd_clock_ms)(void) = MonotonicMs;
int64_t (*dd_wall_seconds)(void) = WallSeconds;
uint32_t (*dd_random)(void) = Random32;
uint64_t dd_minute_ms = 60000u;

void dd_schedule_start(struct dd_schedule *s, uint64_t now) {
  s->next_ms = now;
  s->last_ms = 0;
  s->failures = 0;
  s->has_run = 0;
  s->stopped = 0;
}

void dd_schedule_begin(struct dd_schedule *s, uint64_t now) {
  s->last_ms = now;
  s->has_run = 1;
}

uint64_t dd_backoff_ms(uint32_t failures, uint64_t interval_ms, uint32_t random) {
  if (interval_ms < dd_minute_ms) interval_ms = dd_minute_ms;
  uint64_t base = dd_minute_ms;
  for (uint32_t i = 1; i < failures && base < interval_ms; ++i) base *= 2;
  if (base > interval_ms) base = interval_ms;
  const uint64_t jitter = (base / 5) * random / 0xFFFFFFFFu;
  const uint64_t delay = base - jitter;
  return delay < dd_minute_ms ? dd_minute_ms : delay;
}

uint64_t dd_schedule_end(struct dd_schedule *s, enum dd_action action, uint64_t interval_ms,
                         uint64_t now) {
  uint64_t delay;
  switch (action) {
    case DD_ACTION_PERMANENT:
      s->stopped = 1;
      s->failures = 0;
      return 0;
    case DD_ACTION_RETRY:
      if (s->failures < 64) ++s->failures;
      delay = dd_backoff_ms(s->failures, interval_ms, dd_random());
      break;
    default:
      s->failures = 0;
      delay = interval_ms;
      break;
  }
  uint64_t next = now + delay;
  if (s->has_run && next < s->last_ms + dd_minute_ms) next = s->last_ms + dd_minute_ms;
  s->next_ms = next;
  return next - now;
}

int dd_schedule_due(const struct dd_schedule *s, uint64_t now) {
  return !s->stopped && now >= s->next_ms;
}

void dd_schedule_force(struct dd_schedule *s, uint64_t now) {
  if (s->stopped) return;
  uint64_t next = now;
  if (s->has_run && next < s->last_ms + dd_minute_ms) next = s->last_ms + dd_minute_ms;
  s->next_ms = next;
}
