// SPDX-License-Identifier: MIT
// The provider table: one row per provider number, and its validity test.
// The routines of a row are the one account of what the provider offers.
#include <stdio.h>

#include "ddnsclient_internal.h"

const DDNSServiceInfo namreg::g_tDDNSServiceInfo[DDNSCLIENT_PROVIDER_COUNT] = {
    {0, nullptr, nullptr},                                            // 0  none
    {10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS},        // 1  DynDNS, dynamic host
    {10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS},        // 2  DynDNS, custom host
    {1, DDNSClient_Update_TZO, DDNSClient_CheckIP_TZO},               // 3  TZO
    {8, DDNSClient_Update_DHS, DDNSClient_CheckIP_General},           // 4  DHS
    {5, DDNSClient_Update_HLDM, DDNSClient_CheckIP_HLDM},             // 5  HLDM service
    {5, DDNSClient_Update_Interfree, DDNSClient_CheckIP_General},     // 6  GnuDIP (Interfree)
    {10, DDNSClient_Update_IOData, DDNSClient_CheckIP_IOData},        // 7  I-O DATA
    {10, DDNSClient_Update_DynamicDo, DDNSClient_CheckIP_DynamicDo},  // 8  DynamicDo
    {5, DDNSClient_Update_MyDNS, DDNSClient_CheckIP_General},         // 9  MyDNS
    {10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS},     // 10 DynDNS, configured server
    {5, DDNSClient_Update_DP21, DDNSClient_CheckIP_General},       // 11 DP21
    {5, DDNSClient_Update_AtNetHome, DDNSClient_CheckIP_General},  // 12 AtNetHome
    {5, nullptr, DDNSClient_CheckIP_General},                      // 13 none
    {5, nullptr, DDNSClient_CheckIP_General},                      // 14 none
    {5, DDNSClient_Update_PCICyberGate, DDNSClient_CheckIP_General},  // 15 GnuDIP (PCI CyberGate)
    {5, DDNSClient_Update_PCICyberGate, DDNSClient_CheckIP_General},  // 16 GnuDIP (PCI CyberGate)
    {5, DDNSClient_Update_PCICyberGate, DDNSClient_CheckIP_General},  // 17 GnuDIP (PCI CyberGate)
    {5, DDNSClient_Update_PCICyberGate, DDNSClient_CheckIP_General},  // 18 GnuDIP (PCI CyberGate)
    {10, DDNSClient_Update_NexusControl, DDNSClient_CheckIP_NexusControl},  // 19 NexusControl
    {1, DDNS_PeanutHull_Update, nullptr},                                   // 20 PeanutHull
    {10, DDNSClient_Update_DynamicDo, DDNSClient_CheckIP_DynamicDo},  // 21 DynamicDo, free service
    {3, nullptr, DDNSClient_CheckIP_General},                         // 22 none
    {5, DDNSClient_Update_PCCW, DDNSClient_CheckIP_PCCW},             // 23 PCCW
    {5, DDNSClient_Update_HLDM, DDNSClient_CheckIP_HLDM},             // 24 HLDM service (second)
    {10, DDNSClient_Update_MegaChips, nullptr},                       // 25 MegaChips
    {10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS},      // 26 DynDNS, configured server
    {10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS},      // 27 DynDNS, configured server
    {10, DDNSClient_Update_Logitec, DDNSClient_CheckIP_General},    // 28 Logitec
    {10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS},      // 29 DynDNS, configured server
    {10, DDNSClient_Update_Huagai, DDNSClient_CheckIP_Huagai},      // 30 Huagai
    {10, DDNSClient_Update_3322, DDNSClient_CheckIP_General},       // 31 3322
    {10, nullptr, DDNSClient_CheckIP_General},                      // 32 none
    {10, DDNSClient_Update_ChangeIP, DDNSClient_CheckIP_ChangeIP},  // 33 ChangeIP
    {10, DDNSClient_Update_DynDNS, DDNSClient_CheckIP_DynDNS},      // 34 DynDNS, configured server
    {1, DDNSClient_Update_SWISSCOM, DDNSClient_CheckIP_SWISSCOM},   // 35 Swisscom
    {1, DDNSClient_Update_TZO, DDNSClient_CheckIP_TZO},             // 36 TZO, configured server
    {30, nullptr, nullptr},                                         // 37 none
};

extern "C" int DDNSClient_IsValidServiceProv(uint32_t provider) {
  if (provider < 1 || provider >= DDNSCLIENT_PROVIDER_COUNT) return 0;
  const DDNSServiceInfo &row = g_tDDNSServiceInfo[provider];
  // PeanutHull and MegaChips learn the address their own way; 32 and 37
  // would pass without a check-IP routine, but have no update routine.
  if (row.pfnUpdate != nullptr && (provider == 20 || provider == 25 || provider == 32 ||
                                   provider == 37 || row.pfnCheckIP != nullptr))
    return 1;
  printf("[DDNSClient_IsValidServiceProv] Need definition for service provider %d\r\n",
         static_cast<int>(provider));
  return 0;
}
