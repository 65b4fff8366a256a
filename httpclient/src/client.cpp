// SPDX-License-Identifier: MIT
// Client records: creation, release, the header-value lookup and the clock.
#include <stdlib.h>
#include <string.h>

#include "httpclient_internal.h"
#include "namreg/common.h"
#include "namreg/tick_clock.h"

extern "C" const char g_szHTTPClientVersionId[] =
    "$Id: 1.7.0.0 httpclient lib Jan 16 2019 18:00:00 $";

namespace namreg {

uint32_t HTTPClient_GetTickMs(void) {
  return namreg::TickClock_GetMs();
}

void HTTPClient_ClearRecord(HTTPClientContext *ptClient) {
  memset(ptClient, 0, sizeof(*ptClient));
  ptClient->iSocket = -1;
  ptClient->iTunnelGetSocket = -1;
  ptClient->iTunnelPostSocket = -1;
  ptClient->tQueued.iSocket = -1;
  ptClient->tLookup.fd = -1;
}

}  // namespace namreg

extern "C" {

uint32_t HTTPClient_Initial(HTTPClientHandle *phClient, uint32_t dwVersion) {
  if (phClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  if (dwVersion != HTTPCLIENT_VERSION) return HTTPCLIENT_E_VERSION;
  HTTPClientContext *ptClient =
      static_cast<HTTPClientContext *>(calloc(1, sizeof(HTTPClientContext)));
  if (ptClient == nullptr) return HTTPCLIENT_E_NO_MEMORY;
  HTTPClient_ClearRecord(ptClient);
  *phClient = ptClient;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_Release(HTTPClientHandle *phClient) {
  if (phClient == nullptr || *phClient == nullptr) return HTTPCLIENT_E_INVALID_HANDLE;
  HTTPClientContext *ptClient = *phClient;
  if (ptClient->dwState != HTTPCLIENT_STATE_START) return HTTPCLIENT_E_RELEASE_BUSY;
  // An idle record holds no socket; a send buffer may outlive an exchange.
  free(ptClient->pSendBuffer);
  free(ptClient);
  *phClient = nullptr;
  return HTTPCLIENT_OK;
}

int HTTPClient_GetHeaderValue(const HTTPClientInfo *ptInfo, const char *szName, char *szValue,
                              uint32_t *pdwLength) {
  if (ptInfo == nullptr || szName == nullptr || szValue == nullptr || pdwLength == nullptr ||
      *pdwLength == 0 || szName[0] == '\0' || ptInfo->szResponseHeader[0] == '\0')
    return -1;
  // The record's text is bounded by its array even if the caller left it
  // unterminated.
  const char *szText = ptInfo->szResponseHeader;
  size_t textLength = strnlen(szText, sizeof(ptInfo->szResponseHeader));
  size_t nameLength = strlen(szName);
  const char *pFound = nullptr;
  for (size_t i = 0; i + nameLength <= textLength; ++i) {
    if (memcmp(szText + i, szName, nameLength) == 0) {
      pFound = szText + i;
      break;
    }
  }
  if (pFound == nullptr) return -1;
  const char *pEnd = szText + textLength;
  const char *p = pFound + nameLength;
  if (p < pEnd) ++p;  // the colon
  if (p < pEnd && *p == ' ') ++p;
  const char *pLineEnd = nullptr;
  for (const char *q = p; q + 1 < pEnd; ++q) {
    if (q[0] == '\r' && q[1] == '\n') {
      pLineEnd = q;
      break;
    }
  }
  if (pLineEnd == nullptr) return -1;
  uint32_t dwCapacity = *pdwLength;
  memset(szValue, 0, dwCapacity);
  size_t valueLength = static_cast<size_t>(pLineEnd - p);
  if (valueLength > dwCapacity) return -1;
  memcpy(szValue, p, valueLength);
  *pdwLength = static_cast<uint32_t>(valueLength);
  return 0;
}

}  // extern "C"
