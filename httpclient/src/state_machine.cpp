// SPDX-License-Identifier: MIT
// The state machine: twelve handlers in fHTTPClientStateMachineFunc, the
// synchronous driver with its 401/407 retries, and the finishing step.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>

#include "httpclient_internal.h"
#include "namreg/netutility.h"

namespace {

constexpr uint32_t kMaxAuthRetries = 3;  // new attempts per side after the first

bool PostBodyPending(const HTTPClientContext *ptClient) {
  return ptClient->dwMethod == HTTPCLIENT_METHOD_POST && ptClient->dwBodySent == 0;
}

// ---- State handlers ------------------------------------------------------

constexpr uint32_t kStartPauseMs = 100;  // before each connection attempt

uint32_t StateStart(HTTPClientContext *ptClient) {
  if (ptClient->dwOperation == HTTPCLIENT_OP_NONE) return HTTPCLIENT_OK;  // idle
  if (namreg::HTTPClient_InStep(ptClient)) {
    // A stepped exchange pauses across steps, never inside one.
    const uint32_t dwNow = HTTPClient_GetTickMs();
    if (ptClient->dwPausing == 0) {
      ptClient->dwPausing = 1;
      ptClient->dwPauseMark = dwNow;
    }
    if (namreg::TickElapsedMs(ptClient->dwPauseMark, dwNow) < kStartPauseMs)
      return HTTPCLIENT_I_NOT_READY;
    ptClient->dwPausing = 0;
  }
  switch (ptClient->dwOperation) {
    case HTTPCLIENT_OP_REQUEST:
      ptClient->dwState = HTTPCLIENT_STATE_CONNECT;
      ptClient->dwPhase = HTTPCLIENT_PHASE_CONNECT;
      break;
    case HTTPCLIENT_OP_SEND_QUEUED:
      ptClient->dwState = HTTPCLIENT_STATE_SEND_QUEUED;
      break;
    case HTTPCLIENT_OP_TUNNEL_OPEN:
      ptClient->dwState = HTTPCLIENT_STATE_TUNNEL_OPEN;
      break;
    case HTTPCLIENT_OP_TUNNEL_REQUEST:
      ptClient->dwState = HTTPCLIENT_STATE_TUNNEL_REQUEST;
      break;
    default:
      break;
  }
  if (!namreg::HTTPClient_InStep(ptClient)) namreg::ClockSleepMs(kStartPauseMs);
  return HTTPCLIENT_OK;
}

uint32_t StateConnect(HTTPClientContext *ptClient) {
  if (ptClient->dwOperation == HTTPCLIENT_OP_STOP) {
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    return HTTPCLIENT_OK;
  }
  if (ptClient->dwPhase == HTTPCLIENT_PHASE_CONNECT) {
    ptClient->dwPhaseMark = HTTPClient_GetTickMs();
    ptClient->dwPhase = HTTPCLIENT_PHASE_RESOLVE;
    ptClient->dwTlsStep = HTTPCLIENT_TLS_STEP_TCP;
  }
  if (ptClient->dwPhase == HTTPCLIENT_PHASE_RESOLVE) {
    // A stepped exchange resolves across steps (not ready meanwhile).
    uint32_t r = HTTPClient_Resolve(ptClient);
    if (r != HTTPCLIENT_OK) return r;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return HTTPCLIENT_E_SOCKET;
    ptClient->iSocket = fd;
    int on = 1;
    if (ioctl(fd, FIONBIO, &on) != 0) {
      HTTPClient_CloseSocket(ptClient);
      return HTTPCLIENT_E_NONBLOCKING;
    }
    if (ptClient->dwPriorityEnable == 1) {
      int priority = static_cast<int>(ptClient->dwPriority);
      (void)setsockopt(fd, SOL_SOCKET, SO_PRIORITY, &priority, sizeof(priority));
    }
    if (ptClient->dwTOSEnable == 1) {
      int tos = static_cast<int>(ptClient->dwTOS);
      (void)setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof(tos));
    }
    (void)NetUtility_SetReuseAddr(fd);
    ptClient->dwPhase = HTTPCLIENT_PHASE_DIAL;
  }
  if (ptClient->dwTlsStep == HTTPCLIENT_TLS_STEP_TCP) {
    uint32_t r = HTTPClient_Connect(ptClient);
    if (r != HTTPCLIENT_OK) return r;
    if (ptClient->dwTLSEnable == 0) {
      ptClient->dwState = HTTPCLIENT_STATE_COMPOSE;
      return HTTPCLIENT_OK;
    }
    // TCP is up: the tunnel through the proxy, then the handshake, all
    // within the connect budget.
    ptClient->dwTlsStep =
        ptClient->dwUseProxy == 1 ? HTTPCLIENT_TLS_STEP_CONNECT : HTTPCLIENT_TLS_STEP_BEGIN;
  }
  return namreg::HTTPClient_TlsConnectStep(ptClient);
}

uint32_t StateCompose(HTTPClientContext *ptClient) {
  return HTTPClient_ComposeRequest(ptClient);
}

uint32_t StateAuthorize(HTTPClientContext *ptClient) {
  uint32_t r = HTTPClient_Authorize(ptClient);
  if (r != HTTPCLIENT_OK) return r;
  ptClient->dwState = HTTPCLIENT_STATE_SEND_HEADER;
  ptClient->dwPhase = HTTPCLIENT_PHASE_SEND_HEADER;
  return HTTPCLIENT_OK;
}

void ClearForBody(HTTPClientContext *ptClient) {
  ptClient->dwRequestSent = 0;
  ptClient->dwSendLength = 0;
  ptClient->dwParsePos = 0;
  ptClient->dwBuffered = 0;
  ptClient->iContentRemaining = 0;
  ptClient->iChunkRemaining = 0;
}

