/* SPDX-License-Identifier: MIT */
/* The configuration: a [global] section and one section per account, read
 * from an INI file (inih), or one account from the command line. */
#ifndef DDNSUPDATE_CONFIG_H
#define DDNSUPDATE_CONFIG_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "providers.h"

#define DD_MAX_SECTIONS   16
#define DD_MAX_HOSTS      8
#define DD_DEFAULT_CONFIG "/etc/ddnsupdate.conf"
#define DD_DEFAULT_CACHE  "/var/cache/ddnsupdate"

enum dd_source_kind { DD_SOURCE_CHECKIP, DD_SOURCE_INTERFACE, DD_SOURCE_URL, DD_SOURCE_FIXED };

struct dd_source {
  enum dd_source_kind kind;
  char text[200]; /* interface name, URL or dotted address */
};

enum {
  DD_KEY_PROVIDER,
  DD_KEY_HOST,
  DD_KEY_USER,
  DD_KEY_PASSWORD,
  DD_KEY_PASSWORD_FILE,
  DD_KEY_SERVER,
  DD_KEY_PORT,
  DD_KEY_PATH,
  DD_KEY_URL,
  DD_KEY_SUCCESS,
  DD_KEY_FAILURE,
  DD_KEY_CHECKIP_PORT,
  DD_KEY_UPDATE_PORT,
  DD_KEY_CHECKIP_PATH,
  DD_KEY_UPDATE_PATH,
  DD_KEY_CAMERA_MAC,
  DD_KEY_CAMERA_ADDRESS,
  DD_KEY_CAMERA_PORT,
  DD_KEY_EMAIL,
  DD_KEY_CURRENT_PASSWORD,
  DD_KEY_INTERVAL,
  DD_KEY_TIMEOUT,
  DD_KEY_ADDRESS,
  DD_KEY_TLS,
  DD_KEY_CA_FILE,
  DD_KEY_MAC,
  DD_KEY_FIRMWARE,
  DD_KEY_CACHE_DIR,
  DD_KEY_SYSLOG,
  DD_KEY_VERBOSE,
  DD_KEY_REFRESH_DAYS,
  DD_KEY_COUNT
};

struct dd_section {
  char name[64];
  int line;                   /* of the section header; 0 from the command line */
  int key_line[DD_KEY_COUNT]; /* where each key was set; 0: not set */
  const struct dd_provider *provider;
  char provider_text[32]; /* as written */
  char hosts[DD_MAX_HOSTS][128];
  int host_count;
  char user[64];
  char password[64];
  char password_file[200];
  char server[64];
  uint32_t port;
  char path[200];
  char url[200];
  char success[200]; /* comma-separated keywords */
  char failure[200];
  uint32_t checkip_port, update_port;
  char checkip_path[200], update_path[200];
  char camera_mac[14];
  char camera_address[16];
  uint32_t camera_port;
  char email[64];
  char current_password[64];
  uint32_t interval; /* minutes */
  uint32_t timeout;  /* seconds */
  struct dd_source source;
  int tls;
  char ca_file[200];
  char mac[13];
  char firmware[32];
  /* [global] only */
  char cache_dir[200];
  int use_syslog;
  int verbose;
  uint32_t refresh_days;
};

struct dd_config {
  char path[200]; /* the file read, or "" */
  struct dd_section global;
  struct dd_section sections[DD_MAX_SECTIONS];
  int section_count;
  int holds_password; /* the file itself holds a password */
};

/* Defaults of the [global] section. */
void dd_config_defaults(struct dd_config *config);
/* Reads and checks a file.  0 on success; else the line of the first error
 * (or -1 when the file cannot be read), with the message in `error`. */
int dd_config_load(const char *path, struct dd_config *config, char *error, size_t size);
/* Checks a configuration built another way (the command line); the same
 * return as dd_config_load. */
int dd_config_finish(struct dd_config *config, char *error, size_t size);
/* The command line's tls and ca-file (set in `from`) over every section of a
 * loaded file; 1, or 0 with the message (an https:// URL with HTTPS off, a CA
 * file that cannot be read). */
int dd_config_apply_tls(struct dd_config *config, const struct dd_section *from, char *error,
                        size_t size);
/* Sets one key of a section as the file would; 1, or 0 with the message. */
int dd_config_set(struct dd_config *config, struct dd_section *section, const char *name,
                  const char *value, int line, char *error, size_t size);
/* What would run, passwords masked (--check-config). */
void dd_config_print(const struct dd_config *config, FILE *out);
/* Reads the first line of a password file; 0 on success, else an errno
 * value (EINVAL: a control byte or an overlong line). */
int dd_read_password_file(const char *path, char *out, size_t size);
/* 1 when the file can be read by group or others. */
int dd_file_is_shared(const char *path);
/* A MAC as 12 hexadecimal digits or six pairs joined by ':' or '-', to 12
 * upper-case digits; 0 when it is neither. */
int dd_parse_mac(const char *text, char out[13]);
/* "checkip", "interface:NAME", "url:http://..." or a dotted address. */
int dd_parse_source(const char *text, struct dd_source *source, char *error, size_t size);

#endif
