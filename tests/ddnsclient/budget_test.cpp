// SPDX-License-Identifier: MIT
// The time-out of a primitive, of one HLDM exchange and of a public HLDM
// operation is the budget of the whole call: a server that trickles its
// reply (one byte now and then, each within the wait) cannot stretch it.
// Also the time-out tests for time-outs too large for 32-bit milliseconds.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "client_fixture.h"
#include "namreg/netutility.h"
#include "peers.h"
#include "testworld.h"

namespace {

using nrtest::ScriptServer;

const uint32_t kLoopback = inet_addr("127.0.0.1");

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Greets like an HLDM server (when asked), reads the request line, then
// drips a reply that never ends, one byte every 200 ms.
ScriptServer::Script Dripper(ScriptServer *server, bool greet) {
  return [server, greet](int fd, const std::string &, int) {
    if (greet) {
      nrtest::SendAll(fd, "Ab3De6Gh9J\n");
      nrtest::ReadLine(fd);
    }
    nrtest::SendSlowly(fd, "retc=0:" + std::string(4000, 'x'), 200, 1,
                       [server](int ms) { return server->Pause(ms); });
  };
}

TEST(DDNSClientBudget, ReceiveEndsAtItsTimeOutWhileDataTrickles) {
  ScriptServer server;
  ASSERT_TRUE(server.Start(Dripper(&server, false), "127.0.0.1", 0, ScriptServer::Read::kNothing));
  int32_t fd = -1;
  ASSERT_EQ(DDNSClient_SocketConnect(&fd, kLoopback, server.port(), 2), 0u);
  char buffer[DDNSCLIENT_RESPONSE_SIZE + 1];
  const auto start = std::chrono::steady_clock::now();
  const std::string out = ddnstest::CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_Receive(&fd, buffer, DDNSCLIENT_RESPONSE_SIZE, 2), -1); });
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 1.9);
  EXPECT_LT(seconds, 2.5);
  EXPECT_EQ(out, "[DDNSClient_Receive] select failed\r\n");
  EXPECT_EQ(fd, -1);
  server.Stop();
}

TEST(DDNSClientBudget, ExchangeEndsAtItsTimeOutWhileTheReplyTrickles) {
  ddnstest::Client c;
  ASSERT_EQ(c.result, 0u);
  const int fds = nrtest::CountOpenFds();
  ScriptServer server;
  ASSERT_TRUE(server.Start(Dripper(&server, true), "127.0.0.1", 0, ScriptServer::Read::kNothing));
  const auto start = std::chrono::steady_clock::now();
  ddnstest::CaptureOut([&] {
    EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "127.0.0.1", server.port(), 2,
                                              HLDM_REQUEST_CHECK_HOSTNAME),
              DDNSCLIENT_E_NO_REPLY);
  });
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 1.9);
  EXPECT_LT(seconds, 2.5);
  server.Stop();
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

// The public operation on port 3495: the lost-reply check after the failed
// exchange runs only while the operation's budget lasts.
TEST(DDNSClientBudget, RegisterEndsWithItsBudget) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  ScriptServer server;
  ASSERT_TRUE(server.Start(Dripper(&server, true), "127.0.0.1", DDNSCLIENT_HLDM_PORT,
                           ScriptServer::Read::kNothing));
  ddnstest::Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s =
      ddnstest::HLDMSettings("cam.hldm.example", "owner@example.com", "secret", "127.0.0.1", 0x11E);
  uint32_t address = 0;
  const auto start = std::chrono::steady_clock::now();
  ddnstest::CaptureOut([&] {
    EXPECT_EQ(DDNSClient_HLDMRegister(c.context, &s, 3, &address), DDNSCLIENT_E_NO_REPLY);
  });
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 2.9);
  EXPECT_LT(seconds, 3.5);
  EXPECT_EQ(server.connections(), 1) << "one exchange, no check-IP exchange after it";
  server.Stop();
}

// 1000 x seconds does not fit 32 bits from 4,294,968 s on (it wraps to a
// few hundred milliseconds): such time-outs must not count as passed ten
// seconds after their start.
TEST(DDNSClientBudget, LargeTimeOutsDoNotWrap) {
  for (uint32_t seconds : {4294967u, 4294968u, 8589935u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    EXPECT_EQ(DDNSClient_IsTimeout(DDNSClient_GetTickMs() - 10000u, seconds, nullptr), 0)
        << seconds;
    EXPECT_EQ(NetUtility_IsTimeout(NetUtility_GetTickMs() - 10000u, seconds, nullptr), 0)
        << seconds;
  }
  // Ten seconds back has passed nine.
  uint32_t elapsed = 0;
  EXPECT_EQ(DDNSClient_IsTimeout(DDNSClient_GetTickMs() - 10000u, 9, &elapsed), 1);
  EXPECT_EQ(elapsed, 10u);
}

}  // namespace
