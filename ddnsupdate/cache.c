/* SPDX-License-Identifier: MIT */
#define _DEFAULT_SOURCE /* fsync */
#include "cache.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int dd_cache_path(const char *dir, const char *provider, const char *host, char *out, size_t size) {
  const int n = snprintf(out, size, "%s/%s_%s", dir, provider, host);
  if (n < 0 || (size_t)n >= size) return 0;
  for (char *p = out + strlen(dir) + 1; *p != '\0'; ++p) {
    const char c = *p;
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '-' || c == '_'))
      *p = '_';
  }
  return 1;
}

/* The file holds one line: "ADDRESS SENT_AT RESULT\n". */
int dd_cache_read(const char *path, struct dd_cache_entry *entry) {
  memset(entry, 0, sizeof *entry);
  FILE *file = fopen(path, "re");
  if (file == NULL) return 0;
  char line[128];
  const int got = fgets(line, sizeof line, file) != NULL;
  fclose(file);
  if (!got || strchr(line, '\n') == NULL) return 0;
  char address[32];
  int64_t sent_at = 0;
  unsigned result = 0;
  if (sscanf(line, "%31s %" SCNd64 " %x", address, &sent_at, &result) != 3) return 0;
  struct in_addr in;
  if (strcmp(address, "-") == 0) {
    in.s_addr = 0;
  } else if (inet_pton(AF_INET, address, &in) != 1) {
    return 0;
  }
  entry->address = in.s_addr;
  entry->sent_at = sent_at;
  entry->result = result;
  return 1;
}

int dd_cache_write(const char *path, const struct dd_cache_entry *entry) {
  char temporary[600];
  const int n = snprintf(temporary, sizeof temporary, "%s.tmp", path);
  if (n < 0 || (size_t)n >= sizeof temporary) return ENAMETOOLONG;
  char address[INET_ADDRSTRLEN] = "-";
  if (entry->address != 0) {
    struct in_addr in;
    in.s_addr = entry->address;
    inet_ntop(AF_INET, &in, address, sizeof address);
  }
  char line[96];
  const int length = snprintf(line, sizeof line, "%s %" PRId64 " 0x%08X\n", address, entry->sent_at,
                              (unsigned)entry->result);
  const int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int error = 0;
  if (write(fd, line, (size_t)length) != length) error = errno != 0 ? errno : EIO;
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary, path) != 0) error = errno;
  if (error != 0) unlink(temporary);
  return error;
}

int dd_cache_refresh_due(const struct dd_cache_entry *entry, uint32_t days, int64_t now) {
  if (days == 0 || entry->address == 0) return 0;
  return now - entry->sent_at >= (int64_t)days * 86400;
}
