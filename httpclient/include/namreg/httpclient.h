/* SPDX-License-Identifier: MIT */
/*
 * httpclient: a small HTTP/1.x client (version 1.7.0.0) driven by a
 * table of state handlers over one non-blocking TCP socket.  Direct or
 * through a proxy, Basic and Digest (MD5) authentication for both, chunked
 * bodies, a whole synchronous exchange bounded by one time budget.
 *
 * C interface: plain records with fixed arrays.  The caller owns an
 * HTTPClientInfo and its buffers; the library owns the client record behind
 * an HTTPClientHandle and copies what it keeps.
 *
 * Behaviour worth knowing:
 * - szResponseHeader collects the header lines of every response of one
 *   call (a 100, 401 or 407 and the one that follows), each with its CR LF.
 *   It holds whole lines only: a line that no longer fits in its 1280
 *   characters is left out, and the text is never overrun.
 * - A chunked body's next size line is read when the current chunk is used
 *   up; a size line split over several segments is completed first, and a
 *   size of 0 ends the body.
 * - A Digest challenge is read from its own header line only; a parameter it
 *   lacks is never taken from a later line.  A new challenge replaces the
 *   previous one whole.
 * - Basic credentials are sent whole for every user and password the record
 *   can hold (64 + 64 characters).
 * - Synchronous calls pause 100 ms before each connection attempt; an
 *   asynchronous exchange pauses as long across its steps, never in one.
 *
 * Texts of a request: a request is refused with HTTPCLIENT_E_UNSAFE_TEXT,
 * before any connection or name lookup, when a text it carries holds a
 * control byte (0x00-0x1F, 0x7F, the tab included): the server host, URI,
 * server user and password, with dwUseProxy 1 the proxy host, user and
 * password, and User-Agent, Referer and Content-Type unless extra header
 * text replaces them.  The extra header text may hold CR LF line ends but
 * no other control byte, no bare CR or LF and no blank line before its end
 * (which would end the header there).  Credentials are checked again where
 * their line is composed (a host may set them on event 30 / 36), and a
 * Basic user name holding ':' is refused there with the same code: the
 * connection is then closed with nothing sent on it.
 */
#ifndef NAMREG_HTTPCLIENT_H
#define NAMREG_HTTPCLIENT_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Version -----------------------------------------------------------
 * Packed as major | minor << 8 | build << 16 | build << 24 from the digit
 * texts "1", "7", "0": 0x00000701, printed low byte first as 1.7.0.0. */
#define HTTPCLIENT_VERSION_MAJOR 1
#define HTTPCLIENT_VERSION_MINOR 7
#define HTTPCLIENT_VERSION_BUILD 0
#define HTTPCLIENT_VERSION       0x00000701u
extern const char g_szHTTPClientVersionId[]; /* "$Id: 1.7.0.0 httpclient lib ..." */

/* ---- Result codes ------------------------------------------------------ */
#define HTTPCLIENT_OK 0x00000000u

