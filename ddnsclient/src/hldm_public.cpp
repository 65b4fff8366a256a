// SPDX-License-Identifier: MIT
// The public HLDM operations: take the settings under the context's
// semaphore, then run the exchange outside it, again after network errors
// until the operation's time-out has passed.
#include "ddnsclient_internal.h"
#include "settings_lock.h"

#include <stdio.h>
#include <unistd.h>

namespace {

typedef uint32_t (*SettingsRoutine)(DDNSClientContext *context, const DDNSClientSettings *settings);

// Pause between two attempts after a network error, so that a server that
// refuses at once is not hammered for the whole time-out.
constexpr uint32_t kRetryPauseMs = 1000;

template <typename Attempt>
uint32_t RunWithRetries(DDNSClientContext *context, const DDNSClientSettings *settings,
                        SettingsRoutine take, uint32_t timeout_seconds, uint32_t default_timeout,
                        Attempt attempt) {
  // One budget for the whole operation: the settings step's name check,
  // every attempt and every wait.
  const uint32_t timeout = timeout_seconds != 0 ? timeout_seconds : default_timeout;
  const namreg::Deadline deadline(timeout);
  const namreg::OperationBudget budget(context, deadline);
  uint32_t result;
  {
    SettingsLock lock(context);
    result = take(context, settings);
  }
  if (result != DDNSCLIENT_OK) return result;
  context->dwNetworkTimeout = timeout;
  result = DDNSCLIENT_E_FAIL;
  for (bool first = true;; first = false) {
    if (!first) {
      const uint64_t left = deadline.LeftMs();
      if (left == 0) break;
      namreg::ClockSleepMs(left < kRetryPauseMs ? left : kRetryPauseMs);
    }
    if (deadline.Expired()) break;
    result = attempt(context);
    if (result != DDNSCLIENT_E_NETWORK) break;
  }
  return result;
}

}  // namespace

extern "C" uint32_t DDNSClient_HLDMRegister(DDNSClientContext *context,
                                            const DDNSClientSettings *settings,
                                            uint32_t timeout_seconds,
                                            uint32_t *registered_address) {
  if (context == nullptr || settings == nullptr || registered_address == nullptr) {
    puts("[DDNSClient_HLDMRegister] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (!namreg::DDNSClient_IsHLDMProvider(settings->dwServiceProvider)) {
    printf("[DDNSClient_HLDMRegister] Invalid service provider: %d\r\n",
           static_cast<int>(settings->dwServiceProvider));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  return RunWithRetries(context, settings, DDNSClient_ProcessRegisterSettings, timeout_seconds, 30,
                        [registered_address](DDNSClientContext *c) {
                          return DDNSClient_Register_HLDM(c, registered_address);
                        });
}

extern "C" uint32_t DDNSClient_HLDMRequestKey(DDNSClientContext *context,
                                              const DDNSClientSettings *settings,
                                              uint32_t timeout_seconds) {
  if (context == nullptr || settings == nullptr) {
    puts("[DDNSClient_HLDMRequestKey] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (!namreg::DDNSClient_IsHLDMProvider(settings->dwServiceProvider)) {
    printf("[DDNSClient_HLDMRequestKey] Invalid service provider: %d\r\n",
           static_cast<int>(settings->dwServiceProvider));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  return RunWithRetries(context, settings, DDNSClient_ProcessRequestKeySettings, timeout_seconds,
                        20, DDNSClient_RequestKey_HLDM);
}

extern "C" uint32_t DDNSClient_HLDMCheckHostname(DDNSClientContext *context,
                                                 const DDNSClientSettings *settings,
                                                 uint32_t timeout_seconds) {
  if (context == nullptr || settings == nullptr) return DDNSCLIENT_E_INVALID_ARGS;
  if (!namreg::DDNSClient_IsHLDMProvider(settings->dwServiceProvider)) {
    printf("[DDNSClient_HLDMCheckHostname] Invalid service provider: %d\r\n",
           static_cast<int>(settings->dwServiceProvider));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  return RunWithRetries(context, settings, DDNSClient_ProcessCheckHostNameSettingsEx,
                        timeout_seconds, 20, DDNSClient_CheckHostname_HLDM);
}

extern "C" uint32_t DDNSClient_HLDMOffline(DDNSClientContext *context,
                                           const DDNSClientSettings *settings,
                                           uint32_t timeout_seconds) {
  if (context == nullptr || settings == nullptr) return DDNSCLIENT_E_INVALID_ARGS;
  if (!namreg::DDNSClient_IsHLDMProvider(settings->dwServiceProvider))
    return DDNSCLIENT_E_INVALID_ARGS;
  return RunWithRetries(context, settings, DDNSClient_ProcessCheckHostNameSettings, timeout_seconds,
                        20, DDNSClient_Offline_HLDM);
}
