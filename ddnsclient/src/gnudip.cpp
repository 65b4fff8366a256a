// SPDX-License-Identifier: MIT
// The GnuDIP salted update (Interfree, PCI CyberGate): fetch a one-time
// salt page, prove the password with MD5(MD5(password) "." salt), and judge
// the reply by its return-code meta tag.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <namreg/common.h>

#include "provider_internal.h"

namespace {

constexpr char kInterfreePath[] = "/cgi-bin/gdipupdt.cgi";
constexpr char kPCICyberGatePath[] = "/gnudip/cgi-bin/gdipupdt.cgi";
constexpr size_t kMetaPatternSize = 64;  // "<meta name=\"NAME\"" and its terminator
constexpr uint32_t kMaxMetaWidth = 255;

bool IsBlank(char c) {
  return isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

extern "C" uint32_t DDNSClient_GnuDIP_GetMetaContent(const char *body, const char *name,
                                                     char *output, uint32_t width) {
  char opening[kMetaPatternSize];
  const int length =
      name != nullptr ? snprintf(opening, sizeof opening, "<meta name=\"%s\"", name) : -1;
  if (body == nullptr || output == nullptr || length < 0 ||
      static_cast<size_t>(length) >= sizeof opening || width == 0 || width > kMaxMetaWidth) {
    puts("[DDNSClient_GnuDIP_GetMetaContent] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  const char *p = strstr(body, opening);
  if (p == nullptr) {
    printf("[DDNSClient_GnuDIP_GetMetaContent] Find %s failed\r\n", name);
    return DDNSCLIENT_E_FAIL;
  }
  // The opening, any white space, content=" and then, after any white space,
  // up to `width` characters other than white space.
  p += length;
  while (IsBlank(*p)) ++p;
  static const char kContent[] = "content=\"";
  uint32_t copied = 0;
  if (strncmp(p, kContent, sizeof kContent - 1) == 0) {
    p += sizeof kContent - 1;
    while (IsBlank(*p)) ++p;
    while (copied < width && p[copied] != '\0' && !IsBlank(p[copied])) {
      output[copied] = p[copied];
      ++copied;
    }
  }
  if (copied == 0) {
    printf("[DDNSClient_GnuDIP_GetMetaContent] Get %s content failed\r\n", name);
    return DDNSCLIENT_E_FAIL;
  }
  output[copied] = '\0';
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_GnuDIP_HashingPassword(const char *salt, const char *password,
                                                      char *output) {
  if (salt == nullptr || salt[0] == '\0' || strlen(salt) > DDNSCLIENT_HLDM_SALT_LENGTH ||
      password == nullptr || password[0] == '\0' || output == nullptr) {
    puts("[DDNSClient_GnuDIP_HashingPassword] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char first[33];
  MD5_StringHex(first, password);
  char joined[44];
  snprintf(joined, sizeof joined, "%s.%s", first, salt);
  MD5_StringHex(output, joined);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_GnuDIP_GetSalt(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_GnuDIP_GetSalt");
  memset(context->szSalt, 0, sizeof context->szSalt);
  if (DDNSClient_GnuDIP_GetMetaContent(context->szResponse, "salt", context->szSalt,
                                       sizeof context->szSalt - 1) != DDNSCLIENT_OK)
    return DDNSCLIENT_E_FAIL;
  memset(context->szTime, 0, sizeof context->szTime);
  if (DDNSClient_GnuDIP_GetMetaContent(context->szResponse, "time", context->szTime,
                                       sizeof context->szTime - 1) != DDNSCLIENT_OK)
    return DDNSCLIENT_E_FAIL;
  memset(context->szSign, 0, sizeof context->szSign);
  if (DDNSClient_GnuDIP_GetMetaContent(context->szResponse, "sign", context->szSign,
                                       sizeof context->szSign - 1) != DDNSCLIENT_OK)
    return DDNSCLIENT_E_FAIL;
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_GnuDIP_RequsetSalt(DDNSClientContext *context, const char *host,
                                                  uint16_t port, const char *path,
                                                  const char *user_agent) {
  if (context == nullptr || host == nullptr || path == nullptr || user_agent == nullptr)
    return namreg::InvalidArguments("DDNSClient_GnuDIP_RequsetSalt");
  const uint32_t timeout = context->dwNetworkTimeout != 0 ? context->dwNetworkTimeout : 20;
  const uint32_t result = DDNSClient_Communicate(context, host, port, path, timeout, 0, user_agent);
  return result != DDNSCLIENT_OK ? result : DDNSClient_GnuDIP_GetSalt(context);
}

extern "C" uint32_t DDNSClient_GnuDIP_ProcessResponse(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_GnuDIP_ProcessResponse");
  char code[2] = {0, 0};
  if (DDNSClient_GnuDIP_GetMetaContent(context->szResponse, "retc", code, 1) != DDNSCLIENT_OK)
    return DDNSCLIENT_E_UNKNOWN_RESPONSE;
  if (code[0] == '0') return DDNSCLIENT_OK;
  if (code[0] == '1') return DDNSCLIENT_E_HOSTNAME_EMAIL;
  return DDNSCLIENT_E_UNKNOWN_RESPONSE;
}

extern "C" uint32_t DDNSClient_GnuDIP_Update(DDNSClientContext *context, const char *host,
                                             uint16_t port, const char *salt_path,
                                             const char *update_path, const char *user_agent) {
  if (context == nullptr || host == nullptr || host[0] == '\0' || salt_path == nullptr ||
      salt_path[0] == '\0' || update_path == nullptr || update_path[0] == '\0' ||
      user_agent == nullptr)
    return namreg::InvalidArguments("DDNSClient_GnuDIP_Update");
  // The host name is checked before anything is sent.
  char user[namreg::kMaxFirstLabel + 1];
  char domain[namreg::kMaxDomainPart + 1];
  const namreg::SplitResult split = namreg::SplitHostName(context->szHostName, user, domain);
  if (split != namreg::SplitResult::kOk) {
    puts("[DDNSClient_GnuDIP_Update] extract domain failed\r");
    return split == namreg::SplitResult::kTooLong ? DDNSCLIENT_E_INVALID_ARGS : DDNSCLIENT_E_FAIL;
  }
  // The salt page and the update share one budget.
  const namreg::RoutineBudget budget(context);
  if (DDNSClient_GnuDIP_RequsetSalt(context, host, port, salt_path, user_agent) != DDNSCLIENT_OK) {
    puts("[DDNSClient_GnuDIP_Update] request salt failed\r");
    return DDNSCLIENT_E_FAIL;
  }
  DDNSClient_GnuDIP_HashingPassword(context->szSalt, context->szPassword,
                                    context->szHashedPassword);
  char path[namreg::kRequestSize];
  if (!namreg::ComposePathRequest(path, update_path,
                                  "?salt=%s&time=%s&sign=%s&user=%s&pass=%s&domn=%s&reqc=0&addr=%s",
                                  context->szSalt, context->szTime, context->szSign, user,
                                  context->szHashedPassword, domain, context->szCurrentIP))
    return namreg::RefusedText("DDNSClient_GnuDIP_Update");
  const uint32_t result = DDNSClient_UpdateRoutine(context, host, port, path, 0, user_agent);
  return result != DDNSCLIENT_OK ? result : DDNSClient_GnuDIP_ProcessResponse(context);
}

extern "C" uint32_t DDNSClient_Update_Interfree(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_Update_Interfree");
  return DDNSClient_GnuDIP_Update(context, namreg::ProviderHostName(namreg::kHostInterfreeUpdate),
                                  80, kInterfreePath, kInterfreePath, context->szFirmwareVersion);
}

extern "C" uint32_t DDNSClient_Update_PCICyberGate(DDNSClientContext *context) {
  if (context == nullptr) return namreg::InvalidArguments("DDNSClient_Update_PCICyberGate");
  return DDNSClient_GnuDIP_Update(context,
                                  namreg::ProviderHostName(namreg::kHostPCICyberGateUpdate), 80,
                                  kPCICyberGatePath, kPCICyberGatePath, context->szFirmwareVersion);
}
