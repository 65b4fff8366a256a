// SPDX-License-Identifier: MIT
// An exchange over TLS: what a start on a client set to TLS is refused
// with, and the connect step once TCP is up: the tunnel through the HTTP
// proxy (CONNECT, with the proxy's credentials and its 407 retry), then the
// handshake on the TLS layer (tls.h), each part a bounded wait at a time
// within the connect budget.  Nothing of the request is sent before the
// handshake, and so the certificate check, is through.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <new>

#include "httpclient_internal.h"
#include "tls.h"

namespace {

using namreg::TlsSession;
using namreg::TlsStatus;

// The server as the tunnel and the certificate check name it: its host name,
// or its address as a dotted quad when the request gave none.
void ServerHost(const HTTPClientContext *ptClient, char *szOut, size_t size) {
  if (ptClient->tServer.szHost[0] != '\0') {
    snprintf(szOut, size, "%s", ptClient->tServer.szHost);
    return;
  }
  struct in_addr tAddr;
  tAddr.s_addr = ptClient->tServer.dwAddress;
  if (inet_ntop(AF_INET, &tAddr, szOut, static_cast<socklen_t>(size)) == nullptr) szOut[0] = '\0';
}

// "CONNECT a.b.c.d:port HTTP/1.1" with Host, User-Agent and the proxy's
// credentials.  Like a request through the proxy in clear, the tunnel names
// the server's resolved address, never its name (the name goes, encrypted
// as far as TLS allows, in the handshake).
uint32_t ComposeConnect(HTTPClientContext *ptClient) {
  char szAuthority[32];
  struct in_addr tAddr;
  tAddr.s_addr = ptClient->tServer.dwAddress;
  char szDotted[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &tAddr, szDotted, sizeof(szDotted)) == nullptr)
    return HTTPCLIENT_E_SERVER_ADDRESS;
  snprintf(szAuthority, sizeof(szAuthority), "%s:%u", szDotted,
           static_cast<unsigned>(ptClient->tServer.dwPort));
  memset(ptClient->szRequest, 0, sizeof(ptClient->szRequest));
  HTTPClient_AppendF(
      ptClient->szRequest, HTTPCLIENT_TEXT_MAX,
      "CONNECT %s HTTP/1.1\r\nHost: %s\r\nUser-Agent: %s\r\n", szAuthority, szAuthority,
      ptClient->szUserAgent[0] != '\0' ? ptClient->szUserAgent : "HLDM (ver=1.7.0.0)");
  if (ptClient->dwKeepAlive == 1)
    HTTPClient_AppendF(ptClient->szRequest, HTTPCLIENT_TEXT_MAX,
                       "Proxy-Connection: Keep-Alive\r\n");
  return namreg::HTTPClient_AuthorizeConnect(ptClient, szAuthority);
}

// Forgets what the proxy's answer left in the record, so that the server's
// response starts afresh.
void ForgetProxyAnswer(HTTPClientContext *ptClient) {
  ptClient->dwStatusIndex = HTTPCLIENT_STATUS_NONE;
  memset(ptClient->szHeaderBuffer, 0, sizeof(ptClient->szHeaderBuffer));
  ptClient->dwBuffered = 0;
  ptClient->dwParsePos = 0;
  memset(ptClient->szRequest, 0, sizeof(ptClient->szRequest));
  ptClient->dwRequestSent = 0;
}

