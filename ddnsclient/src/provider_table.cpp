// The provider table: one row per provider number, and its validity test.
#include "ddnsclient_internal.h"

#include <stdio.h>

namespace {

// A row known by its presence flags only; its routines are bound elsewhere.
constexpr DDNSServiceInfo Row(uint32_t interval, bool update, bool check_ip,
                              DDNSClientRoutine check_ip_routine = nullptr) {
  return DDNSServiceInfo{interval, nullptr, check_ip_routine, static_cast<uint8_t>(update ? 1 : 0),
                         static_cast<uint8_t>(check_ip ? 1 : 0)};
}

constexpr DDNSServiceInfo kHLDM{5, DDNSClient_Update_HLDM, DDNSClient_CheckIP_HLDM, 1, 1};

}  // namespace

// Rows whose update routine is not part of this build yet carry their
// presence flags without that pointer.  DDNSClient_IsValidServiceProv goes by
// the presence flags, so it already answers for every provider.
const DDNSServiceInfo g_tDDNSServiceInfo[DDNSCLIENT_PROVIDER_COUNT] = {
    Row(0, false, false),                                             // 0  none
    Row(10, true, true, DDNSClient_CheckIP_DynDNS),                   // 1  DynDNS, dynamic host
    Row(10, true, true, DDNSClient_CheckIP_DynDNS),                   // 2  DynDNS, custom host
    Row(1, true, true, DDNSClient_CheckIP_TZO),                       // 3  TZO
    Row(8, true, true, DDNSClient_CheckIP_General),                   // 4  DHS
    kHLDM,                                                            // 5  HLDM service
    Row(5, true, true, DDNSClient_CheckIP_General),                   // 6  GnuDIP (Interfree)
    {10, DDNSClient_Update_IOData, DDNSClient_CheckIP_IOData, 1, 1},  // 7  I-O DATA
    Row(10, true, true, DDNSClient_CheckIP_DynamicDo),                // 8  DynamicDo
    Row(5, true, true, DDNSClient_CheckIP_General),                   // 9  MyDNS
    Row(10, true, true, DDNSClient_CheckIP_DynDNS),   // 10 DynDNS protocol at the configured server
    Row(5, true, true, DDNSClient_CheckIP_General),   // 11 DP21
    Row(5, true, true, DDNSClient_CheckIP_General),   // 12 AtNetHome
    Row(5, false, true, DDNSClient_CheckIP_General),  // 13 none
    Row(5, false, true, DDNSClient_CheckIP_General),  // 14 none
    Row(5, true, true, DDNSClient_CheckIP_General),   // 15 GnuDIP (PCI CyberGate)
    Row(5, true, true, DDNSClient_CheckIP_General),   // 16 GnuDIP (PCI CyberGate)
    Row(5, true, true, DDNSClient_CheckIP_General),   // 17 GnuDIP (PCI CyberGate)
    Row(5, true, true, DDNSClient_CheckIP_General),   // 18 GnuDIP (PCI CyberGate)
    Row(10, true, true, DDNSClient_CheckIP_NexusControl),  // 19 NexusControl
    {1, DDNS_PeanutHull_Update, nullptr, 1, 0},            // 20 PeanutHull
    Row(10, true, true, DDNSClient_CheckIP_DynamicDo),     // 21 DynamicDo, free service
    Row(3, false, true, DDNSClient_CheckIP_General),       // 22 none
    Row(5, true, true, DDNSClient_CheckIP_PCCW),           // 23 PCCW
    kHLDM,                                                 // 24 HLDM service (second number)
    {10, DDNSClient_Update_MegaChips, nullptr, 1, 0},      // 25 MegaChips
    Row(10, true, true, DDNSClient_CheckIP_DynDNS),   // 26 DynDNS protocol at the configured server
    Row(10, true, true, DDNSClient_CheckIP_DynDNS),   // 27 DynDNS protocol at the configured server
    Row(10, true, true, DDNSClient_CheckIP_General),  // 28 Logitec
    Row(10, true, true, DDNSClient_CheckIP_DynDNS),   // 29 DynDNS protocol at the configured server
    Row(10, true, true, DDNSClient_CheckIP_Huagai),   // 30 Huagai
    Row(10, true, true, DDNSClient_CheckIP_General),  // 31 3322
    Row(10, false, true, DDNSClient_CheckIP_General),  // 32 none
    Row(10, true, true, DDNSClient_CheckIP_ChangeIP),  // 33 ChangeIP
    Row(10, true, true, DDNSClient_CheckIP_DynDNS),   // 34 DynDNS protocol at the configured server
    Row(1, true, true, DDNSClient_CheckIP_SWISSCOM),  // 35 Swisscom
    Row(1, true, true, DDNSClient_CheckIP_TZO),       // 36 TZO protocol at the configured server
    Row(30, false, false),                            // 37 none
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
