// SPDX-License-Identifier: MIT
// The client context: creation, release, the small setters and the
// server-name checks.
#include "ddnsclient_internal.h"
#include "settings_lock.h"

#include <namreg/netutility.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

namespace namreg {

void DDNSClient_CopyText(char *dest, const char *src, uint32_t size) {
  if (size == 0) return;
  uint32_t i = 0;
  for (; i + 1 < size && src[i] != '\0'; ++i) dest[i] = src[i];
  dest[i] = '\0';
}

void DDNSClient_PrintInvalidArguments(const char *who) {
  if (who != nullptr) printf("[%s] Invalid arguments\r\n", who);
}

bool DDNSClient_IsHLDMProvider(uint32_t provider) {
  return provider == DDNSCLIENT_PROVIDER_HLDM || provider == DDNSCLIENT_PROVIDER_HLDM2;
}

}  // namespace namreg

namespace {

enum class NameCheck { kValid, kNameError, kNetworkError };

// Resolves the name through the first name server of the system's list.
NameCheck CheckDomainName(const char *name) {
  int32_t result = -1;
  if (NetUtility_IsValidDomainName(name, &result) == 1) return NameCheck::kValid;
  return result == DNS_RESULT_NAME_ERROR ? NameCheck::kNameError : NameCheck::kNetworkError;
}

// Tests a server name through the first name server and stores it in
// `dest` with `flag`.  A name the server reports as non-existent prints
// "[<who>] Invalid <kind> server name" and gives DDNSCLIENT_E_SERVER_NAME; a
// name that cannot be checked (network down) prints the network-error line
// and is stored all the same.
uint32_t CheckAndStoreServerName(DDNSClientContext *context, const char (&source)[64],
                                 char (&dest)[64], uint32_t flag, const char *who,
                                 const char *kind) {
  char name[64];
  DDNSClient_CopyText(name, source, sizeof name);
  switch (CheckDomainName(name)) {
    case NameCheck::kNameError:
      printf("[%s] Invalid %s server name\r\n", who, kind);
      return DDNSCLIENT_E_SERVER_NAME;
    case NameCheck::kNetworkError:
      printf("[%s]Network error for checking %s server name \r\n", who, kind);
      break;
    case NameCheck::kValid:
      break;
  }
  DDNSClient_CopyText(dest, name, sizeof dest);
  context->dwSettingsFlags |= flag;
  return DDNSCLIENT_OK;
}

}  // namespace

