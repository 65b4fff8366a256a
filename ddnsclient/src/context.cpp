// SPDX-License-Identifier: MIT
// The client context: creation, release, the small setters and the
// server-name checks.
#include "ddnsclient_internal.h"
#include "settings_lock.h"

#include <namreg/lookup.h>
#include <namreg/netutility.h>
#include <namreg/text_safety.h>

#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

void DDNSClient_RecordAttempt(DDNSClientContext *context, uint32_t provider) {
  if (provider >= DDNSCLIENT_PROVIDER_COUNT) return;
  context->adwLastUpdateTick[provider] = DDNSClient_GetTickMs();
  context->abUpdateAttempted[provider] = 1;
}

uint64_t DDNSClient_ExchangeBudgetMs(const DDNSClientContext *context, uint32_t timeout_seconds) {
  uint64_t budget = uint64_t{timeout_seconds} * 1000u;
  if (context->pOperationDeadline != nullptr) {
    const uint64_t left = context->pOperationDeadline->LeftMs();
    if (left < budget) budget = left;
  }
  return budget;
}

}  // namespace namreg

namespace {

// Budget of DDNSClient_DNSresolve, which has none of its own.
constexpr uint32_t kResolveSeconds = 10;

// "[<who>] Text holds a control byte" and 0x80010006.
uint32_t RefusedText(const char *who) {
  printf("[%s] Text holds a control byte\r\n", who);
  return DDNSCLIENT_E_INVALID_ARGS;
}

enum class NameCheck { kValid, kNameError, kNetworkError };

// Resolves the name through the first name server of the system's list
// (2 s at most).
NameCheck CheckDomainName(const char *name) {
  const int32_t result = namreg::CheckDomainNameUntil(name, namreg::Deadline(2));
  if (result == 0) return NameCheck::kValid;
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
  if (namreg::HasControlByte(name)) return RefusedText(who);
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
  // The firmware text travels as the User-Agent of every request: nothing
  // is created for a text that could split a request.  (Server names are
  // refused by their check below.)
  if (namreg::HasControlByte(info->szFirmwareVersion, sizeof info->szFirmwareVersion))
    return RefusedText("DDNSClient_Initial");
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

  // A refused server name leaves the context in the handle.
  uint32_t result;
  if (info->szHLDMServerName[0] != '\0' &&
      (result = CheckAndStoreServerName(context, info->szHLDMServerName, context->szHLDMServerName,
                                        DDNSCLIENT_FLAG_HLDM_SERVER, "DDNSClient_Initial",
                                        "HLDM DDNS")) != DDNSCLIENT_OK)
    return result;
  if (info->szDDNSServerName[0] != '\0' &&
      (result = CheckAndStoreServerName(context, info->szDDNSServerName, context->szDDNSServerName,
                                        DDNSCLIENT_FLAG_DDNS_SERVER, "DDNSClient_Initial",
                                        "DDNS")) != DDNSCLIENT_OK)
    return result;

  if (OSSemaphore_Initial(&context->hSemaphore, 1, 1) != 0) {
    DDNSClient_Release(handle);
    puts("[DDNSClient_Initial] OSSemaphore_Initial failed\r");
    return DDNSCLIENT_E_SEMAPHORE;
  }
  result = HTTPClient_Initial(&context->pHTTPClient, 0x00000701u);
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
  const struct {
    const char *text;
    size_t size;
  } kTexts[] = {
      {settings->szHostName, sizeof settings->szHostName},
      {settings->szUserName, sizeof settings->szUserName},
      {settings->szPassword, sizeof settings->szPassword},
      {settings->szHLDMServerName, sizeof settings->szHLDMServerName},
      {settings->szDDNSServerName, sizeof settings->szDDNSServerName},
      {settings->szProviderText1, sizeof settings->szProviderText1},
      {settings->szProviderText2, sizeof settings->szProviderText2},
      {settings->szMegaChipsText, sizeof settings->szMegaChipsText},
      {settings->szProvider7Text, sizeof settings->szProvider7Text},
      {settings->szCameraIP, sizeof settings->szCameraIP},
      {settings->szCameraMAC, sizeof settings->szCameraMAC},
  };
  for (const auto &field : kTexts)
    if (namreg::HasControlByte(field.text, field.size))
      return RefusedText("DDNSClient_SetParameters");
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
    if (namreg::HasControlByte(address)) return RefusedText("DDNSClient_SetExternalIP");
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
  // Not getaddrinfo: it waits as long as resolv.conf's time-outs say.
  uint32_t found = 0;
  if (namreg::LookupHostUntil(host_name, namreg::Deadline(kResolveSeconds), &found) != 0) return -1;
  *address = found;
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
