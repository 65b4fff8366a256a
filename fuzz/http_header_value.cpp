// SPDX-License-Identifier: MIT
// HTTPClient_GetHeaderValue on any response header text.  Input: one byte
// giving the value capacity (1..64), one byte giving the name's length
// (1..31), the name, then the header text (cut to the record's array, and
// possibly unterminated).  Checks: a value found fits the capacity and its
// length is reported; the output is never written past its capacity.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "namreg/httpclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const uint32_t capacity = (data[0] & 63) + 1;
  size_t name_length = (data[1] & 31) + 1;
  data += 2;
  size -= 2;
  if (name_length > size) return 0;

  char *name = static_cast<char *>(malloc(name_length + 1));
  HTTPClientInfo *info = static_cast<HTTPClientInfo *>(calloc(1, sizeof(HTTPClientInfo)));
  char *value = static_cast<char *>(malloc(capacity));
  if (name == nullptr || info == nullptr || value == nullptr) abort();
  memcpy(name, data, name_length);
  name[name_length] = '\0';
  size_t text_length = size - name_length;
  if (text_length > sizeof(info->szResponseHeader)) text_length = sizeof(info->szResponseHeader);
  memcpy(info->szResponseHeader, data + name_length, text_length);

  uint32_t length = capacity;
  const int r = HTTPClient_GetHeaderValue(info, name, value, &length);
  if (r == 0) {
    if (length > capacity) abort();
    // The value ends at the first line end after the name.
    for (uint32_t i = 0; i + 1 < length; ++i)
      if (value[i] == '\r' && value[i + 1] == '\n') abort();
  } else if (r != -1 || length != capacity) {
    abort();
  }
  free(name);
  free(info);
  free(value);
  return 0;
}
