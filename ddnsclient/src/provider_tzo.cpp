// SPDX-License-Identifier: MIT
// TZO: its own update host or, for provider 36, the configured server.
#include <stdio.h>

#include "provider_internal.h"

#include <namreg/text_safety.h>

namespace {

constexpr namreg::ReplyKeyword kTZOReplies[] = {
    {"TZO Name", DDNSCLIENT_OK},
    {"Error=bad authentication", DDNSCLIENT_E_SERIAL},
    {"Error=Host Blocked", DDNSCLIENT_E_HOSTNAME_EMAIL},
    {"Error=Try again later", DDNSCLIENT_E_TOO_SOON},
};

}  // namespace

extern "C" uint32_t DDNSClient_ProcessResponse_TZO(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_ProcessResponse_TZO");
  const uint32_t result = namreg::JudgeReply(context->szResponse, kTZOReplies);
  if (result == DDNSCLIENT_E_UNKNOWN_RESPONSE) {
    // The server's text, with its control bytes shown, not played.
    fputs("[DDNSClient_ProcessResponse_TZO] ", stdout);
    namreg::PutEscaped(stdout, context->szResponse);
    fputs("\r\n", stdout);
  }
  return result;
}

extern "C" uint32_t DDNSClient_Update_TZO(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_TZO";
  if (context == nullptr) return namreg::InvalidArguments(kName);
  const char *host = context->dwServiceProvider == 36 && context->szDDNSServerName[0] != '\0'
                         ? context->szDDNSServerName
                         : namreg::ProviderHostName(namreg::kHostTZOUpdate);
  const uint16_t port = context->dwUpdatePortSwitch == 1 ? 21333 : 80;
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(
          path, "/webclient/tzoperl.html?TZOName=%s&Email=%s&TZOKey=%s&CType=3&IPAddress=%s",
          context->szHostName, context->szUserName, context->szPassword, context->szCurrentIP))
    return namreg::RefusedText(kName);
  return namreg::UpdateAndJudge(context, host, port, path, 0, DDNSClient_ProcessResponse_TZO);
}
