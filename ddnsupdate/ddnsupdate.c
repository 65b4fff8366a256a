/* SPDX-License-Identifier: MIT */
/*
 * ddnsupdate: keeps host names current with DDNS providers through the
 * public DDNS client API: every host of a config file (-c), each on its own
 * schedule, or one host given on the command line; one round (--once) or
 * until SIGTERM / SIGINT.  SIGHUP reads the config again, SIGUSR1 runs a
 * round of every host now.
 *
 * Rounds run in a worker thread; the main thread only waits for signals
 * (and, with -v, passes the libraries' output on), so a stop signal ends
 * the program within a second whatever a library call is waiting on.
 *
 * Exit status: 0 success (or stopped by a signal), 1 a round of --once
 * failed, 2 bad options or config, 3 a client could not be started.
 */
#define _GNU_SOURCE /* getopt_long, pipe2, signalfd */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <namreg/ddnsclient.h>
#include <namreg/netutility.h>
#include <namreg/version.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "cache.h"
#include "config.h"
#include "outcome.h"
#include "report.h"
#include "round.h"
#include "schedule.h"

enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitStart = 3 };

/* How long a stop waits for the worker to finish its round cleanly before
 * the process ends regardless. */
#define STOP_GRACE_MS 700

struct Options {
  const char *config_path;
  int from_command_line;
  int check_config;
  int once;
  int verbose;
  int use_syslog;
  enum dd_operation operation;
  long test_rounds; /* tests: stop after this many rounds */
  uint32_t interval_option;
};

/* State shared by the main thread and the worker. */
static pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_wake;
static int g_stop, g_reload, g_force, g_worker_done, g_status;
static pthread_t g_main_thread;

/* Two records: the configuration that runs and the one a reload reads;
 * static, so the large records cost no clearing at start. */
static struct dd_config g_configs[2];
static struct dd_config *g_config;
static struct dd_host *g_hosts;
static int g_host_count;
static struct Options g_options;

static void Usage(FILE *out) {
  fputs(
      "usage: ddnsupdate [-c FILE] [--check-config] [--once] [-v]\n"
      "       ddnsupdate -p PROVIDER -n HOSTNAME [-u USER] [-W FILE | -w PASSWORD]\n"
      "                  [-s SERVER] [-e EMAIL] [-t TIMEOUT] [--once | --interval MINUTES]\n"
      "                  [--address SOURCE] [--cache-dir DIR] [--syslog] [-v]\n"
      "                  [--port PORT] [--path PATH] [--url TEMPLATE --success WORDS\n"
      "                  [--failure WORDS]] [--mac MAC] [--firmware TEXT]\n"
      "                  [--current-password TEXT] [--change-password] [--register | --offline]\n"
      "                  [--no-tls] [--ca-file FILE]\n"
      "       ddnsupdate --list-providers | -V | -h\n"
      "\n"
      "  -c, --config       config file of every account (default " DD_DEFAULT_CONFIG
      ")\n"
      "      --check-config check the config, print what would run, exit\n"
      "  -p, --provider     provider name (any case) or number; see --list-providers\n"
      "  -n, --hostname     host name to keep current\n"
      "  -u, --user         account user name\n"
      "  -W, --password-file  read the password from the first line of FILE\n"
      "  -w, --password     account password (prefer -W or the config file)\n"
      "  -s, --server       the provider's server, for providers that need one\n"
      "  -e, --email        e-mail address (I-O DATA)\n"
      "  -t, --timeout      seconds for one round (default 20)\n"
      "      --once         one round of every host, then exit with its status\n"
      "      --interval     minutes between rounds (default 10, at least the provider's)\n"
      "      --address      checkip (default), interface:eth0, url:URL or an IPv4 address\n"
      "      --cache-dir    keep the last address sent here (config default\n"
      "                     " DD_DEFAULT_CACHE
      "; none on the command line)\n"
      "      --syslog       outcome lines to syslog too\n"
      "  -v, --verbose      show the libraries' diagnostics on standard error\n"
      "      --port, --path dyndns2: the server's port (80) and path (/nic/update)\n"
      "      --url          url: the update URL, %h host, %i address, %u user, %p password\n"
      "      --success, --failure  url: comma-separated reply keywords\n"
      "      --no-tls       plain HTTP only (default: HTTPS where the provider offers it;\n"
      "                     dyndns2 on port 443; https:// URLs)\n"
      "      --ca-file      the CAs to trust, a PEM file (default: the system's)\n"
      "      --mac          the camera's MAC (001122AABBCC or 00:11:22:AA:BB:CC;\n"
      "                     default $MAC_ADDR)\n"
      "      --firmware     the model / firmware text sent as User-Agent\n"
      "      --current-password  MegaChips: the password the provider holds now\n"
      "      --change-password   MegaChips: change the password to -w / -W (with --once)\n"
      "      --register, --offline  I-O DATA: register the host name, or take it offline\n"
      "                     (with --once)\n"
      "      --list-providers  every provider with its number and what it needs\n"
      "  -V, --version      the version\n"
      "  -h, --help         this text\n",
      out);
}

