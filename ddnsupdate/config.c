/* SPDX-License-Identifier: MIT */
#define _DEFAULT_SOURCE /* strcasecmp */
#include "config.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <namreg/ddnsclient.h>
#include <namreg/httpclient.h>
#include <sys/stat.h>
#include <unistd.h>

#include "outcome.h"

#ifdef DDNSUPDATE_HAVE_INIH
#include <ini.h>
#endif

enum Scope { kGlobal = 1, kAccount = 2, kBoth = 3 };
enum Type { kText, kSecret, kNumber, kBool, kProvider, kHosts, kSource, kMac, kAddress, kUrl };

struct Key {
  const char *name;
  enum Scope scope;
  enum Type type;
  size_t offset;
  size_t size; /* text: the field's size; number: the highest value */
  uint32_t low;
};

#define F(field)            offsetof(struct dd_section, field), sizeof(((struct dd_section *)0)->field)
#define N(field, high, low) offsetof(struct dd_section, field), high, low

/* In the order of the DD_KEY_* numbers. */
static const struct Key kKeys[DD_KEY_COUNT] = {
    {"provider", kAccount, kProvider, 0, 0, 0},
    {"host", kAccount, kHosts, 0, 0, 0},
    {"user", kAccount, kText, F(user), 0},
    {"password", kAccount, kSecret, F(password), 0},
    {"password-file", kAccount, kText, F(password_file), 0},
    {"server", kAccount, kText, F(server), 0},
    {"port", kAccount, kNumber, N(port, 65535, 1)},
    {"path", kAccount, kText, F(path), 0},
    {"url", kAccount, kUrl, F(url), 0},
    {"success", kAccount, kText, F(success), 0},
    {"failure", kAccount, kText, F(failure), 0},
    {"checkip-port", kAccount, kNumber, N(checkip_port, 65535, 1)},
    {"update-port", kAccount, kNumber, N(update_port, 65535, 1)},
    {"checkip-path", kAccount, kText, F(checkip_path), 0},
    {"update-path", kAccount, kText, F(update_path), 0},
    {"camera-mac", kAccount, kMac, F(camera_mac), 0},
    {"camera-address", kAccount, kAddress, F(camera_address), 0},
    {"camera-port", kAccount, kNumber, N(camera_port, 65535, 1)},
    {"email", kAccount, kText, F(email), 0},
    {"current-password", kAccount, kSecret, F(current_password), 0},
    {"interval", kBoth, kNumber, N(interval, 10080, 1)},
    {"timeout", kBoth, kNumber, N(timeout, 3600, 1)},
    {"address", kBoth, kSource, 0, 0, 0},
    {"tls", kBoth, kBool, N(tls, 1, 0)},
    {"ca-file", kBoth, kText, F(ca_file), 0},
    {"mac", kBoth, kMac, F(mac), 0},
    {"firmware", kBoth, kText, F(firmware), 0},
    {"cache-dir", kGlobal, kText, F(cache_dir), 0},
    {"syslog", kGlobal, kBool, N(use_syslog, 1, 0)},
    {"verbose", kGlobal, kBool, N(verbose, 1, 0)},
    {"refresh-days", kGlobal, kNumber, N(refresh_days, 3650, 0)},
};

