/* SPDX-License-Identifier: MIT */
/* The providers ddnsupdate knows: the library's numbered table (only the
 * numbers the library updates) and two generic ones of its own. */
#ifndef DDNSUPDATE_PROVIDERS_H
#define DDNSUPDATE_PROVIDERS_H

#include <stdint.h>
#include <stdio.h>

/* What a provider needs in its section (bits of dd_provider.needs). */
enum {
  DD_NEEDS_USER = 1 << 0,
  DD_NEEDS_PASSWORD = 1 << 1,
  DD_NEEDS_SERVER = 1 << 2,
  DD_NEEDS_PCCW = 1 << 3,    /* checkip-port, update-port, checkip-path, update-path */
  DD_NEEDS_CAMERA = 1 << 4,  /* camera-mac, camera-address, camera-port */
  DD_NEEDS_URL = 1 << 5,     /* url (and success keywords) */
  DD_TAKES_EMAIL = 1 << 6,   /* email (optional) */
  DD_TAKES_CURRENT = 1 << 7, /* current-password (optional) */
  DD_TAKES_PATH = 1 << 8     /* port and path (optional) */
};

/* How a round is run for the provider. */
enum dd_kind {
  DD_KIND_ENGINE_GENERAL, /* update engine; its check-IP page is one of the general four */
  DD_KIND_ENGINE_OWN,     /* update engine; the provider has a check-IP page of its own */
  DD_KIND_PEANUTHULL,     /* login, then UDP updates */
  DD_KIND_MEGACHIPS,      /* the provider learns the address itself */
  DD_KIND_DYNDNS2,        /* generic dyndns2 server */
  DD_KIND_URL             /* generic URL template */
};

struct dd_provider {
  const char *name;
  uint32_t number; /* 0: generic, not a library provider */
  unsigned needs;  /* DD_NEEDS_* | DD_TAKES_* */
  enum dd_kind kind;
  uint32_t checkip_slot; /* DD_KIND_ENGINE_GENERAL: slot of DDNSClient_GetPublicIP */
  uint32_t min_interval; /* minutes */
};

/* By name (any case) or working number; NULL when unknown. */
const struct dd_provider *dd_find_provider(const char *text);
/* The --list-providers table. */
void dd_list_providers(FILE *out);

#endif
