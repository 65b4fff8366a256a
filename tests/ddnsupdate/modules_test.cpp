// SPDX-License-Identifier: MIT
// ddnsupdate's C modules on their own: the config file as a case table, the
// retry schedule through its clock (no real waiting), the cache file and
// its atomic write, the outcome classes, and the URL template.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "testworld.h"

extern "C" {
#include "cache.h"
#include "config.h"
#include "outcome.h"
#include "schedule.h"
#include "sources.h"
}

namespace {

const uint64_t kMinute = 60000;

std::string Scratch(const std::string &name) {
  const std::string dir = ::testing::TempDir() + "ddnsupdate-modules-" + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  return dir + "/" + name;
}

// ---- Config file ------------------------------------------------------------

struct ConfigResult {
  int line;
  std::string error;
  dd_config config;
};

// Without inih, ddnsupdate reads no config file: its tests skip, saying so.
#ifdef DDNSUPDATE_NO_INIH
#define REQUIRE_INIH() GTEST_SKIP() << "built without inih: the config file is refused"
#else
#define REQUIRE_INIH() \
  do {                 \
  } while (0)
#endif

ConfigResult Load(const std::string &text, int mode = 0600) {
  const std::string path = Scratch("ddnsupdate.conf");
  EXPECT_TRUE(nrtest::WriteFile(path, text, mode));
  ConfigResult r;
  char error[256] = "";
  r.line = dd_config_load(path.c_str(), &r.config, error, sizeof error);
  r.error = error;
  return r;
}

TEST(DdnsUpdateConfig, GoodFiles) {
  REQUIRE_INIH();
  const std::string password_file = Scratch("pw");
  ASSERT_TRUE(nrtest::WriteFile(password_file, "filepw\n", 0600));
  // Two accounts, global defaults and their overrides, several hosts.
  ConfigResult r = Load(
      "; comment\n"
      "[global]\n"
      "interval = 30\n"
      "timeout = 15\n"
      "cache-dir = /var/cache/c\n"
      "syslog = yes\n"
      "refresh-days = 7\n"
      "mac = 00:11:22:aa:bb:cc\n"
      "\n"
      "[home]\n"
      "provider = DynDNS\n"
      "host = a.example.net, b.example.net\n"
      "host = c.example.net\n"
      "user = me\n"
      "password-file = " +
      password_file +
      "\n"
      "[office]\n"
      "provider = 33\n"
      "host = office.example.org\n"
      "user = u\n"
      "password = p\n"
      "interval = 60\n"
      "address = interface:eth0\n");
  ASSERT_EQ(r.line, 0) << r.error;
  const dd_config &c = r.config;
  ASSERT_EQ(c.section_count, 2);
  EXPECT_EQ(c.global.refresh_days, 7u);
  EXPECT_EQ(c.global.use_syslog, 1);
  EXPECT_STREQ(c.global.cache_dir, "/var/cache/c");
  const dd_section &home = c.sections[0];
  EXPECT_STREQ(home.name, "home");
  EXPECT_EQ(home.line, 10);
  EXPECT_EQ(home.provider->number, 1u);
  ASSERT_EQ(home.host_count, 3);
  EXPECT_STREQ(home.hosts[2], "c.example.net");
  EXPECT_STREQ(home.password, "filepw");
  EXPECT_EQ(home.interval, 30u);
  EXPECT_EQ(home.timeout, 15u);
  EXPECT_STREQ(home.mac, "001122AABBCC");
  EXPECT_EQ(home.source.kind, DD_SOURCE_CHECKIP);
  const dd_section &office = c.sections[1];
  EXPECT_STREQ(office.provider->name, "changeip");
  EXPECT_EQ(office.interval, 60u);
  EXPECT_EQ(office.source.kind, DD_SOURCE_INTERFACE);
  EXPECT_EQ(c.holds_password, 1);

  // The provider-specific keys and the generic providers.
  r = Load(
      "[pccw]\nprovider = pccw\nhost = h.example\nuser = u\npassword = p\nserver = s.example\n"
      "checkip-port = 8080\nupdate-port = 8081\ncheckip-path = /ip\nupdate-path = /up\n"
      "[sc]\nprovider = SWISSCOM\nhost = cam.example\nuser = u\npassword = p\n"
      "camera-mac = 00-11-22-33-44-55\ncamera-address = 192.0.2.10\ncamera-port = 8080\n"
      "[d2]\nprovider = dyndns2\nhost = x.example\nuser = u\npassword = p\n"
      "server = ddns.example\nport = 8245\n"
      "[tpl]\nprovider = url\nhost = y.example\n"
      "url = http://ddns.example:8008/u?h=%h&ip=%i&k=%p\nsuccess = OK, good\nfailure = BAD\n"
      "address = 203.0.113.5\n");
  ASSERT_EQ(r.line, 0) << r.error;
  EXPECT_EQ(r.config.sections[0].checkip_port, 8080u);
  EXPECT_STREQ(r.config.sections[1].camera_mac, "001122334455");
  EXPECT_STREQ(r.config.sections[2].path, "/nic/update");  // the dyndns2 default
  EXPECT_EQ(r.config.sections[2].port, 8245u);
  EXPECT_EQ(r.config.sections[3].source.kind, DD_SOURCE_FIXED);
  EXPECT_EQ(r.config.holds_password, 1);
  // The interval never goes under the provider's minimum (10 for DynDNS).
  r = Load("[a]\nprovider = dyndns\nhost = h.example\nuser = u\npassword = p\ninterval = 1\n");
  ASSERT_EQ(r.line, 0) << r.error;
  EXPECT_EQ(r.config.sections[0].interval, 10u);
  EXPECT_EQ(r.config.holds_password, 1);
}

TEST(DdnsUpdateConfig, BadFilesNameTheLineOfTheFirstError) {
  REQUIRE_INIH();
  const std::string good = "[a]\nprovider = dyndns\nhost = h.example\nuser = u\npassword = p\n";
  struct Case {
    std::string text;
    int line;
    const char *message;
  };
  const Case cases[] = {
      {"[a]\nprovider = dyndns\nhost = h.example\nbogus = 1\n", 4, "unknown key 'bogus'"},
      {"[global]\nprovider = dyndns\n", 2, "belongs in an account section"},
      {good + "cache-dir = /x\n", 6, "belongs in [global]"},
      {"[a]\nprovider = nosuch\n", 2, "unknown provider 'nosuch'"},
      {"[a]\nprovider = 13\n", 2, "unknown provider '13'"},  // no update routine
      {"[a]\nprovider = 37\n", 2, "unknown provider '37'"},
      {"[a]\nhost = h.example\nuser = u\npassword = p\n", 1, "[a] names no provider"},
      {"[a]\nprovider = dyndns\nuser = u\npassword = p\n", 1, "[a] names no host"},
      {"[x]\nprovider = dyndns\nhost = h\nuser = u\npassword = p\n[b]\nprovider = tzo\nhost = "
       "h\nuser = u\n",
       6, "provider tzo needs 'password'"},
      {"[a]\nprovider = dyndns-server\nhost = h\nuser = u\npassword = p\n", 1, "needs 'server'"},
      {"[a]\nprovider = pccw\nhost = h\nuser = u\npassword = p\nserver = s\n", 1,
       "needs 'checkip-port'"},
      {"[a]\nprovider = swisscom\nhost = h\nuser = u\npassword = p\n", 1, "needs 'camera-mac'"},
      {"[a]\nprovider = url\nhost = h\nurl = http://s.example/?h=%h\n", 1, "needs 'success'"},
      {"[a]\nprovider = url\nhost = h\nurl = http://s.example/\nsuccess = ok\n", 1, "no %h"},
      {good + "interval = 0\n", 6, "'interval' must be a number from 1 to 10080"},
      {good + "timeout = 20s\n", 6, "'timeout' must be a number"},
      {good + "user = again\n", 6, "'user' is set twice (first on line 4)"},
      {good + "password-file = /x\n", 1, "both password and password-file"},
      {good + "syslog = maybe\n", 6, "belongs in [global]"},
      {"[global]\nsyslog = maybe\n", 2, "'syslog' must be yes or no"},
      {good + "host = bad_host!\n", 6, "is not a host name"},
      {good + "mac = 00:11:22:33:44\n", 6, "'mac' must be 12 hexadecimal digits"},
      {good + "address = somewhere\n", 6, "the address source must be"},
      {good + "address = interface:ppp0\n", 6, "must be eth0 or wlan0"},
      {good + "tls = maybe\n", 6, "'tls' must be yes or no"},
      {good + "ca-file = /nonexistent/ca.pem\n", 1, "cannot read the CA file"},
      {"[global]\ntls = no\n[a]\nprovider = url\nhost = h\nurl = https://s.example/%h\n"
       "success = ok\n",
       3, "has an https:// URL, and HTTPS is off"},
      {good + "user2 = x\x01y\n", 6, "control byte (\\x01)"},
      {good + "server = a\x7f"
              "b\n",
       6, "control byte (\\x7f)"},
      {good + "path = /" + std::string(250, 'p') + "\n", 6, "longer than"},
      {good + "[a]\nuser = x\n", 6, "section [a] appears twice (first on line 1)"},
      {good + "this line has no equals sign\n", 6, "not a section header"},
      {"; nothing but a comment\n", 1, "no account section"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    const ConfigResult r = Load(c.text);
    EXPECT_EQ(r.line, c.line) << r.error;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
  char error[256];
  dd_config config;
  EXPECT_EQ(dd_config_load("/nonexistent/ddnsupdate.conf", &config, error, sizeof error), -1);
  EXPECT_NE(std::string(error).find("cannot read the config file"), std::string::npos);
}

TEST(DdnsUpdateConfig, CheckConfigMasksPasswords) {
  REQUIRE_INIH();
  ConfigResult r = Load(
      "[a]\nprovider = megachips\nhost = h.example\nuser = u\npassword = s3cret\n"
      "current-password = old-s3cret\n");
  ASSERT_EQ(r.line, 0) << r.error;
  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  dd_config_print(&r.config, out);
  fclose(out);
  const std::string printed(text, size);
  free(text);
  EXPECT_EQ(printed.find("s3cret"), std::string::npos) << printed;
  EXPECT_NE(printed.find("password: ********"), std::string::npos) << printed;
  EXPECT_NE(printed.find("[a] provider megachips (25)"), std::string::npos) << printed;
}

TEST(DdnsUpdateConfig, MacForms) {
  char out[13];
  EXPECT_TRUE(dd_parse_mac("00:11:22:AA:BB:CC", out));
  EXPECT_STREQ(out, "001122AABBCC");
  EXPECT_TRUE(dd_parse_mac("0011223344ff", out));
  EXPECT_STREQ(out, "0011223344FF");
  for (const char *bad :
       {"00:11:22:AA:BB", "00:11-22:AA:BB:CC", "0011223344GG", "00:11:22:AA:BB:CCC"})
    EXPECT_FALSE(dd_parse_mac(bad, out)) << bad;
}

// ---- Retry schedule ------------------------------------------------------------

uint64_t g_now = 0;
uint32_t g_random = 0;
uint64_t FakeClock() {
  return g_now;
}
uint32_t FakeRandom() {
  return g_random;
}

class DdnsUpdateSchedule : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_clock_ = dd_clock_ms;
    saved_random_ = dd_random;
    dd_clock_ms = FakeClock;
    dd_random = FakeRandom;
    g_now = 1000000;
    g_random = 0;
  }
  void TearDown() override {
    dd_clock_ms = saved_clock_;
    dd_random = saved_random_;
  }
  uint64_t (*saved_clock_)(void) = nullptr;
  uint32_t (*saved_random_)(void) = nullptr;
};

TEST_F(DdnsUpdateSchedule, TransientFailuresBackOffFromAMinuteToTheInterval) {
  const uint64_t interval = 30 * kMinute;
  // No jitter: 1, 2, 4, 8, 16 minutes, then the interval.
  const uint64_t expected[] = {1, 2, 4, 8, 16, 30, 30};
  for (uint32_t failures = 1; failures <= 7; ++failures)
    EXPECT_EQ(dd_backoff_ms(failures, interval, 0), expected[failures - 1] * kMinute) << failures;
  // The jitter takes off up to a fifth, never under a minute.
  EXPECT_EQ(dd_backoff_ms(5, interval, 0xFFFFFFFFu), 16 * kMinute - 16 * kMinute / 5);
  EXPECT_EQ(dd_backoff_ms(1, interval, 0xFFFFFFFFu), kMinute);
  EXPECT_EQ(dd_backoff_ms(64, interval, 0), interval);
  // An interval under a minute still waits a minute.
  EXPECT_EQ(dd_backoff_ms(3, 1000, 0), kMinute);
}

// A host whose check-IP page fails: over ten minutes of the clock it runs
// 4 rounds (0, 1, 3 and 7 minutes), where a once-a-second retry made 600.
TEST_F(DdnsUpdateSchedule, FailingHostMakesFewRoundsInTenMinutes) {
  dd_schedule s;
  dd_schedule_start(&s, g_now);
  const uint64_t start = g_now;
  std::vector<uint64_t> rounds;
  while (g_now < start + 10 * kMinute) {
    if (dd_schedule_due(&s, g_now)) {
      rounds.push_back((g_now - start) / 1000);
      dd_schedule_begin(&s, g_now);
      g_now += 2500;  // the round takes a while
      dd_schedule_end(&s, DD_ACTION_RETRY, 10 * kMinute, g_now);
    } else {
      g_now += 100;
    }
  }
  EXPECT_EQ(rounds, (std::vector<uint64_t>{0, 62, 185, 427}));
  // A success resets the back-off and waits the interval.
  dd_schedule_begin(&s, g_now);
  EXPECT_EQ(dd_schedule_end(&s, DD_ACTION_DONE, 10 * kMinute, g_now), 10 * kMinute);
  EXPECT_EQ(s.failures, 0u);
}

TEST_F(DdnsUpdateSchedule, PermanentRefusalStopsUntilRestarted) {
  dd_schedule s;
  dd_schedule_start(&s, g_now);
  ASSERT_TRUE(dd_schedule_due(&s, g_now));
  dd_schedule_begin(&s, g_now);
  EXPECT_EQ(dd_schedule_end(&s, DD_ACTION_PERMANENT, 10 * kMinute, g_now), 0u);
  for (uint64_t t = 0; t < 1000 * kMinute; t += kMinute)
    EXPECT_FALSE(dd_schedule_due(&s, g_now + t));
  dd_schedule_force(&s, g_now);  // SIGUSR1 does not wake a refused host
  EXPECT_FALSE(dd_schedule_due(&s, g_now + kMinute));
  dd_schedule_start(&s, g_now + kMinute);  // SIGHUP does
  EXPECT_TRUE(dd_schedule_due(&s, g_now + kMinute));
}

TEST_F(DdnsUpdateSchedule, NeverTwoRoundsOfAHostWithinAMinute) {
  dd_schedule s;
  dd_schedule_start(&s, g_now);
  dd_schedule_begin(&s, g_now);
  g_now += 5000;
  // An interval of under a minute (as the soak option allows) still waits.
  EXPECT_EQ(dd_schedule_end(&s, DD_ACTION_DONE, 1000, g_now), kMinute - 5000);
  // SIGUSR1 ten seconds after the round: due at the minute, not at once.
  g_now += 5000;
  dd_schedule_force(&s, g_now);
  EXPECT_FALSE(dd_schedule_due(&s, g_now));
  EXPECT_FALSE(dd_schedule_due(&s, g_now + 49999 - 1));
  EXPECT_TRUE(dd_schedule_due(&s, g_now + 50000));
  // Long after the last round, SIGUSR1 makes it due at once.
  dd_schedule_end(&s, DD_ACTION_DONE, 10 * kMinute, g_now);
  g_now += 2 * kMinute;
  EXPECT_FALSE(dd_schedule_due(&s, g_now));
  dd_schedule_force(&s, g_now);
  EXPECT_TRUE(dd_schedule_due(&s, g_now));
}

// ---- Outcome classes -----------------------------------------------------------

TEST(DdnsUpdateOutcome, ClassesWordsAndActions) {
  struct Case {
    uint32_t result;
    int no_name_server;
    const char *words;
    dd_action action;
  };
  const Case cases[] = {
      {DDNSCLIENT_OK, 0, "updated", DD_ACTION_DONE},
      {DDNSCLIENT_E_NO_CHANGE, 0, "no change needed", DD_ACTION_DONE},
      {DDNSCLIENT_I_IP_UNCHANGED, 0, "unchanged", DD_ACTION_DONE},
      {DDNSCLIENT_E_AUTH, 0, "authentication refused", DD_ACTION_PERMANENT},  // badauth, !donator
      {DDNSCLIENT_E_HOSTNAME, 0, "host name refused", DD_ACTION_PERMANENT},   // nohost, !yours ...
      {DDNSCLIENT_E_ABUSE, 0, "refused permanently", DD_ACTION_PERMANENT},
      {DDNSCLIENT_E_AGENT_REFUSED, 0, "refused permanently", DD_ACTION_PERMANENT},
      {DDNSCLIENT_E_SYSTEM_PARAMETER, 0, "refused permanently", DD_ACTION_PERMANENT},
      {DDNSCLIENT_E_SERVER_DNS, 0, "server error", DD_ACTION_RETRY},  // dnserr, 911, 500, 503
      {DDNSCLIENT_E_UNKNOWN_RESPONSE, 0, "server error", DD_ACTION_RETRY},
      {DDNSCLIENT_E_NETWORK, 0, "network error", DD_ACTION_RETRY},
      {DDNSCLIENT_E_FAIL, 0, "network error", DD_ACTION_RETRY},
      {DDNSCLIENT_E_FAIL, 1, "network error (no name server)", DD_ACTION_RETRY},
      {DDNSCLIENT_E_NO_PUBLIC_IP, 0, "public address unknown", DD_ACTION_RETRY},
      {DDNSCLIENT_E_NO_PUBLIC_IP, 1, "network error (no name server)", DD_ACTION_RETRY},
      {DDNSCLIENT_E_INVALID_ARGS, 0, "settings refused", DD_ACTION_PERMANENT},
      {DDNSCLIENT_E_INVALID_ARGS, 1, "network error (no name server)", DD_ACTION_RETRY},
      // Nothing was sent; the clock or the server may be right next time.
      {DDNSCLIENT_E_CERT_UNTRUSTED, 0, "certificate refused", DD_ACTION_RETRY},
      {DDNSCLIENT_E_CERT_EXPIRED, 0, "certificate refused", DD_ACTION_RETRY},
      {DDNSCLIENT_E_CERT_NAME, 1, "certificate refused", DD_ACTION_RETRY},
      {DDNSCLIENT_E_CERT_REFUSED, 0, "certificate refused", DD_ACTION_RETRY},
      {DDNSCLIENT_E_TLS, 0, "TLS failed", DD_ACTION_RETRY},
      {DDNSCLIENT_E_TLS_CA_FILE, 0, "settings refused", DD_ACTION_PERMANENT},
      {DDNSCLIENT_E_TLS_NOT_BUILT, 0, "settings refused", DD_ACTION_PERMANENT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.words);
    const dd_class k = dd_classify(c.result, c.no_name_server);
    EXPECT_STREQ(dd_class_words(k), c.words);
    EXPECT_EQ(dd_class_action(k), c.action);
  }
}

// The reason after "certificate refused" and the other HTTPS words; an
// expired or not yet valid certificate shows what the clock says.
TEST(DdnsUpdateOutcome, HttpsDetails) {
  char out[128];
  dd_result_detail(DDNSCLIENT_E_CERT_EXPIRED, 0, out, sizeof out);
  EXPECT_STREQ(out, "expired or not yet valid (the clock says 1970-01-01 00:00 UTC: is it set?)");
  dd_result_detail(DDNSCLIENT_E_CERT_EXPIRED, 1767225600, out, sizeof out);
  EXPECT_NE(std::string(out).find("2026-01-01 00:00 UTC"), std::string::npos) << out;
  dd_result_detail(DDNSCLIENT_E_CERT_NAME, 0, out, sizeof out);
  EXPECT_STREQ(out, "not for this host");
  dd_result_detail(DDNSCLIENT_E_TLS_CA_FILE, 0, out, sizeof out);
  EXPECT_STREQ(out, "the CA file cannot be read or holds no certificate");
  dd_result_detail(DDNSCLIENT_E_NETWORK, 0, out, sizeof out);
  EXPECT_STREQ(out, "");
}

TEST(DdnsUpdateOutcome, EscapesControlBytes) {
  char out[64];
  dd_escape(
      "a\nb\x7f"
      "c\x01",
      out, sizeof out);
  EXPECT_STREQ(out, "a\\x0ab\\x7fc\\x01");
  dd_escape("ab\ncd", out, 6);  // a cut never splits an escape
  EXPECT_STREQ(out, "ab");
  EXPECT_EQ(dd_control_byte("plain text"), -1);
  EXPECT_EQ(dd_control_byte("tab\there"), '\t');
}

// ---- URL template ----------------------------------------------------------------

TEST(DdnsUpdateTemplate, FillsPercentEncodedValues) {
  char out[256];
  ASSERT_TRUE(dd_fill_template("http://s.example/u?h=%h&i=%i&u=%u&p=%p&x=100%%", "cam.example",
                               "203.0.113.7", "me@home", "p&ss w/=", out, sizeof out));
  EXPECT_STREQ(
      out, "http://s.example/u?h=cam.example&i=203.0.113.7&u=me%40home&p=p%26ss%20w%2F%3D&x=100%");
  EXPECT_FALSE(dd_fill_template("http://s.example/%q", "h", "i", "u", "p", out, sizeof out));
  EXPECT_FALSE(dd_fill_template("http://s.example/%h", std::string(300, 'h').c_str(), "i", "u", "p",
                                out, sizeof out));
  EXPECT_EQ(dd_judge_body("<b>OK</b>", "good, OK", "BAD"), 1);
  EXPECT_EQ(dd_judge_body("BAD host OK", "OK", "BAD"), -1);
  EXPECT_EQ(dd_judge_body("something else", "OK", "BAD"), 0);
}

// ---- Cache -----------------------------------------------------------------------

TEST(DdnsUpdateCache, RoundTripPathsAndRefresh) {
  char path[256];
  ASSERT_TRUE(dd_cache_path("/var/cache/d", "dyndns", "a.example/../x", path, sizeof path));
  EXPECT_STREQ(path, "/var/cache/d/dyndns_a.example_.._x");
  EXPECT_FALSE(dd_cache_path(std::string(300, 'd').c_str(), "p", "h", path, sizeof path));

  const std::string file = Scratch("cache-entry");
  dd_cache_entry entry = {inet_addr("203.0.113.7"), 1765339200, DDNSCLIENT_E_NO_CHANGE};
  ASSERT_EQ(dd_cache_write(file.c_str(), &entry), 0);
  dd_cache_entry read = {};
  ASSERT_TRUE(dd_cache_read(file.c_str(), &read));
  EXPECT_EQ(read.address, entry.address);
  EXPECT_EQ(read.sent_at, entry.sent_at);
  EXPECT_EQ(read.result, entry.result);
  EXPECT_EQ(access((file + ".tmp").c_str(), F_OK), -1);  // no temporary file left

  // A file that is not one whole entry is no entry.
  for (const char *bad : {"203.0.113.7 1765339200 0x0", "garbage\n", "999.1.1.1 5 0x0\n", ""}) {
    ASSERT_TRUE(nrtest::WriteFile(file, bad));
    EXPECT_FALSE(dd_cache_read(file.c_str(), &read)) << bad;
  }
  EXPECT_FALSE(dd_cache_read("/nonexistent/x", &read));

  // The forced refresh: 28 days after the address was sent.
  entry.sent_at = 1000000;
  EXPECT_FALSE(dd_cache_refresh_due(&entry, 28, 1000000 + 28 * 86400 - 1));
  EXPECT_TRUE(dd_cache_refresh_due(&entry, 28, 1000000 + 28 * 86400));
  EXPECT_FALSE(dd_cache_refresh_due(&entry, 0, 1000000 + 999 * 86400));
  entry.address = 0;
  EXPECT_FALSE(dd_cache_refresh_due(&entry, 28, 1000000 + 99 * 86400));
}

// A writer killed with SIGKILL at random moments of its writes leaves a
// whole entry every time: the old one or the new one.
TEST(DdnsUpdateCache, SurvivesKillDuringWrite) {
  const std::string file = Scratch("cache-kill");
  const dd_cache_entry first = {htonl(0xC6336402u), 2, 0};
  ASSERT_EQ(dd_cache_write(file.c_str(), &first), 0);
  std::mt19937 rng(12345);
  for (int round = 0; round < 30; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (uint32_t i = 0;; ++i) {
        const dd_cache_entry e = {htonl(0xC6336400u + (i % 200) + 2), (int64_t)i + 2, i};
        dd_cache_write(file.c_str(), &e);
      }
    }
    usleep(1000 + rng() % 20000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    dd_cache_entry read = {};
    ASSERT_TRUE(dd_cache_read(file.c_str(), &read)) << "round " << round;
    EXPECT_EQ(ntohl(read.address) & 0xFFFFFF00u, 0xC6336400u);
    EXPECT_EQ(read.result + 2, static_cast<uint32_t>(read.sent_at));
  }
}

}  // namespace
