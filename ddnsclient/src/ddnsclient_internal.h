// SPDX-License-Identifier: MIT
// ddnsclient: the client context and the provider table, shared by the
// library's source files (and by the library's own tests).
#ifndef NAMREG_DDNSCLIENT_INTERNAL_H
#define NAMREG_DDNSCLIENT_INTERNAL_H

#include <namreg/ddnsclient.h>
#include <namreg/httpclient.h>
#include <namreg/osal.h>

#include <namreg/clock.h>
#include <namreg/deadline.h>
#include <namreg/text_safety.h>

#include <stddef.h>
#include <stdint.h>

#define DDNSCLIENT_HLDM_SALT_LENGTH 10u

struct DDNSClientContext {
  OSThreadKeyHandle hThreadKey;
  OSSemaphoreHandle hSemaphore;
  HTTPClientContext *pHTTPClient;
  uint32_t dwEnabled;
  uint32_t dwServiceProvider;
  char szHostName[128];
  char szUserName[64];
  char szPassword[64];
  uint32_t dwSettingsFlags;
  uint32_t dwUpdateInterval;  // minutes
  uint32_t dwCheckIPPortSwitch;
  uint32_t dwUpdatePortSwitch;
  char szDDNSServerName[64];
  char szMAC[13];
  char szFirmwareVersion[32];
  uint32_t dwPublicIPSource;  // 1 check-IP routine, 2 external address
  uint32_t dwLastIP;          // network byte order
  char szCurrentIP[16];
  uint32_t dwCheckIPSlot;
  uint32_t adwLastUpdateTick[DDNSCLIENT_PROVIDER_COUNT];
  // 1 once an update of the provider was attempted (a tick of 0 is a time
  // like any other).
  uint8_t abUpdateAttempted[DDNSCLIENT_PROVIDER_COUNT];
  uint32_t dwNetworkTimeout;  // seconds
  DDNSClientSettings tLastSettings;
  char szResponse[DDNSCLIENT_RESPONSE_SIZE + 1];
  // HLDM exchange
  char szSalt[DDNSCLIENT_HLDM_SALT_LENGTH + 1];
  char szHashedPassword[33];
  // GnuDIP exchange (the salt above is shared with it)
  char szTime[11];
  char szSign[33];
  char szHLDMServerName[64];
  char szHLDMEmail[64];
  char szHLDMKey[64];
  char szHLDMHostName[128];
  uint16_t wHTTPAlternativePort;
  uint32_t dwHTTPAlternativePortPresent;
  uint16_t wCheckIPPort;
  uint16_t wUpdatePort;
  char szProviderText1[256];
  char szProviderText2[256];
  char szMegaChipsText[64];
  char szProvider7Text[64];
  // The budget of the public operation in progress (null outside one): its
  // exchanges, retries included, all end by it.
  const namreg::Deadline *pOperationDeadline;
  // PeanutHull session, set by the login and advanced by every update reply
  uint32_t dwPeanutHullChatID;
  uint32_t dwPeanutHullSequence;
  // HTTPS of the provider fetches (DDNSClient_SetTLS): the mode, what every
  // fetch over TLS is refused with while it is not 0, and the CA file
  // (empty: the system bundle).
  uint32_t dwTLSMode;
  uint32_t dwTLSRefusal;
  char szTLSCAFile[DDNSCLIENT_TLS_CA_FILE_SIZE];
};

typedef uint32_t (*DDNSClientRoutine)(DDNSClientContext *context);

struct DDNSServiceInfo {
  uint32_t dwMinInterval;        // minutes
  DDNSClientRoutine pfnUpdate;   // null: none
  DDNSClientRoutine pfnCheckIP;  // null: none
};

namespace namreg {
extern const DDNSServiceInfo g_tDDNSServiceInfo[DDNSCLIENT_PROVIDER_COUNT];
}
using namreg::g_tDDNSServiceInfo;

