// SPDX-License-Identifier: MIT
// I-O DATA (provider 7): the update, registration and offline requests, their
// keyword table, the public process and register operations, and the
// credentials derived from the camera's MAC address.
#include <namreg/common.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "ddnsclient_internal.h"
#include "provider_internal.h"

namespace {

constexpr uint32_t kProvider = DDNSCLIENT_PROVIDER_IODATA;
constexpr uint32_t kDefaultTimeoutSeconds = 20;
constexpr uint32_t kRetryPauseMs = 1000;
constexpr size_t kLabelMax = 95;   // first label of the host name
constexpr size_t kDomainMax = 31;  // the rest after its first dot

constexpr namreg::ReplyKeyword kIODataReplies[] = {
    {"good", DDNSCLIENT_OK},
    {"notfqdn", DDNSCLIENT_E_HOSTNAME},
    {"nohost", DDNSCLIENT_E_HOSTNAME},
    {"nochg", DDNSCLIENT_E_NO_CHANGE},
    {"dnserr", DDNSCLIENT_E_SERVER_DNS},
    {"!active", DDNSCLIENT_E_SERVER_DNS},
    {"error0", DDNSCLIENT_E_SERVER_DNS},
    {"ok", DDNSCLIENT_OK},
    {"ngserial", DDNSCLIENT_E_SERIAL},
    {"nghost", DDNSCLIENT_E_HOSTNAME_IN_USE},
    {"registed", DDNSCLIENT_E_ALREADY_REGISTERED},
};

// Splits the context's host name into its first label and the rest; false
// (with the routine's message) when it has no dot or a part is too long.
bool SplitCameraHost(const DDNSClientContext *context, const char *who, char *label) {
  const char *name = context->szHostName;
  const size_t length = strlen(name);
  const char *dot = strchr(name, '.');
  char host[sizeof context->szHostName];
  char domain[sizeof context->szHostName];
  if (length == 0 || dot == nullptr || static_cast<size_t>(dot - name) > kLabelMax ||
      length - static_cast<size_t>(dot - name) - 1 > kDomainMax ||
      DDNSClient_ExtractDomain(name, static_cast<uint32_t>(length), host, domain) != 0) {
    printf("[%s] extract domain failed\r\n", who);
    return false;
  }
  if (label != nullptr) memcpy(label, host, strlen(host) + 1);
  return true;
}

uint32_t Fetch(DDNSClientContext *context, const char *path, uint32_t use_auth) {
  const uint32_t result = DDNSClient_UpdateRoutine(context, DDNSCLIENT_IODATA_HOST, 80, path,
                                                   use_auth, context->szFirmwareVersion);
  if (result != DDNSCLIENT_OK) return result;
  return DDNSClient_ProcessResponse_IOData(context);
}

// Applies the settings of an I-O DATA operation (within the operation's
// deadline) and stores its time-out.
uint32_t Prepare(const char *who, DDNSClientContext *context, const DDNSClientSettings *settings,
                 uint32_t timeout_seconds, const namreg::Deadline &deadline) {
  if (context == nullptr || settings == nullptr) {
    printf("[%s] Invalid arguments\r\n", who);
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (settings->dwServiceProvider != kProvider) {
    printf("[%s] Invalid service provider: %d\r\n", who,
           static_cast<int>(settings->dwServiceProvider));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  {
    const namreg::OperationBudget budget(context, deadline);
    if (namreg::DDNSClient_TakeUpdateSettings(who, context, settings) != DDNSCLIENT_OK)
      return DDNSCLIENT_E_INVALID_ARGS;
  }
  context->dwNetworkTimeout = timeout_seconds != 0 ? timeout_seconds : kDefaultTimeoutSeconds;
  return DDNSCLIENT_OK;
}

// Runs `attempt` again after network errors (with a short pause) until the
// operation's deadline; each attempt gets only what is left of it.
// 0xFFFFFFFF when no attempt was made.
uint32_t RetryNetworkErrors(DDNSClientContext *context, DDNSClientRoutine attempt,
                            const namreg::Deadline &deadline) {
  const namreg::OperationBudget budget(context, deadline);
  const uint32_t timeout = context->dwNetworkTimeout;
  uint32_t result = DDNSCLIENT_E_FAIL;
  for (bool first = true;; first = false) {
    if (deadline.Expired()) break;
    if (!first) {
      if (deadline.LeftMs() <= kRetryPauseMs) break;  // no room for a pause and another try
      namreg::ClockSleepMs(kRetryPauseMs);
    }
    const uint32_t left = deadline.LeftSecondsRoundedUp();
    context->dwNetworkTimeout = left != 0 ? left : 1;
    result = attempt(context);
    context->dwNetworkTimeout = timeout;
    if (result != DDNSCLIENT_E_NETWORK) break;
  }
  return result;
}

uint32_t TimeoutOrDefault(uint32_t timeout_seconds) {
  return timeout_seconds != 0 ? timeout_seconds : kDefaultTimeoutSeconds;
}

// Eight characters of 0-9 and a-z from the MD5 of the given texts.
void EightCharacters(char *output, const char *const *texts, size_t count) {
  static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  MD5Context md5;
  MD5Init(&md5);
  for (size_t i = 0; i < count; ++i)
    MD5Update(&md5, reinterpret_cast<const unsigned char *>(texts[i]),
              static_cast<unsigned>(strlen(texts[i]) + 1));  // with the terminator as separator
  unsigned char digest[16];
  MD5Final(digest, &md5);
  for (int i = 0; i < 8; ++i) output[i] = kAlphabet[(digest[2 * i] << 8 | digest[2 * i + 1]) % 36];
  output[8] = '\0';
}

}  // namespace

namespace namreg {

void DerivePassword(char *output, const char *first, const char *second) {
  const char *const texts[] = {first, second};
  EightCharacters(output, texts, 2);
}

}  // namespace namreg

extern "C" uint32_t DDNSClient_ProcessResponse_IOData(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_ProcessResponse_IOData] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  return namreg::JudgeReply(context->szResponse, kIODataReplies);
}

extern "C" uint32_t DDNSClient_Update_IOData(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_Update_IOData] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(path, "/cgi-bin/ddns/members/update_dns.cgi?host=%s&myip=%s",
                              context->szHostName, context->szCurrentIP))
    return namreg::RefusedText("DDNSClient_Update_IOData");
  return Fetch(context, path, 1);
}