uint32_t StateSendHeader(HTTPClientContext *ptClient) {
  if (ptClient->dwOperation == HTTPCLIENT_OP_STOP) {
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    return HTTPCLIENT_OK;
  }
  if (ptClient->iSocket < 0) return HTTPCLIENT_E_STATE_ARGS;
  if (ptClient->dwPhase == HTTPCLIENT_PHASE_SEND_HEADER) {
    ptClient->dwPhaseMark = HTTPClient_GetTickMs();
    ptClient->dwPhase = HTTPCLIENT_PHASE_RUNNING;
  }
  if (ptClient->dwMethod == HTTPCLIENT_METHOD_GET) {
    uint32_t dwLength = static_cast<uint32_t>(strlen(ptClient->szRequest));
    uint32_t dwSent = 0;
    uint32_t r = HTTPClient_SendOnce(ptClient, ptClient->szRequest + ptClient->dwRequestSent,
                                     dwLength - ptClient->dwRequestSent, &dwSent);
    ptClient->dwRequestSent += dwSent;
    if (r != HTTPCLIENT_OK) return r;
    if (ptClient->dwRequestSent < dwLength) return HTTPCLIENT_OK;
  }
  ptClient->dwState = HTTPCLIENT_STATE_SEND_BODY;
  ptClient->dwPhase = HTTPCLIENT_PHASE_SEND_BODY;
  ClearForBody(ptClient);
  return HTTPCLIENT_OK;
}

uint32_t StateRecvHeader(HTTPClientContext *ptClient) {
  if (ptClient->dwOperation == HTTPCLIENT_OP_STOP) {
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    return HTTPCLIENT_OK;
  }
  if (ptClient->iSocket < 0) return HTTPCLIENT_E_STATE_ARGS;
  if (ptClient->dwPhase == HTTPCLIENT_PHASE_RECV_HEADER) {
    ptClient->dwPhaseMark = HTTPClient_GetTickMs();
    ptClient->dwPhase = HTTPCLIENT_PHASE_RUNNING;
  }
  // While a POST's body is still to go and no final status came, only a
  // look: the send goes on.  Once the server has given its status, the rest
  // of its header is waited for (a look that never waits would turn the
  // loop into a spin until the receive budget ends).
  const bool bPeek = PostBodyPending(ptClient) && ptClient->dwStatusIndex < 2;
  uint32_t dwReceived = 0;
  uint32_t r =
      HTTPClient_RecvOnce(ptClient, ptClient->szHeaderBuffer + ptClient->dwBuffered,
                          HTTPCLIENT_TEXT_MAX - ptClient->dwBuffered, &dwReceived, bPeek ? 0 : 1);
  if (r == HTTPCLIENT_I_PEER_CLOSED) {
    // The socket is gone; the next step reports the unfinished header.
    return HTTPCLIENT_OK;
  }
  if ((r & 0xFF000000u) == 0x80000000u) return r;
  if (dwReceived > 0) {
    r = HTTPClient_ParseResponseHeader(ptClient, dwReceived);
    if (r != HTTPCLIENT_OK) return r;
    // An asynchronous host learns the status once the header is complete.
    if (ptClient->dwMode == HTTPCLIENT_MODE_ASYNC &&
        ptClient->dwState == HTTPCLIENT_STATE_RECV_BODY)
      return HTTPCLIENT_I_STATUS_KNOWN;
  }
  if (ptClient->dwStatusIndex == HTTPCLIENT_STATUS_200 ||
      ptClient->dwMethod == HTTPCLIENT_METHOD_GET)
    return HTTPCLIENT_OK;
  // POST without a final status: go on sending.
  if (ptClient->dwStatusIndex < 2 && ptClient->dwState == HTTPCLIENT_STATE_RECV_HEADER && bPeek)
    ptClient->dwState = HTTPCLIENT_STATE_SEND_BODY;
  return HTTPCLIENT_OK;
}

uint32_t StateSendBody(HTTPClientContext *ptClient) {
  if (ptClient->dwOperation == HTTPCLIENT_OP_STOP) {
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    return HTTPCLIENT_OK;
  }
  if (ptClient->iSocket < 0) return HTTPCLIENT_E_STATE_ARGS;
  if (ptClient->dwPhase == HTTPCLIENT_PHASE_SEND_BODY) {
    ptClient->dwPhaseMark = HTTPClient_GetTickMs();
    ptClient->dwPhase = HTTPCLIENT_PHASE_RUNNING;
  }
  if (ptClient->dwMethod == HTTPCLIENT_METHOD_GET) {
    ptClient->dwState = HTTPCLIENT_STATE_RECV_HEADER;
    ptClient->dwPhase = HTTPCLIENT_PHASE_RECV_HEADER;
    return HTTPCLIENT_OK;
  }
  if (ptClient->pSendBuffer == nullptr) return HTTPCLIENT_E_SEND_ARGS;
  if (ptClient->dwSendLength == 0) {
    if (ptClient->dwUploadMode == 1) {
      // A streamed upload goes out piece by piece.
      uint32_t r = namreg::HTTPClient_UploadFill(ptClient, 0);
      if (r != HTTPCLIENT_OK) return r;
    } else {
      // The request text and the body go out as one stream; the POST
      // channel of an RTSP-style tunnel has no body of its own.
      uint32_t dwHeader = static_cast<uint32_t>(strlen(ptClient->szRequest));
      memcpy(ptClient->pSendBuffer, ptClient->szRequest, dwHeader);
      ptClient->dwSendLength = dwHeader;
      if (ptClient->dwRtspTunnel == 0 && ptClient->pBody != nullptr) {
        memcpy(ptClient->pSendBuffer + dwHeader, ptClient->pBody, ptClient->dwBodyLength);
        ptClient->dwSendLength += ptClient->dwBodyLength;
      }
    }
    ptClient->dwRequestSent = 0;
    ptClient->dwBodySent = 0;
  }
  if (ptClient->dwRequestSent < ptClient->dwSendLength) {
    uint32_t dwSent = 0;
    uint32_t r = HTTPClient_SendOnce(ptClient, ptClient->pSendBuffer + ptClient->dwRequestSent,
                                     ptClient->dwSendLength - ptClient->dwRequestSent, &dwSent);
    ptClient->dwRequestSent += dwSent;
    if ((r & 0xFF000000u) == 0x80000000u) return r;
  }
  if (ptClient->dwRequestSent >= ptClient->dwSendLength) {
    if (ptClient->dwUploadMode == 1) namreg::HTTPClient_UploadPieceSent(ptClient);
    if (ptClient->dwUploadMode != 1 || ptClient->dwUploadPhase == 4) {
      ptClient->dwBodySent = 1;
      ptClient->dwPhase = HTTPCLIENT_PHASE_RECV_HEADER;
      // A tunnel's POST channel is up once its header (and body) went out.
      if (ptClient->dwRtspTunnel != 0 || ptClient->dwHldmTunnel != 0)
        return HTTPCLIENT_I_TUNNEL_POST_UP;
    }
  }
  // Look for an early answer before sending more.
  ptClient->dwState = HTTPCLIENT_STATE_RECV_HEADER;
  return HTTPCLIENT_OK;
}

