// SPDX-License-Identifier: MIT
// The HLDM reply parsers (register, request key, check host name, update,
// offline) on any reply text.  Input: one byte giving the length of the host
// name that follows (at most 127), then the reply (at most the response
// buffer).  Checks: every parser returns one of its codes, a registered
// address comes only with success, and nothing is read or written outside
// the context's texts.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "ddnsclient_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  size_t host_length = data[0] & 127;
  data++;
  size--;
  if (host_length > size) host_length = size;
  const size_t reply_length = size - host_length;
  if (reply_length > DDNSCLIENT_RESPONSE_SIZE) return 0;

  DDNSClientContext *context = static_cast<DDNSClientContext *>(calloc(1, sizeof *context));
  if (context == nullptr) abort();
  memcpy(context->szHLDMHostName, data, host_length);
  memcpy(context->szResponse, data + host_length, reply_length);

  // The register parser cuts the reply in place: each parser gets it whole.
  DDNSClientContext *copy = static_cast<DDNSClientContext *>(malloc(sizeof *context));
  if (copy == nullptr) abort();
  memcpy(copy, context, sizeof *context);

  uint32_t address = 0xFFFFFFFFu;
  const uint32_t registered = DDNSClient_ProcessResponse_HLDMRegister(copy, &address);
  if (registered == DDNSCLIENT_OK) {
    if (address == 0xFFFFFFFFu) abort();
  } else if (address != 0xFFFFFFFFu) {
    abort();
  }
  memcpy(copy, context, sizeof *context);
  const uint32_t codes[] = {
      DDNSClient_ProcessResponse_HLDMRequestKey(copy),
      DDNSClient_ProcessResponse_HLDMCheckHostname(copy),
      DDNSClient_ProcessResponse_HLDMUpdate(copy),
      DDNSClient_ProcessResponse_HLDMOffline(copy),
  };
  for (uint32_t code : codes) {
    const bool known = code == DDNSCLIENT_OK || (code & 0xFFFF0000u) == 0x80020000u ||
                       (code & 0xFFFF0000u) == 0x70010000u;
    if (!known) abort();
  }
  // The other four only read.
  if (memcmp(copy, context, sizeof *context) != 0) abort();
  free(copy);
  free(context);
  return 0;
}