static int Error(char *error, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

static int Error(char *error, size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(error, size, format, args);
  va_end(args);
  return 0;
}

void dd_config_defaults(struct dd_config *config) {
  /* The sections are cleared as they are begun: the record is large, and
   * most of it stays unused. */
  memset(config->path, 0, sizeof config->path);
  memset(&config->global, 0, sizeof config->global);
  memset(&config->sections[0], 0, sizeof config->sections[0]);
  config->section_count = 0;
  config->holds_password = 0;
  struct dd_section *g = &config->global;
  snprintf(g->name, sizeof g->name, "global");
  g->interval = 10;
  g->timeout = 20;
  g->source.kind = DD_SOURCE_CHECKIP;
  snprintf(g->cache_dir, sizeof g->cache_dir, "%s", DD_DEFAULT_CACHE);
  g->refresh_days = 28;
  snprintf(g->mac, sizeof g->mac, "020000000001");
  snprintf(g->firmware, sizeof g->firmware, "ddnsupdate");
  /* HTTPS where the provider offers it, when the libraries speak TLS. */
  g->tls = HTTPClient_TLSBuiltIn() != 0;
}

int dd_parse_mac(const char *text, char out[13]) {
  size_t n = 0;
  const size_t length = strlen(text);
  const int separated = length == 17;
  if (length != 12 && !separated) return 0;
  for (size_t i = 0; i < length; ++i) {
    if (separated && i % 3 == 2) {
      if (text[i] != ':' && text[i] != '-') return 0;
      if (text[i] != text[2]) return 0; /* one separator throughout */
      continue;
    }
    if (!isxdigit((unsigned char)text[i])) return 0;
    out[n++] = (char)toupper((unsigned char)text[i]);
  }
  out[n] = '\0';
  return n == 12;
}

static int IsAddress(const char *text) {
  struct in_addr in;
  return inet_pton(AF_INET, text, &in) == 1 && in.s_addr != 0;
}

static int IsHttpsUrl(const char *url) {
  return strncasecmp(url, "https://", 8) == 0;
}

/* http://HOST[:PORT]/PATH or https://... with a host the HTTP client can
 * hold. */
static int CheckUrl(const char *url, char *error, size_t size) {
  if (IsHttpsUrl(url) && !HTTPClient_TLSBuiltIn())
    return Error(error, size, "the URL '%s' needs TLS, and this build has none", url);
  if (!IsHttpsUrl(url) && strncasecmp(url, "http://", 7) != 0)
    return Error(error, size, "the URL '%s' does not start with http:// or https://", url);
  const char *host = url + (IsHttpsUrl(url) ? 8 : 7);
  const size_t host_length = strcspn(host, ":/");
  if (host_length == 0 || host_length > 35)
    return Error(error, size, "the URL's host must be 1 to 35 characters");
  return 1;
}

int dd_parse_source(const char *text, struct dd_source *source, char *error, size_t size) {
  memset(source, 0, sizeof *source);
  if (strcasecmp(text, "checkip") == 0) {
    source->kind = DD_SOURCE_CHECKIP;
    return 1;
  }
  if (strncasecmp(text, "interface:", 10) == 0) {
    const char *name = text + 10;
    if (strcmp(name, "eth0") != 0 && strcmp(name, "wlan0") != 0)
      return Error(error, size, "the address interface must be eth0 or wlan0, not '%s'", name);
    source->kind = DD_SOURCE_INTERFACE;
    snprintf(source->text, sizeof source->text, "%s", name);
    return 1;
  }
  if (strncasecmp(text, "url:", 4) == 0) {
    if (!CheckUrl(text + 4, error, size)) return 0;
    if (strlen(text + 4) >= sizeof source->text)
      return Error(error, size, "the address URL is too long");
    source->kind = DD_SOURCE_URL;
    snprintf(source->text, sizeof source->text, "%s", text + 4);
    return 1;
  }
  if (IsAddress(text)) {
    source->kind = DD_SOURCE_FIXED;
    snprintf(source->text, sizeof source->text, "%s", text);
    return 1;
  }
  return Error(error, size,
               "the address source must be checkip, interface:NAME, url:URL or an IPv4 "
               "address, not '%s'",
               text);
}

static int ParseBool(const char *text, int *value) {
  static const char *const kYes[] = {"yes", "true", "on", "1"};
  static const char *const kNo[] = {"no", "false", "off", "0"};
  for (size_t i = 0; i < 4; ++i) {
    if (strcasecmp(text, kYes[i]) == 0) return *value = 1, 1;
    if (strcasecmp(text, kNo[i]) == 0) return *value = 0, 1;
  }
  return 0;
}

static int ValidHost(const char *host) {
  const size_t length = strlen(host);
  if (length == 0 || length > 127) return 0;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = (unsigned char)host[i];
    if (!isalnum(c) && c != '.' && c != '-' && c != '_') return 0;
  }
  return 1;
}

