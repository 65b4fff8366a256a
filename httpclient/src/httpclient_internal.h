// SPDX-License-Identifier: MIT
// The client record behind an HTTPClientHandle and the library's internal
// operations shared between its source files (and its tests and fuzzers).
#ifndef NAMREG_HTTPCLIENT_INTERNAL_H
#define NAMREG_HTTPCLIENT_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "namreg/clock.h"
#include "namreg/httpclient.h"
#include "namreg/lookup.h"

#define HTTPCLIENT_QOP_SIZE         17
#define HTTPCLIENT_REALM_SIZE       65
#define HTTPCLIENT_NONCE_SIZE       129
#define HTTPCLIENT_SERVER_NAME_SIZE 129
#define HTTPCLIENT_TEXT_MAX         1280u   // bytes of a 1281-byte text buffer
#define HTTPCLIENT_BODY_PIECE       14600u  // receive size when no length is known
#define HTTPCLIENT_ANSWER_LENGTH    20u     // "http tunnel accept=1"
#define HTTPCLIENT_SCRATCH_SIZE     1460u   // receive buffer of a tunnel's exchanges
#define HTTPCLIENT_STEP_SLICE_MS    1000u   // the longest an HTTPClient_Process call waits

// Operation kinds.
#define HTTPCLIENT_OP_NONE           0u
#define HTTPCLIENT_OP_REQUEST        1u
#define HTTPCLIENT_OP_STOP           2u
#define HTTPCLIENT_OP_SEND_QUEUED    3u
#define HTTPCLIENT_OP_TUNNEL_OPEN    4u
#define HTTPCLIENT_OP_TUNNEL_REQUEST 5u

// Phases: the step whose budget starts on the next handler call.
#define HTTPCLIENT_PHASE_RUNNING     0u
#define HTTPCLIENT_PHASE_CONNECT     1u
#define HTTPCLIENT_PHASE_SEND_HEADER 2u
#define HTTPCLIENT_PHASE_SEND_BODY   3u
#define HTTPCLIENT_PHASE_RECV_HEADER 4u
#define HTTPCLIENT_PHASE_RECV_BODY   5u
#define HTTPCLIENT_PHASE_RESOLVE     6u  // connect step: names being resolved, no socket yet
#define HTTPCLIENT_PHASE_DIAL        7u  // connect step: socket open, connect() not called yet

// Status indexes the code looks at.
#define HTTPCLIENT_STATUS_NONE 0u
#define HTTPCLIENT_STATUS_100  1u
#define HTTPCLIENT_STATUS_200  3u
#define HTTPCLIENT_STATUS_401  18u
#define HTTPCLIENT_STATUS_407  24u
#define HTTPCLIENT_STATUS_MAX  41u

namespace namreg {
class TlsSession;
}  // namespace namreg

// One side's Digest challenge.
struct HTTPClientDigest {
  char szQop[HTTPCLIENT_QOP_SIZE];
  char szRealm[HTTPCLIENT_REALM_SIZE];
  char szNonce[HTTPCLIENT_NONCE_SIZE];
};

// An operation of states 9 to 11 stepped by HTTPClient_Process: where it
// stands, its deadlines, and what it keeps between steps.  It outlives the
// finishing of the exchanges it runs inside (its "inner" exchanges, driven
// a handler at a time with the semantics of a synchronous call) and is
// reset when the operation ends.
struct HTTPClientStages {
  uint64_t qwOpEndMs;     // the operation's deadline (monotonic milliseconds)
  uint64_t qwStageEndMs;  // the current stage's end, never past the operation's
  uint32_t dwStage;       // 0 before the operation's first step
  uint32_t dwOperation;   // the operation kind the stages belong to
  // The inner exchange's state and operation kind between steps (the
  // record itself shows the operation's state to the host).
  uint32_t dwInnerState;
  uint32_t dwInnerOperation;
  uint32_t dwSent;        // bytes of a raw or queued send gone out
  uint32_t dwAnswerHave;  // bytes of the tunnel answer received
  HTTPClientInfo *ptCaller;
  char acAnswer[HTTPCLIENT_ANSWER_LENGTH];
  char szQuery[16];  // the POST channel's body: the URI's query, at most 15 characters
  char acScratch[HTTPCLIENT_SCRATCH_SIZE];
};