// Reads the proxy's answer to the CONNECT into the header buffer, one
// bounded wait at a time, and judges it once its header is whole: 2xx opens
// the tunnel; 407 asks for credentials (the proxy's Digest challenge is
// kept); anything else ends the exchange with its status.  Each line goes
// to the caller's response header text, as a proxy's 407 does in clear.
uint32_t ReadConnectAnswer(HTTPClientContext *ptClient) {
  uint32_t dwReceived = 0;
  uint32_t r = HTTPClient_RecvOnce(ptClient, ptClient->szHeaderBuffer + ptClient->dwBuffered,
                                   HTTPCLIENT_TEXT_MAX - ptClient->dwBuffered, &dwReceived, 1);
  // A proxy that closes before its header is whole (or whose header does
  // not fit) fails as a server does in clear.
  if (r == HTTPCLIENT_I_PEER_CLOSED) return HTTPCLIENT_E_STATE_ARGS;
  if (r != HTTPCLIENT_OK) return r;
  ptClient->dwBuffered += dwReceived;
  char *pBuf = ptClient->szHeaderBuffer;
  pBuf[ptClient->dwBuffered] = '\0';
  // The header's end; a NUL byte in it ends the text here, and the header
  // then never ends (until the buffer is full).
  const char *pEnd = strstr(pBuf, "\r\n\r\n");
  if (pEnd == nullptr) return HTTPCLIENT_I_NOT_READY;
  const uint32_t dwHeader = static_cast<uint32_t>(pEnd - pBuf) + 4;
  bool bFirst = true;
  for (const char *pLine = pBuf; pLine < pEnd + 2;) {
    const char *pCrLf = strstr(pLine, "\r\n");
    const uint32_t dwLength = static_cast<uint32_t>(pCrLf - pLine);
    HTTPClient_AppendResponseLine(ptClient, pLine, dwLength);
    static const char kDigest[] = "Proxy-Authenticate: Digest ";
    if (bFirst) {
      if (dwLength >= 12 && strncmp(pLine, "HTTP/", 5) == 0)
        HTTPClient_ParseStatusCode(ptClient, pLine + 9);
      bFirst = false;
    } else if (dwLength >= sizeof(kDigest) - 1 &&
               strncasecmp(pLine, kDigest, sizeof(kDigest) - 1) == 0) {
      HTTPClient_ParseDigestChallenge(ptClient, pLine + sizeof(kDigest) - 1, HTTPCLIENT_SIDE_PROXY);
      ptClient->tProxy.dwAuthScheme = HTTPCLIENT_AUTH_DIGEST;
    }
    pLine = pCrLf + 2;
  }
  const uint32_t dwIndex = ptClient->dwStatusIndex;
  if (dwIndex == HTTPCLIENT_STATUS_407) {
    if (ptClient->tProxy.dwAuthScheme != HTTPCLIENT_AUTH_DIGEST)
      ptClient->tProxy.dwAuthScheme = HTTPCLIENT_AUTH_BASIC;
    return HTTPCLIENT_E_HTTP_407;
  }
  if (dwIndex < HTTPCLIENT_STATUS_200 || dwIndex > HTTPCLIENT_STATUS_200 + 6) {
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_E_HTTP_STATUS + dwIndex;
  }
  // The server speaks only after the ClientHello: bytes behind the answer
  // are not the server's.
  if (ptClient->dwBuffered != dwHeader) {
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_E_TLS_HANDSHAKE;
  }
  ForgetProxyAnswer(ptClient);
  return HTTPCLIENT_OK;
}

uint32_t BeginSession(HTTPClientContext *ptClient) {
  void *pMemory = malloc(sizeof(TlsSession));
  if (pMemory == nullptr) {
    HTTPClient_CloseSocket(ptClient);
    return HTTPCLIENT_E_NO_MEMORY;
  }
  ptClient->ptTls = new (pMemory) TlsSession();
  char szHost[INET_ADDRSTRLEN > HTTPCLIENT_HOST_SIZE ? INET_ADDRSTRLEN : HTTPCLIENT_HOST_SIZE];
  ServerHost(ptClient, szHost, sizeof(szHost));
  const uint32_t r = ptClient->ptTls->Begin(ptClient->iSocket, szHost, ptClient->szTLSCAFile);
  if (r != HTTPCLIENT_OK) HTTPClient_CloseSocket(ptClient);
  return r;
}