uint32_t StateRecvBody(HTTPClientContext *ptClient) {
  if (ptClient->dwOperation == HTTPCLIENT_OP_STOP) {
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    return HTTPCLIENT_OK;
  }
  if (ptClient->dwPhase == HTTPCLIENT_PHASE_RECV_BODY) {
    ptClient->dwPhaseMark = HTTPClient_GetTickMs();
    ptClient->dwPhase = HTTPCLIENT_PHASE_RUNNING;
  }
  if (ptClient->dwContentLengthKnown == 1 && ptClient->iContentRemaining <= 0)
    return HTTPCLIENT_I_CONTENT_COMPLETE;
  if (ptClient->dwChunkLinePending != 0) {
    // The size line an earlier step began to read comes first.
    uint32_t r = HTTPClient_ReadChunkHeader(ptClient);
    if (r != HTTPCLIENT_OK) return r;
    if (ptClient->dwChunkLinePending != 0) return HTTPCLIENT_I_NOT_READY;
  }
  const bool bAsync = ptClient->dwMode != HTTPCLIENT_MODE_SYNC;
  char *pDest = nullptr;
  uint32_t dwRoom = 0;
  if (bAsync) {
    // The host lends a buffer for each piece.
    HTTPClientBuffer tDest = {nullptr, 0};
    namreg::HTTPClient_Notify(ptClient, HTTPCLIENT_EVENT_NEED_BUFFER, &tDest);
    if (ptClient->dwOperation != HTTPCLIENT_OP_REQUEST) return HTTPCLIENT_I_NOT_READY;  // aborted
    if (tDest.pBuffer == nullptr || tDest.dwSize == 0) return HTTPCLIENT_E_ASYNC_BUFFER;
    memset(tDest.pBuffer, 0, tDest.dwSize);
    pDest = tDest.pBuffer;
    dwRoom = tDest.dwSize;
  } else {
    if (ptClient->pDest == nullptr || ptClient->dwStoredLength >= ptClient->dwDestSize)
      return HTTPCLIENT_E_BUFFER_FULL;
    pDest = ptClient->pDest + ptClient->dwStoredLength;
    dwRoom = ptClient->dwDestSize - ptClient->dwStoredLength;
  }
  uint32_t dwWanted = HTTPCLIENT_BODY_PIECE;
  if (ptClient->dwContentLengthKnown == 1)
    dwWanted = static_cast<uint32_t>(ptClient->iContentRemaining);
  else if (ptClient->dwChunked == 1 && ptClient->iChunkRemaining > 0)
    dwWanted = static_cast<uint32_t>(ptClient->iChunkRemaining);
  if (dwWanted > dwRoom) dwWanted = dwRoom;

  uint32_t dwCount = 0;
  if (ptClient->dwBuffered > 0) {
    // Body bytes that came with the header.
    dwCount = dwWanted < ptClient->dwBuffered ? dwWanted : ptClient->dwBuffered;
    memcpy(pDest, ptClient->szHeaderBuffer, dwCount);
    memmove(ptClient->szHeaderBuffer, ptClient->szHeaderBuffer + dwCount,
            ptClient->dwBuffered - dwCount);
    ptClient->dwBuffered -= dwCount;
    ptClient->szHeaderBuffer[ptClient->dwBuffered] = '\0';
  } else {
    if (ptClient->iSocket < 0) return HTTPCLIENT_E_STATE_ARGS;
    uint32_t r = HTTPClient_RecvOnce(ptClient, pDest, dwWanted, &dwCount, 1);
    if (bAsync && (r & 0xFF000000u) == 0x80000000u) {
      uint32_t dwError = r;
      namreg::HTTPClient_Notify(ptClient, HTTPCLIENT_EVENT_RECV_ERROR, &dwError);
      if (ptClient->dwOperation != HTTPCLIENT_OP_REQUEST) return HTTPCLIENT_I_NOT_READY;
    }
    if (r != HTTPCLIENT_OK) return r;
  }
  ptClient->dwStoredLength += dwCount;
  if (bAsync) {
    HTTPClientBuffer tPiece = {pDest, dwCount};
    namreg::HTTPClient_Notify(ptClient, HTTPCLIENT_EVENT_BODY_DATA, &tPiece);
    if (ptClient->dwOperation != HTTPCLIENT_OP_REQUEST) return HTTPCLIENT_I_NOT_READY;
  } else if (ptClient->dwStoredLength >= ptClient->dwDestSize) {
    return HTTPCLIENT_E_BUFFER_FULL;
  }
  if (ptClient->dwContentLengthKnown == 1) {
    ptClient->iContentRemaining -= static_cast<int32_t>(dwCount);
    if (ptClient->iContentRemaining <= 0) return HTTPCLIENT_I_CONTENT_COMPLETE;
  } else if (ptClient->dwChunked == 1) {
    ptClient->iChunkRemaining -= static_cast<int32_t>(dwCount);
    if (ptClient->iChunkRemaining <= 0) {
      ptClient->iChunkRemaining = 0;
      return HTTPClient_ReadChunkHeader(ptClient);
    }
  }
  return HTTPCLIENT_OK;
}

