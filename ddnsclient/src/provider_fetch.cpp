// SPDX-License-Identifier: MIT
// The provider HTTP exchange: one GET through the context's HTTP client into
// the context's response buffer, the variant that insists on a genuine
// Huagai server, the check-IP fetch, and HTTP client codes as DDNS codes.
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "ddnsclient_internal.h"
#include "provider_internal.h"

namespace {

constexpr uint32_t kDefaultTimeoutSeconds = 20;
constexpr uint32_t kHuagaiProvider = 30;
constexpr uint32_t kHuagaiRetryMs = 3000;
constexpr size_t kMaxHostLength = 32;
constexpr size_t kMaxPathLength = 1024;
constexpr size_t kMaxUserAgentLength = 32;
// The HTTP client resolves a host name only with a whole second left.
constexpr uint64_t kLeastAskMs = 1000;
// The HTTP client's refusal of a request text holding a control byte, or
// of a Basic user name holding ':': bad settings, not a network failure.
constexpr uint32_t kHTTPUnsafeText = HTTPCLIENT_E_UNSAFE_TEXT;

// DDNS result of the HTTP client results 0x80010111 (status 400) to
// 0x80010126 (status 503).
constexpr uint32_t kHTTPStatusFirst = HTTPCLIENT_E_HTTP_STATUS + 0x11u;
constexpr uint32_t kHTTPStatusResults[] = {
    DDNSCLIENT_E_HTTP_400,          // 400
    DDNSCLIENT_E_AUTH,              // 401
    DDNSCLIENT_E_NETWORK,           // 402
    DDNSCLIENT_E_NETWORK,           // 403
    DDNSCLIENT_E_UNKNOWN_RESPONSE,  // 404
    DDNSCLIENT_E_NETWORK,           // 405
    DDNSCLIENT_E_NETWORK,           // 406
    DDNSCLIENT_E_NETWORK,           // 407
    DDNSCLIENT_E_NETWORK,           // 408
    DDNSCLIENT_E_NETWORK,           // 409
    DDNSCLIENT_E_NETWORK,           // 410
    DDNSCLIENT_E_NETWORK,           // 411
    DDNSCLIENT_E_NETWORK,           // 412
    DDNSCLIENT_E_UNKNOWN_RESPONSE,  // 413
    DDNSCLIENT_E_NETWORK,           // 414
    DDNSCLIENT_E_NETWORK,           // 415
    DDNSCLIENT_E_NETWORK,           // 416
    DDNSCLIENT_E_NETWORK,           // 417
    DDNSCLIENT_E_SERVER_DNS,        // 500
    DDNSCLIENT_E_NETWORK,           // 501
    DDNSCLIENT_E_NETWORK,           // 502
    DDNSCLIENT_E_SERVER_DNS,        // 503
};
static_assert(sizeof kHTTPStatusResults / sizeof kHTTPStatusResults[0] == 22,
              "one entry per status from 400 to 503");

bool IsFailure(uint32_t result) {
  return (result >> 24) == 0x80u;
}

uint32_t TimeoutOf(const DDNSClientContext *context) {
  return context->dwNetworkTimeout != 0 ? context->dwNetworkTimeout : kDefaultTimeoutSeconds;
}

// Clears the response buffer and fills `info` for a GET of host:port/path
// into it, with the context's credentials when use_auth is 1.  The GET may
// take `timeout_seconds`, cut to what is left of the operation's budget;
// none left is a network failure, with nothing sent.
uint32_t PrepareFetch(DDNSClientContext *context, HTTPClientInfo *info, const char *host,
                      uint16_t port, const char *path, uint32_t timeout_seconds, uint32_t use_auth,
                      const char *user_agent) {
  memset(context->szResponse, 0, sizeof context->szResponse);
  // HTTPS where the context asks for it and the host offers it (on the
  // host's HTTPS port); everything else as the provider's table says.
  const bool tls = namreg::FetchOverTls(context, host, &port);
  if (tls && context->dwTLSRefusal != DDNSCLIENT_OK) return context->dwTLSRefusal;
  uint32_t result =
      DDNSClient_MakeUpHTTPClientInfo(info, host, port, path, user_agent, timeout_seconds,
                                      context->szResponse, DDNSCLIENT_RESPONSE_SIZE);
  if (result != DDNSCLIENT_OK) return result;
  if (context->dwTLSMode != DDNSCLIENT_TLS_OFF) {
    HTTPClientTLSOptions options;
    memset(&options, 0, sizeof options);
    options.dwEnable = tls ? 1u : 0u;
    memcpy(options.szCAFile, context->szTLSCAFile, sizeof options.szCAFile);
    result = HTTPClient_SetTLS(context->pHTTPClient, &options);
    if (result != HTTPCLIENT_OK) return DDNSClient_MapHTTPError(result);
  }
  const uint64_t budget_us = namreg::DDNSClient_ExchangeBudgetMs(context, timeout_seconds) * 1000u;
  if (budget_us == 0) return DDNSCLIENT_E_NETWORK;
  if (budget_us < info->dwTotalTimeout) info->dwTotalTimeout = static_cast<uint32_t>(budget_us);
  if (use_auth == 1) {
    DDNSClient_CopyText(info->tServer.szUser, context->szUserName, sizeof context->szUserName);
    DDNSClient_CopyText(info->tServer.szPassword, context->szPassword, sizeof context->szPassword);
  }
  return DDNSCLIENT_OK;
}

}  // namespace