static int Fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

static int Fail(const char *format, ...) {
  char raw[512], text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(raw, sizeof raw, format, args);
  va_end(args);
  dd_escape(raw, text, sizeof text);
  fprintf(stderr, "ddnsupdate: %s\nTry 'ddnsupdate -h'.\n", text);
  return kExitUsage;
}

/* One command-line value into the section, as the config key `key`. */
static int SetOption(struct dd_config *config, const char *key, const char *value) {
  char error[256];
  if (!dd_config_set(config, &config->sections[0], key, value, 0, error, sizeof error))
    return Fail("%s", error);
  return kExitOk;
}

static int SetGlobal(struct dd_config *config, const char *key, const char *value) {
  char error[256];
  if (!dd_config_set(config, &config->global, key, value, 0, error, sizeof error))
    return Fail("%s", error);
  return kExitOk;
}

static int ParseOptions(int argc, char **argv, struct Options *o, struct dd_config *config) {
  enum {
    kOnce = 256,
    kInterval,
    kSyslog,
    kMac,
    kFirmware,
    kCurrentPassword,
    kChangePassword,
    kRegister,
    kOffline,
    kCheckConfig,
    kListProviders,
    kAddress,
    kCacheDir,
    kPort,
    kPath,
    kUrl,
    kSuccess,
    kFailure,
    kTls,
    kNoTls,
    kCaFile,
    kTestMinute,
    kTestRounds
  };
  static const struct option kLong[] = {
      {"config", required_argument, NULL, 'c'},
      {"check-config", no_argument, NULL, kCheckConfig},
      {"list-providers", no_argument, NULL, kListProviders},
      {"provider", required_argument, NULL, 'p'},
      {"hostname", required_argument, NULL, 'n'},
      {"user", required_argument, NULL, 'u'},
      {"password", required_argument, NULL, 'w'},
      {"password-file", required_argument, NULL, 'W'},
      {"server", required_argument, NULL, 's'},
      {"email", required_argument, NULL, 'e'},
      {"timeout", required_argument, NULL, 't'},
      {"once", no_argument, NULL, kOnce},
      {"interval", required_argument, NULL, kInterval},
      {"address", required_argument, NULL, kAddress},
      {"cache-dir", required_argument, NULL, kCacheDir},
      {"syslog", no_argument, NULL, kSyslog},
      {"verbose", no_argument, NULL, 'v'},
      {"port", required_argument, NULL, kPort},
      {"path", required_argument, NULL, kPath},
      {"url", required_argument, NULL, kUrl},
      {"success", required_argument, NULL, kSuccess},
      {"failure", required_argument, NULL, kFailure},
      {"tls", no_argument, NULL, kTls},
      {"no-tls", no_argument, NULL, kNoTls},
      {"ca-file", required_argument, NULL, kCaFile},
      {"mac", required_argument, NULL, kMac},
      {"firmware", required_argument, NULL, kFirmware},
      {"current-password", required_argument, NULL, kCurrentPassword},
      {"change-password", no_argument, NULL, kChangePassword},
      {"register", no_argument, NULL, kRegister},
      {"offline", no_argument, NULL, kOffline},
      {"test-minute-ms", required_argument, NULL, kTestMinute},
      {"test-rounds", required_argument, NULL, kTestRounds},
      {"version", no_argument, NULL, 'V'},
      {"help", no_argument, NULL, 'h'},
      {NULL, 0, NULL, 0},
  };
  /* Every value from outside is checked for control bytes first. */
  for (int i = 1; i < argc; ++i)
    if (dd_control_byte(argv[i]) >= 0)
      return Fail("argument %d holds a control byte (\\x%02x)", i, dd_control_byte(argv[i]));
  struct dd_section *s = &config->sections[0];
  int status = kExitOk;
  opterr = 0;
  int c;
  while (status == kExitOk &&
         (c = getopt_long(argc, argv, ":c:p:n:u:w:W:s:e:t:vVh", kLong, NULL)) != -1) {
    switch (c) {
      case 'c':
        o->config_path = optarg;
        break;
      case kCheckConfig:
        o->check_config = 1;
        break;
      case kListProviders:
        dd_list_providers(stdout);
        exit(kExitOk);
      case 'p':
        o->from_command_line = 1;
        status = SetOption(config, "provider", optarg);
        break;
      case 'n':
        o->from_command_line = 1;
        if (s->host_count != 0) return Fail("give one host name (-n); several go in a config file");
        status = SetOption(config, "host", optarg);
        break;
      case 'u':
        status = SetOption(config, "user", optarg);
        break;
      case 'w':
        status = SetOption(config, "password", optarg);
        /* Out of /proc/PID/cmdline once read. */
        memset(optarg, 0, strlen(optarg));
        break;
      case 'W':
        status = SetOption(config, "password-file", optarg);
        break;
      case 's':
        status = SetOption(config, "server", optarg);
        break;
      case 'e':
        status = SetOption(config, "email", optarg);
        break;
      case 't':
        status = SetGlobal(config, "timeout", optarg);
        break;
      case kOnce:
        o->once = 1;
        break;
      case kInterval:
        status = SetGlobal(config, "interval", optarg);
        o->interval_option = 1;
        break;
      case kAddress:
        status = SetGlobal(config, "address", optarg);
        break;
      case kCacheDir:
        status = SetGlobal(config, "cache-dir", optarg);
        break;
      case kSyslog:
        o->use_syslog = 1;
        break;
      case 'v':
        o->verbose = 1;
        break;
      case kPort:
        status = SetOption(config, "port", optarg);
        break;
      case kPath:
        status = SetOption(config, "path", optarg);
        break;
      case kUrl:
        status = SetOption(config, "url", optarg);
        break;
      case kSuccess:
        status = SetOption(config, "success", optarg);
        break;
      case kFailure:
        status = SetOption(config, "failure", optarg);
        break;
      case kTls:
      case kNoTls:
        status = SetGlobal(config, "tls", c == kTls ? "yes" : "no");
        break;
      case kCaFile:
        status = SetGlobal(config, "ca-file", optarg);
        break;
      case kMac:
        status = SetGlobal(config, "mac", optarg);
        break;
      case kFirmware:
        status = SetGlobal(config, "firmware", optarg);
        break;
      case kCurrentPassword:
        status = SetOption(config, "current-password", optarg);
        memset(optarg, 0, strlen(optarg));
        break;
      case kChangePassword:
        o->operation = DD_OP_MEGACHIPS_PASSWORD;
        break;
      case kRegister:
      case kOffline:
        if (o->operation == DD_OP_IODATA_REGISTER || o->operation == DD_OP_IODATA_OFFLINE)
          return Fail("give either --register or --offline");
        o->operation = c == kRegister ? DD_OP_IODATA_REGISTER : DD_OP_IODATA_OFFLINE;
        break;
      case kTestMinute: {
        char *end = NULL;
        const unsigned long ms = strtoul(optarg, &end, 10);
        if (*end != '\0' || ms == 0 || ms > 60000) return Fail("--test-minute-ms: 1 to 60000");
        dd_minute_ms = ms;
        break;
      }
      case kTestRounds:
        o->test_rounds = strtol(optarg, NULL, 10);
        if (o->test_rounds <= 0) return Fail("--test-rounds: a positive number");
        break;
      case 'V':
        printf("ddnsupdate %s (DDNS client interface 0x%08X)\n", NAMREG_VERSION,
               (unsigned)DDNSCLIENT_VERSION);
        exit(kExitOk);
      case 'h':
        Usage(stdout);
        exit(kExitOk);
      case ':':
        if (optopt != 0) return Fail("option '-%c' needs a value", optopt);
        return Fail("option '%s' needs a value", argv[optind - 1]);
      default:
        if (optopt != 0) return Fail("unknown option '-%c'", optopt);
        return Fail("unknown option '%s'", argv[optind - 1]);
    }
  }
  if (status != kExitOk) return status;
  if (optind < argc) return Fail("unexpected argument '%s'", argv[optind]);
  if (o->from_command_line && o->config_path != NULL)
    return Fail("give either a config file (-c) or a provider and host (-p, -n)");
  if (o->once && o->interval_option) return Fail("--once and --interval exclude each other");
  if (o->from_command_line) {
    if (s->provider == NULL) return Fail("a provider (-p) is needed");
    if (s->host_count == 0) return Fail("a host name (-n) is needed");
  } else if (s->key_line[DD_KEY_USER] || s->key_line[DD_KEY_PASSWORD] ||
             s->key_line[DD_KEY_PASSWORD_FILE] || s->key_line[DD_KEY_SERVER]) {
    return Fail("account options need a provider (-p) and a host name (-n)");
  }
  if (o->operation == DD_OP_MEGACHIPS_PASSWORD &&
      (s->provider == NULL || s->provider->number != 25 || !o->once))
    return Fail("--change-password is for MegaChips with --once");
  if ((o->operation == DD_OP_IODATA_REGISTER || o->operation == DD_OP_IODATA_OFFLINE) &&
      (s->provider == NULL || s->provider->number != 7 || !o->once))
    return Fail("--register and --offline are for I-O DATA with --once");
  if (o->from_command_line && s->key_line[DD_KEY_PASSWORD_FILE] &&
      dd_file_is_shared(s->password_file))
    fprintf(stderr,
            "ddnsupdate: warning: the password file %s can be read by group or others "
            "(chmod 600 it)\n",
            s->password_file);
  return kExitOk;
}