static int AddHosts(struct dd_section *s, const char *value, char *error, size_t size) {
  char list[256];
  if (strlen(value) >= sizeof list) return Error(error, size, "the host list is too long");
  snprintf(list, sizeof list, "%s", value);
  char *save = NULL;
  for (char *h = strtok_r(list, " ,", &save); h != NULL; h = strtok_r(NULL, " ,", &save)) {
    if (!ValidHost(h))
      return Error(error, size, "'%s' is not a host name (letters, digits, '.', '-', at most 127)",
                   h);
    if (s->host_count == DD_MAX_HOSTS)
      return Error(error, size, "more than %d host names in one section", DD_MAX_HOSTS);
    snprintf(s->hosts[s->host_count++], sizeof s->hosts[0], "%s", h);
  }
  return 1;
}

int dd_config_set(struct dd_config *config, struct dd_section *s, const char *name,
                  const char *value, int line, char *error, size_t size) {
  int k = 0;
  while (k < DD_KEY_COUNT && strcasecmp(kKeys[k].name, name) != 0) ++k;
  if (k == DD_KEY_COUNT) return Error(error, size, "unknown key '%s'", name);
  const struct Key *key = &kKeys[k];
  const int is_global = s == &config->global;
  if (is_global && !(key->scope & kGlobal))
    return Error(error, size, "'%s' belongs in an account section, not in [global]", name);
  if (!is_global && !(key->scope & kAccount))
    return Error(error, size, "'%s' belongs in [global]", name);
  const int byte = dd_control_byte(value);
  if (byte >= 0)
    return Error(error, size, "the value of '%s' holds a control byte (\\x%02x)", name, byte);
  if (s->key_line[k] != 0 && k != DD_KEY_HOST) {
    if (s->key_line[k] > 0)
      return Error(error, size, "'%s' is set twice (first on line %d)", name, s->key_line[k]);
    return Error(error, size, "'%s' is given twice", name);
  }
  char *field = (char *)s + key->offset;
  switch (key->type) {
    case kText:
    case kSecret:
      if (strlen(value) >= key->size)
        return Error(error, size, "'%s' is longer than %zu characters", name, key->size - 1);
      snprintf(field, key->size, "%s", value);
      if (key->type == kSecret && line > 0) config->holds_password = 1;
      break;
    case kUrl:
      if (!CheckUrl(value, error, size)) return 0;
      if (strlen(value) >= key->size)
        return Error(error, size, "'%s' is longer than %zu characters", name, key->size - 1);
      snprintf(field, key->size, "%s", value);
      break;
    case kNumber: {
      char *end = NULL;
      errno = 0;
      const unsigned long n = strtoul(value, &end, 10);
      if (value[0] == '\0' || value[0] == '-' || *end != '\0' || errno != 0 || n < key->low ||
          n > key->size)
        return Error(error, size, "'%s' must be a number from %u to %zu, not '%s'", name,
                     (unsigned)key->low, key->size, value);
      memcpy(field, &(uint32_t){(uint32_t)n}, sizeof(uint32_t));
      break;
    }
    case kBool: {
      int b = 0;
      if (!ParseBool(value, &b))
        return Error(error, size, "'%s' must be yes or no, not '%s'", name, value);
      if (k == DD_KEY_TLS && b && !HTTPClient_TLSBuiltIn())
        return Error(error, size, "tls = yes: this build of the libraries has no TLS");
      memcpy(field, &b, sizeof b);
      break;
    }
    case kProvider:
      s->provider = dd_find_provider(value);
      if (s->provider == NULL)
        return Error(error, size, "unknown provider '%s' (see --list-providers)", value);
      snprintf(s->provider_text, sizeof s->provider_text, "%s", s->provider->name);
      break;
    case kHosts:
      if (!AddHosts(s, value, error, size)) return 0;
      break;
    case kSource:
      if (!dd_parse_source(value, &s->source, error, size)) return 0;
      break;
    case kMac:
      if (!dd_parse_mac(value, field))
        return Error(error, size,
                     "'%s' must be 12 hexadecimal digits or six pairs joined by ':', not '%s'",
                     name, value);
      break;
    case kAddress:
      if (!IsAddress(value) || strlen(value) >= key->size)
        return Error(error, size, "'%s' must be an IPv4 address, not '%s'", name, value);
      snprintf(field, key->size, "%s", value);
      break;
  }
  s->key_line[k] = line != 0 ? line : -1;
  return 1;
}

