/* SPDX-License-Identifier: MIT */
/*
 * ddnsupdate: keeps one host name current with one DDNS provider, once
 * (--once) or until SIGTERM / SIGINT, through the public DDNS client API.
 * One outcome line per round on stderr (and, with --syslog, to syslog).
 *
 * It is also the reference host program for the library: everything it does
 * goes through <namreg/ddnsclient.h>.
 *
 * Exit status: 0 updated or nothing to change, 1 the provider or the network
 * refused or failed, 2 bad options, 3 the client could not be started.
 */
#define _DEFAULT_SOURCE /* getopt_long, nanosleep, sigaction */
#include <arpa/inet.h>
#include <ctype.h>
#include <errno.h>
#include <getopt.h>
#include <namreg/ddnsclient.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <time.h>

enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitStart = 3 };

static volatile sig_atomic_t g_stop = 0;

static void OnStopSignal(int signal_number) {
  (void)signal_number;
  g_stop = 1;
}

struct ProviderName {
  const char *name;
  uint32_t number;
};

static const struct ProviderName kProviders[] = {
    {"dyndns", 1},        {"dyndns-custom", 2},  {"tzo", 3},         {"dhs", 4},
    {"hldm", 5},          {"interfree", 6},      {"iodata", 7},      {"dynamicdo", 8},
    {"mydns", 9},         {"dyndns-server", 10}, {"dp21", 11},       {"atnethome", 12},
    {"pcicybergate", 15}, {"nexuscontrol", 19},  {"peanuthull", 20}, {"dynamicdo-free", 21},
    {"pccw", 23},         {"megachips", 25},     {"logitec", 28},    {"huagai", 30},
    {"3322", 31},         {"changeip", 33},      {"swisscom", 35},   {"tzo-server", 36},
};

struct Options {
  uint32_t provider;
  const char *provider_text;
  const char *host;
  const char *user;
  const char *password;
  const char *password_file;
  const char *server;
  const char *email;
  const char *current_password;
  const char *mac;
  const char *firmware;
  uint32_t timeout;
  uint32_t interval;
  int once;
  int use_syslog;
  int change_password;
  int iodata_action; /* 0 update, 1 register, 2 offline */
};

static void Usage(FILE *out) {
  fputs(
      "usage: ddnsupdate -p PROVIDER -n HOSTNAME [-u USER] [-w PASSWORD | -W FILE]\n"
      "                  [-s SERVER] [-e EMAIL] [-t TIMEOUT] [--once | --interval MINUTES]\n"
      "                  [--syslog] [--mac MAC] [--firmware TEXT]\n"
      "                  [--current-password TEXT] [--change-password] [--register | --offline]\n"
      "\n"
      "  -p, --provider     provider number (1-37) or name (dyndns, tzo, peanuthull,\n"
      "                     iodata, megachips, ...; see the manual)\n"
      "  -n, --hostname     host name to keep current\n"
      "  -u, --user         account user name\n"
      "  -w, --password     account password (shows in the process list: prefer -W)\n"
      "  -W, --password-file  read the password from the first line of FILE\n"
      "  -s, --server       the provider's server, for providers that need one\n"
      "  -e, --email        e-mail address (I-O DATA)\n"
      "  -t, --timeout      seconds for one round (default 20)\n"
      "      --once         one round, then exit with its status\n"
      "      --interval     minutes between rounds (at least the provider's minimum)\n"
      "      --syslog       outcome lines to syslog too\n"
      "      --mac          the camera's MAC (12 hex digits; default $MAC_ADDR)\n"
      "      --firmware     the model / firmware text sent as User-Agent\n"
      "      --current-password  MegaChips: the password the provider holds now\n"
      "      --change-password   MegaChips: change the password to -w / -W (with --once)\n"
      "      --register, --offline  I-O DATA: register the host name, or take it offline\n"
      "                     (with --once)\n"
      "  -h, --help         this text\n",
      out);
}

static int Fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

static int Fail(const char *format, ...) {
  va_list args;
  va_start(args, format);
  fputs("ddnsupdate: ", stderr);
  vfprintf(stderr, format, args);
  fputs("\nTry 'ddnsupdate -h'.\n", stderr);
  va_end(args);
  return kExitUsage;
}

static int ParseNumber(const char *text, uint32_t low, uint32_t high, uint32_t *value) {
  char *end = NULL;
  errno = 0;
  const unsigned long n = strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || n < low || n > high) return 0;
  *value = (uint32_t)n;
  return 1;
}

