// SPDX-License-Identifier: MIT
// Socket steps: the time budget, name resolution, connect, one send and one
// receive, each bounded by one select.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include "httpclient_internal.h"
#include "namreg/fd_util.h"
#include "namreg/netutility.h"
#include "tls.h"

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
  uint64_t us = ptClient->dwMode == HTTPCLIENT_MODE_SYNC ? ptClient->dwTotalBudget
                                                         : ptClient->dwSelectTimeout;
  // Inside an HTTPClient_Process call, no later than the call's slice.
  if (namreg::HTTPClient_InStep(ptClient)) {
    const uint64_t left_us = namreg::HTTPClient_StepWaitMs(ptClient, us / 1000u + 1u) * 1000u;
    if (left_us < us) us = left_us;
  }
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

// The stepped form of ResolveHost, for exchanges stepped by
// HTTPClient_Process: the same name servers in the same order, each query
// given min(seconds left, 3), but a query is sent in one step and its
// answer awaited a slice at a time (HTTPCLIENT_I_NOT_READY meanwhile).
uint32_t ResolveHostStepped(HTTPClientContext *ptClient, const char *szHost, uint32_t *pdwAddress) {
  struct in_addr tAddr;
  if (inet_pton(AF_INET, szHost, &tAddr) == 1) {
    *pdwAddress = tAddr.s_addr;
    return HTTPCLIENT_OK;
  }
  if (ptClient->dwLookupRead == 0) {
    if (NetUtility_GetDNSIP(&ptClient->adwLookupServers[0], &ptClient->adwLookupServers[1]) != 0)
      return HTTPCLIENT_E_RESOLVE;
    ptClient->dwLookupRead = 1;
    ptClient->dwLookupIndex = 0;
  }
  // Each round asks the next name server or goes on waiting for the one
  // asked; every round either returns or moves to the next server.
  for (;;) {
    if (ptClient->tLookup.fd < 0) {
      uint32_t &i = ptClient->dwLookupIndex;
      while (i < 2 && ptClient->adwLookupServers[i] == 0) ++i;
      if (i >= 2) return HTTPCLIENT_E_RESOLVE;
      if (HTTPClient_CheckTimeout(ptClient) != HTTPCLIENT_OK) return HTTPCLIENT_E_CONNECT_TIMEOUT;
      uint32_t dwSeconds = *CurrentBudget(ptClient) / 1000000u;
      if (dwSeconds < 1) return HTTPCLIENT_E_RESOLVE;
      if (dwSeconds > 3) dwSeconds = 3;
      if (namreg::DNSQueryStart(&ptClient->tLookup, ptClient->adwLookupServers[i], szHost) != 0) {
        ++i;
        continue;
      }
      ptClient->qwLookupEndMs = namreg::ClockMonotonicMs() + uint64_t{dwSeconds} * 1000u;
    }
    const uint64_t wait =
        namreg::HTTPClient_StepWaitMs(ptClient, namreg::HTTPClient_LeftMs(ptClient->qwLookupEndMs));
    uint32_t dwAddress = 0;
    const int32_t result =
        namreg::DNSQueryCollect(&ptClient->tLookup, namreg::Deadline::AfterMs(wait), &dwAddress);
    if (result == namreg::kDNSQueryPending) {
      if (namreg::HTTPClient_LeftMs(ptClient->qwLookupEndMs) > 0) return HTTPCLIENT_I_NOT_READY;
      namreg::DNSQueryClose(&ptClient->tLookup);  // this server had its time
    } else if (dwAddress != 0) {
      *pdwAddress = dwAddress;
      ptClient->dwLookupRead = 0;  // the next name is looked up afresh
      return HTTPCLIENT_OK;
    }
    ++ptClient->dwLookupIndex;
  }
}

// One receive over TLS once the socket was readable: one record's worth of
// the application's bytes.  A record that is not whole yet is waited for
// (within the budget and the step's slice, without waiting when the caller
// only looks), so that, as over TCP, a readable socket yields bytes.
uint32_t RecvTls(HTTPClientContext *ptClient, char *pDest, uint32_t dwWanted, uint32_t *pdwReceived,
                 uint32_t dwWait) {
  namreg::TlsSession *ptTls = ptClient->ptTls;
  for (;;) {
    size_t received = 0;
    const namreg::TlsStatus status = ptTls->Recv(pDest, dwWanted, &received);
    if (status == namreg::TlsStatus::kDone) {
      *pdwReceived = static_cast<uint32_t>(received);
      return HTTPCLIENT_OK;
    }
    if (status == namreg::TlsStatus::kClosed) {
      HTTPClient_CloseSocket(ptClient);
      return HTTPCLIENT_I_PEER_CLOSED;
    }
    if (status == namreg::TlsStatus::kFailed) {
      const uint32_t r = ptTls->Error();
      HTTPClient_CloseSocket(ptClient);
      return r;
    }
    if (dwWait == 0) return HTTPCLIENT_I_WOULD_BLOCK;
    int ready = 0;
    const uint32_t r = namreg::HTTPClient_WaitWithinBudget(
        ptClient, status == namreg::TlsStatus::kWantWrite, &ready);
    if (r != HTTPCLIENT_OK) return r;
    if (ready == 0) return HTTPCLIENT_I_NOT_READY;
  }
}

}  // namespace

