// SPDX-License-Identifier: MIT
// What the provider adapters share: the keyword-table judge, the split of a
// host name into its first label and domain part, the fetch-then-judge step
// and the argument messages.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "provider_internal.h"

#include <namreg/text_safety.h>

namespace namreg {

namespace {

bool IsLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

const char *FindKeyword(const char *body, const char *keyword) {
  const size_t length = strlen(keyword);
  if (length == 0) return nullptr;
  const bool ends_in_digit = IsDigit(keyword[length - 1]);
  for (const char *at = strstr(body, keyword); at != nullptr; at = strstr(at + 1, keyword)) {
    if (at > body && IsLetterOrDigit(at[-1])) continue;  // "token" is not "ok"
    if (ends_in_digit && IsDigit(at[length])) continue;  // "2001" is not "200"
    return at;
  }
  return nullptr;
}

uint32_t JudgeReply(const char *body, const ReplyKeyword *table, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (FindKeyword(body, table[i].keyword) != nullptr) return table[i].result;
  return DDNSCLIENT_E_UNKNOWN_RESPONSE;
}

SplitResult SplitHostName(const char *name, char (&label)[kMaxFirstLabel + 1],
                          char (&domain)[kMaxDomainPart + 1]) {
  label[0] = '\0';
  domain[0] = '\0';
  const char *dot = name != nullptr ? strchr(name, '.') : nullptr;
  if (dot == nullptr || dot == name || dot[1] == '\0') return SplitResult::kNoDomain;
  const size_t label_length = static_cast<size_t>(dot - name);
  const size_t domain_length = strlen(dot + 1);
  if (label_length > kMaxFirstLabel || domain_length > kMaxDomainPart) return SplitResult::kTooLong;
  memcpy(label, name, label_length);
  label[label_length] = '\0';
  memcpy(domain, dot + 1, domain_length + 1);
  return SplitResult::kOk;
}

namespace {

// Appends at most `max` characters of `text` as they stand; false when not
// all of it fitted the room.
bool AppendPlain(char *out, size_t capacity, size_t *length, const char *text, size_t max) {
  size_t n = *length;
  size_t i = 0;
  for (; i < max && text[i] != '\0' && n + 1 < capacity; ++i) out[n++] = text[i];
  out[n] = '\0';
  *length = n;
  return i == max || text[i] == '\0';
}

// One walk of ComposeRequest's format over its arguments.  Without
// `request` it only looks for a value holding a control byte (false);
// with it, it appends after `*length` characters and stops at the first
// piece that does not fit whole, so that a request too long is cut at its
// end and nothing after the cut is written.
bool Walk(char (&request)[kRequestSize], size_t *length, const char *format, va_list args,
          bool write) {
  for (const char *f = format; *f != '\0'; ++f) {
    if (*f != '%') {
      if (write && !AppendPlain(request, sizeof request, length, f, 1)) return true;
      continue;
    }
    ++f;
    size_t max = static_cast<size_t>(-1);
    if (f[0] == '.' && f[1] == '*') {
      const int precision = va_arg(args, int);
      max = precision > 0 ? static_cast<size_t>(precision) : 0;
      f += 2;
    }
    bool whole = true;
    if (*f == 's') {
      const char *value = va_arg(args, const char *);
      if (value == nullptr) value = "";
      if (!write && HasControlByte(value, max)) return false;
      if (write) whole = AppendPercentEncoded(request, sizeof request, length, value, max);
    } else if (*f == 'd') {
      char number[16];
      snprintf(number, sizeof number, "%d", va_arg(args, int));
      if (write) whole = AppendPlain(request, sizeof request, length, number, sizeof number);
    } else if (*f == '%') {
      if (write) whole = AppendPlain(request, sizeof request, length, "%", 1);
    } else {
      return false;  // not a conversion the adapters use
    }
    if (!whole) return true;
  }
  return true;
}

// Checks every value first, then composes after `*length` characters
// already in `request` (when those fitted whole); false when a value holds
// a control byte.
bool ComposeInto(char (&request)[kRequestSize], size_t *length, bool room_left, const char *format,
                 va_list args) {
  va_list check;
  va_copy(check, args);
  const bool clean = Walk(request, length, format, check, false);
  va_end(check);
  if (!clean) return false;
  if (room_left) Walk(request, length, format, args, true);
  return true;
}

}  // namespace

bool ComposeRequest(char (&request)[kRequestSize], const char *format, ...) {
  request[0] = '\0';
  size_t length = 0;
  va_list args;
  va_start(args, format);
  const bool ok = ComposeInto(request, &length, true, format, args);
  va_end(args);
  if (!ok) request[0] = '\0';
  return ok;
}

bool ComposePathRequest(char (&request)[kRequestSize], const char *path, const char *format, ...) {
  request[0] = '\0';
  if (path == nullptr || HasControlByte(path)) return false;
  size_t length = 0;
  const bool whole =
      AppendPercentEncoded(request, sizeof request, &length, path, static_cast<size_t>(-1), "/");
  va_list args;
  va_start(args, format);
  const bool ok = ComposeInto(request, &length, whole, format, args);
  va_end(args);
  if (!ok) request[0] = '\0';
  return ok;
}

uint32_t RefusedText(const char *name) {
  printf("[%s] Text holds a control byte\r\n", name);
  return DDNSCLIENT_E_INVALID_ARGS;
}

uint32_t InvalidArguments(const char *name) {
  printf("[%s] Invalid arguments\r\n", name);
  return DDNSCLIENT_E_INVALID_ARGS;
}

uint32_t InvalidProvider(const char *name, const DDNSClientContext *context) {
  printf("[%s] Invalid service provider: %d\r\n", name,
         static_cast<int>(context->dwServiceProvider));
  return DDNSCLIENT_E_INVALID_ARGS;
}

uint32_t UpdateAndJudge(DDNSClientContext *context, const char *host, uint16_t port,
                        const char *path, uint32_t use_auth,
                        uint32_t (*judge)(DDNSClientContext *)) {
  const uint32_t result =
      DDNSClient_UpdateRoutine(context, host, port, path, use_auth, context->szFirmwareVersion);
  if (result != DDNSCLIENT_OK || judge == nullptr) return result;
  return judge(context);
}

}  // namespace namreg
