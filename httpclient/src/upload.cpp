// SPDX-License-Identifier: MIT
// Streamed upload: a file sent as the body of a synchronous POST, in four
// phases (prefix and part header, file pieces, trailer, done), each piece
// filled into the send buffer when the previous one has gone out.
#include <stdio.h>
#include <string.h>

#include "httpclient_internal.h"

namespace {

constexpr uint32_t kTrailerTextSize = HTTPCLIENT_TRAILER_SIZE + 2 * 11;  // two printed integers
constexpr uint32_t kFirstPieceMax =
    HTTPCLIENT_TEXT_MAX + HTTPCLIENT_PREFIX_SIZE + HTTPCLIENT_PART_HEADER_SIZE;

// The trailer format may hold literal text, "%%" and at most two integer
// conversions; anything else would read arguments that are not there.
bool TrailerFormatSafe(const char *szFormat) {
  int conversions = 0;
  for (const char *p = szFormat; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p != '\0' && strchr("-+ 0#", *p) != nullptr) ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '\0' || strchr("diuxX", *p) == nullptr) return false;
    if (++conversions > 2) return false;
  }
  return true;
}

// Prints the checked trailer format; the length of the printed text.
uint32_t PrintTrailer(char *szOut, uint32_t dwSize, const char *szFormat, uint32_t dwLastPiece) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = snprintf(szOut, dwSize, szFormat, static_cast<int>(dwLastPiece), 2);
#pragma GCC diagnostic pop
  if (n < 0) return 0;
  return static_cast<uint32_t>(n) < dwSize ? static_cast<uint32_t>(n) : dwSize - 1;
}

void CopyField(char *szDest, size_t destSize, const char *szSource, size_t sourceSize) {
  size_t n = strnlen(szSource, sourceSize - 1);
  if (n > destSize - 1) n = destSize - 1;
  memcpy(szDest, szSource, n);
  szDest[n] = '\0';
}

}  // namespace

namespace namreg {

uint32_t HTTPClient_UploadBufferSize(uint32_t dwPiece) {
  if (dwPiece > 0xFFFFFFFFu - kFirstPieceMax) return 0;
  return dwPiece + kFirstPieceMax;
}

uint32_t HTTPClient_UploadPrepare(HTTPClientContext *ptClient, const HTTPClientInfo *ptInfo) {
  if (!TrailerFormatSafe(ptInfo->szUploadTrailerFormat)) return HTTPCLIENT_E_POST_BODY;
  CopyField(ptClient->szUploadPartHeader, sizeof(ptClient->szUploadPartHeader),
            ptInfo->szUploadPartHeader, sizeof(ptInfo->szUploadPartHeader));
  CopyField(ptClient->szUploadTrailerFormat, sizeof(ptClient->szUploadTrailerFormat),
            ptInfo->szUploadTrailerFormat, sizeof(ptInfo->szUploadTrailerFormat));
  ptClient->szUploadPrefix[0] = '\0';
  if (ptInfo->szUploadPrefix[0] != '\0')
    CopyField(ptClient->szUploadPrefix, sizeof(ptClient->szUploadPrefix), ptInfo->szUploadPrefix,
              sizeof(ptInfo->szUploadPrefix));

  // The request announces the whole body, so the file is measured first.
  FILE *pFile = ptInfo->pUploadFile;
  if (fseek(pFile, 0, SEEK_END) != 0) return HTTPCLIENT_E_POST_BODY;
  long fileSize = ftell(pFile);
  if (fileSize < 0 || static_cast<unsigned long>(fileSize) > 0xFFFFFFFFul)
    return HTTPCLIENT_E_POST_BODY;
  const uint32_t dwFile = static_cast<uint32_t>(fileSize);
  const uint32_t dwPiece = ptInfo->dwBodyLength;
  uint32_t dwLast = dwFile == 0 ? 0 : dwFile % dwPiece;
  if (dwFile != 0 && dwLast == 0) dwLast = dwPiece;
  char szTrailer[kTrailerTextSize];
  uint64_t total =
      uint64_t{strlen(ptClient->szUploadPrefix)} + strlen(ptClient->szUploadPartHeader) + dwFile +
      PrintTrailer(szTrailer, sizeof(szTrailer), ptClient->szUploadTrailerFormat, dwLast);
  if (total > 0x7FFFFFFFu) return HTTPCLIENT_E_POST_BODY;

  ptClient->pUploadFile = pFile;
  ptClient->dwUploadTotal = static_cast<uint32_t>(total);
  ptClient->dwUploadFileSize = dwFile;
  ptClient->dwUploadFileLeft = dwFile;
  ptClient->dwUploadLastPiece = dwLast;
  ptClient->dwUploadPhase = 1;
  ptClient->dwUploadMode = 1;
  return HTTPCLIENT_OK;
}

uint32_t HTTPClient_UploadFill(HTTPClientContext *ptClient, uint32_t dwAt) {
  char *pBuffer = ptClient->pSendBuffer + dwAt;
  uint32_t dwLength = 0;
  for (;;) {
    switch (ptClient->dwUploadPhase) {
      case 1: {
        // The request text, the prefix and the part header; the file from
        // its start.
        HTTPClientText t = {pBuffer, kFirstPieceMax + 1, 0};
        pBuffer[0] = '\0';
        t.Add(ptClient->szRequest);
        t.Add(ptClient->szUploadPrefix);
        t.Add(ptClient->szUploadPartHeader);
        dwLength = t.dwLength;
        if (fseek(ptClient->pUploadFile, 0, SEEK_SET) != 0) return HTTPCLIENT_E_POST_BODY;
        ptClient->dwUploadFileLeft = ptClient->dwUploadFileSize;
        break;
      }
      case 2: {
        if (ptClient->dwUploadFileLeft == 0) {
          ptClient->dwUploadPhase = 3;
          continue;
        }
        uint32_t dwWant = ptClient->dwUploadFileLeft < ptClient->dwBodyLength
                              ? ptClient->dwUploadFileLeft
                              : ptClient->dwBodyLength;
        size_t got = fread(pBuffer, 1, dwWant, ptClient->pUploadFile);
        // A file that ends early cannot fill the length announced.
        if (got != dwWant) return HTTPCLIENT_E_POST_BODY;
        ptClient->dwUploadFileLeft -= dwWant;
        dwLength = dwWant;
        break;
      }
      case 3:
        dwLength = PrintTrailer(pBuffer, kTrailerTextSize, ptClient->szUploadTrailerFormat,
                                ptClient->dwUploadLastPiece);
        if (dwLength == 0) {
          ptClient->dwUploadPhase = 4;
          continue;
        }
        break;
      default:
        dwLength = 0;
        break;
    }
    break;
  }
  ptClient->dwSendLength = dwAt + dwLength;
  return HTTPCLIENT_OK;
}

void HTTPClient_UploadPieceSent(HTTPClientContext *ptClient) {
  switch (ptClient->dwUploadPhase) {
    case 1:
      ptClient->dwUploadPhase = 2;
      break;
    case 2:
      if (ptClient->dwUploadFileLeft == 0) ptClient->dwUploadPhase = 3;
      break;
    case 3:
      ptClient->dwUploadPhase = 4;
      break;
    default:
      return;
  }
  if (ptClient->dwUploadPhase != 4) {
    ptClient->dwSendLength = 0;
    ptClient->dwRequestSent = 0;
  }
}

}  // namespace namreg