struct HTTPClientContext {
  // Server block.
  HTTPClientEndpoint tServer;
  HTTPClientDigest tServerDigest;
  uint32_t dwServerNonceCount;
  // Proxy block.
  HTTPClientEndpoint tProxy;
  HTTPClientDigest tProxyDigest;
  uint32_t dwProxyNonceCount;
  uint32_t dwPostResendCount;

  uint32_t dwUseProxy;
  char szURI[HTTPCLIENT_URI_SIZE];

  uint32_t dwMethod;       // HTTPCLIENT_METHOD_*
  uint32_t dwMode;         // HTTPCLIENT_MODE_*
  int32_t iSocket;         // -1 when none is open
  uint32_t dwStatusIndex;  // 0 none, 1..41

  uint32_t dwRtspTunnel;
  uint32_t dwHldmTunnel;
  int32_t iSID;
  uint32_t dwAudioMode;
  int32_t iPrivilege;
  char szServerName[HTTPCLIENT_SERVER_NAME_SIZE];
  uint32_t dwResponseKeepAlive;

  char szSessionCookie[HTTPCLIENT_COOKIE_SIZE];
  int32_t iTunnelGetSocket;
  int32_t iTunnelPostSocket;

  char szExtraHeader[HTTPCLIENT_HEADER_SIZE];
  char szReferer[HTTPCLIENT_REFERER_SIZE];
  char szUserAgent[HTTPCLIENT_USER_AGENT_SIZE];
  char szContentType[HTTPCLIENT_CONTENT_TYPE_SIZE];
  uint32_t dwKeepAlive;
  const char *pBody;

  // Time budgets, microseconds.
  uint32_t dwSelectTimeout;
  uint32_t dwConnectBudget;
  uint32_t dwSendHeaderBudget;
  uint32_t dwSendBodyBudget;
  uint32_t dwRecvHeaderBudget;
  uint32_t dwRecvBodyBudget;
  uint32_t dwConnectReload;
  uint32_t dwSendHeaderReload;
  uint32_t dwSendBodyReload;
  uint32_t dwRecvHeaderReload;
  uint32_t dwRecvBodyReload;
  HTTPClientCallback pfnCallback;
  void *pCallbackContext;
  uint32_t dwTotalBudget;

  uint32_t dwState;      // index into fHTTPClientStateMachineFunc
  uint32_t dwOperation;  // HTTPCLIENT_OP_*
  uint32_t dwPhase;      // HTTPCLIENT_PHASE_*
  uint32_t dwPhaseMark;  // milliseconds

  char *pDest;
  uint32_t dwDestSize;
  uint32_t dwStoredLength;

  char szRequest[HTTPCLIENT_HEADER_SIZE];
  uint32_t dwRequestSent;

  char szHeaderBuffer[HTTPCLIENT_HEADER_SIZE];
  uint32_t dwParsePos;
  uint32_t dwBuffered;
  uint32_t dwContentLengthKnown;
  int32_t iContentRemaining;
  uint32_t dwChunked;
  int32_t iChunkRemaining;
  uint32_t dwServerFilterRequested;
  uint32_t dwServerFilter;
  char *pSendBuffer;
  uint32_t dwSendLength;
  uint32_t dwBodyLength;
  uint32_t dwBodySent;
  char *pResponseHeader;          // the caller's szResponseHeader
  uint32_t dwResponseHeaderUsed;  // characters in it

