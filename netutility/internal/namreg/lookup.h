// SPDX-License-Identifier: MIT
// Name lookups bounded by a deadline, for the libraries' own use (not
// installed): the system's getaddrinfo follows resolv.conf's time-outs,
// which no operation's budget can bound.
#ifndef NAMREG_INTERNAL_LOOKUP_H
#define NAMREG_INTERNAL_LOOKUP_H

#include <stdint.h>

#include "namreg/deadline.h"

namespace namreg {

// NetUtility_DNSResolve with its one wait ending by `deadline`; with
// `walk_past`, records of other types before the A record (a DNAME, a
// signature) are skipped instead of ending the walk.
int32_t DNSResolveUntil(uint32_t server_address, const char *host_name, const Deadline &deadline,
                        uint32_t *address, bool walk_past = false);

// The IPv4 address of `host_name` as a camera can afford it within a
// budget: a dotted quad as it stands, then /etc/hosts, then the name
// servers of /etc/resolv.conf in turn, two rounds, each query given what
// is left of `deadline` (at most kLookupQueryMs), until one answers.
// 0 with *address set, DNS_RESULT_NAME_ERROR when a name server says the
// name does not exist, -1 otherwise (no name server, none answered).
constexpr uint64_t kLookupQueryMs = 3000;
int32_t LookupHostUntil(const char *host_name, const Deadline &deadline, uint32_t *address);

// NetUtility_IsValidDomainName's check (the first name server of
// /etc/resolv.conf, at most 2 s) with its wait ending by `deadline` too:
// the resolver's result (0 when the server answered without an error,
// DNS_RESULT_NAME_ERROR, -1), or kNoNameServer when /etc/resolv.conf names
// none.
constexpr int32_t kNoNameServer = -2;
int32_t CheckDomainNameUntil(const char *host_name, const Deadline &deadline);

// The IPv4 address of `host_name` in /etc/hosts; false when not there.
bool LookupHostsFile(const char *host_name, uint32_t *address);

// ---- One query sent in one step and collected in later ones --------------
// For callers stepped by an event loop, which may not block: DNSQueryStart
// sends the A query to one name server and returns at once;
// DNSQueryCollect waits at most until `wait` for the answer and is called
// again, step after step, until it has one.  The socket stays open in
// between; DNSQueryClose closes it (also on a query that is not out).
// Only an answer from the server's port 53 carrying the query's ID is
// taken, and it is judged as NetUtility_DNSResolve judges it.  A dotted
// quad is the caller's to take as it stands.
struct DNSQuery {
  int fd;  // -1: no query out
  uint16_t id;
  uint32_t server;
};

// 0: sent; -1: nothing out (no server, a name DNS cannot carry, no
// socket, the send failed).
int32_t DNSQueryStart(DNSQuery *query, uint32_t server_address, const char *host_name);

// kDNSQueryPending when no answer came by `wait` (the query stays out);
// otherwise the query is closed and the result is NetUtility_DNSResolve's:
// 0 (*address written when the answer held an A record), -1, or
// DNS_RESULT_NAME_ERROR.
constexpr int32_t kDNSQueryPending = 1;
int32_t DNSQueryCollect(DNSQuery *query, const Deadline &wait, uint32_t *address);

void DNSQueryClose(DNSQuery *query);

}  // namespace namreg

#endif  // NAMREG_INTERNAL_LOOKUP_H
