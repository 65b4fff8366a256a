// SPDX-License-Identifier: MIT
// Bounded host lookups: dotted quad, /etc/hosts, then the stub resolver
// against each name server in turn until the deadline.
#include "namreg/lookup.h"

#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>

#include "file_guard.h"
#include "namreg/netutility.h"

namespace namreg {

namespace {

// Host names compare without regard to ASCII case.
bool SameName(const char *a, const char *b) {
  for (;; ++a, ++b) {
    const char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a + 32) : *a;
    const char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

}  // namespace

bool LookupHostsFile(const char *host_name, uint32_t *address) {
  namreg::netutility::FileGuard file(fopen("/etc/hosts", "r"));
  if (file.get() == nullptr) return false;
  char line[512];
  bool line_start = true;
  while (fgets(line, sizeof line, file.get()) != nullptr) {
    // A line longer than the buffer is skipped whole (a name cut at the
    // buffer's end must not match); a last line without its line end is not
    // such a line when it is shorter.
    const bool at_start = line_start;
    line_start = strchr(line, '\n') != nullptr || strlen(line) < sizeof line - 1;
    if (!at_start || !line_start) continue;
    // The address, then the names; words end at a blank, a line end or
    // a '#' (a comment).
    struct in_addr parsed;
    char *p = line;
    for (int word_index = 0;; ++word_index) {
      while (*p == ' ' || *p == '\t') ++p;
      char *word = p;
      while (static_cast<unsigned char>(*p) > ' ' && *p != '#') ++p;
      if (p == word) break;
      const char end = *p;
      *p = '\0';
      if (word_index == 0) {
        if (inet_pton(AF_INET, word, &parsed) != 1) break;
      } else if (SameName(word, host_name)) {
        *address = parsed.s_addr;
        return true;
      }
      if (end != ' ' && end != '\t') break;
      ++p;
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
  // Two rounds over the name servers, as a resolver makes two attempts.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const uint32_t server = servers[attempt & 1];
    const uint64_t left = deadline.LeftMs();
    if (left == 0) break;
    if (server == 0) continue;
    uint32_t found = 0;
    const int32_t result = DNSResolveUntil(
        server, host_name, Deadline::AfterMs(left < kLookupQueryMs ? left : kLookupQueryMs), &found,
        true);
    if (result == DNS_RESULT_NAME_ERROR) return result;
    if (found != 0) {
      *address = found;
      return 0;
    }
  }
  return -1;
}

}  // namespace namreg
