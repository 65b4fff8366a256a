// SPDX-License-Identifier: MIT
// HTTP tunnels: the RTSP-style tunnel GET, the two-channel tunnel open with
// its answer and one-channel fallback, tunnelled requests, and raw or
// queued sends on a tunnel socket (states 9, 10 and 11).  The operations of
// states 9 to 11 run as timed stages, one bounded step per
// HTTPClient_Process call; each fixes its deadline at its first step and
// every stage gets at most what is left of it.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include "httpclient_internal.h"
#include "namreg/common.h"
#include "namreg/fd_util.h"

namespace {

using namreg::HTTPClient_LeftMs;

constexpr uint32_t kAnswerLength = HTTPCLIENT_ANSWER_LENGTH;
constexpr uint64_t kAnswerWaitMs = 15000;          // for the answer on the GET channel
constexpr uint32_t kDefaultSendWaitUs = 20000000;  // a raw send "without limit"
constexpr uint32_t kFallbackWaitUs = 5000000;      // the fallback's tunnelled request
constexpr uint64_t kBusyPauseMs = 100;             // a synchronous send the socket refused
constexpr uint32_t kQueryMax = 15;                 // POST channel body: the URI's query
constexpr uint32_t kCookieLength = 22;

const char kAccepted[] = "http tunnel accept=1";
const char kRefused[] = "http tunnel accept=0";

// Where a stepped tunnel operation stands.
enum Stage : uint32_t {
  kBegin = 0,        // not stepped yet
  kGetChannel,       // tunnel open: the GET channel's exchange
  kPostChannel,      // the POST channel's exchange
  kAnswer,           // the 20-byte answer on the GET channel
  kFallbackGet,      // one channel: a new GET channel
  kFallbackRequest,  // the tunnelled request "channel=1"
  kFallbackAnswer,   // the answer again
  kRequest,          // tunnel request: the tunnelled POST
  kRawSend,          // raw or queued send
};

bool IsError(uint32_t r) {
  return (r & 0xFF000000u) == 0x80000000u;
}

bool GoesOn(uint32_t r) {
  return r == HTTPCLIENT_I_NOT_READY || r == HTTPCLIENT_I_WOULD_BLOCK;
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

uint64_t UsToMs(uint32_t dwUs) {
  return (uint64_t{dwUs} + 999u) / 1000u;
}

// Moves to `dwStage`, which ends `limit_ms` from now or with the operation,
// whichever comes first.
void EnterStage(HTTPClientStages *ptStages, uint32_t dwStage, uint64_t limit_ms) {
  const uint64_t left = HTTPClient_LeftMs(ptStages->qwOpEndMs);
  ptStages->dwStage = dwStage;
  ptStages->qwStageEndMs = namreg::ClockMonotonicMs() + (limit_ms < left ? limit_ms : left);
}

// Begins the operation: its deadline `budget_us` from now.
void BeginOperation(HTTPClientContext *ptClient, uint32_t dwOperation, uint32_t dwBudgetUs) {
  HTTPClientStages &tStages = ptClient->tStages;
  tStages.dwOperation = dwOperation;
  tStages.ptCaller = ptClient->pCallerInfo;
  tStages.qwOpEndMs = namreg::ClockMonotonicMs() + UsToMs(dwBudgetUs);
  tStages.qwStageEndMs = tStages.qwOpEndMs;
}

void ClearRequestBody(HTTPClientInfo *ptInfo) {
  ptInfo->pBody = nullptr;
  ptInfo->dwBodyLength = 0;
  ptInfo->szExtraHeader[0] = '\0';
}

// Starts a GET channel (HLDM tunnel flag, a new session cookie) as stage
// `dwStage`, with the time left of the operation.
uint32_t StartGetChannel(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t dwStage) {
  HTTPClientStages &tStages = ptClient->tStages;
  ptClient->dwRtspTunnel = 0;
  ptClient->dwHldmTunnel = 1;
  namreg::HTTPClient_MakeSessionCookie(ptClient);
  ptInfo->iTunnelGetSocket = -1;
  tStages.dwAnswerHave = 0;
  EnterStage(&tStages, dwStage, UINT64_MAX);
  return namreg::HTTPClient_InnerStart(ptClient, ptInfo, HTTPCLIENT_METHOD_GET);
}

// A GET channel's exchange ended with r: on success its socket is in
// ptInfo->iTunnelGetSocket and the bytes that followed its response header
// start the answer.
uint32_t GetChannelUp(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t r) {
  if (r != HTTPCLIENT_I_TUNNEL_GET_UP || ptInfo->iTunnelGetSocket < 0) {
    CloseFd(&ptInfo->iTunnelGetSocket);
    return IsError(r) ? r : HTTPCLIENT_E_NO_SOCKET;
  }
  HTTPClientStages &tStages = ptClient->tStages;
  tStages.dwAnswerHave = ptInfo->dwRecvSize < kAnswerLength ? ptInfo->dwRecvSize : kAnswerLength;
  memcpy(tStages.acAnswer, ptInfo->pRecvBuffer, tStages.dwAnswerHave);
  return HTTPCLIENT_OK;
}

// The POST channel: its body is the URI's query text.
uint32_t StartPostChannel(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo) {
  HTTPClientStages &tStages = ptClient->tStages;
  const char *pQuestion = strchr(ptInfo->szURI, '?');
  const size_t queryLength = pQuestion != nullptr ? strnlen(pQuestion + 1, kQueryMax) : 0;
  if (queryLength > 0) memcpy(tStages.szQuery, pQuestion + 1, queryLength);
  tStages.szQuery[queryLength] = '\0';
  ptInfo->pBody = tStages.szQuery;
  ptInfo->dwBodyLength = static_cast<uint32_t>(queryLength);
  ptClient->dwRtspTunnel = 0;
  ptClient->dwHldmTunnel = 1;
  EnterStage(&tStages, kPostChannel, UINT64_MAX);
  if (HTTPClient_LeftMs(tStages.qwOpEndMs) == 0) return HTTPCLIENT_E_CONNECT_TIMEOUT;
  return namreg::HTTPClient_InnerStart(ptClient, ptInfo, HTTPCLIENT_METHOD_POST);
}

// The one-channel fallback's tunnelled request "channel=1" on the GET
// channel's session.
uint32_t StartFallbackRequest(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo) {
  static const char kChannel[] = "channel=1";
  HTTPClientTunnelRequest tRequest = {};
  tRequest.dwOperation = 0;
  tRequest.dwTimeout = kFallbackWaitUs;
  tRequest.pData = kChannel;
  tRequest.dwDataLength = sizeof(kChannel) - 1;
  tRequest.iSocket = -1;
  tRequest.dwContentKind = 1;
  EnterStage(&ptClient->tStages, kFallbackRequest, UsToMs(kFallbackWaitUs));
  return namreg::HTTPClient_ComposeTunnelRequest(ptClient, ptInfo, &tRequest);
}

// One step of awaiting the answer on the GET channel: HTTPCLIENT_I_NOT_READY
// while the stage lasts, HTTPCLIENT_I_TUNNEL_NO_ANSWER when it ended first,
// else the judgement of the answer or the receive failure.
uint32_t AnswerStep(HTTPClientContext *ptClient, int fd) {
  HTTPClientStages &tStages = ptClient->tStages;
  const uint64_t wait =
      namreg::HTTPClient_StepWaitMs(ptClient, HTTPClient_LeftMs(tStages.qwStageEndMs));
  const uint32_t r = namreg::HTTPClient_ReceiveAnswerStep(fd, tStages.acAnswer, kAnswerLength,
                                                          &tStages.dwAnswerHave, wait);
  if (r == HTTPCLIENT_OK) return namreg::HTTPClient_JudgeAnswer(tStages.acAnswer, kAnswerLength);
  if (GoesOn(r))
    return HTTPClient_LeftMs(tStages.qwStageEndMs) == 0 ? HTTPCLIENT_I_TUNNEL_NO_ANSWER
                                                        : HTTPCLIENT_I_NOT_READY;
  return r;
}

// One step of a raw or queued send within the operation's deadline.
uint32_t RawSendStep(HTTPClientContext *ptClient, const HTTPClientTunnelRequest &tRequest) {
  HTTPClientStages &tStages = ptClient->tStages;
  const uint64_t left = HTTPClient_LeftMs(tStages.qwOpEndMs);
  if (left == 0) return HTTPCLIENT_E_SEND_TIMEOUT;
  const uint32_t r =
      namreg::HTTPClient_SendStep(tRequest.iSocket, tRequest.pData, tRequest.dwDataLength,
                                  &tStages.dwSent, namreg::HTTPClient_StepWaitMs(ptClient, left));
  if (!GoesOn(r)) return r;
  return HTTPClient_LeftMs(tStages.qwOpEndMs) == 0 ? HTTPCLIENT_E_SEND_TIMEOUT
                                                   : HTTPCLIENT_I_NOT_READY;
}

// One step of the tunnel open; true once it has ended with *pr.
bool TunnelOpenStep(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t *pr) {
  HTTPClientStages &tStages = ptClient->tStages;
  uint32_t r = HTTPCLIENT_OK;
  switch (tStages.dwStage) {
    case kBegin:
      BeginOperation(ptClient, HTTPCLIENT_OP_TUNNEL_OPEN, TunnelBudget(ptInfo));
      ptInfo->pRecvBuffer = tStages.acScratch;
      ptInfo->dwRecvSize = sizeof(tStages.acScratch);
      ptInfo->iTunnelGetSocket = -1;
      ptInfo->iTunnelPostSocket = -1;
      if (strchr(ptInfo->szURI, '?') == nullptr) {
        *pr = HTTPCLIENT_E_URI;
        return true;
      }
      *pr = StartGetChannel(ptClient, ptInfo, kGetChannel);
      return *pr != HTTPCLIENT_OK;
    case kGetChannel:
    case kFallbackGet:
      if (!namreg::HTTPClient_InnerStep(ptClient, ptInfo, &r)) return false;
      *pr = GetChannelUp(ptClient, ptInfo, r);
      if (*pr != HTTPCLIENT_OK) return true;
      *pr = tStages.dwStage == kGetChannel ? StartPostChannel(ptClient, ptInfo)
                                           : StartFallbackRequest(ptClient, ptInfo);
      if (*pr == HTTPCLIENT_OK) return false;
      CloseFd(&ptInfo->iTunnelGetSocket);
      return true;
    case kPostChannel:
      if (!namreg::HTTPClient_InnerStep(ptClient, ptInfo, &r)) return false;
      ClearRequestBody(ptInfo);
      if (r != HTTPCLIENT_I_TUNNEL_POST_UP || ptInfo->iTunnelPostSocket < 0) {
        CloseFd(&ptInfo->iTunnelGetSocket);
        CloseFd(&ptInfo->iTunnelPostSocket);
        *pr = IsError(r) ? r : HTTPCLIENT_E_NO_SOCKET;
        return true;
      }
      EnterStage(&tStages, kAnswer, kAnswerWaitMs);
      return false;
    case kAnswer:
      r = AnswerStep(ptClient, ptInfo->iTunnelGetSocket);
      if (r == HTTPCLIENT_I_NOT_READY) return false;
      *pr = r;
      if (r == HTTPCLIENT_I_TUNNEL_OPENED) return true;
      CloseFd(&ptInfo->iTunnelGetSocket);
      CloseFd(&ptInfo->iTunnelPostSocket);
      if (r != HTTPCLIENT_I_TUNNEL_REFUSED && r != HTTPCLIENT_I_TUNNEL_NO_ANSWER) return true;
      // One channel, with what is left of the budget.
      if (HTTPClient_LeftMs(tStages.qwOpEndMs) == 0) {
        *pr = HTTPCLIENT_E_CONNECT_TIMEOUT;
        return true;
      }
      *pr = StartGetChannel(ptClient, ptInfo, kFallbackGet);
      return *pr != HTTPCLIENT_OK;
    case kFallbackRequest:
      if (!namreg::HTTPClient_InnerStep(ptClient, ptInfo, &r)) return false;
      ClearRequestBody(ptInfo);
      if (IsError(r)) {
        CloseFd(&ptInfo->iTunnelGetSocket);
        *pr = r;
        return true;
      }
      EnterStage(&tStages, kFallbackAnswer, kAnswerWaitMs);
      return false;
    case kFallbackAnswer:
      r = AnswerStep(ptClient, ptInfo->iTunnelGetSocket);
      if (r == HTTPCLIENT_I_NOT_READY) return false;
      if (r == HTTPCLIENT_I_TUNNEL_OPENED) {
        *pr = HTTPCLIENT_I_TUNNEL_FALLBACK;
        return true;
      }
      CloseFd(&ptInfo->iTunnelGetSocket);
      *pr = r;
      return true;
    default:
      *pr = HTTPCLIENT_E_STATE_RANGE;
      return true;
  }
}

// One step of a tunnel request (a tunnelled POST or a raw send); true once
// it has ended with *pr.
bool TunnelRequestStep(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t *pr) {
  HTTPClientStages &tStages = ptClient->tStages;
  const HTTPClientTunnelRequest &tQueued = ptClient->tQueued;
  switch (tStages.dwStage) {
    case kBegin:
      ptInfo->pRecvBuffer = tStages.acScratch;
      ptInfo->dwRecvSize = sizeof(tStages.acScratch);
      if (tQueued.dwOperation == 1) {
        BeginOperation(ptClient, HTTPCLIENT_OP_TUNNEL_REQUEST,
                       tQueued.dwTimeout != 0 ? tQueued.dwTimeout : kDefaultSendWaitUs);
        if (tQueued.iSocket < 0) {
          *pr = HTTPCLIENT_E_NO_SOCKET;
          return true;
        }
        tStages.dwSent = 0;
        tStages.dwStage = kRawSend;
        break;
      }
      BeginOperation(ptClient, HTTPCLIENT_OP_TUNNEL_REQUEST,
                     tQueued.dwTimeout != 0 ? tQueued.dwTimeout : TunnelBudget(ptInfo));
      EnterStage(&tStages, kRequest, UINT64_MAX);
      *pr = namreg::HTTPClient_ComposeTunnelRequest(ptClient, ptInfo, &tQueued);
      return *pr != HTTPCLIENT_OK;
    case kRequest:
      if (!namreg::HTTPClient_InnerStep(ptClient, ptInfo, pr)) return false;
      ClearRequestBody(ptInfo);
      return true;
    case kRawSend:
      break;
    default:
      *pr = HTTPCLIENT_E_STATE_RANGE;
      return true;
  }
  *pr = RawSendStep(ptClient, tQueued);
  return *pr != HTTPCLIENT_I_NOT_READY;
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
  // Tunnels hand plain sockets over: a client set to TLS refuses them.
  const uint32_t dwTls = namreg::HTTPClient_TlsRefusal(ptClient, true);
  if (dwTls != HTTPCLIENT_OK) return dwTls;
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
  adwSeed[7] ^= static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(ClockMonotonicMs());
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
  uint32_t r = HTTPClient_InnerStart(ptClient, ptInfo, HTTPCLIENT_METHOD_POST);
  if (r != HTTPCLIENT_OK) ClearRequestBody(ptInfo);
  return r;
}

uint32_t HTTPClient_SendStep(int fd, const char *pData, uint32_t dwLength, uint32_t *pdwSent,
                             uint64_t dwWaitMs) {
  if (fd < 0) return HTTPCLIENT_E_NO_SOCKET;
  if (pData == nullptr || dwLength == 0) return HTTPCLIENT_E_SEND_ARGS;
  if (*pdwSent >= dwLength) return HTTPCLIENT_OK;
  const int ready = fdutil::WaitOne(fd, true, MsToTimeval(dwWaitMs));
  if (ready < 0) return HTTPCLIENT_E_SELECT;
  if (ready == 0) return HTTPCLIENT_I_NOT_READY;
  // Never blocks, whatever mode the caller's socket is in.
  const ssize_t n = send(fd, pData + *pdwSent, dwLength - *pdwSent, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n < 0) {
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return HTTPCLIENT_I_WOULD_BLOCK;
    return HTTPCLIENT_E_SEND;
  }
  *pdwSent += static_cast<uint32_t>(n);
  return *pdwSent >= dwLength ? HTTPCLIENT_OK : HTTPCLIENT_I_NOT_READY;
}

uint32_t HTTPClient_SendAllOn(int fd, const char *pData, uint32_t dwLength, uint32_t dwTimeoutUs) {
  if (fd < 0) return HTTPCLIENT_E_NO_SOCKET;
  if (pData == nullptr || dwLength == 0) return HTTPCLIENT_E_SEND_ARGS;
  const Deadline deadline =
      Deadline::AfterMs((dwTimeoutUs != 0 ? dwTimeoutUs : kDefaultSendWaitUs) / 1000u);
  uint32_t dwSent = 0;
  for (;;) {
    const uint64_t left = deadline.LeftMs();
    if (left == 0) return HTTPCLIENT_E_SEND_TIMEOUT;
    const uint32_t r = HTTPClient_SendStep(fd, pData, dwLength, &dwSent, left);
    if (r == HTTPCLIENT_I_WOULD_BLOCK) {
      const uint64_t pause = deadline.LeftMs();
      ClockSleepMs(pause < kBusyPauseMs ? pause : kBusyPauseMs);
    } else if (r != HTTPCLIENT_I_NOT_READY) {
      return r;
    }
  }
}

uint32_t HTTPClient_ReceiveAnswerStep(int fd, char *pBuffer, uint32_t dwLength, uint32_t *pdwHave,
                                      uint64_t dwWaitMs) {
  if (fd < 0) return HTTPCLIENT_E_NO_SOCKET;
  if (pBuffer == nullptr) return HTTPCLIENT_E_RECV_ARGS;
  if (*pdwHave >= dwLength) return HTTPCLIENT_OK;
  const int ready = fdutil::WaitOne(fd, false, MsToTimeval(dwWaitMs));
  if (ready < 0) return HTTPCLIENT_E_SELECT;
  if (ready == 0) return HTTPCLIENT_I_NOT_READY;
  const ssize_t n = recv(fd, pBuffer + *pdwHave, dwLength - *pdwHave, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n == 0) return HTTPCLIENT_E_TUNNEL_CLOSED;
  if (n < 0) {
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return HTTPCLIENT_I_WOULD_BLOCK;
    return HTTPCLIENT_E_RECV;
  }
  *pdwHave += static_cast<uint32_t>(n);
  return *pdwHave >= dwLength ? HTTPCLIENT_OK : HTTPCLIENT_I_NOT_READY;
}

uint32_t HTTPClient_ReceiveAnswer(int fd, char *pBuffer, uint32_t dwLength, uint32_t dwTimeoutMs) {
  if (fd < 0) return HTTPCLIENT_E_NO_SOCKET;
  if (pBuffer == nullptr) return HTTPCLIENT_E_RECV_ARGS;
  const Deadline deadline = Deadline::AfterMs(dwTimeoutMs);
  uint32_t dwHave = 0;
  while (dwHave < dwLength) {
    const uint64_t left = deadline.LeftMs();
    if (left == 0) return HTTPCLIENT_I_TUNNEL_NO_ANSWER;
    const uint32_t r = HTTPClient_ReceiveAnswerStep(fd, pBuffer, dwLength, &dwHave, left);
    if (r == HTTPCLIENT_I_WOULD_BLOCK) {
      const uint64_t pause = deadline.LeftMs();
      ClockSleepMs(pause < kBusyPauseMs ? pause : kBusyPauseMs);
    } else if (r != HTTPCLIENT_I_NOT_READY && r != HTTPCLIENT_OK) {
      return r;
    }
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
  HTTPClientStages &tStages = ptClient->tStages;
  const HTTPClientTunnelRequest &tQueued = ptClient->tQueued;
  if (tStages.dwStage == kBegin) {
    BeginOperation(ptClient, HTTPCLIENT_OP_SEND_QUEUED,
                   tQueued.dwTimeout != 0 ? tQueued.dwTimeout : kDefaultSendWaitUs);
    tStages.dwSent = 0;
    tStages.dwStage = kRawSend;
  }
  uint32_t r = RawSendStep(ptClient, tQueued);
  if (r == HTTPCLIENT_I_NOT_READY) return r;
  HTTPClient_EndWithEvent(
      ptClient, r == HTTPCLIENT_OK ? HTTPCLIENT_EVENT_SEND_DONE : HTTPCLIENT_EVENT_SEND_FAILED, &r);
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_StateTunnelOpen(HTTPClientContext *ptClient) {
  HTTPClientInfo *ptInfo = &ptClient->tInfoCopy;
  uint32_t r = HTTPCLIENT_OK;
  if (!TunnelOpenStep(ptClient, ptInfo, &r)) return HTTPCLIENT_I_NOT_READY;
  HTTPClientInfo *const ptCaller = ptClient->tStages.ptCaller;
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
  HTTPClientInfo *ptInfo = &ptClient->tInfoCopy;
  uint32_t r = HTTPCLIENT_OK;
  if (!TunnelRequestStep(ptClient, ptInfo, &r)) return HTTPCLIENT_I_NOT_READY;
  ptInfo->pRecvBuffer = nullptr;
  ptInfo->dwRecvSize = 0;
  ptClient->dwMode = HTTPCLIENT_MODE_ASYNC;
  ptClient->pCallerInfo = ptClient->tStages.ptCaller;
  HTTPClient_EndWithEvent(
      ptClient, IsError(r) ? HTTPCLIENT_EVENT_REQUEST_FAILED : HTTPCLIENT_EVENT_REQUEST_DONE, &r);
  return HTTPCLIENT_OK;
}

void HTTPClient_DropStages(HTTPClientContext *ptClient, bool bAbandon) {
  HTTPClientStages &tStages = ptClient->tStages;
  HTTPClientInfo &tInfo = ptClient->tInfoCopy;
  if (bAbandon && tStages.dwStage != kBegin) {
    // Channels of an unfinished tunnel open were never handed over.
    if (tStages.dwOperation == HTTPCLIENT_OP_TUNNEL_OPEN) {
      CloseFd(&tInfo.iTunnelGetSocket);
      CloseFd(&tInfo.iTunnelPostSocket);
    }
    tInfo.pRecvBuffer = nullptr;
    tInfo.dwRecvSize = 0;
    ClearRequestBody(&tInfo);
  }
  memset(&tStages, 0, sizeof(tStages));
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
  const uint32_t dwTls = namreg::HTTPClient_TlsRefusal(ptClient, true);
  if (dwTls != HTTPCLIENT_OK) return dwTls;
  if (strchr(ptInfo->szURI, '?') == nullptr) return HTTPCLIENT_E_URI;
  const uint32_t r = namreg::HTTPClient_CheckRequestTexts(ptInfo, false);
  if (r != HTTPCLIENT_OK) return r;
  ptInfo->iTunnelGetSocket = -1;
  ptInfo->iTunnelPostSocket = -1;
  StoreInfo(ptClient, ptInfo);
  namreg::HTTPClient_DropStages(ptClient, false);
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
  const uint32_t dwTls = namreg::HTTPClient_TlsRefusal(ptClient, true);
  if (dwTls != HTTPCLIENT_OK) return dwTls;
  // A tunnelled request carries the info's host, URI and credentials in a
  // header block of the library's own; a raw send carries none of them.
  if (ptRequest->dwOperation != 1) {
    const uint32_t r = namreg::HTTPClient_CheckRequestTexts(ptInfo, true);
    if (r != HTTPCLIENT_OK) return r;
  }
  StoreInfo(ptClient, ptInfo);
  namreg::HTTPClient_DropStages(ptClient, false);
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
  const uint32_t dwTls = namreg::HTTPClient_TlsRefusal(ptClient, true);
  if (dwTls != HTTPCLIENT_OK) return dwTls;
  if (ptClient->dwMode != HTTPCLIENT_MODE_ASYNC)
    return namreg::HTTPClient_SendAllOn(ptRequest->iSocket, ptRequest->pData,
                                        ptRequest->dwDataLength, ptRequest->dwTimeout);
  if (!Idle(ptClient)) return NotIdleCode(ptClient);
  ptClient->tQueued = *ptRequest;
  namreg::HTTPClient_DropStages(ptClient, false);
  ptClient->dwOperation = HTTPCLIENT_OP_SEND_QUEUED;
  return HTTPCLIENT_OK;
}

}  // extern "C"
