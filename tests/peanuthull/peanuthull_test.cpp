// SPDX-License-Identifier: MIT
// PeanutHull against peanuthull-sim on the control server's fixed address,
// which each test adds to an interface of its own network namespace: the
// login record as the simulator checks it, the login's failure replies, the
// CNFM forms, the checks of the UDP reply with the sequence-number rule, the
// retry rounds and the time budgets, and no descriptor left open.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client_fixture.h"
#include "provider_world.h"
#include "sim_process.h"
#include "testworld.h"
#include "virtual_clock.h"

namespace {

using ddnstest::CaptureOut;
using ddnstest::Client;
using Clock = std::chrono::steady_clock;

const char kUser[] = "camuser";
const char kPassword[] = "pa55word";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// peanuthull-sim as a child process on the fixed address; its lines are
// read back from its log.
class Sim : public nrtest::SimProcess {
 public:
  bool Start(const std::vector<std::string> &extra = {}) {
    std::vector<std::string> args = {"--max-seconds", "250",        "--user",
                                     kUser,           "--password", kPassword};
    args.insert(args.end(), extra.begin(), extra.end());
    return SimProcess::Start("tools/peanuthull-sim/peanuthull-sim", args);
  }
};

class PeanutHullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    ASSERT_TRUE(nrtest::AddDummyInterface(
        "ph0", std::string(DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS) + "/24"));
    ASSERT_EQ(client.result, 0u);
    fds = nrtest::CountOpenFds();
  }

  // Settings applied once ahead, so that the host name's DNS look-up (of
  // the settings step, outside the operation's budget) is not timed.
  DDNSClientSettings Applied() {
    DDNSClientSettings s = Settings();
    EXPECT_EQ(DDNSClient_ProcessUpdateSettings(client.context, &s), 0u);
    return s;
  }

  DDNSClientSettings Settings(const char *user = kUser, const char *password = kPassword) {
    return ddnstest::UpdateSettings(DDNSCLIENT_PROVIDER_PEANUTHULL, "cam.example.test", user,
                                    password);
  }

  // Applies the settings and logs in directly (no retries).
  uint32_t Login(const char *user = kUser, const char *password = kPassword) {
    DDNSClientSettings s = Settings(user, password);
    EXPECT_EQ(DDNSClient_ProcessUpdateSettings(client.context, &s), 0u);
    client->dwNetworkTimeout = 5;
    return DDNS_PeanutHull_Login(client.context);
  }

  Client client;
  Sim sim;
  int fds = 0;
  const uint32_t server = inet_addr(DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS);
};

TEST_F(PeanutHullTest, RegisterThenUpdatesFollowTheSession) {
  ASSERT_TRUE(sim.Start({"--chat", "4711", "--sequence", "1000"}));
  // The register learns the public address from the first check-IP page of
  // the rotation.
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  provtest::HttpPeer page(8245,
                          [](const std::string &, int) { return provtest::Reply("203.0.113.9"); });
  ASSERT_TRUE(page.ok());
  const int base_fds = nrtest::CountOpenFds();
  DDNSClientSettings s = Settings();
  uint32_t address = 1;
  ASSERT_EQ(DDNSClient_PeanutHullRegister(client.context, &s, 10, &address), 0u);
  EXPECT_EQ(address, inet_addr("203.0.113.9"));
  EXPECT_EQ(page.requests().size(), 1u);
  EXPECT_EQ(client->dwPeanutHullChatID, 4711u);
  EXPECT_EQ(client->dwPeanutHullSequence, 1000u);
  EXPECT_EQ(sim.Count("tcp login record ok"), 1);
  EXPECT_EQ(sim.Count("tcp regi cam.example.test"), 1);
  EXPECT_EQ(sim.WaitCount("tcp quit", 1), 1);

  for (uint32_t i = 0; i < 3; ++i) {
    address = 0;
    ASSERT_EQ(DDNSClient_PeanutHullUpdate(client.context, &s, 10, &address), 0u) << i;
    // The server sees the camera at the address it sent from.
    EXPECT_EQ(address, server);
    EXPECT_STREQ(client->szCurrentIP, DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS);
    EXPECT_EQ(client->dwPeanutHullSequence, 1001u + i);
    EXPECT_EQ(sim.Count("sequence=" + std::to_string(1000 + i) + " ok"), 1) << sim.Log();
  }
  EXPECT_TRUE(page.WaitIdle());
  EXPECT_EQ(nrtest::CountOpenFds(), base_fds);
}

