// SPDX-License-Identifier: MIT
// Base64 with the RFC 4648 alphabet and "=" padding; no line breaks are
// produced.  The decoder is lenient: CR/LF are skipped and characters outside
// the alphabet count as 0.
#include "namreg/common.h"

#include <string.h>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each byte in the alphabet; anything else (the pad included) is 0.
struct DecodeTable {
  unsigned char value[256];
  constexpr DecodeTable() : value() {
    for (int i = 0; i < 64; ++i) value[(unsigned char)kAlphabet[i]] = (unsigned char)i;
  }
};
constexpr DecodeTable kDecode;

constexpr size_t kMaxInput = 0xFFFF;  // the encoders count input in 16 bits

int EncodeBytes(const unsigned char *in, size_t length, char *out) {
  char *o = out;
  size_t i = 0;
  for (; length - i >= 3; i += 3) {
    uint32_t v = ((uint32_t)in[i] << 16) | ((uint32_t)in[i + 1] << 8) | in[i + 2];
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = kAlphabet[(v >> 6) & 63];
    *o++ = kAlphabet[v & 63];
  }
  if (length - i == 1) {
    uint32_t v = (uint32_t)in[i] << 16;
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = '=';
    *o++ = '=';
  } else if (length - i == 2) {
    uint32_t v = ((uint32_t)in[i] << 16) | ((uint32_t)in[i + 1] << 8);
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 63];
    *o++ = kAlphabet[(v >> 6) & 63];
    *o++ = '=';
  }
  return (int)(o - out);
}

inline bool IsLineBreak(char ch) {
  return ch == '\r' || ch == '\n';
}

}  // namespace

extern "C" {

int Base64_Encode(const unsigned char *in, uint16_t length, char *out, int capacity) {
  (void)capacity;  // callers size the output as 4 * ceil(length / 3)
  if (length == 0) return 0;
  return EncodeBytes(in, length, out);
}

int Base64_EncodeString(const char *text, char *out, int capacity) {
  size_t length = strlen(text);
  // Longer texts cannot be counted in 16 bits; refuse rather than encode a
  // truncated piece.
  if (length > kMaxInput) return -1;
  if ((long)capacity <= 4 * (long)(length / 3 + length % 3)) return -1;
  return EncodeBytes(reinterpret_cast<const unsigned char *>(text), length, out);
}

int Base64_Decode(const char *text, unsigned char *out, int capacity) {
  size_t length = strlen(text);
  if ((long long)capacity <= 3 * (long long)(length / 4)) return -1;
  const char *p = text;
  const char *end = text + length;
  size_t n = 0;
  if (length >= 4) {
    while (end - p >= 4) {
      char ch[4];
      int got = 0;
      for (; got < 4; ++got) {
        while (p < end && IsLineBreak(*p)) ++p;
        if (p == end) break;
        ch[got] = *p++;
      }
      if (got < 4) break;  // a partial group at the end is dropped
      uint32_t v = ((uint32_t)kDecode.value[(unsigned char)ch[0]] << 18) |
                   ((uint32_t)kDecode.value[(unsigned char)ch[1]] << 12) |
                   ((uint32_t)kDecode.value[(unsigned char)ch[2]] << 6) |
                   kDecode.value[(unsigned char)ch[3]];
      out[n++] = (unsigned char)(v >> 16);
      if (ch[2] == '=') continue;
      out[n++] = (unsigned char)(v >> 8);
      if (ch[3] == '=') continue;
      out[n++] = (unsigned char)v;
    }
  }
  out[n] = 0;
  return (int)n;
}

}  // extern "C"
