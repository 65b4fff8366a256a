/* SPDX-License-Identifier: MIT */
/* One host of a section: its library context, its schedule and cache
 * entry, and one round of it. */
#ifndef DDNSUPDATE_ROUND_H
#define DDNSUPDATE_ROUND_H

#include <namreg/ddnsclient.h>
#include <pthread.h>
#include <stdint.h>

#include "cache.h"
#include "config.h"
#include "schedule.h"

/* Operations of the command line's --once mode besides the update. */
enum dd_operation {
  DD_OP_UPDATE,
  DD_OP_IODATA_REGISTER,
  DD_OP_IODATA_OFFLINE,
  DD_OP_MEGACHIPS_PASSWORD
};

struct dd_host {
  const struct dd_section *section;
  const char *name;
  DDNSClientContext *context;
  DDNSClientSettings settings;
  struct dd_schedule schedule;
  struct dd_cache_entry cache;
  char cache_path[512]; /* "" : no cache */
  int logged_in;        /* PeanutHull: a login in this context */
};

/* Writes of cache files hold this lock, so an exit never cuts one short. */
extern pthread_mutex_t dd_cache_lock;

/* Starts the host's context; a DDNS result code. */
uint32_t dd_host_start(struct dd_host *host, const struct dd_section *section, const char *name,
                       const char *cache_dir);
void dd_host_stop(struct dd_host *host);
/* One round; the result code, and the address the provider has (0: none
 * known).  refresh_days: the forced refresh period. */
uint32_t dd_host_round(struct dd_host *host, enum dd_operation operation, uint32_t refresh_days,
                       uint32_t *address);
/* Records the round's outcome in the cache (when the host has one). */
void dd_host_remember(struct dd_host *host, uint32_t result, uint32_t address);

#endif
