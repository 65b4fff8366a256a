// SPDX-License-Identifier: MIT
// namreg end to end: the program run as a process in the test world against
// hldm-sim on 127.0.0.1:3495, with its outcome line, priority and exit
// status for every result of the three operations, and the request text the
// simulator decoded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_dns.h"
#include "peers.h"
#include "sim_process.h"
#include "testworld.h"

namespace {

constexpr int kAlert = 1, kCrit = 2, kWarning = 4;

// hldm-sim as a child process; its lines (one per connection) are read back
// from its log.
class Sim : public nrtest::SimProcess {
 public:
  bool Start(const std::vector<std::string> &extra = {}) {
    std::vector<std::string> args = {"--max-seconds", "100"};
    args.insert(args.end(), extra.begin(), extra.end());
    return SimProcess::Start("tools/hldm-sim/hldm-sim", args);
  }
  // Lines about connections, waiting up to timeout_ms for at least `count`.
  std::vector<std::string> Connections(size_t count = 0, int timeout_ms = 2000) {
    return Lines(count, timeout_ms);
  }
  // The decoded request text of connection line `line`.
  static std::string Request(const std::string &line) {
    size_t a = line.find('"');
    size_t b = line.find("\" -> ");
    if (a == std::string::npos || b == std::string::npos || b <= a) return "";
    return line.substr(a + 1, b - a - 1);
  }
};

struct Outcome {
  nrtest::ProcessResult process;
  std::vector<nrtest::SyslogRecord> records;
};

struct Env {
  std::vector<std::string> set;
  std::vector<std::string> unset = {"MAC_ADDR", "FW_VERSION", "HTTP_ALTERNATIVE_PORT"};
};

Outcome RunNamreg(nrtest::SyslogSink &sink, const std::vector<std::string> &args,
                  const Env &env = Env()) {
  std::vector<std::string> argv = {nrtest::BuiltProgram("app/namreg")};
  argv.insert(argv.end(), args.begin(), args.end());
  nrtest::ProcessOptions options;
  options.timeout_ms = 60000;
  options.env_set = env.set;
  for (const std::string &name : env.unset) {
    bool given = false;
    for (const std::string &s : env.set) given = given || s.rfind(name + "=", 0) == 0;
    if (!given) options.env_unset.push_back(name);
  }
  // Read the log while the program runs: a full /dev/log queue would stall
  // its syslog calls.
  Outcome o;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    nrtest::SyslogRecord r;
    while (!done) {
      if (sink.Next(&r, 50)) o.records.push_back(r);
    }
  });
  o.process = nrtest::RunProcess(argv, options);
  done = true;
  reader.join();
  for (const nrtest::SyslogRecord &r : sink.Drain(200)) o.records.push_back(r);
  return o;
}

// One outcome line with this priority and text, last, under the given ident
// (none when line is null); any other record is a warning of the exchange.
void ExpectLine(const Outcome &o, int priority, const char *line, const char *ident = "[NAMREG]") {
  std::vector<nrtest::SyslogRecord> outcome;
  for (const nrtest::SyslogRecord &r : o.records) {
    if (r.message.rfind("[DDNSClient_", 0) == 0) {
      EXPECT_EQ(r.severity, kWarning) << r.raw;
    } else {
      outcome.push_back(r);
    }
  }
  if (line == nullptr) {
    EXPECT_TRUE(outcome.empty()) << (outcome.empty() ? "" : outcome[0].raw);
    return;
  }
  ASSERT_EQ(outcome.size(), 1u) << (outcome.empty() ? "no outcome line" : outcome.back().raw);
  EXPECT_EQ(o.records.back().raw, outcome[0].raw) << "the outcome line comes last";
  EXPECT_EQ(outcome[0].message, line);
  EXPECT_EQ(outcome[0].severity, priority);
  EXPECT_EQ(outcome[0].facility, 1);
  EXPECT_EQ(outcome[0].ident, ident);
}

