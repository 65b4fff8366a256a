// SPDX-License-Identifier: MIT
// HTTP tunnels: the RTSP-style tunnel GET, the two-channel tunnel open with
// its answer and one-channel fallback, tunnelled requests, and raw or
// queued sends on a tunnel socket (states 9, 10 and 11).
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "httpclient_internal.h"
#include "namreg/common.h"
#include "namreg/fd_util.h"

namespace {

constexpr uint32_t kAnswerLength = 20;             // "http tunnel accept=1"
constexpr uint32_t kAnswerWaitMs = 15000;          // for the answer on the GET channel
constexpr uint32_t kScratchSize = 1460;            // receive buffer of tunnel exchanges
constexpr uint32_t kDefaultSendWaitUs = 20000000;  // a raw send "without limit"
constexpr uint32_t kFallbackWaitUs = 5000000;      // the fallback's tunnelled request
constexpr uint32_t kQueryMax = 15;                 // POST channel body: the URI's query
constexpr uint32_t kCookieLength = 22;

const char kAccepted[] = "http tunnel accept=1";
const char kRefused[] = "http tunnel accept=0";

bool IsError(uint32_t r) {
  return (r & 0xFF000000u) == 0x80000000u;
}

uint32_t ElapsedMs(uint32_t dwStart) {
  return namreg::TickElapsedMs(dwStart, HTTPClient_GetTickMs());
}

struct timeval Remaining(uint32_t dwLimitMs, uint32_t dwStart) {
  uint32_t dwElapsed = ElapsedMs(dwStart);
  uint32_t dwLeft = dwElapsed >= dwLimitMs ? 0 : dwLimitMs - dwElapsed;
  struct timeval tv;
  tv.tv_sec = static_cast<time_t>(dwLeft / 1000);
  tv.tv_usec = static_cast<suseconds_t>((dwLeft % 1000) * 1000);
  return tv;
}

void CloseFd(int32_t *piFd) {
  if (*piFd >= 0) close(*piFd);
  *piFd = -1;
}

bool Idle(const HTTPClientContext *ptClient) {
  return ptClient->dwState == HTTPCLIENT_STATE_START && ptClient->dwOperation == HTTPCLIENT_OP_NONE;
}

uint32_t NotIdleCode(const HTTPClientContext *ptClient) {
  return ptClient->dwState != HTTPCLIENT_STATE_START ? HTTPCLIENT_E_BUSY : HTTPCLIENT_E_PENDING;
}

// Sum of the three step time-outs, the budget of a tunnel's exchanges.
uint32_t TunnelBudget(const HTTPClientInfo *ptInfo) {
  uint64_t sum = uint64_t{ptInfo->dwConnectTimeout} + ptInfo->dwSendTimeout + ptInfo->dwRecvTimeout;
  return sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(sum);
}

// Runs one synchronous exchange of a tunnel operation on the stored request
// record and takes the time it took off *pdwBudget (microseconds, never
// below zero).
uint32_t RunInner(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t dwMethod,
                  uint32_t *pdwBudget) {
  const uint32_t dwStart = HTTPClient_GetTickMs();
  ptInfo->dwTotalTimeout = *pdwBudget;
  if (ptInfo->pRecvBuffer != nullptr) ptInfo->dwRecvSize = kScratchSize;
  ptClient->dwState = HTTPCLIENT_STATE_START;
  ptClient->dwOperation = HTTPCLIENT_OP_REQUEST;
  uint32_t r = HTTPClient_Run(ptClient, ptInfo, HTTPCLIENT_MODE_SYNC, dwMethod);
  if (ptClient->dwOperation != HTTPCLIENT_OP_NONE) {
    // Refused before it ran.
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    HTTPClient_Finish(ptClient);
  }
  free(ptClient->pSendBuffer);
  ptClient->pSendBuffer = nullptr;
  uint64_t spentUs = uint64_t{ElapsedMs(dwStart)} * 1000u;
  *pdwBudget = spentUs >= *pdwBudget ? 0 : *pdwBudget - static_cast<uint32_t>(spentUs);
  return r;
}

// The GET channel of a tunnel (HLDM tunnel flag, a new session cookie).
// On success the socket is in ptInfo->iTunnelGetSocket and the bytes that
// followed the response header are at the start of the answer buffer.
uint32_t OpenGetChannel(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t *pdwBudget,
                        char *pAnswer, uint32_t *pdwHave) {
  ptClient->dwRtspTunnel = 0;
  ptClient->dwHldmTunnel = 1;
  namreg::HTTPClient_MakeSessionCookie(ptClient);
  ptInfo->iTunnelGetSocket = -1;
  uint32_t r = RunInner(ptClient, ptInfo, HTTPCLIENT_METHOD_GET, pdwBudget);
  if (r != HTTPCLIENT_I_TUNNEL_GET_UP || ptInfo->iTunnelGetSocket < 0) {
    CloseFd(&ptInfo->iTunnelGetSocket);
    return IsError(r) ? r : HTTPCLIENT_E_NO_SOCKET;
  }
  *pdwHave = ptInfo->dwRecvSize < kAnswerLength ? ptInfo->dwRecvSize : kAnswerLength;
  memcpy(pAnswer, ptInfo->pRecvBuffer, *pdwHave);
  return HTTPCLIENT_OK;
}

// Receives the rest of the 20-byte answer and judges it.
uint32_t AwaitAnswer(int fd, char *pAnswer, uint32_t dwHave) {
  uint32_t r = HTTPCLIENT_OK;
  if (dwHave < kAnswerLength)
    r = namreg::HTTPClient_ReceiveAnswer(fd, pAnswer + dwHave, kAnswerLength - dwHave,
                                         kAnswerWaitMs);
  if (r != HTTPCLIENT_OK) return r;
  return namreg::HTTPClient_JudgeAnswer(pAnswer, kAnswerLength);
}

// The one-channel fallback: a new GET channel, then a tunnelled request
// "channel=1" and the answer on the GET channel.
uint32_t OpenOneChannel(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t *pdwBudget) {
  char acAnswer[kAnswerLength];
  uint32_t dwHave = 0;
  if (*pdwBudget == 0) return HTTPCLIENT_E_CONNECT_TIMEOUT;
  uint32_t r = OpenGetChannel(ptClient, ptInfo, pdwBudget, acAnswer, &dwHave);
  if (r != HTTPCLIENT_OK) return r;
  static const char kChannel[] = "channel=1";
  HTTPClientTunnelRequest tRequest = {};
  tRequest.dwOperation = 0;
  tRequest.dwTimeout = kFallbackWaitUs;
  tRequest.pData = kChannel;
  tRequest.dwDataLength = sizeof(kChannel) - 1;
  tRequest.iSocket = -1;
  tRequest.dwContentKind = 1;
  r = namreg::HTTPClient_ComposeTunnelRequest(ptClient, ptInfo, &tRequest);
  if (!IsError(r)) r = AwaitAnswer(ptInfo->iTunnelGetSocket, acAnswer, dwHave);
  if (r != HTTPCLIENT_I_TUNNEL_OPENED) {
    CloseFd(&ptInfo->iTunnelGetSocket);
    return r;
  }
  return HTTPCLIENT_I_TUNNEL_FALLBACK;
}

// The whole tunnel open on the stored request record (whose receive buffer
// is the scratch).
uint32_t OpenTunnel(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo) {
  ptInfo->iTunnelGetSocket = -1;
  ptInfo->iTunnelPostSocket = -1;
  const char *pQuestion = strchr(ptInfo->szURI, '?');
  if (pQuestion == nullptr) return HTTPCLIENT_E_URI;
  uint32_t dwBudget = TunnelBudget(ptInfo);

  char acAnswer[kAnswerLength];
  uint32_t dwHave = 0;
  uint32_t r = OpenGetChannel(ptClient, ptInfo, &dwBudget, acAnswer, &dwHave);
  if (r != HTTPCLIENT_OK) return r;

  // POST channel: its body is the query text.
  char szQuery[kQueryMax + 1];
  size_t queryLength = strnlen(pQuestion + 1, kQueryMax);
  memcpy(szQuery, pQuestion + 1, queryLength);
  szQuery[queryLength] = '\0';
  ptInfo->pBody = szQuery;
  ptInfo->dwBodyLength = static_cast<uint32_t>(queryLength);
  ptClient->dwRtspTunnel = 0;
  ptClient->dwHldmTunnel = 1;
  r = dwBudget == 0 ? HTTPCLIENT_E_CONNECT_TIMEOUT
                    : RunInner(ptClient, ptInfo, HTTPCLIENT_METHOD_POST, &dwBudget);
  ptInfo->pBody = nullptr;
  ptInfo->dwBodyLength = 0;
  if (r != HTTPCLIENT_I_TUNNEL_POST_UP || ptInfo->iTunnelPostSocket < 0) {
    CloseFd(&ptInfo->iTunnelGetSocket);
    CloseFd(&ptInfo->iTunnelPostSocket);
    return IsError(r) ? r : HTTPCLIENT_E_NO_SOCKET;
  }

  r = AwaitAnswer(ptInfo->iTunnelGetSocket, acAnswer, dwHave);
  if (r == HTTPCLIENT_I_TUNNEL_OPENED) return r;
  CloseFd(&ptInfo->iTunnelGetSocket);
  CloseFd(&ptInfo->iTunnelPostSocket);
  if (r != HTTPCLIENT_I_TUNNEL_REFUSED && r != HTTPCLIENT_I_TUNNEL_NO_ANSWER) return r;
  return OpenOneChannel(ptClient, ptInfo, &dwBudget);
}

// Prepares the stored request record of a tunnel operation: a copy of the
// caller's, without a streamed upload.
void StoreInfo(HTTPClientContext *ptClient, const HTTPClientInfo *ptInfo) {
  ptClient->tInfoCopy = *ptInfo;
  ptClient->tInfoCopy.pUploadFile = nullptr;
  ptClient->tInfoCopy.pRecvBuffer = nullptr;
  ptClient->tInfoCopy.dwRecvSize = 0;
}

// Common start of the RTSP-style tunnel GET entries.
uint32_t StartTunnelGet(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t dwMode) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptInfo == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  if (!Idle(ptClient)) return NotIdleCode(ptClient);
  ptClient->dwRtspTunnel = 1;
  ptClient->dwHldmTunnel = 0;
  namreg::HTTPClient_MakeSessionCookie(ptClient);
  memcpy(ptInfo->szSessionCookie, ptClient->szSessionCookie, sizeof(ptInfo->szSessionCookie));
  ptInfo->iTunnelGetSocket = -1;
  ptInfo->iTunnelPostSocket = -1;
  StoreInfo(ptClient, ptInfo);
  // The POST channel that follows the GET sends only its header.
  free(ptClient->pSendBuffer);
  ptClient->pSendBuffer = static_cast<char *>(malloc(HTTPCLIENT_TEXT_MAX));
  if (ptClient->pSendBuffer == nullptr) {
    ptClient->dwRtspTunnel = 0;
    return HTTPCLIENT_E_NO_MEMORY;
  }
  uint32_t r = HTTPClient_Start(ptClient, ptInfo, dwMode, HTTPCLIENT_METHOD_GET);
  if (dwMode == HTTPCLIENT_MODE_ASYNC && r == HTTPCLIENT_OK) {
    ptClient->pCallerInfo = ptInfo;
    return r;
  }
  // Ended (synchronous) or refused: nothing of the tunnel stays behind.
  if (Idle(ptClient)) {
    free(ptClient->pSendBuffer);
    ptClient->pSendBuffer = nullptr;
    ptClient->dwRtspTunnel = 0;
  }
  return r;
}

}  // namespace