TEST_F(PeanutHullTest, ChallengeWithZeroTimeBytesSendsFDFDFDFD) {
  ASSERT_TRUE(sim.Start({"--zero-time"}));
  EXPECT_EQ(Login(), 0u);
  EXPECT_EQ(sim.Count("tcp login record ok time=fdfdfdfd"), 1) << sim.Log();
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(PeanutHullTest, LongestUserNameFitsAndOneMoreIsRefusedBeforeSending) {
  const std::string longest(DDNSCLIENT_PEANUTHULL_MAX_USER, 'u');
  ASSERT_TRUE(sim.Start({"--user", longest}));
  EXPECT_EQ(Login(longest.c_str()), 0u);
  EXPECT_EQ(sim.Count("tcp login record ok"), 1) << sim.Log();
  EXPECT_EQ(sim.WaitCount("tcp quit", 1), 1);

  const std::string too_long = longest + "u";
  DDNSClientSettings s = Settings(too_long.c_str());
  uint32_t address = 0;
  std::string out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_PeanutHullRegister(client.context, &s, 5, &address),
              DDNSCLIENT_E_INVALID_ARGS);
    EXPECT_EQ(DDNS_PeanutHull_Login(client.context), DDNSCLIENT_E_INVALID_ARGS);
  });
  EXPECT_NE(out.find("[DDNSClient_PeanutHullRegister] User name longer than 32 characters"),
            std::string::npos)
      << out;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(sim.Count(" tcp "), 4) << sim.Log();  // only the first login's lines
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(PeanutHullTest, LoginFailureRepliesGiveTheirCodes) {
  struct Case {
    const char *mode;
    const char *password;
    uint32_t result;
    const char *line;
  };
  const Case cases[] = {
      {"auth-504", kPassword, DDNSCLIENT_E_AUTH, "Authentication mechanism unsupported"},
      {"login-535", kPassword, DDNSCLIENT_E_AUTH, "Server Response Error: 535"},
      {"normal", "wrong", DDNSCLIENT_E_AUTH, "Server Response Error: 535"},
      {"regi-507", kPassword, DDNSCLIENT_E_HOSTNAME, "Server Response Error: 507"},
      {"regi-508", kPassword, DDNSCLIENT_E_HOSTNAME, "Server Response Error: 508"},
  };
  Applied();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.mode);
    Sim one;
    ASSERT_TRUE(one.Start({"--mode", c.mode}));
    // The public operation returns these at once, without retrying.
    DDNSClientSettings s = Settings(kUser, c.password);
    uint32_t address = 0;
    const auto start = Clock::now();
    std::string out = CaptureOut([&] {
      EXPECT_EQ(DDNSClient_PeanutHullRegister(client.context, &s, 10, &address), c.result);
    });
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
  }
}