  HTTPClientInfo tInfoCopy;  // tunnelled modes
  HTTPClientTunnelRequest tQueued;
  // Kept when an exchange finishes, like the two above: the end of the
  // current HTTPClient_Process call's slice (monotonic milliseconds, 0
  // outside a call), by which every wait of the call ends, and the stages
  // of a stepped operation.
  uint64_t qwStepEndMs;
  HTTPClientStages tStages;
  char szUploadPartHeader[HTTPCLIENT_PART_HEADER_SIZE];
  char szUploadTrailerFormat[HTTPCLIENT_TRAILER_SIZE];
  FILE *pUploadFile;
  uint32_t dwUploadPhase;
  uint32_t dwUploadMode;
  char szUploadPrefix[HTTPCLIENT_PREFIX_SIZE];

  uint32_t dwPriorityEnable;
  uint32_t dwPriority;
  uint32_t dwTOSEnable;
  uint32_t dwTOS;

  // Retries of the current call (401 / 407).
  uint32_t dwServerRetries;
  uint32_t dwProxyRetries;

  // Asynchronous and tunnelled exchanges write their results (response
  // header text, handed-over sockets, session cookie) into the caller's
  // record, which stays valid until the exchange ends.
  HTTPClientInfo *pCallerInfo;
  // Streamed upload: bytes of the whole body announced, the file's size,
  // file bytes still to read, size of the last file piece.
  uint32_t dwUploadTotal;
  uint32_t dwUploadFileSize;
  uint32_t dwUploadFileLeft;
  uint32_t dwUploadLastPiece;

  // Name resolution of a stepped exchange: the query out (fd -1: none),
  // the name servers read for the name, the one asked, and the end of its
  // wait (monotonic milliseconds).
  namreg::DNSQuery tLookup;
  uint32_t adwLookupServers[2];
  uint32_t dwLookupIndex;
  uint32_t dwLookupRead;
  uint64_t qwLookupEndMs;
  // The pause before a stepped exchange connects: when it began.
  uint32_t dwPausing;
  uint32_t dwPauseMark;
  // A chunk-size line not yet whole after a step: 1 before the CR LF that
  // ends the previous chunk's data, 2 after it; 0 none.
  uint32_t dwChunkLinePending;
  // TLS of the exchanges (HTTPClient_SetTLS): asked for; the refusal every
  // exchange answers with, before sending anything, while it is not 0; the
  // CA file (empty: the system bundle).
  uint32_t dwTLSEnable;
  uint32_t dwTLSRefusal;
  char szTLSCAFile[HTTPCLIENT_TLS_CA_FILE_SIZE];
  // The TLS session of the open connection (null: none, or plain TCP),
  // allocated when the handshake begins and freed with the socket; and
  // where the connect step stands once TCP is up (HTTPCLIENT_TLS_STEP_*).
  namreg::TlsSession *ptTls;
  uint32_t dwTlsStep;
};

typedef uint32_t (*HTTPClientStateFunc)(HTTPClientContext *ptClient);

