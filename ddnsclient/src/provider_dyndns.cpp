// SPDX-License-Identifier: MIT
// The dyndns2-style providers: DynDNS (its own hosts and any configured
// server), NexusControl, Swisscom, Logitec, 3322 and ChangeIP.  Each sends
// one authenticated GET and judges the reply by its keyword table.
#include <stdio.h>

#include "provider_internal.h"

namespace {

using namreg::ReplyKeyword;

constexpr ReplyKeyword kDynDNSReplies[] = {
    {"good", DDNSCLIENT_OK},
    {"badauth", DDNSCLIENT_E_AUTH},
    {"!donator", DDNSCLIENT_E_AUTH},
    {"bad username", DDNSCLIENT_E_AUTH},
    {"notfqdn", DDNSCLIENT_E_HOSTNAME},
    {"nohost", DDNSCLIENT_E_HOSTNAME},
    {"!your", DDNSCLIENT_E_HOSTNAME},
    {"numhost", DDNSCLIENT_E_HOSTNAME},
    {"nochg", DDNSCLIENT_E_NO_CHANGE},
    {"abuse", DDNSCLIENT_E_ABUSE},
    {"badagent", DDNSCLIENT_E_AGENT_REFUSED},
    {"badsys", DDNSCLIENT_E_SYSTEM_PARAMETER},
    {"dnserr", DDNSCLIENT_E_SERVER_DNS},
    {"911", DDNSCLIENT_E_SERVER_DNS},
};

constexpr ReplyKeyword kNexusControlReplies[] = {
    {"good", DDNSCLIENT_OK},
    {"badauth", DDNSCLIENT_E_AUTH},
    {"!donator", DDNSCLIENT_E_AUTH},
    {"notfqdn", DDNSCLIENT_E_HOSTNAME},
    {"nohost", DDNSCLIENT_E_HOSTNAME},
    {"!your", DDNSCLIENT_E_HOSTNAME},
    {"numhost", DDNSCLIENT_E_HOSTNAME},
    {"nochg", DDNSCLIENT_E_NO_CHANGE},
    {"abuse", DDNSCLIENT_E_ABUSE},
    {"badagent", DDNSCLIENT_E_AGENT_REFUSED},
    {"badsys", DDNSCLIENT_E_SYSTEM_PARAMETER},
    {"dnserr", DDNSCLIENT_E_SERVER_DNS},
    {"911", DDNSCLIENT_E_SERVER_DNS},
};

constexpr ReplyKeyword kLogitecReplies[] = {
    {"good", DDNSCLIENT_OK},
    {"badauth", DDNSCLIENT_E_AUTH},
    {"nochg", DDNSCLIENT_E_NO_CHANGE},
    {"911", DDNSCLIENT_E_SERVER_DNS},
};

constexpr ReplyKeyword k3322Replies[] = {
    {"good", DDNSCLIENT_OK},           {"badauth", DDNSCLIENT_E_AUTH},
    {"nohost", DDNSCLIENT_E_HOSTNAME}, {"nochg", DDNSCLIENT_E_NO_CHANGE},
    {"911", DDNSCLIENT_E_SERVER_DNS},
};

constexpr ReplyKeyword kChangeIPReplies[] = {
    {"200", DDNSCLIENT_OK},
    {"401", DDNSCLIENT_E_AUTH},
};

// Providers of the DynDNS update: its own hosts (1 dynamic, 2 custom) and
// the DynDNS protocol at the configured server.
constexpr uint32_t kDynDNSProviders[] = {1, 2, 10, 26, 27, 29, 34};
constexpr uint32_t kLogitecProviders[] = {28};
constexpr uint32_t k3322Providers[] = {31};
constexpr uint32_t kChangeIPProviders[] = {33};
constexpr uint32_t kSwisscomProviders[] = {35};

using namreg::InvalidArguments;
using namreg::InvalidProvider;

uint32_t UpdateAndJudge(DDNSClientContext *context, const char *host, uint16_t port,
                        const char *path, uint32_t (*judge)(DDNSClientContext *)) {
  return namreg::UpdateAndJudge(context, host, port, path, 1, judge);
}

}  // namespace

extern "C" uint32_t DDNSClient_ProcessResponse_DynDNS(DDNSClientContext *context) {
  if (context == nullptr) return InvalidArguments("DDNSClient_ProcessResponse_DynDNS");
  return namreg::JudgeReply(context->szResponse, kDynDNSReplies);
}

extern "C" uint32_t DDNSClient_ProcessResponse_NexusControl(DDNSClientContext *context) {
  if (context == nullptr) return InvalidArguments("DDNSClient_ProcessResponse_NexusControl");
  return namreg::JudgeReply(context->szResponse, kNexusControlReplies);
}

