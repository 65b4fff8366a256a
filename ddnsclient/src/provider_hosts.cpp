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
};

}  // namespace namreg
