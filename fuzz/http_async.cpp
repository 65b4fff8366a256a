// SPDX-License-Identifier: MIT
// An asynchronous exchange stepped with HTTPClient_Process while the peer
// end of a socket pair plays arbitrary server bytes, then closes.
// Input: a mode byte (0 asynchronous GET, 1 RTSP-style tunnel GET, 2 the
// tunnel answer alone), a byte that sets the host's buffer size for event 1
// (1..256), then the server's bytes.  Checks: body events stay within the
// buffer lent, the exchange ends within a bounded number of steps, the
// record is idle and releasable afterwards, and (with the sanitizers) no
// descriptor or heap block is lost.
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "httpclient_internal.h"

namespace {

struct Host {
  char acBuffer[256];
  uint32_t dwSize;
  bool bEnded;
};

uint32_t Callback(void *pContext, uint32_t dwEvent, void *pData, HTTPClientHandle hClient) {
  Host *ptHost = static_cast<Host *>(pContext);
  switch (dwEvent) {
    case HTTPCLIENT_EVENT_NEED_BUFFER: {
      HTTPClientBuffer *ptBuffer = static_cast<HTTPClientBuffer *>(pData);
      ptBuffer->pBuffer = ptHost->acBuffer;
      ptBuffer->dwSize = ptHost->dwSize;
      break;
    }
    case HTTPCLIENT_EVENT_BODY_DATA: {
      const HTTPClientBuffer *ptBuffer = static_cast<const HTTPClientBuffer *>(pData);
      if (ptBuffer->pBuffer != ptHost->acBuffer || ptBuffer->dwSize > ptHost->dwSize) abort();
      break;
    }
    case HTTPCLIENT_EVENT_TUNNEL_GET_UP:
      // The GET channel is the host's now; the POST channel would connect
      // to a real server, so the host stops here.
      close(*static_cast<int32_t *>(pData));
      HTTPClient_Abort(hClient);
      ptHost->bEnded = true;
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > 16384) return 0;
  const uint8_t mode = data[0] % 3;
  Host tHost = {};
  tHost.dwSize = static_cast<uint32_t>(data[1]) + 1;
  data += 2;
  size -= 2;

  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 0;
  if (size > 0 && send(sv[1], data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) abort();
  shutdown(sv[1], SHUT_WR);
  fcntl(sv[0], F_SETFL, fcntl(sv[0], F_GETFL) | O_NONBLOCK);

  if (mode == 2) {
    char acAnswer[20];
    uint32_t r = namreg::HTTPClient_ReceiveAnswer(sv[0], acAnswer, sizeof(acAnswer), 50);
    if (r == HTTPCLIENT_OK) (void)namreg::HTTPClient_JudgeAnswer(acAnswer, sizeof(acAnswer));
    close(sv[0]);
    close(sv[1]);
    return 0;
  }

  HTTPClientHandle hClient = nullptr;
  if (HTTPClient_Initial(&hClient, HTTPCLIENT_VERSION) != 0) abort();
  HTTPClient_SetCallback(hClient, Callback, &tHost);
  HTTPClientInfo *ptInfo = static_cast<HTTPClientInfo *>(calloc(1, sizeof(HTTPClientInfo)));
  strcpy(ptInfo->tServer.szHost, "127.0.0.1");
  ptInfo->tServer.dwPort = 1;
  strcpy(ptInfo->tServer.szUser, "user");  // a 401 retries, on a refused port
  strcpy(ptInfo->szURI, "/fuzz");
  ptInfo->dwConnectTimeout = ptInfo->dwSendTimeout = ptInfo->dwRecvTimeout = 200000;
  uint32_t r =
      mode == 0 ? HTTPClient_AsyncGet(hClient, ptInfo) : HTTPClient_AsyncTunnelGet(hClient, ptInfo);
  if (r != 0) abort();
  // The connection is the socket pair: stepping starts at composing.
  hClient->iSocket = sv[0];
  hClient->dwState = HTTPCLIENT_STATE_COMPOSE;

  for (int step = 0; step < 4000 && !tHost.bEnded; ++step) {
    if (hClient->dwOperation == HTTPCLIENT_OP_NONE) break;
    HTTPClient_Process(hClient);
  }
  // The peer's bytes end with a close, so every exchange ends.
  if (hClient->dwOperation != HTTPCLIENT_OP_NONE && !tHost.bEnded) abort();
  if (hClient->iSocket != -1 || hClient->pSendBuffer != nullptr) abort();
  if (HTTPClient_Release(&hClient) != 0) abort();
  free(ptInfo);
  close(sv[1]);
  return 0;
}