class NamregHLDM : public testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
    // Only inside the test world: the sink binds /dev/log.
    sink_holder_.reset(new nrtest::SyslogSink);
    ASSERT_TRUE(sink_holder_->ok());
  }
  std::unique_ptr<nrtest::SyslogSink> sink_holder_;
  nrtest::SyslogSink &sink() { return *sink_holder_; }
};

const char kHost[] = "cam.hldm.example";
const char kEmail[] = "owner@example.com";
const std::string kSalt = "[A-Za-z0-9]{10}";

// ---- Register ------------------------------------------------------------

TEST_F(NamregHLDM, RegisterSuccessAndItsRequest) {
  Sim sim;
  ASSERT_TRUE(sim.Start());
  Outcome o = RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", "secret", kHost, kEmail});
  EXPECT_EQ(o.process.exit_status, 0);
  ExpectLine(o, kCrit, "Register successfully. Hostname: cam.hldm.example (IP: 127.0.0.1)");
  auto lines = sim.Connections(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(Sim::Request(lines[0]),
                               std::regex("salt=" + kSalt +
                                          "&MAC=024D52000000&email=owner@example.com&key=secret"
                                          "&hostname=cam.hldm.example&firmwareversion=IPCAM")))
      << lines[0];

  // MAC_ADDR and FW_VERSION go into the request.
  Env env;
  env.set = {"MAC_ADDR=00:11:22:aa:bb:cc", "FW_VERSION=CAM-9000 v2"};
  o = RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", "secret", "other.hldm.example", kEmail},
                env);
  EXPECT_EQ(o.process.exit_status, 0);
  lines = sim.Connections(2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(Sim::Request(lines[1]).find("&MAC=001122aabbcc&"), std::string::npos) << lines[1];
  EXPECT_NE(Sim::Request(lines[1]).find("&firmwareversion=CAM-9000 v2"), std::string::npos)
      << lines[1];
}

struct RegisterCase {
  const char *what;
  std::vector<std::string> sim_args;
  std::vector<std::string> env;
  std::vector<std::string> args;  // after "-r -k secret"
  bool register_first;            // an earlier successful register of the same camera
  int status;
  const char *line;
};

