/* SPDX-License-Identifier: MIT */
/*
 * common: diagnostics (syslog line, level-masked debug print) and the
 * digest, cipher and base64 primitives.
 *
 * C interface; every call is usable from C and C++ host programs.
 */
#ifndef NAMREG_COMMON_H
#define NAMREG_COMMON_H

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include "namreg/version.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Diagnostics ------------------------------------------------------ */

/* Mask bits of Debug_Print: 0x80000000 sends the text to the print hook,
 * 0x10000000 writes it to _db_fptr; the other bits select by level only. */
#define DEBUG_MASK_TELNET 0x80000000u
#define DEBUG_MASK_FILE   0x10000000u

typedef int (*DebugPrintHook)(const char *format, va_list args);

extern uint32_t g_dwDbgLevel;              /* debug mask, 0 at start        */
extern DebugPrintHook g_pfnTelnetDbgPrint; /* print hook, Debug_NullPrint   */
extern FILE *_db_fptr;                     /* debug stream, null at start   */

/* vsyslog with the caller's openlog ident and facility. */
void Log_Syslog(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));

void Debug_Init(uint32_t level, const char *file_name);
void Debug_SetLevel(uint32_t level);
void Debug_Print(uint32_t mask, const char *format, ...) __attribute__((format(printf, 2, 3)));
int Debug_TelnetPrint(const char *format, ...) __attribute__((format(printf, 1, 2)));
int Debug_NullPrint(const char *format, va_list args);

/* ---- MD5 (RFC 1321) and HMAC-MD5 (RFC 2104) --------------------------- */

typedef struct MD5Context {
  uint32_t state[4];
  uint32_t count[2]; /* bit count, low word first */
  unsigned char buffer[64];
} MD5Context;

void MD5Init(MD5Context *context);
void MD5Update(MD5Context *context, const unsigned char *input, unsigned int length);
void MD5Final(unsigned char digest[16], MD5Context *context);

/* Raw 16-byte digest of a text, then one zero byte (17 bytes written). */
void MD5_String(unsigned char out[17], const char *text);
/* 32 lower-case hex characters and a terminator (33 bytes written). */
void MD5_StringHex(char out[33], const char *text);
/* Hex digest of the texts joined with nothing between them; the list of
 * texts ends with a null pointer. */
void MD5_ListHex(char out[33], const char *text, ...);

void HMAC_MD5(const unsigned char *key, int key_length, const unsigned char *data, int data_length,
              unsigned char out[16]);

/* ---- Blowfish variant --------------------------------------------------
 * One process-wide key schedule.  The P-array starts from zero words and
 * blocks are read as two little-endian halves; ECB over whole 8-byte blocks,
 * a trailing partial block is left as copied.  Keys are capped at 56 bytes. */
void Blowfish_SetKey(const unsigned char *key_bytes, uint32_t length);
int Blowfish_Encrypt(const unsigned char *in, unsigned char *out, uint32_t length);
int Blowfish_Decrypt(const unsigned char *in, unsigned char *out, uint32_t length);

/* ---- Base64 (RFC 4648 alphabet, "=" padding, no line breaks) ---------- */

/* Writes 4 * ceil(length / 3) characters, no terminator; capacity is not
 * consulted.  Returns the number of characters written. */
int Base64_Encode(const unsigned char *in, uint16_t length, char *out, int capacity);
/* Encodes a text without its terminator; -1 (nothing written) when capacity
 * is not greater than 4 * (length / 3 + length % 3). */
int Base64_EncodeString(const char *text, char *out, int capacity);
/* Lenient decoder: CR/LF skipped, unknown characters count as 0.  Returns the
 * number of bytes decoded (a zero byte follows them), or -1 when capacity is
 * not greater than 3 * (strlen(text) / 4). */
int Base64_Decode(const char *text, unsigned char *out, int capacity);

#ifdef __cplusplus
}
#endif

#endif /* NAMREG_COMMON_H */
