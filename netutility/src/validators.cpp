// SPDX-License-Identifier: MIT
// Text validators: dotted IPv4 addresses and bare 12-digit MAC addresses.
#include <stdio.h>
#include <stdlib.h>

#include "namreg/netutility.h"

namespace {

constexpr int kMinDotted = 7;   // "1.2.3.4"
constexpr int kMaxDotted = 15;  // "255.255.255.255"
constexpr int kMacDigits = 12;

bool InRange(const char *group) {
  return atoi(group) <= 255;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

extern "C" {

int NetUtility_IsValidIP(const char *text, int length) {
  if (text == nullptr) {
    puts("[NetUtility_IsValidIP] Invalid arguments\r");
    return 0;
  }
  if (length < kMinDotted || length > kMaxDotted) return 0;
  if (text[0] < '0' || text[0] > '9') return 0;

  char group[4] = {0, 0, 0, 0};
  int digits = 0;
  int dots = 0;
  for (int i = 0; i < length; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      if (digits == 3) return 0;
      group[digits++] = c;
    } else if (c == '.') {
      ++dots;
      if (!InRange(group)) return 0;
      group[0] = group[1] = group[2] = 0;
      digits = 0;
    } else {
      return 0;
    }
  }
  if (!InRange(group)) return 0;
  return dots == 3 ? 1 : 0;
}

int NetUtility_IsValidMACAddr(const char *text, int length) {
  if (text == nullptr) {
    puts("[NetUtility_IsValidMACAddr] Invalid arguments\r");
    return 0;
  }
  if (length != kMacDigits) {
    puts("[NetUtility_IsValidMACAddr] Invalid MAC address length\r");
    return 0;
  }
  for (int i = 0; i < kMacDigits; ++i)
    if (!IsHexDigit(text[i])) return 0;
  return 1;
}

}  // extern "C"
