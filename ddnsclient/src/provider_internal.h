// ddnsclient: what the public-provider adapters share inside the library:
// the provider host names and the keyword-table judge.
#ifndef NAMREG_DDNSCLIENT_PROVIDER_INTERNAL_H
#define NAMREG_DDNSCLIENT_PROVIDER_INTERNAL_H

#include <stdint.h>

namespace namreg {

// Every fixed host a provider adapter talks to (provider_hosts.cpp).
enum ProviderHost : uint32_t {
  kHostDynDNSUpdate,
  kHostDynDNSCheckIP,
  kHostNoIPCheckIP,
  kHostDNSParkCheckIP,
  kHostTZOUpdate,
  kHostTZOCheckIP,
  kHostDHSUpdate,
  kHostDHSNameServer,
  kHostDynamicDoUpdate,
  kHostDynamicDoFreeUpdate,
  kHostDynamicDoCheckIP,
  kHostMyDNSUpdate,
  kHostDP21Update,
  kHostAtNetHomeUpdate,
  kHostNexusControlUpdate,
  kHostNexusControlCheckIP,
  kHostLogitecUpdate,
  kHostHuagaiWeb,
  kHost3322Update,
  kHostChangeIPUpdate,
  kHostChangeIPCheckIP,
  kHostSwisscomUpdate,
  kHostSwisscomCheckIP,
  kHostIODataCheckIP,
  kHostInterfreeUpdate,
  kHostPCICyberGateUpdate,
  kProviderHostCount
};

// Host names, indexed by ProviderHost; none is longer than 32 characters.
extern const char *const kProviderHosts[kProviderHostCount];

inline const char *ProviderHostName(ProviderHost host) {
  return kProviderHosts[host];
}

// One row of a reply keyword table: the first keyword found in the body
// (case-sensitive substring) decides the result.
struct ReplyKeyword {
  const char *keyword;
  uint32_t result;
};

}  // namespace namreg

#endif  // NAMREG_DDNSCLIENT_PROVIDER_INTERNAL_H
