// SPDX-License-Identifier: MIT
// The request text: request line and standard headers (state 2).  The
// credentials and the closing blank line are added by HTTPClient_Authorize.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "httpclient_internal.h"

namespace {

const char kExpires[] = "Expires: Sun, 9 Jan 1972 00:00:00 GMT\r\n";
const char kAcceptRtsp[] = "Accept: application/x-rtsp-tunnelled\r\n";
const char kAcceptHldm[] = "Accept: application/x-hldm-tunnelled\r\n";
const char kTypeRtsp[] = "Content-Type: application/x-rtsp-tunnelled\r\n";
const char kTypeHldm[] = "Content-Type: application/x-hldm-tunnelled\r\n";

// Dotted-quad text of an address in network order.
void DottedQuad(uint32_t dwAddress, char szOut[16]) {
  const unsigned char *pByte = reinterpret_cast<const unsigned char *>(&dwAddress);
  char *p = szOut;
  for (int i = 0; i < 4; ++i) {
    unsigned v = pByte[i];
    if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
    if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
    *p++ = static_cast<char>('0' + v % 10);
    *p++ = i < 3 ? '.' : '\0';
  }
}

}  // namespace

namespace namreg {

void HTTPClientText::Add(const char *szPiece, uint32_t dwCount) {
  if (dwLength + 1 >= dwSize) return;
  uint32_t dwRoom = dwSize - 1 - dwLength;
  if (dwCount > dwRoom) dwCount = dwRoom;
  memcpy(szText + dwLength, szPiece, dwCount);
  dwLength += dwCount;
  szText[dwLength] = '\0';
}

void HTTPClientText::Add(const char *szPiece) {
  Add(szPiece, static_cast<uint32_t>(strlen(szPiece)));
}

void HTTPClientText::AddUInt(uint32_t dwValue) {
  char szDigits[11];
  uint32_t n = sizeof(szDigits);
  do {
    szDigits[--n] = static_cast<char>('0' + dwValue % 10);
    dwValue /= 10;
  } while (dwValue != 0);
  Add(szDigits + n, sizeof(szDigits) - n);
}

void HTTPClient_AppendF(char *szText, uint32_t dwSize, const char *szFormat, ...) {
  size_t used = strnlen(szText, dwSize);
  if (used + 1 >= dwSize) return;
  va_list args;
  va_start(args, szFormat);
  vsnprintf(szText + used, dwSize - used, szFormat, args);
  va_end(args);
}

uint32_t HTTPClient_ComposeRequest(HTTPClientContext *ptClient) {
  // The text stays within 1279 characters (bound 1280, terminator included).
  HTTPClientText t = {ptClient->szRequest, HTTPCLIENT_TEXT_MAX, 0};
  ptClient->szRequest[0] = '\0';

  const bool bTunnel = ptClient->dwRtspTunnel == 1 || ptClient->dwHldmTunnel == 1;
  const char *szVersion = bTunnel ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n";
  const bool bGet = ptClient->dwMethod == HTTPCLIENT_METHOD_GET;
  if (ptClient->dwMethod != HTTPCLIENT_METHOD_GET && ptClient->dwMethod != HTTPCLIENT_METHOD_POST)
    return 0xFFFFFFFFu;

  char szServerDotted[16];
  DottedQuad(ptClient->tServer.dwAddress, szServerDotted);

  // Over TLS the request goes inside the tunnel the proxy opened (or
  // straight to the server): origin form, and nothing for the proxy.
  const bool bTls = ptClient->dwTLSEnable != 0;
  const bool bThroughProxy = ptClient->dwUseProxy == 1 && !bTls;

  // Request line: "GET http://%s:%d%s %s\r\n" through a proxy (the
  //    server's address, never its name), "GET %s %s\r\n" direct.
  t.Add(bGet ? "GET " : "POST ");
  if (bThroughProxy) {
    t.Add("http://");
    t.Add(szServerDotted);
    t.Add(":");
    t.AddUInt(ptClient->tServer.dwPort);
  }
  t.Add(ptClient->szURI);
  t.Add(szVersion);

  if (ptClient->szExtraHeader[0] != '\0') {
    // The caller's header block replaces every standard header.
    size_t extraLength = strlen(ptClient->szExtraHeader);
    if (t.dwLength + extraLength >= HTTPCLIENT_TEXT_MAX) return HTTPCLIENT_E_REQUEST_TOO_LONG;
    t.Add(ptClient->szExtraHeader, static_cast<uint32_t>(extraLength));
    bool bEndsInCrLf = extraLength >= 2 && ptClient->szExtraHeader[extraLength - 2] == '\r' &&
                       ptClient->szExtraHeader[extraLength - 1] == '\n';
    if (!bEndsInCrLf) t.Add("\r\n");
  } else {
    // Accept and tunnel headers.
    if (ptClient->dwRtspTunnel != 0) {
      if (bGet) {
        if (ptClient->dwRtspTunnel == 1)
          t.Add(kAcceptRtsp);
        else if (ptClient->dwHldmTunnel == 1)
          t.Add(kAcceptHldm);
      } else {
        if (ptClient->dwRtspTunnel == 1) {
          t.Add(kTypeRtsp);
        } else if (ptClient->dwHldmTunnel == 1) {
          t.Add(kTypeHldm);
        }
        t.Add(kExpires);
      }
      t.Add("x-sessioncookie: ");
      t.Add(ptClient->szSessionCookie);
      t.Add("\r\n");
    } else if (ptClient->dwHldmTunnel == 0) {
      t.Add("Accept: */*\r\n");
    } else {
      if (bGet) {
        if (ptClient->dwHldmTunnel == 1) t.Add(kAcceptHldm);
      } else {
        if (ptClient->dwHldmTunnel == 1) t.Add(kTypeHldm);
        t.Add(kExpires);
      }
      t.Add("x-sessioncookie: ");
      t.Add(ptClient->szSessionCookie);
      t.Add("\r\n");
    }
    // Content-Type.
    if (ptClient->dwRtspTunnel == 0 && ptClient->dwHldmTunnel == 0 &&
        ptClient->szContentType[0] != '\0') {
      t.Add("Content-Type: ");
      t.Add(ptClient->szContentType);
      t.Add("\r\n");
    }
    // Host: "Host: %s\r\n" on the scheme's own port (80, or 443 over
    // TLS), else "Host: %s:%d\r\n".
    t.Add("Host: ");
    t.Add(ptClient->tServer.szHost[0] != '\0' ? ptClient->tServer.szHost : szServerDotted);
    if (ptClient->tServer.dwPort != (bTls ? 443u : 80u)) {
      t.Add(":");
      t.AddUInt(ptClient->tServer.dwPort);
    }
    t.Add("\r\n");
    // User-Agent, else the library's own "HLDM (ver=1.7.0.0)".
    t.Add("User-Agent: ");
    t.Add(ptClient->szUserAgent[0] != '\0' ? ptClient->szUserAgent : "HLDM (ver=1.7.0.0)");
    t.Add("\r\n");
    // Caching and Referer.
    t.Add("Pragma: no-cache\r\nCache-Control: no-cache\r\n");
    if (ptClient->szReferer[0] != '\0') {
      t.Add("Referer: ");
      t.Add(ptClient->szReferer);
      t.Add("\r\n");
    }
    // Connection.
    if (ptClient->dwKeepAlive == 1) {
      t.Add("Connection: Keep-Alive\r\n");
      if (bThroughProxy) t.Add("Proxy-Connection: Keep-Alive\r\n");
    } else {
      t.Add("Connection: close\r\n");
    }
    // Content length of a POST; a tunnel POST announces a long stream.
    if (!bGet) {
      t.Add("Content-Length: ");
      // A streamed upload announces its whole body, not one piece.
      t.AddUInt(bTunnel                       ? 32767u
                : ptClient->dwUploadMode == 1 ? ptClient->dwUploadTotal
                                              : ptClient->dwBodyLength);
      t.Add("\r\n");
    }
  }

  // Ready for the credentials.
  ptClient->dwRequestSent = 0;
  ptClient->dwBuffered = 0;
  ptClient->dwParsePos = 0;
  ptClient->szHeaderBuffer[0] = '\0';
  ptClient->dwState = HTTPCLIENT_STATE_AUTHORIZE;
  return HTTPCLIENT_OK;
}

}  // namespace namreg