#define HTTPCLIENT_E_INVALID_HANDLE     0x80010001u /* null client or handle */
#define HTTPCLIENT_E_VERSION            0x80010002u /* version mismatch at creation */
#define HTTPCLIENT_E_NO_MEMORY          0x80010003u /* out of memory */
#define HTTPCLIENT_E_RELEASE_BUSY       0x80010004u /* release of a busy client */
#define HTTPCLIENT_E_NO_CALLBACK_FUNC   0x80010005u /* callback function missing */
#define HTTPCLIENT_E_STATE_RANGE        0x80010006u /* state index out of range */
#define HTTPCLIENT_E_INVALID_INFO       0x80010007u /* null request record */
#define HTTPCLIENT_E_BUSY               0x80010008u /* start while busy */
#define HTTPCLIENT_E_ASYNC_TIMEOUT      0x8001000bu /* asynchronous timeout missing */
#define HTTPCLIENT_E_TOTAL_TIMEOUT      0x8001000cu /* total timeout missing */
#define HTTPCLIENT_E_RECV_BUFFER        0x8001000du /* receive buffer missing */
#define HTTPCLIENT_E_RECV_SIZE          0x8001000eu /* receive size zero */
#define HTTPCLIENT_E_REQUEST_TOO_LONG   0x8001000fu /* request line + extra header too long */
#define HTTPCLIENT_E_PROXY_PORT         0x80010010u /* proxy port missing */
#define HTTPCLIENT_E_PROXY_ADDRESS      0x80010011u /* proxy address missing */
#define HTTPCLIENT_E_SERVER_PORT        0x80010012u /* server port missing */
#define HTTPCLIENT_E_SERVER_ADDRESS     0x80010013u /* server address missing */
#define HTTPCLIENT_E_URI                0x80010014u /* URI missing */
#define HTTPCLIENT_E_POST_BODY          0x80010015u /* POST body missing */
#define HTTPCLIENT_E_NO_SOCKET          0x80010016u /* no socket */
#define HTTPCLIENT_E_NONBLOCKING        0x80010017u /* cannot make the socket non-blocking */
#define HTTPCLIENT_E_SELECT             0x80010018u /* select failed */
#define HTTPCLIENT_E_SEND               0x80010019u /* send failed */
#define HTTPCLIENT_E_RECV               0x8001001au /* recv failed */
#define HTTPCLIENT_E_CONNECT_TIMEOUT    0x8001001bu /* connect or resolve timed out */
#define HTTPCLIENT_E_RECV_ARGS          0x8001001cu /* receive without buffer or length */
#define HTTPCLIENT_E_RECV_TIMEOUT       0x8001001du /* receive timed out */
#define HTTPCLIENT_E_SEND_ARGS          0x8001001eu /* send without buffer or length */
#define HTTPCLIENT_E_SEND_TIMEOUT       0x8001001fu /* send timed out */
#define HTTPCLIENT_E_RESOLVE            0x80010020u /* address resolution failed */
#define HTTPCLIENT_E_SOCKET             0x80010021u /* socket creation failed */
#define HTTPCLIENT_E_STATE_ARGS         0x80010022u /* state handler without client or socket */
#define HTTPCLIENT_E_FINISH_STATE       0x80010023u /* finish outside state 0 or 8 */
#define HTTPCLIENT_E_CHUNK_LINE         0x80010024u /* chunk-size line without CR LF */
#define HTTPCLIENT_E_ASYNC_BUFFER       0x80010025u /* asynchronous destination missing */
#define HTTPCLIENT_E_BUFFER_FULL        0x80010026u /* receive buffer full */
#define HTTPCLIENT_E_TUNNEL_POST_STATUS 0x80010027u /* tunnel POST got a final status */
#define HTTPCLIENT_E_POST_LENGTH        0x80010028u /* POST body length zero */
#define HTTPCLIENT_E_NO_CALLBACK        0x80010031u /* no callback for an asynchronous step */
#define HTTPCLIENT_E_TUNNEL_DATA        0x80010032u /* tunnel request without data or length */
#define HTTPCLIENT_E_NOT_SIGNALLED      0x80010033u /* descriptor not signalled */
#define HTTPCLIENT_E_TUNNEL_CLOSED      0x80010034u /* GET channel closed before the answer */
#define HTTPCLIENT_E_TUNNEL_ANSWER      0x80010035u /* tunnel answer neither accept text */
#define HTTPCLIENT_E_PENDING            0x80010037u /* an operation is already pending */
#define HTTPCLIENT_E_DIGEST_PARAM       0x80010038u /* Digest challenge without realm or nonce */
/* A text of the request holds a control byte (0x00-0x1F, 0x7F), or a Basic
 * user name holds ':'; see "Texts of a request" below. */
#define HTTPCLIENT_E_UNSAFE_TEXT 0x80010039u

/* TLS (HTTPClient_SetTLS).  Each refusal ends the exchange before any byte
 * of the request (and so before any credential) has been sent. */
