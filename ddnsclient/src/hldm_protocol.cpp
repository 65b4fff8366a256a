// SPDX-License-Identifier: MIT
// HLDM DDNS protocol: the salted password hash, the six request composers,
// one exchange over TCP (greeting with the salt, encoded request line, reply
// until the server closes) and the reply parsers.
#include "ddnsclient_internal.h"

#include <namreg/common.h>
#include <namreg/netutility.h>

#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include <namreg/fd_util.h>
#include <namreg/lookup.h>
#include <namreg/text_safety.h>

namespace {

bool BadComposerArguments(const DDNSClientContext *context, const char *buffer, uint32_t size,
                          const char *who) {
  if (context != nullptr && buffer != nullptr && size != 0) return false;
  namreg::DDNSClient_PrintInvalidArguments(who);
  return true;
}

}  // namespace

extern "C" uint32_t DDNSClient_HashingPassword_HLDM(const char *mac, const char *salt,
                                                    char *output) {
  if (mac == nullptr || mac[0] == '\0' || salt == nullptr || salt[0] == '\0' || output == nullptr) {
    puts("[DDNSClient_HashingPassword_HLDM] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char text[32];
  snprintf(text, sizeof text, "%s.%s.HALDRIM", mac, salt);
  MD5_StringHex(output, text);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_ComposeHLDMCheckIPRequest(DDNSClientContext *context, char *buffer,
                                                         uint32_t size) {
  if (BadComposerArguments(context, buffer, size, "DDNSClient_ComposeHLDMCheckIPRequest"))
    return DDNSCLIENT_E_INVALID_ARGS;
  // One character less than the others: at most 247 of the 249.
  if (size < 2) {
    buffer[0] = '\0';
    return DDNSCLIENT_OK;
  }
  snprintf(buffer, size - 1, "checkIP&%s", context->szSalt);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_ComposeHLDMUpdateRequest(DDNSClientContext *context, char *buffer,
                                                        uint32_t size) {
  if (BadComposerArguments(context, buffer, size, "DDNSClient_ComposeHLDMUpdateRequest"))
    return DDNSCLIENT_E_INVALID_ARGS;
  DDNSClient_HashingPassword_HLDM(context->szMAC, context->szSalt, context->szHashedPassword);
  if (context->dwHTTPAlternativePortPresent)
    snprintf(buffer, size, "%s:%s:%s:%s:%s:0:%s:%d", context->szSalt, context->szMAC,
             context->szHashedPassword, context->szHostName, context->szFirmwareVersion,
             context->szCurrentIP, static_cast<int>(context->wHTTPAlternativePort));
  else
    snprintf(buffer, size, "%s:%s:%s:%s:%s:0:%s", context->szSalt, context->szMAC,
             context->szHashedPassword, context->szHostName, context->szFirmwareVersion,
             context->szCurrentIP);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_ComposeHLDMRegisterRequest(DDNSClientContext *context, char *buffer,
                                                          uint32_t size) {
  if (BadComposerArguments(context, buffer, size, "DDNSClient_ComposeHLDMRegisterRequest"))
    return DDNSCLIENT_E_INVALID_ARGS;
  if (context->dwHTTPAlternativePortPresent)
    snprintf(buffer, size, "salt=%s&MAC=%s&email=%s&key=%s&hostname=%s&firmwareversion=%s&port=%d",
             context->szSalt, context->szMAC, context->szHLDMEmail, context->szHLDMKey,
             context->szHLDMHostName, context->szFirmwareVersion,
             static_cast<int>(context->wHTTPAlternativePort));
  else
    snprintf(buffer, size, "salt=%s&MAC=%s&email=%s&key=%s&hostname=%s&firmwareversion=%s",
             context->szSalt, context->szMAC, context->szHLDMEmail, context->szHLDMKey,
             context->szHLDMHostName, context->szFirmwareVersion);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_ComposeHLDMRequestKeyRequest(DDNSClientContext *context,
                                                            char *buffer, uint32_t size) {
  if (BadComposerArguments(context, buffer, size, "DDNSClient_ComposeHLDMRequestKeyRequest"))
    return DDNSCLIENT_E_INVALID_ARGS;
  snprintf(buffer, size, "forgetpassword&salt=%s&email=%s&hostname=%s", context->szSalt,
           context->szHLDMEmail, context->szHLDMHostName);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_ComposeHLDMCheckHostnameRequest(DDNSClientContext *context,
                                                               char *buffer, uint32_t size) {
  if (BadComposerArguments(context, buffer, size, "DDNSClient_ComposeHLDMCheckHostnameRequest"))
    return DDNSCLIENT_E_INVALID_ARGS;
  snprintf(buffer, size, "checkHostname&salt=%s&MAC=%s&hostname=%s", context->szSalt,
           context->szMAC, context->szHLDMHostName);
  return DDNSCLIENT_OK;
}

extern "C" uint32_t DDNSClient_ComposeHLDMOfflineRequest(DDNSClientContext *context, char *buffer,
                                                         uint32_t size) {
  if (BadComposerArguments(context, buffer, size, nullptr)) return DDNSCLIENT_E_INVALID_ARGS;
  DDNSClient_HashingPassword_HLDM(context->szMAC, context->szSalt, context->szHashedPassword);
  snprintf(buffer, size, "%s:%s:%s:%s:%s:1", context->szSalt, context->szMAC,
           context->szHashedPassword, context->szHLDMHostName, context->szFirmwareVersion);
  return DDNSCLIENT_OK;
}

namespace {

typedef uint32_t (*HLDMComposer)(DDNSClientContext *context, char *buffer, uint32_t size);

// Indexed by HLDM_REQUEST_TYPE.
constexpr HLDMComposer kComposers[HLDM_REQUEST_TYPE_COUNT] = {
    DDNSClient_ComposeHLDMCheckIPRequest,       DDNSClient_ComposeHLDMUpdateRequest,
    DDNSClient_ComposeHLDMRegisterRequest,      DDNSClient_ComposeHLDMRequestKeyRequest,
    DDNSClient_ComposeHLDMCheckHostnameRequest, DDNSClient_ComposeHLDMOfflineRequest,
};

constexpr int32_t kEncodeCapacity = 499;

// A server's text shown in a log line: control bytes escaped, at most this
// many bytes of it.
constexpr size_t kShownSize = 1024;

}  // namespace

namespace namreg {

uint32_t DDNSClient_CommunicateHLDMUntil(DDNSClientContext *context, const char *server_name,
                                         uint16_t port, const Deadline &deadline,
                                         uint32_t request_type, const Deadline *reply_deadline) {
  if (context == nullptr || server_name == nullptr || server_name[0] == '\0') {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] Invalid arguments");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (request_type >= HLDM_REQUEST_TYPE_COUNT) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] Invalid request type");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  uint32_t address = 0;
  if (LookupHostUntil(server_name, deadline, &address) != 0) {
    char shown[kShownSize];
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] DNS resolve failed: %s",
               EscapeControls(server_name, shown, sizeof shown));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  // Closes the socket on every way out, including a reply that filled the
  // whole buffer (the receive leaves the socket open then).
  fdutil::SocketGuard socket_guard;

  if (DDNSClient_SocketConnectUntil(&socket_guard.fd, address, port, deadline) != 0) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] connect failed");
    return DDNSCLIENT_E_NETWORK;
  }
  if (deadline.Expired()) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] timeout after connect");
    return DDNSCLIENT_E_NETWORK;
  }
  if (DDNSClient_ReceiveSaltUntil(socket_guard.fd, deadline, context->szSalt,
                                  DDNSCLIENT_HLDM_SALT_LENGTH) != 0) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] recv salt failed");
    return DDNSCLIENT_E_NETWORK;
  }
  if (deadline.Expired()) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] timeout after connect");
    return DDNSCLIENT_E_NETWORK;
  }

  char request[DDNSCLIENT_HLDM_REQUEST_SIZE];
  request[0] = '\0';
  // A field that brought a control byte in (the server's salt, say) stops
  // the request whole: nothing of it reaches the server.
  if (kComposers[request_type](context, request, sizeof request) != 0 || HasControlByte(request)) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] compose request string failed");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char encoded[kEncodeCapacity + 2];  // room for the line end after the text
  int32_t capacity = kEncodeCapacity;
  int32_t length = HALDStrCodec_Encode(reinterpret_cast<const unsigned char *>(request),
                                       static_cast<int32_t>(strlen(request)), encoded, &capacity);
  if (length == CODEC_ERR_OUTPUT_SIZE) {
    printf("[DDNSClient_Communicate_HLDM_TCP] Encode:Require output size = %d\r\n",
           static_cast<int>(capacity));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (length < 0 || length > kEncodeCapacity - 1) {
    printf(
        "[DDNSClient_Communicate_HLDM_TCP] HALDStrCodec_Encode failed with Encode error = %x\r\n",
        static_cast<unsigned>(length));
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  encoded[length] = '\r';
  encoded[length + 1] = '\n';
  if (DDNSClient_SendUntil(&socket_guard.fd, encoded, length + 2, deadline) != 0) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] Send failed");
    return DDNSCLIENT_E_NETWORK;
  }
  if (deadline.Expired()) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] timeout after send");
    return DDNSCLIENT_E_NETWORK;
  }
  // The whole reply, however the server paces it, arrives by the deadline.
  if (DDNSClient_ReceiveUntil(&socket_guard.fd, context->szResponse, DDNSCLIENT_RESPONSE_SIZE,
                              reply_deadline != nullptr ? *reply_deadline : deadline) != 0) {
    Log_Syslog(LOG_WARNING, "[DDNSClient_Communicate_HLDM_TCP] Receive failed");
    return DDNSCLIENT_E_NO_REPLY;
  }
  return DDNSCLIENT_OK;
}

}  // namespace namreg