extern "C" uint32_t DDNSClient_ProcessResponse_Logitec(DDNSClientContext *context) {
  if (context == nullptr) return InvalidArguments("DDNSClient_ProcessResponse_Logitec");
  return namreg::JudgeReply(context->szResponse, kLogitecReplies);
}

extern "C" uint32_t DDNSClient_ProcessResponse_3322(DDNSClientContext *context) {
  if (context == nullptr) return InvalidArguments("DDNSClient_ProcessResponse_3322");
  return namreg::JudgeReply(context->szResponse, k3322Replies);
}

extern "C" uint32_t DDNSClient_ProcessResponse_ChangeIP(DDNSClientContext *context) {
  if (context == nullptr) return InvalidArguments("DDNSClient_ProcessResponse_ChangeIP");
  return namreg::JudgeReply(context->szResponse, kChangeIPReplies);
}

extern "C" uint32_t DDNSClient_Update_DynDNS(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_DynDNS";
  if (context == nullptr) return InvalidArguments(kName);
  if (!namreg::ServesProvider(context, kDynDNSProviders)) return InvalidProvider(kName, context);
  const uint32_t provider = context->dwServiceProvider;
  const bool own_host = provider == 1 || provider == 2;
  const char *host =
      own_host ? namreg::ProviderHostName(namreg::kHostDynDNSUpdate) : context->szDDNSServerName;
  const uint16_t port = own_host && context->dwUpdatePortSwitch == 1 ? 8245 : 80;
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(path, "/nic/update?system=%s&hostname=%s&myip=%s",
                              provider == 2 ? "custom" : "dyndns", context->szHostName,
                              context->szCurrentIP))
    return namreg::RefusedText(kName);
  return UpdateAndJudge(context, host, port, path, DDNSClient_ProcessResponse_DynDNS);
}

extern "C" uint32_t DDNSClient_Update_NexusControl(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_NexusControl";
  if (context == nullptr) return InvalidArguments(kName);
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(
          path,
          "/nic/update?system=dyndns&hostname=%s&myip=%s&wildcard=NOCHG&mx=NOCHG&backmx=NOCHG",
          context->szHostName, context->szCurrentIP))
    return namreg::RefusedText(kName);
  return UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHostNexusControlUpdate), 80,
                        path, DDNSClient_ProcessResponse_NexusControl);
}

extern "C" uint32_t DDNSClient_Update_SWISSCOM(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_SWISSCOM";
  if (context == nullptr) return InvalidArguments(kName);
  if (!namreg::ServesProvider(context, kSwisscomProviders)) return DDNSCLIENT_E_INVALID_ARGS;
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(
          path, "/nic/update?hostname=%s&myip=%s&wildcard=nochg&mx=nochg&backmx=nochg&offline=no",
          context->szHostName, context->szCurrentIP))
    return namreg::RefusedText(kName);
  return UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHostSwisscomUpdate), 80, path,
                        DDNSClient_ProcessResponse_DynDNS);
}

extern "C" uint32_t DDNSClient_Update_Logitec(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_Logitec";
  if (context == nullptr) return InvalidArguments(kName);
  if (!namreg::ServesProvider(context, kLogitecProviders)) return InvalidProvider(kName, context);
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(path, "/ddns/nsupdate.php?myip=%s", context->szCurrentIP))
    return namreg::RefusedText(kName);
  return UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHostLogitecUpdate), 80, path,
                        DDNSClient_ProcessResponse_Logitec);
}

extern "C" uint32_t DDNSClient_Update_3322(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_3322";
  if (context == nullptr) return DDNSCLIENT_E_INVALID_ARGS;
  if (!namreg::ServesProvider(context, k3322Providers)) return InvalidProvider(kName, context);
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(path, "/dyndns/update?hostname=%s&myip=%s", context->szHostName,
                              context->szCurrentIP))
    return namreg::RefusedText(kName);
  return UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHost3322Update), 80, path,
                        DDNSClient_ProcessResponse_3322);
}

extern "C" uint32_t DDNSClient_Update_ChangeIP(DDNSClientContext *context) {
  static const char kName[] = "DDNSClient_Update_ChangeIP";
  if (context == nullptr) return InvalidArguments(kName);
  if (!namreg::ServesProvider(context, kChangeIPProviders)) return InvalidProvider(kName, context);
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(path, "/nic/update?&system=custom&hostname=%s&myip=%s",
                              context->szHostName, context->szCurrentIP))
    return namreg::RefusedText(kName);
  return UpdateAndJudge(context, namreg::ProviderHostName(namreg::kHostChangeIPUpdate), 80, path,
                        DDNSClient_ProcessResponse_ChangeIP);
}