#define HTTPCLIENT_E_TLS_NOT_BUILT 0x80010040u /* TLS asked for, library built without it */
#define HTTPCLIENT_E_TLS_SETUP     0x80010041u /* no random source, host unusable for the check */
#define HTTPCLIENT_E_TLS_CA_FILE   0x80010042u /* CA file unreadable or without a certificate */
#define HTTPCLIENT_E_TLS_VERSION   0x80010043u /* server offers only TLS 1.1 or older */
#define HTTPCLIENT_E_TLS_HANDSHAKE                                                                \
  0x80010044u                                       /* handshake failed (alert, no common cipher, \
                                                       not TLS, closed) */
#define HTTPCLIENT_E_TLS_CERT_UNTRUSTED 0x80010045u /* certificate from no trusted CA */
#define HTTPCLIENT_E_TLS_CERT_EXPIRED   0x80010046u /* certificate expired or not yet valid */
#define HTTPCLIENT_E_TLS_CERT_NAME      0x80010047u /* certificate not for the server's host */
#define HTTPCLIENT_E_TLS_CERT_REFUSED                       \
  0x80010048u /* certificate refused otherwise (weak key or \
                 hash, key usage, unreadable) */
#define HTTPCLIENT_E_TLS_RECORD                                                         \
  0x80010049u                               /* after the handshake: a record failed its \
                                               check, or a fatal alert */
#define HTTPCLIENT_E_TLS_TUNNEL 0x8001004au /* TLS with a tunnel or raw send */
/* 1 when a code is one of the certificate refusals above. */
#define HTTPCLIENT_TLS_IS_CERT_FAILURE(code) \
  ((code) >= HTTPCLIENT_E_TLS_CERT_UNTRUSTED && (code) <= HTTPCLIENT_E_TLS_CERT_REFUSED)

/* A final HTTP status other than 200: HTTPCLIENT_E_HTTP_STATUS + status
 * index (HTTPCLIENT_E_HTTP_STATUS alone: no recognised status). */
#define HTTPCLIENT_E_HTTP_STATUS 0x80010100u
#define HTTPCLIENT_E_HTTP_401    0x80010112u /* server asks for credentials */
#define HTTPCLIENT_E_HTTP_407    0x80010118u /* proxy asks for credentials */

/* Informative outcomes (never failures). */
#define HTTPCLIENT_I_STATUS_KNOWN     0x70010000u
#define HTTPCLIENT_I_NOT_READY        0x70010001u /* call again */
#define HTTPCLIENT_I_NOT_SIGNALLED    0x70010002u
#define HTTPCLIENT_I_WOULD_BLOCK      0x70010003u
#define HTTPCLIENT_I_PEER_CLOSED      0x70010004u
#define HTTPCLIENT_I_ALREADY_STOPPING 0x70010005u
#define HTTPCLIENT_I_LAST_CHUNK       0x70010006u
#define HTTPCLIENT_I_CONTENT_COMPLETE 0x70010007u
#define HTTPCLIENT_I_TUNNEL_GET_UP    0x70010008u
#define HTTPCLIENT_I_TUNNEL_POST_UP   0x70010009u
#define HTTPCLIENT_I_TUNNEL_REFUSED   0x7001000au
#define HTTPCLIENT_I_TUNNEL_NO_ANSWER 0x7001000bu
#define HTTPCLIENT_I_TUNNEL_OPENED    0x7001000cu
#define HTTPCLIENT_I_TUNNEL_FALLBACK  0x7001000du

/* ---- Small enumerations ------------------------------------------------- */
#define HTTPCLIENT_AUTH_NONE   0u
#define HTTPCLIENT_AUTH_BASIC  1u
#define HTTPCLIENT_AUTH_DIGEST 2u

#define HTTPCLIENT_METHOD_GET  1u
#define HTTPCLIENT_METHOD_POST 2u

#define HTTPCLIENT_MODE_SYNC  1u
#define HTTPCLIENT_MODE_ASYNC 2u

#define HTTPCLIENT_SIDE_SERVER 0u
#define HTTPCLIENT_SIDE_PROXY  1u

