// SPDX-License-Identifier: MIT
// Credentials: Basic and Digest (MD5) lines for the server and the proxy,
// and the parsing of Digest challenges.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "httpclient_internal.h"
#include "namreg/text_safety.h"
#include "namreg/common.h"
#include "namreg/osal.h"

namespace {

// "user:password" of the longest credentials the record can hold.
constexpr int kJoinedSize = (HTTPCLIENT_USER_SIZE - 1) + 1 + (HTTPCLIENT_PASSWORD_SIZE - 1) + 1;
constexpr int kJoinedMax = kJoinedSize - 1;
// Base64_EncodeString wants a capacity above 4 * (n / 3 + n % 3); the
// largest such bound over every n up to kJoinedMax, plus one.
constexpr int EncodeCapacity() {
  int best = 0;
  for (int n = 0; n <= kJoinedMax; ++n) {
    int need = 4 * (n / 3 + n % 3) + 1;
    if (need > best) best = need;
  }
  return best;
}
constexpr int kEncodedCapacity = EncodeCapacity();
static_assert(kEncodedCapacity >= 4 * ((kJoinedMax + 2) / 3) + 1, "room for the whole encoding");

void AppendBasic(HTTPClientContext *ptClient, const HTTPClientEndpoint &tSide,
                 const char *szHeader) {
  char szJoined[kJoinedSize];
  snprintf(szJoined, sizeof(szJoined), "%s:%s", tSide.szUser, tSide.szPassword);
  char szEncoded[kEncodedCapacity + 1];
  memset(szEncoded, 0, sizeof(szEncoded));
  int length = Base64_EncodeString(szJoined, szEncoded, kEncodedCapacity);
  szEncoded[length > 0 ? length : 0] = '\0';
  HTTPClient_AppendF(ptClient->szRequest, HTTPCLIENT_TEXT_MAX, "%s: Basic %s\r\n", szHeader,
                     szEncoded);
}

// szMethod and szUri: what the digest covers (the request's, or CONNECT and
// the authority for a tunnel through the proxy).
uint32_t AppendDigest(HTTPClientContext *ptClient, const HTTPClientEndpoint &tSide,
                      const HTTPClientDigest &tDigest, uint32_t dwNonceCount, bool bProxy,
                      const char *szMethod, const char *szUri) {
  if (tDigest.szRealm[0] == '\0' || tDigest.szNonce[0] == '\0') {
    // The server's texts, with their control bytes shown.
    char szRealm[namreg::EscapedSize(sizeof tDigest.szRealm)];
    char szNonce[namreg::EscapedSize(sizeof tDigest.szNonce)];
    namreg::EscapeControls(tDigest.szRealm, szRealm, sizeof szRealm);
    namreg::EscapeControls(tDigest.szNonce, szNonce, sizeof szNonce);
    if (bProxy)
      printf(
          "%s-%d: ProxyDigest missing some param, return HTTPCLIENT_E_DIGEST_PARAM (realm=[%s] "
          "nonce=[%s]) \n",
          "HTTPClient_Authorize", 835, szRealm, szNonce);
    else
      printf(
          "%s-%d: ServerDigest missing some param, return HTTPCLIENT_E_DIGEST_PARAM (realm=[%s] "
          "nonce=[%s]) \n",
          "HTTPClient_Authorize", 735, szRealm, szNonce);
    return HTTPCLIENT_E_DIGEST_PARAM;
  }
  char szHA1[33], szHA2[33], szResponse[33], szCnonce[33];
  MD5_ListHex(szHA1, tSide.szUser, ":", tDigest.szRealm, ":", tSide.szPassword,
              static_cast<const char *>(nullptr));

  uint32_t dwTimer[2] = {0, 0};
  OSTime_GetTimer(&dwTimer[0], &dwTimer[1]);
  char szTimer[17];
  snprintf(szTimer, sizeof(szTimer), "%08x%08x", dwTimer[0], dwTimer[1]);
  MD5_StringHex(szCnonce, szTimer);

  char szNc[9];
  snprintf(szNc, sizeof(szNc), "%08x", dwNonceCount);
  MD5_ListHex(szHA2, szMethod, ":", szUri, static_cast<const char *>(nullptr));

  const char *szHeader = bProxy ? "Proxy-Authorization" : "Authorization";
  const char *szAlgoSep = bProxy ? ", " : ",";
  if (tDigest.szQop[0] != '\0') {
    MD5_ListHex(szResponse, szHA1, ":", tDigest.szNonce, ":", szNc, ":", szCnonce, ":",
                tDigest.szQop, ":", szHA2, static_cast<const char *>(nullptr));
    HTTPClient_AppendF(
        ptClient->szRequest, HTTPCLIENT_TEXT_MAX,
        "%s: Digest username=\"%s\",realm=\"%s\",nonce=\"%s\",uri=\"%s\",qop=\"%s\",nc=%s,"
        "cnonce=\"%s\",response=\"%s\"%salgorithm=MD5\r\n",
        szHeader, tSide.szUser, tDigest.szRealm, tDigest.szNonce, szUri, tDigest.szQop, szNc,
        szCnonce, szResponse, szAlgoSep);
  } else {
    MD5_ListHex(szResponse, szHA1, ":", tDigest.szNonce, ":", szHA2,
                static_cast<const char *>(nullptr));
    HTTPClient_AppendF(
        ptClient->szRequest, HTTPCLIENT_TEXT_MAX,
        "%s: Digest username=\"%s\",realm=\"%s\",nonce=\"%s\",uri=\"%s\",response=\"%s\"%s"
        "algorithm=MD5\r\n",
        szHeader, tSide.szUser, tDigest.szRealm, tDigest.szNonce, szUri, szResponse, szAlgoSep);
  }
  return HTTPCLIENT_OK;
}

uint32_t AuthorizeSide(HTTPClientContext *ptClient, bool bProxy, const char *szMethod,
                       const char *szUri) {
  const HTTPClientEndpoint &tSide = bProxy ? ptClient->tProxy : ptClient->tServer;
  if (tSide.szUser[0] == '\0' && tSide.szPassword[0] == '\0') return HTTPCLIENT_OK;
  if (tSide.dwAuthScheme != HTTPCLIENT_AUTH_BASIC && tSide.dwAuthScheme != HTTPCLIENT_AUTH_DIGEST)
    return HTTPCLIENT_OK;
  // Checked here as well as at the start: an asynchronous host may set the
  // credentials in its callback of a 401 or 407.  A Basic user name with a
  // colon cannot be told from the password that follows it.
  if (!namreg::HTTPClient_TextIsSafe(tSide.szUser, sizeof(tSide.szUser)) ||
      !namreg::HTTPClient_TextIsSafe(tSide.szPassword, sizeof(tSide.szPassword)) ||
      (tSide.dwAuthScheme == HTTPCLIENT_AUTH_BASIC &&
       memchr(tSide.szUser, ':', strnlen(tSide.szUser, sizeof(tSide.szUser))) != nullptr))
    return HTTPCLIENT_E_UNSAFE_TEXT;
  if (tSide.dwAuthScheme == HTTPCLIENT_AUTH_BASIC) {
    AppendBasic(ptClient, tSide, bProxy ? "Proxy-Authorization" : "Authorization");
  } else if (tSide.dwAuthScheme == HTTPCLIENT_AUTH_DIGEST) {
    return AppendDigest(ptClient, tSide, bProxy ? ptClient->tProxyDigest : ptClient->tServerDigest,
                        bProxy ? ptClient->dwProxyNonceCount : ptClient->dwServerNonceCount, bProxy,
                        szMethod, szUri);
  }
  return HTTPCLIENT_OK;
}

}  // namespace

