// SPDX-License-Identifier: MIT
// One deadline per public operation: every lookup, exchange, retry and
// pause of DDNSClient_Update ends with the budget the caller gave, however
// many sub-steps a provider makes.  Silent peers are waited for on the
// virtual clock; a peer that is slow but answers is waited for in real
// time.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <string>

#include "client_fixture.h"
#include "provider_world.h"
#include "testworld.h"
#include "virtual_clock.h"

namespace {

using ddnstest::CaptureOut;
using ddnstest::Client;
using provtest::HttpPeer;
using provtest::Reply;

// A TCP peer that takes a request and never answers.
class SilentPeer {
 public:
  explicit SilentPeer(uint16_t port) {
    ok_ = server_.Start([this](int, const std::string &, int) { server_.Pause(60000); },
                        "127.0.0.1", port, nrtest::ScriptServer::Read::kHttpRequest);
  }
  ~SilentPeer() { server_.Stop(); }
  bool ok() const { return ok_; }
  int connections() const { return server_.connections(); }

 private:
  nrtest::ScriptServer server_;
  bool ok_ = false;
};

struct Row {
  const char *name;
  uint32_t budget;      // seconds
  uint32_t expected;    // result
  int silent_requests;  // requests the silent peer got
};

// Each row of the table is one operation against peers of which one stays
// silent; the operation ends with its budget, not with the sum of the waits
// of its sub-steps.
TEST(OperationDeadline, SilentPeersEndEachOperationWithItsBudget) {
  NAMREG_REQUIRE_SANDBOX();
  {
    // PCCW: three update attempts share the budget.
    SCOPED_TRACE("PCCW, update server silent");
    nrtest::FakeDns dns(provtest::ProviderNames());
    ASSERT_TRUE(dns.ok());
    HttpPeer check_ip(
        8008, [](const std::string &, int) { return Reply("Current IP Address: 198.51.100.7"); });
    ASSERT_TRUE(check_ip.ok());
    SilentPeer update(8009);
    ASSERT_TRUE(update.ok());
    Client client;
    ASSERT_EQ(client.result, 0u);
    std::strcpy(client->szDDNSServerName, "ddns.configured.example");
    DDNSClientSettings s = ddnstest::UpdateSettings(23);
    s.dwFlags |= DDNSCLIENT_FLAG_CHECKIP_PORT | DDNSCLIENT_FLAG_UPDATE_PORT |
                 DDNSCLIENT_FLAG_PROVIDER_TEXT1 | DDNSCLIENT_FLAG_PROVIDER_TEXT2;
    s.wCheckIPPort = 8008;
    s.wUpdatePort = 8009;
    std::strcpy(s.szProviderText1, "/pccw/ip");
    std::strcpy(s.szProviderText2, "/pccw/update");
    nrtest::VirtualClock clock;
    uint32_t address = 0;
    CaptureOut(
        [&] { EXPECT_EQ(DDNSClient_Update(client.context, &s, 10, &address), 0x80020010u); });
    EXPECT_GE(clock.ElapsedMs(), 10000u - 20u);
    EXPECT_LE(clock.ElapsedMs(), 11000u);
    EXPECT_EQ(update.connections(), 1) << "no time was left for a second attempt";
  }
  {
    // HLDM through the engine: the settings step's lookup takes its 2 s,
    // then the server's name is looked up with what is left (getaddrinfo
    // would wait resolv.conf's 2 x 5 s for every check-IP attempt).
    SCOPED_TRACE("HLDM, name servers silent");
    nrtest::FakeDns silent(nrtest::NoAnswer());
    ASSERT_TRUE(silent.ok());
    nrtest::VirtualClock clock;
    DDNSClientInitInfo info = ddnstest::DefaultInitInfo();
    std::strcpy(info.szHLDMServerName, "hldm.example");
    DDNSClientContext *context = nullptr;
    CaptureOut([&] { ASSERT_EQ(DDNSClient_Initial(&context, &info), 0u); });
    DDNSClientSettings s = ddnstest::UpdateSettings(5);
    const uint64_t start = clock.ElapsedMs();
    uint32_t address = 0;
    CaptureOut([&] { EXPECT_EQ(DDNSClient_Update(context, &s, 5, &address), 0x8002000Bu); });
    EXPECT_GE(clock.ElapsedMs() - start, 5000u - 20u);
    EXPECT_LE(clock.ElapsedMs() - start, 6000u);
    EXPECT_GE(silent.queries().size(), 3u) << "the lookups of the check-IP attempts were made";
    DDNSClient_Release(&context);
  }
  {
    // The settings step's lookup of a changed host name (2 s at most) waits
    // only what the operation has.
    SCOPED_TRACE("settings step, name servers silent");
    nrtest::FakeDns silent(nrtest::NoAnswer());
    ASSERT_TRUE(silent.ok());
    Client client;
    ASSERT_EQ(client.result, 0u);
    DDNSClientSettings s = ddnstest::UpdateSettings(1);
    nrtest::VirtualClock clock;
    uint32_t address = 0;
    CaptureOut([&] { EXPECT_EQ(DDNSClient_Update(client.context, &s, 1, &address), 0x8002000Bu); });
    EXPECT_GE(clock.ElapsedMs(), 1000u - 20u);
    EXPECT_LE(clock.ElapsedMs(), 2000u);
    EXPECT_EQ(silent.queries().size(), 1u) << "only the settings step's lookup had time";
  }
}

// Huagai asks again every 3 s while its server is not genuine; once what
// is left cannot hold another ask (a host name needs a whole second to be
// looked up) it ends with the "no genuine reply" result, not with a
// network error.
TEST(OperationDeadline, HuagaiEndsWithNoGenuineReplyWhenNoAskFitsAnyMore) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  HttpPeer fake(80, [](const std::string &request, int) {
    if (request.find("/myip/") != std::string::npos) return Reply("198.51.100.7");
    return Reply("good");  // no Http-Code-By header: not the genuine server
  });
  ASSERT_TRUE(fake.ok());
  Client client;
  ASSERT_EQ(client.result, 0u);
  DDNSClientSettings s = ddnstest::UpdateSettings(30);
  s.dwFlags |= DDNSCLIENT_FLAG_CHECKIP_PORT;
  s.dwCheckIPPortSwitch = 0;
  nrtest::VirtualClock clock;
  uint32_t address = 0;
  CaptureOut([&] { EXPECT_EQ(DDNSClient_Update(client.context, &s, 7, &address), 0x80020018u); });
  EXPECT_LE(clock.ElapsedMs(), 8000u);
  ASSERT_TRUE(fake.WaitIdle());
  // The check-IP page, then asks at 0 s and 3 s (and 6 s when not even a
  // millisecond passed since the start).
  EXPECT_GE(fake.requests().size(), 1u + 2u);
  EXPECT_LE(fake.requests().size(), 1u + 3u);
}

