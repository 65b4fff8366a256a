// SPDX-License-Identifier: MIT
// Huagai: the host name travels split into its first label and zone; the
// fetch insists on a genuine server (DDNSClient_HuagaiCommunicate).
#include <stdio.h>

#include "provider_internal.h"

namespace {

constexpr namreg::ReplyKeyword kHuagaiReplies[] = {
    {"good", DDNSCLIENT_OK},           {"badauth", DDNSCLIENT_E_AUTH},
    {"!donator", DDNSCLIENT_E_AUTH},   {"notfqdn", DDNSCLIENT_E_HOSTNAME},
    {"nohost", DDNSCLIENT_E_HOSTNAME}, {"!your", DDNSCLIENT_E_HOSTNAME},
    {"abuse", DDNSCLIENT_E_ABUSE},     {"!active", DDNSCLIENT_E_NOT_ACTIVE},
    {"sorry", DDNSCLIENT_E_SORRY},
};

constexpr uint32_t kHuagaiProviders[] = {30};

}  // namespace

extern "C" uint32_t DDNSClient_ProcessResponse_Huagai(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_ProcessResponse_Huagai");
  return namreg::JudgeReply(context->szResponse, kHuagaiReplies);
}

extern "C" uint32_t DDNSClient_Update_Huagai(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_Huagai";
  if (context == nullptr) return namreg::InvalidArguments(kName);
  if (!namreg::ServesProvider(context, kHuagaiProviders))
    return namreg::InvalidProvider(kName, context);
  char label[namreg::kMaxFirstLabel + 1];
  char zone[namreg::kMaxDomainPart + 1];
  const namreg::SplitResult split = namreg::SplitHostName(context->szHostName, label, zone);
  if (split != namreg::SplitResult::kOk) {
    puts("[DDNSClient_Update_Huagai] extract domain failed\r");
    return split == namreg::SplitResult::kTooLong ? DDNSCLIENT_E_INVALID_ARGS : DDNSCLIENT_E_FAIL;
  }
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(
          path, "/services/dyndns/?username=%s&password=%s&hostname=%s&zonename=%s&ip2=%s",
          context->szUserName, context->szPassword, label, zone, context->szCurrentIP))
    return namreg::RefusedText(kName);
  return namreg::UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHostHuagaiWeb), 80, path,
                                0, DDNSClient_ProcessResponse_Huagai);
}
