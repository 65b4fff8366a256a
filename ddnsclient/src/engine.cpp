// SPDX-License-Identifier: MIT
// The periodic update engine: learn the public address through the
// provider's check-IP routine (or take the external one), and run the
// provider's update routine when it differs from the last address reported.
#include <arpa/inet.h>
#include <stdio.h>

#include "ddnsclient_internal.h"

namespace {

constexpr uint32_t kDefaultTimeoutSeconds = 20;
constexpr int kCheckIPAttempts = 4;
constexpr uint32_t kExternalAddress = 2;

// Seconds left of the budget (at least 1, so a routine always has a
// non-zero network time-out); false when the budget is used up.
bool Remaining(uint32_t start, uint32_t timeout, uint32_t *left) {
  uint32_t elapsed = 0;
  if (DDNSClient_IsTimeout(start, timeout, &elapsed)) return false;
  *left = timeout > elapsed ? timeout - elapsed : 1;
  return true;
}

}  // namespace

extern "C" uint32_t DDNSClient_Update(DDNSClientContext *context,
                                      const DDNSClientSettings *settings, uint32_t timeout_seconds,
                                      uint32_t *address) {
  if (context == nullptr || settings == nullptr || address == nullptr) {
    puts("[DDNSClient_Update] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (settings->dwEnable != 1) {
    puts("[DDNSClient_Update] DDNS disable\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (settings->dwServiceProvider == DDNSCLIENT_PROVIDER_PEANUTHULL) {
    puts(
        "[DDNSClient_Update] Please call DDNSClient_PeanutHullRegister or "
        "DDNSClient_PeanutHullUpdate\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (settings->dwServiceProvider == DDNSCLIENT_PROVIDER_MEGACHIPS) {
    puts("[DDNSClient_Update] Please call DDNSClient_MegaChipsProcess\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (namreg::DDNSClient_TakeUpdateSettings("DDNSClient_Update", context, settings) !=
      DDNSCLIENT_OK)
    return DDNSCLIENT_E_INVALID_ARGS;
  const uint32_t provider = context->dwServiceProvider;
  // Settings without the provider leave the context's; only a provider of
  // the table with an update routine is run.
  if (provider >= DDNSCLIENT_PROVIDER_COUNT || g_tDDNSServiceInfo[provider].pfnUpdate == nullptr ||
      provider == DDNSCLIENT_PROVIDER_PEANUTHULL || provider == DDNSCLIENT_PROVIDER_MEGACHIPS) {
    printf("[DDNSClient_Update] Invalid service provider %d\r\n", static_cast<int>(provider));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  const DDNSServiceInfo &row = g_tDDNSServiceInfo[provider];
  const uint32_t timeout = timeout_seconds != 0 ? timeout_seconds : kDefaultTimeoutSeconds;
  const uint32_t start = DDNSClient_GetTickMs();
  const bool external = context->dwPublicIPSource == kExternalAddress;

  // The address step: each check-IP call gets what is left of the budget.
  uint32_t check_ip = DDNSCLIENT_E_FAIL;
  uint32_t update = DDNSCLIENT_E_FAIL;
  bool timed_out = false;
  uint32_t left = timeout;
  for (int i = 0; i < kCheckIPAttempts; ++i) {
    if (!Remaining(start, timeout, &left)) {
      timed_out = true;
      break;
    }
    if (external || row.pfnCheckIP == nullptr) break;
    context->dwNetworkTimeout = left;
    check_ip = row.pfnCheckIP(context);
    if (check_ip == DDNSCLIENT_OK) break;
  }

  uint32_t current = 0;
  if (!timed_out) {
    struct in_addr parsed;
    if (inet_aton(context->szCurrentIP, &parsed) == 0 || parsed.s_addr == 0) {
      printf("[DDNSClient_Update] Invalid current IP: %s\r\n", context->szCurrentIP);
      context->dwNetworkTimeout = timeout;
      return DDNSCLIENT_E_FAIL;
    }
    current = parsed.s_addr;
    const bool announce_port = settings->wHTTPAlternativePort != 80 && settings->dwPortChanged == 1;
    if (current == context->dwLastIP && !announce_port) {
      context->adwLastUpdateTick[provider] = DDNSClient_GetTickMs();
      *address = context->dwLastIP;
      context->dwNetworkTimeout = timeout;
      return DDNSCLIENT_I_IP_UNCHANGED;
    }
    // The update gets what is left, but never less than one second.
    Remaining(start, timeout, &left);
    context->dwNetworkTimeout = left;
    update = row.pfnUpdate(context);
  }
  context->dwNetworkTimeout = timeout;
  context->adwLastUpdateTick[provider] = DDNSClient_GetTickMs();
  if (!external && check_ip != DDNSCLIENT_OK) return DDNSCLIENT_E_NO_PUBLIC_IP;
  if (update == DDNSCLIENT_OK || update == DDNSCLIENT_E_NO_CHANGE) {
    context->dwLastIP = current;
    *address = current;
  }
  return update;
}

extern "C" int DDNSClient_IsTimeToUpdate(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_IsTimeToUpdate] Invalid arguments\r");
    return 0;
  }
  if (context->dwServiceProvider >= DDNSCLIENT_PROVIDER_COUNT) return 0;
  const uint32_t last = context->adwLastUpdateTick[context->dwServiceProvider];
  if (last == 0) return 1;  // never updated
  const uint32_t now = DDNSClient_GetTickMs();
  const uint32_t elapsed = namreg::TickElapsedMs(last, now);
  return static_cast<uint64_t>(elapsed) <= 60000ull * context->dwUpdateInterval ? 0 : 1;
}

extern "C" uint32_t DDNSClient_GetPublicIP(DDNSClientContext *context, uint32_t timeout_seconds,
                                           uint32_t *address, uint32_t mode) {
  if (context == nullptr || address == nullptr || timeout_seconds == 0) {
    puts("[DDNSClient_GetPublicIP] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  context->dwNetworkTimeout = timeout_seconds;
  context->dwCheckIPSlot = mode & 3u;
  const uint32_t result = DDNSClient_CheckIP_General(context);
  if (result == DDNSCLIENT_OK) *address = inet_addr(context->szCurrentIP);
  return result;
}
