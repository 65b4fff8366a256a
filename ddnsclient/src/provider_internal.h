// SPDX-License-Identifier: MIT
// ddnsclient: what the public-provider adapters share inside the library:
// the provider host names and the keyword-table judge.
#ifndef NAMREG_DDNSCLIENT_PROVIDER_INTERNAL_H
#define NAMREG_DDNSCLIENT_PROVIDER_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "ddnsclient_internal.h"

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
  kHostIODataUpdate,
  kHostMegaChipsUpdate,
  kProviderHostCount,
  // Not hosts of the table: what a provider row fetches from otherwise.
  kHostNone,        // no HTTP fetch of that kind (or another protocol)
  kHostConfigured,  // the configured DDNS server
  kHostRotation,    // the general check-IP rotation's four pages
};

// Host names, indexed by ProviderHost; none is longer than 32 characters.
extern const char *const kProviderHosts[kProviderHostCount];
// Whether each host is known to serve HTTPS on port 443.
extern const bool kProviderHostOffersHttps[kProviderHostCount];

// The hosts of a provider row's update and check-IP fetches.
struct ProviderFetchHosts {
  ProviderHost update;
  ProviderHost check_ip;
};
extern const ProviderFetchHosts kProviderFetchHosts[DDNSCLIENT_PROVIDER_COUNT];

// How a fetch of `host` travels under the context's HTTPS mode: true for
// TLS (then *port is the port to use), false for plain HTTP on *port.
bool FetchOverTls(const DDNSClientContext *context, const char *host, uint16_t *port);

inline const char *ProviderHostName(ProviderHost host) {
  return kProviderHosts[host];
}

// One row of a reply keyword table: the first keyword found in the body
// (case-sensitive substring) decides the result.
struct ReplyKeyword {
  const char *keyword;
  uint32_t result;
};

// The first place in `body` where `keyword` stands as a word of its own:
// not right after a letter or digit ("ok" is not in "token") and, for a
// keyword ending in a digit, not right before a digit ("200" is not in
// "7200" nor in "2001").  A keyword may be a prefix ("!your" in "!yours").
const char *FindKeyword(const char *body, const char *keyword);

// Walks a keyword table over a terminated body (FindKeyword); the first
// keyword of the table found decides; 0x8002000D when none is found.
uint32_t JudgeReply(const char *body, const ReplyKeyword *table, size_t count);

template <size_t N>
uint32_t JudgeReply(const char *body, const ReplyKeyword (&table)[N]) {
  return JudgeReply(body, table, N);
}

// Bounds of the split host name: first label and domain part.
constexpr size_t kMaxFirstLabel = 95;
constexpr size_t kMaxDomainPart = 31;

enum class SplitResult { kOk, kNoDomain, kTooLong };

// Splits a host name at its first dot.  kNoDomain: empty, no dot, or nothing
// on one side of it; kTooLong: a part beyond its bound.  The outputs are
// empty unless the result is kOk.
SplitResult SplitHostName(const char *name, char (&label)[kMaxFirstLabel + 1],
                          char (&domain)[kMaxDomainPart + 1]);

// Size of the buffer every adapter composes its path and query in (a longer
// request is cut to 255 characters).
constexpr size_t kRequestSize = 256;

// Formats a request path and query into `request`: the format's own text as
// it stands, every %s (or %.*s) value percent-encoded (A-Z a-z 0-9 and
// "-._~@:" as they are, any other byte as %XX), %d a decimal number; cut at
// 255 characters, never inside an escape.  False, with an empty request,
// when a value holds a control byte: nothing may be sent then.
__attribute__((format(printf, 2, 3))) bool ComposeRequest(char (&request)[kRequestSize],
                                                          const char *format, ...);
// The same after a path of the caller's own (encoded as a path: its '/'
// kept), which must hold no control byte either.
__attribute__((format(printf, 3, 4))) bool ComposePathRequest(char (&request)[kRequestSize],
                                                              const char *path, const char *format,
                                                              ...);

// Whether the context's provider number is one of `numbers`.
template <size_t N>
bool ServesProvider(const DDNSClientContext *context, const uint32_t (&numbers)[N]) {
  for (uint32_t n : numbers)
    if (context->dwServiceProvider == n) return true;
  return false;
}

// "[name] Invalid arguments\r" / "[name] Invalid service provider: %d\r\n",
// both 0x80010006.
uint32_t InvalidArguments(const char *name);
uint32_t InvalidProvider(const char *name, const DDNSClientContext *context);
// "[name] Text holds a control byte\r", 0x80010006: a request refused
// before anything is sent.
uint32_t RefusedText(const char *name);

// The GET of an update (authenticated when use_auth is 1, the firmware
// version as User-Agent), then `judge` over the reply when it succeeded.
uint32_t UpdateAndJudge(DDNSClientContext *context, const char *host, uint16_t port,
                        const char *path, uint32_t use_auth,
                        uint32_t (*judge)(DDNSClientContext *));

}  // namespace namreg

#endif  // NAMREG_DDNSCLIENT_PROVIDER_INTERNAL_H
