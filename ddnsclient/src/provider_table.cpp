// The provider table: one row per provider number, and its validity test.
#include "ddnsclient_internal.h"

#include <stdio.h>

namespace {

// A row known by its presence flags only; its routines are bound elsewhere.
constexpr DDNSServiceInfo Row(uint32_t interval, bool update, bool check_ip) {
  return DDNSServiceInfo{interval, nullptr, nullptr, static_cast<uint8_t>(update ? 1 : 0),
                         static_cast<uint8_t>(check_ip ? 1 : 0)};
}

// A row whose routines are bound here; its presence flags follow them.
constexpr DDNSServiceInfo Bind(uint32_t interval, DDNSClientRoutine update,
                               DDNSClientRoutine check_ip) {
  return DDNSServiceInfo{interval, update, check_ip, static_cast<uint8_t>(update ? 1 : 0),
                         static_cast<uint8_t>(check_ip ? 1 : 0)};
}

constexpr DDNSServiceInfo kHLDM{5, DDNSClient_Update_HLDM, DDNSClient_CheckIP_HLDM, 1, 1};

}  // namespace

// Rows 7, 20 and 25 (I-O DATA, PeanutHull, MegaChips) carry their presence
// flags without routine pointers: those adapters are not part of this build.
// DDNSClient_IsValidServiceProv goes by the presence flags, so it already answers for every
// provider.
const DDNSServiceInfo g_tDDNSServiceInfo[DDNSCLIENT_PROVIDER_COUNT] = {
    Bind(0, nullptr, nullptr),                                            // 0  none
    Bind(10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS),        // 1  DynDNS, dynamic host
    Bind(10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS),        // 2  DynDNS, custom host
    Bind(1, DDNSClient_Update_TZO, DDNSClient_CheckIP_TZO),               // 3  TZO
    Bind(8, DDNSClient_Update_DHS, DDNSClient_CheckIP_General),           // 4  DHS
    kHLDM,                                                                // 5  HLDM service
    Bind(5, DDNSClient_Update_Interfree, DDNSClient_CheckIP_General),     // 6  GnuDIP (Interfree)
    Row(10, true, true),                                                  // 7  I-O DATA
    Bind(10, DDNSClient_Update_DynamicDo, DDNSClient_CheckIP_DynamicDo),  // 8  DynamicDo
    Bind(5, DDNSClient_Update_MyDNS, DDNSClient_CheckIP_General),         // 9  MyDNS
    Bind(10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS),  // 10 DynDNS, configured server
    Bind(5, DDNSClient_Update_DP21, DDNSClient_CheckIP_General),    // 11 DP21
    Bind(5, DDNSClient_Update_AtNetHome, DDNSClient_CheckIP_General),  // 12 AtNetHome
    Bind(5, nullptr, DDNSClient_CheckIP_General),                      // 13 none
    Bind(5, nullptr, DDNSClient_CheckIP_General),                      // 14 none
    Bind(5, DDNSClient_Update_PCICyberGate,
         DDNSClient_CheckIP_General),  // 15 GnuDIP (PCI CyberGate)
    Bind(5, DDNSClient_Update_PCICyberGate,
         DDNSClient_CheckIP_General),  // 16 GnuDIP (PCI CyberGate)
    Bind(5, DDNSClient_Update_PCICyberGate,
         DDNSClient_CheckIP_General),  // 17 GnuDIP (PCI CyberGate)
    Bind(5, DDNSClient_Update_PCICyberGate,
         DDNSClient_CheckIP_General),  // 18 GnuDIP (PCI CyberGate)
    Bind(10, DDNSClient_Update_NexusControl, DDNSClient_CheckIP_NexusControl),  // 19 NexusControl
    Row(1, true, false),                                                        // 20 PeanutHull
    Bind(10, DDNSClient_Update_DynamicDo, DDNSClient_CheckIP_DynamicDo),        // 21 DynamicDo free
    Bind(3, nullptr, DDNSClient_CheckIP_General),                               // 22 none
    Bind(5, DDNSClient_Update_PCCW, DDNSClient_CheckIP_PCCW),                   // 23 PCCW
    kHLDM,                 // 24 HLDM service (second number)
    Row(10, true, false),  // 25 MegaChips
    Bind(10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS),  // 26 DynDNS, configured server
    Bind(10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS),  // 27 DynDNS, configured server
    Bind(10, DDNSClient_Update_Logitec, DDNSClient_CheckIP_General),  // 28 Logitec
    Bind(10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS),  // 29 DynDNS, configured server
    Bind(10, DDNSClient_Update_Huagai, DDNSClient_CheckIP_Huagai),  // 30 Huagai
    Bind(10, DDNSClient_Update_3322, DDNSClient_CheckIP_General),   // 31 3322
    Bind(10, nullptr, DDNSClient_CheckIP_General),                  // 32 none
    Bind(10, DDNSClient_Update_ChangeIP, DDNSClient_CheckIP_ChangeIP),  // 33 ChangeIP
    Bind(10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS),  // 34 DynDNS, configured server
    Bind(1, DDNSClient_Update_SWISSCOM, DDNSClient_CheckIP_SWISSCOM),  // 35 Swisscom
    Bind(1, DDNSClient_Update_TZO, DDNSClient_CheckIP_TZO),            // 36 TZO, configured server
    Bind(30, nullptr, nullptr),                                        // 37 none
};

extern "C" int DDNSClient_IsValidServiceProv(uint32_t provider) {
  if (provider < 1 || provider >= DDNSCLIENT_PROVIDER_COUNT) return 0;
  const DDNSServiceInfo &row = g_tDDNSServiceInfo[provider];
  if (row.bHasUpdate &&
      (provider == 20 || provider == 25 || provider == 32 || provider == 37 || row.bHasCheckIP))
    return 1;
  printf("[DDNSClient_IsValidServiceProv] Need definition for service provider %d\r\n",
         static_cast<int>(provider));
  return 0;
}