int dd_read_password_file(const char *path, char *out, size_t size) {
  FILE *file = fopen(path, "re");
  if (file == NULL) return errno;
  const int ok = fgets(out, (int)size, file) != NULL;
  fclose(file);
  if (!ok) return EINVAL;
  const size_t length = strcspn(out, "\r\n");
  if (out[length] == '\0' && length == size - 1) return EINVAL; /* longer than the field */
  out[length] = '\0';
  return dd_control_byte(out) >= 0 ? EINVAL : 0;
}

int dd_file_is_shared(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

static void Inherit(const struct dd_section *g, struct dd_section *s) {
  if (!s->key_line[DD_KEY_INTERVAL]) s->interval = g->interval;
  if (!s->key_line[DD_KEY_TIMEOUT]) s->timeout = g->timeout;
  if (!s->key_line[DD_KEY_ADDRESS]) s->source = g->source;
  if (!s->key_line[DD_KEY_TLS]) s->tls = g->tls;
  if (!s->key_line[DD_KEY_CA_FILE]) memcpy(s->ca_file, g->ca_file, sizeof s->ca_file);
  if (!s->key_line[DD_KEY_MAC]) memcpy(s->mac, g->mac, sizeof s->mac);
  if (!s->key_line[DD_KEY_FIRMWARE]) memcpy(s->firmware, g->firmware, sizeof s->firmware);
}

/* The section's HTTPS settings against its URLs and its CA file. */
static int CheckTls(const struct dd_section *s, char *error, size_t size) {
  if (!s->tls &&
      (IsHttpsUrl(s->url) || (s->source.kind == DD_SOURCE_URL && IsHttpsUrl(s->source.text))))
    return Error(error, size, "[%s] has an https:// URL, and HTTPS is off (tls = no)", s->name);
  if (s->ca_file[0] != '\0' && access(s->ca_file, R_OK) != 0)
    return Error(error, size, "[%s] cannot read the CA file '%s': %s", s->name, s->ca_file,
                 strerror(errno));
  return 1;
}

int dd_config_apply_tls(struct dd_config *config, const struct dd_section *from, char *error,
                        size_t size) {
  for (int i = 0; i < config->section_count; ++i) {
    struct dd_section *s = &config->sections[i];
    if (from->key_line[DD_KEY_TLS]) s->tls = from->tls;
    if (from->key_line[DD_KEY_CA_FILE]) memcpy(s->ca_file, from->ca_file, sizeof s->ca_file);
    if (!CheckTls(s, error, size)) return 0;
  }
  return 1;
}

static int FinishSection(const struct dd_config *config, struct dd_section *s, char *error,
                         size_t size) {
  Inherit(&config->global, s);
  if (!CheckTls(s, error, size)) return 0;
  const struct dd_provider *p = s->provider;
  if (p == NULL) return Error(error, size, "[%s] names no provider", s->name);
  if (s->host_count == 0) return Error(error, size, "[%s] names no host", s->name);
  if (s->key_line[DD_KEY_PASSWORD] && s->key_line[DD_KEY_PASSWORD_FILE])
    return Error(error, size, "[%s] gives both password and password-file", s->name);
  if (s->key_line[DD_KEY_PASSWORD_FILE]) {
    const int e = dd_read_password_file(s->password_file, s->password, sizeof s->password);
    if (e != 0)
      return Error(
          error, size, "[%s] cannot read the password file '%s': %s", s->name, s->password_file,
          e == EINVAL ? "a control byte, an empty file or a line over 63 characters" : strerror(e));
  }
  const char *missing = NULL;
  if ((p->needs & DD_NEEDS_USER) && s->user[0] == '\0')
    missing = "user";
  else if ((p->needs & DD_NEEDS_PASSWORD) && s->password[0] == '\0')
    missing = "password";
  else if ((p->needs & DD_NEEDS_SERVER) && s->server[0] == '\0')
    missing = "server";
  else if ((p->needs & DD_NEEDS_PCCW) && s->checkip_port == 0)
    missing = "checkip-port";
  else if ((p->needs & DD_NEEDS_PCCW) && s->update_port == 0)
    missing = "update-port";
  else if ((p->needs & DD_NEEDS_PCCW) && s->checkip_path[0] == '\0')
    missing = "checkip-path";
  else if ((p->needs & DD_NEEDS_PCCW) && s->update_path[0] == '\0')
    missing = "update-path";
  else if ((p->needs & DD_NEEDS_CAMERA) && s->camera_mac[0] == '\0')
    missing = "camera-mac";
  else if ((p->needs & DD_NEEDS_CAMERA) && s->camera_address[0] == '\0')
    missing = "camera-address";
  else if ((p->needs & DD_NEEDS_CAMERA) && s->camera_port == 0)
    missing = "camera-port";
  else if ((p->needs & DD_NEEDS_URL) && s->url[0] == '\0')
    missing = "url";
  else if ((p->needs & DD_NEEDS_URL) && s->success[0] == '\0')
    missing = "success";
  if (missing != NULL)
    return Error(error, size, "[%s] provider %s needs '%s'", s->name, p->name, missing);
  if (p->kind == DD_KIND_DYNDNS2 && strlen(s->server) > 32)
    return Error(error, size, "[%s] the dyndns2 server name is longer than 32 characters", s->name);
  if (p->kind == DD_KIND_URL && strstr(s->url, "%h") == NULL)
    return Error(error, size, "[%s] the url has no %%h for the host name", s->name);
  if (s->user[0] != '\0' && p->kind == DD_KIND_PEANUTHULL && strlen(s->user) > 32)
    return Error(error, size, "[%s] PeanutHull user names have at most 32 characters", s->name);
  if (s->interval < p->min_interval) s->interval = p->min_interval;
  if (s->path[0] == '\0' && p->kind == DD_KIND_DYNDNS2)
    snprintf(s->path, sizeof s->path, "/nic/update");
  if (s->port == 0) s->port = 80;
  return 1;
}

int dd_config_finish(struct dd_config *config, char *error, size_t size) {
  if (config->section_count == 0) {
    Error(error, size, "no account section");
    return config->path[0] != '\0' ? 1 : -1;
  }
  for (int i = 0; i < config->section_count; ++i) {
    struct dd_section *s = &config->sections[i];
    if (!FinishSection(config, s, error, size)) return s->line != 0 ? s->line : -1;
  }
  return 0;
}

#ifdef DDNSUPDATE_HAVE_INIH
struct Parse {
  struct dd_config *config;
  FILE *file;
  int line;
  int header_line; /* line of the last section header read */
  int error_line;
  char *error;
  size_t size;
  struct dd_section *current;
  int current_header; /* the header line `current` began at */
};

/* Reads one line for inih, counting lines; a control byte or a line that
 * does not fit is an error of that line. */
static char *ReadLine(char *out, int size, void *stream) {
  struct Parse *p = stream;
  int n = 0, c = EOF;
  while (n < size - 1 && (c = getc(p->file)) != EOF) {
    out[n++] = (char)c;
    if (c == '\n') break;
  }
  if (n == 0) return NULL;
  out[n] = '\0';
  ++p->line;
  if (c != '\n' && c != EOF && n == size - 1) {
    while ((c = getc(p->file)) != EOF && c != '\n') {
    }
    if (p->error_line == 0) {
      p->error_line = p->line;
      snprintf(p->error, p->size, "the line is longer than %d characters", size - 2);
    }
    out[0] = '\0';
    return out;
  }
  for (int i = 0; i < n; ++i) {
    const unsigned char b = (unsigned char)out[i];
    if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F) {
      if (p->error_line == 0) {
        p->error_line = p->line;
        snprintf(p->error, p->size, "the line holds a control byte (\\x%02x)", b);
      }
      out[0] = '\0';
      return out;
    }
  }
  const char *text = out + strspn(out, " \t");
  if (*text == '[') p->header_line = p->line;
  return out;
}

