/* SPDX-License-Identifier: MIT */
/*
 * ddnsclient: the DDNS client library (client context, settings, the HLDM
 * DDNS service and the public providers) and the HLDM request codec.
 */
#ifndef NAMREG_DDNSCLIENT_H
#define NAMREG_DDNSCLIENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ----------------------------------------------------- */

#define DDNSCLIENT_OK                      0x00000000u
#define DDNSCLIENT_I_IP_UNCHANGED          0x70010001u /* public address unchanged, nothing to do */
#define DDNSCLIENT_I_HOSTNAME_OTHER_CAMERA 0x70010002u /* host name used by another camera */
#define DDNSCLIENT_I_HOSTNAME_THIS_CAMERA  0x70010003u /* host name is this camera's */
#define DDNSCLIENT_E_VERSION               0x80010001u /* wrong interface version */
#define DDNSCLIENT_E_NO_MEMORY             0x80010002u
#define DDNSCLIENT_E_INVALID_MAC           0x80010003u
#define DDNSCLIENT_E_NEED_FIRMWARE         0x80010004u /* firmware version missing */
#define DDNSCLIENT_E_SERVER_NAME           0x80010005u /* invalid or missing server name */
#define DDNSCLIENT_E_INVALID_ARGS          0x80010006u /* invalid arguments / settings / provider */
#define DDNSCLIENT_E_SEMAPHORE             0x80010008u
#define DDNSCLIENT_E_HTTP_CLIENT           0x8001000Au
#define DDNSCLIENT_E_FAIL                  0xFFFFFFFFu /* missing settings, socket or time-out failure */
#define DDNSCLIENT_E_HOSTNAME              0x80020001u /* host unknown / not qualified / not the account's */
#define DDNSCLIENT_E_SERIAL                0x80020002u /* serial number wrong, bad authentication */
#define DDNSCLIENT_E_PASSWORD              0x80020003u
#define DDNSCLIENT_E_AUTH                  0x80020004u
#define DDNSCLIENT_E_NO_CHANGE             0x80020005u /* provider already has this address */
#define DDNSCLIENT_E_SERVER_DNS            0x80020006u /* server-side DNS or system error */
#define DDNSCLIENT_E_ABUSE                 0x80020007u
#define DDNSCLIENT_E_TOO_SOON              0x80020008u /* registered or changed within 10 minutes */
#define DDNSCLIENT_E_SERVER_MAC            0x80020009u /* invalid MAC (HLDM service) */
#define DDNSCLIENT_E_HOSTNAME_IN_USE       0x8002000Au
#define DDNSCLIENT_E_NO_PUBLIC_IP          0x8002000Bu
#define DDNSCLIENT_E_HOSTNAME_EMAIL        0x8002000Cu /* invalid host name or e-mail, refused */
#define DDNSCLIENT_E_UNKNOWN_RESPONSE      0x8002000Du
#define DDNSCLIENT_E_SYSTEM_PARAMETER      0x8002000Eu
#define DDNSCLIENT_E_AGENT_REFUSED         0x8002000Fu
#define DDNSCLIENT_E_NETWORK               0x80020010u
#define DDNSCLIENT_E_NO_REPLY              0x80020011u /* invalid or missing reply from the HLDM server */
#define DDNSCLIENT_E_DB_CONNECT            0x80020012u
#define DDNSCLIENT_E_DB_UPDATE             0x80020013u
#define DDNSCLIENT_E_DB_REFERENCE          0x80020014u
#define DDNSCLIENT_E_DNS_UPDATE            0x80020015u
#define DDNSCLIENT_E_SORRY                 0x80020016u
#define DDNSCLIENT_E_NOT_ACTIVE            0x80020017u
#define DDNSCLIENT_E_REPLY_TIMEOUT         0x80020018u
#define DDNSCLIENT_E_HTTP_400              0x80020019u
#define DDNSCLIENT_E_ALREADY_REGISTERED    0x8002001Au
#define DDNSCLIENT_E_SERVER_UNKNOWN        0x8002001Bu /* unknown server error (HLDM service) */
/* HTTPS (DDNSClient_SetTLS).  None of these sends anything that would reveal
 * credentials: the request goes out only after the certificate check.
 * DDNSCLIENT_E_TLS: set-up or handshake failed (the server offers only TLS
 * 1.1 or older, no common cipher, not TLS), or a damaged record.  The four
 * DDNSCLIENT_E_CERT_* refuse the server's certificate: from no trusted CA;
 * expired or not yet valid (or the device's clock is wrong); not for the
 * server's host; otherwise unusable (weak key or hash, key usage). */