uint32_t StateFinish(HTTPClientContext *ptClient) {
  if (ptClient->dwMode == HTTPCLIENT_MODE_SYNC) ptClient->dwOperation = HTTPCLIENT_OP_STOP;
  return HTTPClient_Finish(ptClient);
}

// ---- The synchronous driver ---------------------------------------------

void StartOver(HTTPClientContext *ptClient) {
  ptClient->dwOperation = HTTPCLIENT_OP_REQUEST;
  HTTPClient_CloseSocket(ptClient);
  HTTPClient_ClearAttempt(ptClient);
  ptClient->dwStoredLength = 0;
  ptClient->dwPhase = 0;
}

// Handles a 401 / 407: 1 when the exchange starts over with credentials.
bool RetryWithCredentials(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, bool bProxy) {
  ptClient->dwState = HTTPCLIENT_STATE_START;
  HTTPClientEndpoint &tSide = bProxy ? ptClient->tProxy : ptClient->tServer;
  (bProxy ? ptInfo->tProxy : ptInfo->tServer).dwAuthScheme = tSide.dwAuthScheme;
  uint32_t &dwRetries = bProxy ? ptClient->dwProxyRetries : ptClient->dwServerRetries;
  if ((tSide.szUser[0] == '\0' && tSide.szPassword[0] == '\0') || dwRetries >= kMaxAuthRetries) {
    HTTPClient_Finish(ptClient);
    return false;
  }
  StartOver(ptClient);
  ++dwRetries;
  return true;
}

// One handler call of a synchronous exchange and what its result means.
// False when the exchange has ended at once (failure, no retry); true
// otherwise, the caller going on while an operation is set.  *pr: the
// handler's result.
bool DriveStep(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t *pr) {
  if (ptClient->dwState >= HTTPCLIENT_STATE_COUNT) {
    *pr = HTTPCLIENT_E_STATE_RANGE;
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    HTTPClient_Finish(ptClient);
    return false;
  }
  const uint32_t r = fHTTPClientStateMachineFunc[ptClient->dwState](ptClient);
  *pr = r;
  if (r == HTTPCLIENT_OK) return true;
  if (r == HTTPCLIENT_E_HTTP_401 || r == HTTPCLIENT_E_HTTP_407)
    return RetryWithCredentials(ptClient, ptInfo, r == HTTPCLIENT_E_HTTP_407);
  if ((r & 0xFF000000u) == 0x80000000u) {
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    HTTPClient_Finish(ptClient);
    return false;
  }
  switch (r) {
    case HTTPCLIENT_I_PEER_CLOSED:
    case HTTPCLIENT_I_LAST_CHUNK:
    case HTTPCLIENT_I_CONTENT_COMPLETE:
    case HTTPCLIENT_I_TUNNEL_POST_UP:
      if (r == HTTPCLIENT_I_TUNNEL_POST_UP) {
        ptInfo->iTunnelPostSocket = ptClient->iSocket;
        ptClient->iSocket = -1;
      }
      ptClient->dwState = HTTPCLIENT_STATE_FINISH;
      HTTPClient_Finish(ptClient);
      break;
    case HTTPCLIENT_I_TUNNEL_GET_UP:
      ptInfo->iTunnelGetSocket = ptClient->iSocket;
      ptClient->iSocket = -1;
      if (ptClient->dwRtspTunnel == 0) {
        // The GET channel of a tunnel open is one exchange of its own;
        // bytes that came with its header start the tunnel's answer.
        uint32_t dwKeep = ptClient->dwBuffered;
        if (ptInfo->pRecvBuffer == nullptr) dwKeep = 0;
        if (dwKeep > ptInfo->dwRecvSize) dwKeep = ptInfo->dwRecvSize;
        if (dwKeep > 0) memcpy(ptInfo->pRecvBuffer, ptClient->szHeaderBuffer, dwKeep);
        ptClient->dwStoredLength = dwKeep;
        ptClient->dwState = HTTPCLIENT_STATE_FINISH;
        HTTPClient_Finish(ptClient);
        break;
      }
      ptClient->dwStatusIndex = 0;
      ptClient->dwMethod = HTTPCLIENT_METHOD_POST;
      ptClient->dwState = HTTPCLIENT_STATE_CONNECT;
      ptClient->dwPhase = HTTPCLIENT_PHASE_CONNECT;
      break;
    default:
      break;  // not ready, would block, ...: call again
  }
  return true;
}

// The result of an ended synchronous exchange, from its last handler
// result r.
uint32_t DriveEnd(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t r) {
  ptInfo->dwRecvSize = ptClient->dwStoredLength;
  free(ptClient->pSendBuffer);
  ptClient->pSendBuffer = nullptr;
  if (ptClient->dwStatusIndex == HTTPCLIENT_STATUS_NONE ||
      ptClient->dwStatusIndex == HTTPCLIENT_STATUS_200)
    return r == HTTPCLIENT_E_HTTP_STATUS + HTTPCLIENT_STATUS_200 ? HTTPCLIENT_OK : r;
  return HTTPCLIENT_E_HTTP_STATUS + ptClient->dwStatusIndex;
}

