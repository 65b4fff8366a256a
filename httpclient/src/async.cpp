// SPDX-License-Identifier: MIT
// Asynchronous operation: the entries that start an exchange for a host's
// event loop, the one-step driver with its table of handler results, and
// the abort.
#include <stdlib.h>
#include <string.h>

#include "httpclient_internal.h"

namespace {

bool IsError(uint32_t r) {
  return (r & 0xFF000000u) == 0x80000000u;
}
bool IsInfo(uint32_t r) {
  return (r & 0xFFFF0000u) == 0x70010000u;
}

// What follows an event.
enum class After : uint8_t {
  kNothing,      // the exchange goes on
  kFinish,       // state 8, finish
  kRetry,        // 401 / 407: reconnect with credentials
  kComplete,     // body complete (the filtered GET may go on)
  kStatus,       // event from the status index
  kTunnelGetUp,  // hand the GET socket over, connect the POST channel
  kTunnelPostUp  // hand the POST socket over, finish
};

enum class Match : uint8_t { kExact, kAnyError, kAnyInfo };

constexpr uint32_t kNoEvent = 0xFFFFFFFFu;

struct EventRule {
  Match eMatch;
  uint32_t dwResult;
  uint32_t dwEvent;
  After eAfter;
};

// Handler result -> event and what follows; the first rule that matches
// decides, results that no rule matches send nothing.
constexpr EventRule kEventRules[] = {
    {Match::kExact, HTTPCLIENT_E_HTTP_401, HTTPCLIENT_EVENT_SERVER_AUTH, After::kRetry},
    {Match::kExact, HTTPCLIENT_E_HTTP_407, HTTPCLIENT_EVENT_PROXY_AUTH, After::kRetry},
    {Match::kExact, HTTPCLIENT_E_CONNECT_TIMEOUT, HTTPCLIENT_EVENT_CONNECT_TIMEOUT, After::kFinish},
    {Match::kExact, HTTPCLIENT_E_SEND_TIMEOUT, HTTPCLIENT_EVENT_SEND_TIMEOUT, After::kFinish},
    {Match::kExact, HTTPCLIENT_E_RECV_TIMEOUT, HTTPCLIENT_EVENT_RECV_TIMEOUT, After::kFinish},
    {Match::kExact, HTTPCLIENT_E_ASYNC_BUFFER, HTTPCLIENT_EVENT_NO_BUFFER, After::kFinish},
    {Match::kExact, HTTPCLIENT_E_HTTP_STATUS, HTTPCLIENT_EVENT_UNKNOWN_STATUS, After::kFinish},
    {Match::kAnyError, 0, HTTPCLIENT_EVENT_FAILURE, After::kFinish},
    {Match::kExact, HTTPCLIENT_I_STATUS_KNOWN, HTTPCLIENT_EVENT_UNKNOWN_STATUS, After::kStatus},
    {Match::kExact, HTTPCLIENT_I_PEER_CLOSED, HTTPCLIENT_EVENT_PEER_CLOSED, After::kFinish},
    {Match::kExact, HTTPCLIENT_I_LAST_CHUNK, HTTPCLIENT_EVENT_COMPLETE, After::kComplete},
    {Match::kExact, HTTPCLIENT_I_CONTENT_COMPLETE, HTTPCLIENT_EVENT_COMPLETE, After::kComplete},
    {Match::kExact, HTTPCLIENT_I_TUNNEL_GET_UP, HTTPCLIENT_EVENT_TUNNEL_GET_UP,
     After::kTunnelGetUp},
    {Match::kExact, HTTPCLIENT_I_TUNNEL_POST_UP, HTTPCLIENT_EVENT_TUNNEL_POST_UP,
     After::kTunnelPostUp},
    // Waits that found nothing to do are part of stepping, not events.
    {Match::kExact, HTTPCLIENT_I_NOT_READY, kNoEvent, After::kNothing},
    {Match::kExact, HTTPCLIENT_I_WOULD_BLOCK, kNoEvent, After::kNothing},
    {Match::kExact, HTTPCLIENT_I_ALREADY_STOPPING, kNoEvent, After::kNothing},
    {Match::kAnyInfo, 0, HTTPCLIENT_EVENT_FAILURE, After::kNothing},
};

const EventRule *FindRule(uint32_t r) {
  for (const EventRule &tRule : kEventRules) {
    bool bMatch = tRule.eMatch == Match::kExact      ? r == tRule.dwResult
                  : tRule.eMatch == Match::kAnyError ? IsError(r)
                                                     : IsInfo(r);
    if (bMatch) return &tRule;
  }
  return nullptr;
}

constexpr uint32_t kMaxAuthRetries = 3;  // new attempts per side after the first

// A new connection for the next attempt after a 401 / 407.
void Reconnect(HTTPClientContext *ptClient) {
  HTTPClient_CloseSocket(ptClient);
  ptClient->dwState = HTTPCLIENT_STATE_CONNECT;
  ptClient->dwPhase = HTTPCLIENT_PHASE_CONNECT;
  HTTPClient_ClearAttempt(ptClient);
  // Each attempt gets whole step budgets.
  ptClient->dwConnectBudget = ptClient->dwConnectReload;
  ptClient->dwSendHeaderBudget = ptClient->dwSendHeaderReload;
  ptClient->dwSendBodyBudget = ptClient->dwSendBodyReload;
  ptClient->dwRecvHeaderBudget = ptClient->dwRecvHeaderReload;
  ptClient->dwRecvBodyBudget = ptClient->dwRecvBodyReload;
}

uint32_t StartAsync(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t dwMethod) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptInfo == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  if (ptClient->dwState == HTTPCLIENT_STATE_START && ptClient->dwOperation == HTTPCLIENT_OP_NONE) {
    ptClient->dwRtspTunnel = 0;
    ptClient->dwHldmTunnel = 0;
  }
  uint32_t r = HTTPClient_Start(ptClient, ptInfo, HTTPCLIENT_MODE_ASYNC, dwMethod);
  if (r == HTTPCLIENT_OK) ptClient->pCallerInfo = ptInfo;
  return r;
}

}  // namespace

