// SPDX-License-Identifier: MIT
// DNS UPDATE (RFC 2136): adds one A record to a zone with one message over
// UDP and judges the server's answer (taken only from the server's address
// and port; its ID is not compared).
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

#include "dns_wire.h"
#include "namreg/common.h"
#include "namreg/netutility.h"
#include "socket_util.h"

namespace {

using netutility::DnsGet16;
using netutility::DnsPut16;
using netutility::kDnsHeaderSize;
using netutility::kDnsMessageSize;

constexpr int kAlert = 1;
const char kTag[] = "DNS_UPDATE";

constexpr uint8_t kUpdateRequest = 0x28;   // opcode 5
constexpr uint8_t kUpdateResponse = 0xA8;  // QR, opcode 5, AA/TC/RD clear
constexpr uint16_t kTypeSoa = 6;
constexpr uint16_t kTypeA = 1;
constexpr uint16_t kClassIn = 1;
// Bytes after each name: ZTYPE, ZCLASS and the smallest host name and record
// after the zone; TYPE, CLASS, TTL, RDLENGTH and the address after the host.
constexpr size_t kAfterHost = 14;
constexpr size_t kAfterZone = 4 + 2 + kAfterHost;

// Each outcome is printed and logged; the logged format takes the tag.
#define REPORT(printed, logged)       \
  do {                                \
    puts(printed);                    \
    Log_Syslog(kAlert, logged, kTag); \
  } while (0)

// Builds the update into `message` (cleared beforehand); returns its length,
// or 0 when a name is not one DNS can carry or the two do not fit together.
size_t BuildUpdate(uint8_t *message, const char *zone_name, const char *host_name, uint32_t address,
                   uint32_t ttl, uint8_t record_class) {
  size_t n = kDnsHeaderSize;
  const size_t zone_length =
      netutility::DnsEncodeName(zone_name, message + n, kDnsMessageSize - n - kAfterZone);
  if (zone_length == 0) return 0;
  n += zone_length;
  DnsPut16(message + n, kTypeSoa);
  DnsPut16(message + n + 2, kClassIn);
  n += 4;
  const size_t host_length =
      netutility::DnsEncodeName(host_name, message + n, kDnsMessageSize - n - kAfterHost);
  if (host_length == 0) return 0;
  n += host_length;
  DnsPut16(message + n, kTypeA);
  message[n + 2] = 0;
  message[n + 3] = record_class;
  message[n + 4] = static_cast<uint8_t>(ttl >> 24);
  message[n + 5] = static_cast<uint8_t>(ttl >> 16);
  message[n + 6] = static_cast<uint8_t>(ttl >> 8);
  message[n + 7] = static_cast<uint8_t>(ttl);
  DnsPut16(message + n + 8, 4);
  memcpy(message + n + 10, &address, 4);

  const uint16_t id = netutility::RandomMessageId();
  memcpy(message, &id, 2);
  message[2] = kUpdateRequest;
  message[3] = 0x00;
  DnsPut16(message + 4, 1);   // ZOCOUNT
  DnsPut16(message + 6, 0);   // PRCOUNT
  DnsPut16(message + 8, 1);   // UPCOUNT
  DnsPut16(message + 10, 0);  // ADCOUNT
  return n + 14;
}

}  // namespace

extern "C" int NetUtility_DNSUpdate(const char *server_address, const char *zone_name,
                                    const char *host_name, const char *address, uint32_t ttl,
                                    uint8_t record_class, uint32_t timeout_seconds) {
  if (server_address == nullptr) {
    REPORT("[NetUtility_DNSUpdate] Need DNS server IP\r", "[%s]:Need DNS server IP\n");
    return -1;
  }
  if (address == nullptr) {
    REPORT("[NetUtility_DNSUpdate] Need DNS update IP\r", "[%s]:Need DNS update IP\n");
    return -1;
  }
  if (zone_name == nullptr || host_name == nullptr) {
    REPORT("[NetUtility_DNSUpdate] Invalid argument\r", "[%s]:Invalid argument\n");
    return -1;
  }
  const size_t address_length = strlen(address);
  if (address_length > 15 || NetUtility_IsValidIP(address, static_cast<int>(address_length)) != 1) {
    REPORT("[NetUtility_DNSUpdate] Invalid IP\r", "[%s]:Invalid IP\n");
    return -1;
  }
  uint8_t message[kDnsMessageSize];
  memset(message, 0, sizeof(message));
  const size_t length =
      BuildUpdate(message, zone_name, host_name, inet_addr(address), ttl, record_class);
  if (length == 0) {
    // Names DNS cannot carry, or that do not fit the message together, are
    // refused before anything is sent.
    REPORT("[NetUtility_DNSUpdate] Invalid argument\r", "[%s]:Invalid argument\n");
    return -1;
  }

  fdutil::SocketGuard sock(netutility::OpenUdpSocket());
  if (!sock.valid()) return -1;

  const uint32_t server = inet_addr(server_address);
  if (!netutility::SendToNameServer(sock.get(), message, length, server)) return -1;

  memset(message, 0, sizeof(message));
  const namreg::Deadline deadline(timeout_seconds);
  const ssize_t got = netutility::ReceiveFromNameServer(sock.get(), message, sizeof(message),
                                                        server, nullptr, deadline);
  if (got == netutility::kNoAnswer) {
    printf("[NetUtility_DNSUpdate] Time out and no response!");
    Log_Syslog(kAlert, "[%s]:Time out and no response!!\n", kTag);
    return -1;
  }
  if (got <= 0) {
    const int error = errno;
    printf("[NetUtility_DNSUpdate] recvfrom failed (%d)\r\n", error);
    Log_Syslog(kAlert, "[%s]:recvfrom failed\n", kTag);
    return -1;
  }
  sock.Close();

  // Bytes the datagram did not fill stay zero.
  const unsigned flags = (static_cast<unsigned>(message[2]) << 8) | message[3];
  if (message[2] != kUpdateResponse || (message[3] & 0x7F) != 0) {
    REPORT("[NetUtility_DNSUpdate] Update fail!", "[%s]:Update fail!\n");
    printf("Flag:%X\n", flags);
    return -1;
  }
  REPORT("[NetUtility_DNSUpdate] Update success!", "[%s]:Update success!\n");
  printf("Flag:%X\n", flags);
  // Servers may leave the update section out of the answer (RFC 2136 3.8).
  const uint16_t zocount = DnsGet16(message + 4);
  const uint16_t upcount = DnsGet16(message + 8);
  return (zocount == 1 && upcount <= 1) ? 0 : -1;
}
