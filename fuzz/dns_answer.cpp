// SPDX-License-Identifier: MIT
// The resolver's answer walk on arbitrary datagrams, and the label encoder
// on arbitrary names.  Input: two bytes of query ID (as the query stored
// them), then the datagram.  The datagram sits in a heap block of exactly
// its size, so ASan sees any read past the received bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "dns_wire.h"
#include "namreg/netutility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > 4096) return 0;
  uint16_t id;
  memcpy(&id, data, 2);
  const size_t length = size - 2;
  uint8_t *datagram = static_cast<uint8_t *>(malloc(length ? length : 1));
  if (length) memcpy(datagram, data + 2, length);

  const uint32_t unset = 0xA5A5A5A5u;
  uint32_t address = unset;
  const int32_t result = netutility::DnsParseAnswer(datagram, length, id, &address);
  if (result != 0 && result != -1 && result != DNS_RESULT_NAME_ERROR) abort();
  if (result != 0 && address != unset) abort();
  free(datagram);

  // The same bytes as a host name, encoded into a block of a capacity taken
  // from the ID bytes: exactly that block may be written, and what comes out
  // must be a name DNS can carry.
  char *name = static_cast<char *>(malloc(length + 1));
  if (length) memcpy(name, data + 2, length);
  name[length] = '\0';
  const size_t capacity = id % 300u;
  uint8_t *out = static_cast<uint8_t *>(malloc(capacity ? capacity : 1));
  const size_t encoded = netutility::DnsEncodeName(name, out, capacity);
  if (encoded != 0) {
    if (encoded > netutility::kDnsMaxName || encoded > capacity) abort();
    size_t pos = 0;
    while (pos + 1 < encoded) {
      if (out[pos] > netutility::kDnsMaxLabel) abort();
      pos += 1u + out[pos];
    }
    if (pos != encoded - 1 || out[pos] != 0) abort();
  } else if (capacity >= 256 && length <= 62 && memchr(name, '\0', length) == nullptr) {
    abort();  // a short single-label name always fits
  }
  free(out);
  free(name);
  return 0;
}
