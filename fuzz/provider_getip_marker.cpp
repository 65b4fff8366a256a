// SPDX-License-Identifier: MIT
// The check-IP address reader over a page and a marker.  Input: one byte of
// marker length (255: no marker), the marker, then the page.  The address
// goes to a heap block of exactly 16 bytes, so ASan sees any write past it;
// a found address is at most 15 digits and dots.
#include <namreg/ddnsclient.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 8192) return 0;
  const size_t marker_length = data[0];
  const bool no_marker = marker_length == 255;
  const size_t taken = no_marker ? 0 : marker_length;
  if (size - 1 < taken) return 0;
  char *marker = static_cast<char *>(malloc(taken + 1));
  memcpy(marker, data + 1, taken);
  marker[taken] = '\0';
  const size_t body_length = size - 1 - taken;
  char *body = static_cast<char *>(malloc(body_length + 1));
  memcpy(body, data + 1 + taken, body_length);
  body[body_length] = '\0';

  char *address = static_cast<char *>(malloc(16));
  if (DDNSClient_GetIP(body, no_marker ? nullptr : marker, address) == 0) {
    const size_t length = strnlen(address, 16);
    if (length > 15) abort();
    for (size_t i = 0; i < length; ++i)
      if ((address[i] < '0' || address[i] > '9') && address[i] != '.') abort();
  }
  free(address);
  free(body);
  free(marker);
  return 0;
}
