// SPDX-License-Identifier: MIT
// Socket steps: the time budget, name resolution, connect, one send and one
// receive, each bounded by one select.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "httpclient_internal.h"
#include "namreg/netutility.h"
#include "namreg/fd_util.h"

namespace {

uint32_t *CurrentBudget(HTTPClientContext *ptClient) {
  if (ptClient->dwMode == HTTPCLIENT_MODE_SYNC) return &ptClient->dwTotalBudget;
  switch (ptClient->dwState) {
    case HTTPCLIENT_STATE_CONNECT:
      return &ptClient->dwConnectBudget;
    case HTTPCLIENT_STATE_SEND_HEADER:
      return &ptClient->dwSendHeaderBudget;
    case HTTPCLIENT_STATE_RECV_HEADER:
      return &ptClient->dwRecvHeaderBudget;
    case HTTPCLIENT_STATE_SEND_BODY:
      return &ptClient->dwSendBodyBudget;
    case HTTPCLIENT_STATE_RECV_BODY:
      return &ptClient->dwRecvBodyBudget;
    default:
      return &ptClient->dwTotalBudget;
  }
}

struct timeval WaitTime(const HTTPClientContext *ptClient, uint32_t dwWait) {
  struct timeval tv = {0, 0};
  if (dwWait == 0) return tv;
  uint32_t us = ptClient->dwMode == HTTPCLIENT_MODE_SYNC ? ptClient->dwTotalBudget
                                                         : ptClient->dwSelectTimeout;
  tv.tv_sec = static_cast<time_t>(us / 1000000u);
  tv.tv_usec = static_cast<suseconds_t>(us % 1000000u);
  return tv;
}

uint32_t TimeoutCode(uint32_t dwState) {
  switch (dwState) {
    case HTTPCLIENT_STATE_CONNECT:
      return HTTPCLIENT_E_CONNECT_TIMEOUT;
    case HTTPCLIENT_STATE_SEND_HEADER:
    case HTTPCLIENT_STATE_SEND_BODY:
      return HTTPCLIENT_E_SEND_TIMEOUT;
    default:
      return HTTPCLIENT_E_RECV_TIMEOUT;
  }
}

// Resolves one side's name into *pdwAddress (left alone for a dotted text).
// Each name-server query gets min(seconds left, 3), the time left counted
// afresh before each one, so that silent name servers end with the budget.
uint32_t ResolveHost(HTTPClientContext *ptClient, const char *szHost, uint32_t *pdwAddress) {
  struct in_addr tAddr;
  if (inet_pton(AF_INET, szHost, &tAddr) == 1) {
    *pdwAddress = tAddr.s_addr;
    return HTTPCLIENT_OK;
  }
  uint32_t dwServers[2] = {0, 0};
  if (NetUtility_GetDNSIP(&dwServers[0], &dwServers[1]) != 0) return HTTPCLIENT_E_RESOLVE;
  for (uint32_t dwServer : dwServers) {
    if (dwServer == 0) continue;
    if (HTTPClient_CheckTimeout(ptClient) != HTTPCLIENT_OK) return HTTPCLIENT_E_CONNECT_TIMEOUT;
    uint32_t dwSeconds = *CurrentBudget(ptClient) / 1000000u;
    if (dwSeconds < 1) return HTTPCLIENT_E_RESOLVE;
    if (dwSeconds > 3) dwSeconds = 3;
    uint32_t dwAddress = 0;
    NetUtility_DNSResolve(dwServer, szHost, dwSeconds, &dwAddress);
    if (dwAddress != 0) {
      *pdwAddress = dwAddress;
      return HTTPCLIENT_OK;
    }
  }
  return HTTPCLIENT_E_RESOLVE;
}

}  // namespace

