// SPDX-License-Identifier: MIT
// DDNSClient_GetIP on any reply text and marker.  Input: one byte giving
// the marker's length (0: no marker, else 1..31), the marker, then the text.
// Both live in buffers of their exact size, so a read past either end is
// caught.  Checks: on success the address is a run of digits and dots of at
// most 15 characters, terminated inside the 16-byte output.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "namreg/ddnsclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  size_t marker_length = data[0] & 31;
  const bool with_marker = (data[0] & 32) != 0 && marker_length > 0;
  data++;
  size--;
  if (!with_marker) marker_length = 0;
  if (marker_length > size) marker_length = size;

  char *marker = static_cast<char *>(malloc(marker_length + 1));
  char *text = static_cast<char *>(malloc(size - marker_length + 1));
  char *address = static_cast<char *>(malloc(16));
  if (marker == nullptr || text == nullptr || address == nullptr) abort();
  memcpy(marker, data, marker_length);
  marker[marker_length] = '\0';
  memcpy(text, data + marker_length, size - marker_length);
  text[size - marker_length] = '\0';
  memset(address, 0x55, 16);

  const int32_t r = DDNSClient_GetIP(text, with_marker ? marker : nullptr, address);
  if (r == 0) {
    const size_t n = strnlen(address, 16);
    if (n > 15) abort();
    for (size_t i = 0; i < n; ++i)
      if (!(address[i] == '.' || (address[i] >= '0' && address[i] <= '9'))) abort();
  } else if (r != -1) {
    abort();
  }
  free(marker);
  free(text);
  free(address);
  return 0;
}