/* Indexes of fHTTPClientStateMachineFunc. */
#define HTTPCLIENT_STATE_START          0u
#define HTTPCLIENT_STATE_CONNECT        1u
#define HTTPCLIENT_STATE_COMPOSE        2u
#define HTTPCLIENT_STATE_AUTHORIZE      3u
#define HTTPCLIENT_STATE_SEND_HEADER    4u
#define HTTPCLIENT_STATE_RECV_HEADER    5u
#define HTTPCLIENT_STATE_SEND_BODY      6u
#define HTTPCLIENT_STATE_RECV_BODY      7u
#define HTTPCLIENT_STATE_FINISH         8u
#define HTTPCLIENT_STATE_SEND_QUEUED    9u
#define HTTPCLIENT_STATE_TUNNEL_OPEN    10u
#define HTTPCLIENT_STATE_TUNNEL_REQUEST 11u
#define HTTPCLIENT_STATE_COUNT          12u

/* ---- Sizes (terminating zero byte included) ---------------------------- */
#define HTTPCLIENT_HOST_SIZE         36
#define HTTPCLIENT_USER_SIZE         65
#define HTTPCLIENT_PASSWORD_SIZE     65
#define HTTPCLIENT_URI_SIZE          1025
#define HTTPCLIENT_HEADER_SIZE       1281 /* extra header, request text, response header */
#define HTTPCLIENT_REFERER_SIZE      129
#define HTTPCLIENT_USER_AGENT_SIZE   33
#define HTTPCLIENT_CONTENT_TYPE_SIZE 33
#define HTTPCLIENT_COOKIE_SIZE       33
#define HTTPCLIENT_PART_HEADER_SIZE  256
#define HTTPCLIENT_TRAILER_SIZE      64
#define HTTPCLIENT_PREFIX_SIZE       1024

/* ---- Records ----------------------------------------------------------- */

/* One side of an exchange: the server or the proxy. */
typedef struct HTTPClientEndpoint {
  char szHost[HTTPCLIENT_HOST_SIZE]; /* name or dotted-quad text */
  uint32_t dwAddress;                /* network order; 0 (or 0xFFFFFFFF): resolve szHost */
  uint32_t dwPort;                   /* must be non-zero */
  uint32_t dwAuthScheme;             /* HTTPCLIENT_AUTH_*; on return: what was asked for */
  char szUser[HTTPCLIENT_USER_SIZE];
  char szPassword[HTTPCLIENT_PASSWORD_SIZE];
} HTTPClientEndpoint;

/* The request-information record of one exchange (zero it first). */
typedef struct HTTPClientInfo {
  HTTPClientEndpoint tServer;
  HTTPClientEndpoint tProxy; /* used when dwUseProxy is 1 */
  uint32_t dwUseProxy;
  char szURI[HTTPCLIENT_URI_SIZE]; /* path and query, non-empty */
  int32_t iTunnelGetSocket;        /* out: tunnelled modes only */
  int32_t iTunnelPostSocket;
  char szExtraHeader[HTTPCLIENT_HEADER_SIZE]; /* replaces every standard header */
  char szReferer[HTTPCLIENT_REFERER_SIZE];
  char szUserAgent[HTTPCLIENT_USER_AGENT_SIZE]; /* empty: the library's own */
  char szContentType[HTTPCLIENT_CONTENT_TYPE_SIZE];
  uint32_t dwKeepAlive; /* 1: Keep-Alive, else close */
  const char *pBody;    /* POST body */
  uint32_t dwBodyLength;
  uint32_t dwConnectTimeout; /* microseconds, asynchronous mode */
  uint32_t dwSendTimeout;
  uint32_t dwRecvTimeout;
  uint32_t dwTotalTimeout; /* microseconds, synchronous mode */
  char *pRecvBuffer;       /* where the body goes */
  uint32_t dwRecvSize;     /* in: capacity; out: body bytes stored */
  uint32_t dwServerFilter;
  char szResponseHeader[HTTPCLIENT_HEADER_SIZE]; /* out: header lines received */
  char szSessionCookie[HTTPCLIENT_COOKIE_SIZE];  /* out: tunnel cookie */
  char szUploadPartHeader[HTTPCLIENT_PART_HEADER_SIZE];
  char szUploadTrailerFormat[HTTPCLIENT_TRAILER_SIZE];
  FILE *pUploadFile;
  char szUploadPrefix[HTTPCLIENT_PREFIX_SIZE];
  uint32_t dwPriorityEnable;
  uint32_t dwPriority; /* SO_PRIORITY when enabled */
  uint32_t dwTOSEnable;
  uint32_t dwTOS; /* IP_TOS when enabled */
} HTTPClientInfo;

