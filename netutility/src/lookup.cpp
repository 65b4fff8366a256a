// SPDX-License-Identifier: MIT
// Bounded host lookups: dotted quad, /etc/hosts, then the stub resolver
// against each name server in turn until the deadline.
#include "namreg/lookup.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "namreg/netutility.h"

namespace namreg {

namespace {

class FileGuard {
 public:
  explicit FileGuard(FILE *file) : file_(file) {}
  ~FileGuard() {
    if (file_ != nullptr) fclose(file_);
  }
  FileGuard(const FileGuard &) = delete;
  FileGuard &operator=(const FileGuard &) = delete;
  FILE *get() const { return file_; }

 private:
  FILE *file_;
};

// Next blank-separated word of `*cursor`, NUL-terminated in place.
char *NextWord(char **cursor) {
  char *p = *cursor;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '\0') return nullptr;
  char *word = p;
  while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  if (*p != '\0') *p++ = '\0';
  *cursor = p;
  return word;
}

}  // namespace

bool LookupHostsFile(const char *host_name, uint32_t *address) {
  FileGuard file(fopen("/etc/hosts", "r"));
  if (file.get() == nullptr) return false;
  char line[512];
  while (fgets(line, sizeof line, file.get()) != nullptr) {
    // A line longer than the buffer is skipped whole.
    if (strchr(line, '\n') == nullptr && !feof(file.get())) {
      int c;
      while ((c = fgetc(file.get())) != EOF && c != '\n') {
      }
      continue;
    }
    line[strcspn(line, "#\r\n")] = '\0';
    char *cursor = line;
    const char *first = NextWord(&cursor);
    struct in_addr parsed;
    if (first == nullptr || inet_pton(AF_INET, first, &parsed) != 1) continue;
    for (const char *name = NextWord(&cursor); name != nullptr; name = NextWord(&cursor)) {
      if (strcasecmp(name, host_name) == 0) {
        *address = parsed.s_addr;
        return true;
      }
    }
  }
  return false;
}

int32_t LookupHostUntil(const char *host_name, const Deadline &deadline, uint32_t *address) {
  if (host_name == nullptr || host_name[0] == '\0' || address == nullptr) return -1;
  struct in_addr parsed;
  if (inet_pton(AF_INET, host_name, &parsed) == 1) {
    *address = parsed.s_addr;
    return 0;
  }
  if (LookupHostsFile(host_name, address)) return 0;
  uint32_t servers[2] = {0, 0};
  if (NetUtility_GetDNSIP(&servers[0], &servers[1]) != 0 || servers[0] == 0) return -1;
  const int count = servers[1] != 0 ? 2 : 1;
  // A server that ended its query early (answered without an address the
  // walk can use, or failed at once) is not asked again.
  bool answered[2] = {false, false};
  for (int i = 0; !deadline.Expired(); i = (i + 1) % count) {
    if (answered[i]) {
      if (answered[0] && (count == 1 || answered[1])) return -1;
      continue;
    }
    const uint64_t left = deadline.LeftMs();
    const Deadline query = Deadline::AfterMs(left < kLookupQueryMs ? left : kLookupQueryMs);
    uint32_t found = 0;
    const int32_t result = DNSResolveUntil(servers[i], host_name, query, &found, true);
    if (result == DNS_RESULT_NAME_ERROR) return result;
    if (result == 0 && found != 0) {
      *address = found;
      return 0;
    }
    if (!query.Expired()) answered[i] = true;
  }
  return -1;
}

}  // namespace namreg
