// SPDX-License-Identifier: MIT
// Small text helpers: a dotted address out of a reply, a host name split at
// its first dot, hexadecimal text to bytes.
#include "ddnsclient_internal.h"

#include <stdio.h>
#include <string.h>

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

extern "C" int32_t DDNSClient_GetIP(const char *text, const char *marker, char *address) {
  if (text == nullptr || address == nullptr) {
    puts("[DDNSClient_GetIP] Invalid arguments\r");
    return static_cast<int32_t>(DDNSCLIENT_E_INVALID_ARGS);
  }
  const char *start = text;
  if (marker != nullptr) {
    start = strstr(text, marker);
    if (start == nullptr) return -1;
  }
  const char *dot = strchr(start, '.');
  if (dot == nullptr) return -1;
  const char *first = dot;
  while (first > text && IsDigit(first[-1])) --first;
  size_t length = 0;
  while (IsDigit(first[length]) || first[length] == '.') {
    if (++length > 15) return -1;  // longer than any dotted address
  }
  memcpy(address, first, length);
  address[length] = '\0';
  return 0;
}

extern "C" uint32_t DDNSClient_ExtractDomain(const char *name, uint32_t length, char *host,
                                             char *domain) {
  if (host != nullptr) host[0] = '\0';
  if (domain != nullptr) domain[0] = '\0';
  if (name == nullptr || name[0] == '\0' || length == 0 || host == nullptr || domain == nullptr) {
    puts("[DDNSClient_ExtractDomain] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  uint32_t dot = 0;
  while (dot < length && name[dot] != '\0' && name[dot] != '.') ++dot;
  if (dot == length || name[dot] != '.') {
    puts("[DDNSClient_ExtractDomain] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  memcpy(host, name, dot);
  host[dot] = '\0';
  uint32_t rest = 0;
  const char *after = name + dot + 1;
  while (rest < length - (dot + 1) && after[rest] != '\0') {
    domain[rest] = after[rest];
    ++rest;
  }
  domain[rest] = '\0';
  return DDNSCLIENT_OK;
}

namespace {

unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (namreg::IsControlByte(static_cast<unsigned char>(c)))
    printf("Wrong hex value = \\x%02x\n", static_cast<unsigned char>(c));
  else
    printf("Wrong hex value = %c\n", c);
  return 0;
}

}  // namespace

extern "C" int32_t DDNSClient_HexToBytes(const char *text, unsigned char *bytes) {
  if (text == nullptr || bytes == nullptr) return 0;
  int32_t count = 0;
  while (text[0] != '\0' && text[1] != '\0') {
    bytes[count++] = static_cast<unsigned char>((HexValue(text[0]) << 4) | HexValue(text[1]));
    text += 2;
  }
  return count;
}