TEST_F(PeanutHullTest, ConfirmationWithOneOrTwoNumbers) {
  {
    Sim one;
    ASSERT_TRUE(one.Start({"--mode", "cnfm-one-number", "--chat", "123"}));
    client->dwPeanutHullSequence = 77;
    EXPECT_EQ(Login(), DDNSCLIENT_E_NETWORK);
    EXPECT_EQ(client->dwPeanutHullChatID, 123u);
    EXPECT_EQ(client->dwPeanutHullSequence, 77u);
    EXPECT_EQ(one.Count("tcp quit"), 0);
  }
  Sim two;
  ASSERT_TRUE(two.Start({"--chat", "123", "--sequence", "456"}));
  EXPECT_EQ(Login(), 0u);
  EXPECT_EQ(client->dwPeanutHullChatID, 123u);
  EXPECT_EQ(client->dwPeanutHullSequence, 456u);
  EXPECT_EQ(two.WaitCount("tcp quit", 1), 1);
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(PeanutHullTest, UpdateReplyChecksAndTheSequenceRule) {
  struct Case {
    std::vector<std::string> args;
    uint32_t result;
    uint32_t sequence_after;  // the login's sequence number is 500
    const char *line;
  };
  const Case cases[] = {
      {{"--sequence-offset", "0"}, 0, 501, nullptr},
      {{"--sequence-offset", "2"}, 0, 503, nullptr},
      {{"--sequence-offset", "3"}, DDNSCLIENT_E_NETWORK, 500, "sequence number error"},
      {{"--mode", "bad-checksum"}, DDNSCLIENT_E_NETWORK, 501, "check sum error"},
      {{"--mode", "bad-padding"}, DDNSCLIENT_E_NETWORK, 501, "padding error"},
      {{"--mode", "bad-chat"}, DDNSCLIENT_E_NETWORK, 500, "chat id error"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args.back());
    Sim one;
    std::vector<std::string> args = {"--sequence", "500"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ASSERT_TRUE(one.Start(args));
    ASSERT_EQ(Login(), 0u);
    std::memset(client->szCurrentIP, 0, sizeof client->szCurrentIP);
    std::string out =
        CaptureOut([&] { EXPECT_EQ(DDNS_PeanutHull_Update(client.context), c.result); });
    EXPECT_EQ(client->dwPeanutHullSequence, c.sequence_after);
    EXPECT_EQ(one.Count("sequence=500 ok"), 1) << one.Log();
    if (c.line != nullptr) {
      EXPECT_NE(out.find(c.line), std::string::npos) << out;
      EXPECT_STREQ(client->szCurrentIP, "");
    } else {
      EXPECT_STREQ(client->szCurrentIP, DDNSCLIENT_PEANUTHULL_SERVER_ADDRESS);
    }
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
  }
}

TEST_F(PeanutHullTest, ServerClosingAfterEveryGreetingIsRetriedUntilTheBudgetEnds) {
  ASSERT_TRUE(sim.Start({"--mode", "close-after-greeting"}));
  DDNSClientSettings s = Applied();
  uint32_t address = 0;
  const auto start = Clock::now();
  std::string out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_PeanutHullRegister(client.context, &s, 3, &address), DDNSCLIENT_E_NETWORK);
  });
  const double took = SecondsSince(start);
  EXPECT_GE(took, 2.9);  // the tick counts in steps of 10 ms
  EXPECT_LT(took, 4.0);
  // Every login is 20 rounds; the operation starts a new one after a pause.
  size_t lines = 0;
  for (size_t at = out.find("retry 20 times failed"); at != std::string::npos;
       at = out.find("retry 20 times failed", at + 1))
    ++lines;
  EXPECT_GE(lines, 2u) << out;
  EXPECT_EQ(sim.Count("tcp greeting, closed") % 20, 0) << sim.Log();
  EXPECT_GE(sim.Count("tcp greeting, closed"), 40);
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(PeanutHullTest, NoServerAndSilentUpdatesEndWithinTheBudget) {
  // Nothing listens: each login fails at the connect and is retried.
  DDNSClientSettings s = Applied();
  uint32_t address = 0;
  auto start = Clock::now();
  EXPECT_EQ(DDNSClient_PeanutHullRegister(client.context, &s, 2, &address), DDNSCLIENT_E_NETWORK);
  EXPECT_LT(SecondsSince(start), 3.0);

  ASSERT_TRUE(sim.Start({"--mode", "silent"}));
  ASSERT_EQ(Login(), 0u);
  start = Clock::now();
  std::string out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_PeanutHullUpdate(client.context, &s, 3, &address), DDNSCLIENT_E_NETWORK);
  });
  EXPECT_GE(SecondsSince(start), 2.9);
  EXPECT_LT(SecondsSince(start), 4.0);
  EXPECT_NE(out.find("[DDNS_PeanutHull] recvfrom error"), std::string::npos) << out;
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

