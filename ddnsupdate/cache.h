/* SPDX-License-Identifier: MIT */
/* One small file per host in the cache directory: the last address sent,
 * when it was sent and the last result.  Written whole or not at all (a
 * temporary file, then rename). */
#ifndef DDNSUPDATE_CACHE_H
#define DDNSUPDATE_CACHE_H

#include <stddef.h>
#include <stdint.h>

struct dd_cache_entry {
  uint32_t address; /* network byte order; 0: none sent yet */
  int64_t sent_at;  /* seconds since the epoch */
  uint32_t result;  /* the last round's result */
};

/* The file of one host: DIR/PROVIDER_HOST, other bytes than letters,
 * digits, '.', '-' and '_' written as '_'.  0 when it does not fit. */
int dd_cache_path(const char *dir, const char *provider, const char *host, char *out, size_t size);
/* 1 with the entry read; 0 when there is none or it is not a whole entry. */
int dd_cache_read(const char *path, struct dd_cache_entry *entry);
/* 0 on success, else an errno value. */
int dd_cache_write(const char *path, const struct dd_cache_entry *entry);
/* 1 when a forced refresh is due: an address was sent `days` or more ago
 * (days 0: never). */
int dd_cache_refresh_due(const struct dd_cache_entry *entry, uint32_t days, int64_t now);

#endif
