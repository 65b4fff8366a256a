// SPDX-License-Identifier: MIT
// The DNS stub resolver: one A query over UDP to one name server, one wait,
// one answer.  The query ID comes from the kernel's random source, and only
// an answer from the server's address and port that carries that ID is
// taken.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

#include "dns_wire.h"
#include "namreg/lookup.h"
#include "namreg/netutility.h"
#include "socket_util.h"

namespace {

using netutility::DnsPut16;
using netutility::kDnsHeaderSize;
using netutility::kDnsMessageSize;

constexpr uint32_t kDomainCheckSeconds = 2;

}  // namespace

namespace namreg {

int32_t DNSResolveUntil(uint32_t server_address, const char *host_name, const Deadline &deadline,
                        uint32_t *address, bool walk_past) {
  if (server_address == 0) {
    puts("[NetUtility_DNSResolve] Need DNS server IP\r");
    return -1;
  }
  if (host_name == nullptr || address == nullptr) {
    puts("[NetUtility_DNSResolve] Invalid argument\r");
    return -1;
  }
  const size_t name_length = strlen(host_name);
  if (name_length <= 15 && NetUtility_IsValidIP(host_name, static_cast<int>(name_length)) == 1) {
    *address = inet_addr(host_name);
    return 0;
  }
  // Every byte of the query is written, and the answer is read only as far
  // as it was received, so the buffer needs no clearing.
  uint8_t message[kDnsMessageSize];
  const uint16_t id = netutility::RandomMessageId();
  const size_t query_length = netutility::DnsBuildQuery(message, id, host_name);
  if (query_length == 0) {
    // Names DNS cannot carry are refused before anything is sent.
    puts("[NetUtility_DNSResolve] Invalid argument\r");
    return -1;
  }

  fdutil::SocketGuard sock(netutility::OpenUdpSocket());
  if (!sock.valid()) return -1;

  if (!netutility::SendToNameServer(sock.get(), message, query_length, server_address)) return -1;

  // Datagrams from elsewhere, or with another ID, are dropped without
  // restarting the wait.
  uint8_t id_bytes[2];
  memcpy(id_bytes, &id, 2);
  const ssize_t got = netutility::ReceiveFromNameServer(sock.get(), message, sizeof(message),
                                                        server_address, id_bytes, deadline);
  if (got == netutility::kNoAnswer) return -1;
  if (got < 0) {
    printf("[NetUtility_DNSResolve] recvfrom failed (%d)\r\n", errno);
    return -1;
  }
  sock.Close();
  return netutility::DnsParseAnswer(message, static_cast<size_t>(got), id, address, walk_past);
}

int32_t CheckDomainNameUntil(const char *host_name, const Deadline &deadline) {
  uint32_t primary = 0;
  uint32_t secondary = 0;
  if (NetUtility_GetDNSIP(&primary, &secondary) != 0 || primary == 0) return kNoNameServer;
  const uint64_t left = deadline.LeftMs();
  const uint64_t most = uint64_t{kDomainCheckSeconds} * 1000u;
  uint32_t address = 0;
  return DNSResolveUntil(primary, host_name, Deadline::AfterMs(left < most ? left : most),
                         &address);
}

}  // namespace namreg

extern "C" {

int32_t NetUtility_DNSResolve(uint32_t server_address, const char *host_name,
                              uint32_t timeout_seconds, uint32_t *address) {
  if (host_name == nullptr || address == nullptr || timeout_seconds == 0) {
    if (server_address == 0)
      puts("[NetUtility_DNSResolve] Need DNS server IP\r");
    else
      puts("[NetUtility_DNSResolve] Invalid argument\r");
    return -1;
  }
  return namreg::DNSResolveUntil(server_address, host_name, namreg::Deadline(timeout_seconds),
                                 address);
}

int NetUtility_IsValidDomainName(const char *host_name, int32_t *result) {
  if (result != nullptr) *result = -1;
  if (host_name == nullptr || host_name[0] == '\0') {
    puts("[NetUtility_IsValidDomainName] Invalid arguments\r");
    return 0;
  }
  const int32_t code =
      namreg::CheckDomainNameUntil(host_name, namreg::Deadline(kDomainCheckSeconds));
  if (code == namreg::kNoNameServer) {
    puts("[NetUtility_IsValidDomainName] Get DNS server IP failed\r");
    return 0;
  }
  if (result != nullptr) *result = code;
  if (code == 0) return 1;
  puts("[NetUtility_IsValidDomainName] DNS resolve failed\r");
  return 0;
}

}  // extern "C"
