// SPDX-License-Identifier: MIT
// Digest parameter extraction.  Input: one byte of capacity (1..256), then
// the text.  The value buffer is a heap block of exactly that capacity, so
// ASan sees any write past it; the result is terminated and quote-free.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "httpclient_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const uint32_t capacity = static_cast<uint32_t>(data[0]) + 1;
  char *text = static_cast<char *>(malloc(size));
  memcpy(text, data + 1, size - 1);
  text[size - 1] = '\0';

  char *value = static_cast<char *>(malloc(capacity));
  HTTPClient_ParseParamValue(text, value, capacity);
  size_t length = strnlen(value, capacity);
  if (length >= capacity) abort();
  if (memchr(value, '"', length) || memchr(value, '\'', length)) abort();
  free(value);

  // The whole challenge, for both sides.
  HTTPClientHandle client = nullptr;
  if (HTTPClient_Initial(&client, HTTPCLIENT_VERSION) != 0) abort();
  HTTPClient_ParseDigestChallenge(client, text, capacity & 1);
  const HTTPClientDigest &d = (capacity & 1) ? client->tProxyDigest : client->tServerDigest;
  if (strnlen(d.szNonce, sizeof(d.szNonce)) >= sizeof(d.szNonce) ||
      strnlen(d.szRealm, sizeof(d.szRealm)) >= sizeof(d.szRealm) ||
      strnlen(d.szQop, sizeof(d.szQop)) >= sizeof(d.szQop))
    abort();
  HTTPClient_Release(&client);
  free(text);
  return 0;
}
