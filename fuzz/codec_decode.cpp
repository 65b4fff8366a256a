// SPDX-License-Identifier: MIT
// HALDStrCodec_Decode on arbitrary text (buffers of exactly the sizes the
// codec asks for, so ASan sees any overrun), and the round trip: the first
// byte picks the divisor index, the rest is encoded and must decode back.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "codec_internal.h"
#include "namreg/ddnsclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) return 0;
  const int32_t n = (int32_t)size;

  // Decode the data as an encoded text.
  int32_t cap = HALDStrCodec_GetDecodeSize(n);
  if (cap < 1) cap = 1;
  unsigned char *plain = (unsigned char *)malloc((size_t)cap);
  int32_t given = cap;
  int32_t r = HALDStrCodec_Decode(reinterpret_cast<const char *>(data), n, plain, &given);
  if (r != CODEC_ERR_MALFORMED) {
    if (r < 0 || r >= cap || plain[r] != 0 || given != cap) abort();
  }
  free(plain);

  // Encode then decode.
  if (size == 0) return 0;
  const uint32_t index = data[0];
  const unsigned char *in = data + 1;
  const int32_t len = n - 1;
  int32_t ecap = HALDStrCodec_GetEncodeSize(len);
  char *text = (char *)malloc((size_t)ecap);
  int32_t elen = namreg::HALDStrCodec_EncodeWithIndex(in, len, text, &ecap, index);
  if (elen != ecap - 1 || text[elen] != '\0') abort();
  int32_t dcap = HALDStrCodec_GetDecodeSize(elen);
  unsigned char *back = (unsigned char *)malloc((size_t)dcap);
  int32_t dlen = HALDStrCodec_Decode(text, elen, back, &dcap);
  if (dlen != len || memcmp(back, in, (size_t)len) != 0) abort();
  free(back);
  free(text);
  return 0;
}
