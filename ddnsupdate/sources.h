/* SPDX-License-Identifier: MIT */
/* Where the address comes from (an interface, a URL, a fixed address) and
 * the two generic providers (a dyndns2 server of the user's choice and a URL
 * template), over the library's HTTP client. */
#ifndef DDNSUPDATE_SOURCES_H
#define DDNSUPDATE_SOURCES_H

#include <namreg/ddnsclient.h>
#include <stddef.h>
#include <stdint.h>

#include "config.h"

/* The address of a non-check-IP source (network byte order); 0 or a DDNS
 * result code (0x8002000B when it cannot be learnt, a certificate refusal
 * of an https:// page as such).  ca_file: the CAs of an https:// URL ("":
 * the system's). */
uint32_t dd_source_address(const struct dd_source *source, uint32_t timeout, const char *agent,
                           const char *ca_file, uint32_t *address);
/* Percent-encodes `in` (every byte but A-Z a-z 0-9 - . _ ~); 0 when it does
 * not fit. */
int dd_percent_encode(const char *in, char *out, size_t size);
/* The URL template with %h %i %u %p (percent-encoded) and %% filled in;
 * 0 when it does not fit or holds another %-sequence. */
int dd_fill_template(const char *template_text, const char *host, const char *address,
                     const char *user, const char *password, char *out, size_t size);
/* Judges a reply body by comma-separated keywords: 1 success, -1 failure,
 * 0 neither (failure keywords are looked for first). */
int dd_judge_body(const char *body, const char *success, const char *failure);
/* One update of a generic provider; a DDNS result code. */
uint32_t dd_update_dyndns2(DDNSClientContext *context, const struct dd_section *section,
                           const char *host, const char *address, uint32_t timeout);
uint32_t dd_update_url(const struct dd_section *section, const char *host, const char *address,
                       uint32_t timeout);

#endif