namespace namreg {

extern const HTTPClientStateFunc fHTTPClientStateMachineFunc[HTTPCLIENT_STATE_COUNT];

// Millisecond tick of the process clock.
uint32_t HTTPClient_GetTickMs(void);

// Clears a record to its idle form (zeros, every socket -1).
void HTTPClient_ClearRecord(HTTPClientContext *ptClient);

// Composer (state 2).
uint32_t HTTPClient_ComposeRequest(HTTPClientContext *ptClient);
// Appends the proxy's credentials for a CONNECT to szAuthority ("host:port",
// also the Digest URI) and the blank line to the request text: HTTPCLIENT_OK,
// HTTPCLIENT_E_UNSAFE_TEXT or HTTPCLIENT_E_DIGEST_PARAM.
uint32_t HTTPClient_AuthorizeConnect(HTTPClientContext *ptClient, const char *szAuthority);

// Response parser.
uint32_t HTTPClient_ParseResponseHeader(HTTPClientContext *ptClient, uint32_t dwReceived);
void HTTPClient_ParseHeaderLine(HTTPClientContext *ptClient, const char *szLine, uint32_t dwLength);
uint32_t HTTPClient_StatusIndex(int32_t iCode);
void HTTPClient_ParseStatusCode(HTTPClientContext *ptClient, const char *szCode);
uint32_t HTTPClient_HeaderComplete(HTTPClientContext *ptClient);
uint32_t HTTPClient_ReadChunkHeader(HTTPClientContext *ptClient);
int32_t HTTPClient_ParseChunkSize(const char *szText, uint32_t dwLength);
// Appends text to the caller's response header text, whole lines only.
void HTTPClient_AppendResponseLine(HTTPClientContext *ptClient, const char *szLine,
                                   uint32_t dwLength);

// Transport.
// True while the handlers run inside an HTTPClient_Process call: every wait
// then ends by the call's slice, and pauses are timed steps.
bool HTTPClient_InStep(const HTTPClientContext *ptClient);
// `limit_ms`, cut to what is left of the HTTPClient_Process call's slice
// when the handlers run inside one.
uint64_t HTTPClient_StepWaitMs(const HTTPClientContext *ptClient, uint64_t limit_ms);
uint32_t HTTPClient_CheckTimeout(HTTPClientContext *ptClient);
// One wait of the socket (for writing, or for reading), bounded by the
// remaining budget (and the step's slice), with the budget checked before
// and after it: HTTPCLIENT_OK with *pReady set (0: not yet), or the failure
// (the socket is then closed).
uint32_t HTTPClient_WaitWithinBudget(HTTPClientContext *ptClient, bool bWrite, int *pReady);
uint32_t HTTPClient_Resolve(HTTPClientContext *ptClient);
uint32_t HTTPClient_Connect(HTTPClientContext *ptClient);
uint32_t HTTPClient_SendOnce(HTTPClientContext *ptClient, const char *pData, uint32_t dwLength,
                             uint32_t *pdwSent);
uint32_t HTTPClient_RecvOnce(HTTPClientContext *ptClient, char *pDest, uint32_t dwWanted,
                             uint32_t *pdwReceived, uint32_t dwWait);
// Closes the connection: its TLS session first (close_notify, freed), then
// the socket.
void HTTPClient_CloseSocket(HTTPClientContext *ptClient);

// TLS of an exchange (tls_exchange.cpp).
// What a start on a client set to TLS is refused with before anything is
// sent (bTunnel: a tunnel operation or a raw send), HTTPCLIENT_OK when it
// may run.
uint32_t HTTPClient_TlsRefusal(const HTTPClientContext *ptClient, bool bTunnel);
// The connect step once TCP is up: through a proxy the CONNECT request and
// its answer (407 as HTTPCLIENT_E_HTTP_407), then the handshake, each part
// a bounded wait at a time within the connect budget.  HTTPCLIENT_OK once
// the handshake is done (the state is then HTTPCLIENT_STATE_COMPOSE),
// HTTPCLIENT_I_NOT_READY / HTTPCLIENT_I_WOULD_BLOCK to call again, or the
// failure with the connection closed.
uint32_t HTTPClient_TlsConnectStep(HTTPClientContext *ptClient);
// Where the connect step stands (dwTlsStep).
#define HTTPCLIENT_TLS_STEP_TCP       0u  // TCP connecting (every exchange)
#define HTTPCLIENT_TLS_STEP_CONNECT   1u  // the proxy's CONNECT request to compose
#define HTTPCLIENT_TLS_STEP_SEND      2u  // ... to send
#define HTTPCLIENT_TLS_STEP_ANSWER    3u  // ... its answer to read
#define HTTPCLIENT_TLS_STEP_BEGIN     4u  // the session to set up
#define HTTPCLIENT_TLS_STEP_HANDSHAKE 5u  // the handshake running
// Clears what one attempt of an exchange learned and sent (status, request
// text, header buffer, length and chunk counts, response fields, upload
// step), so that the exchange can start again on a new connection.
void HTTPClient_ClearAttempt(HTTPClientContext *ptClient);

// Text checks: a text from outside holds no control byte (0x00-0x1F,
// 0x7F) up to its terminator within `size` bytes; a header block may hold
// CR LF line ends but no other control byte, no bare CR or LF and no blank
// line before its end.  HTTPClient_CheckRequestTexts checks the texts a
// request carries or looks up (bOwnHeader: the library composes the
// header block, as for a tunnelled request): HTTPCLIENT_OK or
// HTTPCLIENT_E_UNSAFE_TEXT.
bool HTTPClient_TextIsSafe(const char *szText, size_t size);
bool HTTPClient_HeaderBlockIsSafe(const char *szText, size_t size);
uint32_t HTTPClient_CheckRequestTexts(const HTTPClientInfo *ptInfo, bool bOwnHeader);

// Inner exchanges of a stepped operation (states 10 and 11).
// Checks and copies the request (HTTPClient_Run without driving it).
uint32_t HTTPClient_Prepare(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t dwMode,
                            uint32_t dwMethod);
// Starts an exchange on ptInfo with the semantics of a synchronous call
// (the body into ptInfo's receive buffer, one time budget: what is left of
// the stage), to be driven by HTTPClient_InnerStep.  HTTPCLIENT_OK, or the
// refusal (nothing runs).
uint32_t HTTPClient_InnerStart(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo,
                               uint32_t dwMethod);
// Runs one handler of it: false while it runs on, true once it has ended,
// *pdwResult then holding its result as the synchronous call returns it.
bool HTTPClient_InnerStep(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo, uint32_t *pdwResult);
// Milliseconds left of the monotonic time `end_ms`, and as a budget in
// microseconds (at most 0xFFFFFFFF).
uint64_t HTTPClient_LeftMs(uint64_t end_ms);
uint32_t HTTPClient_LeftUs(uint64_t end_ms);
// Ends the stages of a stepped operation: with bAbandon the channels it
// opened and has not handed over are closed.
void HTTPClient_DropStages(HTTPClientContext *ptClient, bool bAbandon);

// Asynchronous step helpers.
// Calls the host's callback (no-op without one) and returns its result.
uint32_t HTTPClient_Notify(HTTPClientContext *ptClient, uint32_t dwEvent, void *pData);
// Ends the operation after a last event: the record is marked stopping
// while the host sees the event, then finished (socket closed, send buffer
// freed, record idle).
void HTTPClient_EndWithEvent(HTTPClientContext *ptClient, uint32_t dwEvent, void *pData);

// Tunnels (states 9, 10 and 11).
uint32_t HTTPClient_StateSendQueued(HTTPClientContext *ptClient);
uint32_t HTTPClient_StateTunnelOpen(HTTPClientContext *ptClient);
uint32_t HTTPClient_StateTunnelRequest(HTTPClientContext *ptClient);
// Fills the client's session cookie (22 characters).
void HTTPClient_MakeSessionCookie(HTTPClientContext *ptClient);
// Sets the extra header block of a tunnelled request and starts it as an
// inner POST on ptInfo (the client's stored request record), its budget
// what is left of the current stage.
uint32_t HTTPClient_ComposeTunnelRequest(HTTPClientContext *ptClient, HTTPClientInfo *ptInfo,
                                         const HTTPClientTunnelRequest *ptRequest);
// Sends all dwLength bytes on fd within dwTimeoutUs (0: the default bound).
uint32_t HTTPClient_SendAllOn(int fd, const char *pData, uint32_t dwLength, uint32_t dwTimeoutUs);
// One wait of at most dwWaitMs for fd to take data, and one send of what is
// left after *pdwSent bytes: HTTPCLIENT_OK when all is sent,
// HTTPCLIENT_I_NOT_READY (the wait ended first) or HTTPCLIENT_I_WOULD_BLOCK
// to go on, or the failure.
uint32_t HTTPClient_SendStep(int fd, const char *pData, uint32_t dwLength, uint32_t *pdwSent,
                             uint64_t dwWaitMs);
// Receives exactly dwLength bytes of a tunnel answer on fd within
// dwTimeoutMs: HTTPCLIENT_OK, HTTPCLIENT_I_TUNNEL_NO_ANSWER when the time
// ran out, HTTPCLIENT_E_TUNNEL_CLOSED, or the receive failure.
uint32_t HTTPClient_ReceiveAnswer(int fd, char *pBuffer, uint32_t dwLength, uint32_t dwTimeoutMs);
// One wait of at most dwWaitMs and one receive of the answer's rest after
// *pdwHave bytes: HTTPCLIENT_OK when it is whole, HTTPCLIENT_I_NOT_READY or
// HTTPCLIENT_I_WOULD_BLOCK to go on, HTTPCLIENT_E_TUNNEL_CLOSED, or the
// receive failure.
uint32_t HTTPClient_ReceiveAnswerStep(int fd, char *pBuffer, uint32_t dwLength, uint32_t *pdwHave,
                                      uint64_t dwWaitMs);
// Judges a 20-byte tunnel answer: HTTPCLIENT_I_TUNNEL_OPENED (accepted),
// HTTPCLIENT_I_TUNNEL_REFUSED or HTTPCLIENT_E_TUNNEL_ANSWER.
uint32_t HTTPClient_JudgeAnswer(const char *pAnswer, uint32_t dwLength);

// Streamed upload.
// Takes the upload fields of a synchronous POST and measures the body.
uint32_t HTTPClient_UploadPrepare(HTTPClientContext *ptClient, const HTTPClientInfo *ptInfo);
// Size of the send buffer an upload needs for pieces of dwPiece bytes.
uint32_t HTTPClient_UploadBufferSize(uint32_t dwPiece);
// Puts the next piece (after dwAt bytes already in the send buffer) and
// sets the send length; a length of dwAt means that everything was sent.
uint32_t HTTPClient_UploadFill(HTTPClientContext *ptClient, uint32_t dwAt);
// Moves to the next phase once a piece is wholly sent.
void HTTPClient_UploadPieceSent(HTTPClientContext *ptClient);

// Appends to a text of `size` bytes kept at most size - 1 characters long;
// a piece that does not fit is cut short.  `length` follows the text.
struct HTTPClientText {
  char *szText;
  uint32_t dwSize;
  uint32_t dwLength;
  void Add(const char *szPiece, uint32_t dwCount);
  void Add(const char *szPiece);
  void AddUInt(uint32_t dwValue);
};

// Bounded append of a formatted piece to a text of `size` bytes (at most
// size - 1 characters, a piece that does not fit is cut short).
void HTTPClient_AppendF(char *szText, uint32_t dwSize, const char *szFormat, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace namreg

// The library's sources use the short names.
using namreg::fHTTPClientStateMachineFunc;
using namreg::HTTPClient_AppendF;
using namreg::HTTPClient_AppendResponseLine;
using namreg::HTTPClient_CheckTimeout;
using namreg::HTTPClient_ClearAttempt;
using namreg::HTTPClient_ClearRecord;
using namreg::HTTPClient_CloseSocket;
using namreg::HTTPClient_ComposeRequest;
using namreg::HTTPClient_Connect;
using namreg::HTTPClient_GetTickMs;
using namreg::HTTPClient_HeaderComplete;
using namreg::HTTPClient_ParseChunkSize;
using namreg::HTTPClient_ParseHeaderLine;
using namreg::HTTPClient_ParseResponseHeader;
using namreg::HTTPClient_ParseStatusCode;
using namreg::HTTPClient_ReadChunkHeader;
using namreg::HTTPClient_RecvOnce;
using namreg::HTTPClient_Resolve;
using namreg::HTTPClient_SendOnce;
using namreg::HTTPClient_StatusIndex;
using namreg::HTTPClientText;

#endif  // NAMREG_HTTPCLIENT_INTERNAL_H
