// SPDX-License-Identifier: MIT
// Texts from outside (caller, command line, server) on their way to the
// wire or to a log: control bytes are found before anything is sent, query
// values are percent-encoded, and what is printed shows control bytes as
// \xNN so that no text can end a line or forge another.
#ifndef NAMREG_INTERNAL_TEXT_SAFETY_H
#define NAMREG_INTERNAL_TEXT_SAFETY_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

namespace namreg {

inline bool IsControlByte(unsigned char c) {
  return c < 0x20u || c == 0x7Fu;
}

// True when the first `max` bytes of `text`, up to its terminator, hold a
// control byte (0x01-0x1F, 0x7F).  A null text holds none.
bool HasControlByte(const char *text, size_t max = static_cast<size_t>(-1));

// Appends `text` (at most `max` bytes, up to its terminator) to `out`,
// which holds `*length` characters of `capacity` bytes: A-Z a-z 0-9 and
// "-._~@:" (and the bytes of `keep`) as they are, every other byte as %XX
// with upper-case digits.  Nothing past the room is written, no escape is
// cut, and `out` stays terminated; false when not all of it fitted.
bool AppendPercentEncoded(char *out, size_t capacity, size_t *length, const char *text,
                          size_t max = static_cast<size_t>(-1), const char *keep = "");

// `text` with every control byte written as \xNN (lower-case digits), cut
// to fit `capacity` (never inside an escape) and terminated; returns out.
// A null text gives "(null)".
const char *EscapeControls(const char *text, char *out, size_t capacity);

// Writes `text` to `out` with every control byte as \xNN (no buffer of
// its own, whatever the length).
void PutEscaped(FILE *out, const char *text);

// Room for a text of n bytes with every byte escaped.
constexpr size_t EscapedSize(size_t n) {
  return 4 * n + 1;
}

}  // namespace namreg

#endif  // NAMREG_INTERNAL_TEXT_SAFETY_H