uint32_t Drive(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo) {
  uint32_t r = HTTPCLIENT_OK;
  while (ptClient->dwOperation != HTTPCLIENT_OP_NONE && DriveStep(ptClient, ptInfo, &r)) {
  }
  return DriveEnd(ptClient, ptInfo, r);
}

// Clears the record for the next exchange.  The large text buffers are
// only emptied (first byte zero: every use goes by their terminator or by a
// count that is cleared here), the tunnel info copy and the queued send are
// kept as they are.
void ClearExceptTexts(HTTPClientContext *ptClient) {
  struct Span {
    size_t offset, length;
    bool keep;
  };
#define NR_SPAN(field) \
  { offsetof(HTTPClientContext, field), sizeof(HTTPClientContext::field), false }
  static const Span kSpans[] = {
      NR_SPAN(szURI),
      NR_SPAN(szServerName),
      NR_SPAN(szExtraHeader),
      NR_SPAN(szReferer),
      NR_SPAN(szRequest),
      NR_SPAN(szHeaderBuffer),
      {offsetof(HTTPClientContext, tInfoCopy),
       offsetof(HTTPClientContext, szUploadPartHeader) - offsetof(HTTPClientContext, tInfoCopy),
       true},
      NR_SPAN(szUploadPartHeader),
      NR_SPAN(szUploadPrefix),
  };
#undef NR_SPAN
  static_assert(
      offsetof(HTTPClientContext, szURI) < offsetof(HTTPClientContext, szServerName) &&
          offsetof(HTTPClientContext, szServerName) < offsetof(HTTPClientContext, szExtraHeader) &&
          offsetof(HTTPClientContext, szExtraHeader) < offsetof(HTTPClientContext, szReferer) &&
          offsetof(HTTPClientContext, szReferer) < offsetof(HTTPClientContext, szRequest) &&
          offsetof(HTTPClientContext, szRequest) < offsetof(HTTPClientContext, szHeaderBuffer) &&
          offsetof(HTTPClientContext, szHeaderBuffer) < offsetof(HTTPClientContext, tInfoCopy) &&
          offsetof(HTTPClientContext, tQueued) < offsetof(HTTPClientContext, szUploadPartHeader) &&
          offsetof(HTTPClientContext, szUploadPartHeader) <
              offsetof(HTTPClientContext, szUploadPrefix),
      "spans in record order");
  char *pRecord = reinterpret_cast<char *>(ptClient);
  size_t at = 0;
  for (const Span &tSpan : kSpans) {
    memset(pRecord + at, 0, tSpan.offset - at);
    if (!tSpan.keep) pRecord[tSpan.offset] = '\0';
    at = tSpan.offset + tSpan.length;
  }
  memset(pRecord + at, 0, sizeof(HTTPClientContext) - at);
}

// Copies a text of at most dwSourceSize - 1 characters, terminated.
void CopyText(char *szDest, size_t destSize, const char *szSource, size_t sourceSize) {
  size_t n = strnlen(szSource, sourceSize - 1);
  if (n > destSize - 1) n = destSize - 1;
  memcpy(szDest, szSource, n);
  szDest[n] = '\0';
}

}  // namespace

const HTTPClientStateFunc namreg::fHTTPClientStateMachineFunc[HTTPCLIENT_STATE_COUNT] = {
    StateStart,
    StateConnect,
    StateCompose,
    StateAuthorize,
    StateSendHeader,
    StateRecvHeader,
    StateSendBody,
    StateRecvBody,
    StateFinish,
    namreg::HTTPClient_StateSendQueued,
    namreg::HTTPClient_StateTunnelOpen,
    namreg::HTTPClient_StateTunnelRequest,
};