static int OnKey(void *user, const char *section, const char *name, const char *value) {
  struct Parse *p = user;
  if (p->error_line != 0) return 1; /* only the first error is told */
  struct dd_config *config = p->config;
  struct dd_section *s;
  if (section[0] == '\0' || strcasecmp(section, "global") == 0) {
    s = &config->global;
  } else if (p->current != NULL && strcmp(p->current->name, section) == 0 &&
             p->current_header == p->header_line) {
    s = p->current;
  } else {
    for (int i = 0; i < config->section_count; ++i) {
      if (strcmp(config->sections[i].name, section) == 0) {
        p->error_line = p->header_line;
        snprintf(p->error, p->size, "section [%s] appears twice (first on line %d)", section,
                 config->sections[i].line);
        return 0;
      }
    }
    if (config->section_count == DD_MAX_SECTIONS) {
      p->error_line = p->header_line;
      snprintf(p->error, p->size, "more than %d account sections", DD_MAX_SECTIONS);
      return 0;
    }
    if (strlen(section) >= sizeof config->sections[0].name) {
      p->error_line = p->header_line;
      snprintf(p->error, p->size, "the section name is longer than 63 characters");
      return 0;
    }
    s = &config->sections[config->section_count++];
    memset(s, 0, sizeof *s);
    snprintf(s->name, sizeof s->name, "%s", section);
    s->line = p->header_line;
    p->current = s;
    p->current_header = p->header_line;
  }
  if (!dd_config_set(config, s, name, value, p->line, p->error, p->size)) {
    p->error_line = p->line;
    return 0;
  }
  return 1;
}
#endif

