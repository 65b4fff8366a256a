// SPDX-License-Identifier: MIT
// Check-IP routines of the public providers: each fetches one page from its
// provider and takes the public address that follows the page's marker.
#include <stdio.h>

#include "ddnsclient_internal.h"
#include "provider_internal.h"

namespace {

using namreg::ProviderHost;
using namreg::ProviderHostName;

// One fixed check-IP page: host, port when the context's check-IP port
// switch is 1 and otherwise, path, marker before the address (null: the
// address starts the body).
struct CheckIPPage {
  const char *name;
  ProviderHost host;
  uint16_t alternative_port;
  uint16_t port;
  const char *path;
  const char *marker;
};

constexpr CheckIPPage kNoIP{
    "DDNSClient_CheckIP_NoIP", namreg::kHostNoIPCheckIP, 8245, 80, "/ip.php", nullptr};
constexpr CheckIPPage kDNSPark{
    "DDNSClient_CheckIP_DNSPark", namreg::kHostDNSParkCheckIP, 8888, 80, "/", "Current Address:"};
constexpr CheckIPPage kDynDNS{
    "DDNSClient_CheckIP_DynDNS", namreg::kHostDynDNSCheckIP, 8245, 80, "/", "Current IP Address:"};
constexpr CheckIPPage kTZO{
    "DDNSClient_CheckIP_TZO", namreg::kHostTZOCheckIP, 21333, 80, "/", "IPAddress:"};
constexpr CheckIPPage kHuagai{
    "DDNSClient_CheckIP_Huagai", namreg::kHostHuagaiWeb, 8008, 80, "/myip/", nullptr};
constexpr CheckIPPage kChangeIP{
    "DDNSClient_CheckIP_ChangeIP", namreg::kHostChangeIPCheckIP, 8245, 80, "/", nullptr};
constexpr CheckIPPage kDynamicDo{"DDNSClient_CheckIP_DynamicDo",
                                 namreg::kHostDynamicDoCheckIP,
                                 80,
                                 80,
                                 "/remote_addr.php",
                                 "REMOTE_ADDR:"};
constexpr CheckIPPage kIOData{"DDNSClient_CheckIP_IOData",  namreg::kHostIODataCheckIP, 80, 80,
                              "/cgi-bin/ddns/check_ip.cgi", "Current IP Address:"};
constexpr CheckIPPage kNexusControl{"DDNSClient_CheckIP_NexusControl",
                                    namreg::kHostNexusControlCheckIP,
                                    80,
                                    80,
                                    "/",
                                    "Current IP Address:"};

uint16_t CheckIPPort(const DDNSClientContext *context, uint16_t alternative, uint16_t normal) {
  return context->dwCheckIPPortSwitch == 1 ? alternative : normal;
}

uint32_t FetchPage(DDNSClientContext *context, const CheckIPPage &page) {
  if (context == nullptr) {
    printf("[%s] Invalid arguments\r\n", page.name);
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  return DDNSClient_CheckIPRoutine(context, ProviderHostName(page.host),
                                   CheckIPPort(context, page.alternative_port, page.port),
                                   page.path, page.marker, context->szFirmwareVersion);
}

// The rotation of DDNSClient_CheckIP_General, indexed by the context's slot.
constexpr DDNSClientRoutine kRotation[] = {
    DDNSClient_CheckIP_NoIP,
    DDNSClient_CheckIP_DNSPark,
    DDNSClient_CheckIP_DynDNS,
    DDNSClient_CheckIP_TZO,
};
constexpr uint32_t kRotationSize = sizeof kRotation / sizeof kRotation[0];

}  // namespace

extern "C" uint32_t DDNSClient_CheckIP_NoIP(DDNSClientContext *context) {
  return FetchPage(context, kNoIP);
}

extern "C" uint32_t DDNSClient_CheckIP_DNSPark(DDNSClientContext *context) {
  return FetchPage(context, kDNSPark);
}

extern "C" uint32_t DDNSClient_CheckIP_DynDNS(DDNSClientContext *context) {
  return FetchPage(context, kDynDNS);
}

extern "C" uint32_t DDNSClient_CheckIP_TZO(DDNSClientContext *context) {
  return FetchPage(context, kTZO);
}

extern "C" uint32_t DDNSClient_CheckIP_Huagai(DDNSClientContext *context) {
  return FetchPage(context, kHuagai);
}

extern "C" uint32_t DDNSClient_CheckIP_ChangeIP(DDNSClientContext *context) {
  return FetchPage(context, kChangeIP);
}

extern "C" uint32_t DDNSClient_CheckIP_DynamicDo(DDNSClientContext *context) {
  return FetchPage(context, kDynamicDo);
}

extern "C" uint32_t DDNSClient_CheckIP_IOData(DDNSClientContext *context) {
  return FetchPage(context, kIOData);
}

extern "C" uint32_t DDNSClient_CheckIP_NexusControl(DDNSClientContext *context) {
  return FetchPage(context, kNexusControl);
}

extern "C" uint32_t DDNSClient_CheckIP_SWISSCOM(DDNSClientContext *context) {
  if (context == nullptr) return DDNSCLIENT_E_INVALID_ARGS;
  const DDNSClientSettings &last = context->tLastSettings;
  char path[256];
  if (!namreg::ComposeRequest(path, "/?mac=%.*s&ip=%.*s&port=%d",
                              static_cast<int>(sizeof last.szCameraMAC), last.szCameraMAC,
                              static_cast<int>(sizeof last.szCameraIP), last.szCameraIP,
                              static_cast<int>(last.wCameraPort)))
    return namreg::RefusedText("DDNSClient_CheckIP_SWISSCOM");
  return DDNSClient_CheckIPRoutine(context, ProviderHostName(namreg::kHostSwisscomCheckIP),
                                   CheckIPPort(context, 8245, 80), path, nullptr,
                                   context->szFirmwareVersion);
}

extern "C" uint32_t DDNSClient_CheckIP_General(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_CheckIP_General] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  const uint32_t slot = context->dwCheckIPSlot % kRotationSize;
  const uint32_t result = kRotation[slot](context);
  context->dwCheckIPSlot = (slot + 1) % kRotationSize;
  return result;
}