/* TLS settings of a client (HTTPClient_SetTLS). */
#define HTTPCLIENT_TLS_CA_FILE_SIZE   256
#define HTTPCLIENT_TLS_SYSTEM_CA_FILE "/etc/ssl/certs/ca-certificates.crt"
typedef struct HTTPClientTLSOptions {
  uint32_t dwEnable;                          /* 1: TLS, 0: plain TCP */
  char szCAFile[HTTPCLIENT_TLS_CA_FILE_SIZE]; /* PEM file of the CAs to trust; empty:
                                                 HTTPCLIENT_TLS_SYSTEM_CA_FILE */
} HTTPClientTLSOptions;

/* The client record is the library's own; callers hold a handle. */
typedef struct HTTPClientContext HTTPClientContext;
typedef HTTPClientContext *HTTPClientHandle;

/* Event callback of asynchronous operation: (context, event, data, client). */
typedef uint32_t (*HTTPClientCallback)(void *pContext, uint32_t dwEvent, void *pData,
                                       HTTPClientHandle hClient);

/* Tunnel request descriptor. */
typedef struct HTTPClientTunnelRequest {
  uint32_t dwOperation; /* 1 raw send on iSocket, else a tunnelled POST */
  uint32_t dwTimeout;   /* microseconds */
  const char *pData;
  uint32_t dwDataLength;
  int32_t iSocket;
  uint32_t dwContentKind; /* 0 RTSP-style, 1 HLDM */
} HTTPClientTunnelRequest;

/* Event data of HTTPCLIENT_EVENT_NEED_BUFFER (the host fills both fields)
 * and of HTTPCLIENT_EVENT_BODY_DATA (the bytes just received). */
typedef struct HTTPClientBuffer {
  char *pBuffer;
  uint32_t dwSize;
} HTTPClientBuffer;

/* ---- Events of asynchronous operation ----------------------------------
 * Passed to the callback as dwEvent; pData as noted. */
#define HTTPCLIENT_EVENT_FAILURE         0u /* uint32_t *: the result code */
#define HTTPCLIENT_EVENT_NEED_BUFFER     1u /* HTTPClientBuffer *: fill it */
#define HTTPCLIENT_EVENT_BODY_DATA       2u /* HTTPClientBuffer *: bytes received */
#define HTTPCLIENT_EVENT_RECV_ERROR      3u /* uint32_t *: the receive failure */
#define HTTPCLIENT_EVENT_PEER_CLOSED     4u /* the server closed: body ends here */
#define HTTPCLIENT_EVENT_COMPLETE        5u /* body complete */
#define HTTPCLIENT_EVENT_CONNECT_TIMEOUT 7u
#define HTTPCLIENT_EVENT_SEND_TIMEOUT    8u
#define HTTPCLIENT_EVENT_RECV_TIMEOUT    9u
#define HTTPCLIENT_EVENT_NO_BUFFER       10u /* no buffer given for event 1 */
#define HTTPCLIENT_EVENT_TUNNEL_GET_UP   11u /* int32_t *: the GET socket (now the host's) */
#define HTTPCLIENT_EVENT_TUNNEL_POST_UP  12u /* int32_t *: the POST socket (now the host's) */
#define HTTPCLIENT_EVENT_STATUS_BASE     12u /* + status index (13..53): status known */
#define HTTPCLIENT_EVENT_SERVER_AUTH     30u /* HTTPClientEndpoint *: the server block */
#define HTTPCLIENT_EVENT_PROXY_AUTH      36u /* HTTPClientEndpoint *: the proxy block */
#define HTTPCLIENT_EVENT_SEND_DONE       54u /* queued send complete */
#define HTTPCLIENT_EVENT_SEND_FAILED     55u /* uint32_t *: the result code */
#define HTTPCLIENT_EVENT_TUNNEL_OPENED   56u /* HTTPClientInfo *: both sockets, cookie */
#define HTTPCLIENT_EVENT_TUNNEL_FALLBACK 57u /* HTTPClientInfo *: GET socket, cookie */
#define HTTPCLIENT_EVENT_TUNNEL_FAILED   58u /* uint32_t *: the result code */
#define HTTPCLIENT_EVENT_REQUEST_DONE    59u /* tunnel request complete */
#define HTTPCLIENT_EVENT_REQUEST_FAILED  60u /* uint32_t *: the result code */
#define HTTPCLIENT_EVENT_UNKNOWN_STATUS  61u