namespace namreg {

bool HTTPClient_InStep(const HTTPClientContext *ptClient) {
  return ptClient->qwStepEndMs != 0;
}

uint64_t HTTPClient_StepWaitMs(const HTTPClientContext *ptClient, uint64_t limit_ms) {
  if (!HTTPClient_InStep(ptClient)) return limit_ms;
  const uint64_t left = HTTPClient_LeftMs(ptClient->qwStepEndMs);
  return left < limit_ms ? left : limit_ms;
}

void HTTPClient_CloseSocket(HTTPClientContext *ptClient) {
  // The session's close_notify goes out on its own socket, before that
  // descriptor can be closed and reused.
  if (ptClient->ptTls != nullptr) {
    ptClient->ptTls->Close();
    ptClient->ptTls->~TlsSession();
    free(ptClient->ptTls);
    ptClient->ptTls = nullptr;
  }
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
  uint32_t (*const pfnResolve)(HTTPClientContext *, const char *, uint32_t *) =
      HTTPClient_InStep(ptClient) ? ResolveHostStepped : ResolveHost;
  uint32_t r = HTTPCLIENT_OK;
  if (ptClient->dwUseProxy == 1 && ptClient->tProxy.szHost[0] != '\0' &&
      ptClient->tProxy.dwAddress == 0)
    r = pfnResolve(ptClient, ptClient->tProxy.szHost, &ptClient->tProxy.dwAddress);
  if (r == HTTPCLIENT_OK && ptClient->tServer.szHost[0] != '\0' && ptClient->tServer.dwAddress == 0)
    r = pfnResolve(ptClient, ptClient->tServer.szHost, &ptClient->tServer.dwAddress);
  if (r != HTTPCLIENT_OK) return r;
  if (HTTPClient_CheckTimeout(ptClient) != HTTPCLIENT_OK) return HTTPCLIENT_E_CONNECT_TIMEOUT;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_WaitWithinBudget(HTTPClientContext *ptClient, bool bWrite, int *pReady) {
  *pReady = 0;
  uint32_t r = HTTPClient_CheckTimeout(ptClient);
  if (r != HTTPCLIENT_OK) return r;
  *pReady = fdutil::WaitOne(ptClient->iSocket, bWrite, WaitTime(ptClient, 1));
  if (*pReady < 0) {
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_E_SELECT;
  }
  return HTTPClient_CheckTimeout(ptClient);
}

uint32_t HTTPClient_Connect(HTTPClientContext *ptClient) {
  if (ptClient->iSocket < 0) return HTTPCLIENT_E_STATE_ARGS;
  if (ptClient->dwPhase == HTTPCLIENT_PHASE_DIAL) {
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
  uint32_t r = HTTPClient_WaitWithinBudget(ptClient, true, &ready);
  if (r != HTTPCLIENT_OK) return r;
  return ready == 0 ? HTTPCLIENT_I_NOT_READY : HTTPCLIENT_OK;
}

uint32_t HTTPClient_SendOnce(HTTPClientContext *ptClient, const char *pData, uint32_t dwLength,
                             uint32_t *pdwSent) {
  *pdwSent = 0;
  if (pData == nullptr || dwLength == 0) return HTTPCLIENT_E_SEND_ARGS;
  if (ptClient->iSocket < 0) return HTTPCLIENT_E_STATE_ARGS;
  int ready = 0;
  uint32_t r = HTTPClient_WaitWithinBudget(ptClient, true, &ready);
  if (r != HTTPCLIENT_OK) return r;
  if (ready == 0) return HTTPCLIENT_I_NOT_READY;
  if (ptClient->ptTls != nullptr) {
    // One record at most; after a want the state machine offers the same
    // bytes again (it resends from what was counted as sent).
    size_t sent = 0;
    const namreg::TlsStatus status = ptClient->ptTls->Send(pData, dwLength, &sent);
    if (status == namreg::TlsStatus::kDone) {
      *pdwSent = static_cast<uint32_t>(sent);
      return sent == 0 ? HTTPCLIENT_I_WOULD_BLOCK : HTTPCLIENT_OK;
    }
    if (status == namreg::TlsStatus::kWantRead || status == namreg::TlsStatus::kWantWrite)
      return HTTPCLIENT_I_WOULD_BLOCK;
    r = ptClient->ptTls->Error();
    HTTPClient_CloseSocket(ptClient);
    return r;
  }
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
  // Bytes the TLS session already holds need no wait on the socket.
  const bool bPending = ptClient->ptTls != nullptr && ptClient->ptTls->HasPending();
  int ready = bPending ? 1 : fdutil::WaitOne(ptClient->iSocket, false, WaitTime(ptClient, dwWait));
  if (ready < 0) {
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_E_SELECT;
  }
  if (dwWait != 0) {
    r = HTTPClient_CheckTimeout(ptClient);
    if (r != HTTPCLIENT_OK) return r;
  }
  if (ready == 0) return HTTPCLIENT_I_NOT_READY;
  if (ptClient->ptTls != nullptr) return RecvTls(ptClient, pDest, dwWanted, pdwReceived, dwWait);
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