extern "C" uint32_t DDNSClient_Communicate_HLDM_TCP(DDNSClientContext *context,
                                                    const char *server_name, uint16_t port,
                                                    uint32_t timeout_seconds,
                                                    uint32_t request_type) {
  return namreg::DDNSClient_CommunicateHLDMUntil(context, server_name, port,
                                                 namreg::Deadline(timeout_seconds), request_type);
}

// ---- Reply parsers ----------------------------------------------------------

namespace {

bool Has(const DDNSClientContext *context, const char *marker) {
  return strstr(context->szResponse, marker) != nullptr;
}

}  // namespace

extern "C" uint32_t DDNSClient_ProcessResponse_HLDMUpdate(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_ProcessResponse_HLDMUpdate] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (Has(context, "retc=0")) return DDNSCLIENT_OK;
  if (Has(context, "retc=1")) return DDNSCLIENT_E_HOSTNAME_EMAIL;
  char shown[kShownSize];
  Log_Syslog(LOG_WARNING, "[DDNSClient_ProcessResponse_HLDMUpdate] Invalid received message %s",
             namreg::EscapeControls(context->szResponse, shown, sizeof shown));
  return DDNSCLIENT_E_NO_REPLY;
}

extern "C" uint32_t DDNSClient_ProcessResponse_HLDMRegister(DDNSClientContext *context,
                                                            uint32_t *address) {
  if (context == nullptr || address == nullptr) {
    puts("[DDNSClient_ProcessResponse_HLDMRegister] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  char *reply = context->szResponse;
  char *found = strstr(reply, "retc=0");
  if (found != nullptr) {
    const char *host = context->szHLDMHostName;
    if (strstr(reply, host) == nullptr) return DDNSCLIENT_E_SERVER_UNKNOWN;
    // The address follows "retc=0:", the whole host name and a colon.
    const size_t prefix = strlen("retc=0:") + strlen(host) + 1;
    if (prefix > strlen(found)) return DDNSCLIENT_E_SERVER_UNKNOWN;
    char *start = found + prefix;
    char *colon = strchr(start, ':');
    char shown[kShownSize];
    if (colon != nullptr) {
      printf("pcPtr = %s\n", namreg::EscapeControls(colon, shown, sizeof shown));
      colon[1] = '\0';
    } else {
      puts(namreg::EscapeControls(start, shown, sizeof shown));
    }
    size_t length = strlen(start);
    if (length == 0) return DDNSCLIENT_E_SERVER_UNKNOWN;
    --length;  // the closing colon (or the reply's last character)
    if (length > 15 || !NetUtility_IsValidIP(start, static_cast<int>(length)))
      return DDNSCLIENT_E_SERVER_UNKNOWN;
    char text[16];
    memcpy(text, start, length);
    text[length] = '\0';
    // Only a plain dotted quad: inet_addr would read a leading zero as octal
    // and turn a group like 099 into the all-ones "address".
    struct in_addr parsed;
    if (inet_pton(AF_INET, text, &parsed) != 1) return DDNSCLIENT_E_SERVER_UNKNOWN;
    *address = parsed.s_addr;
    return DDNSCLIENT_OK;
  }
  if (Has(context, "retc=2")) return DDNSCLIENT_E_TOO_SOON;
  if (Has(context, "retc=3")) return DDNSCLIENT_E_SERVER_MAC;
  if (Has(context, "retc=4")) return DDNSCLIENT_E_HOSTNAME_IN_USE;
  return DDNSCLIENT_E_UNKNOWN_RESPONSE;
}

extern "C" uint32_t DDNSClient_ProcessResponse_HLDMRequestKey(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_ProcessResponse_HLDMRequestKey] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (Has(context, "retc=0")) return DDNSCLIENT_OK;
  if (Has(context, "retc=1")) return DDNSCLIENT_E_HOSTNAME_EMAIL;
  return DDNSCLIENT_E_UNKNOWN_RESPONSE;
}

extern "C" uint32_t DDNSClient_ProcessResponse_HLDMCheckHostname(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_ProcessResponse_HLDMCheckHostname] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  if (Has(context, "retc=0")) return DDNSCLIENT_OK;
  if (Has(context, "retc=1")) return DDNSCLIENT_I_HOSTNAME_OTHER_CAMERA;
  if (Has(context, "retc=2")) return DDNSCLIENT_I_HOSTNAME_THIS_CAMERA;
  return DDNSCLIENT_E_UNKNOWN_RESPONSE;
}

extern "C" uint32_t DDNSClient_ProcessResponse_HLDMOffline(DDNSClientContext *context) {
  if (context == nullptr) {
    puts("[DDNSClient_ProcessResponse_HLDMOffline] Invalid arguments\r");
    return DDNSCLIENT_E_INVALID_ARGS;
  }
  return Has(context, "retc=2") ? DDNSCLIENT_OK : DDNSCLIENT_E_UNKNOWN_RESPONSE;
}
