// SPDX-License-Identifier: MIT
// Reception of a GET response driven through the state table over a socket
// pair: the peer's bytes are all written and its side shut, then the
// receive-header and receive-body handlers run as the synchronous driver
// runs them.  Input: one byte choosing the framing (0: the input is the
// whole response, 1: a Content-Length header is put in front with a length
// from the next two bytes, 2: a chunked header, 3: no length, the body ends
// with the close) and the body buffer's size (1..4096), then the bytes.
// Checks: the body never passes the caller's buffer, the stored length
// stays below its size, the header texts stay bounded, and the exchange
// ends within a bounded number of steps.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "httpclient_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3 || size > 32768) return 0;
  const unsigned framing = data[0] & 3;
  const uint32_t dest_size = ((static_cast<uint32_t>(data[0] >> 2) << 6) | (data[1] & 63)) + 1;
  const unsigned announced = data[2] | (static_cast<unsigned>(data[1] >> 6) << 8);
  data += 3;
  size -= 3;

  std::string response;
  switch (framing) {
    case 1:
      response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(announced) + "\r\n\r\n";
      break;
    case 2:
      response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
      break;
    case 3:
      response = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
      break;
    default:
      break;
  }
  response.append(reinterpret_cast<const char *>(data), size);

  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) abort();
  int buffer_size = 1 << 18;
  setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &buffer_size, sizeof buffer_size);
  setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof buffer_size);
  if (write(pair[0], response.data(), response.size()) != static_cast<ssize_t>(response.size()))
    abort();
  shutdown(pair[0], SHUT_WR);
  fcntl(pair[1], F_SETFL, fcntl(pair[1], F_GETFL) | O_NONBLOCK);

  HTTPClientHandle client = nullptr;
  if (HTTPClient_Initial(&client, HTTPCLIENT_VERSION) != 0) abort();
  HTTPClientInfo *info = static_cast<HTTPClientInfo *>(calloc(1, sizeof(HTTPClientInfo)));
  char *dest = static_cast<char *>(calloc(1, dest_size));
  if (info == nullptr || dest == nullptr) abort();
  client->iSocket = pair[1];
  client->dwMode = HTTPCLIENT_MODE_SYNC;
  client->dwMethod = HTTPCLIENT_METHOD_GET;
  client->dwOperation = HTTPCLIENT_OP_REQUEST;
  client->dwState = HTTPCLIENT_STATE_RECV_HEADER;
  client->dwPhase = HTTPCLIENT_PHASE_RECV_HEADER;
  client->dwTotalBudget = 2000000u;
  client->pDest = dest;
  client->dwDestSize = dest_size;
  client->pResponseHeader = info->szResponseHeader;

  for (int step = 0;; ++step) {
    if (step > 100000) abort();  // every byte is there: the exchange must end
    const uint32_t state = client->dwState;
    if (state != HTTPCLIENT_STATE_RECV_HEADER && state != HTTPCLIENT_STATE_RECV_BODY) break;
    const uint32_t r = fHTTPClientStateMachineFunc[state](client);
    if (client->dwStoredLength >= dest_size && r != HTTPCLIENT_E_BUFFER_FULL) abort();
    if (client->dwBuffered > HTTPCLIENT_TEXT_MAX || client->dwParsePos > client->dwBuffered)
      abort();
    if ((r & 0xFF000000u) == 0x80000000u || r == HTTPCLIENT_I_PEER_CLOSED ||
        r == HTTPCLIENT_I_LAST_CHUNK || r == HTTPCLIENT_I_CONTENT_COMPLETE)
      break;
    if (state == HTTPCLIENT_STATE_RECV_HEADER && client->dwState == HTTPCLIENT_STATE_RECV_HEADER &&
        client->iSocket < 0)
      break;  // closed before the header was complete
  }
  if (client->dwStoredLength > dest_size) abort();
  if (strnlen(info->szResponseHeader, sizeof info->szResponseHeader) > HTTPCLIENT_TEXT_MAX) abort();

  HTTPClient_CloseSocket(client);
  client->dwState = HTTPCLIENT_STATE_START;
  HTTPClient_Release(&client);
  close(pair[0]);
  free(info);
  free(dest);
  return 0;
}
