/* SPDX-License-Identifier: MIT */
#define _DEFAULT_SOURCE /* strtok_r, strncasecmp */
#include "sources.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <namreg/httpclient.h>
#include <namreg/netutility.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

/* A GET of an http:// or https:// URL into `body` (size bytes,
 * terminated); a DDNS result code.  ca_file: the CAs of an https:// URL. */
static uint32_t FetchUrl(const char *url, const char *user, const char *password, uint32_t timeout,
                         const char *agent, const char *ca_file, char *body, uint32_t size) {
  const int https = strncasecmp(url, "https://", 8) == 0;
  if (!https && strncasecmp(url, "http://", 7) != 0) return DDNSCLIENT_E_INVALID_ARGS;
  const char *host = url + (https ? 8 : 7);
  const size_t host_length = strcspn(host, ":/");
  if (host_length == 0 || host_length >= HTTPCLIENT_HOST_SIZE) return DDNSCLIENT_E_INVALID_ARGS;
  HTTPClientInfo *info = calloc(1, sizeof *info);
  if (info == NULL) return DDNSCLIENT_E_NO_MEMORY;
  memcpy(info->tServer.szHost, host, host_length);
  const char *rest = host + host_length;
  info->tServer.dwPort = https ? 443 : 80;
  if (*rest == ':') {
    char *end = NULL;
    const unsigned long port = strtoul(rest + 1, &end, 10);
    if (port == 0 || port > 65535 || (*end != '/' && *end != '\0')) {
      free(info);
      return DDNSCLIENT_E_INVALID_ARGS;
    }
    info->tServer.dwPort = (uint32_t)port;
    rest = end;
  }
  snprintf(info->szURI, sizeof info->szURI, "%s", *rest == '/' ? rest : "/");
  if (user != NULL && user[0] != '\0') {
    snprintf(info->tServer.szUser, sizeof info->tServer.szUser, "%s", user);
    snprintf(info->tServer.szPassword, sizeof info->tServer.szPassword, "%s",
             password != NULL ? password : "");
  }
  snprintf(info->szUserAgent, sizeof info->szUserAgent, "%s", agent);
  const uint64_t budget_us = (uint64_t)timeout * 1000000u;
  info->dwTotalTimeout = budget_us > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)budget_us;
  info->pRecvBuffer = body;
  info->dwRecvSize = size - 1;
  memset(body, 0, size);
  HTTPClientHandle client = NULL;
  uint32_t result = HTTPClient_Initial(&client, HTTPCLIENT_VERSION);
  if (result == HTTPCLIENT_OK) {
    if (https) {
      HTTPClientTLSOptions tls;
      memset(&tls, 0, sizeof tls);
      tls.dwEnable = 1;
      snprintf(tls.szCAFile, sizeof tls.szCAFile, "%s", ca_file != NULL ? ca_file : "");
      (void)HTTPClient_SetTLS(client, &tls); /* a refusal is the GET's result */
    }
    result = HTTPClient_Get(client, info);
    HTTPClient_Release(&client);
    if ((result >> 24) == 0x80u)
      result = DDNSClient_MapHTTPError(result);
    else
      result = info->dwRecvSize != 0 ? DDNSCLIENT_OK : DDNSCLIENT_E_NETWORK;
  } else {
    result = DDNSCLIENT_E_HTTP_CLIENT;
  }
  free(info);
  return result;
}

uint32_t dd_source_address(const struct dd_source *source, uint32_t timeout, const char *agent,
                           const char *ca_file, uint32_t *address) {
  *address = 0;
  switch (source->kind) {
    case DD_SOURCE_FIXED: {
      struct in_addr in;
      if (inet_pton(AF_INET, source->text, &in) != 1) return DDNSCLIENT_E_NO_PUBLIC_IP;
      *address = in.s_addr;
      return DDNSCLIENT_OK;
    }
    case DD_SOURCE_INTERFACE: {
      const int type =
          strcmp(source->text, "wlan0") == 0 ? NETUTILITY_IF_WIRELESS : NETUTILITY_IF_WIRED;
      uint32_t found = 0;
      if (NetUtility_GetLocalIP(type, &found) != 0 || found == 0) return DDNSCLIENT_E_NO_PUBLIC_IP;
      *address = found;
      return DDNSCLIENT_OK;
    }
    case DD_SOURCE_URL: {
      char *body = malloc(4096);
      if (body == NULL) return DDNSCLIENT_E_NO_MEMORY;
      uint32_t result = FetchUrl(source->text, NULL, NULL, timeout, agent, ca_file, body, 4096);
      char text[16];
      struct in_addr in;
      if (result == DDNSCLIENT_OK && DDNSClient_GetIP(body, NULL, text) == 0 &&
          inet_pton(AF_INET, text, &in) == 1 && in.s_addr != 0)
        *address = in.s_addr;
      free(body);
      /* A refused certificate is told as such, not as an unknown address. */
      if (DDNSCLIENT_IS_CERT_FAILURE(result) || result == DDNSCLIENT_E_TLS ||
          result == DDNSCLIENT_E_TLS_CA_FILE)
        return result;
      return *address != 0 ? DDNSCLIENT_OK : DDNSCLIENT_E_NO_PUBLIC_IP;
    }
    default:
      return DDNSCLIENT_E_NO_PUBLIC_IP;
  }
}