static const char *AddressText(uint32_t address, char *out, size_t size) {
  if (address == 0) return "-";
  struct in_addr in;
  in.s_addr = address;
  inet_ntop(AF_INET, &in, out, (socklen_t)size);
  return out;
}

static int NoNameServer(void) {
  uint32_t primary = 0, secondary = 0;
  return NetUtility_GetDNSIP(&primary, &secondary) != 0 || primary == 0;
}

/* Runs one round of a host and reports it; its class. */
static enum dd_class RunRound(struct dd_host *host, enum dd_operation operation, int once) {
  const uint64_t now = dd_clock_ms();
  dd_schedule_begin(&host->schedule, now);
  uint32_t address = 0;
  const uint32_t result = dd_host_round(host, operation, g_config->global.refresh_days, &address);
  const int network_like = result == DDNSCLIENT_E_INVALID_ARGS || result == DDNSCLIENT_E_NETWORK ||
                           result == DDNSCLIENT_E_FAIL || result == DDNSCLIENT_E_NO_PUBLIC_IP;
  const enum dd_class c = dd_classify(result, network_like && NoNameServer());
  const enum dd_action action = dd_class_action(c);
  const uint64_t delay = dd_schedule_end(
      &host->schedule, action, (uint64_t)host->section->interval * dd_minute_ms, dd_clock_ms());
  dd_host_remember(host, result, dd_class_is_success(c) ? address : 0);

