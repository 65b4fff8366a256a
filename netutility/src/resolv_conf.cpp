// SPDX-License-Identifier: MIT
// The name-server file: the first two "nameserver " entries of
// /etc/resolv.conf, read from its first 256 bytes.
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>

#include "file_guard.h"
#include "namreg/netutility.h"

namespace {

constexpr size_t kReadSize = 256;
constexpr size_t kMaxAddressText = 63;
const char kKeyword[] = "nameserver ";

}  // namespace

extern "C" int NetUtility_GetDNSIP(uint32_t *primary, uint32_t *secondary) {
  if (primary == nullptr || secondary == nullptr) return -1;
  *primary = 0;
  *secondary = 0;

  namreg::netutility::FileGuard file(fopen("/etc/resolv.conf", "r"));
  if (file.get() == nullptr) return -1;
  // One byte more than is read, so the bytes read always end in a zero.
  char text[kReadSize + 1];
  const size_t got = fread(text, 1, kReadSize, file.get());
  text[got] = '\0';

  uint32_t *const slots[2] = {primary, secondary};
  const char *cursor = text;
  for (int stored = 0; stored < 2; ++stored) {
    const char *entry = strstr(cursor, kKeyword);
    if (entry == nullptr) return stored == 0 ? -1 : 0;
    const char *start = entry + sizeof(kKeyword) - 1;
    const char *end = strchr(start, '\n');
    if (end == nullptr) return -1;
    const size_t length = static_cast<size_t>(end - start);
    if (length > kMaxAddressText) return -1;
    char address[kMaxAddressText + 1];
    memcpy(address, start, length);
    address[length] = '\0';
    *slots[stored] = inet_addr(address);
    cursor = end + 1;
  }
  return 0;
}
