// SPDX-License-Identifier: MIT
// Settings processing: validate a caller's settings record and copy what an
// operation needs into the context.  The routines run with the context's
// semaphore held; fields copied before a failure stay in the context.
#include "ddnsclient_internal.h"
#include "settings_lock.h"

#include <namreg/lookup.h>
#include <namreg/netutility.h>
#include <namreg/text_safety.h>

#include <stddef.h>
#include <stdio.h>
#include <string.h>

namespace {

// How long the seeding lookup of a changed host name may wait at most.
constexpr uint64_t kSeedLookupMs = 2000;

// Where each text of a settings record lies, and the flag that names it
// (the texts of providers 7 and 25 go with the provider flag).
struct SettingsText {
  uint32_t flag;
  uint16_t offset;
  uint16_t size;
};
#define NAMREG_SETTINGS_TEXT(flag, field) \
  { flag, offsetof(DDNSClientSettings, field), sizeof(DDNSClientSettings::field) }
constexpr SettingsText kSettingsTexts[] = {
    NAMREG_SETTINGS_TEXT(DDNSCLIENT_FLAG_HOSTNAME, szHostName),
    NAMREG_SETTINGS_TEXT(DDNSCLIENT_FLAG_USERNAME, szUserName),
    NAMREG_SETTINGS_TEXT(DDNSCLIENT_FLAG_PASSWORD, szPassword),
    NAMREG_SETTINGS_TEXT(DDNSCLIENT_FLAG_HLDM_SERVER, szHLDMServerName),
    NAMREG_SETTINGS_TEXT(DDNSCLIENT_FLAG_DDNS_SERVER, szDDNSServerName),
    NAMREG_SETTINGS_TEXT(DDNSCLIENT_FLAG_PROVIDER_TEXT1, szProviderText1),
    NAMREG_SETTINGS_TEXT(DDNSCLIENT_FLAG_PROVIDER_TEXT2, szProviderText2),
    NAMREG_SETTINGS_TEXT(DDNSCLIENT_FLAG_PROVIDER, szMegaChipsText),
    NAMREG_SETTINGS_TEXT(DDNSCLIENT_FLAG_PROVIDER, szProvider7Text),
};
#undef NAMREG_SETTINGS_TEXT

// True, after the routine's message, when one of the settings' texts that
// `fields` (settings flags) name holds a control byte (nothing is taken
// then).
bool RefuseControlBytes(const DDNSClientSettings *settings, uint32_t fields, const char *who) {
  const char *record = reinterpret_cast<const char *>(settings);
  for (const SettingsText &text : kSettingsTexts) {
    if ((fields & text.flag) && namreg::HasControlByte(record + text.offset, text.size)) {
      if (who != nullptr) printf("[%s] Settings text holds a control byte\r\n", who);
      return true;
    }
  }
  return false;
}

// How long a lookup of the settings step may wait now: `most`, cut to what
// is left of the operation's deadline.
uint64_t LookupWaitMs(const DDNSClientContext *context, uint64_t most) {
  if (context->pOperationDeadline != nullptr && context->pOperationDeadline->LeftMs() < most)
    return context->pOperationDeadline->LeftMs();
  return most;
}

// The name check of a server name (NetUtility_IsValidDomainName's: the
// first name server, 2 s) within the operation's deadline: 0 valid,
// DNS_RESULT_NAME_ERROR, or -1 when it could not be checked.
int32_t CheckServerName(const DDNSClientContext *context, const char *name) {
  return namreg::CheckDomainNameUntil(
      name, namreg::Deadline::AfterMs(LookupWaitMs(context, kSeedLookupMs)));
}

// The HTTP port the HLDM service is told about: above 1024 or exactly 80,
// anything else announces 0.
void TakeAlternativePort(DDNSClientContext *context, const DDNSClientSettings *settings) {
  context->dwHTTPAlternativePortPresent = 1;
  const uint16_t port = settings->wHTTPAlternativePort;
  context->wHTTPAlternativePort = (port > 1024 || port == 80) ? port : 0;
}

// The texts of the HLDM settings routines.
constexpr uint32_t kHLDMTexts =
    DDNSCLIENT_FLAG_HOSTNAME | DDNSCLIENT_FLAG_USERNAME | DDNSCLIENT_FLAG_HLDM_SERVER;

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
  const int32_t result = CheckServerName(context, name);
  if (result != 0) {
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
  if (RefuseControlBytes(settings, kHLDMTexts | DDNSCLIENT_FLAG_PASSWORD, kWho))
    return DDNSCLIENT_E_INVALID_ARGS;
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
  if (RefuseControlBytes(settings, kHLDMTexts, kWho)) return DDNSCLIENT_E_INVALID_ARGS;
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
  if (RefuseControlBytes(settings, DDNSCLIENT_FLAG_HOSTNAME | DDNSCLIENT_FLAG_HLDM_SERVER,
                         kCheckHostNameWho))
    return DDNSCLIENT_E_INVALID_ARGS;
  uint32_t result = TakeHostName(context, settings, kCheckHostNameWho);
  if (result != DDNSCLIENT_OK) return result;
  if (settings->dwFlags & DDNSCLIENT_FLAG_HLDM_SERVER) {
    char name[sizeof settings->szHLDMServerName];
    DDNSClient_CopyText(name, settings->szHLDMServerName, sizeof name);
    char shown[namreg::EscapedSize(sizeof name)];
    printf("servername = %s\n", namreg::EscapeControls(name, shown, sizeof shown));
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
  if (RefuseControlBytes(settings, DDNSCLIENT_FLAG_HOSTNAME, kCheckHostNameWho))
    return DDNSCLIENT_E_INVALID_ARGS;
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
  if (RefuseControlBytes(settings, f | DDNSCLIENT_FLAG_PROVIDER,
                         "DDNSClient_ProcessUpdateSettings"))
    return DDNSCLIENT_E_INVALID_ARGS;

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
    // The last address starts as what the DNS holds for the host.  No name
    // server yet (a camera before DHCP) is no reason to refuse the
    // settings: the operation that follows meets the missing network.
    uint32_t address = 0;
    uint32_t primary = 0, secondary = 0;
    if (NetUtility_GetDNSIP(&primary, &secondary) != 0 || primary == 0) {
      puts("DDNSClient_ProcessUpdateSettings(): NetUtility_GetDNSIP() failed!! \r");
    } else {
      // At most 2 s, and never past the operation's own deadline.
      const uint64_t wait_ms = LookupWaitMs(context, kSeedLookupMs);
      if (namreg::DNSResolveUntil(primary, context->szHostName, namreg::Deadline::AfterMs(wait_ms),
                                  &address) != 0 ||
          address == 0) {
        puts("DDNSClient_ProcessUpdateSettings(): NetUtility_DNSResolve() failed!! \r");
        address = 0;
      }
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
