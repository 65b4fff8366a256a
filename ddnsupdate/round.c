/* SPDX-License-Identifier: MIT */
#include "round.h"

#include <arpa/inet.h>
#include <errno.h>
#include <string.h>
#include <syslog.h>

#include "report.h"
#include "sources.h"

pthread_mutex_t dd_cache_lock = PTHREAD_MUTEX_INITIALIZER;

static void Copy(char *dest, size_t size, const char *src) {
  snprintf(dest, size, "%s", src != NULL ? src : "");
}

static int IsHldm(uint32_t provider) {
  return provider == DDNSCLIENT_PROVIDER_HLDM || provider == DDNSCLIENT_PROVIDER_HLDM2;
}

static void FillSettings(struct dd_host *host) {
  const struct dd_section *s = host->section;
  DDNSClientSettings *t = &host->settings;
  memset(t, 0, sizeof *t);
  /* The generic providers use the context for the check-IP page and, for
   * dyndns2, the authenticated fetch: it holds a dyndns2 account. */
  const uint32_t provider = s->provider->number != 0 ? s->provider->number : 1;
  t->dwFlags = DDNSCLIENT_FLAG_ENABLE | DDNSCLIENT_FLAG_PROVIDER | DDNSCLIENT_FLAG_HOSTNAME |
               DDNSCLIENT_FLAG_USERNAME | DDNSCLIENT_FLAG_PASSWORD | DDNSCLIENT_FLAG_INTERVAL;
  t->dwEnable = 1;
  t->dwServiceProvider = provider;
  Copy(t->szHostName, sizeof t->szHostName, host->name);
  Copy(t->szUserName, sizeof t->szUserName, s->user);
  Copy(t->szPassword, sizeof t->szPassword, s->password);
  t->dwUpdateInterval = s->interval;
  t->wHTTPAlternativePort = 80;
  if (s->server[0] != '\0' && s->provider->number != 0 && !IsHldm(provider)) {
    t->dwFlags |= DDNSCLIENT_FLAG_DDNS_SERVER;
    Copy(t->szDDNSServerName, sizeof t->szDDNSServerName, s->server);
  }
  if (s->server[0] != '\0' && IsHldm(provider)) {
    t->dwFlags |= DDNSCLIENT_FLAG_HLDM_SERVER;
    Copy(t->szHLDMServerName, sizeof t->szHLDMServerName, s->server);
  }
  if (s->checkip_port != 0) {
    t->dwFlags |= DDNSCLIENT_FLAG_CHECKIP_PORT;
    t->dwCheckIPPortSwitch = 1;
    t->wCheckIPPort = (uint16_t)s->checkip_port;
  }
  if (s->update_port != 0) {
    t->dwFlags |= DDNSCLIENT_FLAG_UPDATE_PORT;
    t->dwUpdatePortSwitch = 1;
    t->wUpdatePort = (uint16_t)s->update_port;
  }
  if (s->checkip_path[0] != '\0') {
    t->dwFlags |= DDNSCLIENT_FLAG_PROVIDER_TEXT1;
    Copy(t->szProviderText1, sizeof t->szProviderText1, s->checkip_path);
  }
  if (s->update_path[0] != '\0') {
    t->dwFlags |= DDNSCLIENT_FLAG_PROVIDER_TEXT2;
    Copy(t->szProviderText2, sizeof t->szProviderText2, s->update_path);
  }
  Copy(t->szProvider7Text, sizeof t->szProvider7Text, s->email);
  Copy(t->szMegaChipsText, sizeof t->szMegaChipsText, s->current_password);
  Copy(t->szCameraMAC, sizeof t->szCameraMAC, s->camera_mac);
  Copy(t->szCameraIP, sizeof t->szCameraIP, s->camera_address);
  t->wCameraPort = (uint16_t)s->camera_port;
}