/* ---- Operations -------------------------------------------------------- */

/* Creates an idle client (state 0).  dwVersion must be HTTPCLIENT_VERSION. */
uint32_t HTTPClient_Initial(HTTPClientHandle *phClient, uint32_t dwVersion);
/* Frees an idle client and clears the handle. */
uint32_t HTTPClient_Release(HTTPClientHandle *phClient);

/* Value of the first header `name` in ptInfo->szResponseHeader.  *pdwLength:
 * in the capacity of `value`, out the value's length.  0 or -1. */
int HTTPClient_GetHeaderValue(const HTTPClientInfo *ptInfo, const char *szName, char *szValue,
                              uint32_t *pdwLength);

/* Synchronous GET / POST: 0 or 0x7001xxxx when a 200 answer's body was
 * stored in ptInfo->pRecvBuffer (ptInfo->dwRecvSize: its length); a
 * 0x8001xxxx code on failure (0x80010100 + status index for another final
 * status). */
uint32_t HTTPClient_Get(HTTPClientHandle hClient, HTTPClientInfo *ptInfo);
uint32_t HTTPClient_Post(HTTPClientHandle hClient, HTTPClientInfo *ptInfo);

/* Starts an exchange (mode HTTPCLIENT_MODE_*, method HTTPCLIENT_METHOD_*). */
uint32_t HTTPClient_Start(HTTPClientHandle hClient, HTTPClientInfo *ptInfo, uint32_t dwMode,
                          uint32_t dwMethod);
/* Checks and copies the request, then (synchronous mode) drives the state
 * machine to the end.  Runs only a record that HTTPClient_Start has started
 * (else HTTPCLIENT_E_STATE_ARGS): hosts call Get, Post or Start. */
uint32_t HTTPClient_Run(HTTPClientHandle hClient, HTTPClientInfo *ptInfo, uint32_t dwMode,
                        uint32_t dwMethod);
/* Ends an exchange (state 0 or 8 only) and clears the per-exchange state. */
uint32_t HTTPClient_Finish(HTTPClientHandle hClient);