TEST_F(NamregHLDM, RegisterOutcomeTable) {
  nrtest::FakeDns dns(nrtest::Names{{"hldm.example", "127.0.0.1"}});
  ASSERT_TRUE(dns.ok());
  const RegisterCase cases[] = {
      {"server name given by DNS",
       {},
       {},
       {"-s", "hldm.example", kHost, kEmail},
       false,
       0,
       "Register successfully. Hostname: cam.hldm.example (IP: 127.0.0.1)"},
      {"again within ten minutes",
       {},
       {},
       {"-s", "127.0.0.1", kHost, kEmail},
       true,
       0x08,
       "Hostname has registered or changed successfully in 10 minutes"},
      {"invalid MAC",
       {},
       {"MAC_ADDR=00:00:00:00:00:00"},
       {"-s", "127.0.0.1", kHost, kEmail},
       false,
       0x09,
       "Invalid MAC for register"},
      {"name of another camera",
       {"--seed", std::string(kHost) + "=AABBCCDDEEFF"},
       {},
       {"-s", "127.0.0.1", kHost, kEmail},
       false,
       0x0A,
       "Hostname is already in use"},
      {"reply for another name",
       {"--reply", "retc=0:someone.example:192.0.2.1:"},
       {},
       {"-s", "127.0.0.1", kHost, kEmail},
       false,
       0x1B,
       "Unknown server error for register."},
      {"reply without a marker",
       {"--reply", "hello"},
       {},
       {"-s", "127.0.0.1", kHost, kEmail},
       false,
       0x0D,
       "Unknown error for register"},
      {"empty host name",
       {},
       {},
       {"-s", "127.0.0.1", "", kEmail},
       false,
       0x06,
       "Invalid arguments for register"},
      {"server name unknown to DNS",
       {},
       {},
       {"-s", "nowhere.example", kHost, kEmail},
       false,
       0x05,
       "Invalid server name for register"},
  };
  for (const RegisterCase &k : cases) {
    SCOPED_TRACE(k.what);
    Sim sim;
    ASSERT_TRUE(sim.Start(k.sim_args));
    Env env;
    env.set = k.env;
    std::vector<std::string> args = {"-r", "-k", "secret"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    if (k.register_first) {
      Outcome first = RunNamreg(sink(), args, env);
      ASSERT_EQ(first.process.exit_status, 0);
    }
    Outcome o = RunNamreg(sink(), args, env);
    EXPECT_EQ(o.process.exit_status, k.status);
    ExpectLine(o, k.status == 0 ? kCrit : kWarning, k.line);
    sim.Stop();
  }
}

TEST_F(NamregHLDM, RegisterWithASilentNameServerFailsAtOnce) {
  nrtest::FakeDns silent(nrtest::NoAnswer());
  ASSERT_TRUE(silent.ok());
  Sim sim;
  ASSERT_TRUE(sim.Start());
  Outcome o = RunNamreg(sink(), {"-s", "hldm.example", "-r", "-k", "secret", kHost, kEmail});
  EXPECT_EQ(o.process.exit_status, 0x10);
  ExpectLine(o, kWarning, "Network error for register");
  EXPECT_LT(o.process.seconds, 6.0) << "one name check, no retry";
  EXPECT_EQ(silent.queries().size(), 1u);
  EXPECT_TRUE(sim.Connections(0, 200).empty());
}

TEST_F(NamregHLDM, RegisterPortField) {
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::vector<std::string> env;
    const char *port_field;  // null: no port field
  };
  const Case cases[] = {
      {"no -a", {}, {}, nullptr},
      {"-a with a working mapping", {"-a", "5"}, {"HTTP_ALTERNATIVE_PORT=8080"}, "&port=0"},
      {"-a 0, port above 1024", {"-a", "0"}, {"HTTP_ALTERNATIVE_PORT=8080"}, "&port=8080"},
      {"-a 0, port 80", {"-a", "0"}, {"HTTP_ALTERNATIVE_PORT=80"}, "&port=80"},
      {"-a 0, port 443", {"-a", "0"}, {"HTTP_ALTERNATIVE_PORT=443"}, "&port=0"},
      {"-a 0, port 1024", {"-a", "0"}, {"HTTP_ALTERNATIVE_PORT=1024"}, "&port=0"},
  };
  int number = 0;
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    Sim sim;
    ASSERT_TRUE(sim.Start());
    std::vector<std::string> args = {"-s", "127.0.0.1", "-r", "-k", "secret"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    args.push_back("cam" + std::to_string(++number) + ".hldm.example");
    args.push_back(kEmail);
    Env env;
    env.set = k.env;
    Outcome o = RunNamreg(sink(), args, env);
    EXPECT_EQ(o.process.exit_status, 0);
    ASSERT_EQ(o.records.size(), 1u);
    EXPECT_EQ(o.records[0].ident, k.args.empty() ? "[NAMREG]" : "[quickbridge]");
    auto lines = sim.Connections(1);
    ASSERT_EQ(lines.size(), 1u);
    const std::string request = Sim::Request(lines[0]);
    if (k.port_field == nullptr) {
      EXPECT_EQ(request.find("&port="), std::string::npos) << request;
      EXPECT_EQ(request.substr(request.size() - 22), "&firmwareversion=IPCAM");
    } else {
      EXPECT_EQ(request.substr(request.size() - std::strlen(k.port_field)), k.port_field)
          << request;
    }
    sim.Stop();
  }
}

TEST_F(NamregHLDM, RegisterWithoutTheAlternativePort) {
  Sim sim;
  ASSERT_TRUE(sim.Start());
  Outcome o =
      RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", "secret", "-a", "0", kHost, kEmail});
  EXPECT_EQ(o.process.exit_status, 1);
  ExpectLine(o, kWarning, "Invalid HTTP alternative port", "[quickbridge]");
  EXPECT_TRUE(sim.Connections(0, 200).empty());
}