int dd_config_load(const char *path, struct dd_config *config, char *error, size_t size) {
  dd_config_defaults(config);
  snprintf(config->path, sizeof config->path, "%s", path);
#ifdef DDNSUPDATE_HAVE_INIH
  FILE *file = fopen(path, "re");
  if (file == NULL) {
    Error(error, size, "cannot read the config file '%s': %s", path, strerror(errno));
    return -1;
  }
  struct Parse p;
  memset(&p, 0, sizeof p);
  p.config = config;
  p.file = file;
  p.error = error;
  p.size = size;
  const int parsed = ini_parse_stream(ReadLine, &p, OnKey, &p);
  fclose(file);
  if (p.error_line != 0 && (parsed <= 0 || p.error_line <= parsed)) return p.error_line;
  if (parsed != 0) {
    Error(error, size, "%s", "not a section header, a key = value line or a comment");
    return parsed;
  }
  return dd_config_finish(config, error, size);
#else
  Error(error, size,
        "this ddnsupdate was built without config-file support (inih was missing); use the "
        "command-line options");
  return -1;
#endif
}

static const char *SourceText(const struct dd_source *source, char *out, size_t size) {
  static const char *const kKinds[] = {"checkip", "interface:", "url:", ""};
  char raw[256];
  snprintf(raw, sizeof raw, "%s%s", kKinds[source->kind], source->text);
  dd_escape(raw, out, size);
  return out;
}

