// SPDX-License-Identifier: MIT
// What the provider adapters share: the keyword-table judge, the split of a
// host name into its first label and domain part, the fetch-then-judge step
// and the argument messages.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "provider_internal.h"

namespace namreg {

uint32_t JudgeReply(const char *body, const ReplyKeyword *table, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (strstr(body, table[i].keyword) != nullptr) return table[i].result;
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

void ComposeRequest(char (&request)[kRequestSize], const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(request, sizeof request, format, args);
  va_end(args);
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
