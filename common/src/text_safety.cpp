// SPDX-License-Identifier: MIT
#include "namreg/text_safety.h"

#include <string.h>

namespace namreg {

namespace {

const char kHex[] = "0123456789ABCDEF";
const char kLowerHex[] = "0123456789abcdef";

bool KeptAsItIs(unsigned char c, const char *keep) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  if (c == '-' || c == '.' || c == '_' || c == '~' || c == '@' || c == ':') return true;
  return c != 0 && keep != nullptr && strchr(keep, c) != nullptr;
}

}  // namespace

bool HasControlByte(const char *text, size_t max) {
  if (text == nullptr) return false;
  for (size_t i = 0; i < max && text[i] != '\0'; ++i)
    if (IsControlByte(static_cast<unsigned char>(text[i]))) return true;
  return false;
}

bool AppendPercentEncoded(char *out, size_t capacity, size_t *length, const char *text, size_t max,
                          const char *keep) {
  if (capacity == 0) return false;
  size_t n = *length;
  if (n >= capacity) n = capacity - 1;
  bool whole = true;
  for (size_t i = 0; text != nullptr && i < max && text[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (KeptAsItIs(c, keep)) {
      if (n + 1 >= capacity) {
        whole = false;
        break;
      }
      out[n++] = static_cast<char>(c);
    } else {
      if (n + 3 >= capacity) {
        whole = false;
        break;
      }
      out[n++] = '%';
      out[n++] = kHex[c >> 4];
      out[n++] = kHex[c & 0x0F];
    }
  }
  out[n] = '\0';
  *length = n;
  return whole;
}

const char *EscapeControls(const char *text, char *out, size_t capacity) {
  if (capacity == 0) return out;
  if (text == nullptr) text = "(null)";
  size_t n = 0;
  for (size_t i = 0; text[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!IsControlByte(c)) {
      if (n + 1 >= capacity) break;
      out[n++] = static_cast<char>(c);
      continue;
    }
    if (n + 4 >= capacity) break;
    out[n++] = '\\';
    out[n++] = 'x';
    out[n++] = kLowerHex[c >> 4];
    out[n++] = kLowerHex[c & 0x0F];
  }
  out[n] = '\0';
  return out;
}

void PutEscaped(FILE *out, const char *text) {
  if (text == nullptr) text = "(null)";
  // A piece at a time through a small buffer.
  char piece[64];
  size_t n = 0;
  for (; *text != '\0'; ++text) {
    const unsigned char c = static_cast<unsigned char>(*text);
    if (n + 5 > sizeof piece) {
      piece[n] = '\0';
      fputs(piece, out);
      n = 0;
    }
    if (IsControlByte(c)) {
      piece[n++] = '\\';
      piece[n++] = 'x';
      piece[n++] = kLowerHex[c >> 4];
      piece[n++] = kLowerHex[c & 0x0F];
    } else {
      piece[n++] = static_cast<char>(c);
    }
  }
  piece[n] = '\0';
  fputs(piece, out);
}

}  // namespace namreg
