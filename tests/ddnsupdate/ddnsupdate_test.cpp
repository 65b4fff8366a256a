// SPDX-License-Identifier: MIT
// ddnsupdate as a process in the test world: one round of a dyndns2
// provider against fake check-IP and update pages, PeanutHull against
// peanuthull-sim once and periodically (stopped by SIGTERM), and bad options.
#include <gtest/gtest.h>
#include <namreg/common.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_dns.h"
#include "provider_world.h"
#include "testworld.h"

namespace {

using provtest::HttpPeer;
using provtest::Reply;
using Clock = std::chrono::steady_clock;

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
  int number = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    const std::string log =
        nrtest::ScratchDir() + "/provider-sim-" + std::to_string(++number) + ".log";
    std::vector<std::string> sim_args = {nrtest::BuiltProgram("tools/provider-sim/provider-sim"),
                                         "--max-seconds",
                                         "30",
                                         "--ip",
                                         "203.0.113.7",
                                         "--basic",
                                         "user:s3cret"};
    if (c.reply != nullptr) {
      sim_args.push_back("--reply");
      sim_args.push_back(c.reply);
    }
    nrtest::ChildProcess sim;
    ASSERT_TRUE(sim.Start(sim_args, log));
    ASSERT_TRUE(nrtest::WaitForTcpPort("127.0.0.1", 8245, 3000));
    nrtest::ProcessOptions options;
    options.timeout_ms = 30000;
    const nrtest::ProcessResult r =
        nrtest::RunProcess({Program(), "-p", "dyndns", "-n", "cam.dyndns.example", "-u", "user",
                            "-W", password_file, "-t", "10", "--once"},
                           options);
    EXPECT_EQ(r.exit_status, c.status) << r.err;
    EXPECT_NE(r.err.find(std::string(c.line) + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(CountOf(r.err, "ddnsupdate: "), 1u) << r.err;  // one outcome line
    sim.Stop();
    const std::string seen = ReadFile(log);
    EXPECT_EQ(CountOf(seen, "\"GET / HTTP/1.1\" host=\"checkip.dyndns.org:8245\""), 1u) << seen;
    EXPECT_EQ(CountOf(seen,
                      "\"GET /nic/update?system=dyndns&hostname=cam.dyndns.example&myip="
                      "203.0.113.7 HTTP/1.1\" host=\"members.dyndns.org:8245\" "
                      "agent=\"ddnsupdate\" auth=ok -> 200"),
              1u)
        << seen;
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
       "ddnsupdate: 7 mycam.iobb.example: offline, address - (result 0x00000000)"},
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
    sim_log = nrtest::ScratchDir() + "/peanuthull-sim.log";
    ASSERT_TRUE(sim.Start({nrtest::BuiltProgram("tools/peanuthull-sim/peanuthull-sim"),
                           "--max-seconds", "110", "--user", "phuser", "--password", "phpass"},
                          sim_log));
    for (int i = 0; i < 100 && ReadFile(sim_log).find("listening") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::vector<std::string> Args() {
    return {Program(), "-p",     "peanuthull", "-n", "cam.ph.example", "-u", "phuser",
            "-w",      "phpass", "-t",         "5"};
  }

  nrtest::FakeDns dns;
  nrtest::ChildProcess sim;
  std::string sim_log;
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
  const std::string log = ReadFile(sim_log);
  EXPECT_EQ(CountOf(log, "tcp login record ok"), 1u) << log;
  EXPECT_EQ(CountOf(log, " udp from "), 1u) << log;
}

// Slow (a minute): the provider's interval is one minute.
TEST_F(DdnsUpdatePeanutHull, PeriodicModeRunsTwoRoundsAndStopsOnSigterm) {
  const std::string log = nrtest::ScratchDir() + "/ddnsupdate.log";
  nrtest::ChildProcess client;
  ASSERT_TRUE(client.Start(Args(), log));
  const auto start = Clock::now();
  while (CountOf(ReadFile(log), "ddnsupdate: peanuthull") < 2 &&
         Clock::now() - start < std::chrono::seconds(80))
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const double second_round = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(second_round, 59.0);
  ASSERT_EQ(CountOf(ReadFile(log), ": updated, address"), 2u) << ReadFile(log);

  const auto stop = Clock::now();
  ASSERT_EQ(kill(client.pid(), SIGTERM), 0);
  EXPECT_EQ(client.Wait(2000), 0);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - stop).count(), 1.0);
  const std::string sim_text = ReadFile(sim_log);
  EXPECT_EQ(CountOf(sim_text, "tcp login record ok"), 1u) << sim_text;  // one login
  EXPECT_EQ(CountOf(sim_text, " udp from "), 2u) << sim_text;
}

TEST(DdnsUpdateOptions, BadOptionsExitWithStatusTwo) {
  struct Case {
    std::vector<std::string> args;
    const char *message;
  };
  const Case cases[] = {
      {{}, "a provider (-p) is needed"},
      {{"-p", "dyndns"}, "a host name (-n) is needed"},
      {{"-p", "99", "-n", "h.example"}, "unknown provider '99'"},
      {{"-p", "13", "-n", "h.example"}, "unknown provider '13'"},  // no update routine
      {{"-p", "nosuch", "-n", "h.example"}, "unknown provider 'nosuch'"},
      {{"-p", "dyndns", "-n", "h.example", "--once", "--interval", "5"}, "exclude each other"},
      {{"-p", "dyndns", "-n", "h.example", "-t", "0"}, "the time-out must be 1 to 3600 seconds"},
      {{"-p", "dyndns", "-n", "h.example", "--interval", "x"}, "the interval must be"},
      {{"-p", "dyndns", "-n", "h.example", "-W", "/nonexistent/pw"}, "cannot read the password"},
      {{"-p", "dyndns", "-n", "h.example", "-w", "a", "-W", "f"}, "either with -w or with -W"},
      {{"-p", "dyndns", "-n", "h.example", "extra"}, "unexpected argument 'extra'"},
      {{"-p", "dyndns", "-n", "h.example", "--bogus"}, "unknown option '--bogus'"},
      {{"-p", "dyndns", "-n", "h.example", "-x"}, "unknown option '-x'"},
      {{"-n", "h.example", "-p"}, "option '-p' needs a value"},
      {{"-p", "dyndns-server", "-n", "h.example", "--once"}, "needs its server (-s)"},
      {{"-p", "dyndns", "-n", "h.example", "--change-password"}, "for MegaChips with --once"},
      {{"-p", "iodata", "-n", "h.example", "--register"}, "for I-O DATA with --once"},
      {{"-p", "iodata", "-n", "h.example", "--once", "--register", "--offline"},
       "either --register or --offline"},
      {{"-p", "dyndns", "-n", std::string(128, 'h')}, "longer than 127 characters"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> argv = {Program()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const nrtest::ProcessResult r = nrtest::RunProcess(argv);
    SCOPED_TRACE(c.message);
    EXPECT_EQ(r.exit_status, 2) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Try 'ddnsupdate -h'."), std::string::npos) << r.err;
  }
  const nrtest::ProcessResult help = nrtest::RunProcess({Program(), "-h"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.out.find("usage: ddnsupdate -p PROVIDER -n HOSTNAME"), 0u) << help.out;
}

}  // namespace
