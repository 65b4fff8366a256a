/* SPDX-License-Identifier: MIT */
#define _POSIX_C_SOURCE 200809L /* gmtime_r */
#include "outcome.h"

#include <namreg/ddnsclient.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

enum dd_class dd_classify(uint32_t result, int no_name_server) {
  switch (result) {
    case DDNSCLIENT_OK:
      return DD_UPDATED;
    case DDNSCLIENT_E_NO_CHANGE:
      return DD_NO_CHANGE_NEEDED;
    case DDNSCLIENT_I_IP_UNCHANGED:
      return DD_UNCHANGED;
    case DDNSCLIENT_E_AUTH:
    case DDNSCLIENT_E_SERIAL:
    case DDNSCLIENT_E_PASSWORD:
      return DD_AUTH_REFUSED;
    case DDNSCLIENT_E_HOSTNAME:
    case DDNSCLIENT_E_HOSTNAME_EMAIL:
    case DDNSCLIENT_E_HOSTNAME_IN_USE:
    case DDNSCLIENT_I_HOSTNAME_OTHER_CAMERA:
      return DD_HOST_REFUSED;
    case DDNSCLIENT_E_ABUSE:
    case DDNSCLIENT_E_AGENT_REFUSED:
    case DDNSCLIENT_E_SYSTEM_PARAMETER:
    case DDNSCLIENT_E_NOT_ACTIVE:
    case DDNSCLIENT_E_SERVER_MAC:
    case DDNSCLIENT_E_ALREADY_REGISTERED:
      return DD_REFUSED_PERMANENTLY;
    case DDNSCLIENT_E_NO_PUBLIC_IP:
      return no_name_server ? DD_NO_NAME_SERVER : DD_ADDRESS_UNKNOWN;
    case DDNSCLIENT_E_SERVER_DNS:
    case DDNSCLIENT_E_DB_CONNECT:
    case DDNSCLIENT_E_DB_UPDATE:
    case DDNSCLIENT_E_DB_REFERENCE:
    case DDNSCLIENT_E_DNS_UPDATE:
    case DDNSCLIENT_E_SORRY:
    case DDNSCLIENT_E_TOO_SOON:
    case DDNSCLIENT_E_UNKNOWN_RESPONSE:
    case DDNSCLIENT_E_HTTP_400:
    case DDNSCLIENT_E_SERVER_UNKNOWN:
      return DD_SERVER_ERROR;
    case DDNSCLIENT_E_NETWORK:
    case DDNSCLIENT_E_NO_REPLY:
    case DDNSCLIENT_E_REPLY_TIMEOUT:
    case DDNSCLIENT_E_HTTP_CLIENT:
    case DDNSCLIENT_E_FAIL:
      return no_name_server ? DD_NO_NAME_SERVER : DD_NETWORK_ERROR;
    case DDNSCLIENT_E_CERT_UNTRUSTED:
    case DDNSCLIENT_E_CERT_EXPIRED:
    case DDNSCLIENT_E_CERT_NAME:
    case DDNSCLIENT_E_CERT_REFUSED:
      return DD_CERTIFICATE_REFUSED;
    case DDNSCLIENT_E_TLS:
      return DD_TLS_FAILED;
    case DDNSCLIENT_E_INVALID_ARGS:
      /* Libraries that read an empty resolv.conf as bad settings: that is
       * a network that is not up yet, not a setting to fix. */
      return no_name_server ? DD_NO_NAME_SERVER : DD_SETTINGS_REFUSED;
    default:
      return DD_SETTINGS_REFUSED;
  }
}

const char *dd_class_words(enum dd_class c) {
  static const char *const kWords[DD_CLASS_COUNT] = {
      "updated",
      "no change needed",
      "unchanged",
      "authentication refused",
      "host name refused",
      "network error",
      "network error (no name server)",
      "public address unknown",
      "server error",
      "refused permanently",
      "settings refused",
      "certificate refused",
      "TLS failed",
  };
  return (unsigned)c < DD_CLASS_COUNT ? kWords[c] : "failed";
}

enum dd_action dd_class_action(enum dd_class c) {
  switch (c) {
    case DD_UPDATED:
    case DD_NO_CHANGE_NEEDED:
    case DD_UNCHANGED:
      return DD_ACTION_DONE;
    case DD_NETWORK_ERROR:
    case DD_NO_NAME_SERVER:
    case DD_ADDRESS_UNKNOWN:
    case DD_SERVER_ERROR:
    /* Nothing was sent; a clock set later, or a server's new certificate,
     * lets a later round through. */
    case DD_CERTIFICATE_REFUSED:
    case DD_TLS_FAILED:
      return DD_ACTION_RETRY;
    default:
      return DD_ACTION_PERMANENT;
  }
}

void dd_result_detail(uint32_t result, int64_t now, char *out, size_t size) {
  const char *text = "";
  switch (result) {
    case DDNSCLIENT_E_CERT_UNTRUSTED:
      text = "not from a trusted CA";
      break;
    case DDNSCLIENT_E_CERT_EXPIRED: {
      /* Cameras start with their clock at 1970 until it is set. */
      const time_t seconds = (time_t)now;
      struct tm utc;
      char when[32] = "?";
      if (gmtime_r(&seconds, &utc) != NULL) strftime(when, sizeof when, "%Y-%m-%d %H:%M", &utc);
      snprintf(out, size, "expired or not yet valid (the clock says %s UTC: is it set?)", when);
      return;
    }
    case DDNSCLIENT_E_CERT_NAME:
      text = "not for this host";
      break;
    case DDNSCLIENT_E_CERT_REFUSED:
      text = "unusable (weak key or hash, or not for a server)";
      break;
    case DDNSCLIENT_E_TLS:
      text = "the handshake failed (a server of TLS 1.1 or older, or not TLS)";
      break;
    case DDNSCLIENT_E_TLS_CA_FILE:
      text = "the CA file cannot be read or holds no certificate";
      break;
    case DDNSCLIENT_E_TLS_NOT_BUILT:
      text = "HTTPS asked for, and this build has no TLS";
      break;
    default:
      break;
  }
  snprintf(out, size, "%s", text);
}

int dd_class_is_success(enum dd_class c) {
  return dd_class_action(c) == DD_ACTION_DONE;
}

void dd_escape(const char *in, char *out, size_t size) {
  size_t n = 0;
  for (const unsigned char *p = (const unsigned char *)(in != NULL ? in : ""); *p != '\0'; ++p) {
    if (*p < 0x20 || *p == 0x7F) {
      if (n + 4 >= size) break;
      snprintf(out + n, 5, "\\x%02x", *p);
      n += 4;
    } else {
      if (n + 1 >= size) break;
      out[n++] = (char)*p;
    }
  }
  out[n] = '\0';
}

int dd_control_byte(const char *text) {
  for (const unsigned char *p = (const unsigned char *)text; *p != '\0'; ++p)
    if (*p < 0x20 || *p == 0x7F) return *p;
  return -1;
}