extern "C" {

uint32_t HTTPClient_Finish(HTTPClientHandle ptClient) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptClient->dwState != HTTPCLIENT_STATE_START && ptClient->dwState != HTTPCLIENT_STATE_FINISH)
    return HTTPCLIENT_E_FINISH_STATE;
  // Tunnel sockets are handed over before an exchange finishes; whatever
  // the record still holds is its own, a name-server query too.
  HTTPClient_CloseSocket(ptClient);
  namreg::DNSQueryClose(&ptClient->tLookup);

  // What outlives the exchange: small fields are saved here; the tunnel
  // info copy and the queued send are simply not cleared.
  struct Learned {
    HTTPClientEndpoint tServer, tProxy;
    HTTPClientDigest tServerDigest, tProxyDigest;
    uint32_t dwServerNonceCount, dwProxyNonceCount, dwUseProxy;
  };
  const bool bLearned = ptClient->tServer.dwAuthScheme != HTTPCLIENT_AUTH_NONE ||
                        ptClient->tProxy.dwAuthScheme != HTTPCLIENT_AUTH_NONE;
  const Learned tLearned = {ptClient->tServer,
                            ptClient->tProxy,
                            ptClient->tServerDigest,
                            ptClient->tProxyDigest,
                            ptClient->dwServerNonceCount,
                            ptClient->dwProxyNonceCount,
                            ptClient->dwUseProxy};
  char szCookie[HTTPCLIENT_COOKIE_SIZE];
  memcpy(szCookie, ptClient->szSessionCookie, sizeof(szCookie));
  const uint32_t dwStatusIndex = ptClient->dwStatusIndex;
  const HTTPClientCallback pfnCallback = ptClient->pfnCallback;
  void *const pCallbackContext = ptClient->pCallbackContext;
  const uint32_t dwMode = ptClient->dwMode;
  const uint32_t dwStoredLength = ptClient->dwStoredLength;
  char *const pSendBuffer = ptClient->pSendBuffer;
  const int32_t iTunnelGet = ptClient->iTunnelGetSocket, iTunnelPost = ptClient->iTunnelPostSocket;
  // The TLS setting belongs to the client, not to one exchange.
  const uint32_t dwTLSEnable = ptClient->dwTLSEnable, dwTLSRefusal = ptClient->dwTLSRefusal;
  char szCAFile[HTTPCLIENT_TLS_CA_FILE_SIZE];
  memcpy(szCAFile, ptClient->szTLSCAFile, sizeof(szCAFile));

  ClearExceptTexts(ptClient);
  ptClient->iSocket = -1;
  ptClient->tLookup.fd = -1;
  ptClient->dwStatusIndex = dwStatusIndex;
  ptClient->pfnCallback = pfnCallback;
  ptClient->pCallbackContext = pCallbackContext;
  ptClient->dwMode = dwMode;
  if (dwMode == HTTPCLIENT_MODE_SYNC) ptClient->dwStoredLength = dwStoredLength;
  ptClient->pSendBuffer = pSendBuffer;
  ptClient->iTunnelGetSocket = iTunnelGet;
  ptClient->iTunnelPostSocket = iTunnelPost;
  memcpy(ptClient->szSessionCookie, szCookie, sizeof(szCookie));
  ptClient->dwTLSEnable = dwTLSEnable;
  ptClient->dwTLSRefusal = dwTLSRefusal;
  memcpy(ptClient->szTLSCAFile, szCAFile, sizeof(szCAFile));
  if (bLearned) {
    ptClient->tServer = tLearned.tServer;
    ptClient->tProxy = tLearned.tProxy;
    ptClient->tServerDigest = tLearned.tServerDigest;
    ptClient->tProxyDigest = tLearned.tProxyDigest;
    ptClient->dwServerNonceCount = tLearned.dwServerNonceCount;
    ptClient->dwProxyNonceCount = tLearned.dwProxyNonceCount;
    ptClient->dwUseProxy = tLearned.dwUseProxy;
  }
  ptClient->dwOperation = HTTPCLIENT_OP_NONE;
  ptClient->dwState = HTTPCLIENT_STATE_START;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_Run(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo, uint32_t dwMode,
                        uint32_t dwMethod) {
  uint32_t r = namreg::HTTPClient_Prepare(ptClient, ptInfo, dwMode, dwMethod);
  // Asynchronous requests are stepped by their host.
  if (r != HTTPCLIENT_OK || dwMode != HTTPCLIENT_MODE_SYNC) return r;
  return Drive(ptClient, ptInfo);
}

}  // extern "C"