#define DDNSCLIENT_E_TLS_NOT_BUILT  0x8001000Bu /* HTTPS asked for, library built without TLS */
#define DDNSCLIENT_E_TLS_CA_FILE    0x8001000Cu /* CA file unreadable or without a certificate */
#define DDNSCLIENT_E_TLS            0x8002001Cu /* TLS failed (not the certificate) */
#define DDNSCLIENT_E_CERT_UNTRUSTED 0x8002001Du /* certificate from no trusted CA */
#define DDNSCLIENT_E_CERT_EXPIRED   0x8002001Eu /* certificate expired or not yet valid */
#define DDNSCLIENT_E_CERT_NAME      0x8002001Fu /* certificate not for the server's host */
#define DDNSCLIENT_E_CERT_REFUSED   0x80020020u /* certificate refused otherwise */
/* 1 when a result is one of the four certificate refusals. */
#define DDNSCLIENT_IS_CERT_FAILURE(code) \
  ((code) >= DDNSCLIENT_E_CERT_UNTRUSTED && (code) <= DDNSCLIENT_E_CERT_REFUSED)

/* ---- Records ------------------------------------------------------------ */

#define DDNSCLIENT_VERSION 0x00000D02u /* 2.13.0.0, low byte first */

#define DDNSCLIENT_PROVIDER_COUNT 38u
#define DDNSCLIENT_PROVIDER_HLDM  5u
#define DDNSCLIENT_PROVIDER_HLDM2 24u
#define DDNSCLIENT_HLDM_PORT      3495u

/* Initialisation record: zero it, fill it, pass it to DDNSClient_Initial. */
typedef struct DDNSClientInitInfo {
  uint32_t dwVersion;         /* DDNSCLIENT_VERSION */
  char szMAC[13];             /* 12 hexadecimal digits */
  char szFirmwareVersion[32]; /* model / firmware text, not empty */
  char szHLDMServerName[64];  /* optional */
  char szDDNSServerName[64];  /* optional */
} DDNSClientInitInfo;

/* Field-presence flags of DDNSClientSettings.dwFlags (and of the context). */
#define DDNSCLIENT_FLAG_ENABLE         0x0001u
#define DDNSCLIENT_FLAG_PROVIDER       0x0002u
#define DDNSCLIENT_FLAG_HOSTNAME       0x0004u
#define DDNSCLIENT_FLAG_USERNAME       0x0008u
#define DDNSCLIENT_FLAG_PASSWORD       0x0010u
#define DDNSCLIENT_FLAG_INTERVAL       0x0020u
#define DDNSCLIENT_FLAG_CHECKIP_PORT   0x0040u
#define DDNSCLIENT_FLAG_UPDATE_PORT    0x0080u
#define DDNSCLIENT_FLAG_HLDM_SERVER    0x0100u
#define DDNSCLIENT_FLAG_DDNS_SERVER    0x0200u
#define DDNSCLIENT_FLAG_PROVIDER_TEXT1 0x0400u
#define DDNSCLIENT_FLAG_PROVIDER_TEXT2 0x0800u
#define DDNSCLIENT_FLAG_HTTP_ALT_PORT  0x1000u

/* Settings record: caller-owned, zeroed, filled field by field. */
typedef struct DDNSClientSettings {
  uint32_t dwFlags;              /* DDNSCLIENT_FLAG_* of the filled fields */
  uint32_t dwEnable;             /* 0x1 */
  uint32_t dwServiceProvider;    /* 0x2, 1..37 (5 and 24: HLDM service) */
  char szHostName[128];          /* 0x4 */
  char szUserName[64];           /* 0x8, the e-mail for the HLDM service */
  char szPassword[64];           /* 0x10, the key for the HLDM service */
  uint32_t dwUpdateInterval;     /* 0x20, minutes */
  uint32_t dwCheckIPPortSwitch;  /* 0x40 */
  uint32_t dwUpdatePortSwitch;   /* 0x80 */
  char szHLDMServerName[64];     /* 0x100 */
  uint16_t wHTTPAlternativePort; /* 0x1000 */
  uint32_t dwPortChanged;        /* 1: announce the port even when the address is unchanged */
  char szDDNSServerName[64];     /* 0x200 */
  uint16_t wCheckIPPort;         /* 0x40 */
  uint16_t wUpdatePort;          /* 0x80 */
  char szProviderText1[256];     /* 0x400 */
  char szProviderText2[256];     /* 0x800 */
  char szMegaChipsText[64];      /* provider 25 only */
  char szProvider7Text[64];      /* provider 7 only */
  char szCameraIP[16];           /* camera's dotted IPv4 address */
  uint16_t wCameraPort;          /* camera's HTTP port */
  char szCameraMAC[14];          /* camera's MAC text */
} DDNSClientSettings;

/* The client handle; its fields are private to the library. */
typedef struct DDNSClientContext DDNSClientContext;

/* ---- Context ------------------------------------------------------------- */

