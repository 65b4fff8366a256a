// SPDX-License-Identifier: MIT
// Classifiers of dotted IPv4 texts: private, link-local, public.
#include <stdint.h>

#include "namreg/netutility.h"

namespace {

// The four groups of a text NetUtility_IsValidIP accepted (an empty group
// counts as 0), as one host-order value.
uint32_t DottedValue(const char *text, int length) {
  uint32_t value = 0;
  uint32_t group = 0;
  for (int i = 0; i < length; ++i) {
    if (text[i] == '.') {
      value = (value << 8) | group;
      group = 0;
    } else {
      group = group * 10 + static_cast<uint32_t>(text[i] - '0');
    }
  }
  return (value << 8) | group;
}

bool IsPrivate(uint32_t v) {
  return (v >> 24) == 10 || (v >> 20) == ((172u << 4) | 1u) || (v >> 16) == ((192u << 8) | 168u);
}

bool IsLinkLocal(uint32_t v) {
  return (v >> 16) == ((169u << 8) | 254u);
}

}  // namespace

extern "C" {

int NetUtility_IsPrivateIP(const char *text, int length) {
  if (NetUtility_IsValidIP(text, length) != 1) return 0;
  return IsPrivate(DottedValue(text, length)) ? 1 : 0;
}

int NetUtility_IsLinkLocalIP(const char *text, int length) {
  if (NetUtility_IsValidIP(text, length) != 1) return 0;
  return IsLinkLocal(DottedValue(text, length)) ? 1 : 0;
}

int NetUtility_GetIPType(const char *text, int length) {
  if (NetUtility_IsValidIP(text, length) != 1) return NETUTILITY_IP_NONE;
  const uint32_t v = DottedValue(text, length);
  if (v == 0) return NETUTILITY_IP_NONE;
  if (IsPrivate(v)) return NETUTILITY_IP_PRIVATE;
  if (IsLinkLocal(v)) return NETUTILITY_IP_LINK_LOCAL;
  return NETUTILITY_IP_PUBLIC;
}

}  // extern "C"