uint32_t namreg::HTTPClient_Prepare(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo,
                                    uint32_t dwMode, uint32_t dwMethod) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptInfo == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  // Only a started record (HTTPClient_Start sets its operation) is run; a
  // record with no operation would otherwise end at once as a success
  // having sent nothing.
  if (ptClient->dwOperation == HTTPCLIENT_OP_NONE || ptClient->dwState != HTTPCLIENT_STATE_START)
    return HTTPCLIENT_E_STATE_ARGS;
  // Nothing is sent, nor a name looked up, for a request whose texts could
  // carry lines of their own.
  const uint32_t dwTexts = HTTPClient_CheckRequestTexts(ptInfo, false);
  if (dwTexts != HTTPCLIENT_OK) return dwTexts;
  const bool bTunnel = ptClient->dwRtspTunnel != 0 || ptClient->dwHldmTunnel != 0;
  // A client set to TLS never falls back to plain TCP.
  const uint32_t dwTls = namreg::HTTPClient_TlsRefusal(ptClient, bTunnel);
  if (dwTls != HTTPCLIENT_OK) return dwTls;
  // Time budget and destination.
  if (dwMode == HTTPCLIENT_MODE_SYNC) {
    if (ptInfo->dwTotalTimeout == 0) return HTTPCLIENT_E_TOTAL_TIMEOUT;
    ptClient->dwTotalBudget = ptInfo->dwTotalTimeout;
    if (!bTunnel) {
      if (ptInfo->pRecvBuffer == nullptr) return HTTPCLIENT_E_RECV_BUFFER;
      if (ptInfo->dwRecvSize == 0) return HTTPCLIENT_E_RECV_SIZE;
      ptClient->pDest = ptInfo->pRecvBuffer;
      ptClient->dwDestSize = ptInfo->dwRecvSize;
      ptClient->dwStoredLength = 0;
      memset(ptInfo->pRecvBuffer, 0, ptInfo->dwRecvSize);
    }
  } else {
    if (ptInfo->dwConnectTimeout == 0 || ptInfo->dwSendTimeout == 0 || ptInfo->dwRecvTimeout == 0)
      return HTTPCLIENT_E_ASYNC_TIMEOUT;
    ptClient->dwConnectBudget = ptClient->dwConnectReload = ptInfo->dwConnectTimeout;
    ptClient->dwSendHeaderBudget = ptClient->dwSendHeaderReload = ptInfo->dwSendTimeout;
    ptClient->dwSendBodyBudget = ptClient->dwSendBodyReload = ptInfo->dwSendTimeout;
    ptClient->dwRecvHeaderBudget = ptClient->dwRecvHeaderReload = ptInfo->dwRecvTimeout;
    ptClient->dwRecvBodyBudget = ptClient->dwRecvBodyReload = ptInfo->dwRecvTimeout;
    ptClient->dwSelectTimeout = 1000000u;
    ptClient->dwTotalBudget = ptInfo->dwConnectTimeout;  // bounds name resolution
  }
  // Proxy.
  if (ptInfo->dwUseProxy == 1) {
    if (ptInfo->tProxy.dwPort == 0) return HTTPCLIENT_E_PROXY_PORT;
    if (ptInfo->tProxy.dwAddress == 0xFFFFFFFFu) ptInfo->tProxy.dwAddress = 0;
    if (ptInfo->tProxy.dwAddress == 0 && ptInfo->tProxy.szHost[0] == '\0')
      return HTTPCLIENT_E_PROXY_ADDRESS;
    ptClient->dwUseProxy = 1;
    ptClient->tProxy = ptInfo->tProxy;
    ptClient->tProxy.szHost[sizeof(ptClient->tProxy.szHost) - 1] = '\0';
    ptClient->tProxy.szUser[sizeof(ptClient->tProxy.szUser) - 1] = '\0';
    ptClient->tProxy.szPassword[sizeof(ptClient->tProxy.szPassword) - 1] = '\0';
  }
  // Server.
  if (ptInfo->tServer.dwPort == 0) return HTTPCLIENT_E_SERVER_PORT;
  if (ptInfo->tServer.dwAddress == 0xFFFFFFFFu) ptInfo->tServer.dwAddress = 0;
  if (ptInfo->tServer.dwAddress == 0 && ptInfo->tServer.szHost[0] == '\0')
    return HTTPCLIENT_E_SERVER_ADDRESS;
  ptClient->tServer = ptInfo->tServer;
  ptClient->tServer.szHost[sizeof(ptClient->tServer.szHost) - 1] = '\0';
  ptClient->tServer.szUser[sizeof(ptClient->tServer.szUser) - 1] = '\0';
  ptClient->tServer.szPassword[sizeof(ptClient->tServer.szPassword) - 1] = '\0';
  // URI.
  if (ptInfo->szURI[0] == '\0') return HTTPCLIENT_E_URI;
  CopyText(ptClient->szURI, sizeof(ptClient->szURI), ptInfo->szURI, sizeof(ptInfo->szURI));
  // Header fields.
  if (ptInfo->szExtraHeader[0] != '\0') {
    CopyText(ptClient->szExtraHeader, sizeof(ptClient->szExtraHeader), ptInfo->szExtraHeader,
             sizeof(ptInfo->szExtraHeader));
  } else {
    if (ptInfo->szReferer[0] != '\0')
      CopyText(ptClient->szReferer, sizeof(ptClient->szReferer), ptInfo->szReferer,
               sizeof(ptInfo->szReferer));
    if (ptInfo->szUserAgent[0] != '\0')
      CopyText(ptClient->szUserAgent, sizeof(ptClient->szUserAgent), ptInfo->szUserAgent,
               sizeof(ptInfo->szUserAgent));
    if (ptInfo->szContentType[0] != '\0')
      CopyText(ptClient->szContentType, sizeof(ptClient->szContentType), ptInfo->szContentType,
               sizeof(ptInfo->szContentType));
  }
  // Keep-alive and nonce counts.
  ptClient->dwKeepAlive = ptInfo->dwKeepAlive;
  ptClient->dwServerNonceCount = 1;
  ptClient->dwProxyNonceCount = 1;
  // Streamed upload: a file sent as the body of a synchronous POST.
  const bool bUpload = dwMode == HTTPCLIENT_MODE_SYNC && dwMethod == HTTPCLIENT_METHOD_POST &&
                       ptInfo->szUploadPartHeader[0] != '\0' &&
                       ptInfo->szUploadTrailerFormat[0] != '\0' && ptInfo->pUploadFile != nullptr;
  ptClient->dwUploadMode = 0;
  // POST body and its send buffer, sized for this request.
  if (dwMethod == HTTPCLIENT_METHOD_POST) {
    if (!bTunnel && !bUpload && ptInfo->pBody == nullptr) return HTTPCLIENT_E_POST_BODY;
    if (ptInfo->dwBodyLength == 0) return HTTPCLIENT_E_POST_LENGTH;
    if (bUpload) {
      uint32_t r = namreg::HTTPClient_UploadPrepare(ptClient, ptInfo);
      if (r != HTTPCLIENT_OK) return r;
    }
    ptClient->pBody = bUpload ? nullptr : ptInfo->pBody;
    ptClient->dwBodyLength = ptInfo->dwBodyLength;
    size_t bufferSize = bUpload ? namreg::HTTPClient_UploadBufferSize(ptInfo->dwBodyLength)
                                : size_t{ptInfo->dwBodyLength} + HTTPCLIENT_TEXT_MAX;
    free(ptClient->pSendBuffer);
    ptClient->pSendBuffer = nullptr;
    if (bufferSize <= ptInfo->dwBodyLength) return HTTPCLIENT_E_NO_MEMORY;
    ptClient->pSendBuffer = static_cast<char *>(malloc(bufferSize));
    if (ptClient->pSendBuffer == nullptr) return HTTPCLIENT_E_NO_MEMORY;
  }
  ptClient->dwMode = dwMode;
  ptClient->dwMethod = dwMethod;
  // Response side.
  ptClient->dwServerFilter = ptInfo->dwServerFilter;
  memset(ptInfo->szResponseHeader, 0, sizeof(ptInfo->szResponseHeader));
  ptClient->pResponseHeader = ptInfo->szResponseHeader;
  ptClient->dwResponseHeaderUsed = 0;
  ptClient->dwStatusIndex = 0;
  ptClient->dwPriorityEnable = ptInfo->dwPriorityEnable;
  ptClient->dwPriority = ptInfo->dwPriority;
  ptClient->dwTOSEnable = ptInfo->dwTOSEnable;
  ptClient->dwTOS = ptInfo->dwTOS;
  ptClient->dwServerRetries = 0;
  ptClient->dwProxyRetries = 0;
  return HTTPCLIENT_OK;
}

