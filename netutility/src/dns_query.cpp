// SPDX-License-Identifier: MIT
// A name-server query for callers that step: sent in one step, its answer
// collected in later ones, the socket kept open in between.
#include <string.h>

#include "dns_wire.h"
#include "namreg/lookup.h"
#include "socket_util.h"

namespace namreg {

namespace {

using netutility::DnsPut16;
using netutility::kDnsHeaderSize;
using netutility::kDnsMessageSize;

}  // namespace

int32_t DNSQueryStart(DNSQuery *query, uint32_t server_address, const char *host_name) {
  DNSQueryClose(query);
  if (server_address == 0 || host_name == nullptr) return -1;
  uint8_t message[kDnsMessageSize];
  const uint16_t id = netutility::RandomMessageId();
  const size_t length = netutility::DnsBuildQuery(message, id, host_name);
  if (length == 0) return -1;
  fdutil::SocketGuard sock(netutility::OpenUdpSocket());
  if (!sock.valid()) return -1;
  if (!netutility::SendToNameServer(sock.get(), message, length, server_address)) return -1;
  query->fd = sock.fd;
  sock.fd = -1;  // the query's now
  query->id = id;
  query->server = server_address;
  return 0;
}

int32_t DNSQueryCollect(DNSQuery *query, const Deadline &wait, uint32_t *address) {
  if (query->fd < 0 || address == nullptr) return -1;
  uint8_t message[kDnsMessageSize];
  uint8_t id_bytes[2];
  memcpy(id_bytes, &query->id, 2);
  const ssize_t got = netutility::ReceiveFromNameServer(query->fd, message, sizeof(message),
                                                        query->server, id_bytes, wait);
  if (got == netutility::kNoAnswer) return kDNSQueryPending;
  DNSQueryClose(query);
  if (got < 0) return -1;
  return netutility::DnsParseAnswer(message, static_cast<size_t>(got), query->id, address);
}

void DNSQueryClose(DNSQuery *query) {
  if (query->fd >= 0) close(query->fd);
  query->fd = -1;
}

}  // namespace namreg
