// SPDX-License-Identifier: MIT
// HLDM operations: one exchange of a request type against the context's HLDM
// server, followed by the matching reply parser.
#include "ddnsclient_internal.h"

#include <namreg/common.h>
#include <namreg/lookup.h>

#include <arpa/inet.h>
#include <stdio.h>
#include <syslog.h>

namespace {

// What a register keeps of its budget for confirming a registration whose
// reply was lost (at most a third of the budget).
constexpr uint64_t kConfirmReserveMs = 5000;

// Inside a public operation the exchange ends by that operation's deadline;
// called on its own it has the context's network time-out (or the default).
uint32_t Exchange(DDNSClientContext *context, HLDM_REQUEST_TYPE type, uint32_t default_timeout) {
  const uint32_t timeout =
      context->dwNetworkTimeout != 0 ? context->dwNetworkTimeout : default_timeout;
  const namreg::Deadline own(timeout);
  const namreg::Deadline &deadline =
      context->pOperationDeadline != nullptr ? *context->pOperationDeadline : own;
  return namreg::DDNSClient_CommunicateHLDMUntil(context, context->szHLDMServerName,
                                                 static_cast<uint16_t>(DDNSCLIENT_HLDM_PORT),
                                                 deadline, type);
}

// One exchange of `type` followed by its reply parser.  A null context
// prints "[<name>] Invalid arguments" (nothing when name is null).
uint32_t ExchangeAndParse(DDNSClientContext *context, const char *name, HLDM_REQUEST_TYPE type,
                          uint32_t default_timeout, uint32_t (*parse)(DDNSClientContext *)) {
  if (context == nullptr) {
    namreg::DDNSClient_PrintInvalidArguments(name);
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  const uint32_t result = Exchange(context, type, default_timeout);
  return result != DDNSCLIENT_OK ? result : parse(context);
}

}  // namespace

extern "C" uint32_t DDNSClient_CheckIP_HLDM(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_CheckIP_HLDM] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  uint32_t result = Exchange(context, HLDM_REQUEST_CHECK_IP, 20);
  if (result != DDNSCLIENT_OK) return result;
  char address[16];
  if (DDNSClient_GetIP(context->szResponse, "retc=0:", address) != 0) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_CheckIP_HLDM] Get IP failed");
    return DDNSCLIENT_E_FAIL;
  }
  DDNSClient_CopyText(context->szCurrentIP, address, sizeof context->szCurrentIP);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_Update_HLDM(DDNSClientContext *context) {
  return ExchangeAndParse(context, "DDNSClient_Update_HLDM", HLDM_REQUEST_UPDATE, 20,
                          DDNSClient_ProcessResponse_HLDMUpdate);
}

extern "C" uint32_t DDNSClient_Register_HLDM(DDNSClientContext *context, uint32_t *address) {
  if (context == nullptr || address == nullptr) {
    puts("[DDNSClient_Register_HLDM] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  // One budget for the exchange and, should its reply be lost, the
  // confirmation; the wait for the reply leaves the confirmation its share.
  const uint32_t timeout = context->dwNetworkTimeout != 0 ? context->dwNetworkTimeout : 30;
  const namreg::Deadline own(timeout);
  const namreg::Deadline &deadline =
      context->pOperationDeadline != nullptr ? *context->pOperationDeadline : own;
  const namreg::OperationBudget budget(context, deadline);
  const uint64_t left = deadline.LeftMs();
  const uint64_t reserve = left / 3 < kConfirmReserveMs ? left / 3 : kConfirmReserveMs;
  const namreg::Deadline reply_by = namreg::Deadline::AfterMs(left - reserve);
  uint32_t result = namreg::DDNSClient_CommunicateHLDMUntil(
      context, context->szHLDMServerName, static_cast<uint16_t>(DDNSCLIENT_HLDM_PORT), deadline,
      HLDM_REQUEST_REGISTER, &reply_by);
  if (result == DDNSCLIENT_OK) return DDNSClient_ProcessResponse_HLDMRegister(context, address);
  if (result != DDNSCLIENT_E_NO_REPLY) return result;

  // The request went out but the reply was lost: the registration counts
  // when the host name already resolves to the address the service sees.
  if (deadline.Expired()) return DDNSCLIENT_E_NO_REPLY;
  uint32_t resolved = 0;
  if (namreg::LookupHostUntil(context->szHLDMHostName, deadline, &resolved) != 0)
    return DDNSCLIENT_E_NO_REPLY;
  if (DDNSClient_CheckIP_HLDM(context) != DDNSCLIENT_OK) return DDNSCLIENT_E_NO_REPLY;
  if (resolved == 0 || resolved != inet_addr(context->szCurrentIP)) return DDNSCLIENT_E_NO_REPLY;
  *address = resolved;
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_RequestKey_HLDM(DDNSClientContext *context) {
  return ExchangeAndParse(context, "DDNSClient_RequestKey_HLDM", HLDM_REQUEST_REQUEST_KEY, 30,
                          DDNSClient_ProcessResponse_HLDMRequestKey);
}

extern "C" uint32_t DDNSClient_CheckHostname_HLDM(DDNSClientContext *context) {
  return ExchangeAndParse(context, "DDNSClient_CheckHostname_HLDM", HLDM_REQUEST_CHECK_HOSTNAME, 30,
                          DDNSClient_ProcessResponse_HLDMCheckHostname);
}

extern "C" uint32_t DDNSClient_Offline_HLDM(DDNSClientContext *context) {
  return ExchangeAndParse(context, nullptr, HLDM_REQUEST_OFFLINE, 30,
                          DDNSClient_ProcessResponse_HLDMOffline);
}
