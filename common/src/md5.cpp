// SPDX-License-Identifier: MIT
// MD5 (RFC 1321), the hexadecimal digest helpers and HMAC-MD5 (RFC 2104).
#include "namreg/common.h"
#include "byte_order.h"

#include <stdarg.h>
#include <string.h>

namespace {

inline uint32_t Rotl(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

using namreg::byte_order::LoadLE;
using namreg::byte_order::StoreLE;

// The four auxiliary functions in the forms that need the fewest operations.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s)         \
  (a) += f((b), (c), (d)) + (x) + (uint32_t)(t); \
  (a) = Rotl((a), (s)) + (b)

// Runs the compression function over `blocks` 64-byte blocks.
void Transform(uint32_t state[4], const unsigned char *data, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLE(data + 4 * i);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22);

    MD5_STEP(MD5_G, a, b, c, d, x[1], 0xf61e2562, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[6], 0xc040b340, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[11], 0x265e5a51, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[0], 0xe9b6c7aa, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[5], 0xd62f105d, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[10], 0x02441453, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[15], 0xd8a1e681, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[4], 0xe7d3fbc8, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[9], 0x21e1cde6, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[14], 0xc33707d6, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[3], 0xf4d50d87, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[8], 0x455a14ed, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[13], 0xa9e3e905, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[2], 0xfcefa3f8, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[7], 0x676f02d9, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[12], 0x8d2a4c8a, 20);

    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23);

    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21);

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

void ToHex(char out[33], const unsigned char digest[16]) {
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
  out[32] = '\0';
}

void UpdateText(MD5Context *ctx, const char *text) {
  // Texts longer than an unsigned int can count are fed in pieces.
  size_t left = strlen(text);
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  while (left > 0) {
    unsigned int piece = left > 0x40000000u ? 0x40000000u : (unsigned int)left;
    MD5Update(ctx, p, piece);
    p += piece;
    left -= piece;
  }
}

}  // namespace

extern "C" {

void MD5Init(MD5Context *context) {
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
  context->count[0] = 0;
  context->count[1] = 0;
}

void MD5Update(MD5Context *context, const unsigned char *input, unsigned int length) {
  if (length == 0) return;
  unsigned int used = (context->count[0] >> 3) & 63;
  uint32_t low = context->count[0] + ((uint32_t)length << 3);
  if (low < context->count[0]) context->count[1]++;
  context->count[0] = low;
  context->count[1] += (uint32_t)(length >> 29);

  if (used > 0) {
    unsigned int room = 64 - used;
    if (length < room) {
      memcpy(context->buffer + used, input, length);
      return;
    }
    memcpy(context->buffer + used, input, room);
    Transform(context->state, context->buffer, 1);
    input += room;
    length -= room;
  }
  size_t blocks = length / 64;
  if (blocks > 0) {
    Transform(context->state, input, blocks);
    input += blocks * 64;
    length -= (unsigned int)(blocks * 64);
  }
  if (length > 0) memcpy(context->buffer, input, length);
}

void MD5Final(unsigned char digest[16], MD5Context *context) {
  unsigned char bits[8];
  StoreLE(bits, context->count[0]);
  StoreLE(bits + 4, context->count[1]);

  // Pad with 0x80 and zeros to 56 bytes mod 64, then the bit count.
  static const unsigned char kPadding[64] = {0x80};
  unsigned int used = (context->count[0] >> 3) & 63;
  unsigned int pad = used < 56 ? 56 - used : 120 - used;
  MD5Update(context, kPadding, pad);
  MD5Update(context, bits, 8);

  for (int i = 0; i < 4; ++i) StoreLE(digest + 4 * i, context->state[i]);
  // The context may hold key material (HMAC): clear it in a way the compiler
  // keeps.
  volatile unsigned char *wipe = reinterpret_cast<volatile unsigned char *>(context);
  for (size_t i = 0; i < sizeof *context; ++i) wipe[i] = 0;
}

void MD5_String(unsigned char out[17], const char *text) {
  MD5Context ctx;
  MD5Init(&ctx);
  UpdateText(&ctx, text);
  MD5Final(out, &ctx);
  out[16] = 0;
}

void MD5_StringHex(char out[33], const char *text) {
  unsigned char digest[16];
  MD5Context ctx;
  MD5Init(&ctx);
  UpdateText(&ctx, text);
  MD5Final(digest, &ctx);
  ToHex(out, digest);
}

void MD5_ListHex(char out[33], const char *text, ...) {
  unsigned char digest[16];
  MD5Context ctx;
  MD5Init(&ctx);
  va_list args;
  va_start(args, text);
  for (const char *t = text; t != nullptr; t = va_arg(args, const char *)) UpdateText(&ctx, t);
  va_end(args);
  MD5Final(digest, &ctx);
  ToHex(out, digest);
}

void HMAC_MD5(const unsigned char *key_bytes, int key_length, const unsigned char *data,
              int data_length, unsigned char out[16]) {
  // A negative or absent length counts as empty.
  if (key_bytes == nullptr || key_length < 0) key_length = 0;
  if (data == nullptr || data_length < 0) data_length = 0;

  unsigned char block[64] = {0};
  if (key_length > 64) {
    MD5Context kctx;
    MD5Init(&kctx);
    MD5Update(&kctx, key_bytes, (unsigned int)key_length);
    MD5Final(block, &kctx);
  } else if (key_length > 0) {
    memcpy(block, key_bytes, (size_t)key_length);
  }

  unsigned char pad[64];
  unsigned char inner[16];
  MD5Context ctx;
  for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x36;
  MD5Init(&ctx);
  MD5Update(&ctx, pad, 64);
  MD5Update(&ctx, data, (unsigned int)data_length);
  MD5Final(inner, &ctx);

  for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x5c;
  MD5Init(&ctx);
  MD5Update(&ctx, pad, 64);
  MD5Update(&ctx, inner, 16);
  MD5Final(out, &ctx);

  volatile unsigned char *wipe = block;
  for (int i = 0; i < 64; ++i) wipe[i] = 0;
  wipe = pad;
  for (int i = 0; i < 64; ++i) wipe[i] = 0;
}

}  // extern "C"