namespace namreg {

uint32_t HTTPClient_Notify(HTTPClientContext *ptClient, uint32_t dwEvent, void *pData) {
  if (ptClient->pfnCallback == nullptr) return HTTPCLIENT_OK;
  return ptClient->pfnCallback(ptClient->pCallbackContext, dwEvent, pData, ptClient);
}

void HTTPClient_EndWithEvent(HTTPClientContext *ptClient, uint32_t dwEvent, void *pData) {
  ptClient->dwOperation = HTTPCLIENT_OP_STOP;
  ptClient->dwState = HTTPCLIENT_STATE_FINISH;
  HTTPClient_Notify(ptClient, dwEvent, pData);
  ptClient->dwState = HTTPCLIENT_STATE_FINISH;
  HTTPClient_Finish(ptClient);
  free(ptClient->pSendBuffer);
  ptClient->pSendBuffer = nullptr;
  HTTPClient_DropStages(ptClient, false);
}

}  // namespace namreg

extern "C" {

uint32_t HTTPClient_SetCallback(HTTPClientHandle ptClient, HTTPClientCallback pfnCallback,
                                void *pContext) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (pfnCallback == nullptr) return HTTPCLIENT_E_NO_CALLBACK_FUNC;
  ptClient->pfnCallback = pfnCallback;
  ptClient->pCallbackContext = pContext;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_AsyncGet(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo) {
  return StartAsync(ptClient, ptInfo, HTTPCLIENT_METHOD_GET);
}

uint32_t HTTPClient_AsyncPost(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo) {
  return StartAsync(ptClient, ptInfo, HTTPCLIENT_METHOD_POST);
}

uint32_t HTTPClient_FilteredAsyncGet(HTTPClientHandle ptClient, HTTPClientInfo *ptInfo) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptInfo == nullptr) return HTTPCLIENT_E_INVALID_INFO;
  uint32_t r = StartAsync(ptClient, ptInfo, HTTPCLIENT_METHOD_GET);
  if (r == HTTPCLIENT_OK) ptClient->dwServerFilterRequested = 1;
  return r;
}