/* ---- Asynchronous operation and tunnels --------------------------------
 * A host drives an asynchronous exchange by calling HTTPClient_Process from
 * its event loop until the exchange has ended; each call runs one step of
 * the state machine and reports at most one event (body events 1 to 3 come
 * from inside the step).  No call waits longer than 1 s in all (a step's
 * time-out lowers that): a longer wait (a name server's answer, a peer's
 * silence, the tunnel answer) goes on over the calls that follow, and the
 * pause before connecting passes between calls.  HTTPClient_Process
 * returns the step's result (0x70010001 while nothing happened); the events
 * tell what happened.  The exchange has ended after the events 4, 5, 7 to 10,
 * 12, 54 to 61 and event 0 with a failure code (0x8001xxxx); the record is
 * then idle again.  A callback may call HTTPClient_Abort (no more events
 * follow); during one of those last events it returns
 * HTTPCLIENT_I_ALREADY_STOPPING.
 *
 * The HTTPClientInfo given to an asynchronous entry must stay valid until
 * the exchange ends: the response header text, handed-over tunnel sockets
 * and the session cookie are written into it as the exchange runs.
 *
 * On a 401 / 407 the host sees event 30 / 36 with the client's server /
 * proxy block, where it may set the user and password to send; the next
 * step reconnects.  Without user and password, or after three repeated
 * attempts, the exchange ends with event 0 (0x80010112 / 0x80010118).
 *
 * Tunnel sockets handed over (tunnel GET, tunnel open) belong to the caller,
 * who closes them; every other socket is closed by the library on every
 * path, HTTPClient_Abort included.
 *
 * Tunnel open: the GET channel, the POST channel (whose body is the URI's
 * query text, at most 15 characters), the 20-byte answer and the
 * one-channel fallback (a new GET channel, a tunnelled request "channel=1",
 * the answer again) run over the HTTPClient_Process calls.  The whole open
 * has one budget, the sum of the three time-outs (at most 0xFFFFFFFF us),
 * fixed at its first step: each channel gets what is left of it, the answer
 * 15 s or what is left if less, the fallback's request 5 s or what is left
 * if less.  A budget used up before a channel starts ends the open with
 * 0x8001001b (event 58).  Bytes a device sends after the GET channel's
 * response header are read as the answer.  While an open, tunnel request
 * or queued send runs, other starts return 0x80010008 (busy).
 *
 * Tunnel request: a tunnelled request is bounded by its descriptor's
 * time-out, else by the sum of the info's three time-outs; a raw send by
 * its time-out.  The descriptor is copied, but its data must stay valid
 * until the request's last event (59 / 60), and a queued send's until
 * event 54 / 55.  Raw and queued sends never block on the socket, whatever
 * its mode.
 *
 * Streamed upload (synchronous POST with part header, trailer format and a
 * file): dwBodyLength is the size of each file piece.  The request announces
 * the whole body (prefix, part header, the file's size at the start, trailer
 * text) as its Content-Length.  The trailer format takes at most two integer
 * conversions (d, i, u, x, X, with flags and width), given the size of the
 * last file piece and 2; the trailer piece is the printed text.  Another
 * format, or a file whose size cannot be measured or that ends early,
 * fails with 0x80010015.
 *
 * A raw or queued send with a time-out of 0 is bounded by 20 s. */

/* Stores the event callback and its context (null function: 0x80010005). */
uint32_t HTTPClient_SetCallback(HTTPClientHandle hClient, HTTPClientCallback pfnCallback,
                                void *pContext);
/* Starts an asynchronous GET / POST (connect, send and receive time-outs
 * needed); the body arrives through events 1 and 2. */
uint32_t HTTPClient_AsyncGet(HTTPClientHandle hClient, HTTPClientInfo *ptInfo);
uint32_t HTTPClient_AsyncPost(HTTPClientHandle hClient, HTTPClientInfo *ptInfo);
/* Asynchronous GET with the server-name filter requested. */
uint32_t HTTPClient_FilteredAsyncGet(HTTPClientHandle hClient, HTTPClientInfo *ptInfo);
/* RTSP-style tunnel: a GET whose socket is handed to iTunnelGetSocket, then
 * a POST on a new connection handed to iTunnelPostSocket, both with the new
 * session cookie (also copied to szSessionCookie). */
uint32_t HTTPClient_TunnelGet(HTTPClientHandle hClient, HTTPClientInfo *ptInfo);
uint32_t HTTPClient_AsyncTunnelGet(HTTPClientHandle hClient, HTTPClientInfo *ptInfo);
/* Queues a tunnel open (the URI must hold "?": 0x80010014 at once). */
uint32_t HTTPClient_AsyncTunnelOpen(HTTPClientHandle hClient, HTTPClientInfo *ptInfo);
/* Queues a tunnelled request or a raw send (operation 1). */
uint32_t HTTPClient_AsyncTunnelRequest(HTTPClientHandle hClient, HTTPClientInfo *ptInfo,
                                       const HTTPClientTunnelRequest *ptRequest);
/* Sends the descriptor's data on its socket: at once unless the client is
 * in asynchronous mode, where it is queued. */
uint32_t HTTPClient_SendTunnelData(HTTPClientHandle hClient,
                                   const HTTPClientTunnelRequest *ptRequest);
/* Stops the current operation, closing its socket and freeing its buffer. */
uint32_t HTTPClient_Abort(HTTPClientHandle hClient);
/* One asynchronous step. */
uint32_t HTTPClient_Process(HTTPClientHandle hClient);

