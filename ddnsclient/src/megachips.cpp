// SPDX-License-Identifier: MIT
// MegaChips (provider 25): the update and password-change requests, their
// keyword table, the public process operation and the default password.
#include <stdio.h>
#include <string.h>

#include "ddnsclient_internal.h"
#include "provider_internal.h"

namespace {

constexpr uint32_t kProvider = DDNSCLIENT_PROVIDER_MEGACHIPS;
constexpr uint32_t kDefaultTimeoutSeconds = 20;
constexpr size_t kUserAgentLength = 7;
// The fixed word of the default password.
constexpr char kDefaultPasswordWord[] = "namreg";

constexpr namreg::ReplyKeyword kMegaChipsReplies[] = {
    {"UPDATE_SUCCESS", DDNSCLIENT_OK},
    {"UPDATE_NONE", DDNSCLIENT_I_IP_UNCHANGED},
    {"UPDATEINFO_SUCCESS", DDNSCLIENT_OK},
    {"HOSTNAME_WRONG", DDNSCLIENT_E_HOSTNAME},
    {"NO_HOST_SUIT", DDNSCLIENT_E_HOSTNAME},
    {"SERIAL_WRONG", DDNSCLIENT_E_SERIAL},
    {"NO_SERIAL_SUIT", DDNSCLIENT_E_SERIAL},
    {"PASSWORD_WRONG", DDNSCLIENT_E_PASSWORD},
    {"NO_SUIT_SERIAL_PASSWD", DDNSCLIENT_E_HOSTNAME_EMAIL},
    {"DB_CONN_ERROR", DDNSCLIENT_E_DB_CONNECT},
    {"DB_UPDATE_ERROR", DDNSCLIENT_E_DB_UPDATE},
    {"DB_REF_ERROR", DDNSCLIENT_E_DB_REFERENCE},
    {"DNS_UPDATE_ERROR", DDNSCLIENT_E_DNS_UPDATE},
    {"HOSTNAME_EXIST", DDNSCLIENT_E_HOSTNAME_IN_USE},
    {"SYSTEM_ERR", DDNSCLIENT_E_SERVER_DNS},
    {"ILLEGAL_CLIENT", DDNSCLIENT_E_AGENT_REFUSED},
};

// Fetches `path` with HTTP authentication; the User-Agent is the first
// seven characters of the user name.
uint32_t Fetch(DDNSClientContext *context, const char *path) {
  char user_agent[kUserAgentLength + 1];
  DDNSClient_CopyText(user_agent, context->szUserName, sizeof user_agent);
  const uint32_t result =
      DDNSClient_UpdateRoutine(context, DDNSCLIENT_MEGACHIPS_HOST, 80, path, 1, user_agent);
  if (result != DDNSCLIENT_OK) return result;
  return DDNSClient_ProcessResponse_MegaChips(context);
}

}  // namespace

extern "C" uint32_t DDNSClient_ProcessResponse_MegaChips(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_ProcessResponse_MegaChips] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  return namreg::JudgeReply(context->szResponse, kMegaChipsReplies);
}

extern "C" uint32_t DDNSClient_Update_MegaChips(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_Update_MegaChips] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char path[namreg::kRequestSize];
  if (!namreg::ComposePathRequest(path, "/ddns/updateDns.php", "?host=%s", context->szHostName))
    return namreg::RefusedText("DDNSClient_Update_MegaChips");
  return Fetch(context, path);
}

extern "C" uint32_t DDNSClient_MegaChips_ChangeSetting(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_MegaChips_ChangeSetting] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char path[namreg::kRequestSize];
  if (!namreg::ComposePathRequest(path, "/ddns/updateUserSetting.php", "?host=%s&pass=%s",
                                  context->szHostName, context->szPassword))
    return namreg::RefusedText("DDNSClient_MegaChips_ChangeSetting");
  // The request authenticates with the password the provider holds now.
  char wanted[sizeof context->szPassword];
  memcpy(wanted, context->szPassword, sizeof wanted);
  if (context->szMegaChipsText[0] != '\0')
    DDNSClient_CopyText(context->szPassword, context->szMegaChipsText, sizeof context->szPassword);
  else
    DDNSClient_MegaChipsMakeDefPassword(context->szUserName, context->szPassword,
                                        sizeof context->szPassword);
  const uint32_t result = Fetch(context, path);
  if (result == DDNSCLIENT_OK) memcpy(context->szPassword, wanted, sizeof wanted);
  return result;
}

extern "C" uint32_t DDNSClient_MegaChipsProcess(DDNSClientContext *context,
                                                const DDNSClientSettings *settings,
                                                uint32_t timeout_seconds, uint32_t type) {
  if (context == nullptr || settings == nullptr) {
    puts("[DDNSClient_MegaChipsProcess] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (settings->dwEnable != 1) {
    puts("[DDNSClient_MegaChipsProcess] DDNS disable\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (settings->dwServiceProvider != kProvider) {
    puts("[DDNSClient_MegaChipsProcess] Only for MegaChips\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  const uint32_t timeout = timeout_seconds != 0 ? timeout_seconds : kDefaultTimeoutSeconds;
  const namreg::Deadline deadline(timeout);
  const namreg::OperationBudget budget(context, deadline);
  if (namreg::DDNSClient_TakeUpdateSettings("DDNSClient_MegaChipsProcess", context, settings) !=
      DDNSCLIENT_OK)
    return DDNSCLIENT_E_INVALID_ARGS;
  context->dwNetworkTimeout = timeout;
  uint32_t result;
  switch (type) {
    case DDNSCLIENT_MEGACHIPS_UPDATE:
      result = DDNSClient_Update_MegaChips(context);
      break;
    case DDNSCLIENT_MEGACHIPS_CHANGE_PASSWORD:
      result = DDNSClient_MegaChips_ChangeSetting(context);
      break;
    default:
      printf("[DDNSClient_MegaChipsProcess] Invalid type %d\r\n", static_cast<int>(type));
      return DDNSCLIENT_E_INVALID_ARGS;
  }
  // The attempt counts for DDNSClient_IsTimeToUpdate, as the engine's do.
  namreg::DDNSClient_RecordAttempt(context, kProvider);
  return result;
}

extern "C" uint32_t DDNSClient_MegaChipsMakeDefPassword(const char *user_name, char *output,
                                                        uint32_t output_size) {
  if (user_name == nullptr || output == nullptr || output_size < DDNSCLIENT_DERIVED_PASSWORD_SIZE) {
    puts("[DDNSClient_MegaChipsMakeDefPassword] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  namreg::DerivePassword(output, user_name, kDefaultPasswordWord);
  return DDNSCLIENT_OK;
}