uint32_t DDNSClient_Initial(DDNSClientContext **handle, const DDNSClientInitInfo *info);
uint32_t DDNSClient_Release(DDNSClientContext **handle);
uint32_t DDNSClient_SetParameters(DDNSClientContext *context, const DDNSClientSettings *settings);
/* status 1: public address from the provider's check-IP routine; 2: `address`. */
uint32_t DDNSClient_SetExternalIP(DDNSClientContext *context, uint32_t status, const char *address);
/* IPv4 address of a host within 10 s: a dotted quad as it stands, then
 * /etc/hosts, then the name servers of /etc/resolv.conf in turn (not
 * getaddrinfo, whose waits no budget bounds); 0 or -1. */
int DDNSClient_DNSresolve(const char *host_name, uint32_t *address);
uint32_t DDNSClient_CheckServerName(DDNSClientContext *context, const DDNSClientSettings *settings);
int DDNSClient_CheckNecessaryFlag(const DDNSClientContext *context);
int DDNSClient_IsValidServiceProv(uint32_t provider);

/* ---- Settings ------------------------------------------------------------- */

/* Called with the context's semaphore held.  Fields copied before a failure
 * stay in the context. */
uint32_t DDNSClient_ProcessRegisterSettings(DDNSClientContext *context,
                                            const DDNSClientSettings *settings);
uint32_t DDNSClient_ProcessRequestKeySettings(DDNSClientContext *context,
                                              const DDNSClientSettings *settings);
uint32_t DDNSClient_ProcessCheckHostNameSettings(DDNSClientContext *context,
                                                 const DDNSClientSettings *settings);
uint32_t DDNSClient_ProcessCheckHostNameSettingsEx(DDNSClientContext *context,
                                                   const DDNSClientSettings *settings);
uint32_t DDNSClient_ProcessUpdateSettings(DDNSClientContext *context,
                                          const DDNSClientSettings *settings);
int DDNSClient_IsSettingsChanged(const DDNSClientContext *context,
                                 const DDNSClientSettings *settings);
uint32_t DDNSClient_RegisterEnable(DDNSClientContext *context, const DDNSClientSettings *settings);
uint32_t DDNSClient_RequestKeyEnable(DDNSClientContext *context,
                                     const DDNSClientSettings *settings);

/* ---- Public HLDM operations (time-out 0: the operation's default) --------
 * Every public operation of this header takes its time-out as the budget of
 * the whole call, fixed at its start: the settings step's name checks and
 * look-ups, every exchange, retry and pause get what is left of it.  Texts
 * of the settings (and of DDNSClient_Initial, DDNSClient_SetParameters and
 * DDNSClient_SetExternalIP) holding a control byte (0x01-0x1F, 0x7F) are
 * refused with 0x80010006 before anything is taken or sent.  A register
 * whose reply is lost keeps the last part of its budget (5 s, at most a
 * third) for confirming the registration by DNS and a check-IP exchange. */

uint32_t DDNSClient_HLDMRegister(DDNSClientContext *context, const DDNSClientSettings *settings,
                                 uint32_t timeout_seconds, uint32_t *registered_address);
uint32_t DDNSClient_HLDMRequestKey(DDNSClientContext *context, const DDNSClientSettings *settings,
                                   uint32_t timeout_seconds);
uint32_t DDNSClient_HLDMCheckHostname(DDNSClientContext *context,
                                      const DDNSClientSettings *settings, uint32_t timeout_seconds);
uint32_t DDNSClient_HLDMOffline(DDNSClientContext *context, const DDNSClientSettings *settings,
                                uint32_t timeout_seconds);

/* ---- HLDM protocol building blocks ---------------------------------------- */

typedef enum HLDM_REQUEST_TYPE {
  HLDM_REQUEST_CHECK_IP = 0,
  HLDM_REQUEST_UPDATE = 1,
  HLDM_REQUEST_REGISTER = 2,
  HLDM_REQUEST_REQUEST_KEY = 3,
  HLDM_REQUEST_CHECK_HOSTNAME = 4,
  HLDM_REQUEST_OFFLINE = 5,
  HLDM_REQUEST_TYPE_COUNT = 6
} HLDM_REQUEST_TYPE;

#define DDNSCLIENT_HLDM_REQUEST_SIZE 249u  /* composer buffer */
#define DDNSCLIENT_RESPONSE_SIZE     5840u /* reply buffer, without its NUL */

uint32_t DDNSClient_HashingPassword_HLDM(const char *mac, const char *salt, char *output);
uint32_t DDNSClient_ComposeHLDMCheckIPRequest(DDNSClientContext *context, char *buffer,
                                              uint32_t size);
uint32_t DDNSClient_ComposeHLDMUpdateRequest(DDNSClientContext *context, char *buffer,
                                             uint32_t size);
uint32_t DDNSClient_ComposeHLDMRegisterRequest(DDNSClientContext *context, char *buffer,
                                               uint32_t size);
uint32_t DDNSClient_ComposeHLDMRequestKeyRequest(DDNSClientContext *context, char *buffer,
                                                 uint32_t size);