extern "C" uint32_t DDNSClient_MapHTTPError(uint32_t result) {
  // A text the client refused is a bad setting; its TLS refusals have codes
  // of their own, the certificate ones told apart.
  switch (result) {
    case kHTTPUnsafeText:
      return DDNSCLIENT_E_INVALID_ARGS;
    case HTTPCLIENT_E_TLS_NOT_BUILT:
      return DDNSCLIENT_E_TLS_NOT_BUILT;
    case HTTPCLIENT_E_TLS_CA_FILE:
      return DDNSCLIENT_E_TLS_CA_FILE;
    case HTTPCLIENT_E_TLS_SETUP:
    case HTTPCLIENT_E_TLS_VERSION:
    case HTTPCLIENT_E_TLS_HANDSHAKE:
    case HTTPCLIENT_E_TLS_RECORD:
    case HTTPCLIENT_E_TLS_TUNNEL:
      return DDNSCLIENT_E_TLS;
    case HTTPCLIENT_E_TLS_CERT_UNTRUSTED:
      return DDNSCLIENT_E_CERT_UNTRUSTED;
    case HTTPCLIENT_E_TLS_CERT_EXPIRED:
      return DDNSCLIENT_E_CERT_EXPIRED;
    case HTTPCLIENT_E_TLS_CERT_NAME:
      return DDNSCLIENT_E_CERT_NAME;
    case HTTPCLIENT_E_TLS_CERT_REFUSED:
      return DDNSCLIENT_E_CERT_REFUSED;
    default:
      break;
  }
  const uint32_t index = result - kHTTPStatusFirst;
  if (result < kHTTPStatusFirst ||
      index >= sizeof kHTTPStatusResults / sizeof kHTTPStatusResults[0])
    return DDNSCLIENT_E_NETWORK;
  return kHTTPStatusResults[index];
}