void dd_config_print(const struct dd_config *config, FILE *out) {
  const struct dd_section *g = &config->global;
  char a[256], b[256];
  fprintf(out, "config %s: %d account section%s\n",
          config->path[0] != '\0' ? (dd_escape(config->path, a, sizeof a), a) : "(command line)",
          config->section_count, config->section_count == 1 ? "" : "s");
  fprintf(out, "[global] cache-dir %s, refresh-days %u, syslog %s, verbose %s\n",
          (dd_escape(g->cache_dir, b, sizeof b), b), (unsigned)g->refresh_days,
          g->use_syslog ? "yes" : "no", g->verbose ? "yes" : "no");
  for (int i = 0; i < config->section_count; ++i) {
    const struct dd_section *s = &config->sections[i];
    char number[16] = "generic";
    if (s->provider->number != 0)
      snprintf(number, sizeof number, "%u", (unsigned)s->provider->number);
    fprintf(out, "[%s] provider %s (%s), every %u min, time-out %u s, address %s\n",
            (dd_escape(s->name, a, sizeof a), a), s->provider->name, number, (unsigned)s->interval,
            (unsigned)s->timeout, SourceText(&s->source, b, sizeof b));
    fputs("  hosts:", out);
    for (int h = 0; h < s->host_count; ++h) fprintf(out, " %s", s->hosts[h]);
    fputc('\n', out);
    if (s->user[0] != '\0') fprintf(out, "  user: %s\n", (dd_escape(s->user, a, sizeof a), a));
    if (s->password[0] != '\0')
      fprintf(out, "  password: ********%s%s\n", s->password_file[0] ? " from " : "",
              (dd_escape(s->password_file, a, sizeof a), a));
    if (s->server[0] != '\0')
      fprintf(out, "  server: %s\n", (dd_escape(s->server, a, sizeof a), a));
    if (s->provider->kind == DD_KIND_DYNDNS2)
      fprintf(out, "  port: %u, path: %s\n", (unsigned)s->port,
              (dd_escape(s->path, a, sizeof a), a));
    if (s->url[0] != '\0') {
      fprintf(out, "  url: %s\n", (dd_escape(s->url, a, sizeof a), a));
      fprintf(out, "  success: %s; failure: %s\n", (dd_escape(s->success, a, sizeof a), a),
              s->failure[0] ? (dd_escape(s->failure, b, sizeof b), b) : "-");
    }
    if (s->checkip_port != 0)
      fprintf(out, "  check-IP: port %u path %s; update: port %u path %s\n",
              (unsigned)s->checkip_port, (dd_escape(s->checkip_path, a, sizeof a), a),
              (unsigned)s->update_port, (dd_escape(s->update_path, b, sizeof b), b));
    fprintf(out, "  https: %s", s->tls ? "yes" : "no (plain HTTP)");
    if (s->tls) {
      const uint32_t offered = DDNSClient_ProviderTLS(s->provider->number);
      const char *what =
          s->provider->kind == DD_KIND_URL                         ? "as its URLs say"
          : s->provider->kind == DD_KIND_DYNDNS2 && s->port == 443 ? "the update (port 443)"
          : s->provider->kind == DD_KIND_DYNDNS2                   ? "none (port is not 443)"
          : (offered & DDNSCLIENT_TLS_UPDATE) != 0 && s->source.kind != DD_SOURCE_CHECKIP
              ? "the update"
          : (offered & DDNSCLIENT_TLS_UPDATE) != 0 ? "the update, not the check-IP page"
                                                   : "none offered by the provider";
      fprintf(out, ", for %s; CA file %s", what,
              s->ca_file[0] != '\0' ? (dd_escape(s->ca_file, a, sizeof a), a) : "of the system");
    }
    fputc('\n', out);
    if (s->camera_mac[0] != '\0')
      fprintf(out, "  camera: MAC %s, address %s, port %u\n", s->camera_mac, s->camera_address,
              (unsigned)s->camera_port);
    if (s->email[0] != '\0') fprintf(out, "  email: %s\n", (dd_escape(s->email, a, sizeof a), a));
    if (s->current_password[0] != '\0') fputs("  current-password: ********\n", out);
  }
}