uint32_t DDNSClient_ComposeHLDMCheckHostnameRequest(DDNSClientContext *context, char *buffer,
                                                    uint32_t size);
uint32_t DDNSClient_ComposeHLDMOfflineRequest(DDNSClientContext *context, char *buffer,
                                              uint32_t size);
uint32_t DDNSClient_Communicate_HLDM_TCP(DDNSClientContext *context, const char *server_name,
                                         uint16_t port, uint32_t timeout_seconds,
                                         uint32_t request_type);
uint32_t DDNSClient_ProcessResponse_HLDMUpdate(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_HLDMRegister(DDNSClientContext *context, uint32_t *address);
uint32_t DDNSClient_ProcessResponse_HLDMRequestKey(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_HLDMCheckHostname(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_HLDMOffline(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_HLDM(DDNSClientContext *context);
uint32_t DDNSClient_Update_HLDM(DDNSClientContext *context);
uint32_t DDNSClient_Register_HLDM(DDNSClientContext *context, uint32_t *address);
uint32_t DDNSClient_RequestKey_HLDM(DDNSClientContext *context);
uint32_t DDNSClient_CheckHostname_HLDM(DDNSClientContext *context);
uint32_t DDNSClient_Offline_HLDM(DDNSClientContext *context);

/* ---- PeanutHull (provider 20) ---------------------------------------------
 * A TCP login to the control server (challenge-response, host name
 * registration, session numbers), then encrypted UDP updates that learn the
 * public address.  Both use port 6060 of one fixed server address.
 *
 * DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS: the control server, as a dotted text.
 *   The service's own address is not known here: this one is a stand-in from
 *   the documentation range (198.51.100.0/24), and a build for the real
 *   service sets the real address in this one constant.
 * DDNSCLIENT_PEANUTHULL_CLIENT_ID: the four-byte client identification code
 *   sent in every login record, as a 32-bit value that goes out little-endian
 *   (bytes 4E 52 47 01, "NRG" and the record version 1).
 * User names longer than DDNSCLIENT_PEANUTHULL_MAX_USER characters do not fit
 * the login record and are refused (0x80010006) before anything is sent.
 * The UDP exchange uses the process-wide Blowfish key set by the login: run
 * one PeanutHull exchange at a time per process. */
#define DDNSCLIENT_PROVIDER_PEANUTHULL       20u
#define DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS "198.51.100.60"
#define DDNSCLIENT_PEANUTHULL_PORT           6060u
#define DDNSCLIENT_PEANUTHULL_CLIENT_ID      0x0147524Eu
#define DDNSCLIENT_PEANUTHULL_MAX_USER       32u

/* Time-out 0: 20 seconds.  On success *address is the public address
 * (network byte order). */
uint32_t DDNSClient_PeanutHullRegister(DDNSClientContext *context,
                                       const DDNSClientSettings *settings, uint32_t timeout_seconds,
                                       uint32_t *address);
uint32_t DDNSClient_PeanutHullUpdate(DDNSClientContext *context, const DDNSClientSettings *settings,
                                     uint32_t timeout_seconds, uint32_t *address);
/* One login (up to 20 connection rounds) within the context's network
 * time-out; one UDP update (up to 6 rounds of 30 seconds). */
uint32_t DDNS_PeanutHull_Login(DDNSClientContext *context);
uint32_t DDNS_PeanutHull_Update(DDNSClientContext *context);

/* ---- I-O DATA (provider 7) and MegaChips (provider 25) ---------------------
 * Requests go to port 80 of the service host with HTTP GET; the keyword
 * tables judge the body.  The host names below stand for the services' own
 * (a host program serving them sets the real names here).
 *
 * Derived credentials (deterministic; outputs are always terminated):
 * - DDNSClient_IODATAMakeHostname: "wcam-" and the complements of the MAC's
 *   last three bytes, last byte first, in lower-case hexadecimal (12 bytes
 *   of output needed; the MAC text needs its 12 digits).
 * - DDNSClient_IODATAMakeSerial: 10 decimal digits, the first five bytes of
 *   the MD5 of the upper-case MAC text read as a big-endian number, modulo
 *   10^10, with leading zeros; cut to output_size - 1 digits.
 * - DDNSClient_IODATAMakePassword and DDNSClient_MegaChipsMakeDefPassword:
 *   8 characters of 0-9 and a-z; character i is the big-endian 16-bit value
 *   of MD5 bytes 2i and 2i+1, modulo 36, where the MD5 runs over the first
 *   text, a zero byte, the second text and a zero byte.  The MegaChips
 *   default password uses the user name and the word "namreg".  Both need
 *   DDNSCLIENT_DERIVED_PASSWORD_SIZE bytes of output (password and NUL). */
#define DDNSCLIENT_PROVIDER_IODATA           7u
#define DDNSCLIENT_PROVIDER_MEGACHIPS        25u
#define DDNSCLIENT_IODATA_HOST               "ddns.iodata.example"
#define DDNSCLIENT_MEGACHIPS_HOST            "ddns.megachips.example"
#define DDNSCLIENT_IODATA_OFFLINE            0u /* DDNSClient_IODATAProcess types */
#define DDNSCLIENT_IODATA_REGISTER           1u
#define DDNSCLIENT_MEGACHIPS_UPDATE          0u /* DDNSClient_MegaChipsProcess types */
#define DDNSCLIENT_MEGACHIPS_CHANGE_PASSWORD 1u
#define DDNSCLIENT_IODATA_HOSTNAME_SIZE      12u
#define DDNSCLIENT_DERIVED_PASSWORD_SIZE     9u

/* Time-out 0: 20 seconds.  Network errors are retried within the time-out.
 * Type 0 takes the host name offline (and forgets the last address), type 1
 * registers it.  Host names whose first label is longer than 95 characters,
 * whose rest is longer than 31, or without a dot are refused (0xFFFFFFFF)
 * before any request. */
uint32_t DDNSClient_IODATAProcess(DDNSClientContext *context, const DDNSClientSettings *settings,
                                  uint32_t timeout_seconds, uint32_t type);
uint32_t DDNSClient_IODATARegister(DDNSClientContext *context, const DDNSClientSettings *settings,
                                   uint32_t timeout_seconds);
/* One attempt: type 0 updates, type 1 changes the password at the provider
 * to the settings' password, authenticating with the MegaChips text (the
 * current password) or, when that is empty, the default password. */
uint32_t DDNSClient_MegaChipsProcess(DDNSClientContext *context, const DDNSClientSettings *settings,
                                     uint32_t timeout_seconds, uint32_t type);
uint32_t DDNSClient_Update_IOData(DDNSClientContext *context);
uint32_t DDNSClient_Register_IOData(DDNSClientContext *context);
uint32_t DDNSClient_Offline_IOData(DDNSClientContext *context);
uint32_t DDNSClient_Update_MegaChips(DDNSClientContext *context);
uint32_t DDNSClient_MegaChips_ChangeSetting(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_IOData(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_MegaChips(DDNSClientContext *context);
uint32_t DDNSClient_IODATAMakeHostname(const char *mac, char *output, uint32_t output_size);
uint32_t DDNSClient_IODATAMakeSerial(const char *mac, char *output, uint32_t output_size);
uint32_t DDNSClient_IODATAMakePassword(const char *first, const char *second, char *output,
                                       uint32_t output_size);
uint32_t DDNSClient_MegaChipsMakeDefPassword(const char *user_name, char *output,
                                             uint32_t output_size);

/* ---- Update engine -----------------------------------------------------------
 * DDNSClient_Update applies the settings, learns the public address (the
 * provider's check-IP routine, at most four calls within the time-out, or
 * the external address of DDNSClient_SetExternalIP) and runs the provider's
 * update routine when the address differs from the last one reported (or
 * the HTTP port is to be announced).  Time-out 0: 20 seconds.  Results: the
 * update routine's; 0x70010001 when nothing had to change; 0x8002000B when
 * the public address could not be learnt (a failed check-IP step is never
 * reported as unchanged, and without a valid current address nothing is
 * sent).  Every call that reaches the address step counts as an attempt
 * for DDNSClient_IsTimeToUpdate.  A resolv.conf without a name server does
 * not refuse the settings: the round fails on the network.  PeanutHull (20)
 * and MegaChips (25) have operations of their own and are refused. */
uint32_t DDNSClient_Update(DDNSClientContext *context, const DDNSClientSettings *settings,
                           uint32_t timeout_seconds, uint32_t *address);
/* 1 when the current provider's interval has passed since its last update
 * attempt (or none was made); counted on the millisecond tick, right
 * across its 32-bit wrap. */
int DDNSClient_IsTimeToUpdate(DDNSClientContext *context);
/* The public address through the general check-IP rotation, starting at
 * slot mode & 3. */
uint32_t DDNSClient_GetPublicIP(DDNSClientContext *context, uint32_t timeout_seconds,
                                uint32_t *address, uint32_t mode);

/* ---- Socket transport (non-blocking, every wait a select) ----------------
 * *socket_fd is -1 when there is no socket; after any failure it is -1 again.
 * timeout_seconds is the budget of the whole call, however the peer paces
 * its data. */

uint32_t DDNSClient_SocketConnect(int32_t *socket_fd, uint32_t address, uint16_t port,
                                  uint32_t timeout_seconds);
int32_t DDNSClient_Send(int32_t *socket_fd, const char *data, int32_t length,
                        uint32_t timeout_seconds);
/* Reads until the peer closes or `size` bytes arrived; buffer holds size + 1. */
int32_t DDNSClient_Receive(int32_t *socket_fd, char *buffer, uint32_t size,
                           uint32_t timeout_seconds);
int32_t DDNSClient_CloseSocket(int32_t *socket_fd);
/* Exactly 11 bytes in one read; at most output_length characters of them
 * are copied to output (then a NUL, so output holds output_length + 1). */
uint32_t DDNSClient_GnuDIP_TCP_ReceiveSalt(int32_t socket_fd, uint32_t timeout_seconds,
                                           char *output, uint32_t output_length);

/* ---- Clock and text helpers ------------------------------------------------- */

/* The wrapping 32-bit millisecond tick; DDNSClient_IsTimeout measures from
 * `start_ms` forward (the unsigned difference, right across one wrap) and
 * answers 1 once more than `seconds` have passed. */
uint32_t DDNSClient_GetTickMs(void);
int DDNSClient_IsTimeout(uint32_t start_ms, uint32_t seconds, uint32_t *elapsed_seconds);
/* First dotted IPv4 text at or after `marker` (or the start); `address` has
 * room for 16 bytes.  -1 when there is none, or when the run of digits and
 * dots is longer than 15 characters (nothing is written then). */
int32_t DDNSClient_GetIP(const char *text, const char *marker, char *address);
/* Splits name[0..length) at its first dot.  Each output needs room for
 * `length` bytes.  No dot in the first `length` characters (or an empty
 * name, a zero length): the outputs given become empty and the result is
 * 0x80010006. */
uint32_t DDNSClient_ExtractDomain(const char *name, uint32_t length, char *host, char *domain);
/* Pairs of hexadecimal characters to bytes; returns strlen(text) / 2.  A
 * character outside 0-9, A-F, a-f prints "Wrong hex value = %c" and counts
 * as 0 for its four bits. */
int32_t DDNSClient_HexToBytes(const char *text, unsigned char *bytes);

/* ---- Public providers over HTTP -------------------------------------------
 * Every routine takes the client context and returns a result code.  The
 * fetch leaves the body, terminated, in the context's response buffer.
 * Host names longer than 32 characters are refused (0x80010006) rather than
 * cut, so a request never goes to a shortened name.  Query values are
 * percent-encoded (A-Z a-z 0-9 and "-._~@:" go as they are, any other byte
 * as %XX), a caller's path keeps its slashes, and a value holding a control
 * byte refuses the request (0x80010006, "Text holds a control byte").
 * Reply keywords count only where no letter or digit stands right before
 * them (and, for a keyword ending in a digit, no digit right after). */

struct HTTPClientInfo;

/* One GET of host:port/path; the body lands in the response buffer.  With
 * use_auth 1 the context's user name and password answer a 401 challenge.
 * An empty body: 0x80020010; HTTP failures through DDNSClient_MapHTTPError. */
uint32_t DDNSClient_Communicate(DDNSClientContext *context, const char *host, uint16_t port,
                                const char *path, uint32_t timeout_seconds, uint32_t use_auth,
                                const char *user_agent);
/* As DDNSClient_Communicate, but a reply without the header line
 * "Http-Code-By: HGDDNS" is fetched again every 3 seconds within one budget
 * of timeout_seconds; when it is used up: 0x80020018. */
uint32_t DDNSClient_HuagaiCommunicate(DDNSClientContext *context, const char *host, uint16_t port,
                                      const char *path, uint32_t timeout_seconds, uint32_t use_auth,
                                      const char *user_agent);
/* The fetch of an update routine (the network time-out, 20 s when 0);
 * provider 30 goes through DDNSClient_HuagaiCommunicate. */
uint32_t DDNSClient_UpdateRoutine(DDNSClientContext *context, const char *host, uint16_t port,
                                  const char *path, uint32_t use_auth, const char *user_agent);
/* The fetch of a check-IP routine: the first dotted address after `marker`
 * (null: from the start of the body) becomes the current address.  No valid
 * address there: 0xFFFFFFFF and the current address is kept. */
uint32_t DDNSClient_CheckIPRoutine(DDNSClientContext *context, const char *host, uint16_t port,
                                   const char *path, const char *marker, const char *user_agent);
/* Zeroes and fills one request record; 0 or 0x80010006 (null record, host
 * over 32 or path over 1024 characters). */
uint32_t DDNSClient_MakeUpHTTPClientInfo(struct HTTPClientInfo *info, const char *host,
                                         uint16_t port, const char *path, const char *user_agent,
                                         uint32_t timeout_seconds, char *buffer,
                                         uint32_t buffer_size);
/* HTTP client result to DDNS result: statuses 400..503 by table, a text
 * the client refused (HTTPCLIENT_E_UNSAFE_TEXT) 0x80010006, the TLS
 * refusals their DDNSCLIENT_E_TLS* / DDNSCLIENT_E_CERT_* codes, anything
 * else 0x80020010. */
uint32_t DDNSClient_MapHTTPError(uint32_t http_result);

/* Check-IP routines.  The general one runs the routine in the context's
 * rotation slot (0 No-IP, 1 DNSPark, 2 DynDNS, 3 TZO) and advances the slot,
 * from 3 back to 0. */
uint32_t DDNSClient_CheckIP_General(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_NoIP(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_DNSPark(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_DynDNS(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_TZO(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_Huagai(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_ChangeIP(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_SWISSCOM(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_DynamicDo(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_IOData(DDNSClientContext *context);
uint32_t DDNSClient_CheckIP_NexusControl(DDNSClientContext *context);
/* Needs the configured server, both PCCW ports and both provider texts. */
uint32_t DDNSClient_CheckIP_PCCW(DDNSClientContext *context);

/* Update routines.  Each composes its request in 256 bytes (a longer one is
 * cut to 255 characters), fetches it with DDNSClient_UpdateRoutine and judges
 * the reply with its keyword table; the fetch's own failures pass unchanged.
 * Host names that DHS and Huagai send split need a dot with a first label of
 * 1 to 95 and a domain part of 1 to 31 characters; parts beyond those bounds
 * are refused with 0x80010006 before any request (DHS refuses a name without
 * a dot the same way; Huagai answers it with 0xFFFFFFFF). */
uint32_t DDNSClient_Update_DynDNS(DDNSClientContext *context); /* 1, 2, 10, 26, 27, 29, 34 */
uint32_t DDNSClient_Update_TZO(DDNSClientContext *context);    /* 3, 36 */
uint32_t DDNSClient_Update_DHS(DDNSClientContext *context);
uint32_t DDNSClient_Update_DynamicDo(DDNSClientContext *context); /* 8, 21 */
uint32_t DDNSClient_Update_MyDNS(DDNSClientContext *context);
uint32_t DDNSClient_Update_DP21(DDNSClientContext *context);
uint32_t DDNSClient_Update_AtNetHome(DDNSClientContext *context);
uint32_t DDNSClient_Update_NexusControl(DDNSClientContext *context);
/* Needs the configured server, both PCCW ports and both provider texts;
 * up to three attempts. */
uint32_t DDNSClient_Update_PCCW(DDNSClientContext *context);
uint32_t DDNSClient_Update_Logitec(DDNSClientContext *context);
uint32_t DDNSClient_Update_Huagai(DDNSClientContext *context);
uint32_t DDNSClient_Update_3322(DDNSClientContext *context);
uint32_t DDNSClient_Update_ChangeIP(DDNSClientContext *context);
uint32_t DDNSClient_Update_SWISSCOM(DDNSClientContext *context);

/* Reply keyword tables over the response buffer: the first keyword of the
 * table found anywhere in the body decides; none: 0x8002000D. */
uint32_t DDNSClient_ProcessResponse_DynDNS(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_NexusControl(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_Huagai(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_Logitec(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_3322(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_ChangeIP(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_DHS(DDNSClientContext *context);
uint32_t DDNSClient_ProcessResponse_DynamicDo(DDNSClientContext *context);
/* Prints the whole body when no keyword is found. */
uint32_t DDNSClient_ProcessResponse_TZO(DDNSClientContext *context);
/* "update-fail" counts as an unknown host only when "<cause>Host" follows it. */
uint32_t DDNSClient_ProcessResponse_PCCW(DDNSClientContext *context);

/* GnuDIP salted update (6: Interfree, 15-18: PCI CyberGate).  The host name
 * is split (first label as `user`, the rest as `domn`) before the salt is
 * asked for: a name without a dot fails with 0xFFFFFFFF, one whose parts
 * exceed 95 / 31 characters with 0x80010006, and nothing is sent. */
uint32_t DDNSClient_Update_Interfree(DDNSClientContext *context);
uint32_t DDNSClient_Update_PCICyberGate(DDNSClientContext *context);
uint32_t DDNSClient_GnuDIP_Update(DDNSClientContext *context, const char *host, uint16_t port,
                                  const char *salt_path, const char *update_path,
                                  const char *user_agent);
uint32_t DDNSClient_GnuDIP_RequsetSalt(DDNSClientContext *context, const char *host, uint16_t port,
                                       const char *path, const char *user_agent);
/* Reads the salt (10), time (10) and sign (32) meta tags of the response. */
uint32_t DDNSClient_GnuDIP_GetSalt(DDNSClientContext *context);
/* Content of <meta name="NAME" content="VALUE">: white space may precede
 * content=, and VALUE is read as by sscanf's "%<width>s" (leading white space
 * skipped, at most `width` characters up to the next white space), so a
 * shorter value keeps its closing quote.  `output` holds width + 1 bytes.
 * The name must fit the 63-character opening text and width be 1 to 255,
 * else 0x80010006; a missing tag or an empty value: 0xFFFFFFFF.  Nothing is
 * read past the body's terminator or written past width + 1 bytes. */
uint32_t DDNSClient_GnuDIP_GetMetaContent(const char *body, const char *name, char *output,
                                          uint32_t width);
/* MD5 hex of (MD5 hex of password, ".", salt) into 33 bytes; the salt is 1 to
 * 10 characters. */
uint32_t DDNSClient_GnuDIP_HashingPassword(const char *salt, const char *password, char *output);
/* retc 0: success; 1: 0x8002000C; anything else or none: 0x8002000D. */
uint32_t DDNSClient_GnuDIP_ProcessResponse(DDNSClientContext *context);

/* ---- HTTPS for the public providers -------------------------------------
 * A context fetches over plain HTTP until DDNSClient_SetTLS asks otherwise.
 * With DDNSCLIENT_TLS_OFFERED, every fetch (update, check-IP page, GnuDIP
 * salt) whose host is one of the providers' own hosts known to offer HTTPS
 * goes to port 443 of that host over TLS, with the same path and query;
 * every other fetch stays as the provider's table gives it.
 * DDNSCLIENT_TLS_ALL does the same, and also speaks HTTPS to every host that
 * is none of the providers' own: the configured DDNS server (providers 10,
 * 23, 26, 27, 29, 34, 36) and a host a program passes to
 * DDNSClient_Communicate; there port 80 becomes 443 and another port is
 * kept.
 *
 * Which providers' hosts offer HTTPS (DDNSClient_ProviderTLS): DynDNS (1,
 * 2: members.dyndns.org), MyDNS (9: www.mydns.jp) and ChangeIP (33:
 * nic.changeip.com) for their updates.  Every other host is unknown here
 * (the hosts under .example are stand-ins) and is fetched over plain HTTP
 * with DDNSCLIENT_TLS_OFFERED; no check-IP page is known to offer HTTPS.
 *
 * Over TLS the server's certificate is checked against the CA file (null
 * or empty: the system bundle, /etc/ssl/certs/ca-certificates.crt): its
 * chain, its dates (by the wall clock: a device whose clock is unset
 * refuses every certificate as not yet valid), its use and its names
 * against the host; TLS 1.2 is the least version.  There is no mode without
 * the check.  A refusal is DDNSCLIENT_E_CERT_* (DDNSCLIENT_IS_CERT_FAILURE),
 * DDNSCLIENT_E_TLS or DDNSCLIENT_E_TLS_CA_FILE, and the request was not
 * sent.  Through the check-IP routines of the update engine a failed page
 * is, as any failed page, an unknown public address (0x8002000B). */
#define DDNSCLIENT_TLS_OFF          0u /* plain HTTP (a new context) */
#define DDNSCLIENT_TLS_OFFERED      1u /* HTTPS where the provider's own host offers it */
#define DDNSCLIENT_TLS_ALL          2u /* ... and to configured servers and other hosts */
#define DDNSCLIENT_TLS_CA_FILE_SIZE 256u

/* Sets the context's HTTPS mode and CA file for the fetches that follow.
 * 0; 0x80010006 (null context, a mode above 2, a CA file name of 256 or
 * more characters or holding a control byte); DDNSCLIENT_E_TLS_NOT_BUILT
 * (a library built without TLS, for modes 1 and 2).  After a refusal the
 * mode stays asked for: every fetch that would go over HTTPS fails with
 * that code and sends nothing, until the mode is set again. */
uint32_t DDNSClient_SetTLS(DDNSClientContext *context, uint32_t mode, const char *ca_file);

/* Bits of DDNSClient_ProviderTLS: the provider's own host of its update
 * (or of its check-IP page) is known to offer HTTPS. */
#define DDNSCLIENT_TLS_UPDATE  0x1u
#define DDNSCLIENT_TLS_CHECKIP 0x2u
/* What HTTPS the provider's own hosts offer (0 for a provider number out
 * of range, a configured server, or a protocol other than HTTP). */
uint32_t DDNSClient_ProviderTLS(uint32_t provider);

/* ---- HLDM request codec ----------------------------------------------- */

#define CODEC_ERR_OUTPUT_SIZE \
  ((int32_t)0x80000001u)                           /* output too small; needed size written back */
#define CODEC_ERR_MALFORMED ((int32_t)0x80000002u) /* not a valid encoded text */

/* Buffer sizes (terminating zero byte included) for n input bytes / an
 * encoded text of n characters. */
int32_t HALDStrCodec_GetEncodeSize(int32_t n);
int32_t HALDStrCodec_GetDecodeSize(int32_t n);
/* Encode / decode; *capacity is the output buffer's size.  Result: the length
 * produced, or one of the CODEC_ERR_* codes. */
int32_t HALDStrCodec_Encode(const unsigned char *input, int32_t n, char *output, int32_t *capacity);
int32_t HALDStrCodec_Decode(const char *input, int32_t n, unsigned char *output, int32_t *capacity);

#ifdef __cplusplus
}
#endif

#endif /* NAMREG_DDNSCLIENT_H */
