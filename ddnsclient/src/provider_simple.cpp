// SPDX-License-Identifier: MIT
// Providers with a short fixed request: DynamicDo (main and free service)
// judged by its reply, and MyDNS, DP21 and AtNetHome, for which any page
// behind their HTTP authentication counts as success.
#include <stdio.h>

#include "provider_internal.h"

namespace {

constexpr namreg::ReplyKeyword kDynamicDoReplies[] = {
    {"SUCCESS", DDNSCLIENT_OK},
    {"FAIL", DDNSCLIENT_E_HOSTNAME_EMAIL},
};

constexpr uint32_t kDynamicDoProviders[] = {8, 21};

}  // namespace

extern "C" uint32_t DDNSClient_ProcessResponse_DynamicDo(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_ProcessResponse_DynamicDo");
  return namreg::JudgeReply(context->szResponse, kDynamicDoReplies);
}

extern "C" uint32_t DDNSClient_Update_DynamicDo(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_DynamicDo";
  if (context == nullptr) return namreg::InvalidArguments(kName);
  if (!namreg::ServesProvider(context, kDynamicDoProviders))
    return namreg::InvalidProvider(kName, context);
  const namreg::ProviderHost host = context->dwServiceProvider == 8
                                        ? namreg::kHostDynamicDoUpdate
                                        : namreg::kHostDynamicDoFreeUpdate;
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(path, "/dnsupdate.php?dn=%s&pw=%s&ip=%s", context->szUserName,
                              context->szPassword, context->szCurrentIP))
    return namreg::RefusedText(kName);
  return namreg::UpdateAndJudge(context, namreg::ProviderHostName(host), 80, path, 0,
                                DDNSClient_ProcessResponse_DynamicDo);
}

extern "C" uint32_t DDNSClient_Update_MyDNS(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_Update_MyDNS");
  return namreg::UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHostMyDNSUpdate), 80,
                                "/login.html", 1, nullptr);
}

extern "C" uint32_t DDNSClient_Update_DP21(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_Update_DP21");
  return namreg::UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHostDP21Update), 80,
                                "/DynDNS/dyndns.cgi", 1, nullptr);
}

extern "C" uint32_t DDNSClient_Update_AtNetHome(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_Update_AtNetHome");
  return namreg::UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHostAtNetHomeUpdate), 80,
                                "/DynDNS/dyndns.cgi", 1, nullptr);
}