uint32_t namreg::HTTPClient_AuthorizeConnect(HTTPClientContext *ptClient, const char *szAuthority) {
  uint32_t r = AuthorizeSide(ptClient, true, "CONNECT", szAuthority);
  if (r != HTTPCLIENT_OK) return r;
  HTTPClient_AppendF(ptClient->szRequest, HTTPCLIENT_TEXT_MAX, "\r\n");
  return HTTPCLIENT_OK;
}

extern "C" {

uint32_t HTTPClient_Authorize(HTTPClientHandle ptClient) {
  if (ptClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  const char *szMethod = ptClient->dwMethod == HTTPCLIENT_METHOD_POST ? "POST" : "GET";
  uint32_t r = AuthorizeSide(ptClient, false, szMethod, ptClient->szURI);
  if (r != HTTPCLIENT_OK) return r;
  // Over TLS the proxy got its credentials with the CONNECT; the request
  // inside the tunnel is the server's alone.
  if (ptClient->dwTLSEnable == 0) {
    r = AuthorizeSide(ptClient, true, szMethod, ptClient->szURI);
    if (r != HTTPCLIENT_OK) return r;
  }
  HTTPClient_AppendF(ptClient->szRequest, HTTPCLIENT_TEXT_MAX, "\r\n");
  return HTTPCLIENT_OK;
}

void HTTPClient_ParseParamValue(const char *szText, char *szValue, uint32_t dwCapacity) {
  if (szValue == nullptr || dwCapacity == 0) return;
  memset(szValue, 0, dwCapacity);
  if (szText == nullptr) return;
  const char *pEq = strchr(szText, '=');
  if (pEq == nullptr || pEq[1] == ',' || (pEq[1] == '\r' && pEq[2] == '\n')) return;
  const char *pStart = pEq + 1;
  const char *pEnd = nullptr;
  const char *pComma = strchr(pStart, ',');
  if (pComma == nullptr) {
    pEnd = strstr(pStart, "\r\n");
  } else {
    const char *pNextEq = strchr(pComma + 1, '=');
    if (pNextEq == nullptr) {
      pEnd = strstr(pComma, "\r\n");
    } else {
      // A comma inside a quoted list (qop="auth,auth-int") stays in
      // the value: stop at the last comma before the next parameter.
      const char *pLast = pComma;
      for (;;) {
        const char *pNext = strchr(pLast + 1, ',');
        if (pNext == nullptr || pNext >= pNextEq) break;
        pLast = pNext;
      }
      pEnd = pLast;
    }
  }
  if (pEnd == nullptr) return;
  size_t length = static_cast<size_t>(pEnd - pStart);
  char *szTemp = static_cast<char *>(calloc(length + 1, 1));
  if (szTemp == nullptr) {
    printf("%s calloc failed. return\n", "HTTPClient_ParseParamValue");
    return;
  }
  size_t kept = 0;
  for (size_t i = 0; i < length; ++i)
    if (pStart[i] != '"' && pStart[i] != '\'') szTemp[kept++] = pStart[i];
  if (kept >= dwCapacity)
    printf("%s Output string buffer size is too small, failed \n", "HTTPClient_ParseParamValue");
  else
    memcpy(szValue, szTemp, kept);
  free(szTemp);
}

void HTTPClient_ParseDigestChallenge(HTTPClientHandle ptClient, const char *szChallenge,
                                     uint32_t dwSide) {
  if (ptClient == nullptr || szChallenge == nullptr) return;
  HTTPClientDigest &tDigest =
      dwSide == HTTPCLIENT_SIDE_PROXY ? ptClient->tProxyDigest : ptClient->tServerDigest;
  // A new challenge replaces the previous one whole.
  memset(&tDigest, 0, sizeof(tDigest));
  // Every search stays within the challenge line, so a parameter the
  // challenge lacks is never taken from a later header line.
  char szLine[HTTPCLIENT_HEADER_SIZE + 2];
  const char *pCrLf = strstr(szChallenge, "\r\n");
  size_t length = pCrLf != nullptr ? static_cast<size_t>(pCrLf - szChallenge) : strlen(szChallenge);
  if (length > HTTPCLIENT_TEXT_MAX) length = HTTPCLIENT_TEXT_MAX;
  memcpy(szLine, szChallenge, length);
  memcpy(szLine + length, "\r\n", 3);

  char szAlgorithm[16], szOpaque[64];
  struct Param {
    const char *szName;
    char *szValue;
    uint32_t dwCapacity;
  } const tParams[] = {
      {"nonce", tDigest.szNonce, sizeof(tDigest.szNonce)},
      {"realm", tDigest.szRealm, sizeof(tDigest.szRealm)},
      {"qop", tDigest.szQop, sizeof(tDigest.szQop)},
      {"algorithm", szAlgorithm, sizeof(szAlgorithm)},
      {"opaque", szOpaque, sizeof(szOpaque)},
  };
  for (const Param &tParam : tParams) {
    const char *pName = strstr(szLine, tParam.szName);
    if (pName == nullptr) continue;
    HTTPClient_ParseParamValue(pName, tParam.szValue, tParam.dwCapacity);
    // A value holding a line break would be copied into the next request's
    // header: the challenge is malformed and is dropped whole, so that the
    // answer fails with HTTPCLIENT_E_DIGEST_PARAM and nothing is sent.
    if (strpbrk(tParam.szValue, "\r\n") != nullptr) {
      memset(&tDigest, 0, sizeof(tDigest));
      return;
    }
  }
}

}  // extern "C"
