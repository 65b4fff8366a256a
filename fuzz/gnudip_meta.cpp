// SPDX-License-Identifier: MIT
// The GnuDIP meta-tag reader over a page, a tag name and a width.  Input:
// two bytes of width (little-endian, so widths past the accepted 1..255 are
// tried too), one byte of name length, the name, then the page.  The output
// is a heap block of exactly width + 1 bytes; a value read is terminated,
// at most width characters long and free of white space.
#include <namreg/ddnsclient.h>

#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3 || size > 8192) return 0;
  const uint32_t width = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1] & 1) << 8);
  const size_t name_length = data[2];
  if (size - 3 < name_length) return 0;
  char *name = static_cast<char *>(malloc(name_length + 1));
  memcpy(name, data + 3, name_length);
  name[name_length] = '\0';
  const size_t body_length = size - 3 - name_length;
  char *body = static_cast<char *>(malloc(body_length + 1));
  memcpy(body, data + 3 + name_length, body_length);
  body[body_length] = '\0';

  char *output = static_cast<char *>(malloc(width + 1));
  if (DDNSClient_GnuDIP_GetMetaContent(body, name, output, width) == 0) {
    const size_t length = strnlen(output, width + 1);
    if (length == 0 || length > width) abort();
    for (size_t i = 0; i < length; ++i)
      if (isspace(static_cast<unsigned char>(output[i]))) abort();
  }
  free(output);
  free(body);
  free(name);
  return 0;
}