extern "C" {

uint32_t HTTPClient_Start(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo, uint32_t dwMode,
                          uint32_t dwMethod) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptInfo == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  if (ptClient->dwState != HTTPCLIENT_STATE_START) return HTTPCLIENT_E_BUSY;
  if (ptClient->dwOperation != HTTPCLIENT_OP_NONE) return HTTPCLIENT_E_PENDING;
  ptClient->dwOperation = HTTPCLIENT_OP_REQUEST;
  uint32_t r = HTTPClient_Run(ptClient, ptInfo, dwMode, dwMethod);
  // A request refused before it ran leaves the record idle.
  if (dwMode == HTTPCLIENT_MODE_SYNC || (r & 0xFF000000u) == 0x80000000u) {
    if (ptClient->dwState == HTTPCLIENT_STATE_START &&
        ptClient->dwOperation == HTTPCLIENT_OP_REQUEST) {
      ptClient->dwOperation = HTTPCLIENT_OP_NONE;
      free(ptClient->pSendBuffer);
      ptClient->pSendBuffer = nullptr;
    }
  }
  return r;
}

uint32_t HTTPClient_Get(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptInfo == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  return HTTPClient_Start(ptClient, ptInfo, HTTPCLIENT_MODE_SYNC, HTTPCLIENT_METHOD_GET);
}

uint32_t HTTPClient_Post(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptInfo == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  return HTTPClient_Start(ptClient, ptInfo, HTTPCLIENT_MODE_SYNC, HTTPCLIENT_METHOD_POST);
}

}  // extern "C"

namespace namreg {

uint64_t HTTPClient_LeftMs(uint64_t end_ms) {
  const uint64_t now = ClockMonotonicMs();
  return now >= end_ms ? 0 : end_ms - now;
}

uint32_t HTTPClient_LeftUs(uint64_t end_ms) {
  const uint64_t left = HTTPClient_LeftMs(end_ms);
  return left >= 0xFFFFFFFFu / 1000u ? 0xFFFFFFFFu : static_cast<uint32_t>(left * 1000u);
}

uint32_t HTTPClient_InnerStart(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo,
                               uint32_t dwMethod) {
  HTTPClientStages &tStages = ptClient->tStages;
  const uint32_t dwOuterState = ptClient->dwState, dwOuterOperation = ptClient->dwOperation;
  ptInfo->dwTotalTimeout = HTTPClient_LeftUs(tStages.qwStageEndMs);
  if (ptInfo->pRecvBuffer != nullptr) ptInfo->dwRecvSize = HTTPCLIENT_SCRATCH_SIZE;
  ptClient->dwState = HTTPCLIENT_STATE_START;
  ptClient->dwOperation = HTTPCLIENT_OP_REQUEST;
  uint32_t r = HTTPClient_Prepare(ptClient, ptInfo, HTTPCLIENT_MODE_SYNC, dwMethod);
  if (r != HTTPCLIENT_OK) {
    // Refused before it ran.
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    HTTPClient_Finish(ptClient);
    free(ptClient->pSendBuffer);
    ptClient->pSendBuffer = nullptr;
  }
  tStages.dwInnerState = ptClient->dwState;
  tStages.dwInnerOperation = ptClient->dwOperation;
  ptClient->dwState = dwOuterState;
  ptClient->dwOperation = dwOuterOperation;
  ptClient->dwMode = HTTPCLIENT_MODE_ASYNC;
  ptClient->pCallerInfo = tStages.ptCaller;
  return r;
}

bool HTTPClient_InnerStep(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo,
                          uint32_t *pdwResult) {
  HTTPClientStages &tStages = ptClient->tStages;
  const uint32_t dwOuterState = ptClient->dwState, dwOuterOperation = ptClient->dwOperation;
  ptClient->dwState = tStages.dwInnerState;
  ptClient->dwOperation = tStages.dwInnerOperation;
  ptClient->dwMode = HTTPCLIENT_MODE_SYNC;
  // The exchange's budget is what is left of its stage, counted afresh at
  // each step (the host's own time between steps included).
  ptClient->dwTotalBudget = HTTPClient_LeftUs(tStages.qwStageEndMs);
  ptClient->dwPhaseMark = HTTPClient_GetTickMs();
  uint32_t r = HTTPCLIENT_OK;
  const bool bRunning =
      DriveStep(ptClient, ptInfo, &r) && ptClient->dwOperation != HTTPCLIENT_OP_NONE;
  if (!bRunning) r = DriveEnd(ptClient, ptInfo, r);
  tStages.dwInnerState = ptClient->dwState;
  tStages.dwInnerOperation = ptClient->dwOperation;
  // Between steps the host sees the operation it started.
  ptClient->dwState = dwOuterState;
  ptClient->dwOperation = dwOuterOperation;
  ptClient->dwMode = HTTPCLIENT_MODE_ASYNC;
  ptClient->pCallerInfo = tStages.ptCaller;
  *pdwResult = r;
  return !bRunning;
}

void HTTPClient_ClearAttempt(HTTPClientContext *ptClient) {
  ptClient->dwStatusIndex = 0;
  ptClient->dwPhaseMark = 0;
  memset(ptClient->szRequest, 0, sizeof(ptClient->szRequest));
  ptClient->dwRequestSent = 0;
  memset(ptClient->szHeaderBuffer, 0, sizeof(ptClient->szHeaderBuffer));
  ptClient->dwParsePos = 0;
  ptClient->dwBuffered = 0;
  ptClient->dwContentLengthKnown = 0;
  ptClient->iContentRemaining = 0;
  ptClient->dwChunked = 0;
  ptClient->iChunkRemaining = 0;
  ptClient->iSID = 0;
  ptClient->dwAudioMode = 0;
  ptClient->iPrivilege = 0;
  ptClient->szServerName[0] = '\0';
  ptClient->dwResponseKeepAlive = 0;
  ptClient->dwUploadPhase = 1;
  ptClient->dwSendLength = 0;
  ptClient->dwBodySent = 0;
  ptClient->dwChunkLinePending = 0;
}

}  // namespace namreg
