// SPDX-License-Identifier: MIT
// Response parsing: header lines, status, the end of the header and
// chunked bodies.  Works in the client's 1281-byte header receive buffer.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "httpclient_internal.h"

namespace {

// Offset of the first "\r\n" in [from, end) of the buffer, or -1.
int32_t FindCrLf(const char *pBuf, uint32_t dwFrom, uint32_t dwEnd) {
  while (dwFrom + 1 < dwEnd) {
    const char *pCr = static_cast<const char *>(memchr(pBuf + dwFrom, '\r', dwEnd - 1 - dwFrom));
    if (pCr == nullptr) return -1;
    if (pCr[1] == '\n') return static_cast<int32_t>(pCr - pBuf);
    dwFrom = static_cast<uint32_t>(pCr - pBuf) + 1;
  }
  return -1;
}

// Case-blind prefix test; *pdwPrefixLength receives the prefix length.
template <size_t N>
bool HasPrefix(const char *szLine, uint32_t dwLength, const char (&szPrefix)[N],
               uint32_t *pdwPrefixLength) {
  const uint32_t n = static_cast<uint32_t>(N - 1);
  if (dwLength < n || strncasecmp(szLine, szPrefix, n) != 0) return false;
  *pdwPrefixLength = n;
  return true;
}

// The value after a prefix as a terminated text of at most dwMax characters.
void TakeValue(const char *pValue, uint32_t dwLength, uint32_t dwMax, char *szOut) {
  uint32_t n = dwLength < dwMax ? dwLength : dwMax;
  memcpy(szOut, pValue, n);
  szOut[n] = '\0';
}

int32_t DecimalValue(const char *pValue, uint32_t dwLength) {
  char szNumber[16];
  TakeValue(pValue, dwLength, 15, szNumber);
  long long value = strtoll(szNumber, nullptr, 10);
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int32_t>(value);
}

// Drops the first dwCount buffered bytes and keeps the buffer terminated.
void DropFront(HTTPClientContext *ptClient, uint32_t dwCount) {
  if (dwCount > ptClient->dwBuffered) dwCount = ptClient->dwBuffered;
  memmove(ptClient->szHeaderBuffer, ptClient->szHeaderBuffer + dwCount,
          ptClient->dwBuffered - dwCount);
  ptClient->dwBuffered -= dwCount;
  ptClient->szHeaderBuffer[ptClient->dwBuffered] = '\0';
}

uint32_t AudioMode(const char *pValue, uint32_t dwLength) {
  uint32_t n = 0;
  if (HasPrefix(pValue, dwLength, "None", &n)) return 1;
  if (HasPrefix(pValue, dwLength, "Full Duplex", &n)) return 2;
  if (HasPrefix(pValue, dwLength, "Half Duplex", &n)) return 3;
  if (HasPrefix(pValue, dwLength, "Talk Only", &n)) return 4;
  if (HasPrefix(pValue, dwLength, "Listen Only", &n)) return 5;
  return 0;
}

}  // namespace