  const char *words = dd_class_words(c);
  char detail[128];
  dd_result_detail(result, (int64_t)time(NULL), detail, sizeof detail);
  if (result == DDNSCLIENT_OK && operation == DD_OP_IODATA_REGISTER) words = "registered";
  if (result == DDNSCLIENT_OK && operation == DD_OP_IODATA_OFFLINE) words = "offline";
  if (result == DDNSCLIENT_OK && operation == DD_OP_MEGACHIPS_PASSWORD) words = "password changed";
  char after[64] = "";
  if (!once && action == DD_ACTION_RETRY) {
    const uint64_t minutes = (delay + dd_minute_ms / 2) / dd_minute_ms;
    snprintf(after, sizeof after, " (retry in %llu min)",
             (unsigned long long)(minutes != 0 ? minutes : 1));
  } else if (!once && action == DD_ACTION_PERMANENT) {
    snprintf(after, sizeof after, " (not retried until reload)");
  }
  char text[INET_ADDRSTRLEN];
  dd_report(action == DD_ACTION_DONE    ? LOG_INFO
            : action == DD_ACTION_RETRY ? LOG_WARNING
                                        : LOG_ERR,
            "%s %s: %s%s%s%s, address %s (result 0x%08X)", host->section->provider_text, host->name,
            words, detail[0] != '\0' ? ": " : "", detail, after,
            AddressText(dd_class_is_success(c) ? address : 0, text, sizeof text), (unsigned)result);
  return c;
}