namespace namreg {

void HTTPClient_CloseSocket(HTTPClientContext *ptClient) {
  if (ptClient->iSocket >= 0) close(ptClient->iSocket);
  ptClient->iSocket = -1;
}

uint32_t HTTPClient_CheckTimeout(HTTPClientContext *ptClient) {
  uint32_t *pdwBudget = CurrentBudget(ptClient);
  uint32_t dwNow = HTTPClient_GetTickMs();
  uint32_t dwElapsed = namreg::TickElapsedMs(ptClient->dwPhaseMark, dwNow);
  if (dwElapsed >= *pdwBudget / 1000u) {
    *pdwBudget = 0;
    HTTPClient_CloseSocket(ptClient);
    return TimeoutCode(ptClient->dwState);
  }
  *pdwBudget -= 1000u * dwElapsed;
  ptClient->dwPhaseMark = dwNow;
  if (ptClient->dwMode == HTTPCLIENT_MODE_ASYNC && *pdwBudget < ptClient->dwSelectTimeout)
    ptClient->dwSelectTimeout = *pdwBudget;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_Resolve(HTTPClientContext *ptClient) {
  if (HTTPClient_CheckTimeout(ptClient) != HTTPCLIENT_OK) return HTTPCLIENT_E_CONNECT_TIMEOUT;
  uint32_t r = HTTPCLIENT_OK;
  if (ptClient->dwUseProxy == 1 && ptClient->tProxy.szHost[0] != '\0' &&
      ptClient->tProxy.dwAddress == 0)
    r = ResolveHost(ptClient, ptClient->tProxy.szHost, &ptClient->tProxy.dwAddress);
  if (r == HTTPCLIENT_OK && ptClient->tServer.szHost[0] != '\0' && ptClient->tServer.dwAddress == 0)
    r = ResolveHost(ptClient, ptClient->tServer.szHost, &ptClient->tServer.dwAddress);
  if (r != HTTPCLIENT_OK) return r;
  if (HTTPClient_CheckTimeout(ptClient) != HTTPCLIENT_OK) return HTTPCLIENT_E_CONNECT_TIMEOUT;
  return HTTPCLIENT_OK;
}

// One bounded wait for writability, with the time budget checked before and
// after it.  HTTPCLIENT_OK with *ready set (0: not yet), or the failure.
namespace {

uint32_t WaitWritableWithinBudget(HTTPClientContext *ptClient, int *ready) {
  uint32_t r = HTTPClient_CheckTimeout(ptClient);
  if (r != HTTPCLIENT_OK) return r;
  *ready = fdutil::WaitOne(ptClient->iSocket, true, WaitTime(ptClient, 1));
  if (*ready < 0) {
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_E_SELECT;
  }
  return HTTPClient_CheckTimeout(ptClient);
}

}  // namespace

uint32_t HTTPClient_Connect(HTTPClientContext *ptClient) {
  if (ptClient->iSocket < 0) return HTTPCLIENT_E_STATE_ARGS;
  if (ptClient->dwPhase == HTTPCLIENT_PHASE_CONNECT) {
    const HTTPClientEndpoint &tPeer =
        ptClient->dwUseProxy == 1 ? ptClient->tProxy : ptClient->tServer;
    struct sockaddr_in tSin = {};
    tSin.sin_family = AF_INET;
    tSin.sin_port = htons(static_cast<uint16_t>(tPeer.dwPort));
    tSin.sin_addr.s_addr = tPeer.dwAddress;
    ptClient->dwPhase = HTTPCLIENT_PHASE_RUNNING;
    // Non-blocking: EINPROGRESS is the usual answer; select tells the rest.
    (void)connect(ptClient->iSocket, reinterpret_cast<const struct sockaddr *>(&tSin),
                  sizeof(tSin));
  }
  int ready = 0;
  uint32_t r = WaitWritableWithinBudget(ptClient, &ready);
  if (r != HTTPCLIENT_OK) return r;
  return ready == 0 ? HTTPCLIENT_I_NOT_READY : HTTPCLIENT_OK;
}

uint32_t HTTPClient_SendOnce(HTTPClientContext *ptClient, const char *pData, uint32_t dwLength,
                             uint32_t *pdwSent) {
  *pdwSent = 0;
  if (pData == nullptr || dwLength == 0) return HTTPCLIENT_E_SEND_ARGS;
  if (ptClient->iSocket < 0) return HTTPCLIENT_E_STATE_ARGS;
  int ready = 0;
  uint32_t r = WaitWritableWithinBudget(ptClient, &ready);
  if (r != HTTPCLIENT_OK) return r;
  if (ready == 0) return HTTPCLIENT_I_NOT_READY;
  ssize_t n = send(ptClient->iSocket, pData, dwLength, MSG_NOSIGNAL);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return HTTPCLIENT_I_WOULD_BLOCK;
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_E_SEND;
  }
  *pdwSent = static_cast<uint32_t>(n);
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_RecvOnce(HTTPClientContext *ptClient, char *pDest, uint32_t dwWanted,
                             uint32_t *pdwReceived, uint32_t dwWait) {
  *pdwReceived = 0;
  if (ptClient->iSocket < 0) return HTTPCLIENT_E_STATE_ARGS;
  if (pDest == nullptr) return HTTPCLIENT_E_RECV_ARGS;
  if (dwWanted == 0) {
    // Nothing fits any more: taken as the end of the connection.
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_I_PEER_CLOSED;
  }
  uint32_t r = HTTPClient_CheckTimeout(ptClient);
  if (r != HTTPCLIENT_OK) return r;
  int ready = fdutil::WaitOne(ptClient->iSocket, false, WaitTime(ptClient, dwWait));
  if (ready < 0) {
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_E_SELECT;
  }
  if (dwWait != 0) {
    r = HTTPClient_CheckTimeout(ptClient);
    if (r != HTTPCLIENT_OK) return r;
  }
  if (ready == 0) return HTTPCLIENT_I_NOT_READY;
  ssize_t n = recv(ptClient->iSocket, pDest, dwWanted, MSG_NOSIGNAL);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return HTTPCLIENT_I_WOULD_BLOCK;
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_E_RECV;
  }
  if (n == 0) {
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_I_PEER_CLOSED;
  }
  *pdwReceived = static_cast<uint32_t>(n);
  return HTTPCLIENT_OK;
}

}  // namespace namreg