namespace namreg {

// One PeanutHull login or update attempt that ends, at the latest, when
// `timeout_seconds` have passed since `start_ms` (the public operations hand
// down their own budget; the table routines start a fresh one).
uint32_t PeanutHullLogin(DDNSClientContext *context, uint32_t start_ms, uint32_t timeout_seconds);
uint32_t PeanutHullUpdate(DDNSClientContext *context, uint32_t start_ms, uint32_t timeout_seconds);

// Eight characters of 0-9 and a-z derived from two texts, then a NUL
// (output holds DDNSCLIENT_DERIVED_PASSWORD_SIZE bytes).
void DerivePassword(char *output, const char *first, const char *second);

// Bounded copy: at most size - 1 characters, always terminated.
void DDNSClient_CopyText(char *dest, const char *src, uint32_t size);

// Prints "[<who>] Invalid arguments\r" as a line (nothing when who is null).
void DDNSClient_PrintInvalidArguments(const char *who);

// Applies the settings of an update-type operation under the context's
// semaphore; on failure prints "[<who>] Process settings failed" and returns
// DDNSCLIENT_E_INVALID_ARGS.
uint32_t DDNSClient_TakeUpdateSettings(const char *who, DDNSClientContext *context,
                                       const DDNSClientSettings *settings);

// Providers 5 and 24, the HLDM service.
bool DDNSClient_IsHLDMProvider(uint32_t provider);

// Notes now as the time of an update attempt of `provider`, for
// DDNSClient_IsTimeToUpdate.
void DDNSClient_RecordAttempt(DDNSClientContext *context, uint32_t provider);

// Makes `deadline` the budget of the public operation in progress on the
// context for the life of the scope: every exchange, lookup and pause of
// the operation ends by it.
class OperationBudget {
 public:
  OperationBudget(DDNSClientContext *context, const Deadline &deadline)
      : context_(context), saved_(context->pOperationDeadline) {
    context->pOperationDeadline = &deadline;
  }
  ~OperationBudget() { context_->pOperationDeadline = saved_; }
  OperationBudget(const OperationBudget &) = delete;
  OperationBudget &operator=(const OperationBudget &) = delete;

 private:
  DDNSClientContext *context_;
  const Deadline *saved_;
};

// For a routine that makes several exchanges (salt and update, retried
// attempts): when no operation's budget is running, one of the context's
// network time-out (20 s when 0) for the life of the scope.
class RoutineBudget {
 public:
  explicit RoutineBudget(DDNSClientContext *context)
      : own_(context->dwNetworkTimeout != 0 ? context->dwNetworkTimeout : 20u),
        scope_(context,
               context->pOperationDeadline != nullptr ? *context->pOperationDeadline : own_) {}

 private:
  Deadline own_;
  OperationBudget scope_;
};

// Milliseconds an exchange of `timeout_seconds` may take now: that, cut to
// what is left of the operation's deadline when one runs.
uint64_t DDNSClient_ExchangeBudgetMs(const DDNSClientContext *context, uint32_t timeout_seconds);

// The socket primitives with the whole call bounded by `deadline` (the
// public ones take whole seconds from now).
uint32_t DDNSClient_SocketConnectUntil(int32_t *socket_fd, uint32_t address, uint16_t port,
                                       const Deadline &deadline);
int32_t DDNSClient_SendUntil(int32_t *socket_fd, const char *data, int32_t length,
                             const Deadline &deadline);
int32_t DDNSClient_ReceiveUntil(int32_t *socket_fd, char *buffer, uint32_t size,
                                const Deadline &deadline);
uint32_t DDNSClient_ReceiveSaltUntil(int32_t socket_fd, const Deadline &deadline, char *output,
                                     uint32_t output_length);

// One HLDM exchange (lookup, connect, greeting, request, reply) that ends
// by `deadline` whatever the server does; the wait for the reply ends by
// `reply_deadline` when one is given (earlier, to leave time for what
// follows a lost reply).
uint32_t DDNSClient_CommunicateHLDMUntil(DDNSClientContext *context, const char *server_name,
                                         uint16_t port, const Deadline &deadline,
                                         uint32_t request_type,
                                         const Deadline *reply_deadline = nullptr);

}  // namespace namreg

using namreg::DDNSClient_CopyText;

#endif  // NAMREG_DDNSCLIENT_INTERNAL_H