static int ParseProvider(const char *text, uint32_t *provider) {
  if (ParseNumber(text, 1, DDNSCLIENT_PROVIDER_COUNT - 1, provider))
    return DDNSClient_IsValidServiceProv(*provider) != 0;
  for (size_t i = 0; i < sizeof kProviders / sizeof kProviders[0]; ++i) {
    if (strcmp(text, kProviders[i].name) == 0) {
      *provider = kProviders[i].number;
      return 1;
    }
  }
  return 0;
}

/* Reads the first line of `path` into `out`; 0 on failure. */
static int ReadPasswordFile(const char *path, char *out, size_t size) {
  FILE *file = fopen(path, "r");
  if (file == NULL) return 0;
  const int ok = fgets(out, (int)size, file) != NULL;
  fclose(file);
  if (!ok) return 0;
  out[strcspn(out, "\r\n")] = '\0';
  return 1;
}

static int ParseOptions(int argc, char **argv, struct Options *o, char *password, size_t size) {
  enum {
    kOnce = 256,
    kInterval,
    kSyslog,
    kMac,
    kFirmware,
    kCurrentPassword,
    kChangePassword,
    kRegister,
    kOffline
  };
  static const struct option kLong[] = {
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
      {"syslog", no_argument, NULL, kSyslog},
      {"mac", required_argument, NULL, kMac},
      {"firmware", required_argument, NULL, kFirmware},
      {"current-password", required_argument, NULL, kCurrentPassword},
      {"change-password", no_argument, NULL, kChangePassword},
      {"register", no_argument, NULL, kRegister},
      {"offline", no_argument, NULL, kOffline},
      {"help", no_argument, NULL, 'h'},
      {NULL, 0, NULL, 0},
  };
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":p:n:u:w:W:s:e:t:h", kLong, NULL)) != -1) {
    switch (c) {
      case 'p':
        o->provider_text = optarg;
        if (!ParseProvider(optarg, &o->provider)) return Fail("unknown provider '%s'", optarg);
        break;
      case 'n':
        o->host = optarg;
        break;
      case 'u':
        o->user = optarg;
        break;
      case 'w':
        o->password = optarg;
        break;
      case 'W':
        o->password_file = optarg;
        break;
      case 's':
        o->server = optarg;
        break;
      case 'e':
        o->email = optarg;
        break;
      case 't':
        if (!ParseNumber(optarg, 1, 3600, &o->timeout))
          return Fail("the time-out must be 1 to 3600 seconds, not '%s'", optarg);
        break;
      case kOnce:
        o->once = 1;
        break;
      case kInterval:
        if (!ParseNumber(optarg, 1, 10080, &o->interval))
          return Fail("the interval must be 1 to 10080 minutes, not '%s'", optarg);
        break;
      case kSyslog:
        o->use_syslog = 1;
        break;
      case kMac:
        o->mac = optarg;
        break;
      case kFirmware:
        o->firmware = optarg;
        break;
      case kCurrentPassword:
        o->current_password = optarg;
        break;
      case kChangePassword:
        o->change_password = 1;
        break;
      case kRegister:
      case kOffline:
        if (o->iodata_action != 0) return Fail("give either --register or --offline");
        o->iodata_action = c == kRegister ? 1 : 2;
        break;
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
  if (optind < argc) return Fail("unexpected argument '%s'", argv[optind]);
  if (o->provider == 0) return Fail("a provider (-p) is needed");
  if (o->host == NULL || o->host[0] == '\0') return Fail("a host name (-n) is needed");
  if (o->once && o->interval != 0) return Fail("--once and --interval exclude each other");
  if (o->password != NULL && o->password_file != NULL)
    return Fail("give the password either with -w or with -W");
  if (o->change_password && (o->provider != DDNSCLIENT_PROVIDER_MEGACHIPS || !o->once))
    return Fail("--change-password is for MegaChips with --once");
  if (o->iodata_action != 0 && (o->provider != DDNSCLIENT_PROVIDER_IODATA || !o->once))
    return Fail("--register and --offline are for I-O DATA with --once");
  if (strlen(o->host) > 127) return Fail("the host name is longer than 127 characters");
  if (o->user != NULL && strlen(o->user) > 63)
    return Fail("the user name is longer than 63 characters");
  if (o->password_file != NULL) {
    if (!ReadPasswordFile(o->password_file, password, size))
      return Fail("cannot read the password file '%s'", o->password_file);
    o->password = password;
  }
  if (o->password != NULL && strlen(o->password) > 63)
    return Fail("the password is longer than 63 characters");
  if (o->mac == NULL) o->mac = getenv("MAC_ADDR");
  if (o->mac == NULL) o->mac = "020000000001";
  if (o->firmware == NULL) o->firmware = "ddnsupdate";
  return kExitOk;
}

static int NeedsServer(uint32_t provider) {
  return provider == 10 || provider == 23 || provider == 26 || provider == 27 || provider == 29 ||
         provider == 34 || provider == 36;
}

static void Copy(char *dest, size_t size, const char *src) {
  snprintf(dest, size, "%s", src != NULL ? src : "");
}

static const char *Outcome(const struct Options *o, uint32_t result) {
  if (result == DDNSCLIENT_OK && o->iodata_action == 1) return "registered";
  if (result == DDNSCLIENT_OK && o->iodata_action == 2) return "offline";
  if (result == DDNSCLIENT_OK && o->change_password) return "password changed";
  switch (result) {
    case DDNSCLIENT_OK:
      return "updated";
    case DDNSCLIENT_I_IP_UNCHANGED:
      return "unchanged";
    case DDNSCLIENT_E_NO_CHANGE:
      return "no change needed";
    case DDNSCLIENT_E_AUTH:
      return "authentication refused";
    case DDNSCLIENT_E_HOSTNAME:
      return "host name refused";
    case DDNSCLIENT_E_PASSWORD:
      return "password refused";
    case DDNSCLIENT_E_NO_PUBLIC_IP:
      return "public address unknown";
    case DDNSCLIENT_E_NETWORK:
      return "network error";
    case DDNSCLIENT_E_INVALID_ARGS:
      return "settings refused";
    case DDNSCLIENT_E_FAIL:
      return "failed";
    default:
      return "refused";
  }
}

static int IsSuccess(uint32_t result) {
  return result == DDNSCLIENT_OK || result == DDNSCLIENT_I_IP_UNCHANGED ||
         result == DDNSCLIENT_E_NO_CHANGE;
}

static void Report(const struct Options *o, uint32_t result, uint32_t address) {
  char text[INET_ADDRSTRLEN] = "-";
  if (address != 0 && IsSuccess(result)) {
    struct in_addr in;
    in.s_addr = address;
    inet_ntop(AF_INET, &in, text, sizeof text);
  }
  fprintf(stderr, "ddnsupdate: %s %s: %s, address %s (result 0x%08X)\n", o->provider_text, o->host,
          Outcome(o, result), text, (unsigned)result);
  if (o->use_syslog)
    syslog(IsSuccess(result) ? LOG_INFO : LOG_WARNING, "%s %s: %s, address %s (result 0x%08X)",
           o->provider_text, o->host, Outcome(o, result), text, (unsigned)result);
}

/* One round: the provider's own operation, or the update engine. */
static uint32_t Round(DDNSClientContext *context, const struct Options *o,
                      const DDNSClientSettings *settings, int *logged_in, uint32_t *address) {
  switch (o->provider) {
    case DDNSCLIENT_PROVIDER_PEANUTHULL: {
      /* The UDP update needs a login earlier in this process. */
      if (!*logged_in) {
        const uint32_t r = DDNSClient_PeanutHullRegister(context, settings, o->timeout, address);
        if (r != DDNSCLIENT_OK) return r;
        *logged_in = 1;
      }
      const uint32_t r = DDNSClient_PeanutHullUpdate(context, settings, o->timeout, address);
      if (r == DDNSCLIENT_E_NETWORK) *logged_in = 0; /* log in again next round */
      return r;
    }
    case DDNSCLIENT_PROVIDER_MEGACHIPS:
      *address = 0;
      return DDNSClient_MegaChipsProcess(
          context, settings, o->timeout,
          o->change_password ? DDNSCLIENT_MEGACHIPS_CHANGE_PASSWORD : DDNSCLIENT_MEGACHIPS_UPDATE);
    case DDNSCLIENT_PROVIDER_IODATA:
      if (o->iodata_action != 0) {
        *address = 0;
        return DDNSClient_IODATAProcess(
            context, settings, o->timeout,
            o->iodata_action == 1 ? DDNSCLIENT_IODATA_REGISTER : DDNSCLIENT_IODATA_OFFLINE);
      }
      return DDNSClient_Update(context, settings, o->timeout, address);
    default:
      return DDNSClient_Update(context, settings, o->timeout, address);
  }
}

int main(int argc, char **argv) {
  struct Options o;
  memset(&o, 0, sizeof o);
  char password[128];
  password[0] = '\0';
  const int parsed = ParseOptions(argc, argv, &o, password, sizeof password);
  if (parsed != kExitOk) return parsed;
  if (o.use_syslog) openlog("ddnsupdate", LOG_PID, LOG_DAEMON);

  DDNSClientInitInfo info;
  memset(&info, 0, sizeof info);
  info.dwVersion = DDNSCLIENT_VERSION;
  Copy(info.szMAC, sizeof info.szMAC, o.mac);
  Copy(info.szFirmwareVersion, sizeof info.szFirmwareVersion, o.firmware);
  if (o.server != NULL) {
    if (o.provider == DDNSCLIENT_PROVIDER_HLDM || o.provider == DDNSCLIENT_PROVIDER_HLDM2)
      Copy(info.szHLDMServerName, sizeof info.szHLDMServerName, o.server);
    else
      Copy(info.szDDNSServerName, sizeof info.szDDNSServerName, o.server);
  } else if (NeedsServer(o.provider)) {
    return Fail("provider '%s' needs its server (-s)", o.provider_text);
  }
  DDNSClientContext *context = NULL;
  const uint32_t started = DDNSClient_Initial(&context, &info);
  if (started != DDNSCLIENT_OK) {
    fprintf(stderr, "ddnsupdate: the DDNS client could not start (result 0x%08X)\n",
            (unsigned)started);
    DDNSClient_Release(&context);
    return kExitStart;
  }

  DDNSClientSettings settings;
  memset(&settings, 0, sizeof settings);
  settings.dwFlags = DDNSCLIENT_FLAG_ENABLE | DDNSCLIENT_FLAG_PROVIDER | DDNSCLIENT_FLAG_HOSTNAME |
                     DDNSCLIENT_FLAG_USERNAME | DDNSCLIENT_FLAG_PASSWORD;
  settings.dwEnable = 1;
  settings.dwServiceProvider = o.provider;
  Copy(settings.szHostName, sizeof settings.szHostName, o.host);
  Copy(settings.szUserName, sizeof settings.szUserName, o.user);
  Copy(settings.szPassword, sizeof settings.szPassword, o.password);
  settings.wHTTPAlternativePort = 80;
  if (o.interval != 0) {
    settings.dwFlags |= DDNSCLIENT_FLAG_INTERVAL;
    settings.dwUpdateInterval = o.interval;
  }
  if (o.server != NULL && o.provider != DDNSCLIENT_PROVIDER_HLDM &&
      o.provider != DDNSCLIENT_PROVIDER_HLDM2) {
    settings.dwFlags |= DDNSCLIENT_FLAG_DDNS_SERVER;
    Copy(settings.szDDNSServerName, sizeof settings.szDDNSServerName, o.server);
  }
  Copy(settings.szProvider7Text, sizeof settings.szProvider7Text, o.email);
  Copy(settings.szMegaChipsText, sizeof settings.szMegaChipsText, o.current_password);
  memset(password, 0, sizeof password);

  struct sigaction stop;
  memset(&stop, 0, sizeof stop);
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTERM, &stop, NULL);
  sigaction(SIGINT, &stop, NULL);

  int status = kExitOk;
  int logged_in = 0;
  uint32_t address = 0;
  if (o.once) {
    const uint32_t result = Round(context, &o, &settings, &logged_in, &address);
    Report(&o, result, address);
    status = IsSuccess(result) ? kExitOk : kExitFailed;
  } else {
    int first = 1;
    while (!g_stop) {
      if (first || DDNSClient_IsTimeToUpdate(context)) {
        first = 0;
        const uint32_t result = Round(context, &o, &settings, &logged_in, &address);
        Report(&o, result, address);
        /* Settings the library refuses will not pass in a later round. */
        if (result == DDNSCLIENT_E_INVALID_ARGS) {
          status = kExitFailed;
          break;
        }
      }
      /* Between checks; a stop signal ends the sleep at once. */
      const struct timespec pause = {1, 0};
      nanosleep(&pause, NULL);
    }
  }
  DDNSClient_Release(&context);
  if (o.use_syslog) closelog();
  return status;
}