// Handshake steps while the socket lets them go on, each wait bounded by
// the budget (and, inside an HTTPClient_Process call, by its slice).
uint32_t Handshake(HTTPClientContext *ptClient) {
  for (;;) {
    uint32_t r = HTTPClient_CheckTimeout(ptClient);
    if (r != HTTPCLIENT_OK) return r;
    const TlsStatus status = ptClient->ptTls->Handshake();
    if (status == TlsStatus::kDone) {
      ptClient->dwState = HTTPCLIENT_STATE_COMPOSE;
      return HTTPCLIENT_OK;
    }
    if (status != TlsStatus::kWantRead && status != TlsStatus::kWantWrite) {
      r = ptClient->ptTls->Error();
      HTTPClient_CloseSocket(ptClient);
      return r;
    }
    int ready = 0;
    r = namreg::HTTPClient_WaitWithinBudget(ptClient, status == TlsStatus::kWantWrite, &ready);
    if (r != HTTPCLIENT_OK) return r;
    if (ready == 0) return HTTPCLIENT_I_NOT_READY;
    // A step whose slice is spent ends here even while the peer keeps up.
    if (namreg::HTTPClient_InStep(ptClient) && namreg::HTTPClient_StepWaitMs(ptClient, 1) == 0)
      return HTTPCLIENT_I_NOT_READY;
  }
}

}  // namespace

namespace namreg {

uint32_t HTTPClient_TlsRefusal(const HTTPClientContext *ptClient, bool bTunnel) {
  if (ptClient->dwTLSEnable == 0) return HTTPCLIENT_OK;
  if (ptClient->dwTLSRefusal != HTTPCLIENT_OK) return ptClient->dwTLSRefusal;
  return bTunnel ? HTTPCLIENT_E_TLS_TUNNEL : HTTPCLIENT_OK;
}

uint32_t HTTPClient_TlsConnectStep(HTTPClientContext *ptClient) {
  for (;;) {
    uint32_t r = HTTPCLIENT_OK;
    switch (ptClient->dwTlsStep) {
      case HTTPCLIENT_TLS_STEP_CONNECT:
        r = ComposeConnect(ptClient);
        if (r != HTTPCLIENT_OK) {
          HTTPClient_CloseSocket(ptClient);
          return r;
        }
        ptClient->dwRequestSent = 0;
        ptClient->dwTlsStep = HTTPCLIENT_TLS_STEP_SEND;
        break;
      case HTTPCLIENT_TLS_STEP_SEND: {
        const uint32_t dwLength = static_cast<uint32_t>(strlen(ptClient->szRequest));
        uint32_t dwSent = 0;
        r = HTTPClient_SendOnce(ptClient, ptClient->szRequest + ptClient->dwRequestSent,
                                dwLength - ptClient->dwRequestSent, &dwSent);
        ptClient->dwRequestSent += dwSent;
        if (r != HTTPCLIENT_OK) return r;
        if (ptClient->dwRequestSent < dwLength) return HTTPCLIENT_I_NOT_READY;
        memset(ptClient->szHeaderBuffer, 0, sizeof(ptClient->szHeaderBuffer));
        ptClient->dwBuffered = 0;
        ptClient->dwStatusIndex = HTTPCLIENT_STATUS_NONE;
        ptClient->dwTlsStep = HTTPCLIENT_TLS_STEP_ANSWER;
        break;
      }
      case HTTPCLIENT_TLS_STEP_ANSWER:
        r = ReadConnectAnswer(ptClient);
        if (r != HTTPCLIENT_OK) return r;
        ptClient->dwTlsStep = HTTPCLIENT_TLS_STEP_BEGIN;
        break;
      case HTTPCLIENT_TLS_STEP_BEGIN:
        r = BeginSession(ptClient);
        if (r != HTTPCLIENT_OK) return r;
        ptClient->dwTlsStep = HTTPCLIENT_TLS_STEP_HANDSHAKE;
        break;
      case HTTPCLIENT_TLS_STEP_HANDSHAKE:
        return Handshake(ptClient);
      default:
        return HTTPCLIENT_E_STATE_ARGS;
    }
  }
}

}  // namespace namreg
