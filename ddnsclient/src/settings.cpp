// SPDX-License-Identifier: MIT
// Settings processing: validate a caller's settings record and copy what an
// operation needs into the context.  The routines run with the context's
// semaphore held; fields copied before a failure stay in the context.
#include "ddnsclient_internal.h"
#include "settings_lock.h"

#include <namreg/netutility.h>

#include <stdio.h>
#include <string.h>

namespace {

// The HTTP port the HLDM service is told about: above 1024 or exactly 80,
// anything else announces 0.
void TakeAlternativePort(DDNSClientContext *context, const DDNSClientSettings *settings) {
  context->dwHTTPAlternativePortPresent = 1;
  const uint16_t port = settings->wHTTPAlternativePort;
  context->wHTTPAlternativePort = (port > 1024 || port == 80) ? port : 0;
}

// Tests the settings' HLDM server name with the name server and stores it.
// `who` is the routine's name for the messages; null prints nothing.
uint32_t TakeHLDMServerName(DDNSClientContext *context, const DDNSClientSettings *settings,
                            const char *who) {
  char name[sizeof settings->szHLDMServerName];
  DDNSClient_CopyText(name, settings->szHLDMServerName, sizeof name);
  if (name[0] == '\0') {
    if (who != nullptr) printf("[%s] Need server name for HLDM DDNS\r\n", who);
    return DDNSCLIENT_E_SERVER_NAME;
  }
  int32_t result = -1;
  if (NetUtility_IsValidDomainName(name, &result) != 1) {
    if (result == DNS_RESULT_NAME_ERROR) {
      if (who != nullptr) printf("[%s] Invalid HLDM DDNS server name\r\n", who);
      return DDNSCLIENT_E_SERVER_NAME;
    }
    if (who != nullptr) printf("[%s]Network error for checking HLDM DDNS server name \r\n", who);
    return DDNSCLIENT_E_NETWORK;
  }
  DDNSClient_CopyText(context->szHLDMServerName, name, sizeof context->szHLDMServerName);
  return DDNSCLIENT_OK;
}

uint32_t NeedServerName(const DDNSClientContext *context, const char *who) {
  if (context->szHLDMServerName[0] == '\0') {
    printf("[%s] Need server name for HLDM DDNS\r\n", who);
    return DDNSCLIENT_E_SERVER_NAME;
  }
  return DDNSCLIENT_OK;
}

uint32_t TakeEmail(DDNSClientContext *context, const DDNSClientSettings *settings,
                   const char *who) {
  if (settings->szUserName[0] == '\0') {
    printf("[%s] Need E-mail for HLDM DDNS\r\n", who);
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  DDNSClient_CopyText(context->szHLDMEmail, settings->szUserName, sizeof context->szHLDMEmail);
  return DDNSCLIENT_OK;
}

uint32_t TakeHostName(DDNSClientContext *context, const DDNSClientSettings *settings,
                      const char *who) {
  if (settings->szHostName[0] == '\0') {
    printf("[%s] Need hostname for HLDM DDNS\r\n", who);
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  DDNSClient_CopyText(context->szHLDMHostName, settings->szHostName,
                      sizeof context->szHLDMHostName);
  return DDNSCLIENT_OK;
}

bool NullArguments(const DDNSClientContext *context, const DDNSClientSettings *settings,
                   const char *who) {
  if (context != nullptr && settings != nullptr) return false;
  namreg::DDNSClient_PrintInvalidArguments(who);
  return true;
}

}  // namespace

extern "C" uint32_t DDNSClient_ProcessRegisterSettings(DDNSClientContext *context,
                                                       const DDNSClientSettings *settings) {
  static const char kWho[] = "DDNSClient_ProcessRegisterSettings";
  if (NullArguments(context, settings, kWho)) return DDNSCLIENT_E_INVALID_ARGS;
  if (settings->dwFlags & DDNSCLIENT_FLAG_HTTP_ALT_PORT) TakeAlternativePort(context, settings);
  uint32_t result = TakeEmail(context, settings, kWho);
  if (result != DDNSCLIENT_OK) return result;
  if (settings->szPassword[0] == '\0') {
    printf("[%s] Need password for HLDM DDNS\r\n", kWho);
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  DDNSClient_CopyText(context->szHLDMKey, settings->szPassword, sizeof context->szHLDMKey);
  if ((result = TakeHostName(context, settings, kWho)) != DDNSCLIENT_OK) return result;
  if (settings->dwFlags & DDNSCLIENT_FLAG_HLDM_SERVER) {
    if ((result = TakeHLDMServerName(context, settings, kWho)) != DDNSCLIENT_OK) return result;
  }
  return NeedServerName(context, kWho);
}

extern "C" uint32_t DDNSClient_ProcessRequestKeySettings(DDNSClientContext *context,
                                                         const DDNSClientSettings *settings) {
  static const char kWho[] = "DDNSClient_ProcessRequestKeySettings";
  if (NullArguments(context, settings, kWho)) return DDNSCLIENT_E_INVALID_ARGS;
  uint32_t result = TakeEmail(context, settings, kWho);
  if (result != DDNSCLIENT_OK) return result;
  if ((result = TakeHostName(context, settings, kWho)) != DDNSCLIENT_OK) return result;
  if (settings->dwFlags & DDNSCLIENT_FLAG_HLDM_SERVER) {
    if ((result = TakeHLDMServerName(context, settings, kWho)) != DDNSCLIENT_OK) return result;
  }
  return NeedServerName(context, kWho);
}

// Both check-host-name routines report under the same name.
static const char kCheckHostNameWho[] = "DDNSClient_ProcessCheckHostNameSettings";

extern "C" uint32_t DDNSClient_ProcessCheckHostNameSettingsEx(DDNSClientContext *context,
                                                              const DDNSClientSettings *settings) {
  if (NullArguments(context, settings, "DDNSClient_ProcessCheckHostNameSettingsEx"))
    return DDNSCLIENT_E_INVALID_ARGS;
  uint32_t result = TakeHostName(context, settings, kCheckHostNameWho);
  if (result != DDNSCLIENT_OK) return result;
  if (settings->dwFlags & DDNSCLIENT_FLAG_HLDM_SERVER) {
    char name[sizeof settings->szHLDMServerName];
    DDNSClient_CopyText(name, settings->szHLDMServerName, sizeof name);
    printf("servername = %s\n", name);
    if (name[0] == '\0') {
      printf("[%s] Need server name for HLDM DDNS\r\n", kCheckHostNameWho);
      return DDNSCLIENT_E_SERVER_NAME;
    }
    if ((result = TakeHLDMServerName(context, settings, nullptr)) != DDNSCLIENT_OK) return result;
  }
  return NeedServerName(context, kCheckHostNameWho);
}

extern "C" uint32_t DDNSClient_ProcessCheckHostNameSettings(DDNSClientContext *context,
                                                            const DDNSClientSettings *settings) {
  if (NullArguments(context, settings, kCheckHostNameWho)) return DDNSCLIENT_E_INVALID_ARGS;
  uint32_t result = TakeHostName(context, settings, kCheckHostNameWho);
  if (result != DDNSCLIENT_OK) return result;
  return NeedServerName(context, kCheckHostNameWho);
}

extern "C" uint32_t DDNSClient_ProcessUpdateSettings(DDNSClientContext *context,
                                                     const DDNSClientSettings *settings) {
  if (NullArguments(context, settings, "DDNSClient_ProcessUpdateSettings"))
    return DDNSCLIENT_E_INVALID_ARGS;
  const uint32_t f = settings->dwFlags;
  if (f & DDNSCLIENT_FLAG_ENABLE) context->dwEnabled = settings->dwEnable != 0 ? 1 : 0;
  if (!context->dwEnabled) return DDNSCLIENT_OK;

  if (f & DDNSCLIENT_FLAG_PROVIDER) {
    if (!DDNSClient_IsValidServiceProv(settings->dwServiceProvider)) {
      printf("[DDNSClient_ProcessUpdateSettings] Invalid service provider %d\r\n",
             static_cast<int>(settings->dwServiceProvider));
      return DDNSCLIENT_E_INVALID_ARGS;
    }
    context->dwServiceProvider = settings->dwServiceProvider;
    context->dwSettingsFlags |= DDNSCLIENT_FLAG_PROVIDER;
  }
  if (f & DDNSCLIENT_FLAG_HTTP_ALT_PORT) TakeAlternativePort(context, settings);

  if ((f & DDNSCLIENT_FLAG_HOSTNAME) &&
      strncmp(settings->szHostName, context->szHostName, sizeof context->szHostName - 1) != 0) {
    DDNSClient_CopyText(context->szHostName, settings->szHostName, sizeof context->szHostName);
    uint32_t primary = 0, secondary = 0;
    if (NetUtility_GetDNSIP(&primary, &secondary) != 0) {
      puts("DDNSClient_ProcessUpdateSettings(): NetUtility_GetDNSIP() failed!! \r");
      return DDNSCLIENT_E_FAIL;
    }
    uint32_t address = 0;
    if (NetUtility_DNSResolve(primary, context->szHostName, 2, &address) != 0 || address == 0) {
      puts("DDNSClient_ProcessUpdateSettings(): NetUtility_DNSResolve() failed!! \r");
      address = 0;
    }
    context->dwLastIP = address;
    context->dwSettingsFlags |= DDNSCLIENT_FLAG_HOSTNAME;
  }
  if (f & DDNSCLIENT_FLAG_USERNAME) {
    DDNSClient_CopyText(context->szUserName, settings->szUserName, sizeof context->szUserName);
    context->dwSettingsFlags |= DDNSCLIENT_FLAG_USERNAME;
  }
  if (f & DDNSCLIENT_FLAG_PASSWORD) {
    DDNSClient_CopyText(context->szPassword, settings->szPassword, sizeof context->szPassword);
    context->dwSettingsFlags |= DDNSCLIENT_FLAG_PASSWORD;
  }

  const uint32_t provider =
      context->dwServiceProvider < DDNSCLIENT_PROVIDER_COUNT ? context->dwServiceProvider : 0;
  context->dwUpdateInterval = g_tDDNSServiceInfo[provider].dwMinInterval;
  if (provider != 20 && (f & DDNSCLIENT_FLAG_INTERVAL) &&
      settings->dwUpdateInterval > context->dwUpdateInterval)
    context->dwUpdateInterval = settings->dwUpdateInterval;

  if (f & DDNSCLIENT_FLAG_CHECKIP_PORT) {
    context->dwCheckIPPortSwitch = settings->dwCheckIPPortSwitch != 0 ? 1 : 0;
    if (settings->wCheckIPPort != 0) {
      context->wCheckIPPort = settings->wCheckIPPort;
      context->dwSettingsFlags |= DDNSCLIENT_FLAG_CHECKIP_PORT;
    }
  }
  if (f & DDNSCLIENT_FLAG_UPDATE_PORT) {
    context->dwUpdatePortSwitch = settings->dwUpdatePortSwitch != 0 ? 1 : 0;
    if (settings->wUpdatePort != 0) {
      context->wUpdatePort = settings->wUpdatePort;
      context->dwSettingsFlags |= DDNSCLIENT_FLAG_UPDATE_PORT;
    }
  }
  if ((f & DDNSCLIENT_FLAG_PROVIDER_TEXT1) && settings->szProviderText1[0] != '\0') {
    DDNSClient_CopyText(context->szProviderText1, settings->szProviderText1,
                        sizeof context->szProviderText1);
    context->dwSettingsFlags |= DDNSCLIENT_FLAG_PROVIDER_TEXT1;
  }
  if ((f & DDNSCLIENT_FLAG_PROVIDER_TEXT2) && settings->szProviderText2[0] != '\0') {
    DDNSClient_CopyText(context->szProviderText2, settings->szProviderText2,
                        sizeof context->szProviderText2);
    context->dwSettingsFlags |= DDNSCLIENT_FLAG_PROVIDER_TEXT2;
  }
  if (provider == 25 && settings->szMegaChipsText[0] != '\0')
    DDNSClient_CopyText(context->szMegaChipsText, settings->szMegaChipsText,
                        sizeof context->szMegaChipsText);
  if (provider == 7 && settings->szProvider7Text[0] != '\0')
    DDNSClient_CopyText(context->szProvider7Text, settings->szProvider7Text,
                        sizeof context->szProvider7Text);
  return DDNSCLIENT_OK;
}

extern "C" int DDNSClient_IsSettingsChanged(const DDNSClientContext *context,
                                            const DDNSClientSettings *settings) {
  if (context == nullptr || settings == nullptr) {
    puts("[DDNSClient_IsSettingsChanged] Invalid arguments\r");
    return 0;
  }
  const uint32_t f = settings->dwFlags;
  if ((f & DDNSCLIENT_FLAG_HOSTNAME) &&
      strncmp(settings->szHostName, context->szHostName, 127) != 0)
    return 1;
  if ((f & DDNSCLIENT_FLAG_USERNAME) && strncmp(settings->szUserName, context->szUserName, 63) != 0)
    return 1;
  if ((f & DDNSCLIENT_FLAG_PASSWORD) && strncmp(settings->szPassword, context->szPassword, 63) != 0)
    return 1;
  if ((f & DDNSCLIENT_FLAG_INTERVAL) && settings->dwUpdateInterval != context->dwUpdateInterval)
    return 1;
  if ((f & DDNSCLIENT_FLAG_CHECKIP_PORT) &&
      settings->dwCheckIPPortSwitch != context->dwCheckIPPortSwitch)
    return 1;
  if ((f & DDNSCLIENT_FLAG_UPDATE_PORT) &&
      settings->dwUpdatePortSwitch != context->dwUpdatePortSwitch)
    return 1;
  if ((f & DDNSCLIENT_FLAG_PROVIDER_TEXT2) &&
      strncmp(settings->szProviderText2, context->szProviderText2, 255) != 0)
    return 1;
  if ((f & DDNSCLIENT_FLAG_PROVIDER_TEXT1) &&
      strncmp(settings->szProviderText1, context->szProviderText1, 255) != 0)
    return 1;
  return 0;
}

extern "C" uint32_t DDNSClient_RegisterEnable(DDNSClientContext *context,
                                              const DDNSClientSettings *settings) {
  if (NullArguments(context, settings, "DDNSClient_RegisterEnable"))
    return DDNSCLIENT_E_INVALID_ARGS;
  if (!namreg::DDNSClient_IsHLDMProvider(settings->dwServiceProvider)) {
    printf("[DDNSClient_RegisterEnable] Invalid service provider: %d\r\n",
           static_cast<int>(settings->dwServiceProvider));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  SettingsLock lock(context);
  return DDNSClient_ProcessRegisterSettings(context, settings);
}

extern "C" uint32_t DDNSClient_RequestKeyEnable(DDNSClientContext *context,
                                                const DDNSClientSettings *settings) {
  if (NullArguments(context, settings, "DDNSClient_RequestKeyEnable"))
    return DDNSCLIENT_E_INVALID_ARGS;
  if (!namreg::DDNSClient_IsHLDMProvider(settings->dwServiceProvider)) {
    printf("[DDNSClient_RequestKeyEnable] Invalid service provider: %d\r\n",
           static_cast<int>(settings->dwServiceProvider));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  SettingsLock lock(context);
  return DDNSClient_ProcessRequestKeySettings(context, settings);
}

namespace namreg {

uint32_t DDNSClient_TakeUpdateSettings(const char *who, DDNSClientContext *context,
                                       const DDNSClientSettings *settings) {
  uint32_t result;
  {
    SettingsLock lock(context);
    result = DDNSClient_ProcessUpdateSettings(context, settings);
  }
  if (result == DDNSCLIENT_OK) return DDNSCLIENT_OK;
  printf("[%s] Process settings failed\r\n", who);
  return DDNSCLIENT_E_INVALID_ARGS;
}

}  // namespace namreg
