// The provider table: one row per provider number, and its validity test.
#include "ddnsclient_internal.h"

#include <stdio.h>

namespace {

constexpr DDNSServiceInfo Row(uint32_t interval, bool update, bool check_ip) {
  return DDNSServiceInfo{interval, nullptr, nullptr, static_cast<uint8_t>(update ? 1 : 0),
                         static_cast<uint8_t>(check_ip ? 1 : 0)};
}

constexpr DDNSServiceInfo kHLDM{5, DDNSClient_Update_HLDM, DDNSClient_CheckIP_HLDM, 1, 1};

}  // namespace

// Rows other than the HLDM service (5, 24) carry their presence flags but no
// routine pointers yet: the HTTP, GnuDIP, PeanutHull, I-O DATA and MegaChips
// adapters are not part of this build.  DDNSClient_IsValidServiceProv goes by
// the presence flags, so it already answers for every provider.
const DDNSServiceInfo namreg::g_tDDNSServiceInfo[DDNSCLIENT_PROVIDER_COUNT] = {
    Row(0, false, false),   // 0  none
    Row(10, true, true),    // 1  DynDNS, dynamic host
    Row(10, true, true),    // 2  DynDNS, custom host
    Row(1, true, true),     // 3  TZO
    Row(8, true, true),     // 4  DHS
    kHLDM,                  // 5  HLDM service
    Row(5, true, true),     // 6  GnuDIP (Interfree)
    Row(10, true, true),    // 7  I-O DATA
    Row(10, true, true),    // 8  DynamicDo
    Row(5, true, true),     // 9  MyDNS
    Row(10, true, true),    // 10 DynDNS protocol at the configured server
    Row(5, true, true),     // 11 DP21
    Row(5, true, true),     // 12 AtNetHome
    Row(5, false, true),    // 13 none
    Row(5, false, true),    // 14 none
    Row(5, true, true),     // 15 GnuDIP (PCI CyberGate)
    Row(5, true, true),     // 16 GnuDIP (PCI CyberGate)
    Row(5, true, true),     // 17 GnuDIP (PCI CyberGate)
    Row(5, true, true),     // 18 GnuDIP (PCI CyberGate)
    Row(10, true, true),    // 19 NexusControl
    Row(1, true, false),    // 20 PeanutHull
    Row(10, true, true),    // 21 DynamicDo, free service
    Row(3, false, true),    // 22 none
    Row(5, true, true),     // 23 PCCW
    kHLDM,                  // 24 HLDM service (second number)
    Row(10, true, false),   // 25 MegaChips
    Row(10, true, true),    // 26 DynDNS protocol at the configured server
    Row(10, true, true),    // 27 DynDNS protocol at the configured server
    Row(10, true, true),    // 28 Logitec
    Row(10, true, true),    // 29 DynDNS protocol at the configured server
    Row(10, true, true),    // 30 Huagai
    Row(10, true, true),    // 31 3322
    Row(10, false, true),   // 32 none
    Row(10, true, true),    // 33 ChangeIP
    Row(10, true, true),    // 34 DynDNS protocol at the configured server
    Row(1, true, true),     // 35 Swisscom
    Row(1, true, true),     // 36 TZO protocol at the configured server
    Row(30, false, false),  // 37 none
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