/* ---- TLS (HTTPS) --------------------------------------------------------
 * A client speaks TLS when HTTPClient_SetTLS has turned it on; no record of
 * the exchange changes.  The setting belongs to the client and holds for
 * every exchange started after it (401/407 repeats and asynchronous
 * reconnects included) until it is set again; a new client speaks plain
 * TCP.  szURI stays the path and query: "https://" is not taken from it.
 * The caller names the port (443 for HTTPS servers).
 *
 * Over TLS, an exchange:
 * - connects as before, directly or through the proxy: there it first asks
 *   for a tunnel with "CONNECT a.b.c.d:port HTTP/1.1" (the server's
 *   resolved address, as a request through the proxy names it in clear)
 *   and the proxy's credentials; a 407 is answered as in clear (event 36
 *   in asynchronous mode, at most three repeats), any answer but 2xx ends
 *   the exchange with 0x80010100 + its status index.  Inside the tunnel
 *   the request is the origin form ("GET /path"), without the proxy's
 *   credentials, and its Host line leaves out port 443;
 * - runs the tunnel request and the TLS handshake inside the connect's time
 *   budget (the connect time-out in asynchronous mode, the total budget in
 *   synchronous mode; not done in time: 0x8001001b, like a connect), as
 *   steps of HTTPClient_Process in asynchronous mode (each waits at most
 *   its slice), with the same events as plain HTTP;
 * - speaks TLS 1.2 only (nothing older; ECDHE key exchange, with AES-GCM or
 *   ChaCha20-Poly1305 first and AES-CBC last), sends the server's host name
 *   as SNI and checks the certificate chain against the CA file, its validity dates, its use for
 *   servers, and its names against the server's host (tServer.szHost; a
 *   dotted quad, or an empty host with dwAddress, is checked against the
 *   certificate's IP addresses and sent without SNI);
 * - sends the request only when all of that passed; a refusal is one of the
 *   HTTPCLIENT_E_TLS_* codes, and a certificate refusal is a code for which
 *   HTTPCLIENT_TLS_IS_CERT_FAILURE holds.
 * There is no mode without the certificate check.  The tunnel operations and
 * raw sends hand plain sockets over and refuse a client set to TLS with
 * HTTPCLIENT_E_TLS_TUNNEL.
 *
 * Memory: mbedTLS allocates about 34 KiB of record buffers per connection
 * and a few KiB during the handshake; of the CA file only the certificates
 * named as issuers in the server's chain are kept (the file is read one
 * certificate at a time). */

/* 1 when the library's exchanges can speak TLS, else 0. */
uint32_t HTTPClient_TLSBuiltIn(void);
/* Sets the client's TLS for the exchanges that follow (idle client only:
 * HTTPCLIENT_E_BUSY).  Null options: HTTPCLIENT_E_INVALID_INFO.  With
 * dwEnable 1, a CA file name that is not terminated within its array or
 * holds control bytes gives HTTPCLIENT_E_TLS_CA_FILE, and a library built
 * without TLS gives HTTPCLIENT_E_TLS_NOT_BUILT; in both cases TLS stays
 * asked for, and every following exchange fails with that code without
 * sending anything, until TLS is set again. */
uint32_t HTTPClient_SetTLS(HTTPClientHandle hClient, const HTTPClientTLSOptions *ptOptions);

/* Appends the credential lines and the blank line to the request text. */
uint32_t HTTPClient_Authorize(HTTPClientHandle hClient);
/* Fills one side's qop, realm and nonce from the text after
 * "WWW-Authenticate: Digest " / "Proxy-Authenticate: Digest ". */
void HTTPClient_ParseDigestChallenge(HTTPClientHandle hClient, const char *szChallenge,
                                     uint32_t dwSide);
/* One parameter value after the first "=" of szText, quotes removed; empty
 * when missing or not below dwCapacity. */
void HTTPClient_ParseParamValue(const char *szText, char *szValue, uint32_t dwCapacity);

#ifdef __cplusplus
}
#endif

#endif /* NAMREG_HTTPCLIENT_H */