TEST_F(NamregHLDM, HostNamesOf126And127CharactersRegister) {
  Sim sim;
  ASSERT_TRUE(sim.Start());
  for (size_t length : {126u, 127u}) {
    SCOPED_TRACE(length);
    std::string host = std::string(length - 8, length == 126 ? 'a' : 'b') + ".example";
    Env env;
    env.set = {length == 126 ? "MAC_ADDR=02:00:00:00:01:26" : "MAC_ADDR=02:00:00:00:01:27"};
    Outcome o = RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", "k", host, "a@b.c"}, env);
    EXPECT_EQ(o.process.exit_status, 0);
    ExpectLine(o, kCrit, ("Register successfully. Hostname: " + host + " (IP: 127.0.0.1)").c_str());
  }
}

TEST_F(NamregHLDM, RequestsOf246And247Characters) {
  // 76 characters of fixed text with the default MAC and firmware, plus
  // e-mail (5), host name (120) and key.
  Sim sim;
  ASSERT_TRUE(sim.Start());
  const std::string host = std::string(112, 'h') + ".example";
  Env env;
  env.set = {"MAC_ADDR=02:00:00:00:02:46"};
  Outcome o =
      RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", std::string(45, 'k'), host, "a@b.c"}, env);
  EXPECT_EQ(o.process.exit_status, 0);
  auto lines = sim.Connections(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Sim::Request(lines[0]).size(), 246u);

  env.set = {"MAC_ADDR=02:00:00:00:02:47"};
  o = RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", std::string(46, 'k'), host, "a@b.c"}, env);
  EXPECT_EQ(o.process.exit_status, 0x06);
  ExpectLine(o, kWarning, "Invalid arguments for register");
  EXPECT_NE(o.process.out.find("Encode:Require output size = 500"), std::string::npos);
  lines = sim.Connections(2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("(no request)"), std::string::npos) << "nothing sent: " << lines[1];
}

TEST_F(NamregHLDM, MacAddressFromTheEnvironment) {
  Sim sim;
  ASSERT_TRUE(sim.Start());
  Env env;
  env.set = {"MAC_ADDR=zz:zz:zz:zz:zz:zz"};
  Outcome o = RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", "secret", kHost, kEmail}, env);
  EXPECT_EQ(o.process.exit_status, 1);
  ExpectLine(o, kAlert, "Initialize DDNS client failed");
  env.set = {"MAC_ADDR=00:11:22"};
  o = RunNamreg(sink(), {"-s", "127.0.0.1", "-c", kHost, kEmail}, env);
  EXPECT_EQ(o.process.exit_status, 1);
  ExpectLine(o, kAlert, "Initialize DDNS client failed");
  EXPECT_TRUE(sim.Connections(0, 200).empty());
}

TEST_F(NamregHLDM, LostRegisterReply) {
  nrtest::FakeDns dns(nrtest::Names{{kHost, "127.0.0.1"}, {"moved.hldm.example", "192.0.2.1"}});
  ASSERT_TRUE(dns.ok());
  Sim sim;
  ASSERT_TRUE(sim.Start({"--mode", "close", "--only", "register"}));
  // The name already points at the address the service sees: registered.
  Outcome o = RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", "secret", kHost, kEmail});
  EXPECT_EQ(o.process.exit_status, 0);
  ExpectLine(o, kCrit, "Register successfully. Hostname: cam.hldm.example (IP: 127.0.0.1)");
  auto lines = sim.Connections(2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" register "), std::string::npos);
  EXPECT_NE(lines[1].find(" checkip \"checkIP&"), std::string::npos) << lines[1];

  // It points elsewhere: not confirmed.
  o = RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", "secret", "moved.hldm.example", kEmail});
  EXPECT_EQ(o.process.exit_status, 0x11);
  ExpectLine(o, kWarning, "Unknown error for register");
}

