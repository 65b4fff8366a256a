// SPDX-License-Identifier: MIT
// DNS message pieces shared by the stub resolver and DNS UPDATE: the size of
// the one message buffer, the label encoding of names, and the answer walk
// of the resolver (kept apart from the socket code so it can be driven with
// bare datagram bytes).
#ifndef NAMREG_NETUTILITY_DNS_WIRE_H
#define NAMREG_NETUTILITY_DNS_WIRE_H

#include <stddef.h>
#include <stdint.h>

namespace namreg {
namespace netutility {

// One buffer holds the outgoing message and, cleared, the answer.
constexpr size_t kDnsMessageSize = 524;
constexpr uint16_t kDnsPort = 53;
constexpr size_t kDnsHeaderSize = 12;
// RFC 1035 limits: 63 bytes per label, 255 bytes for the encoded name.
constexpr size_t kDnsMaxLabel = 63;
constexpr size_t kDnsMaxName = 255;

// Writes `name` as labels at `out`: for each dot-separated part a length
// byte and the part's bytes (an empty part is a single zero byte), then the
// closing zero byte.  Returns the bytes written, or 0 when a part is longer
// than 63 bytes, the whole would exceed 255 bytes, or it would not fit
// `capacity`; nothing is written at or past out[capacity].
size_t DnsEncodeName(const char *name, uint8_t *out, size_t capacity);

// Writes the standard query for the A record of `host_name` (recursion
// desired) with `id` as stored bytes into `message` (kDnsMessageSize
// bytes); returns its length, or 0 (nothing to send) when the name is not
// one DNS can carry.
size_t DnsBuildQuery(uint8_t *message, uint16_t id, const char *host_name);

// Judges the answer to a query for an A record.  `query_id` is the ID as it
// was stored in the query (compared byte for byte with the answer's first
// two bytes).  Returns 0 (with *address written only when an A record was
// found), -1, or DNS_RESULT_NAME_ERROR.  Reads nothing outside
// data[0..length).  The walk skips CNAME records and stops at the first
// record of any other type; with `walk_past` it skips every record that is
// not an A record (a DNAME, a signature) and takes the first A record.
int32_t DnsParseAnswer(const uint8_t *data, size_t length, uint16_t query_id, uint32_t *address,
                       bool walk_past = false);

inline uint16_t DnsGet16(const uint8_t *p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline void DnsPut16(uint8_t *p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value & 0xFF);
}

}  // namespace netutility
}  // namespace namreg

namespace netutility = namreg::netutility;

#endif  // NAMREG_NETUTILITY_DNS_WIRE_H
