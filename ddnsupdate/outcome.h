/* SPDX-License-Identifier: MIT */
/* What a round's result means: the words of its outcome line and what the
 * schedule does next; and the escaping of outside text in every line. */
#ifndef DDNSUPDATE_OUTCOME_H
#define DDNSUPDATE_OUTCOME_H

#include <stddef.h>
#include <stdint.h>

enum dd_action {
  DD_ACTION_DONE,     /* success: next round after the interval */
  DD_ACTION_RETRY,    /* transient failure: back off */
  DD_ACTION_PERMANENT /* refused: stop this host until reload */
};

enum dd_class {
  DD_UPDATED,
  DD_NO_CHANGE_NEEDED, /* the provider already had the address */
  DD_UNCHANGED,        /* nothing sent: the address is the one last sent */
  DD_AUTH_REFUSED,
  DD_HOST_REFUSED,
  DD_NETWORK_ERROR,
  DD_NO_NAME_SERVER,
  DD_ADDRESS_UNKNOWN,
  DD_SERVER_ERROR,
  DD_REFUSED_PERMANENTLY,
  DD_SETTINGS_REFUSED,
  DD_CERTIFICATE_REFUSED, /* the server's certificate did not pass the check */
  DD_TLS_FAILED,          /* TLS failed otherwise (handshake, version, record) */
  DD_CLASS_COUNT
};

/* A result of the library (or of ddnsupdate's own generic providers) to its
 * class; no_name_server: /etc/resolv.conf names no server at present. */
enum dd_class dd_classify(uint32_t result, int no_name_server);
const char *dd_class_words(enum dd_class c);
/* What the outcome line says after the class's words for a result of HTTPS
 * (the certificate's fault, the clock for dates, the CA file), "" for any
 * other; `now` is the wall clock (seconds since 1970). */
void dd_result_detail(uint32_t result, int64_t now, char *out, size_t size);
enum dd_action dd_class_action(enum dd_class c);
int dd_class_is_success(enum dd_class c);

/* Copies `in` to `out` (size > 0, always terminated) with every control
 * byte (0x00-0x1F, 0x7F) written as \xNN; a cut never splits an escape. */
void dd_escape(const char *in, char *out, size_t size);
/* The first control byte of `text`, or -1 when there is none. */
int dd_control_byte(const char *text);

#endif
