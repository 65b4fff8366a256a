// SPDX-License-Identifier: MIT
// ddnsupdate as a process in the test world: one round of a dyndns2
// provider against fake check-IP and update pages, PeanutHull against
// peanuthull-sim once and periodically (stopped by SIGTERM), bad options,
// and the daemon of a config file: several sections in one process, the
// cache, permanent refusals, SIGHUP, SIGUSR1 and SIGTERM.
#include <gtest/gtest.h>
#include <namreg/common.h>
#include <namreg/version.h>
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_dns.h"
#include "namreg/httpclient.h"
#include "provider_world.h"
#include "sim_process.h"
#include "testworld.h"
#include "tls_kit.h"

namespace {

using provtest::HttpPeer;
using provtest::Reply;
using Clock = std::chrono::steady_clock;

// A ddnsupdate built without inih refuses config files with a message of
// its own; the cases that read one are skipped there.
#ifdef DDNSUPDATE_NO_INIH
const bool kHaveConfigFiles = false;
const char kNoConfigFile[] = "built without config-file support";
#else
const bool kHaveConfigFiles = true;
const char kNoConfigFile[] = "cannot read the config file";
#endif

std::string Program() {
  return nrtest::BuiltProgram("ddnsupdate/ddnsupdate");
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t CountOf(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string Basic(const std::string &credentials) {
  char out[128];
  const int n = Base64_EncodeString(credentials.c_str(), out, sizeof out);
  return std::string(out, static_cast<size_t>(n > 0 ? n : 0));
}

// A DynDNS account at provider-sim: the check-IP page and the update host,
// both on port 8245; the simulator's reply to the update decides.
TEST(DdnsUpdateOnce, DynDNSGoodNochgAndBadauth) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  const std::string password_file = nrtest::ScratchDir() + "/password";
  ASSERT_TRUE(nrtest::WriteFile(password_file, "s3cret\n", 0600));

  struct Case {
    const char *reply;  // provider-sim's --reply for the update path, or none
    int status;
    const char *line;
  };
  const Case cases[] = {
      {nullptr, 0,
       "ddnsupdate: dyndns cam.dyndns.example: updated, address 203.0.113.7 (result 0x00000000)"},
      {"/nic/update=nochg 203.0.113.7", 0,
       "ddnsupdate: dyndns cam.dyndns.example: no change needed, address 203.0.113.7 (result "
       "0x80020005)"},
      {"/nic/update=badauth", 1,
       "ddnsupdate: dyndns cam.dyndns.example: authentication refused, address - (result "
       "0x80020004)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> sim_args = {"--max-seconds", "30",      "--ip",
                                         "203.0.113.7",   "--basic", "user:s3cret"};
    if (c.reply != nullptr) {
      sim_args.push_back("--reply");
      sim_args.push_back(c.reply);
    }
    nrtest::SimProcess sim;
    ASSERT_TRUE(sim.Start("tools/provider-sim/provider-sim", sim_args));
    nrtest::ProcessOptions options;
    options.timeout_ms = 30000;
    const nrtest::ProcessResult r =
        nrtest::RunProcess({Program(), "-p", "dyndns", "-n", "cam.dyndns.example", "-u", "user",
                            "-W", password_file, "-t", "10", "--once", "--no-tls"},
                           options);
    EXPECT_EQ(r.exit_status, c.status) << r.err;
    EXPECT_NE(r.err.find(std::string(c.line) + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(CountOf(r.err, "ddnsupdate: "), 1u) << r.err;  // one outcome line
    EXPECT_EQ(r.out, "");  // the library's diagnostics are silent without -v
    sim.Stop();
    const std::string seen = sim.Log();
    EXPECT_EQ(CountOf(seen, "\"GET / HTTP/1.1\" host=\"checkip.dyndns.org:8245\""), 1u) << seen;
    EXPECT_EQ(CountOf(seen,
                      "\"GET /nic/update?system=dyndns&hostname=cam.dyndns.example&myip="
                      "203.0.113.7 HTTP/1.1\" host=\"members.dyndns.org:8245\" "
                      "agent=\"ddnsupdate\" auth=ok -> 200"),
              1u)
        << seen;
  }
}

// DynDNS over HTTPS, as ddnsupdate speaks to it by default: the check-IP
// page in clear (its host offers no HTTPS), the update on port 443 of
// provider-sim's TLS port with a certificate of the test PKI.  A
// certificate that does not pass is refused with its reason, nothing is
// sent, and the round fails.
TEST(DdnsUpdateOnce, HttpsUpdateAndRefusedCertificates) {
  NAMREG_REQUIRE_SANDBOX();
  if (HTTPClient_TLSBuiltIn() == 0) GTEST_SKIP() << "built without TLS (NAMREG_TLS)";
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  std::string error;
  nrtest::TestPki pki;
  ASSERT_TRUE(nrtest::MakeTestPki(&pki, &error)) << error;
  nrtest::CertFiles good, expired;
  ASSERT_TRUE(
      nrtest::IssueServerCertificate(pki, "dyndns", {"members.dyndns.org"}, false, &good, &error))
      << error;
  ASSERT_TRUE(nrtest::IssueServerCertificate(pki, "dyndns_expired", {"members.dyndns.org"}, true,
                                             &expired, &error))
      << error;
  const std::string password_file = nrtest::ScratchDir() + "/password";
  ASSERT_TRUE(nrtest::WriteFile(password_file, "s3cret\n", 0600));
  const std::string update =
      "\"GET /nic/update?system=dyndns&hostname=cam.dyndns.example&myip=203.0.113.7 HTTP/1.1\" "
      "host=\"members.dyndns.org\" agent=\"ddnsupdate\" auth=ok -> 200";
  struct Case {
    const char *name;
    const nrtest::CertFiles *served;
    std::string ca_file;
    int status;
    std::string line;
  };
  const Case cases[] = {
      {"a good certificate", &good, pki.root_ca, 0,
       "dyndns cam.dyndns.example: updated, address 203.0.113.7 (result 0x00000000)"},
      {"an expired certificate", &expired, pki.root_ca, 1,
       "dyndns cam.dyndns.example: certificate refused: expired or not yet valid (the clock "
       "says "},
      {"the test root not trusted", &good, HTTPCLIENT_TLS_SYSTEM_CA_FILE, 1,
       "dyndns cam.dyndns.example: certificate refused: not from a trusted CA, address - "
       "(result 0x8002001D)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    nrtest::SimProcess sim;
    ASSERT_TRUE(sim.Start(
        "tools/provider-sim/provider-sim",
        {"--max-seconds", "30", "--ports", "8245", "--tls-ports", "443", "--cert", c.served->cert,
         "--key", c.served->key, "--ip", "203.0.113.7", "--basic", "user:s3cret"}));
    nrtest::ProcessOptions options;
    options.timeout_ms = 30000;
    const nrtest::ProcessResult r =
        nrtest::RunProcess({Program(), "-p", "dyndns", "-n", "cam.dyndns.example", "-u", "user",
                            "-W", password_file, "-t", "10", "--once", "--ca-file", c.ca_file},
                           options);
    EXPECT_EQ(r.exit_status, c.status) << r.err;
    EXPECT_NE(r.err.find("ddnsupdate: " + c.line), std::string::npos) << r.err;
    EXPECT_EQ(CountOf(r.err, "ddnsupdate: "), 1u) << r.err;
    if (c.served == &expired) {
      EXPECT_NE(r.err.find(" UTC: is it set?), address - (result 0x8002001E)\n"), std::string::npos)
          << r.err;
    }
    sim.Stop();
    const std::string seen = sim.Log();
    EXPECT_EQ(CountOf(seen, "8245 \"GET / HTTP/1.1\" host=\"checkip.dyndns.org:8245\""), 1u)
        << seen;
    EXPECT_EQ(CountOf(seen, "443 " + update), c.status == 0 ? 1u : 0u) << seen;
    // The update only over TLS (a 401 first, then the credentials); after a
    // refusal the server had a connection and no request.
    EXPECT_EQ(CountOf(seen, "/nic/update"), CountOf(seen, "443 \"GET /nic/update")) << seen;
    if (c.status != 0) {
      EXPECT_EQ(CountOf(seen, "/nic/update"), 0u) << seen;
      EXPECT_EQ(CountOf(seen, "443 ("), 1u) << seen;
    }
  }
}

// The vendor operations: I-O DATA register and offline, MegaChips password
// change, each one round against a fake service on port 80.
TEST(DdnsUpdateOnce, VendorOperations) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(nrtest::Names{{DDNSCLIENT_IODATA_HOST, "127.0.0.1"},
                                    {DDNSCLIENT_MEGACHIPS_HOST, "127.0.0.1"}});
  ASSERT_TRUE(dns.ok());
  std::mutex mutex;
  std::vector<std::string> paths;
  HttpPeer peer(80, [&](const std::string &request, int) {
    const std::string path = request.substr(4, request.find(" HTTP/1.1") - 4);
    if (path.find("registdns.cgi") == std::string::npos &&
        request.find("Authorization: Basic ") == std::string::npos)
      return Reply("no", "401 Unauthorized", "WWW-Authenticate: Basic realm=\"ddns\"\r\n");
    std::lock_guard<std::mutex> lock(mutex);
    paths.push_back(path);
    if (path.find("registdns.cgi") != std::string::npos) return Reply("ok");
    if (path.find("updateUserSetting.php") != std::string::npos)
      return Reply(request.find(Basic("camuser1:oldpw")) != std::string::npos ? "UPDATEINFO_SUCCESS"
                                                                              : "PASSWORD_WRONG");
    return Reply("good");
  });
  ASSERT_TRUE(peer.ok());
  struct Case {
    std::vector<std::string> args;
    const char *line;
  };
  const Case cases[] = {
      {{"-p", "iodata", "-n", "mycam.iobb.example", "-u", "0123456789", "-w", "pw1", "-e",
        "owner@example.com", "--once", "--register"},
       "ddnsupdate: iodata mycam.iobb.example: registered, address - (result 0x00000000)"},
      {{"-p", "7", "-n", "mycam.iobb.example", "-u", "0123456789", "-w", "pw1", "--once",
        "--offline"},
       "ddnsupdate: iodata mycam.iobb.example: offline, address - (result 0x00000000)"},
      {{"-p", "megachips", "-n", "mycam.mc.example", "-u", "camuser1", "-w", "newpw",
        "--current-password", "oldpw", "--once", "--change-password"},
       "ddnsupdate: megachips mycam.mc.example: password changed, address - (result 0x00000000)"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> argv = {Program()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const nrtest::ProcessResult r = nrtest::RunProcess(argv);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find(std::string(c.line) + "\n"), std::string::npos) << r.err;
  }
  std::lock_guard<std::mutex> lock(mutex);
  const std::vector<std::string> expected = {
      "/cgi-bin/ddns_s/registdns.cgi?sno=0123456789&pw=pw1&eml=owner@example.com&host=mycam&reg=0",
      "/cgi-bin/ddns/members/update_dns.cgi?host=mycam.iobb.example&myip=0.0.0.0",
      "/ddns/updateUserSetting.php?host=mycam.mc.example&pass=newpw",
  };
  EXPECT_EQ(paths, expected);
}

// peanuthull-sim on the control server's fixed address.
class DdnsUpdatePeanutHull : public ::testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    ASSERT_TRUE(nrtest::AddDummyInterface(
        "ph0", std::string(DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS) + "/24"));
    // Names resolve nowhere: the register's check-IP page fails fast.
    ASSERT_TRUE(dns.Start("127.0.0.1", nrtest::AnswerNames({})));
    ASSERT_TRUE(sim.Start("tools/peanuthull-sim/peanuthull-sim",
                          {"--max-seconds", "110", "--user", "phuser", "--password", "phpass"}));
  }
  std::vector<std::string> Args() {
    return {Program(), "-p",     "peanuthull", "-n", "cam.ph.example", "-u", "phuser",
            "-w",      "phpass", "-t",         "5"};
  }

  nrtest::FakeDns dns;
  nrtest::SimProcess sim;
};

TEST_F(DdnsUpdatePeanutHull, OnceLogsInAndUpdates) {
  std::vector<std::string> args = Args();
  args.push_back("--once");
  nrtest::ProcessOptions options;
  options.timeout_ms = 30000;
  const nrtest::ProcessResult r = nrtest::RunProcess(args, options);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(
      r.err.find("ddnsupdate: peanuthull cam.ph.example: updated, address " +
                 std::string(DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS) + " (result 0x00000000)\n"),
      std::string::npos)
      << r.err;
  const std::string log = sim.Log();
  EXPECT_EQ(CountOf(log, "tcp login record ok"), 1u) << log;
  EXPECT_EQ(CountOf(log, " udp from "), 1u) << log;
}

// The provider's interval is one minute; the test option makes a minute
// 300 ms long.
TEST_F(DdnsUpdatePeanutHull, PeriodicModeRunsTwoRoundsAndStopsOnSigterm) {
  const std::string log = nrtest::ScratchDir() + "/ddnsupdate.log";
  nrtest::ChildProcess client;
  std::vector<std::string> args = Args();
  args.insert(args.end(), {"--test-minute-ms", "300"});
  ASSERT_TRUE(client.Start(args, log));
  const auto start = Clock::now();
  while (CountOf(ReadFile(log), "ddnsupdate: peanuthull") < 2 &&
         Clock::now() - start < std::chrono::seconds(20))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double second_round = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(second_round, 0.3 - 0.03);
  ASSERT_EQ(CountOf(ReadFile(log), ": updated, address"), 2u) << ReadFile(log);

  const auto stop = Clock::now();
  ASSERT_EQ(kill(client.pid(), SIGTERM), 0);
  EXPECT_EQ(client.Wait(2000), 0);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - stop).count(), 1.0);
  const std::string sim_text = sim.Log();
  EXPECT_EQ(CountOf(sim_text, "tcp login record ok"), 1u) << sim_text;  // one login
  EXPECT_EQ(CountOf(sim_text, " udp from "), 2u) << sim_text;
}

TEST(DdnsUpdateOptions, BadOptionsExitWithStatusTwo) {
  struct Case {
    std::vector<std::string> args;
    const char *message;
  };
  const Case cases[] = {
      {{"-c", "/nonexistent/ddnsupdate.conf"}, kNoConfigFile},
      {{"-p", "dyndns"}, "a host name (-n) is needed"},
      {{"-n", "h.example"}, "a provider (-p) is needed"},
      {{"-p", "99", "-n", "h.example"}, "unknown provider '99'"},
      {{"-p", "13", "-n", "h.example"}, "unknown provider '13'"},  // no update routine
      {{"-p", "22", "-n", "h.example"}, "unknown provider '22'"},
      {{"-p", "nosuch", "-n", "h.example"}, "unknown provider 'nosuch'"},
      {{"-p", "dyndns", "-n", "h.example", "--once", "--interval", "5"}, "exclude each other"},
      {{"-p", "dyndns", "-n", "h.example", "-t", "0"}, "'timeout' must be a number from 1 to 3600"},
      {{"-p", "dyndns", "-n", "h.example", "--interval", "x"}, "'interval' must be a number"},
      {{"-p", "dyndns", "-n", "h.example", "-u", "u", "-W", "/nonexistent/pw"},
       "cannot read the password file"},
      {{"-p", "dyndns", "-n", "h.example", "-w", "a", "-W", "f"},
       "both password and password-file"},
      {{"-p", "dyndns", "-n", "h.example", "extra"}, "unexpected argument 'extra'"},
      {{"-p", "dyndns", "-n", "h.example", "--bogus"}, "unknown option '--bogus'"},
      {{"-p", "dyndns", "-n", "h.example", "-x"}, "unknown option '-x'"},
      {{"-n", "h.example", "-p"}, "option '-p' needs a value"},
      {{"-p", "dyndns-server", "-n", "h.example", "-u", "u", "-w", "p", "--once"},
       "needs 'server'"},
      {{"-p", "dyndns", "-n", "h.example", "-u", "u"}, "needs 'password'"},
      {{"-p", "dyndns", "-n", "h.example", "--change-password"}, "for MegaChips with --once"},
      {{"-p", "iodata", "-n", "h.example", "--register"}, "for I-O DATA with --once"},
      {{"-p", "iodata", "-n", "h.example", "--once", "--register", "--offline"},
       "either --register or --offline"},
      {{"-p", "dyndns", "-n", std::string(128, 'h')}, "is not a host name"},
      {{"-p", "dyndns", "-n", "a.example", "-n", "b.example"}, "give one host name"},
      {{"-p", "dyndns", "-n", "h.example", "-u", "us\ter"},
       "argument 6 holds a control byte (\\x09)"},
      {{"-p", "dyndns", "-n", "h\x01.example"}, "argument 4 holds a control byte (\\x01)"},
      {{"-p", "dyndns", "-n", "h.example", "--mac", "00:11:22:33:44"}, "'mac' must be 12"},
      {{"-p", "dyndns", "-n", "h.example", "--no-tls", "--no-tls"}, "'tls' is given twice"},
      {{"-p", "dyndns", "-n", "h.example", "-u", "u", "-w", "p", "--ca-file", "/nonexistent/ca"},
       "cannot read the CA file '/nonexistent/ca'"},
      {{"-p", "url", "-n", "h.example", "--url", "https://s.example/%h", "--success", "ok",
        "--no-tls"},
       HTTPClient_TLSBuiltIn() != 0 ? "has an https:// URL, and HTTPS is off"
                                    : "needs TLS, and this build has none"},
      {{"-c", "/x", "-p", "dyndns", "-n", "h.example"}, "either a config file (-c) or"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> argv = {Program()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const nrtest::ProcessResult r = nrtest::RunProcess(argv);
    SCOPED_TRACE(c.message);
    EXPECT_EQ(r.exit_status, 2) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Try 'ddnsupdate -h'."), std::string::npos) << r.err;
    EXPECT_EQ(CountOf(r.err, "\n"), 2u) << r.err;  // no raw control byte breaks a line
  }
  const nrtest::ProcessResult help = nrtest::RunProcess({Program(), "-h"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.out.find("usage: ddnsupdate [-c FILE]"), 0u) << help.out;
  // The README shows the same usage, indented as a code block.
  const std::string usage = help.out.substr(0, help.out.find("\n\n") + 1);
  std::string indented;
  for (size_t at = 0; at < usage.size();) {
    const size_t end = usage.find('\n', at);
    indented += "    " + usage.substr(at, end - at + 1);
    at = end + 1;
  }
  const std::string readme = ReadFile(DDNSUPDATE_EXAMPLES_DIR "/../README.md");
  EXPECT_NE(readme.find(indented), std::string::npos) << indented;
}

TEST(DdnsUpdateOptions, VersionProvidersAndCheckConfig) {
  const nrtest::ProcessResult version = nrtest::RunProcess({Program(), "--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out.find("ddnsupdate " NAMREG_VERSION " "), 0u) << version.out;
  EXPECT_EQ(nrtest::RunProcess({Program(), "-V"}).out, version.out);

  // Every working number once, with what it needs; the refused ones absent.
  const nrtest::ProcessResult list = nrtest::RunProcess({Program(), "--list-providers"});
  EXPECT_EQ(list.exit_status, 0);
  EXPECT_NE(list.out.find("pccw                 23  user, password, server, checkip-port"),
            std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("swisscom             35  user, password, camera-mac"),
            std::string::npos);
  EXPECT_NE(list.out.find("url                   -  url, success"), std::string::npos);
  for (int number = 1; number <= 37; ++number) {
    const bool works = number != 13 && number != 14 && number != 22 && number != 32 && number != 37;
    const std::string argument = std::to_string(number);
    const nrtest::ProcessResult r =
        nrtest::RunProcess({Program(), "-p", argument, "-n", "h.example", "--check-config"});
    EXPECT_EQ(r.err.find("unknown provider") == std::string::npos, works) << number << r.err;
  }
  // Names in any case; the colon form of a MAC.
  const nrtest::ProcessResult mixed =
      nrtest::RunProcess({Program(), "-p", "ChangeIP", "-n", "h.example", "-u", "u", "-w", "p",
                          "--mac", "00:11:22:aa:bb:cc", "--check-config"});
  EXPECT_EQ(mixed.exit_status, 0) << mixed.err;
  EXPECT_NE(mixed.out.find("provider changeip (33)"), std::string::npos) << mixed.out;

  if (!kHaveConfigFiles) GTEST_SKIP() << "built without inih: no config file to check";
  // A config file: what would run, passwords masked; the first error's line.
  const std::string path = nrtest::ScratchDir() + "/check.conf";
  ASSERT_TRUE(nrtest::WriteFile(
      path, "[home]\nprovider = dyndns\nhost = a.example b.example\nuser = u\npassword = s3cret\n",
      0644));
  nrtest::ProcessResult r = nrtest::RunProcess({Program(), "-c", path, "--check-config"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("hosts: a.example b.example"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("s3cret"), std::string::npos) << r.out;
  // The password is readable by others: a warning, as ssh gives for keys.
  EXPECT_NE(r.err.find("holds a password and can be read by group or others"), std::string::npos)
      << r.err;
  chmod(path.c_str(), 0600);
  r = nrtest::RunProcess({Program(), "-c", path, "--check-config"});
  EXPECT_EQ(r.err, "");
  // The example of the source tree, its password file put in the scratch directory.
  std::string example = ReadFile(DDNSUPDATE_EXAMPLES_DIR "/ddnsupdate.conf");
  const std::string password_file = nrtest::ScratchDir() + "/home.password";
  ASSERT_TRUE(nrtest::WriteFile(password_file, "pw\n", 0600));
  const size_t at = example.find("/etc/ddnsupdate.d/home.password");
  ASSERT_NE(at, std::string::npos);
  example.replace(at, strlen("/etc/ddnsupdate.d/home.password"), password_file);
  ASSERT_TRUE(nrtest::WriteFile(path, example, 0600));
  r = nrtest::RunProcess({Program(), "-c", path, "--check-config"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("3 account sections"), std::string::npos) << r.out;
  ASSERT_TRUE(
      nrtest::WriteFile(path, "[home]\nprovider = dyndns\nhost = a.example\nport = 0\n", 0600));
  r = nrtest::RunProcess({Program(), "-c", path, "--check-config"});
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_EQ(r.err,
            "ddnsupdate: " + path + ":4: 'port' must be a number from 1 to 65535, not '0'\n");
}

// ---- The daemon of a config file -------------------------------------------

// provider-sim on its usual ports with every provider name resolving to it,
// and a config file and cache directory in the scratch directory.
class DdnsUpdateDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kHaveConfigFiles) GTEST_SKIP() << "built without inih: config files are refused";
    NAMREG_REQUIRE_SANDBOX();
    ASSERT_TRUE(dns_.Start("127.0.0.1", nrtest::AnswerNames(provtest::ProviderNames())));
    dir_ = nrtest::ScratchDir() + "/daemon-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    cache_ = dir_ + "/cache";
    ASSERT_TRUE(nrtest::WriteFile(cache_ + "/.keep", ""));
    config_ = dir_ + "/ddnsupdate.conf";
    log_ = dir_ + "/ddnsupdate.log";
  }
  void StartSim(const std::vector<std::string> &extra = {}) {
    std::vector<std::string> args = {"--max-seconds", "60",
                                     "--ip",          "203.0.113.7",
                                     "--basic",       "camuser:s3cret",
                                     "--reply",       "/gen/update=good 203.0.113.7",
                                     "--reply",       "/bad/update=nohost",
                                     "--reply",       "/tpl=<result>OK</result>"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(sim_.Start("tools/provider-sim/provider-sim", args));
  }
  void WriteConfig(const std::string &sections, const std::string &global = "") {
    ASSERT_TRUE(nrtest::WriteFile(
        config_, "[global]\ncache-dir = " + cache_ + "\ntls = no\n" + global + sections, 0600));
  }
  std::string Seen() { return sim_.Log(); }
  // Waits until `what` shows `count` times in the file; false on time-out.
  static bool WaitFor(const std::string &path, const std::string &what, size_t count,
                      int timeout_ms = 10000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
      if (CountOf(ReadFile(path), what) >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  nrtest::FakeDns dns_;
  nrtest::SimProcess sim_;
  std::string dir_, cache_, config_, log_;
};

const char kDynDNS[] =
    "[home]\nprovider = dyndns\nhost = cam.dyndns.example\nuser = camuser\npassword = s3cret\n";
const char kGeneric[] =
    "[generic]\nprovider = dyndns2\nserver = members.dyndns.org\nport = 8245\npath = "
    "/gen/update\nhost = gen.example.net\nuser = camuser\npassword = s3cret\n";
const char kTemplate[] =
    "[template]\nprovider = url\nhost = tpl.example.org\n"
    "url = http://members.dyndns.org:8245/tpl?host=%h&ip=%i&key=%p\npassword = k&y\n"
    "success = OK\nfailure = BAD\n";
const char kRefused[] =
    "[refused]\nprovider = dyndns2\nserver = members.dyndns.org\nport = 8245\npath = "
    "/bad/update\nhost = bad.example.net\nuser = camuser\npassword = s3cret\n";

// Three sections of three kinds in one process; a second start sends
// nothing, for the cache holds the address each host has.
TEST_F(DdnsUpdateDaemon, ThreeSectionsInOneProcessAndTheCache) {
  StartSim();
  WriteConfig(std::string(kDynDNS) + kGeneric + kTemplate);
  nrtest::ProcessResult r = nrtest::RunProcess({Program(), "-c", config_, "--once", "-t", "10"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  for (const char *line :
       {"ddnsupdate: dyndns cam.dyndns.example: updated, address 203.0.113.7 (result 0x00000000)\n",
        "ddnsupdate: dyndns2 gen.example.net: updated, address 203.0.113.7 (result 0x00000000)\n",
        "ddnsupdate: url tpl.example.org: updated, address 203.0.113.7 (result 0x00000000)\n"})
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
  std::string seen = Seen();
  EXPECT_EQ(CountOf(seen,
                    "\"GET /nic/update?system=dyndns&hostname=cam.dyndns.example&myip="
                    "203.0.113.7 HTTP/1.1\" host=\"members.dyndns.org:8245\" "
                    "agent=\"ddnsupdate\" auth=ok -> 200"),
            1u)
      << seen;
  EXPECT_EQ(CountOf(seen, "\"GET /gen/update?hostname=gen.example.net&myip=203.0.113.7 "), 1u);
  // Template values are percent-encoded.
  EXPECT_EQ(CountOf(seen, "\"GET /tpl?host=tpl.example.org&ip=203.0.113.7&key=k%26y HTTP/1.1\""),
            1u)
      << seen;
  EXPECT_EQ(ReadFile(cache_ + "/dyndns_cam.dyndns.example").substr(0, 12), "203.0.113.7 ");

  r = nrtest::RunProcess({Program(), "-c", config_, "--once", "-t", "10"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(CountOf(r.err, ": unchanged, address 203.0.113.7 (result 0x70010001)\n"), 3u) << r.err;
  seen = Seen();
  EXPECT_EQ(CountOf(seen, "/nic/update?"), 2u) << seen;  // the 401 and the authorised GET
  EXPECT_EQ(CountOf(seen, "/gen/update?"), 1u);
  EXPECT_EQ(CountOf(seen, "/tpl?"), 1u);
}

// A host refused for good stops (one request, one line at error priority);
// the others go on with their rounds; SIGHUP tries it again.
TEST_F(DdnsUpdateDaemon, PermanentRefusalStopsThatHostOnly) {
  nrtest::SyslogSink syslog_sink;
  ASSERT_TRUE(syslog_sink.ok());
  StartSim();
  WriteConfig(std::string(kGeneric) + "interval = 1\n" + kRefused + "interval = 1\n",
              "syslog = yes\n");
  nrtest::ChildProcess daemon;
  ASSERT_TRUE(daemon.Start({Program(), "-c", config_, "-t", "5", "--test-minute-ms", "100"}, log_));
  // Rounds of the good host every "minute" (100 ms); each asks check-IP.
  ASSERT_TRUE(WaitFor(log_, "dyndns2 gen.example.net: unchanged", 5)) << ReadFile(log_);
  std::string seen = Seen();
  EXPECT_EQ(CountOf(seen, "/bad/update?"), 1u) << seen;
  EXPECT_EQ(CountOf(seen, "/gen/update?"), 1u) << seen;
  const std::string log = ReadFile(log_);
  EXPECT_EQ(CountOf(log,
                    "ddnsupdate: dyndns2 bad.example.net: host name refused (not retried "
                    "until reload), address - (result 0x80020001)\n"),
            1u)
      << log;
  std::vector<nrtest::SyslogRecord> records = syslog_sink.Drain();
  int errors = 0, infos = 0;
  for (const nrtest::SyslogRecord &record : records) {
    EXPECT_EQ(record.facility, LOG_DAEMON >> 3) << record.raw;
    if (record.severity == LOG_ERR) {
      ++errors;
      EXPECT_NE(record.message.find("bad.example.net: host name refused"), std::string::npos);
    }
    if (record.severity == LOG_INFO) ++infos;
  }
  EXPECT_EQ(errors, 1);
  EXPECT_GE(infos, 5);

  ASSERT_EQ(kill(daemon.pid(), SIGHUP), 0);
  ASSERT_TRUE(WaitFor(log_, "bad.example.net: host name refused", 2)) << ReadFile(log_);
  EXPECT_NE(ReadFile(log_).find("ddnsupdate: read " + config_ + " again: 2 hosts\n"),
            std::string::npos);
  EXPECT_EQ(CountOf(Seen(), "/bad/update?"), 2u);
  EXPECT_EQ(daemon.Stop(), 0);
}

// SIGUSR1 runs a round now (the interval is a week); SIGHUP reads a changed
// file, and a file with an error leaves the running configuration alone.
TEST_F(DdnsUpdateDaemon, SigusrRunsARoundAndSighupReloads) {
  StartSim();
  WriteConfig(std::string(kGeneric) + "interval = 10080\n");
  nrtest::ChildProcess daemon;
  ASSERT_TRUE(daemon.Start({Program(), "-c", config_, "-t", "5", "--test-minute-ms", "100"}, log_));
  ASSERT_TRUE(WaitFor(log_, "gen.example.net: updated", 1)) << ReadFile(log_);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(CountOf(ReadFile(log_), "gen.example.net"), 1u);  // no round before the week
  ASSERT_EQ(kill(daemon.pid(), SIGUSR1), 0);
  ASSERT_TRUE(WaitFor(log_, "gen.example.net: unchanged", 1, 3000)) << ReadFile(log_);

  WriteConfig(std::string(kGeneric) + "interval = 10080\n" + kTemplate);
  ASSERT_EQ(kill(daemon.pid(), SIGHUP), 0);
  ASSERT_TRUE(WaitFor(log_, "url tpl.example.org: updated", 1, 3000)) << ReadFile(log_);

  ASSERT_TRUE(nrtest::WriteFile(config_, "[broken]\nprovider = dyndns\nnonsense\n", 0600));
  ASSERT_EQ(kill(daemon.pid(), SIGHUP), 0);
  ASSERT_TRUE(WaitFor(log_, "keeping the configuration that runs", 1, 3000)) << ReadFile(log_);
  EXPECT_NE(ReadFile(log_).find(config_ + ":3: not a section header"), std::string::npos);
  ASSERT_TRUE(daemon.running());
  EXPECT_EQ(daemon.Stop(), 0);
  EXPECT_EQ(CountOf(Seen(), "/gen/update?"), 1u);
}

// No name server in resolv.conf (a boot before the network is up): the
// round is a network error retried after a minute, not an exit; once the
// name server is there, the next round updates.
TEST_F(DdnsUpdateDaemon, NoNameServerYetIsRetried) {
  StartSim();
  WriteConfig(std::string(kDynDNS) + "interval = 10080\n");
  nrtest::WriteResolvConf("");
  nrtest::ChildProcess daemon;
  ASSERT_TRUE(daemon.Start({Program(), "-c", config_, "-t", "5", "--test-minute-ms", "300"}, log_));
  ASSERT_TRUE(WaitFor(log_, "network error (no name server) (retry in 1 min)", 1))
      << ReadFile(log_);
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  ASSERT_TRUE(WaitFor(log_, "dyndns cam.dyndns.example: updated", 1)) << ReadFile(log_);
  EXPECT_TRUE(daemon.running());
  EXPECT_EQ(daemon.Stop(), 0);
}

// A server that takes the request and never answers: SIGTERM ends the
// program within a second of its 30 s wait, and the cache stays whole.
TEST_F(DdnsUpdateDaemon, SigtermDuringASilentServerEndsWithinASecond) {
  nrtest::ScriptServer silent;
  ASSERT_TRUE(silent.Start([](int fd, const std::string &, int) { nrtest::PeerCloses(fd, 40000); },
                           "127.0.0.1", 0, nrtest::ScriptServer::Read::kHttpRequest));
  const std::string url = "http://127.0.0.1:" + std::to_string(silent.port()) + "/ip";
  WriteConfig(std::string(kGeneric) + "address = url:" + url + "\n");
  const std::string cache_file = cache_ + "/dyndns2_gen.example.net";
  ASSERT_TRUE(nrtest::WriteFile(cache_file, "198.51.100.4 1765339200 0x00000000\n"));
  nrtest::ChildProcess daemon;
  ASSERT_TRUE(
      daemon.Start({Program(), "-c", config_, "-t", "30", "--test-minute-ms", "100"}, log_));
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (silent.requests().empty() && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(silent.requests().size(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto stop = Clock::now();
  ASSERT_EQ(kill(daemon.pid(), SIGTERM), 0);
  EXPECT_EQ(daemon.Wait(3000), 0);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - stop).count(), 1.0 + 0.05);
  EXPECT_EQ(ReadFile(cache_file), "198.51.100.4 1765339200 0x00000000\n");
}

// The address sources besides the provider's check-IP page: a fixed
// address, an interface's address, and the first address in a page.
TEST_F(DdnsUpdateDaemon, AddressSources) {
  StartSim();
  ASSERT_TRUE(nrtest::AddDummyInterface("eth0", "192.0.2.55/24"));
  struct Case {
    const char *source;
    const char *address;
  };
  const Case cases[] = {
      {"198.51.100.23", "198.51.100.23"},
      {"interface:eth0", "192.0.2.55"},
      {"url:http://127.0.0.1:8245/ip.php", "203.0.113.7"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.source);
    const nrtest::ProcessResult r = nrtest::RunProcess(
        {Program(),         "-p",     "dyndns2", "-s",          "members.dyndns.org",
         "--port",          "8245",   "--path",  "/gen/update", "-n",
         "gen.example.net", "-u",     "camuser", "-w",          "s3cret",
         "--address",       c.source, "--once",  "-t",          "10"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find(std::string("dyndns2 gen.example.net: updated, address ") + c.address),
              std::string::npos)
        << r.err;
    EXPECT_EQ(CountOf(Seen(), std::string("/gen/update?hostname=gen.example.net&myip=") +
                                  c.address + " HTTP/1.1"),
              1u)
        << Seen();
  }
  EXPECT_EQ(CountOf(Seen(), "checkip.dyndns.org"), 0u);  // no check-IP page asked
  // A page without an address: the address is unknown, nothing is sent.
  nrtest::ProcessResult r =
      nrtest::RunProcess({Program(), "-p", "dyndns2", "-s", "members.dyndns.org", "-n",
                          "gen.example.net", "-u", "camuser", "-w", "s3cret", "--address",
                          "url:http://127.0.0.1:8245/nothing-here", "--once", "-t", "10"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("public address unknown, address - (result 0x8002000B)"), std::string::npos)
      << r.err;
  // An update path the server does not know: the library says why on
  // standard output, which only -v shows (on standard error).
  std::vector<std::string> args = {
      Program(), "-p",     "dyndns2",       "-s",        "members.dyndns.org", "--port",
      "8245",    "--path", "/nothing-here", "-n",        "gen.example.net",    "-u",
      "camuser", "-w",     "s3cret",        "--address", "198.51.100.23",      "--once",
      "-t",      "10"};
  r = nrtest::RunProcess(args);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("server error, address - (result 0x8002000D)"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("[DDNSClient_Communicate]"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  args.push_back("-v");
  r = nrtest::RunProcess(args);
  EXPECT_NE(r.err.find("[DDNSClient_Communicate] HTTP get failed"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_EQ(r.out, "");
}

// A dyndns2 server that asks for the account (401 with a Basic challenge)
// gets the section's user and password; a wrong password reads as an
// authentication refusal.
TEST_F(DdnsUpdateDaemon, GenericDyndns2AnswersTheChallengeWithItsAccount) {
  StartSim();
  struct Case {
    const char *password;
    int exit_status;
    const char *outcome;
    const char *served;
    size_t sends;  // the HTTP client tries a refused account up to three times
  };
  const Case cases[] = {
      {"s3cret", 0, "dyndns2 gen.example.net: updated, address 198.51.100.23", "auth=ok -> 200", 1},
      {"wrong", 1, "dyndns2 gen.example.net: authentication refused", "auth=bad -> 401", 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.password);
    const size_t before = CountOf(Seen(), c.served);
    const nrtest::ProcessResult r =
        nrtest::RunProcess({Program(), "-p", "dyndns2", "-s", "members.dyndns.org", "--port",
                            "8245", "-n", "gen.example.net", "-u", "camuser", "-w", c.password,
                            "--address", "198.51.100.23", "--once", "-t", "10"});
    EXPECT_EQ(r.exit_status, c.exit_status) << r.err;
    EXPECT_NE(r.err.find(c.outcome), std::string::npos) << r.err;
    EXPECT_EQ(CountOf(Seen(), std::string("\"GET /nic/update?hostname=gen.example.net&myip="
                                          "198.51.100.23 HTTP/1.1\" host=\"members.dyndns.org:"
                                          "8245\" agent=\"ddnsupdate\" ") +
                                  c.served),
              before + c.sends)
        << Seen();
  }
}

// -w is wiped from the process's command line once read.
TEST(DdnsUpdateOptionsProcess, PasswordOptionLeavesTheProcessList) {
  NAMREG_REQUIRE_SANDBOX();
  const std::string log = nrtest::ScratchDir() + "/wipe.log";
  nrtest::ChildProcess daemon;
  // A fixed address and a template server nobody listens on: rounds fail
  // quickly and the program keeps running.
  ASSERT_TRUE(
      daemon.Start({Program(), "-p", "url", "-n", "h.example", "--url", "http://127.0.0.1:9/?h=%h",
                    "--success", "OK", "--address", "192.0.2.1", "-w", "hunter2-secret"},
                   log));
  std::string cmdline;
  for (int i = 0; i < 200; ++i) {
    cmdline = ReadFile("/proc/" + std::to_string(daemon.pid()) + "/cmdline");
    if (CountOf(ReadFile(log), "ddnsupdate: url h.example") >= 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(cmdline.find("-w"), std::string::npos);
  EXPECT_EQ(cmdline.find("hunter2"), std::string::npos);
  EXPECT_NE(ReadFile(log).find("ddnsupdate: url h.example: network error (retry in 1 min), "
                               "address - (result 0x80020010)"),
            std::string::npos)
      << ReadFile(log);
  EXPECT_EQ(daemon.Stop(), 0);
}

}  // namespace
