// SPDX-License-Identifier: MIT
// Blowfish with one process-wide key schedule.  Two points differ from the
// textbook cipher: the key schedule starts from an all-zero P-array, and a
// block is read as two little-endian 32-bit halves.  Buffers are handled in
// ECB fashion over whole blocks; a trailing partial block is left as is.
#include "namreg/common.h"
#include "byte_order.h"

#include <string.h>

#include "blowfish_internal.h"
#include "blowfish_tables.h"

namespace {

// Working key schedule: S-boxes 0..3 (256 words each), then the P-array;
// the current key and its length.
uint32_t c[BLOWFISH_SBOX_WORDS + BLOWFISH_P_WORDS];
unsigned char key[BLOWFISH_MAX_KEY];
uint32_t keylen;

constexpr uint32_t kZeroP[BLOWFISH_P_WORDS] = {};

inline uint32_t *SBox() {
  return c;
}
inline uint32_t *PArray() {
  return c + BLOWFISH_SBOX_WORDS;
}

inline uint32_t F(const uint32_t *s, uint32_t x) {
  return ((s[x >> 24] + s[256 + ((x >> 16) & 0xFF)]) ^ s[512 + ((x >> 8) & 0xFF)]) +
         s[768 + (x & 0xFF)];
}

using namreg::byte_order::LoadLE;
using namreg::byte_order::StoreLE;

// Copies length bytes (the buffers may overlap or be the same) and runs the
// transform over the whole blocks of the output.
int TransformBuffer(const unsigned char *in, unsigned char *out, uint32_t length,
                    void (*transform)(uint32_t *, uint32_t *)) {
  if (length == 0) return 0;
  if (in == nullptr || out == nullptr) return -1;
  if (in != out) memmove(out, in, length);
  for (uint32_t off = 0; length - off >= 8; off += 8) {
    uint32_t left = LoadLE(out + off);
    uint32_t right = LoadLE(out + off + 4);
    transform(&left, &right);
    StoreLE(out + off, left);
    StoreLE(out + off + 4, right);
  }
  return 0;
}

}  // namespace

namespace namreg {

const uint32_t *Blowfish_InitialSBox(int index) {
  static const uint32_t *const kBoxes[4] = {ks0, ks1, ks2, ks3};
  return index >= 0 && index < 4 ? kBoxes[index] : nullptr;
}

const unsigned char *Blowfish_CurrentKey(uint32_t *length) {
  if (length != nullptr) *length = keylen;
  return key;
}

void Blowfish_EncipherWords(uint32_t *left, uint32_t *right) {
  const uint32_t *s = SBox();
  const uint32_t *p = PArray();
  uint32_t l = *left, r = *right;
  for (int i = 0; i < BLOWFISH_ROUNDS; i += 2) {
    l ^= p[i];
    r ^= F(s, l);
    r ^= p[i + 1];
    l ^= F(s, r);
  }
  l ^= p[BLOWFISH_ROUNDS];
  r ^= p[BLOWFISH_ROUNDS + 1];
  // The halves leave swapped relative to the last round.
  *left = r;
  *right = l;
}

void Blowfish_DecipherWords(uint32_t *left, uint32_t *right) {
  const uint32_t *s = SBox();
  const uint32_t *p = PArray();
  uint32_t l = *left, r = *right;
  for (int i = BLOWFISH_ROUNDS + 1; i > 1; i -= 2) {
    l ^= p[i];
    r ^= F(s, l);
    r ^= p[i - 1];
    l ^= F(s, r);
  }
  l ^= p[1];
  r ^= p[0];
  *left = r;
  *right = l;
}

void Blowfish_BuildSchedule(const uint32_t p_init[BLOWFISH_P_WORDS], const unsigned char *key_bytes,
                            uint32_t length) {
  if (key_bytes == nullptr) length = 0;
  if (length > BLOWFISH_MAX_KEY) length = BLOWFISH_MAX_KEY;
  memset(key, 0, sizeof key);
  if (length > 0) memcpy(key, key_bytes, length);
  keylen = length;

  memcpy(c, ks0, sizeof ks0);
  memcpy(c + 256, ks1, sizeof ks1);
  memcpy(c + 512, ks2, sizeof ks2);
  memcpy(c + 768, ks3, sizeof ks3);

  uint32_t *p = PArray();
  uint32_t at = 0;
  for (int i = 0; i < BLOWFISH_P_WORDS; ++i) {
    uint32_t word = 0;
    for (int b = 0; b < 4 && keylen > 0; ++b) {
      word = (word << 8) | key[at];
      at = (at + 1) % keylen;
    }
    p[i] = p_init[i] ^ word;
  }

  uint32_t left = 0, right = 0;
  for (int i = 0; i < BLOWFISH_SBOX_WORDS + BLOWFISH_P_WORDS; i += 2) {
    Blowfish_EncipherWords(&left, &right);
    // P-array first, then the S-boxes in order.
    uint32_t *slot = i < BLOWFISH_P_WORDS ? p + i : c + (i - BLOWFISH_P_WORDS);
    slot[0] = left;
    slot[1] = right;
  }
}

}  // namespace namreg

extern "C" {

void Blowfish_SetKey(const unsigned char *key_bytes, uint32_t length) {
  namreg::Blowfish_BuildSchedule(kZeroP, key_bytes, length);
}

int Blowfish_Encrypt(const unsigned char *in, unsigned char *out, uint32_t length) {
  return TransformBuffer(in, out, length, namreg::Blowfish_EncipherWords);
}

int Blowfish_Decrypt(const unsigned char *in, unsigned char *out, uint32_t length) {
  return TransformBuffer(in, out, length, namreg::Blowfish_DecipherWords);
}

}  // extern "C"
