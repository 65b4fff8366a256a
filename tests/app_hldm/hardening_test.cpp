// SPDX-License-Identifier: MIT
// namreg end to end against the faults of hostile or odd servers: a reply
// dripped one byte per second ends with the 30-second budget, and a server
// name the stub resolver cannot walk to an address (but the system resolver
// can) still registers.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fake_dns.h"
#include "peers.h"
#include "sim_process.h"
#include "testworld.h"

namespace {

struct NamregRun {
  nrtest::ProcessResult process;
  std::vector<nrtest::SyslogRecord> records;
};

// namreg with the given arguments; the syslog records are read while it
// runs (a full /dev/log queue would stall it).
NamregRun RunNamreg(nrtest::SyslogSink &sink, const std::vector<std::string> &args) {
  std::vector<std::string> argv = {nrtest::BuiltProgram("app/namreg")};
  argv.insert(argv.end(), args.begin(), args.end());
  nrtest::ProcessOptions options;
  options.timeout_ms = 60000;
  options.env_unset = {"MAC_ADDR", "FW_VERSION", "HTTP_ALTERNATIVE_PORT"};
  NamregRun run;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    nrtest::SyslogRecord r;
    while (!done) {
      if (sink.Next(&r, 50)) run.records.push_back(r);
    }
  });
  run.process = nrtest::RunProcess(argv, options);
  done = true;
  reader.join();
  for (const nrtest::SyslogRecord &r : sink.Drain(200)) run.records.push_back(r);
  return run;
}

class NamregHardening : public testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
    sink_.reset(new nrtest::SyslogSink);
    ASSERT_TRUE(sink_->ok());
  }
  std::unique_ptr<nrtest::SyslogSink> sink_;
};

// The server greets, takes the request and then sends its reply one byte
// per second, each byte well within any per-wait limit.  The run ends with
// its 30-second budget (and the failure a lost reply gives), not when the
// server is done.
TEST_F(NamregHardening, DrippedReplyEndsWithTheBudget) {
  nrtest::ScriptServer server;
  ASSERT_TRUE(server.Start(
      [&server](int fd, const std::string &, int) {
        nrtest::SendAll(fd, "Ab3De6Gh9J\n");
        nrtest::ReadLine(fd);
        nrtest::SendSlowly(fd, "retc=0:cam.hldm.example:127.0.0.1:" + std::string(200, ' '), 1000,
                           1, [&server](int ms) { return server.Pause(ms); });
      },
      "127.0.0.1", 3495, nrtest::ScriptServer::Read::kNothing));
  NamregRun run = RunNamreg(
      *sink_, {"-s", "127.0.0.1", "-r", "-k", "secret", "cam.hldm.example", "owner@example.com"});
  EXPECT_FALSE(run.process.timed_out);
  EXPECT_GE(run.process.seconds, 29.5);
  EXPECT_LT(run.process.seconds, 31.0);
  EXPECT_EQ(run.process.exit_status, 0x11);
  ASSERT_FALSE(run.records.empty());
  EXPECT_EQ(run.records.back().message, "Unknown error for register");
  EXPECT_EQ(server.connections(), 1);
  server.Stop();
}

// The name server's answer to the server name starts with a DNAME record
// (what a zone moved under another name gives): the stub resolver's walk
// stops there without an address, but the answer is clean, so the name
// counts as checked and the exchange, whose lookup walks past records it has
// no use for (as getaddrinfo does), registers.
TEST_F(NamregHardening, ServerNameTheStubCannotWalkStillRegisters) {
  nrtest::FakeDns dns([](const nrtest::Bytes &q) {
    if (nrtest::QueryName(q) != "hldm.example")
      return std::vector<nrtest::Bytes>{nrtest::MakeAnswer(q, {}, 3)};
    if (nrtest::QueryType(q) != 1) return std::vector<nrtest::Bytes>{nrtest::MakeAnswer(q, {})};
    nrtest::FakeRecord dname;
    dname.type = 39;
    dname.rdata = nrtest::NameData("hldm.example");
    nrtest::FakeRecord a;
    a.rdata = nrtest::ARecordData("127.0.0.1");
    return std::vector<nrtest::Bytes>{nrtest::MakeAnswer(q, {dname, a})};
  });
  ASSERT_TRUE(dns.ok());
  nrtest::SimProcess sim;
  ASSERT_TRUE(sim.Start("tools/hldm-sim/hldm-sim", {"--max-seconds", "60"}));
  NamregRun run = RunNamreg(*sink_, {"-s", "hldm.example", "-r", "-k", "secret", "cam.hldm.example",
                                     "owner@example.com"});
  EXPECT_EQ(run.process.exit_status, 0);
  ASSERT_FALSE(run.records.empty());
  EXPECT_EQ(run.records.back().message,
            "Register successfully. Hostname: cam.hldm.example (IP: 127.0.0.1)");
  EXPECT_GE(dns.queries().size(), 2u) << "the name check, then the exchange's lookup";
}

// A host name holding a line break cannot forge a line in the log: the
// settings refuse it before anything is sent, and the one outcome line
// carries no outside text.
TEST_F(NamregHardening, HostNameWithALineBreakForgesNoLogLine) {
  nrtest::ScriptServer server(
      [](int fd, const std::string &, int) { nrtest::SendAll(fd, "Ab3De6Gh9J\n"); }, 3495);
  ASSERT_TRUE(server.ok());
  NamregRun run = RunNamreg(
      *sink_, {"-s", "127.0.0.1", "-r", "-k", "secret",
               "cam.hldm.example\nRegister successfully. Hostname: evil.example (IP: 6.6.6.6)",
               "owner@example.com"});
  EXPECT_EQ(run.process.exit_status, 0x06);
  ASSERT_EQ(run.records.size(), 1u);
  EXPECT_EQ(run.records[0].message, "Invalid arguments for register");
  for (const nrtest::SyslogRecord &r : run.records)
    EXPECT_EQ(r.raw.find("evil"), std::string::npos) << r.raw;
  EXPECT_EQ(server.connections(), 0);
}

}  // namespace