static uint32_t StartContext(struct dd_host *host) {
  const struct dd_section *s = host->section;
  DDNSClientInitInfo info;
  memset(&info, 0, sizeof info);
  info.dwVersion = DDNSCLIENT_VERSION;
  Copy(info.szMAC, sizeof info.szMAC, s->mac);
  Copy(info.szFirmwareVersion, sizeof info.szFirmwareVersion, s->firmware);
  if (s->server[0] != '\0' && s->provider->number != 0) {
    if (IsHldm(s->provider->number))
      Copy(info.szHLDMServerName, sizeof info.szHLDMServerName, s->server);
    else
      Copy(info.szDDNSServerName, sizeof info.szDDNSServerName, s->server);
  }
  host->logged_in = 0;
  const uint32_t started = DDNSClient_Initial(&host->context, &info);
  if (started != DDNSCLIENT_OK) {
    DDNSClient_Release(&host->context);
    return started;
  }
  /* HTTPS to the provider's own hosts that offer it; a dyndns2 server of
   * the user's choice on the port given: HTTPS on 443, plain HTTP on any
   * other. */
  const int dyndns2 = s->provider->kind == DD_KIND_DYNDNS2;
  if (s->tls && (!dyndns2 || s->port == 443)) {
    const uint32_t mode = dyndns2 ? DDNSCLIENT_TLS_ALL : DDNSCLIENT_TLS_OFFERED;
    const uint32_t set = DDNSClient_SetTLS(host->context, mode, s->ca_file);
    if (set != DDNSCLIENT_OK) {
      DDNSClient_Release(&host->context);
      return set;
    }
  }
  if (s->provider->number != 0) return DDNSCLIENT_OK;
  const uint32_t stored = DDNSClient_SetParameters(host->context, &host->settings);
  if (stored != DDNSCLIENT_OK) return stored;
  /* ddnsupdate's own dyndns2 fetch answers a server's challenge with the
   * account the context holds; the update engine, which takes it from the
   * settings, never runs for these providers.  The host name stays out:
   * it would make the context look its address up. */
  DDNSClientSettings account = host->settings;
  account.dwFlags = DDNSCLIENT_FLAG_ENABLE | DDNSCLIENT_FLAG_PROVIDER | DDNSCLIENT_FLAG_USERNAME |
                    DDNSCLIENT_FLAG_PASSWORD;
  return DDNSClient_ProcessUpdateSettings(host->context, &account);
}

uint32_t dd_host_start(struct dd_host *host, const struct dd_section *section, const char *name,
                       const char *cache_dir) {
  memset(host, 0, sizeof *host);
  host->section = section;
  host->name = name;
  FillSettings(host);
  dd_schedule_start(&host->schedule, dd_clock_ms());
  if (cache_dir != NULL && cache_dir[0] != '\0' &&
      dd_cache_path(cache_dir, section->provider->name, name, host->cache_path,
                    sizeof host->cache_path))
    dd_cache_read(host->cache_path, &host->cache);
  else
    host->cache_path[0] = '\0';
  return StartContext(host);
}

void dd_host_stop(struct dd_host *host) {
  if (host->context != NULL) DDNSClient_Release(&host->context);
  memset(&host->settings, 0, sizeof host->settings);
}

/* Seconds left of a round's budget, at least one. */
static uint32_t Left(uint64_t start, uint32_t timeout) {
  const uint64_t spent = (dd_clock_ms() - start) / 1000u;
  return spent + 1 >= timeout ? 1 : timeout - (uint32_t)spent;
}

/* The address step of ddnsupdate's own (every source but a provider's own
 * check-IP page). */
static uint32_t LearnAddress(struct dd_host *host, uint32_t timeout, uint32_t *address) {
  const struct dd_section *s = host->section;
  if (s->source.kind != DD_SOURCE_CHECKIP)
    return dd_source_address(&s->source, timeout, s->firmware, s->ca_file, address);
  /* As the update engine does: up to four check-IP calls within the
   * budget, the general rotation moving on a page each time. */
  const uint64_t start = dd_clock_ms();
  const int rotate = s->provider->checkip_slot == 0;
  for (uint32_t attempt = 0; attempt < 4; ++attempt) {
    if (attempt > 0 && (dd_clock_ms() - start) / 1000u >= timeout) break;
    const uint32_t slot = rotate ? attempt : s->provider->checkip_slot;
    *address = 0;
    if (DDNSClient_GetPublicIP(host->context, Left(start, timeout), address, slot) ==
            DDNSCLIENT_OK &&
        *address != 0)
      return DDNSCLIENT_OK;
  }
  return DDNSCLIENT_E_NO_PUBLIC_IP;
}