// ---- Request key -----------------------------------------------------------

TEST_F(NamregHLDM, RequestKeyOutcomeTable) {
  nrtest::FakeDns dns(nrtest::Names{{"hldm.example", "127.0.0.1"}});
  ASSERT_TRUE(dns.ok());
  {
    Sim sim;
    ASSERT_TRUE(sim.Start());
    ASSERT_EQ(RunNamreg(sink(), {"-s", "127.0.0.1", "-r", "-k", "secret", kHost, kEmail})
                  .process.exit_status,
              0);
    Outcome o = RunNamreg(sink(), {"-s", "hldm.example", "-f", kHost, kEmail});
    EXPECT_EQ(o.process.exit_status, 0);
    ExpectLine(o, kCrit, "Request key successfully");
    auto lines = sim.Connections(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(Sim::Request(lines[1]),
                                 std::regex("forgetpassword&salt=" + kSalt +
                                            "&email=owner@example.com&hostname=cam.hldm.example")))
        << lines[1];
    o = RunNamreg(sink(), {"-s", "127.0.0.1", "-f", kHost, "someone@example.com"});
    EXPECT_EQ(o.process.exit_status, 0x0C);
    ExpectLine(o, kWarning, "Request key failed because of invalid hostname/email");
    o = RunNamreg(sink(), {"-s", "127.0.0.1", "-f", kHost, ""});
    EXPECT_EQ(o.process.exit_status, 0x06);
    ExpectLine(o, kWarning, "Invalid arguments for request key");
    o = RunNamreg(sink(), {"-s", "nowhere.example", "-f", kHost, kEmail});
    EXPECT_EQ(o.process.exit_status, 0x05);
    ExpectLine(o, kWarning, "Invalid server name for request key");
  }
  {
    Sim sim;
    ASSERT_TRUE(sim.Start({"--reply", "hello"}));
    Outcome o = RunNamreg(sink(), {"-s", "127.0.0.1", "-f", kHost, kEmail});
    EXPECT_EQ(o.process.exit_status, 0x0D);
    ExpectLine(o, kWarning, "Unknown error for request key");
  }
}