/* Builds the hosts of the configuration; 0, or the first failure. */
static uint32_t StartHosts(struct dd_config *config, struct dd_host **hosts, int *count) {
  int total = 0;
  for (int i = 0; i < config->section_count; ++i) total += config->sections[i].host_count;
  struct dd_host *list = calloc((size_t)total, sizeof *list);
  if (list == NULL) return DDNSCLIENT_E_NO_MEMORY;
  const char *cache_dir = config->global.cache_dir;
  int n = 0;
  uint32_t failed = DDNSCLIENT_OK;
  for (int i = 0; i < config->section_count; ++i) {
    const struct dd_section *s = &config->sections[i];
    for (int h = 0; h < s->host_count; ++h) {
      const uint32_t r = dd_host_start(&list[n++], s, s->hosts[h], cache_dir);
      if (r != DDNSCLIENT_OK && failed == DDNSCLIENT_OK) {
        failed = r;
        dd_report(LOG_ERR, "[%s] %s: the DDNS client could not start (result 0x%08X)", s->name,
                  s->hosts[h], (unsigned)r);
      }
    }
  }
  *hosts = list;
  *count = n;
  return failed;
}

static void StopHosts(struct dd_host *hosts, int count) {
  for (int i = 0; i < count; ++i) dd_host_stop(&hosts[i]);
  free(hosts);
}

/* Checks that the cache directory can be written; "" when not. */
static void CheckCacheDir(struct dd_config *config) {
  char *dir = config->global.cache_dir;
  if (dir[0] == '\0') return;
  if (access(dir, W_OK | X_OK) != 0) {
    dd_report(LOG_WARNING, "the cache directory %s cannot be written (%s): running without a cache",
              dir, strerror(errno));
    dir[0] = '\0';
  }
}

static void WarnShared(const struct dd_config *config) {
  if (config->path[0] != '\0' && config->holds_password && dd_file_is_shared(config->path))
    dd_report(LOG_WARNING,
              "warning: %s holds a password and can be read by group or others (chmod 600 it)",
              config->path);
  for (int i = 0; i < config->section_count; ++i) {
    const struct dd_section *s = &config->sections[i];
    if (config->path[0] != '\0' && s->password_file[0] != '\0' &&
        dd_file_is_shared(s->password_file))
      dd_report(LOG_WARNING,
                "warning: the password file %s can be read by group or others (chmod 600 it)",
                s->password_file);
  }
}

static void Reload(void) {
  if (g_config->path[0] == '\0') {
    /* The command line's host: only stopped rounds start again. */
    for (int i = 0; i < g_host_count; ++i) {
      if (!g_hosts[i].schedule.stopped) continue;
      g_hosts[i].schedule.stopped = 0;
      dd_schedule_force(&g_hosts[i].schedule, dd_clock_ms());
    }
    dd_report(LOG_INFO, "SIGHUP: refused hosts are tried again");
    return;
  }
  struct dd_config *fresh = g_config == &g_configs[0] ? &g_configs[1] : &g_configs[0];
  char error[256];
  const int line = dd_config_load(g_config->path, fresh, error, sizeof error);
  if (line != 0) {
    if (line > 0)
      dd_report(LOG_ERR, "%s:%d: %s; keeping the configuration that runs", g_config->path, line,
                error);
    else
      dd_report(LOG_ERR, "%s; keeping the configuration that runs", error);
    return;
  }
  CheckCacheDir(fresh);
  WarnShared(fresh);
  struct dd_host *hosts = NULL;
  int count = 0;
  StartHosts(fresh, &hosts, &count);
  /* A host that was there before keeps the time of its last round: the
   * reload runs it now, but never within a minute of that round. */
  for (int i = 0; i < count; ++i) {
    for (int k = 0; k < g_host_count; ++k) {
      const struct dd_host *old = &g_hosts[k];
      if (strcmp(old->section->provider->name, hosts[i].section->provider->name) != 0 ||
          strcmp(old->name, hosts[i].name) != 0)
        continue;
      hosts[i].schedule.last_ms = old->schedule.last_ms;
      hosts[i].schedule.has_run = old->schedule.has_run;
      dd_schedule_force(&hosts[i].schedule, dd_clock_ms());
    }
  }
  StopHosts(g_hosts, g_host_count);
  g_hosts = hosts;
  g_host_count = count;
  g_config = fresh;
  dd_report(LOG_INFO, "read %s again: %d host%s", g_config->path, g_host_count,
            g_host_count == 1 ? "" : "s");
}

