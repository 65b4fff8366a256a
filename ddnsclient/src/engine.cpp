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

// Seconds left of the operation's budget, rounded up and at least 1: the
// routines' nominal time-out (their exchanges end by the deadline itself).
uint32_t SecondsLeft(const namreg::Deadline &deadline) {
  const uint32_t left = deadline.LeftSecondsRoundedUp();
  return left != 0 ? left : 1;
}

// The current address text as an address; 0 when it is not a plain dotted
// quad (empty included).
uint32_t CurrentAddress(const DDNSClientContext *context) {
  struct in_addr parsed;
  if (inet_pton(AF_INET, context->szCurrentIP, &parsed) != 1) return 0;
  return parsed.s_addr;
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
  // One budget for the whole operation, the settings step's lookup of a
  // changed host name included.
  const uint32_t timeout = timeout_seconds != 0 ? timeout_seconds : kDefaultTimeoutSeconds;
  const namreg::Deadline deadline(timeout);
  const namreg::OperationBudget budget(context, deadline);
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
  const bool external = context->dwPublicIPSource == kExternalAddress;

  // The address step: each check-IP call gets what is left of the budget.
  uint32_t check_ip = DDNSCLIENT_E_FAIL;
  bool timed_out = false;
  for (int i = 0; i < kCheckIPAttempts; ++i) {
    if (deadline.Expired()) {
      timed_out = true;
      break;
    }
    if (external || row.pfnCheckIP == nullptr) break;
    context->dwNetworkTimeout = SecondsLeft(deadline);
    check_ip = row.pfnCheckIP(context);
    if (check_ip == DDNSCLIENT_OK) break;
  }
  // The attempt counts from here on, whatever follows, so that a host
  // program asking DDNSClient_IsTimeToUpdate waits its interval.
  namreg::DDNSClient_RecordAttempt(context, provider);
  // An address the step did not find is never reported as unchanged.
  const bool found = external || check_ip == DDNSCLIENT_OK;
  if (timed_out) {
    context->dwNetworkTimeout = timeout;
    return external ? DDNSCLIENT_E_FAIL : DDNSCLIENT_E_NO_PUBLIC_IP;
  }

  const uint32_t current = CurrentAddress(context);
  if (current == 0) {
    fputs("[DDNSClient_Update] Invalid current IP: ", stdout);
    namreg::PutEscaped(stdout, context->szCurrentIP);
    fputs("\r\n", stdout);
    context->dwNetworkTimeout = timeout;
    return DDNSCLIENT_E_NO_PUBLIC_IP;
  }
  const bool announce_port = settings->wHTTPAlternativePort != 80 && settings->dwPortChanged == 1;
  if (current == context->dwLastIP && !announce_port) {
    context->dwNetworkTimeout = timeout;
    if (!found) return DDNSCLIENT_E_NO_PUBLIC_IP;
    *address = context->dwLastIP;
    return DDNSCLIENT_I_IP_UNCHANGED;
  }
  // The update gets what is left.
  context->dwNetworkTimeout = SecondsLeft(deadline);
  const uint32_t update = row.pfnUpdate(context);
  context->dwNetworkTimeout = timeout;
  namreg::DDNSClient_RecordAttempt(context, provider);
  if (!found) return DDNSCLIENT_E_NO_PUBLIC_IP;
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
  const uint32_t provider = context->dwServiceProvider;
  if (provider >= DDNSCLIENT_PROVIDER_COUNT) return 0;
  if (!context->abUpdateAttempted[provider]) return 1;  // never updated
  // The time since the attempt, right across a wrap of the tick.
  const uint32_t elapsed =
      namreg::TickElapsedMs(context->adwLastUpdateTick[provider], DDNSClient_GetTickMs());
  return static_cast<uint64_t>(elapsed) <= 60000ull * context->dwUpdateInterval ? 0 : 1;
}

extern "C" uint32_t DDNSClient_GetPublicIP(DDNSClientContext *context, uint32_t timeout_seconds,
                                           uint32_t *address, uint32_t mode) {
  if (context == nullptr || address == nullptr || timeout_seconds == 0) {
    puts("[DDNSClient_GetPublicIP] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  const namreg::Deadline deadline(timeout_seconds);
  const namreg::OperationBudget budget(context, deadline);
  context->dwNetworkTimeout = timeout_seconds;
  context->dwCheckIPSlot = mode & 3u;
  const uint32_t result = DDNSClient_CheckIP_General(context);
  if (result == DDNSCLIENT_OK) *address = inet_addr(context->szCurrentIP);
  return result;
}