uint32_t HTTPClient_Abort(HTTPClientHandle ptClient) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptClient->dwOperation == HTTPCLIENT_OP_STOP) return HTTPCLIENT_I_ALREADY_STOPPING;
  // A stepped tunnel operation may hold channels it has not handed over.
  namreg::HTTPClient_DropStages(ptClient, true);
  ptClient->dwOperation = HTTPCLIENT_OP_STOP;
  ptClient->dwState = HTTPCLIENT_STATE_FINISH;
  HTTPClient_CloseSocket(ptClient);
  HTTPClient_Finish(ptClient);
  free(ptClient->pSendBuffer);
  ptClient->pSendBuffer = nullptr;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_Process(HTTPClientHandle ptClient) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (ptClient->dwState >= HTTPCLIENT_STATE_COUNT) return HTTPCLIENT_E_STATE_RANGE;
  if (ptClient->pfnCallback == nullptr) return HTTPCLIENT_E_NO_CALLBACK;

  // Every wait of this call ends by its slice; a wait that needs longer
  // goes on in the next call.
  ptClient->qwStepEndMs = namreg::ClockMonotonicMs() + HTTPCLIENT_STEP_SLICE_MS;
  uint32_t r = fHTTPClientStateMachineFunc[ptClient->dwState](ptClient);
  ptClient->qwStepEndMs = 0;
  const EventRule *ptRule = FindRule(r);
  if (ptRule == nullptr) return r;
  uint32_t dwResult = r;
  HTTPClientInfo *ptInfo = ptClient->pCallerInfo;
  switch (ptRule->eAfter) {
    case After::kNothing:
      if (ptRule->dwEvent != kNoEvent)
        namreg::HTTPClient_Notify(ptClient, ptRule->dwEvent, &dwResult);
      break;
    case After::kFinish:
      // Time-outs end the exchange too; the next start sets whole budgets.
      namreg::HTTPClient_EndWithEvent(ptClient, ptRule->dwEvent, &dwResult);
      break;
    case After::kRetry: {
      const bool bProxy = r == HTTPCLIENT_E_HTTP_407;
      HTTPClientEndpoint &tSide = bProxy ? ptClient->tProxy : ptClient->tServer;
      if (ptInfo != nullptr)
        (bProxy ? ptInfo->tProxy : ptInfo->tServer).dwAuthScheme = tSide.dwAuthScheme;
      namreg::HTTPClient_Notify(ptClient, ptRule->dwEvent, &tSide);
      if (ptClient->dwOperation != HTTPCLIENT_OP_REQUEST) break;  // aborted by the host
      tSide.szUser[sizeof(tSide.szUser) - 1] = '\0';
      tSide.szPassword[sizeof(tSide.szPassword) - 1] = '\0';
      uint32_t &dwRetries = bProxy ? ptClient->dwProxyRetries : ptClient->dwServerRetries;
      if ((tSide.szUser[0] == '\0' && tSide.szPassword[0] == '\0') ||
          dwRetries >= kMaxAuthRetries) {
        namreg::HTTPClient_EndWithEvent(ptClient, HTTPCLIENT_EVENT_FAILURE, &dwResult);
        break;
      }
      ++dwRetries;
      Reconnect(ptClient);
      break;
    }
    case After::kStatus: {
      uint32_t dwIndex = ptClient->dwStatusIndex;
      uint32_t dwEvent = dwIndex >= 1 && dwIndex <= HTTPCLIENT_STATUS_MAX
                             ? HTTPCLIENT_EVENT_STATUS_BASE + dwIndex
                             : HTTPCLIENT_EVENT_UNKNOWN_STATUS;
      namreg::HTTPClient_Notify(ptClient, dwEvent, &dwIndex);
      break;
    }
    case After::kComplete:
      if (ptClient->dwServerFilterRequested == 1 && ptClient->dwServerFilter == 1 &&
          r == HTTPCLIENT_I_CONTENT_COMPLETE) {
        // The filtered GET reads on until the server closes.
        ptClient->dwContentLengthKnown = 0;
        break;
      }
      namreg::HTTPClient_EndWithEvent(ptClient, ptRule->dwEvent, &dwResult);
      break;
    case After::kTunnelGetUp: {
      int32_t *piSocket =
          ptInfo != nullptr ? &ptInfo->iTunnelGetSocket : &ptClient->tInfoCopy.iTunnelGetSocket;
      *piSocket = ptClient->iSocket;
      ptClient->tInfoCopy.iTunnelGetSocket = ptClient->iSocket;
      ptClient->iSocket = -1;
      ptClient->dwMethod = HTTPCLIENT_METHOD_POST;
      ptClient->dwState = HTTPCLIENT_STATE_CONNECT;
      ptClient->dwPhase = HTTPCLIENT_PHASE_CONNECT;
      ptClient->dwStatusIndex = 0;
      namreg::HTTPClient_Notify(ptClient, ptRule->dwEvent, piSocket);
      break;
    }
    case After::kTunnelPostUp: {
      int32_t *piSocket =
          ptInfo != nullptr ? &ptInfo->iTunnelPostSocket : &ptClient->tInfoCopy.iTunnelPostSocket;
      *piSocket = ptClient->iSocket;
      ptClient->tInfoCopy.iTunnelPostSocket = ptClient->iSocket;
      ptClient->iSocket = -1;
      namreg::HTTPClient_EndWithEvent(ptClient, ptRule->dwEvent, piSocket);
      break;
    }
  }
  return r;
}

}  // extern "C"