static void *Worker(void *unused) {
  (void)unused;
  int status = kExitOk;
  long rounds = 0;
  for (;;) {
    pthread_mutex_lock(&g_mutex);
    for (;;) {
      if (g_stop || g_reload || g_force) break;
      const uint64_t now = dd_clock_ms();
      uint64_t next = UINT64_MAX;
      for (int i = 0; i < g_host_count; ++i)
        if (!g_hosts[i].schedule.stopped && g_hosts[i].schedule.next_ms < next)
          next = g_hosts[i].schedule.next_ms;
      if (next <= now) break;
      if (next == UINT64_MAX) {
        pthread_cond_wait(&g_wake, &g_mutex);
        continue;
      }
      struct timespec until;
      clock_gettime(CLOCK_MONOTONIC, &until);
      const uint64_t wait = next - now;
      until.tv_sec += (time_t)(wait / 1000u);
      until.tv_nsec += (long)(wait % 1000u) * 1000000L;
      if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
      }
      pthread_cond_timedwait(&g_wake, &g_mutex, &until);
    }
    const int stop = g_stop, reload = g_reload, force = g_force;
    g_reload = g_force = 0;
    pthread_mutex_unlock(&g_mutex);
    if (stop) break;
    if (reload) Reload();
    if (force)
      for (int i = 0; i < g_host_count; ++i) dd_schedule_force(&g_hosts[i].schedule, dd_clock_ms());
    for (int i = 0; i < g_host_count; ++i) {
      pthread_mutex_lock(&g_mutex);
      const int stopping = g_stop;
      pthread_mutex_unlock(&g_mutex);
      if (stopping) break;
      if (!g_options.once && !dd_schedule_due(&g_hosts[i].schedule, dd_clock_ms())) continue;
      const enum dd_class c = RunRound(&g_hosts[i], g_options.operation, g_options.once);
      if (!dd_class_is_success(c)) status = kExitFailed;
      ++rounds;
    }
    if (g_options.once) break;
    if (g_options.test_rounds > 0 && rounds >= g_options.test_rounds) {
      status = kExitOk;
      break;
    }
  }
  pthread_mutex_lock(&g_mutex);
  g_worker_done = 1;
  g_status = g_options.once ? status : kExitOk;
  pthread_mutex_unlock(&g_mutex);
  pthread_kill(g_main_thread, SIGALRM);
  return NULL;
}

/* -v: the libraries' standard output, escaped, on standard error. */
static void PassOn(int fd, FILE *out) {
  char buffer[1024], text[4200];
  const ssize_t n = read(fd, buffer, sizeof buffer - 1);
  if (n <= 0) return;
  size_t k = 0;
  for (ssize_t i = 0; i < n; ++i) {
    const unsigned char b = (unsigned char)buffer[i];
    if (b == '\r') continue;
    if (b == '\n' || (b >= 0x20 && b != 0x7F)) {
      text[k++] = (char)b;
    } else {
      snprintf(text + k, 5, "\\x%02x", b);
      k += 4;
    }
  }
  fwrite(text, 1, k, out);
  fflush(out);
}

