// SPDX-License-Identifier: MIT
// The response-header parser on a client record waiting for a header.
// Input: one byte that sets the size of each receive (1..64), then the
// bytes the peer sends.  No socket is open, so a chunked body ends where the
// received bytes end.  Checks: the header buffer and the caller's header
// text stay within their 1280 characters, and the text holds whole lines.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "httpclient_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 8192) return 0;
  const size_t piece = (data[0] & 63) + 1;
  data++;
  size--;

  HTTPClientHandle client = nullptr;
  if (HTTPClient_Initial(&client, HTTPCLIENT_VERSION) != 0) abort();
  HTTPClientInfo *info = static_cast<HTTPClientInfo *>(calloc(1, sizeof(HTTPClientInfo)));
  client->pResponseHeader = info->szResponseHeader;
  client->dwState = HTTPCLIENT_STATE_RECV_HEADER;
  client->dwMethod = (piece & 1) ? HTTPCLIENT_METHOD_GET : HTTPCLIENT_METHOD_POST;
  client->dwServerFilterRequested = client->dwServerFilter = (piece & 2) ? 1 : 0;

  size_t at = 0;
  uint32_t result = 0;
  while (at < size && result == 0 && client->dwState == HTTPCLIENT_STATE_RECV_HEADER) {
    uint32_t room = HTTPCLIENT_TEXT_MAX - client->dwBuffered;
    if (room == 0) break;
    size_t n = size - at < piece ? size - at : piece;
    if (n > room) n = room;
    memcpy(client->szHeaderBuffer + client->dwBuffered, data + at, n);
    at += n;
    result = HTTPClient_ParseResponseHeader(client, static_cast<uint32_t>(n));
    if (client->dwBuffered > HTTPCLIENT_TEXT_MAX || client->dwParsePos > client->dwBuffered)
      abort();
  }
  size_t text = strnlen(info->szResponseHeader, sizeof(info->szResponseHeader));
  if (text > HTTPCLIENT_TEXT_MAX) abort();
  if (text > 0 && (text < 2 || memcmp(info->szResponseHeader + text - 2, "\r\n", 2) != 0)) abort();
  if (client->dwStatusIndex > HTTPCLIENT_STATUS_MAX) abort();
  if (strnlen(client->szServerName, sizeof(client->szServerName)) >= sizeof(client->szServerName))
    abort();

  client->dwState = HTTPCLIENT_STATE_START;
  HTTPClient_Release(&client);
  free(info);
  return 0;
}
