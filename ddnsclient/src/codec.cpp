// SPDX-License-Identifier: MIT
// HLDM request codec.  Each group of three input bytes is read as a number N
// in base 83 (four 6-bit digits), raised to the next multiple of a divisor
// above 64 * N, bit-reversed and written as six base-61 digits; a pad-count
// character ends the text.  The divisor index starts from the clock and then
// steps through the divisor table, so equal requests look different over
// time, while the decoder recovers the index from the first group alone.
#include "namreg/ddnsclient.h"

#include <stdint.h>
#include <time.h>

#include "codec_internal.h"

namespace {

constexpr char kTable[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890+=";
constexpr uint32_t kDivisors[8] = {31, 37, 41, 43, 47, 53, 59, 61};
constexpr uint32_t kDigitBase = 61;  // output digits use the first 61 characters
constexpr int kGroupChars = 6;

// Index of each byte in the table, -1 for bytes outside it (the zero byte
// included).
struct IndexTable {
  signed char index[256];
  constexpr IndexTable() : index() {
    for (int i = 0; i < 256; ++i) index[i] = -1;
    for (int i = 0; i < 64; ++i) index[(unsigned char)kTable[i]] = (signed char)i;
  }
};
constexpr IndexTable kIndex;

inline uint32_t ReverseBits(uint32_t x) {
  x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
  x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
  x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
  x = ((x >> 8) & 0x00FF00FFu) | ((x & 0x00FF00FFu) << 8);
  return (x >> 16) | (x << 16);
}

// Lowest index whose divisor divides x, or -1.
inline int LowestDivisor(uint32_t x) {
  for (int j = 0; j < 8; ++j)
    if (x % kDivisors[j] == 0) return j;
  return -1;
}

// Encoded size with the zero byte, in 64 bits so that huge counts cannot
// wrap; 2 for an empty (or negative) count, which encodes as "a".
inline int64_t EncodeSize(int32_t n) {
  if (n <= 0) return 2;
  int64_t groups = ((int64_t)n + 2) / 3;
  return groups * kGroupChars + 2;
}

// The capacity test of the encoder.  A size beyond INT32_MAX can never be
// met: it is reported as INT32_MAX and the call keeps failing rather than
// overrunning.
inline bool EncodeCapacityOk(int32_t n, int32_t *capacity) {
  int64_t needed = EncodeSize(n);
  if ((int64_t)*capacity >= needed && needed <= INT32_MAX) return true;
  *capacity = needed > INT32_MAX ? INT32_MAX : (int32_t)needed;
  return false;
}

}  // namespace

extern "C" {

int32_t HALDStrCodec_GetEncodeSize(int32_t n) {
  int64_t size = EncodeSize(n);
  return size > INT32_MAX ? INT32_MAX : (int32_t)size;
}

int32_t HALDStrCodec_GetDecodeSize(int32_t n) {
  return (int32_t)(((int64_t)n - 1) / 2 + 1);
}

}  // extern "C"

int32_t namreg::HALDStrCodec_EncodeWithIndex(const unsigned char *input, int32_t n, char *output,
                                             int32_t *capacity, uint32_t index) {
  if (!EncodeCapacityOk(n, capacity)) return CODEC_ERR_OUTPUT_SIZE;
  uint32_t k = index & 7;
  if (n <= 0) {
    output[0] = kTable[0];
    output[1] = '\0';
    return 1;
  }

  char *o = output;
  for (int32_t i = 0; i < n; i += 3) {
    uint32_t b0 = input[i];
    uint32_t b1 = i + 1 < n ? input[i + 1] : 0;
    uint32_t b2 = i + 2 < n ? input[i + 2] : 0;
    uint32_t s0 = b0 >> 2;
    uint32_t s1 = ((b0 & 3) << 4) | (b1 >> 4);
    uint32_t s2 = ((b1 & 15) << 2) | (b2 >> 6);
    uint32_t s3 = b2 & 63;
    uint32_t value = s0 * 571787u + s1 * 6889u + s2 * 83u + s3;

    uint32_t d = kDivisors[k];
    uint32_t x = (64u * value / d + 1u) * d;
    // The first group's value fixes where the index goes next; the decoder
    // finds the same lowest divisor.
    k = i == 0 ? (uint32_t)(LowestDivisor(x) + 1) & 7 : (k + 1) & 7;

    uint32_t y = ReverseBits(x);
    for (int digit = 0; digit < kGroupChars; ++digit) {
      *o++ = kTable[y % kDigitBase];
      y /= kDigitBase;
    }
  }
  int pad = (3 - n % 3) % 3;
  *o++ = kTable[pad];
  *o = '\0';
  return (int32_t)(o - output);
}

extern "C" {

int32_t HALDStrCodec_Encode(const unsigned char *input, int32_t n, char *output,
                            int32_t *capacity) {
  if (!EncodeCapacityOk(n, capacity)) return CODEC_ERR_OUTPUT_SIZE;
  return namreg::HALDStrCodec_EncodeWithIndex(input, n, output, capacity,
                                              (uint32_t)((uint64_t)time(nullptr) & 7));
}

int32_t HALDStrCodec_Decode(const char *input, int32_t n, unsigned char *output,
                            int32_t *capacity) {
  int32_t needed = HALDStrCodec_GetDecodeSize(n);
  if (*capacity < needed) {
    *capacity = needed;
    return CODEC_ERR_OUTPUT_SIZE;
  }
  if (n <= 0 || (n - 1) % kGroupChars != 0) return CODEC_ERR_MALFORMED;
  int pad = kIndex.index[(unsigned char)input[n - 1]];
  if (pad < 0 || pad > 2) return CODEC_ERR_MALFORMED;

  int32_t groups = (n - 1) / kGroupChars;
  int32_t decoded = 0;
  uint32_t k = 0;
  for (int32_t g = 0; g < groups; ++g) {
    const char *group = input + g * kGroupChars;
    if (group[0] == '\0') break;
    uint32_t y = 0;
    for (int digit = kGroupChars - 1; digit >= 0; --digit) {
      int v = kIndex.index[(unsigned char)group[digit]];
      if (v < 0) return CODEC_ERR_MALFORMED;
      y = y * kDigitBase + (uint32_t)v;
    }
    uint32_t x = ReverseBits(y);
    if (g == 0) {
      int j = LowestDivisor(x);
      k = j < 0 ? 0 : (uint32_t)j;
    }
    if (x % kDivisors[k] != 0) return CODEC_ERR_MALFORMED;

    uint32_t value = x >> 6;
    uint32_t s3 = value % 83;
    uint32_t s2 = (value / 83) % 83;
    uint32_t s1 = (value / 6889) % 83;
    uint32_t s0 = (value / 571787) % 83;
    output[decoded++] = (unsigned char)((s0 << 2) | (s1 >> 4));
    output[decoded++] = (unsigned char)((s1 << 4) | (s2 >> 2));
    output[decoded++] = (unsigned char)((s2 << 6) | s3);
    k = (k + 1) & 7;
  }
  // The pad count cannot exceed what was decoded ("b" or "c" alone, or a
  // text cut short by a zero byte).
  if (decoded < pad) return CODEC_ERR_MALFORMED;
  decoded -= pad;
  output[decoded] = 0;
  return decoded;
}

}  // extern "C"
