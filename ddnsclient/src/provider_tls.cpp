// SPDX-License-Identifier: MIT
// HTTPS for the provider fetches: the context's mode and CA file, which
// hosts a fetch goes to over TLS, and what each provider's hosts offer.
#include <stdio.h>
#include <string.h>

#include "provider_internal.h"
#include "settings_lock.h"

namespace {

constexpr uint16_t kHttpPort = 80;
constexpr uint16_t kHttpsPort = 443;

// The provider host a fetch names, or kProviderHostCount for a host that
// is none of the providers' own.
uint32_t FindProviderHost(const char *host) {
  for (uint32_t i = 0; i < namreg::kProviderHostCount; ++i)
    if (strcmp(namreg::kProviderHosts[i], host) == 0) return i;
  return namreg::kProviderHostCount;
}

bool OffersHttps(namreg::ProviderHost host) {
  return host < namreg::kProviderHostCount && namreg::kProviderHostOffersHttps[host];
}

}  // namespace

namespace namreg {

bool FetchOverTls(const DDNSClientContext *context, const char *host, uint16_t *port) {
  if (context->dwTLSMode == DDNSCLIENT_TLS_OFF) return false;
  const uint32_t index = FindProviderHost(host);
  if (index < kProviderHostCount) {
    if (!kProviderHostOffersHttps[index]) return false;
    // The provider's own HTTPS port, whatever plain port its table names.
    *port = kHttpsPort;
    return true;
  }
  if (context->dwTLSMode != DDNSCLIENT_TLS_ALL) return false;
  // A server of the caller's choice: its plain default port becomes the
  // HTTPS one; a port of its own is its own.
  if (*port == kHttpPort) *port = kHttpsPort;
  return true;
}

}  // namespace namreg

extern "C" uint32_t DDNSClient_SetTLS(DDNSClientContext *context, uint32_t mode,
                                      const char *ca_file) {
  if (context == nullptr) {
    puts("[DDNSClient_SetTLS] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (ca_file == nullptr) ca_file = "";
  const size_t length = strnlen(ca_file, DDNSCLIENT_TLS_CA_FILE_SIZE);
  uint32_t refusal = DDNSCLIENT_OK;
  if (mode > DDNSCLIENT_TLS_ALL || length == DDNSCLIENT_TLS_CA_FILE_SIZE ||
      namreg::HasControlByte(ca_file, length)) {
    puts("[DDNSClient_SetTLS] Invalid arguments\r");
    refusal = DDNSCLIENT_E_INVALID_ARGS;
  } else if (mode != DDNSCLIENT_TLS_OFF && HTTPClient_TLSBuiltIn() == 0) {
    refusal = DDNSCLIENT_E_TLS_NOT_BUILT;
  }
  SettingsLock lock(context);
  // A refused request for HTTPS stays a request for it: what would have
  // gone over TLS fails instead of going out in clear.
  context->dwTLSMode = mode > DDNSCLIENT_TLS_ALL ? DDNSCLIENT_TLS_ALL : mode;
  context->dwTLSRefusal = refusal;
  memset(context->szTLSCAFile, 0, sizeof context->szTLSCAFile);
  if (refusal == DDNSCLIENT_OK) memcpy(context->szTLSCAFile, ca_file, length);
  return refusal;
}

extern "C" uint32_t DDNSClient_ProviderTLS(uint32_t provider) {
  if (provider >= DDNSCLIENT_PROVIDER_COUNT) return 0;
  const namreg::ProviderFetchHosts &hosts = namreg::kProviderFetchHosts[provider];
  return (OffersHttps(hosts.update) ? DDNSCLIENT_TLS_UPDATE : 0u) |
         (OffersHttps(hosts.check_ip) ? DDNSCLIENT_TLS_CHECKIP : 0u);
}

static_assert(DDNSCLIENT_TLS_CA_FILE_SIZE == HTTPCLIENT_TLS_CA_FILE_SIZE,
              "the context's CA file name fits the HTTP client's");