// The update routine's own six rounds of 30 seconds, on the virtual clock:
// three minutes of silence pass at once.
TEST_F(PeanutHullTest, SilentUpdateResponderGetsSixRequests) {
  ASSERT_TRUE(sim.Start({"--mode", "silent"}));
  ASSERT_EQ(Login(), 0u);
  nrtest::VirtualClock clock;
  std::string out =
      CaptureOut([&] { EXPECT_EQ(DDNS_PeanutHull_Update(client.context), DDNSCLIENT_E_NETWORK); });
  EXPECT_GE(clock.ElapsedMs(), 180000u - 20u);
  EXPECT_LT(clock.ElapsedMs(), 181000u);
  EXPECT_EQ(sim.Count(" udp from "), 6) << sim.Log();
  EXPECT_NE(out.find("[DDNS_PeanutHull] recvfrom error"), std::string::npos) << out;
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

// The register's check-IP call gets what the login left of the budget, not
// a budget of its own: a login that takes 8 s and a check-IP page that
// never answers end with the 10-second budget.  (Real time: the login is
// slow, not silent.)
TEST_F(PeanutHullTest, SlowLoginAndSilentCheckIPEndWithTheBudget) {
  nrtest::Names names = provtest::ProviderNames();
  names.emplace_back("cam.example.test", "203.0.113.5");
  nrtest::FakeDns dns(names);
  ASSERT_TRUE(dns.ok());
  nrtest::ScriptServer silent;
  ASSERT_TRUE(silent.Start([&silent](int, const std::string &, int) { silent.Pause(15000); },
                           "127.0.0.1", 8245, nrtest::ScriptServer::Read::kHttpRequest));
  ASSERT_TRUE(sim.Start({"--greeting-delay", "8000"}));
  DDNSClientSettings s = Applied();
  uint32_t address = 1;
  const auto start = Clock::now();
  CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_PeanutHullRegister(client.context, &s, 10, &address), 0u); });
  const double took = SecondsSince(start);
  EXPECT_GE(took, 10.0 - 0.05);
  EXPECT_LT(took, 11.0);
  EXPECT_EQ(address, 0u) << "no address was learned";
  EXPECT_EQ(silent.connections(), 1);
  silent.Stop();
}

TEST_F(PeanutHullTest, ArgumentsAndProviderAreChecked) {
  DDNSClientSettings s = Settings();
  uint32_t address = 0;
  std::string out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_PeanutHullRegister(nullptr, &s, 5, &address), DDNSCLIENT_E_INVALID_ARGS);
    EXPECT_EQ(DDNSClient_PeanutHullUpdate(client.context, &s, 5, nullptr),
              DDNSCLIENT_E_INVALID_ARGS);
    s.dwServiceProvider = 1;
    EXPECT_EQ(DDNSClient_PeanutHullUpdate(client.context, &s, 5, &address),
              DDNSCLIENT_E_INVALID_ARGS);
  });
  EXPECT_NE(out.find("[DDNSClient_PeanutHullRegister] Invalid arguments\r"), std::string::npos);
  EXPECT_NE(out.find("[DDNSClient_PeanutHullUpdate] Invalid arguments\r"), std::string::npos);
  EXPECT_NE(out.find("[DDNSClient_PeanutHullUpdate] Invalid service provider: 1\r\n"),
            std::string::npos);
  EXPECT_EQ(client->dwServiceProvider, 1u);  // settings untouched
}

}  // namespace
