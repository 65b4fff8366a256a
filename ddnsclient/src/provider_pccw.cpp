// SPDX-License-Identifier: MIT
// PCCW: check-IP and update pages on the configured server, each at its own
// port and path; the update is tried up to three times.
#include <stdio.h>
#include <string.h>

#include "provider_internal.h"

namespace {

constexpr namreg::ReplyKeyword kPCCWReplies[] = {
    {"success", DDNSCLIENT_OK},
    {"auth-fail", DDNSCLIENT_E_AUTH},
};

constexpr uint32_t kPCCWProviders[] = {23};
constexpr int kPCCWAttempts = 3;

// Both PCCW routines need the two ports and the two paths of the server.
bool HasPCCWSettings(const DDNSClientContext *context) {
  return context->wCheckIPPort != 0 && context->wUpdatePort != 0 &&
         context->szProviderText1[0] != '\0' && context->szProviderText2[0] != '\0';
}

}  // namespace

extern "C" uint32_t DDNSClient_ProcessResponse_PCCW(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_ProcessResponse_PCCW");
  const char *body = context->szResponse;
  const uint32_t result = namreg::JudgeReply(body, kPCCWReplies);
  if (result != DDNSCLIENT_E_UNKNOWN_RESPONSE) return result;
  // A failed update names its cause after the failure text.
  const char *failed = namreg::FindKeyword(body, "update-fail");
  if (failed != nullptr && strstr(failed + strlen("update-fail"), "<cause>Host") != nullptr)
    return DDNSCLIENT_E_HOSTNAME;
  return DDNSCLIENT_E_UNKNOWN_RESPONSE;
}

extern "C" uint32_t DDNSClient_Update_PCCW(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_PCCW";
  if (context == nullptr || !HasPCCWSettings(context)) return namreg::InvalidArguments(kName);
  if (!namreg::ServesProvider(context, kPCCWProviders))
    return namreg::InvalidProvider(kName, context);
  char path[namreg::kRequestSize];
  if (!namreg::ComposePathRequest(path, context->szProviderText2,
                                  "?host=%s&addr=%s&username=%s&password=%s", context->szHostName,
                                  context->szCurrentIP, context->szUserName, context->szPassword))
    return namreg::RefusedText(kName);
  // The three attempts share one budget.
  const namreg::RoutineBudget budget(context);
  uint32_t result = DDNSCLIENT_E_FAIL;
  for (int attempt = 0; attempt < kPCCWAttempts; ++attempt) {
    result = namreg::UpdateAndJudge(context, context->szDDNSServerName, context->wUpdatePort, path,
                                    0, DDNSClient_ProcessResponse_PCCW);
    if (result == DDNSCLIENT_OK) break;
  }
  return result;
}

extern "C" uint32_t DDNSClient_CheckIP_PCCW(DDNSClientContext *context) {
  if (context == nullptr || !HasPCCWSettings(context))
    return namreg::InvalidArguments("DDNSClient_CheckIP_PCCW");
  return DDNSClient_CheckIPRoutine(context, context->szDDNSServerName, context->wCheckIPPort,
                                   context->szProviderText1,
                                   "Current IP Address:", context->szFirmwareVersion);
}