// GnuDIP's salt page and its update share the budget: a salt that comes
// after 8 s leaves the silent update 2 s, not a budget of its own.  (Real
// time: the salt page is slow, not silent.)
TEST(OperationDeadline, SlowSaltAndSilentGnuDIPUpdateEndWithTheBudget) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  nrtest::ScriptServer peer;
  ASSERT_TRUE(peer.Start(
      [&peer](int fd, const std::string &request, int) {
        if (request.find("salt=") != std::string::npos) {  // the update: never answered
          peer.Pause(15000);
          return;
        }
        peer.Pause(8000);
        nrtest::SendAll(fd, Reply("<meta name=\"salt\" content=\"abcdefghij\"><meta name=\"time\" "
                                  "content=\"1700000000\"><meta name=\"sign\" "
                                  "content=\"0123456789abcdef0123456789abcdef\">"));
      },
      "127.0.0.1", 80, nrtest::ScriptServer::Read::kHttpRequest));
  Client client;
  ASSERT_EQ(client.result, 0u);
  ASSERT_EQ(DDNSClient_SetExternalIP(client.context, 2, "198.51.100.7"), 0u);
  DDNSClientSettings s = ddnstest::UpdateSettings(6);
  // The host name's lookup of the settings step is answered at once.
  const auto start = std::chrono::steady_clock::now();
  uint32_t address = 0;
  CaptureOut([&] { EXPECT_EQ(DDNSClient_Update(client.context, &s, 10, &address), 0x80020010u); });
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(took, 10.0 - 0.05);
  EXPECT_LT(took, 11.0);
  EXPECT_EQ(peer.connections(), 2);
  peer.Stop();
}

}  // namespace
