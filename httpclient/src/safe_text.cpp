// SPDX-License-Identifier: MIT
// Texts from the caller that go into a request line, a header or a name
// lookup: a control byte in one of them could end a header line early and
// start lines of the caller's choosing, so such a request is refused before
// anything is sent.
#include <string.h>

#include "httpclient_internal.h"

namespace namreg {

namespace {

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

template <size_t N>
bool Safe(const char (&szText)[N]) {
  return HTTPClient_TextIsSafe(szText, N);
}

bool EndpointSafe(const HTTPClientEndpoint &tSide) {
  return Safe(tSide.szHost) && Safe(tSide.szUser) && Safe(tSide.szPassword);
}

}  // namespace

bool HTTPClient_TextIsSafe(const char *szText, size_t size) {
  const size_t length = strnlen(szText, size);
  for (size_t i = 0; i < length; ++i)
    if (IsControl(static_cast<unsigned char>(szText[i]))) return false;
  return true;
}

bool HTTPClient_HeaderBlockIsSafe(const char *szText, size_t size) {
  const size_t length = strnlen(szText, size);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(szText[i]);
    if (c == '\r') {
      // A line end: CR LF after a line that is not empty, or the block's
      // last one.  A blank line inside would end the header there.
      if (i + 1 >= length || szText[i + 1] != '\n') return false;
      const bool bBlank = i == 0 || (i >= 2 && szText[i - 2] == '\r' && szText[i - 1] == '\n');
      if (bBlank && i + 2 < length) return false;
      ++i;
      continue;
    }
    if (IsControl(c)) return false;
  }
  return true;
}

uint32_t HTTPClient_CheckRequestTexts(const HTTPClientInfo *ptInfo, bool bOwnHeader) {
  bool bSafe = EndpointSafe(ptInfo->tServer) && Safe(ptInfo->szURI);
  if (ptInfo->dwUseProxy == 1) bSafe = bSafe && EndpointSafe(ptInfo->tProxy);
  if (!bOwnHeader) {
    // The extra header text replaces the standard headers, these three
    // included.
    if (ptInfo->szExtraHeader[0] != '\0')
      bSafe = bSafe &&
              HTTPClient_HeaderBlockIsSafe(ptInfo->szExtraHeader, sizeof(ptInfo->szExtraHeader));
    else
      bSafe = bSafe && Safe(ptInfo->szUserAgent) && Safe(ptInfo->szReferer) &&
              Safe(ptInfo->szContentType);
  }
  return bSafe ? HTTPCLIENT_OK : HTTPCLIENT_E_UNSAFE_TEXT;
}

}  // namespace namreg