static uint32_t EngineRound(struct dd_host *host, int refresh, uint32_t *address) {
  const struct dd_section *s = host->section;
  const uint64_t start = dd_clock_ms();
  const int own_page =
      s->provider->kind == DD_KIND_ENGINE_OWN && s->source.kind == DD_SOURCE_CHECKIP;
  /* A new context forgets the last address, so the engine sends it again. */
  if (refresh) {
    dd_host_stop(host);
    FillSettings(host);
    const uint32_t started = StartContext(host);
    if (started != DDNSCLIENT_OK) return started;
  }
  if (own_page) return DDNSClient_Update(host->context, &host->settings, s->timeout, address);
  uint32_t learnt = 0;
  const uint32_t found = LearnAddress(host, s->timeout, &learnt);
  if (found != DDNSCLIENT_OK) return found;
  if (!refresh && learnt == host->cache.address) {
    *address = learnt;
    return DDNSCLIENT_I_IP_UNCHANGED;
  }
  char text[INET_ADDRSTRLEN];
  struct in_addr in;
  in.s_addr = learnt;
  inet_ntop(AF_INET, &in, text, sizeof text);
  const uint32_t set = DDNSClient_SetExternalIP(host->context, 2, text);
  if (set != DDNSCLIENT_OK) return set;
  if (s->provider->kind == DD_KIND_DYNDNS2 || s->provider->kind == DD_KIND_URL) {
    const uint32_t result =
        s->provider->kind == DD_KIND_DYNDNS2
            ? dd_update_dyndns2(host->context, s, host->name, text, Left(start, s->timeout))
            : dd_update_url(s, host->name, text, Left(start, s->timeout));
    if (result == DDNSCLIENT_OK || result == DDNSCLIENT_E_NO_CHANGE) *address = learnt;
    return result;
  }
  return DDNSClient_Update(host->context, &host->settings, Left(start, s->timeout), address);
}

uint32_t dd_host_round(struct dd_host *host, enum dd_operation operation, uint32_t refresh_days,
                       uint32_t *address) {
  const struct dd_section *s = host->section;
  *address = 0;
  if (host->context == NULL) {
    const uint32_t started = StartContext(host);
    if (started != DDNSCLIENT_OK) return started;
  }
  switch (operation) {
    case DD_OP_IODATA_REGISTER:
    case DD_OP_IODATA_OFFLINE:
      return DDNSClient_IODATAProcess(host->context, &host->settings, s->timeout,
                                      operation == DD_OP_IODATA_REGISTER
                                          ? DDNSCLIENT_IODATA_REGISTER
                                          : DDNSCLIENT_IODATA_OFFLINE);
    case DD_OP_MEGACHIPS_PASSWORD:
      return DDNSClient_MegaChipsProcess(host->context, &host->settings, s->timeout,
                                         DDNSCLIENT_MEGACHIPS_CHANGE_PASSWORD);
    default:
      break;
  }
  switch (s->provider->kind) {
    case DD_KIND_PEANUTHULL: {
      /* The UDP update needs a login earlier in this context. */
      if (!host->logged_in) {
        const uint32_t r =
            DDNSClient_PeanutHullRegister(host->context, &host->settings, s->timeout, address);
        if (r != DDNSCLIENT_OK) return r;
        host->logged_in = 1;
      }
      const uint32_t r =
          DDNSClient_PeanutHullUpdate(host->context, &host->settings, s->timeout, address);
      if (r == DDNSCLIENT_E_NETWORK) host->logged_in = 0; /* log in again next round */
      return r;
    }
    case DD_KIND_MEGACHIPS:
      return DDNSClient_MegaChipsProcess(host->context, &host->settings, s->timeout,
                                         DDNSCLIENT_MEGACHIPS_UPDATE);
    default:
      return EngineRound(host, dd_cache_refresh_due(&host->cache, refresh_days, dd_wall_seconds()),
                         address);
  }
}

void dd_host_remember(struct dd_host *host, uint32_t result, uint32_t address) {
  struct dd_cache_entry next = host->cache;
  next.result = result;
  if ((result == DDNSCLIENT_OK || result == DDNSCLIENT_E_NO_CHANGE) && address != 0) {
    next.address = address;
    next.sent_at = dd_wall_seconds();
  }
  if (next.result == host->cache.result && next.address == host->cache.address &&
      next.sent_at == host->cache.sent_at)
    return;
  host->cache = next;
  if (host->cache_path[0] == '\0') return;
  pthread_mutex_lock(&dd_cache_lock);
  const int error = dd_cache_write(host->cache_path, &next);
  pthread_mutex_unlock(&dd_cache_lock);
  if (error != 0)
    dd_report(LOG_WARNING, "cannot write the cache file %s: %s", host->cache_path, strerror(error));
}