namespace namreg {

void HTTPClient_MakeSessionCookie(HTTPClientContext *ptClient) {
  // Four clock readings, as the cookie always had, and unpredictable bytes
  // so that another host cannot guess a session.
  uint32_t adwSeed[8] = {};
  for (int i = 0; i < 4; ++i) adwSeed[i] = HTTPClient_GetTickMs();
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    (void)!read(fd, &adwSeed[4], 4 * sizeof(uint32_t));
    close(fd);
  }
  adwSeed[7] ^= static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(time(nullptr));
  MD5Context tMd5;
  unsigned char acDigest[16];
  MD5Init(&tMd5);
  MD5Update(&tMd5, reinterpret_cast<const unsigned char *>(adwSeed), sizeof(adwSeed));
  MD5Final(acDigest, &tMd5);
  char szEncoded[25] = {};
  Base64_Encode(acDigest, sizeof(acDigest), szEncoded, sizeof(szEncoded));
  memcpy(ptClient->szSessionCookie, szEncoded, kCookieLength);
  ptClient->szSessionCookie[kCookieLength] = '\0';
}

uint32_t HTTPClient_ComposeTunnelRequest(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo,
                                         const HTTPClientTunnelRequest *ptRequest) {
  if (ptRequest->pData == nullptr || ptRequest->dwDataLength == 0) return HTTPCLIENT_E_TUNNEL_DATA;
  ptClient->dwRtspTunnel = 0;
  ptClient->dwHldmTunnel = 0;

  char szAddress[INET_ADDRSTRLEN] = {};
  struct in_addr tAddr;
  tAddr.s_addr = ptInfo->tServer.dwAddress;
  inet_ntop(AF_INET, &tAddr, szAddress, sizeof(szAddress));
  char szHostName[HTTPCLIENT_HOST_SIZE];
  memcpy(szHostName, ptInfo->tServer.szHost, sizeof(szHostName));
  szHostName[sizeof(szHostName) - 1] = '\0';

  HTTPClientText t = {ptInfo->szExtraHeader, HTTPCLIENT_TEXT_MAX, 0};
  ptInfo->szExtraHeader[0] = '\0';
  if (ptRequest->dwContentKind == 0)
    t.Add("Content-Type: application/x-rtsp-tunnelled\r\n");
  else if (ptRequest->dwContentKind == 1)
    t.Add("Content-Type: application/x-hldm-tunnelled\r\n");
  t.Add("Expires: Sun, 9 Jan 1972 00:00:00 GMT\r\nx-sessioncookie: ");
  t.Add(ptClient->szSessionCookie);
  t.Add("\r\nHost: ");
  t.Add(szHostName[0] != '\0' ? szHostName : szAddress);
  t.Add(":");
  t.AddUInt(ptInfo->tServer.dwPort);
  t.Add(
      "\r\nUser-Agent: HLDM (ver=1.7.0.0)\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"
      "Connection: Keep-Alive\r\nContent-Length: ");
  t.AddUInt(ptRequest->dwDataLength);
  t.Add("\r\n");

  ptInfo->pBody = ptRequest->pData;
  ptInfo->dwBodyLength = ptRequest->dwDataLength;
  uint32_t dwBudget = ptRequest->dwTimeout != 0 ? ptRequest->dwTimeout : TunnelBudget(ptInfo);
  uint32_t r = RunInner(ptClient, ptInfo, HTTPCLIENT_METHOD_POST, &dwBudget);
  ptInfo->pBody = nullptr;
  ptInfo->dwBodyLength = 0;
  ptInfo->szExtraHeader[0] = '\0';
  return r;
}