extern "C" uint32_t DDNSClient_Initial(DDNSClientContext **handle, const DDNSClientInitInfo *info) {
  if (handle == nullptr || info == nullptr) {
    puts("[DDNSClient_Initial] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (info->dwVersion != DDNSCLIENT_VERSION) {
    puts("[DDNSClient_Initial] Invalid version\r");
    return DDNSCLIENT_E_VERSION;
  }
  DDNSClientContext *context =
      static_cast<DDNSClientContext *>(calloc(1, sizeof(DDNSClientContext)));
  if (context == nullptr) {
    puts("[DDNSClient_Initial] malloc error\r");
    return DDNSCLIENT_E_NO_MEMORY;
  }
  *handle = context;
  OSThread_KeyCreate(&context->hThreadKey);

  if (!NetUtility_IsValidMACAddr(info->szMAC,
                                 static_cast<int>(strnlen(info->szMAC, sizeof info->szMAC)))) {
    DDNSClient_Release(handle);
    puts("[DDNSClient_Initial] Invalid MAC address\r");
    return DDNSCLIENT_E_INVALID_MAC;
  }
  DDNSClient_CopyText(context->szMAC, info->szMAC, sizeof context->szMAC);

  if (info->szFirmwareVersion[0] == '\0') {
    DDNSClient_Release(handle);
    puts("[DDNSClient_Initial] Need firmware version\r");
    return DDNSCLIENT_E_NEED_FIRMWARE;
  }
  DDNSClient_CopyText(context->szFirmwareVersion, info->szFirmwareVersion,
                      sizeof context->szFirmwareVersion);

  if (info->szHLDMServerName[0] != '\0' &&
      CheckAndStoreServerName(context, info->szHLDMServerName, context->szHLDMServerName,
                              DDNSCLIENT_FLAG_HLDM_SERVER, "DDNSClient_Initial",
                              "HLDM DDNS") != DDNSCLIENT_OK)
    return DDNSCLIENT_E_SERVER_NAME;  // the context stays in the handle
  if (info->szDDNSServerName[0] != '\0' &&
      CheckAndStoreServerName(context, info->szDDNSServerName, context->szDDNSServerName,
                              DDNSCLIENT_FLAG_DDNS_SERVER, "DDNSClient_Initial",
                              "DDNS") != DDNSCLIENT_OK)
    return DDNSCLIENT_E_SERVER_NAME;  // the context stays in the handle

  if (OSSemaphore_Initial(&context->hSemaphore, 1, 1) != 0) {
    DDNSClient_Release(handle);
    puts("[DDNSClient_Initial] OSSemaphore_Initial failed\r");
    return DDNSCLIENT_E_SEMAPHORE;
  }
  uint32_t result = HTTPClient_Initial(&context->pHTTPClient, 0x00000701u);
  if (result != 0) {
    DDNSClient_Release(handle);
    printf("[DDNSClient_Initial] create HTTP client failed (%8x)\r\n",
           static_cast<unsigned>(result));
    return DDNSCLIENT_E_HTTP_CLIENT;
  }
  context->dwEnabled = 0;
  context->dwServiceProvider = 1;
  context->dwPublicIPSource = 1;
  context->dwCheckIPPortSwitch = 1;
  context->dwUpdatePortSwitch = 1;
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_Release(DDNSClientContext **handle) {
  if (handle == nullptr || *handle == nullptr) {
    if (handle != nullptr) *handle = nullptr;
    return DDNSCLIENT_OK;
  }
  DDNSClientContext *context = *handle;
  if (context->hThreadKey != nullptr) OSThread_Release(&context->hThreadKey);
  if (context->pHTTPClient != nullptr) HTTPClient_Release(&context->pHTTPClient);
  if (context->hSemaphore != nullptr) OSSemaphore_Release(&context->hSemaphore);
  free(context);
  *handle = nullptr;
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_SetParameters(DDNSClientContext *context,
                                             const DDNSClientSettings *settings) {
  if (context == nullptr || settings == nullptr) {
    puts("[DDNSClient_SetParameters] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  SettingsLock lock(context);
  memcpy(&context->tLastSettings, settings, sizeof context->tLastSettings);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_SetExternalIP(DDNSClientContext *context, uint32_t status,
                                             const char *address) {
  if (context == nullptr || address == nullptr || address[0] == '\0') {
    puts("[DDNSClient_SetExternalIP] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (status != 1 && status != 2) {
    printf("[DDNSClient_SetExternalIP] Invalid status: %d\r\n", static_cast<int>(status));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (status == 2) {
    if (strncmp(address, "0.0.0.0", 7) == 0) {
      printf("[DDNSClient_SetExternalIP] Invalid external IP: %s\r\n", address);
      return DDNSCLIENT_E_INVALID_ARGS;
    }
    SettingsLock lock(context);
    context->dwPublicIPSource = 2;
    DDNSClient_CopyText(context->szCurrentIP, address, sizeof context->szCurrentIP);
  } else {
    SettingsLock lock(context);
    context->dwPublicIPSource = 1;
  }
  return DDNSCLIENT_OK;
}

extern "C" int DDNSClient_DNSresolve(const char *host_name, uint32_t *address) {
  if (host_name == nullptr || address == nullptr) {
    puts("[DDNSClient_DNSresolve] Invalid arguments\r");
    return -1;
  }
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo *list = nullptr;
  if (getaddrinfo(host_name, nullptr, &hints, &list) != 0 || list == nullptr) {
    if (list != nullptr) freeaddrinfo(list);
    return -1;
  }
  char text[INET_ADDRSTRLEN] = {0};
  const struct sockaddr_in *sin = reinterpret_cast<const struct sockaddr_in *>(list->ai_addr);
  inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text);
  *address = inet_addr(text);
  freeaddrinfo(list);
  return 0;
}

extern "C" int DDNSClient_CheckNecessaryFlag(const DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_CheckNecessaryFlag] Invalid arguments\r");
    return 0;
  }
  const uint32_t f = context->dwSettingsFlags;
  const uint32_t p = context->dwServiceProvider;
  if (!(f & DDNSCLIENT_FLAG_PROVIDER)) return 0;
  if (p == 22) return 1;
  const uint32_t account =
      DDNSCLIENT_FLAG_HOSTNAME | DDNSCLIENT_FLAG_USERNAME | DDNSCLIENT_FLAG_PASSWORD;
  if ((f & account) != account) return 0;
  if (p == 5 || p == 24) return (f & DDNSCLIENT_FLAG_HLDM_SERVER) ? 1 : 0;
  if (p == 10 || p == 26 || p == 27 || p == 29 || p == 34)
    return (f & DDNSCLIENT_FLAG_DDNS_SERVER) ? 1 : 0;
  if (p == 23) {
    const uint32_t need = DDNSCLIENT_FLAG_DDNS_SERVER | DDNSCLIENT_FLAG_CHECKIP_PORT |
                          DDNSCLIENT_FLAG_UPDATE_PORT | DDNSCLIENT_FLAG_PROVIDER_TEXT1 |
                          DDNSCLIENT_FLAG_PROVIDER_TEXT2;
    return (f & need) == need ? 1 : 0;
  }
  return 1;
}

extern "C" uint32_t DDNSClient_CheckServerName(DDNSClientContext *context,
                                               const DDNSClientSettings *settings) {
  if (context == nullptr || settings == nullptr) {
    puts("[DDNSClient_CheckServerName] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (!context->dwEnabled) return DDNSCLIENT_OK;
  const uint32_t p = context->dwServiceProvider;
  const uint32_t f = settings->dwFlags;
  const bool settings_hldm2 =
      settings->dwServiceProvider == DDNSCLIENT_PROVIDER_HLDM2 && (f & DDNSCLIENT_FLAG_HLDM_SERVER);
  const bool needs_ddns_server =
      p == 10 || p == 23 || p == 26 || p == 27 || p == 29 || p == 34 || p == 36;
  if (p != DDNSCLIENT_PROVIDER_HLDM && !settings_hldm2 && needs_ddns_server &&
      (f & DDNSCLIENT_FLAG_DDNS_SERVER)) {
    return CheckAndStoreServerName(context, settings->szDDNSServerName, context->szDDNSServerName,
                                   DDNSCLIENT_FLAG_DDNS_SERVER, "DDNSClient_CheckServerName",
                                   "DDNS");
  }
  if ((p != DDNSCLIENT_PROVIDER_HLDM && settings_hldm2) ||
      (p == DDNSCLIENT_PROVIDER_HLDM && (f & DDNSCLIENT_FLAG_HLDM_SERVER))) {
    return CheckAndStoreServerName(context, settings->szHLDMServerName, context->szHLDMServerName,
                                   DDNSCLIENT_FLAG_HLDM_SERVER, "DDNSClient_CheckServerName",
                                   "HLDM DDNS");
  }
  if (DDNSClient_CheckNecessaryFlag(context)) return DDNSCLIENT_OK;
  printf("[DDNSClient_CheckServerName] Lack some settings %8x\r\n",
         static_cast<unsigned>(context->dwSettingsFlags));
  return DDNSCLIENT_E_FAIL;
}
