// SPDX-License-Identifier: MIT
// Base64_Decode on arbitrary text with the smallest capacity it accepts
// (so ASan sees any overrun), and Base64_Encode followed by decoding.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "namreg/common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 0xFFFF) return 0;

  // Decode the data as a text (up to its first zero byte).
  char *text = (char *)malloc(size + 1);
  memcpy(text, data, size);
  text[size] = '\0';
  size_t length = strlen(text);
  int cap = (int)(3 * (length / 4) + 1);
  unsigned char *out = (unsigned char *)malloc((size_t)cap);
  if (Base64_Decode(text, out, cap - 1) != -1) abort();
  int r = Base64_Decode(text, out, cap);
  if (r < 0 || r >= cap || out[r] != 0) abort();
  free(out);
  free(text);

  // Encode then decode gives the bytes back.
  size_t elen = 4 * ((size + 2) / 3);
  char *enc = (char *)malloc(elen + 1);
  int n = Base64_Encode(data, (uint16_t)size, enc, (int)elen);
  if (n != (int)elen) abort();
  enc[n] = '\0';
  unsigned char *back = (unsigned char *)malloc(3 * (elen / 4) + 1);
  r = Base64_Decode(enc, back, (int)(3 * (elen / 4) + 1));
  if (r != (int)size || memcmp(back, data, size) != 0) abort();
  free(back);
  free(enc);
  return 0;
}