int main(int argc, char **argv) {
  g_config = &g_configs[0];
  dd_config_defaults(g_config);
  struct dd_config *config = g_config;
  snprintf(config->sections[0].name, sizeof config->sections[0].name, "command line");
  struct Options *o = &g_options;
  dd_report_open(stderr, 0);
  const int parsed = ParseOptions(argc, argv, o, config);
  if (parsed != kExitOk) return parsed;

  char error[256];
  if (o->from_command_line) {
    config->section_count = 1;
    if (!config->global.key_line[DD_KEY_CACHE_DIR]) config->global.cache_dir[0] = '\0';
    const char *mac = getenv("MAC_ADDR");
    if (!config->global.key_line[DD_KEY_MAC] && mac != NULL &&
        !dd_config_set(config, &config->global, "mac", mac, 0, error, sizeof error))
      return Fail("$MAC_ADDR: %s", error);
    if (dd_config_finish(config, error, sizeof error) != 0) return Fail("%s", error);
  } else {
    struct dd_config *loaded = &g_configs[1];
    const char *path = o->config_path != NULL ? o->config_path : DD_DEFAULT_CONFIG;
    const int line = dd_config_load(path, loaded, error, sizeof error);
    if (line > 0) {
      fprintf(stderr, "ddnsupdate: %s:%d: %s\n", path, line, error);
      return kExitUsage;
    }
    if (line < 0) return Fail("%s", error);
    /* Command-line options over the [global] section. */
    if (config->global.key_line[DD_KEY_CACHE_DIR])
      memcpy(loaded->global.cache_dir, config->global.cache_dir, sizeof loaded->global.cache_dir);
    if (!dd_config_apply_tls(loaded, &config->global, error, sizeof error))
      return Fail("%s", error);
    g_config = config = loaded;
  }
  o->use_syslog |= config->global.use_syslog;
  o->verbose |= config->global.verbose;
  if (o->check_config) {
    dd_config_print(config, stdout);
    WarnShared(config);
    return kExitOk;
  }

  /* The libraries' diagnostics: standard output, and syslog for the HLDM
   * exchange.  Silent unless -v; with -v both reach standard error (the
   * former escaped through a pipe the main thread reads). */
  int pipe_fds[2] = {-1, -1};
  FILE *out = stderr;
  fflush(stdout);
  if (o->verbose) {
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return kExitStart;
    fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(pipe_fds[1]);
    setvbuf(stdout, NULL, _IOLBF, 0);
    openlog("ddnsupdate", LOG_PID | LOG_PERROR, LOG_DAEMON);
  } else {
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) {
      dup2(null_fd, STDOUT_FILENO);
      close(null_fd);
    }
    /* A mask with no priority's bit: every syslog() of the libraries is
     * dropped; ddnsupdate's own lines go through a socket of its own. */
    setlogmask(LOG_MASK(LOG_DEBUG) << 1);
  }
  dd_report_open(out, o->use_syslog);
  if (!o->from_command_line) {
    CheckCacheDir(config);
    WarnShared(config);
  }

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &signals, NULL);
  signal(SIGPIPE, SIG_IGN);
  const int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (signal_fd < 0) return kExitStart;
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&g_wake, &attributes);
  pthread_condattr_destroy(&attributes);

  if (StartHosts(config, &g_hosts, &g_host_count) != DDNSCLIENT_OK && o->once) {
    StopHosts(g_hosts, g_host_count);
    return kExitStart;
  }
  g_main_thread = pthread_self();
  pthread_t worker;
  if (pthread_create(&worker, NULL, Worker, NULL) != 0) return kExitStart;

  int status = kExitOk;
  uint64_t stop_deadline = 0;
  for (;;) {
    struct pollfd waits[2] = {{signal_fd, POLLIN, 0}, {pipe_fds[0], POLLIN, 0}};
    int timeout_ms = -1;
    if (stop_deadline != 0) {
      const uint64_t now = dd_clock_ms();
      timeout_ms = now >= stop_deadline ? 0 : (int)(stop_deadline - now);
    }
    const int ready = poll(waits, pipe_fds[0] >= 0 ? 2 : 1, timeout_ms);
    if (ready == 0 && stop_deadline != 0) {
      /* The round in progress waits on the network: end now, but never in
       * the middle of a cache write. */
      pthread_mutex_lock(&dd_cache_lock);
      fflush(stderr);
      _exit(o->once ? kExitFailed : kExitOk);
    }
    if (ready < 0) continue;
    if (pipe_fds[0] >= 0 && (waits[1].revents & POLLIN)) PassOn(pipe_fds[0], out);
    if (!(waits[0].revents & POLLIN)) continue;
    struct signalfd_siginfo info;
    if (read(signal_fd, &info, sizeof info) != (ssize_t)sizeof info) continue;
    pthread_mutex_lock(&g_mutex);
    const int done = g_worker_done;
    if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
      g_stop = 1;
      if (stop_deadline == 0) stop_deadline = dd_clock_ms() + STOP_GRACE_MS;
      if (o->once) g_status = kExitFailed;
    } else if (info.ssi_signo == SIGHUP) {
      g_reload = 1;
    } else if (info.ssi_signo == SIGUSR1) {
      g_force = 1;
    }
    pthread_cond_signal(&g_wake);
    status = g_status;
    pthread_mutex_unlock(&g_mutex);
    if (done) break;
  }
  pthread_join(worker, NULL);
  if (g_stop && o->once) status = kExitFailed;
  if (pipe_fds[0] >= 0) {
    fflush(stdout);
    PassOn(pipe_fds[0], out);
  }
  StopHosts(g_hosts, g_host_count);
  dd_report_close();
  close(signal_fd);
  return status;
}