int dd_percent_encode(const char *in, char *out, size_t size) {
  size_t n = 0;
  for (const unsigned char *p = (const unsigned char *)in; *p != '\0'; ++p) {
    if (isalnum(*p) || *p == '-' || *p == '.' || *p == '_' || *p == '~') {
      if (n + 1 >= size) return 0;
      out[n++] = (char)*p;
    } else {
      if (n + 3 >= size) return 0;
      snprintf(out + n, 4, "%%%02X", *p);
      n += 3;
    }
  }
  if (n >= size) return 0;
  out[n] = '\0';
  return 1;
}

int dd_fill_template(const char *template_text, const char *host, const char *address,
                     const char *user, const char *password, char *out, size_t size) {
  size_t n = 0;
  for (const char *p = template_text; *p != '\0'; ++p) {
    if (*p != '%') {
      if (n + 1 >= size) return 0;
      out[n++] = *p;
      continue;
    }
    const char *value = NULL;
    switch (*++p) {
      case 'h':
        value = host;
        break;
      case 'i':
        value = address;
        break;
      case 'u':
        value = user;
        break;
      case 'p':
        value = password;
        break;
      case '%':
        if (n + 1 >= size) return 0;
        out[n++] = '%';
        continue;
      default:
        return 0;
    }
    if (!dd_percent_encode(value != NULL ? value : "", out + n, size - n)) return 0;
    n += strlen(out + n);
  }
  if (n >= size) return 0;
  out[n] = '\0';
  return 1;
}

/* 1 when one of the comma-separated keywords is in the body. */
static int HasKeyword(const char *body, const char *list) {
  char copy[200];
  snprintf(copy, sizeof copy, "%s", list);
  char *save = NULL;
  for (char *word = strtok_r(copy, ",", &save); word != NULL; word = strtok_r(NULL, ",", &save)) {
    while (*word == ' ') ++word;
    size_t length = strlen(word);
    while (length > 0 && word[length - 1] == ' ') word[--length] = '\0';
    if (length > 0 && strstr(body, word) != NULL) return 1;
  }
  return 0;
}

int dd_judge_body(const char *body, const char *success, const char *failure) {
  if (failure != NULL && failure[0] != '\0' && HasKeyword(body, failure)) return -1;
  return HasKeyword(body, success) ? 1 : 0;
}

uint32_t dd_update_dyndns2(DDNSClientContext *context, const struct dd_section *section,
                           const char *host, const char *address, uint32_t timeout) {
  char encoded_host[400], encoded_address[64];
  if (!dd_percent_encode(host, encoded_host, sizeof encoded_host) ||
      !dd_percent_encode(address, encoded_address, sizeof encoded_address))
    return DDNSCLIENT_E_INVALID_ARGS;
  char path[700];
  const int n =
      snprintf(path, sizeof path, "%s%chostname=%s&myip=%s", section->path,
               strchr(section->path, '?') != NULL ? '&' : '?', encoded_host, encoded_address);
  if (n < 0 || (size_t)n >= sizeof path) return DDNSCLIENT_E_INVALID_ARGS;
  const uint32_t result = DDNSClient_Communicate(context, section->server, (uint16_t)section->port,
                                                 path, timeout, 1, section->firmware);
  if (result != DDNSCLIENT_OK) return result;
  return DDNSClient_ProcessResponse_DynDNS(context);
}

uint32_t dd_update_url(const struct dd_section *section, const char *host, const char *address,
                       uint32_t timeout) {
  char url[1200];
  if (!dd_fill_template(section->url, host, address, section->user, section->password, url,
                        sizeof url))
    return DDNSCLIENT_E_INVALID_ARGS;
  char *body = malloc(DDNSCLIENT_RESPONSE_SIZE + 1);
  if (body == NULL) return DDNSCLIENT_E_NO_MEMORY;
  uint32_t result = FetchUrl(url, section->user, section->password, timeout, section->firmware,
                             section->ca_file, body, DDNSCLIENT_RESPONSE_SIZE + 1);
  if (result == DDNSCLIENT_OK) {
    const int verdict = dd_judge_body(body, section->success, section->failure);
    result = verdict > 0   ? DDNSCLIENT_OK
             : verdict < 0 ? DDNSCLIENT_E_NOT_ACTIVE
                           : DDNSCLIENT_E_UNKNOWN_RESPONSE;
  }
  free(body);
  return result;
}