extern "C" uint32_t DDNSClient_MakeUpHTTPClientInfo(HTTPClientInfo *info, const char *host,
                                                    uint16_t port, const char *path,
                                                    const char *user_agent,
                                                    uint32_t timeout_seconds, char *buffer,
                                                    uint32_t buffer_size) {
  // A host or path that the record cannot hold whole would send the request
  // somewhere else; it is refused rather than cut.
  if (info == nullptr || (host != nullptr && strlen(host) > kMaxHostLength) ||
      (path != nullptr && strlen(path) > kMaxPathLength)) {
    puts("[DDNSClient_MakeUpHTTPClientInfo] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  memset(info, 0, sizeof *info);
  if (host != nullptr) DDNSClient_CopyText(info->tServer.szHost, host, kMaxHostLength + 1);
  info->tServer.dwPort = port;
  if (path != nullptr) DDNSClient_CopyText(info->szURI, path, kMaxPathLength + 1);
  if (user_agent != nullptr)
    DDNSClient_CopyText(info->szUserAgent, user_agent, kMaxUserAgentLength + 1);
  info->pRecvBuffer = buffer;
  info->dwRecvSize = buffer_size;
  // Large budgets saturate instead of wrapping to a short one.
  const uint32_t limit = 0xFFFFFFFFu / 1000000u;
  info->dwTotalTimeout = timeout_seconds > limit ? 0xFFFFFFFFu : timeout_seconds * 1000000u;
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_Communicate(DDNSClientContext *context, const char *host,
                                           uint16_t port, const char *path,
                                           uint32_t timeout_seconds, uint32_t use_auth,
                                           const char *user_agent) {
  if (context == nullptr || host == nullptr || host[0] == '\0' || path == nullptr ||
      path[0] == '\0') {
    puts("[DDNSClient_Communicate] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  HTTPClientInfo info;
  uint32_t result =
      PrepareFetch(context, &info, host, port, path, timeout_seconds, use_auth, user_agent);
  if (result != DDNSCLIENT_OK) return result;
  result = HTTPClient_Get(context->pHTTPClient, &info);
  if (IsFailure(result)) {
    printf("[DDNSClient_Communicate] HTTP get failed with error: %8x\r\n",
           static_cast<unsigned>(result));
    return DDNSClient_MapHTTPError(result);
  }
  return info.dwRecvSize != 0 ? DDNSCLIENT_OK : DDNSCLIENT_E_NETWORK;
}

extern "C" uint32_t DDNSClient_HuagaiCommunicate(DDNSClientContext *context, const char *host,
                                                 uint16_t port, const char *path,
                                                 uint32_t timeout_seconds, uint32_t use_auth,
                                                 const char *user_agent) {
  if (context == nullptr || host == nullptr || host[0] == '\0' || path == nullptr ||
      path[0] == '\0') {
    puts("[DDNSClient_HuagaiCommunicate] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  // One deadline for every round and every pause between rounds, within
  // the operation's own.
  const namreg::Deadline deadline =
      namreg::Deadline::AfterMs(namreg::DDNSClient_ExchangeBudgetMs(context, timeout_seconds));
  const namreg::OperationBudget budget(context, deadline);
  bool fake_seen = false;
  for (;;) {
    // After a fake reply, a budget that cannot hold another ask ends the
    // wait for a genuine server.
    if (fake_seen && deadline.LeftMs() < kLeastAskMs) {
      puts("[DDNSClient_HuagaiCommunicate] timeout caused by fake server\r");
      return DDNSCLIENT_E_REPLY_TIMEOUT;
    }
    HTTPClientInfo info;
    uint32_t result =
        PrepareFetch(context, &info, host, port, path, timeout_seconds, use_auth, user_agent);
    if (result != DDNSCLIENT_OK) return result;
    result = HTTPClient_Get(context->pHTTPClient, &info);
    if (IsFailure(result)) {
      printf("[DDNSClient_HuagaiCommunicate] HTTP get failed with error: %8x\r\n",
             static_cast<unsigned>(result));
      if (fake_seen && deadline.Expired()) return DDNSCLIENT_E_REPLY_TIMEOUT;
      return DDNSClient_MapHTTPError(result);
    }
    if (info.dwRecvSize == 0) return DDNSCLIENT_E_NETWORK;
    char value[24];
    uint32_t length = sizeof value;
    // A value that fills the buffer is left unterminated: compare by length.
    if (HTTPClient_GetHeaderValue(&info, "Http-Code-By", value, &length) == 0 && length == 6 &&
        memcmp(value, "HGDDNS", 6) == 0)
      return DDNSCLIENT_OK;
    fake_seen = true;
    const uint64_t rest = deadline.LeftMs();
    namreg::ClockSleepMs(rest < kHuagaiRetryMs ? rest : kHuagaiRetryMs);
  }
}

extern "C" uint32_t DDNSClient_UpdateRoutine(DDNSClientContext *context, const char *host,
                                             uint16_t port, const char *path, uint32_t use_auth,
                                             const char *user_agent) {
  if (context == nullptr || host == nullptr || path == nullptr || user_agent == nullptr) {
    puts("[DDNSClient_UpdateRoutine] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  const uint32_t timeout = TimeoutOf(context);
  if (context->dwServiceProvider == kHuagaiProvider)
    return DDNSClient_HuagaiCommunicate(context, host, port, path, timeout, use_auth, user_agent);
  return DDNSClient_Communicate(context, host, port, path, timeout, use_auth, user_agent);
}

extern "C" uint32_t DDNSClient_CheckIPRoutine(DDNSClientContext *context, const char *host,
                                              uint16_t port, const char *path, const char *marker,
                                              const char *user_agent) {
  if (context == nullptr || host == nullptr || path == nullptr || user_agent == nullptr) {
    puts("[DDNSClient_CheckIPRoutine] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  uint32_t result =
      DDNSClient_Communicate(context, host, port, path, TimeoutOf(context), 0, user_agent);
  if (result != DDNSCLIENT_OK) return result;
  // Only a well-formed dotted address replaces the current one.
  char address[16];
  in_addr parsed;
  if (DDNSClient_GetIP(context->szResponse, marker, address) != 0 ||
      inet_pton(AF_INET, address, &parsed) != 1) {
    puts("[DDNSClient_CheckIPRoutine] Get IP failed\r");
    return DDNSCLIENT_E_FAIL;
  }
  DDNSClient_CopyText(context->szCurrentIP, address, sizeof context->szCurrentIP);
  return DDNSCLIENT_OK;
}
