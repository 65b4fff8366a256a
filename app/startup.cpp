// SPDX-License-Identifier: MIT
// namreg: start the DDNS client, run one HLDM operation, log its outcome.
#include "cmdline.h"

#include <namreg/common.h>
#include <namreg/ddnsclient.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

namespace {

constexpr uint32_t kTimeoutSeconds = 30;

void Copy(char *dest, size_t size, const char *src) {
  snprintf(dest, size, "%s", src ? src : "");
}

struct Outcome {
  uint32_t code;
  const char *line;
};

// Logs the line of `code` from the table at priority 4, or `other` when the
// code is not in it (nothing when `other` is null).
void LogOutcome(uint32_t code, const Outcome *table, size_t count, const char *other) {
  for (size_t i = 0; i < count; ++i) {
    if (table[i].code == code) {
      Log_Syslog(LOG_WARNING, "%s", table[i].line);
      return;
    }
  }
  if (other != nullptr) Log_Syslog(LOG_WARNING, "%s", other);
}

void ReportRegisterResult(uint32_t code, const char *host_name, uint32_t address) {
  if (code == DDNSCLIENT_OK) {
    struct in_addr in;
    in.s_addr = address;
    Log_Syslog(LOG_CRIT, "Register successfully. Hostname: %s (IP: %s)", host_name, inet_ntoa(in));
    return;
  }
  static const Outcome kLines[] = {
      {DDNSCLIENT_E_SERVER_NAME, "Invalid server name for register"},
      {DDNSCLIENT_E_INVALID_ARGS, "Invalid arguments for register"},
      {DDNSCLIENT_E_TOO_SOON, "Hostname has registered or changed successfully in 10 minutes"},
      {DDNSCLIENT_E_SERVER_MAC, "Invalid MAC for register"},
      {DDNSCLIENT_E_HOSTNAME_IN_USE, "Hostname is already in use"},
      {DDNSCLIENT_E_NETWORK, "Network error for register"},
      {DDNSCLIENT_E_SERVER_UNKNOWN, "Unknown server error for register."},
  };
  LogOutcome(code, kLines, sizeof kLines / sizeof kLines[0], "Unknown error for register");
}

void ReportRequestKeyResult(uint32_t code) {
  if (code == DDNSCLIENT_OK) {
    Log_Syslog(LOG_CRIT, "%s", "Request key successfully");
    return;
  }
  static const Outcome kLines[] = {
      {DDNSCLIENT_E_SERVER_NAME, "Invalid server name for request key"},
      {DDNSCLIENT_E_INVALID_ARGS, "Invalid arguments for request key"},
      {DDNSCLIENT_E_HOSTNAME_EMAIL, "Request key failed because of invalid hostname/email"},
      {DDNSCLIENT_E_NETWORK, "Network error for request key"},
  };
  LogOutcome(code, kLines, sizeof kLines / sizeof kLines[0], "Unknown error for request key");
}

// Exit status: 0 free, 1 used by another camera, 2 this camera's, 3 otherwise.
int ReportCheckHostnameResult(uint32_t code) {
  static const Outcome kLines[] = {
      {DDNSCLIENT_I_HOSTNAME_OTHER_CAMERA, "This hostname is used by other camera"},
      {DDNSCLIENT_I_HOSTNAME_THIS_CAMERA, "This hostname belongs to you"},
      {DDNSCLIENT_E_SERVER_NAME, "Invalid server name for check hostname"},
      {DDNSCLIENT_E_INVALID_ARGS, "Invalid arguments for check hostname"},
      {DDNSCLIENT_E_HOSTNAME_EMAIL, "check hostname failed because of invalid hostname/email"},
      {DDNSCLIENT_E_NETWORK, "Network error for check hostname"},
  };
  LogOutcome(code, kLines, sizeof kLines / sizeof kLines[0], nullptr);
  switch (code) {
    case DDNSCLIENT_OK:
      return 0;
    case DDNSCLIENT_I_HOSTNAME_OTHER_CAMERA:
      return 1;
    case DDNSCLIENT_I_HOSTNAME_THIS_CAMERA:
      return 2;
    default:
      return 3;
  }
}

}  // namespace

int RunOperation(const CommandLine &cmd) {
  DDNSClientInitInfo info;
  memset(&info, 0, sizeof info);
  info.dwVersion = DDNSCLIENT_VERSION;
  Copy(info.szMAC, sizeof info.szMAC, cmd.mac);
  Copy(info.szFirmwareVersion, sizeof info.szFirmwareVersion, cmd.firmware);

  DDNSClientContext *context = nullptr;
  if (DDNSClient_Initial(&context, &info) != DDNSCLIENT_OK) {
    Log_Syslog(LOG_ALERT, "%s", "Initialize DDNS client failed");
    DDNSClient_Release(&context);
    return 1;
  }

  DDNSClientSettings settings;
  memset(&settings, 0, sizeof settings);
  Copy(settings.szHLDMServerName, sizeof settings.szHLDMServerName,
       cmd.server != nullptr ? cmd.server : NAMREG_DEFAULT_SERVER);
  settings.dwServiceProvider = DDNSCLIENT_PROVIDER_HLDM;
  Copy(settings.szHostName, sizeof settings.szHostName, cmd.host_name);
  Copy(settings.szUserName, sizeof settings.szUserName, cmd.email);

  int status;
  if (cmd.reg) {
    if (cmd.quickbridge != nullptr) {
      settings.dwFlags |= DDNSCLIENT_FLAG_HTTP_ALT_PORT;
      // A working UPnP mapping announces port 0; otherwise the
      // alternative port the camera's HTTP server listens on.
      if (atoi(cmd.quickbridge) == 0) {
        const char *port = getenv("HTTP_ALTERNATIVE_PORT");
        if (port == nullptr) {
          Log_Syslog(LOG_WARNING, "%s", "Invalid HTTP alternative port");
          DDNSClient_Release(&context);
          return 1;
        }
        settings.wHTTPAlternativePort = static_cast<uint16_t>(atoi(port));
      }
    }
    Copy(settings.szPassword, sizeof settings.szPassword, cmd.key);
    settings.dwFlags |= 0x11E;
    uint32_t address = 0;
    const uint32_t code = DDNSClient_HLDMRegister(context, &settings, kTimeoutSeconds, &address);
    ReportRegisterResult(code, settings.szHostName, address);
    status = static_cast<int>(code);
  } else if (cmd.forget) {
    settings.dwFlags = 0x10E;
    const uint32_t code = DDNSClient_HLDMRequestKey(context, &settings, kTimeoutSeconds);
    ReportRequestKeyResult(code);
    status = static_cast<int>(code);
  } else {
    settings.dwFlags = 0x106;
    status = ReportCheckHostnameResult(
        DDNSClient_HLDMCheckHostname(context, &settings, kTimeoutSeconds));
  }
  DDNSClient_Release(&context);
  return status;
}
