// SPDX-License-Identifier: MIT
// The chunk-size reader and the chunked body walk over bytes already
// received (no socket: the body ends where the bytes end).  Input: the body
// after the header.  Checks: sizes are never negative, the buffer count
// stays within the buffer, and the walk ends.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "httpclient_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > HTTPCLIENT_TEXT_MAX) return 0;
  // The size line parser alone, on a block of exactly the input's size.
  char *text = static_cast<char *>(malloc(size ? size : 1));
  if (size) memcpy(text, data, size);
  (void)HTTPClient_ParseChunkSize(text, static_cast<uint32_t>(size));
  free(text);

  HTTPClientHandle client = nullptr;
  if (HTTPClient_Initial(&client, HTTPCLIENT_VERSION) != 0) abort();
  memcpy(client->szHeaderBuffer, data, size);
  client->dwBuffered = static_cast<uint32_t>(size);
  client->dwChunked = 1;
  uint32_t result = HTTPClient_ReadChunkHeader(client);
  for (int rounds = 0; result == 0; ++rounds) {
    if (rounds > 2000 || client->iChunkRemaining <= 0) abort();
    if (client->dwBuffered > HTTPCLIENT_TEXT_MAX) abort();
    // Take the chunk's bytes as the body step does.
    uint32_t take = client->dwBuffered < static_cast<uint32_t>(client->iChunkRemaining)
                        ? client->dwBuffered
                        : static_cast<uint32_t>(client->iChunkRemaining);
    if (take == 0) break;  // more would have to come from the peer
    memmove(client->szHeaderBuffer, client->szHeaderBuffer + take, client->dwBuffered - take);
    client->dwBuffered -= take;
    client->iChunkRemaining -= static_cast<int32_t>(take);
    if (client->iChunkRemaining > 0) break;
    result = HTTPClient_ReadChunkHeader(client);
  }
  HTTPClient_Release(&client);
  return 0;
}