uint32_t HTTPClient_SendAllOn(int fd, const char *pData, uint32_t dwLength, uint32_t dwTimeoutUs) {
  if (fd < 0) return HTTPCLIENT_E_NO_SOCKET;
  if (pData == nullptr || dwLength == 0) return HTTPCLIENT_E_SEND_ARGS;
  const uint32_t dwLimitMs = (dwTimeoutUs != 0 ? dwTimeoutUs : kDefaultSendWaitUs) / 1000u;
  const uint32_t dwStart = HTTPClient_GetTickMs();
  uint32_t dwSent = 0;
  while (dwSent < dwLength) {
    struct timeval tv = Remaining(dwLimitMs, dwStart);
    if (tv.tv_sec == 0 && tv.tv_usec == 0) return HTTPCLIENT_E_SEND_TIMEOUT;
    int ready = fdutil::WaitOne(fd, true, tv);
    if (ready < 0) return HTTPCLIENT_E_SELECT;
    if (ready == 0) return HTTPCLIENT_E_SEND_TIMEOUT;
    ssize_t n = send(fd, pData + dwSent, dwLength - dwSent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return HTTPCLIENT_E_SEND;
      namreg::ClockSleepMs(100);
      continue;
    }
    dwSent += static_cast<uint32_t>(n);
  }
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_ReceiveAnswer(int fd, char *pBuffer, uint32_t dwLength, uint32_t dwTimeoutMs) {
  if (fd < 0) return HTTPCLIENT_E_NO_SOCKET;
  if (pBuffer == nullptr) return HTTPCLIENT_E_RECV_ARGS;
  const uint32_t dwStart = HTTPClient_GetTickMs();
  uint32_t dwHave = 0;
  while (dwHave < dwLength) {
    struct timeval tv = Remaining(dwTimeoutMs, dwStart);
    if (tv.tv_sec == 0 && tv.tv_usec == 0) return HTTPCLIENT_I_TUNNEL_NO_ANSWER;
    int ready = fdutil::WaitOne(fd, false, tv);
    if (ready < 0) return HTTPCLIENT_E_SELECT;
    if (ready == 0) return HTTPCLIENT_I_TUNNEL_NO_ANSWER;
    ssize_t n = recv(fd, pBuffer + dwHave, dwLength - dwHave, MSG_NOSIGNAL);
    if (n == 0) return HTTPCLIENT_E_TUNNEL_CLOSED;
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return HTTPCLIENT_E_RECV;
      namreg::ClockSleepMs(100);
      continue;
    }
    dwHave += static_cast<uint32_t>(n);
  }
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_JudgeAnswer(const char *pAnswer, uint32_t dwLength) {
  if (dwLength == kAnswerLength && strncasecmp(pAnswer, kAccepted, kAnswerLength) == 0)
    return HTTPCLIENT_I_TUNNEL_OPENED;
  if (dwLength == kAnswerLength && strncasecmp(pAnswer, kRefused, kAnswerLength) == 0)
    return HTTPCLIENT_I_TUNNEL_REFUSED;
  return HTTPCLIENT_E_TUNNEL_ANSWER;
}

uint32_t HTTPClient_StateSendQueued(HTTPClientContext *ptClient) {
  const HTTPClientTunnelRequest tQueued = ptClient->tQueued;
  uint32_t r =
      HTTPClient_SendAllOn(tQueued.iSocket, tQueued.pData, tQueued.dwDataLength, tQueued.dwTimeout);
  HTTPClient_EndWithEvent(
      ptClient, r == HTTPCLIENT_OK ? HTTPCLIENT_EVENT_SEND_DONE : HTTPCLIENT_EVENT_SEND_FAILED, &r);
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_StateTunnelOpen(HTTPClientContext *ptClient) {
  HTTPClientInfo *const ptCaller = ptClient->pCallerInfo;
  HTTPClientInfo *ptInfo = &ptClient->tInfoCopy;
  char acScratch[kScratchSize];
  ptInfo->pRecvBuffer = acScratch;
  ptInfo->dwRecvSize = sizeof(acScratch);
  uint32_t r = OpenTunnel(ptClient, ptInfo);
  ptInfo->pRecvBuffer = nullptr;
  ptInfo->dwRecvSize = 0;
  ptClient->dwMode = HTTPCLIENT_MODE_ASYNC;
  ptClient->dwRtspTunnel = 0;
  ptClient->dwHldmTunnel = 0;
  ptClient->pCallerInfo = ptCaller;

  const bool bOpen = r == HTTPCLIENT_I_TUNNEL_OPENED || r == HTTPCLIENT_I_TUNNEL_FALLBACK;
  if (bOpen) {
    memcpy(ptInfo->szSessionCookie, ptClient->szSessionCookie, sizeof(ptInfo->szSessionCookie));
    if (ptCaller != nullptr) {
      ptCaller->iTunnelGetSocket = ptInfo->iTunnelGetSocket;
      ptCaller->iTunnelPostSocket = ptInfo->iTunnelPostSocket;
      memcpy(ptCaller->szSessionCookie, ptClient->szSessionCookie,
             sizeof(ptCaller->szSessionCookie));
    }
  }
  if (r == HTTPCLIENT_I_TUNNEL_OPENED)
    HTTPClient_EndWithEvent(ptClient, HTTPCLIENT_EVENT_TUNNEL_OPENED,
                            ptCaller != nullptr ? ptCaller : ptInfo);
  else if (r == HTTPCLIENT_I_TUNNEL_FALLBACK)
    HTTPClient_EndWithEvent(ptClient, HTTPCLIENT_EVENT_TUNNEL_FALLBACK,
                            ptCaller != nullptr ? ptCaller : ptInfo);
  else
    HTTPClient_EndWithEvent(ptClient, HTTPCLIENT_EVENT_TUNNEL_FAILED, &r);
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_StateTunnelRequest(HTTPClientContext *ptClient) {
  HTTPClientInfo *const ptCaller = ptClient->pCallerInfo;
  HTTPClientInfo *ptInfo = &ptClient->tInfoCopy;
  const HTTPClientTunnelRequest tQueued = ptClient->tQueued;
  char acScratch[kScratchSize];
  ptInfo->pRecvBuffer = acScratch;
  ptInfo->dwRecvSize = sizeof(acScratch);
  uint32_t r;
  if (tQueued.dwOperation == 1) {
    r = tQueued.iSocket < 0 ? HTTPCLIENT_E_NO_SOCKET
                            : HTTPClient_SendAllOn(tQueued.iSocket, tQueued.pData,
                                                   tQueued.dwDataLength, tQueued.dwTimeout);
  } else {
    r = HTTPClient_ComposeTunnelRequest(ptClient, ptInfo, &tQueued);
  }
  ptInfo->pRecvBuffer = nullptr;
  ptInfo->dwRecvSize = 0;
  ptClient->dwMode = HTTPCLIENT_MODE_ASYNC;
  ptClient->pCallerInfo = ptCaller;
  HTTPClient_EndWithEvent(
      ptClient, IsError(r) ? HTTPCLIENT_EVENT_REQUEST_FAILED : HTTPCLIENT_EVENT_REQUEST_DONE, &r);
  return HTTPCLIENT_OK;
}

}  // namespace namreg

extern "C" {

uint32_t HTTPClient_TunnelGet(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo) {
  return StartTunnelGet(ptClient, ptInfo, HTTPCLIENT_MODE_SYNC);
}

uint32_t HTTPClient_AsyncTunnelGet(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo) {
  return StartTunnelGet(ptClient, ptInfo, HTTPCLIENT_MODE_ASYNC);
}

uint32_t HTTPClient_AsyncTunnelOpen(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptInfo == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  if (!Idle(ptClient)) return NotIdleCode(ptClient);
  if (strchr(ptInfo->szURI, '?') == nullptr) return HTTPCLIENT_E_URI;
  ptInfo->iTunnelGetSocket = -1;
  ptInfo->iTunnelPostSocket = -1;
  StoreInfo(ptClient, ptInfo);
  ptClient->dwHldmTunnel = 1;
  ptClient->dwMode = HTTPCLIENT_MODE_ASYNC;
  ptClient->pCallerInfo = ptInfo;
  ptClient->dwOperation = HTTPCLIENT_OP_TUNNEL_OPEN;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_AsyncTunnelRequest(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo,
                                       const HTTPClientTunnelRequest *ptRequest) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptInfo == nullptr || ptRequest == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  if (ptRequest->pData == nullptr || ptRequest->dwDataLength == 0) return HTTPCLIENT_E_TUNNEL_DATA;
  if (!Idle(ptClient)) return NotIdleCode(ptClient);
  StoreInfo(ptClient, ptInfo);
  // The request belongs to the caller's session when the caller names one.
  ptClient->tInfoCopy.szSessionCookie[HTTPCLIENT_COOKIE_SIZE - 1] = '\0';
  if (ptClient->tInfoCopy.szSessionCookie[0] != '\0')
    memcpy(ptClient->szSessionCookie, ptClient->tInfoCopy.szSessionCookie,
           sizeof(ptClient->szSessionCookie));
  ptClient->tQueued = *ptRequest;
  ptClient->dwMode = HTTPCLIENT_MODE_ASYNC;
  ptClient->pCallerInfo = ptInfo;
  ptClient->dwOperation = HTTPCLIENT_OP_TUNNEL_REQUEST;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_SendTunnelData(HTTPClientHandle ptClient,
                                   const HTTPClientTunnelRequest *ptRequest) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptRequest == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  if (ptRequest->pData == nullptr || ptRequest->dwDataLength == 0) return HTTPCLIENT_E_TUNNEL_DATA;
  if (ptClient->dwMode != HTTPCLIENT_MODE_ASYNC)
    return namreg::HTTPClient_SendAllOn(ptRequest->iSocket, ptRequest->pData,
                                        ptRequest->dwDataLength, ptRequest->dwTimeout);
  if (!Idle(ptClient)) return NotIdleCode(ptClient);
  ptClient->tQueued = *ptRequest;
  ptClient->dwOperation = HTTPCLIENT_OP_SEND_QUEUED;
  return HTTPCLIENT_OK;
}

}  // extern "C"
