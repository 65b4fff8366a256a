/* SPDX-License-Identifier: MIT */
/*
 * netutility: IPv4 / MAC text validators, the name-server file reader, a DNS
 * stub resolver of its own (UDP, one query, one wait), DNS UPDATE, local
 * interface address, connectivity test and small socket / clock helpers.
 *
 * Addresses pass as 32-bit values in network byte order (as inet_addr gives
 * them); 0 means "no address".
 */
#ifndef NAMREG_NETUTILITY_H
#define NAMREG_NETUTILITY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DNS_RESULT_NAME_ERROR       ((int32_t)0x810E0003u) /* name server: no such name */
#define NET_RESULT_NO_HOST_RESOLVED ((int32_t)0x810E0001u) /* no test host resolved */

#define NETUTILITY_IF_WIRED    0 /* "eth0"  */
#define NETUTILITY_IF_WIRELESS 1 /* "wlan0" */

#define NETUTILITY_IP_NONE       0
#define NETUTILITY_IP_PRIVATE    1
#define NETUTILITY_IP_PUBLIC     2
#define NETUTILITY_IP_LINK_LOCAL 3

/* Validators: 1 valid, 0 not. */
int NetUtility_IsValidIP(const char *text, int length);
int NetUtility_IsValidMACAddr(const char *text, int length);

/* First two "nameserver " entries of /etc/resolv.conf; 0 or -1. */
int NetUtility_GetDNSIP(uint32_t *primary, uint32_t *secondary);
/* A record of host_name through the name server at server_address.
 * 0 (the output is written only when an address was found: callers zero it
 * first), -1, or DNS_RESULT_NAME_ERROR.  The query ID is random; only an
 * answer from the server's address and port 53 carrying that ID is taken,
 * others are dropped within the same timeout_seconds. */
int32_t NetUtility_DNSResolve(uint32_t server_address, const char *host_name,
                              uint32_t timeout_seconds, uint32_t *address);
/* 1 when the primary name server answers for host_name within 2 s without
 * an error (result 0, with or without an address the stub resolver could
 * use); *result receives the resolver's result code (-1 first). */
int NetUtility_IsValidDomainName(const char *host_name, int32_t *result);

/* Socket and clock helpers. */
int NetUtility_SetNonBlocking(int socket_fd);
int NetUtility_CloseSocket(int *socket_fd);
int NetUtility_CloseSockets(int *sockets, int count);
int NetUtility_SetReuseAddr(int socket_fd);
/* The wrapping 32-bit millisecond tick; the time-out test measures from
 * start_ms forward, right across one wrap. */
uint32_t NetUtility_GetTickMs(void);
int NetUtility_IsTimeout(uint32_t start_ms, uint32_t seconds, uint32_t *elapsed_seconds);

/* RFC 2136 add of one A record; 0 when the server confirms, else -1.  Only
 * an answer from the server's address and port 53 is taken. */
int NetUtility_DNSUpdate(const char *server_address, const char *zone_name, const char *host_name,
                         const char *address, uint32_t ttl, uint8_t record_class,
                         uint32_t timeout_seconds);

/* Local interface address and connectivity. */
int NetUtility_GetLocalIP(int interface_type, uint32_t *address);
int32_t NetUtility_ConnectToInternet(uint32_t timeout_seconds, uint32_t name_server);
int NetUtility_IsPrivateIP(const char *text, int length);
int NetUtility_IsLinkLocalIP(const char *text, int length);
int NetUtility_GetIPType(const char *text, int length);

#ifdef __cplusplus
}
#endif

#endif /* NAMREG_NETUTILITY_H */