namespace namreg {

void HTTPClient_AppendResponseLine(HTTPClientContext *ptClient, const char *szLine,
                                   uint32_t dwLength) {
  // Whole lines only: a line that does not fit in what is left of the
  // caller's text is left out, so every kept line ends in "\r\n".
  char *szText = ptClient->pResponseHeader;
  if (szText == nullptr) return;
  // The text is a C string: a line holding a NUL byte is kept up to it.
  const char *pNul = static_cast<const char *>(memchr(szLine, '\0', dwLength));
  if (pNul != nullptr) dwLength = static_cast<uint32_t>(pNul - szLine);
  uint32_t used = ptClient->dwResponseHeaderUsed;
  if (used > HTTPCLIENT_TEXT_MAX || szText[used] != '\0')
    used = static_cast<uint32_t>(strnlen(szText, HTTPCLIENT_TEXT_MAX));
  if (used + dwLength + 2 > HTTPCLIENT_TEXT_MAX) return;
  memcpy(szText + used, szLine, dwLength);
  memcpy(szText + used + dwLength, "\r\n", 2);
  szText[used + dwLength + 2] = '\0';
  ptClient->dwResponseHeaderUsed = used + dwLength + 2;
}

uint32_t HTTPClient_StatusIndex(int32_t iCode) {
  if (iCode == 100 || iCode == 101) return static_cast<uint32_t>(iCode - 100 + 1);
  if (iCode >= 200 && iCode <= 206) return static_cast<uint32_t>(iCode - 200 + 3);
  if (iCode >= 300 && iCode <= 306) return static_cast<uint32_t>(iCode - 300 + 10);
  if (iCode == 307) return 16;
  if (iCode >= 400 && iCode <= 417) return static_cast<uint32_t>(iCode - 400 + 17);
  if (iCode >= 500 && iCode <= 506) return static_cast<uint32_t>(iCode - 500 + 35);
  if (iCode == 510) return 41;
  return 0;
}

void HTTPClient_ParseStatusCode(HTTPClientContext *ptClient, const char *szCode) {
  if (szCode[0] < '0' || szCode[0] > '9') return;
  int32_t iCode = atoi(szCode);
  if (iCode < 1 || iCode / 100 < 1 || iCode / 100 > 5) return;
  ptClient->dwStatusIndex = HTTPClient_StatusIndex(iCode);
}

void HTTPClient_ParseHeaderLine(HTTPClientContext *ptClient, const char *szLine,
                                uint32_t dwLength) {
  HTTPClient_AppendResponseLine(ptClient, szLine, dwLength);
  // The recognised prefixes, in this order; the first letter picks the few
  // that can match.
  uint32_t n = 0;
  const char c = dwLength > 0 ? static_cast<char>(szLine[0] | 0x20) : '\0';
  if (c == 'c' && HasPrefix(szLine, dwLength, "Content-Length: ", &n)) {
    ptClient->dwContentLengthKnown = 1;
    ptClient->iContentRemaining = DecimalValue(szLine + n, dwLength - n);
  } else if (c == 't' && HasPrefix(szLine, dwLength, "Transfer-Encoding: chunked", &n)) {
    ptClient->dwChunked = 1;
  } else if (c == 'w' && HasPrefix(szLine, dwLength, "WWW-Authenticate: Digest ", &n)) {
    // The challenge ends with the line ("\r\n" follows it in the buffer).
    HTTPClient_ParseDigestChallenge(ptClient, szLine + n, HTTPCLIENT_SIDE_SERVER);
    ptClient->tServer.dwAuthScheme = HTTPCLIENT_AUTH_DIGEST;
  } else if (c == 'p' && HasPrefix(szLine, dwLength, "Proxy-Authenticate: Digest ", &n)) {
    HTTPClient_ParseDigestChallenge(ptClient, szLine + n, HTTPCLIENT_SIDE_PROXY);
    ptClient->tProxy.dwAuthScheme = HTTPCLIENT_AUTH_DIGEST;
  } else if (c == 's' && HasPrefix(szLine, dwLength, "SID : ", &n)) {
    ptClient->iSID = DecimalValue(szLine + n, dwLength - n);
  } else if (c == 'a' && HasPrefix(szLine, dwLength, "Audio Mode : ", &n)) {
    uint32_t dwMode = AudioMode(szLine + n, dwLength - n);
    if (dwMode != 0) ptClient->dwAudioMode = dwMode;
  } else if (c == 'p' && HasPrefix(szLine, dwLength, "Privilege : ", &n)) {
    ptClient->iPrivilege = DecimalValue(szLine + n, dwLength - n);
  } else if (c == 's' && HasPrefix(szLine, dwLength, "Server: ", &n)) {
    TakeValue(szLine + n, dwLength - n, HTTPCLIENT_SERVER_NAME_SIZE - 1, ptClient->szServerName);
  } else if (c == 'c' && HasPrefix(szLine, dwLength, "Connection: ", &n)) {
    uint32_t m = 0;
    if (HasPrefix(szLine + n, dwLength - n, "Keep-Alive", &m))
      ptClient->dwResponseKeepAlive = 1;
    else if (HasPrefix(szLine + n, dwLength - n, "close", &m))
      ptClient->dwResponseKeepAlive = 0;
  } else if (ptClient->dwStatusIndex <= HTTPCLIENT_STATUS_100) {
    // "HTTP/1.1 200 OK": the code starts at the tenth character.
    char szCode[5] = {0, 0, 0, 0, 0};
    if (dwLength > 9) TakeValue(szLine + 9, dwLength - 9, 4, szCode);
    HTTPClient_ParseStatusCode(ptClient, szCode);
  }
}

int32_t HTTPClient_ParseChunkSize(const char *szText, uint32_t dwLength) {
  // strtol(text, 16) of a 32-bit long, over the first dwLength bytes.
  uint32_t i = 0;
  while (i < dwLength && (szText[i] == ' ' || (szText[i] >= '\t' && szText[i] <= '\r'))) ++i;
  bool bNegative = false;
  if (i < dwLength && (szText[i] == '+' || szText[i] == '-')) bNegative = szText[i++] == '-';
  if (i + 2 < dwLength && szText[i] == '0' && (szText[i + 1] == 'x' || szText[i + 1] == 'X') &&
      isxdigit(static_cast<unsigned char>(szText[i + 2])))
    i += 2;
  uint64_t magnitude = 0;
  bool bOverflow = false;
  for (; i < dwLength && isxdigit(static_cast<unsigned char>(szText[i])); ++i) {
    char c = szText[i];
    uint32_t digit = static_cast<uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    magnitude = magnitude * 16 + digit;
    if (magnitude > 0x80000000ull) bOverflow = true;
    if (bOverflow) magnitude = 0x80000000ull;
  }
  int64_t converted;
  if (bNegative)
    converted = bOverflow ? INT32_MIN : -static_cast<int64_t>(magnitude);
  else
    converted =
        (bOverflow || magnitude > 0x7FFFFFFFull) ? INT32_MAX : static_cast<int64_t>(magnitude);
  if (converted >= 1 && converted <= 0x7FFFFFFE) return static_cast<int32_t>(converted);
  // Otherwise add the hexadecimal digits read from the right, every other
  // character skipped, each weighted by its rank among them.
  uint32_t sum = static_cast<uint32_t>(converted);
  uint32_t weight = 1;
  for (int64_t k = static_cast<int64_t>(dwLength) - 1; k >= 0; k -= 2) {
    char c = szText[k];
    if (!isxdigit(static_cast<unsigned char>(c))) continue;
    uint32_t digit = static_cast<uint32_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    sum += digit * weight;
    weight *= 16;
  }
  return static_cast<int32_t>(sum);
}

uint32_t HTTPClient_ReadChunkHeader(HTTPClientContext *ptClient) {
  // The next size line is read only once the current chunk is used up.
  // Its start may still be on the way; receive until it is whole.  Inside
  // an HTTPClient_Process call a receive that finds nothing ends the step:
  // the line is marked pending and the next step reads on from there.
  char *pBuf = ptClient->szHeaderBuffer;
  const bool bStepped = HTTPClient_InStep(ptClient);
  bool bQuiet = false;
  auto receiveMore = [ptClient, pBuf, bStepped, &bQuiet](uint32_t dwWanted) -> uint32_t {
    if (ptClient->iSocket < 0) return HTTPCLIENT_I_PEER_CLOSED;
    uint32_t n = 0;
    uint32_t r = HTTPClient_RecvOnce(ptClient, pBuf + ptClient->dwBuffered, dwWanted, &n, 1);
    ptClient->dwBuffered += n;
    pBuf[ptClient->dwBuffered] = '\0';
    if (r == HTTPCLIENT_I_NOT_READY || r == HTTPCLIENT_I_WOULD_BLOCK) {
      bQuiet = bStepped;
      return HTTPCLIENT_OK;
    }
    return r;
  };
  if (ptClient->dwChunkLinePending != 2) {
    // The CR LF that ends the previous chunk's data, if it leads.
    while (ptClient->dwBuffered < 2 && !(ptClient->dwBuffered == 1 && pBuf[0] != '\r')) {
      uint32_t r = receiveMore(2 - ptClient->dwBuffered);
      if (r == HTTPCLIENT_I_PEER_CLOSED) break;
      if (r != HTTPCLIENT_OK) return r;
      if (bQuiet) {
        ptClient->dwChunkLinePending = 1;
        return HTTPCLIENT_OK;
      }
    }
    if (ptClient->dwBuffered >= 2 && pBuf[0] == '\r' && pBuf[1] == '\n') DropFront(ptClient, 2);
  }
  // The size line, completed while the buffer has room and the peer sends.
  int32_t iCrLf = FindCrLf(pBuf, 0, ptClient->dwBuffered);
  while (iCrLf < 0 && ptClient->dwBuffered < HTTPCLIENT_TEXT_MAX) {
    uint32_t from = ptClient->dwBuffered > 0 ? ptClient->dwBuffered - 1 : 0;
    uint32_t r = receiveMore(HTTPCLIENT_TEXT_MAX - ptClient->dwBuffered);
    if (r == HTTPCLIENT_I_PEER_CLOSED) break;
    if (r != HTTPCLIENT_OK) return r;
    if (bQuiet) {
      ptClient->dwChunkLinePending = 2;
      return HTTPCLIENT_OK;
    }
    iCrLf = FindCrLf(pBuf, from, ptClient->dwBuffered);
  }
  ptClient->dwChunkLinePending = 0;
  if (iCrLf < 0) return HTTPCLIENT_E_CHUNK_LINE;
  // A size of 0 is the last chunk ("\r\n0\r\n\r\n" ends the body).
  int32_t iSize = HTTPClient_ParseChunkSize(pBuf, static_cast<uint32_t>(iCrLf));
  DropFront(ptClient, static_cast<uint32_t>(iCrLf) + 2);
  if (iSize < 0) return HTTPCLIENT_E_CHUNK_LINE;
  if (iSize == 0) return HTTPCLIENT_I_LAST_CHUNK;
  ptClient->iChunkRemaining = iSize;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_HeaderComplete(HTTPClientContext *ptClient) {
  // What follows the blank line already belongs to the body.
  uint32_t dwBodyStart = ptClient->dwParsePos + 2;
  ptClient->dwParsePos = 0;
  DropFront(ptClient, dwBodyStart);

  uint32_t dwIndex = ptClient->dwStatusIndex;
  if (dwIndex == HTTPCLIENT_STATUS_401) {
    if (ptClient->tServer.dwAuthScheme != HTTPCLIENT_AUTH_DIGEST)
      ptClient->tServer.dwAuthScheme = HTTPCLIENT_AUTH_BASIC;
    return HTTPCLIENT_E_HTTP_401;
  }
  if (dwIndex == HTTPCLIENT_STATUS_407) {
    if (ptClient->tProxy.dwAuthScheme != HTTPCLIENT_AUTH_DIGEST)
      ptClient->tProxy.dwAuthScheme = HTTPCLIENT_AUTH_BASIC;
    return HTTPCLIENT_E_HTTP_407;
  }
  if (dwIndex == HTTPCLIENT_STATUS_100) return HTTPCLIENT_OK;  // the next header follows
  if (dwIndex == HTTPCLIENT_STATUS_NONE || dwIndex > HTTPCLIENT_STATUS_MAX)
    return HTTPCLIENT_E_HTTP_STATUS;
  if (ptClient->dwRtspTunnel != 0) {
    if (ptClient->dwMethod == HTTPCLIENT_METHOD_GET) {
      ptClient->dwState = HTTPCLIENT_STATE_FINISH;
      return HTTPCLIENT_I_TUNNEL_GET_UP;
    }
    return HTTPCLIENT_E_TUNNEL_POST_STATUS;
  }
  if (ptClient->dwHldmTunnel != 0 && ptClient->dwMethod == HTTPCLIENT_METHOD_GET &&
      dwIndex == HTTPCLIENT_STATUS_200) {
    // What follows the header on a tunnel's GET channel is the tunnel's own
    // stream, not an HTTP body.
    ptClient->dwState = HTTPCLIENT_STATE_FINISH;
    return HTTPCLIENT_I_TUNNEL_GET_UP;
  }
  ptClient->dwState = HTTPCLIENT_STATE_RECV_BODY;
  ptClient->dwPhase = HTTPCLIENT_PHASE_RECV_BODY;
  if (ptClient->dwChunked == 1) return HTTPClient_ReadChunkHeader(ptClient);
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_ParseResponseHeader(HTTPClientContext *ptClient, uint32_t dwReceived) {
  char *pBuf = ptClient->szHeaderBuffer;
  ptClient->dwBuffered += dwReceived;
  if (ptClient->dwBuffered > HTTPCLIENT_TEXT_MAX) ptClient->dwBuffered = HTTPCLIENT_TEXT_MAX;
  pBuf[ptClient->dwBuffered] = '\0';
  for (;;) {
    // The blank line ends the header (leading blank lines before any
    // status are skipped as empty lines).
    uint32_t pos = ptClient->dwParsePos;
    if (pos + 1 < ptClient->dwBuffered && pBuf[pos] == '\r' && pBuf[pos + 1] == '\n' &&
        (pos > 0 || ptClient->dwStatusIndex != HTTPCLIENT_STATUS_NONE)) {
      uint32_t r = HTTPClient_HeaderComplete(ptClient);
      if (r != HTTPCLIENT_OK) return r;
      // After a 100 the final header may already be buffered.
      if (ptClient->dwState == HTTPCLIENT_STATE_RECV_HEADER) continue;
      break;
    }
    int32_t iCrLf = FindCrLf(pBuf, pos, ptClient->dwBuffered);
    if (iCrLf < 0) break;
    HTTPClient_ParseHeaderLine(ptClient, pBuf + pos, static_cast<uint32_t>(iCrLf) - pos);
    ptClient->dwParsePos = static_cast<uint32_t>(iCrLf) + 2;
    if (ptClient->dwServerFilterRequested == 1 && ptClient->dwServerFilter == 1 &&
        strncasecmp(ptClient->szServerName, "Haldrim Video Server", 20) == 0)
      ptClient->szServerName[0] = '\0';
  }
  if (ptClient->dwState == HTTPCLIENT_STATE_RECV_HEADER && ptClient->dwChunked == 1 &&
      ptClient->iChunkRemaining == 0 && ptClient->dwParsePos > 0) {
    DropFront(ptClient, ptClient->dwParsePos);
    ptClient->dwParsePos = 0;
  }
  return HTTPCLIENT_OK;
}

}  // namespace namreg
