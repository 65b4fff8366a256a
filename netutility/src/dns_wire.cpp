// SPDX-License-Identifier: MIT
// Label encoding of names and the resolver's answer walk.
#include "dns_wire.h"

#include <string.h>

#include "namreg/netutility.h"

namespace namreg {
namespace netutility {

namespace {

constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypeCname = 5;
// A record shorter than this (from its first byte) is not looked at.
constexpr size_t kMinRecord = 13;
// TYPE, CLASS, TTL and RDLENGTH after the owner name.
constexpr size_t kRecordFixed = 10;

// Finds the end of the owner name starting at `pos`: labels are followed by
// their length bytes up to the zero byte or a compression pointer (two bytes
// whose first has both high bits set), which ends the name.  False when the
// name runs past the data or uses the reserved 0x40 / 0x80 label types.
bool SkipOwnerName(const uint8_t *data, size_t length, size_t pos, size_t *end) {
  while (pos < length) {
    const uint8_t b = data[pos];
    if (b == 0) {
      *end = pos + 1;
      return true;
    }
    if ((b & 0xC0) == 0xC0) {
      if (length - pos < 2) return false;
      *end = pos + 2;
      return true;
    }
    if ((b & 0xC0) != 0) return false;
    pos += 1u + b;
  }
  return false;
}

}  // namespace

size_t DnsEncodeName(const char *name, uint8_t *out, size_t capacity) {
  const size_t limit = capacity < kDnsMaxName ? capacity : kDnsMaxName;
  if (limit < 2) return 0;
  size_t length_at = 0;  // the current part's length byte
  size_t n = 1;          // next byte to write
  for (const char *p = name;; ++p) {
    const char c = *p;
    if (c == '.' || c == '\0') {
      const size_t part = n - length_at - 1;
      if (part > kDnsMaxLabel) return 0;
      out[length_at] = static_cast<uint8_t>(part);
      if (c == '\0') break;
      length_at = n++;
      if (n > limit - 1) return 0;  // keep room for the closing zero
    } else {
      if (n >= limit - 1) return 0;
      out[n++] = static_cast<uint8_t>(c);
    }
  }
  out[n++] = 0;
  return n;
}

size_t DnsBuildQuery(uint8_t *message, uint16_t id, const char *host_name) {
  const size_t name_length =
      DnsEncodeName(host_name, message + kDnsHeaderSize, kDnsMessageSize - kDnsHeaderSize - 4);
  if (name_length == 0) return 0;
  memcpy(message, &id, 2);
  message[2] = 0x01;  // standard query, recursion desired
  message[3] = 0x00;
  DnsPut16(message + 4, 1);  // QDCOUNT
  DnsPut16(message + 6, 0);
  DnsPut16(message + 8, 0);
  DnsPut16(message + 10, 0);
  const size_t n = kDnsHeaderSize + name_length;
  DnsPut16(message + n, 1);      // QTYPE A
  DnsPut16(message + n + 2, 1);  // QCLASS IN
  return n + 4;
}

int32_t DnsParseAnswer(const uint8_t *data, size_t length, uint16_t query_id, uint32_t *address,
                       bool walk_past) {
  // A name error is reported whatever the rest of the header says.
  if (length >= 4 && (data[3] & 0x03) == 0x03) return DNS_RESULT_NAME_ERROR;
  if (length < kDnsHeaderSize) return -1;
  if (DnsGet16(data + 4) != 1 || memcmp(data, &query_id, 2) != 0 || DnsGet16(data + 6) == 0)
    return -1;

  // The echoed question: its name up to the zero byte, then QTYPE, QCLASS.
  size_t pos = kDnsHeaderSize;
  while (pos < length && data[pos] != 0) ++pos;
  if (pos >= length || length - pos < 5) return -1;
  if (DnsGet16(data + pos + 1) != kTypeA) return -1;

  size_t record = pos + 5;
  for (;;) {
    if (record > length || length - record < kMinRecord) return 0;
    size_t name_end;
    if (!SkipOwnerName(data, length, record, &name_end)) return 0;
    if (length - name_end < kRecordFixed) return 0;
    const uint16_t type = DnsGet16(data + name_end);
    const size_t rdlength = DnsGet16(data + name_end + 8);
    const size_t rdata = name_end + kRecordFixed;
    if (type == kTypeCname || (walk_past && type != kTypeA)) {
      record = rdata + rdlength;
      continue;
    }
    if (type != kTypeA) return 0;
    if (rdata >= length || rdlength > length - rdata || length - rdata < 4) return 0;
    memcpy(address, data + rdata, 4);
    return 0;
  }
}

}  // namespace netutility
}  // namespace namreg
