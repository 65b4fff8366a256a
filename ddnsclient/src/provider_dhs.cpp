// SPDX-License-Identifier: MIT
// DHS: the host name travels split into its first label and its domain.
#include <stdio.h>
#include <string.h>

#include "provider_internal.h"

namespace {

constexpr namreg::ReplyKeyword kDHSRefusals[] = {
    {"The update has already been done previously", DDNSCLIENT_E_NO_CHANGE},
    {"The hostname specified does not exist. The hostname specified does not belong to you",
     DDNSCLIENT_E_HOSTNAME},
};

}  // namespace

extern "C" uint32_t DDNSClient_ProcessResponse_DHS(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_ProcessResponse_DHS");
  char done[96];
  snprintf(done, sizeof done, "Updating ip on %s: done",
           namreg::ProviderHostName(namreg::kHostDHSNameServer));
  if (namreg::FindKeyword(context->szResponse, done) != nullptr) return DDNSCLIENT_OK;
  return namreg::JudgeReply(context->szResponse, kDHSRefusals);
}

extern "C" uint32_t DDNSClient_Update_DHS(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_DHS";
  if (context == nullptr) return namreg::InvalidArguments(kName);
  char label[namreg::kMaxFirstLabel + 1];
  char domain[namreg::kMaxDomainPart + 1];
  if (namreg::SplitHostName(context->szHostName, label, domain) != namreg::SplitResult::kOk) {
    puts("[DDNSClient_Update_DHS] extract domain failed\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(
          path,
          "/nic/hosts?hostscmd=edit&hostscmdstage=2&type=4&domain=%s&hostname=%s"
          "&updatetype=Online&ip=%s&submit=Update",
          domain, label, context->szCurrentIP))
    return namreg::RefusedText(kName);
  return namreg::UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHostDHSUpdate), 80, path,
                                1, DDNSClient_ProcessResponse_DHS);
}
