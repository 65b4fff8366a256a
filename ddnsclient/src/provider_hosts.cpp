// SPDX-License-Identifier: MIT
// The fixed host names of the public providers.  Hosts under the reserved
// ".example" domain stand for services whose public host name is not known
// here; a host program that serves such a provider must not rely on them.
#include "provider_internal.h"

namespace namreg {

const char *const kProviderHosts[kProviderHostCount] = {
    "members.dyndns.org",            // DynDNS: member update host
    "checkip.dyndns.org",            // DynDNS: check-IP host
    "ip1.dynupdate.no-ip.com",       // No-IP: update host serving the address page
    "ipdetect.dnspark.com",          // DNSPark: IP-detect host
    "rh.tzo.com",                    // TZO: update host
    "echo.tzo.com",                  // TZO: echo host
    "members.dhs.org",               // DHS: member host
    "ns.dhs.example",                // DHS: name server named in the success reply (not known)
    "update.dynamicdo.example",      // DynamicDo: main update host (not known)
    "free.dynamicdo.example",        // DynamicDo: free-service update host (not known)
    "info.dynamicdo.example",        // DynamicDo: address-info host (not known)
    "www.mydns.jp",                  // MyDNS: web host
    "ddns.dp21.example",             // DP21: update host (not known)
    "ddns.atnethome.example",        // AtNetHome: update host (not known)
    "members.nexuscontrol.example",  // NexusControl: member host (not known)
    "checkip.nexuscontrol.example",  // NexusControl: check-IP host (not known)
    "ddns.logitec.example",          // Logitec: member host (not known)
    "www.huagai.example",            // Huagai: web host (not known)
    "members.3322.org",              // 3322: member host
    "nic.changeip.com",              // ChangeIP: update host
    "ip.changeip.com",               // ChangeIP: IP host
    "ddns.home-monitor.example",     // Swisscom: home-monitor DDNS host (not known)
    "checkip.home-monitor.example",  // Swisscom: home-monitor check-IP host (not known)
    "ipcheck.iodata.example",        // I-O DATA: IP-check host (not known)
    "ddns.interfree.example",        // Interfree: GnuDIP host (not known)
    "ddns.pcicybergate.example",     // PCI CyberGate: GnuDIP host (not known)
    DDNSCLIENT_IODATA_HOST,          // I-O DATA: service host (not known)
    DDNSCLIENT_MEGACHIPS_HOST,       // MegaChips: service host (not known)
};

// HTTPS on port 443, as far as it is known from the providers' own
// documentation of their update interfaces: DynDNS documents its update
// URL as https://members.dyndns.org/nic/update, ChangeIP as
// https://nic.changeip.com/nic/update, and MyDNS serves its site and its
// login update over HTTPS.  Everything else is unknown (or a stand-in) and
// is fetched over plain HTTP unless a program asks for HTTPS everywhere.
const bool kProviderHostOffersHttps[kProviderHostCount] = {
    true,   // members.dyndns.org
    false,  // checkip.dyndns.org
    false,  // ip1.dynupdate.no-ip.com
    false,  // ipdetect.dnspark.com
    false,  // rh.tzo.com
    false,  // echo.tzo.com
    false,  // members.dhs.org
    false,  // DHS name server (never fetched)
    false,  // DynamicDo main update host
    false,  // DynamicDo free-service update host
    false,  // DynamicDo address-info host
    true,   // www.mydns.jp
    false,  // DP21
    false,  // AtNetHome
    false,  // NexusControl member host
    false,  // NexusControl check-IP host
    false,  // Logitec
    false,  // Huagai
    false,  // members.3322.org
    true,   // nic.changeip.com
    false,  // ip.changeip.com
    false,  // Swisscom DDNS host
    false,  // Swisscom check-IP host
    false,  // I-O DATA IP-check host
    false,  // Interfree
    false,  // PCI CyberGate
    false,  // I-O DATA service host
    false,  // MegaChips service host
};

// Provider number -> the hosts of its update and check-IP fetches.
const ProviderFetchHosts kProviderFetchHosts[DDNSCLIENT_PROVIDER_COUNT] = {
    {kHostNone, kHostNone},                               // 0  none
    {kHostDynDNSUpdate, kHostDynDNSCheckIP},              // 1  DynDNS
    {kHostDynDNSUpdate, kHostDynDNSCheckIP},              // 2  DynDNS, custom host
    {kHostTZOUpdate, kHostTZOCheckIP},                    // 3  TZO
    {kHostDHSUpdate, kHostRotation},                      // 4  DHS
    {kHostNone, kHostNone},                               // 5  HLDM service (TCP)
    {kHostInterfreeUpdate, kHostRotation},                // 6  GnuDIP (Interfree)
    {kHostIODataUpdate, kHostIODataCheckIP},              // 7  I-O DATA
    {kHostDynamicDoUpdate, kHostDynamicDoCheckIP},        // 8  DynamicDo
    {kHostMyDNSUpdate, kHostRotation},                    // 9  MyDNS
    {kHostConfigured, kHostDynDNSCheckIP},                // 10 DynDNS, configured server
    {kHostDP21Update, kHostRotation},                     // 11 DP21
    {kHostAtNetHomeUpdate, kHostRotation},                // 12 AtNetHome
    {kHostNone, kHostRotation},                           // 13 none
    {kHostNone, kHostRotation},                           // 14 none
    {kHostPCICyberGateUpdate, kHostRotation},             // 15 GnuDIP (PCI CyberGate)
    {kHostPCICyberGateUpdate, kHostRotation},             // 16
    {kHostPCICyberGateUpdate, kHostRotation},             // 17
    {kHostPCICyberGateUpdate, kHostRotation},             // 18
    {kHostNexusControlUpdate, kHostNexusControlCheckIP},  // 19 NexusControl
    {kHostNone, kHostNone},                               // 20 PeanutHull (TCP, UDP)
    {kHostDynamicDoFreeUpdate, kHostDynamicDoCheckIP},    // 21 DynamicDo, free service
    {kHostNone, kHostRotation},                           // 22 none
    {kHostConfigured, kHostConfigured},                   // 23 PCCW
    {kHostNone, kHostNone},                               // 24 HLDM service (second)
    {kHostMegaChipsUpdate, kHostNone},                    // 25 MegaChips
    {kHostConfigured, kHostDynDNSCheckIP},                // 26 DynDNS, configured server
    {kHostConfigured, kHostDynDNSCheckIP},                // 27
    {kHostLogitecUpdate, kHostRotation},                  // 28 Logitec
    {kHostConfigured, kHostDynDNSCheckIP},                // 29 DynDNS, configured server
    {kHostHuagaiWeb, kHostHuagaiWeb},                     // 30 Huagai
    {kHost3322Update, kHostRotation},                     // 31 3322
    {kHostNone, kHostRotation},                           // 32 none
    {kHostChangeIPUpdate, kHostChangeIPCheckIP},          // 33 ChangeIP
    {kHostConfigured, kHostDynDNSCheckIP},                // 34 DynDNS, configured server
    {kHostSwisscomUpdate, kHostSwisscomCheckIP},          // 35 Swisscom
    {kHostConfigured, kHostTZOCheckIP},                   // 36 TZO, configured server
    {kHostNone, kHostNone},                               // 37 none
};

}  // namespace namreg
