// SPDX-License-Identifier: MIT
// Process-wide state of the Blowfish cipher and the word-level helpers
// behind Blowfish_SetKey / Blowfish_Encrypt / Blowfish_Decrypt.  Internal to
// the common library (and its tests): in namespace namreg, so that no
// symbol of a host program (a global `key` of its own, say) can meet them.
#ifndef NAMREG_COMMON_BLOWFISH_INTERNAL_H
#define NAMREG_COMMON_BLOWFISH_INTERNAL_H

#include <stdint.h>

#define BLOWFISH_ROUNDS     16
#define BLOWFISH_P_WORDS    (BLOWFISH_ROUNDS + 2)
#define BLOWFISH_SBOX_WORDS (4 * 256)
#define BLOWFISH_MAX_KEY    56

namespace namreg {

// The four initial S-boxes (read-only).
extern const uint32_t ks0[256];
extern const uint32_t ks1[256];
extern const uint32_t ks2[256];
extern const uint32_t ks3[256];

// Working key schedule: S-boxes 0..3 (256 words each), then the P-array.
extern uint32_t c[BLOWFISH_SBOX_WORDS + BLOWFISH_P_WORDS];
// Current key and its length (at most 56).
extern unsigned char key[BLOWFISH_MAX_KEY];
extern uint32_t keylen;

// Builds the schedule in `c` from the initial S-boxes, the given starting
// P-array and the key (capped at 56 bytes, stored in `key` / `keylen`).
// Blowfish_SetKey passes an all-zero P-array.
void Blowfish_BuildSchedule(const uint32_t p_init[BLOWFISH_P_WORDS], const unsigned char *key_bytes,
                            uint32_t length);

// One block as two words, left and right, with the schedule in `c`.
void Blowfish_EncipherWords(uint32_t *left, uint32_t *right);
void Blowfish_DecipherWords(uint32_t *left, uint32_t *right);

}  // namespace namreg

#endif  // NAMREG_COMMON_BLOWFISH_INTERNAL_H
