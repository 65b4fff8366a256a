/* SPDX-License-Identifier: MIT */
/* When each host's next round is due: the update interval after a success,
 * an exponential back-off with jitter after a transient failure, nothing
 * after a permanent refusal, and never two rounds of one host within a
 * minute.  Time comes from dd_clock_ms, which tests replace. */
#ifndef DDNSUPDATE_SCHEDULE_H
#define DDNSUPDATE_SCHEDULE_H

#include <stdint.h>

#include "outcome.h"

/* Monotonic milliseconds (CLOCK_MONOTONIC unless a test sets another). */
extern uint64_t (*dd_clock_ms)(void);
/* Seconds since the epoch, for the cache (time() unless a test sets one). */
extern int64_t (*dd_wall_seconds)(void);
/* Uniform 32-bit random numbers for the jitter (random() unless replaced). */
extern uint32_t (*dd_random)(void);
/* The length of a minute of the schedule: 60000, shortened only by the
 * soak option of tests. */
extern uint64_t dd_minute_ms;

struct dd_schedule {
  uint64_t next_ms;  /* when the next round is due */
  uint64_t last_ms;  /* start of the last round */
  uint32_t failures; /* transient failures in a row */
  int has_run;
  int stopped; /* permanently refused: no round until reload */
};

void dd_schedule_start(struct dd_schedule *s, uint64_t now);
/* A round starts now. */
void dd_schedule_begin(struct dd_schedule *s, uint64_t now);
/* The round that began last ended with `action`; returns the delay until
 * the next one (0 when stopped). */
uint64_t dd_schedule_end(struct dd_schedule *s, enum dd_action action, uint64_t interval_ms,
                         uint64_t now);
int dd_schedule_due(const struct dd_schedule *s, uint64_t now);
/* SIGUSR1: due at once, but not within a minute of the last round. */
void dd_schedule_force(struct dd_schedule *s, uint64_t now);
/* The back-off after `failures` transient failures in a row (1, 2, ...):
 * one minute doubled each time up to the interval, less a jitter of up to
 * a fifth drawn from `random`, never under a minute. */
uint64_t dd_backoff_ms(uint32_t failures, uint64_t interval_ms, uint32_t random);

#endif