TEST_F(NamregHLDM, RequestKeyNetworkErrorAndEmailCut) {
  {
    nrtest::FakeDns silent(nrtest::NoAnswer());
    ASSERT_TRUE(silent.ok());
    Outcome o = RunNamreg(sink(), {"-s", "hldm.example", "-f", kHost, kEmail});
    EXPECT_EQ(o.process.exit_status, 0x10);
    ExpectLine(o, kWarning, "Network error for request key");
  }
  Sim sim;
  ASSERT_TRUE(sim.Start());
  const std::string email = std::string(90, 'e') + "@example.com";
  Outcome o = RunNamreg(sink(), {"-s", "127.0.0.1", "-f", kHost, email});
  EXPECT_EQ(o.process.exit_status, 0x0C);
  auto lines = sim.Connections(1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(Sim::Request(lines[0]).find("&email=" + email.substr(0, 63) + "&hostname="),
            std::string::npos)
      << lines[0];
}

// ---- Check host name -----------------------------------------------------------

TEST_F(NamregHLDM, CheckHostnameOutcomeTable) {
  nrtest::FakeDns dns(nrtest::Names{{"hldm.example", "127.0.0.1"}});
  ASSERT_TRUE(dns.ok());
  {
    Sim sim;
    ASSERT_TRUE(sim.Start(
        {"--seed", "other.hldm.example=AABBCCDDEEFF", "--seed", "mine.hldm.example=024D52000000"}));
    struct Case {
      const char *host;
      const char *server;
      int status;
      const char *line;
    };
    const Case cases[] = {
        {"free.hldm.example", "127.0.0.1", 0, nullptr},
        {"other.hldm.example", "hldm.example", 1, "This hostname is used by other camera"},
        {"mine.hldm.example", "127.0.0.1", 2, "This hostname belongs to you"},
        {"mine.hldm.example", "nowhere.example", 3, "Invalid server name for check hostname"},
        {"", "127.0.0.1", 3, "Invalid arguments for check hostname"},
    };
    for (const Case &k : cases) {
      SCOPED_TRACE(k.host);
      Outcome o = RunNamreg(sink(), {"-s", k.server, "-c", k.host, kEmail});
      EXPECT_EQ(o.process.exit_status, k.status);
      ExpectLine(o, kWarning, k.line);
    }
    auto lines = sim.Connections(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(
        Sim::Request(lines[0]),
        std::regex("checkHostname&salt=" + kSalt + "&MAC=024D52000000&hostname=free.hldm.example")))
        << lines[0];
  }
  {
    // A result outside the table: nothing logged, status 3.
    Sim sim;
    ASSERT_TRUE(sim.Start({"--reply", "hello"}));
    Outcome o = RunNamreg(sink(), {"-s", "127.0.0.1", "-c", kHost, kEmail});
    EXPECT_EQ(o.process.exit_status, 3);
    ExpectLine(o, kWarning, nullptr);
  }
}

TEST_F(NamregHLDM, CheckHostnameNetworkErrorAndHostNameCut) {
  {
    nrtest::FakeDns silent(nrtest::NoAnswer());
    ASSERT_TRUE(silent.ok());
    Outcome o = RunNamreg(sink(), {"-s", "hldm.example", "-c", kHost, kEmail});
    EXPECT_EQ(o.process.exit_status, 3);
    ExpectLine(o, kWarning, "Network error for check hostname");
  }
  Sim sim;
  ASSERT_TRUE(sim.Start());
  const std::string host = std::string(200, 'h') + ".example";
  Outcome o = RunNamreg(sink(), {"-s", "127.0.0.1", "-c", host, kEmail});
  EXPECT_EQ(o.process.exit_status, 0);
  auto lines = sim.Connections(1);
  ASSERT_EQ(lines.size(), 1u);
  const std::string request = Sim::Request(lines[0]);
  EXPECT_EQ(request.substr(request.find("&hostname=") + 10), host.substr(0, 127));
}

// ---- Network errors retried until the 30-second budget (slow) -----------------

void ExpectRetriedForThirtySeconds(nrtest::SyslogSink &sink,
                                   const std::vector<std::string> &sim_args,
                                   const std::vector<std::string> &args, int status,
                                   const char *line) {
  Sim sim;
  ASSERT_TRUE(sim.Start(sim_args));
  Outcome o = RunNamreg(sink, args);
  EXPECT_EQ(o.process.exit_status, status);
  EXPECT_GE(o.process.seconds, 30.0 - 0.05);  // the clocks' granularity
  EXPECT_LT(o.process.seconds, 40.0);
  ASSERT_FALSE(o.records.empty());
  // The exchange's warnings, then the outcome line last.
  EXPECT_EQ(o.records.back().message, line);
  EXPECT_EQ(o.records.back().severity, kWarning);
  EXPECT_GE(sim.Connections(10).size(), 10u) << "retried";
}

TEST_F(NamregHLDM, SlowShortGreetingIsRetried) {
  ExpectRetriedForThirtySeconds(sink(), {"--mode", "short-greeting"},
                                {"-s", "127.0.0.1", "-r", "-k", "secret", kHost, kEmail}, 0x10,
                                "Network error for register");
}

TEST_F(NamregHLDM, SlowLongGreetingIsRetried) {
  ExpectRetriedForThirtySeconds(sink(), {"--mode", "long-greeting"},
                                {"-s", "127.0.0.1", "-f", kHost, kEmail}, 0x10,
                                "Network error for request key");
}

TEST_F(NamregHLDM, SlowClosedConnectionIsRetried) {
  ExpectRetriedForThirtySeconds(sink(), {"--mode", "hangup"},
                                {"-s", "127.0.0.1", "-c", kHost, kEmail}, 3,
                                "Network error for check hostname");
}

}  // namespace
