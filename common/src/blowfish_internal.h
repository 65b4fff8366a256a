// SPDX-License-Identifier: MIT
// Process-wide state of the Blowfish cipher and the word-level helpers
// behind Blowfish_SetKey / Blowfish_Encrypt / Blowfish_Decrypt.  Internal to
// the common library: the state itself has internal linkage, so that no
// symbol of a host program (a global `key` of its own, say) can meet it;
// the library's tests read it through the functions below.
#ifndef NAMREG_COMMON_BLOWFISH_INTERNAL_H
#define NAMREG_COMMON_BLOWFISH_INTERNAL_H

#include <stdint.h>

#define BLOWFISH_ROUNDS     16
#define BLOWFISH_P_WORDS    (BLOWFISH_ROUNDS + 2)
#define BLOWFISH_SBOX_WORDS (4 * 256)
#define BLOWFISH_MAX_KEY    56

namespace namreg {

// Initial S-box 0..3 (256 read-only words each).
const uint32_t *Blowfish_InitialSBox(int index);
// The current key (at most 56 bytes) and its length.
const unsigned char *Blowfish_CurrentKey(uint32_t *length);

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