extern "C" uint32_t DDNSClient_Register_IOData(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_Register_IOData] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char label[kLabelMax + 1];
  if (!SplitCameraHost(context, "DDNSClient_Register_IOData", label)) return DDNSCLIENT_E_FAIL;
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(
          path, "/cgi-bin/ddns_s/registdns.cgi?sno=%s&pw=%s&eml=%s&host=%s&reg=0",
          context->szUserName, context->szPassword, context->szProvider7Text, label))
    return namreg::RefusedText("DDNSClient_Register_IOData");
  return Fetch(context, path, 0);
}

extern "C" uint32_t DDNSClient_Offline_IOData(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_Offline_IOData] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (!SplitCameraHost(context, "DDNSClient_Offline_IOData", nullptr)) return DDNSCLIENT_E_FAIL;
  char path[namreg::kRequestSize];
  if (!namreg::ComposeRequest(path, "/cgi-bin/ddns/members/update_dns.cgi?host=%s&myip=0.0.0.0",
                              context->szHostName))
    return namreg::RefusedText("DDNSClient_Offline_IOData");
  return Fetch(context, path, 1);
}

extern "C" uint32_t DDNSClient_IODATAProcess(DDNSClientContext *context,
                                             const DDNSClientSettings *settings,
                                             uint32_t timeout_seconds, uint32_t type) {
  const namreg::Deadline deadline(TimeoutOrDefault(timeout_seconds));
  uint32_t result =
      Prepare("DDNSClient_IODATAProcess", context, settings, timeout_seconds, deadline);
  if (result != DDNSCLIENT_OK) return result;
  switch (type) {
    case DDNSCLIENT_IODATA_OFFLINE:
      result = RetryNetworkErrors(context, DDNSClient_Offline_IOData, deadline);
      if (result == DDNSCLIENT_OK) context->dwLastIP = 0;
      return result;
    case DDNSCLIENT_IODATA_REGISTER:
      return RetryNetworkErrors(context, DDNSClient_Register_IOData, deadline);
    default:
      printf("[DDNSClient_IODATAProcess] Invalid type %d\r\n", static_cast<int>(type));
      return DDNSCLIENT_E_INVALID_ARGS;
  }
}

extern "C" uint32_t DDNSClient_IODATARegister(DDNSClientContext *context,
                                              const DDNSClientSettings *settings,
                                              uint32_t timeout_seconds) {
  const namreg::Deadline deadline(TimeoutOrDefault(timeout_seconds));
  const uint32_t result =
      Prepare("DDNSClient_IODATARegister", context, settings, timeout_seconds, deadline);
  if (result != DDNSCLIENT_OK) return result;
  return RetryNetworkErrors(context, DDNSClient_Register_IOData, deadline);
}

extern "C" uint32_t DDNSClient_IODATAMakeHostname(const char *mac, char *output,
                                                  uint32_t output_size) {
  if (mac == nullptr || output == nullptr || output_size < DDNSCLIENT_IODATA_HOSTNAME_SIZE ||
      strlen(mac) < 12) {
    puts("[DDNSClient_IODATAMakeHostname] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char tail[7];
  memcpy(tail, mac + 6, 6);
  tail[6] = '\0';
  unsigned char b[3];
  DDNSClient_HexToBytes(tail, b);
  snprintf(output, output_size, "wcam-%02x%02x%02x", 255 - b[2], 255 - b[1], 255 - b[0]);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_IODATAMakeSerial(const char *mac, char *output,
                                                uint32_t output_size) {
  if (output == nullptr || output_size == 0) return DDNSCLIENT_OK;
  // Ten digits: the first five bytes of the MD5 of the upper-case MAC text,
  // as a number, modulo 10^10.
  char text[13];
  size_t n = 0;
  for (; mac != nullptr && mac[n] != '\0' && n < 12; ++n)
    text[n] = (mac[n] >= 'a' && mac[n] <= 'f') ? static_cast<char>(mac[n] - 'a' + 'A') : mac[n];
  text[n] = '\0';
  unsigned char digest[17];
  MD5_String(digest, text);
  uint64_t value = 0;
  for (int i = 0; i < 5; ++i) value = value << 8 | digest[i];
  char serial[11];
  snprintf(serial, sizeof serial, "%010llu",
           static_cast<unsigned long long>(value % 10000000000ull));
  DDNSClient_CopyText(output, serial, output_size);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_IODATAMakePassword(const char *first, const char *second,
                                                  char *output, uint32_t output_size) {
  if (first == nullptr || second == nullptr || output == nullptr ||
      output_size < DDNSCLIENT_DERIVED_PASSWORD_SIZE) {
    puts("[DDNSClient_IODATAMakePassword] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  namreg::DerivePassword(output, first, second);
  return DDNSCLIENT_OK;
}
