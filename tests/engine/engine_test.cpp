// SPDX-License-Identifier: MIT
// The update engine with I-O DATA (provider 7: its own check-IP page and
// update request) against a fake service on port 80 in the test world: the
// unchanged, changed, no-change and port-announcing rounds, the external
// address, failing and stalling check-IP pages, the refused providers, the
// interval test and the public-address query.
#include <gtest/gtest.h>
#include <namreg/common.h>

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "client_fixture.h"
#include "provider_world.h"
#include "sim_process.h"
#include "testworld.h"
#include "virtual_clock.h"

namespace {

using ddnstest::CaptureOut;
using ddnstest::Client;
using provtest::HttpPeer;
using provtest::Reply;
using Clock = std::chrono::steady_clock;

const char kCheckIPPath[] = "/cgi-bin/ddns/check_ip.cgi";
const char kCameraHost[] = "cam.iobb.example";

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    // The camera's host name holds 203.0.113.7 in the DNS: the settings
    // step takes it as the last address.
    nrtest::Names names = {{DDNSCLIENT_IODATA_HOST, "127.0.0.1"},
                           {"ipcheck.iodata.example", "127.0.0.1"},
                           {kCameraHost, "203.0.113.7"}};
    ASSERT_TRUE(dns.Start("127.0.0.1", nrtest::AnswerNames(names)));
    peer.reset(new HttpPeer(80, [this](const std::string &request, int) {
      std::lock_guard<std::mutex> lock(mutex);
      if (request.find(kCheckIPPath) != std::string::npos) {
        ++check_ip_requests;
        if (stall_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(stall_ms));
        return Reply(check_ip_page);
      }
      if (request.find("Authorization: Basic ") == std::string::npos)
        return Reply("login", "401 Unauthorized", "WWW-Authenticate: Basic realm=\"ddns\"\r\n");
      update_paths.push_back(request.substr(4, request.find(" HTTP/1.1") - 4));
      return Reply(update_body);
    }));
    ASSERT_TRUE(peer->ok());
    ASSERT_EQ(client.result, 0u);
    fds = nrtest::CountOpenFds();
    settings = Settings(7);
  }

  static DDNSClientSettings Settings(uint32_t provider) {
    return ddnstest::UpdateSettings(provider, kCameraHost);
  }

  void Page(const std::string &page) {
    std::lock_guard<std::mutex> lock(mutex);
    check_ip_page = page;
  }
  void Body(const std::string &body) {
    std::lock_guard<std::mutex> lock(mutex);
    update_body = body;
  }
  std::vector<std::string> Updates() {
    std::lock_guard<std::mutex> lock(mutex);
    return update_paths;
  }
  int CheckIPs() {
    std::lock_guard<std::mutex> lock(mutex);
    return check_ip_requests;
  }
  void ExpectNoDescriptorLeft() {
    ASSERT_TRUE(peer->WaitIdle());
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
  }
  static std::string UpdatePath(const std::string &address) {
    return std::string("/cgi-bin/ddns/members/update_dns.cgi?host=") + kCameraHost +
           "&myip=" + address;
  }

  nrtest::FakeDns dns;
  std::mutex mutex;
  std::string check_ip_page = "<html>Current IP Address: 203.0.113.7</html>";
  std::string update_body = "good";
  std::vector<std::string> update_paths;
  int check_ip_requests = 0;
  int stall_ms = 0;
  std::unique_ptr<HttpPeer> peer;
  Client client;
  DDNSClientSettings settings;
  int fds = 0;
};

TEST_F(Engine, UnchangedChangedAndNoChangeRounds) {
  uint32_t address = 0;
  // The DNS already holds the address: nothing is sent.
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0x70010001u);
  EXPECT_EQ(address, inet_addr("203.0.113.7"));
  EXPECT_TRUE(Updates().empty());
  EXPECT_EQ(DDNSClient_IsTimeToUpdate(client.context), 0);

  // A new address is sent and becomes the last address.
  Page("Current IP Address: 203.0.113.8");
  address = 0;
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0u);
  EXPECT_EQ(address, inet_addr("203.0.113.8"));
  EXPECT_EQ(client->dwLastIP, inet_addr("203.0.113.8"));

  // "nochg" for another new address still takes it.
  Page("Current IP Address: 203.0.113.9");
  Body("nochg");
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0x80020005u);
  EXPECT_EQ(address, inet_addr("203.0.113.9"));
  EXPECT_EQ(client->dwLastIP, inet_addr("203.0.113.9"));

  // A refusal keeps the last address and the output.
  Page("Current IP Address: 203.0.113.10");
  Body("nohost");
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0x80020001u);
  EXPECT_EQ(address, inet_addr("203.0.113.9"));
  EXPECT_EQ(client->dwLastIP, inet_addr("203.0.113.9"));

  const std::vector<std::string> expected = {UpdatePath("203.0.113.8"), UpdatePath("203.0.113.9"),
                                             UpdatePath("203.0.113.10")};
  EXPECT_EQ(Updates(), expected);
  EXPECT_EQ(CheckIPs(), 4);
  ExpectNoDescriptorLeft();
}

TEST_F(Engine, PortChangeForcesTheUpdateOfAnUnchangedAddress) {
  uint32_t address = 0;
  settings.wHTTPAlternativePort = 8080;
  settings.dwPortChanged = 0;
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0x70010001u);
  settings.dwPortChanged = 1;
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0u);
  settings.wHTTPAlternativePort = 80;
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0x70010001u);
  const std::vector<std::string> expected = {UpdatePath("203.0.113.7")};
  EXPECT_EQ(Updates(), expected);
  ExpectNoDescriptorLeft();
}

TEST_F(Engine, ExternalAddressSkipsTheCheckIPPage) {
  uint32_t address = 0;
  ASSERT_EQ(DDNSClient_SetExternalIP(client.context, 2, "198.51.100.20"), 0u);
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0u);
  EXPECT_EQ(address, inet_addr("198.51.100.20"));
  EXPECT_EQ(CheckIPs(), 0);
  const std::vector<std::string> expected = {UpdatePath("198.51.100.20")};
  EXPECT_EQ(Updates(), expected);

  // An external "0.0.0.0" (set behind the setter's back) is no address:
  // nothing is sent, and the public address is reported unknown.
  std::snprintf(client->szCurrentIP, sizeof client->szCurrentIP, "0.0.0.0");
  const std::string out = CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0x8002000Bu); });
  EXPECT_NE(out.find("[DDNSClient_Update] Invalid current IP: 0.0.0.0\r\n"), std::string::npos)
      << out;
  EXPECT_EQ(Updates().size(), 1u);
  ExpectNoDescriptorLeft();
}

TEST_F(Engine, FailingCheckIPWithAnOldAddressStillUpdates) {
  uint32_t address = 0;
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0x70010001u);
  // The old address text stays; the last address is made to differ.
  client->dwLastIP = inet_addr("192.0.2.1");
  Page("no address here");
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0x8002000Bu);
  EXPECT_EQ(CheckIPs(), 1 + 4);
  const std::vector<std::string> expected = {UpdatePath("203.0.113.7")};
  EXPECT_EQ(Updates(), expected);
  EXPECT_EQ(client->dwLastIP, inet_addr("192.0.2.1"));  // not taken after a failed address step
  ExpectNoDescriptorLeft();
}

// An address the check-IP step did not find is never reported as
// unchanged or sent: the public address is unknown (0x8002000B), whatever
// the old address text holds, and the attempt counts for the interval.
TEST_F(Engine, AFailedAddressStepIsNeverUnchanged) {
  struct Case {
    const char *name;
    const char *page;
    const char *current_before;  // the context's address text before the round
    const char *last_before;     // the last address reported
  };
  const Case cases[] = {
      {"no address on the page, old text equals the last", "no address here", "203.0.113.7",
       "203.0.113.7"},
      {"no address on the page, no old text", "no address here", "", "203.0.113.7"},
      {"the page shows 0.0.0.0", "Current IP Address: 0.0.0.0", "", "203.0.113.7"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Client fresh;
    ASSERT_EQ(fresh.result, 0u);
    uint32_t address = 0;
    CaptureOut([&] { DDNSClient_ProcessUpdateSettings(fresh.context, &settings); });
    std::snprintf(fresh->szCurrentIP, sizeof fresh->szCurrentIP, "%s", c.current_before);
    fresh->dwLastIP = inet_addr(c.last_before);
    Page(c.page);
    const int before = CheckIPs();
    CaptureOut(
        [&] { EXPECT_EQ(DDNSClient_Update(fresh.context, &settings, 5, &address), 0x8002000Bu); });
    EXPECT_EQ(address, 0u);
    EXPECT_GE(CheckIPs() - before, 1);
    EXPECT_EQ(DDNSClient_IsTimeToUpdate(fresh.context), 0) << "the attempt was recorded";
  }
  EXPECT_TRUE(Updates().empty());
  ExpectNoDescriptorLeft();
}

// A host program that asks DDNSClient_IsTimeToUpdate every second against a
// check-IP page without an address makes one round in ten seconds, not one
// a second.
TEST_F(Engine, AFailingRoundIsNotRepeatedBeforeTheInterval) {
  Page("no address here");
  nrtest::VirtualClock clock;
  int rounds = 0;
  for (int second = 0; second < 10; ++second) {
    if (DDNSClient_IsTimeToUpdate(client.context)) {
      uint32_t address = 0;
      CaptureOut([&] { DDNSClient_Update(client.context, &settings, 5, &address); });
      ++rounds;
    }
    clock.Advance(1000);
  }
  EXPECT_EQ(rounds, 1);
  EXPECT_EQ(CheckIPs(), 4);
}

// No name server yet (a camera before DHCP): not refused settings, but the
// network the round could not reach.
TEST_F(Engine, ANameServerFileWithoutAServerIsANetworkFailure) {
  nrtest::WriteResolvConf("# no name server yet\n");
  uint32_t address = 0;
  const std::string out = CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, &address), 0x8002000Bu); });
  EXPECT_EQ(out.find("Process settings failed"), std::string::npos) << out;
  EXPECT_STREQ(client->szHostName, kCameraHost);
  EXPECT_EQ(CheckIPs(), 0);
  EXPECT_TRUE(Updates().empty());
}

TEST_F(Engine, StallingCheckIPEndsWithTheTimeOut) {
  stall_ms = 4500;
  uint32_t address = 0;
  client->dwLastIP = inet_addr("192.0.2.1");
  const auto start = Clock::now();
  EXPECT_EQ(DDNSClient_Update(client.context, &settings, 3, &address), 0x8002000Bu);
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(took, 2.9);
  EXPECT_LT(took, 4.5);
  EXPECT_EQ(CheckIPs(), 1);
  EXPECT_TRUE(Updates().empty());
  EXPECT_NE(client->adwLastUpdateTick[7], 0u);  // the attempt is recorded
  ExpectNoDescriptorLeft();
}

TEST_F(Engine, RefusedSettingsAndProviders) {
  uint32_t address = 0;
  DDNSClientSettings peanuthull = Settings(20), megachips = Settings(25), off = Settings(7);
  off.dwEnable = 0;
  const std::string out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_Update(client.context, &peanuthull, 5, &address), 0x80010006u);
    EXPECT_EQ(DDNSClient_Update(client.context, &megachips, 5, &address), 0x80010006u);
    EXPECT_EQ(DDNSClient_Update(client.context, &off, 5, &address), 0x80010006u);
    EXPECT_EQ(DDNSClient_Update(client.context, &settings, 5, nullptr), 0x80010006u);
  });
  for (const char *line :
       {"[DDNSClient_Update] Please call DDNSClient_PeanutHullRegister or "
        "DDNSClient_PeanutHullUpdate\r\n",
        "[DDNSClient_Update] Please call DDNSClient_MegaChipsProcess\r\n",
        "[DDNSClient_Update] DDNS disable\r\n", "[DDNSClient_Update] Invalid arguments\r\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line;
  EXPECT_EQ(client->dwServiceProvider, 1u);  // no settings were taken
  EXPECT_EQ(CheckIPs(), 0);
}

// The interval is counted on the clock seam, wherever the tick stands: an
// attempt made just before the 32-bit tick wraps is due exactly one
// interval later, not at once.
TEST(EngineTiming, IsTimeToUpdateAcrossTheIntervalBoundary) {
  struct Case {
    const char *name;
    uint32_t tick_at_attempt;
  };
  const Case cases[] = {
      {"far from the wrap", 0x10000000u},
      {"attempt 2 s before the wrap", 0xFFFFF830u},
      {"attempt at tick 0", 0u},
      {"interval ends across the wrap", 0xFFFFFFFFu - 300000u},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    nrtest::VirtualClock::Options options;
    options.follow_real_time = false;
    options.tick_start = c.tick_at_attempt;
    nrtest::VirtualClock clock(options);
    Client client;
    ASSERT_EQ(client.result, 0u);
    client->dwServiceProvider = 7;
    client->dwUpdateInterval = 10;
    EXPECT_EQ(DDNSClient_IsTimeToUpdate(client.context), 1);  // never updated
    namreg::DDNSClient_RecordAttempt(client.context, 7);
    EXPECT_EQ(DDNSClient_IsTimeToUpdate(client.context), 0);
    clock.Advance(600000u - 2000u);  // two seconds before the interval ends
    EXPECT_EQ(DDNSClient_IsTimeToUpdate(client.context), 0);
    clock.Advance(2000u);  // exactly the interval: not yet past it
    EXPECT_EQ(DDNSClient_IsTimeToUpdate(client.context), 0);
    clock.Advance(1u);
    EXPECT_EQ(DDNSClient_IsTimeToUpdate(client.context), 1);
  }
  const std::string out = CaptureOut([] { EXPECT_EQ(DDNSClient_IsTimeToUpdate(nullptr), 0); });
  EXPECT_EQ(out, "[DDNSClient_IsTimeToUpdate] Invalid arguments\r\n");
}

TEST(EngineAddress, GetPublicIPStartsAtTheGivenSlot) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  HttpPeer page(8245, [](const std::string &request, int) {
    return Reply(request.find("Host: checkip.dyndns.org") != std::string::npos
                     ? "Current IP Address: 203.0.113.21"
                     : "203.0.113.20");
  });
  ASSERT_TRUE(page.ok());
  Client client;
  ASSERT_EQ(client.result, 0u);
  uint32_t address = 0;
  EXPECT_EQ(DDNSClient_GetPublicIP(client.context, 5, &address, 6), 0u);  // 6 & 3: DynDNS
  EXPECT_EQ(address, inet_addr("203.0.113.21"));
  EXPECT_EQ(client->dwCheckIPSlot, 3u);
  EXPECT_EQ(DDNSClient_GetPublicIP(client.context, 5, &address, 0), 0u);  // No-IP
  EXPECT_EQ(address, inet_addr("203.0.113.20"));
  const std::string out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_GetPublicIP(client.context, 0, &address, 0), 0x80010006u);
    EXPECT_EQ(DDNSClient_GetPublicIP(client.context, 5, nullptr, 0), 0x80010006u);
  });
  EXPECT_NE(out.find("[DDNSClient_GetPublicIP] Invalid arguments\r"), std::string::npos);
}

}  // namespace

namespace {

// Every row of the provider table: interval, and whether it has an update
// and a check-IP routine; the validity test follows the routines.
TEST(ProviderTable, EveryRowIsBoundToItsRoutines) {
  struct Row {
    uint32_t interval;
    bool update;
    bool check_ip;
  };
  const Row rows[DDNSCLIENT_PROVIDER_COUNT] = {
      {0, false, false}, {10, true, true}, {10, true, true},   {1, true, true},  {8, true, true},
      {5, true, true},   {5, true, true},  {10, true, true},   {10, true, true}, {5, true, true},
      {10, true, true},  {5, true, true},  {5, true, true},    {5, false, true}, {5, false, true},
      {5, true, true},   {5, true, true},  {5, true, true},    {5, true, true},  {10, true, true},
      {1, true, false},  {10, true, true}, {3, false, true},   {5, true, true},  {5, true, true},
      {10, true, false}, {10, true, true}, {10, true, true},   {10, true, true}, {10, true, true},
      {10, true, true},  {10, true, true}, {10, false, true},  {10, true, true}, {10, true, true},
      {1, true, true},   {1, true, true},  {30, false, false},
  };
  for (uint32_t p = 0; p < DDNSCLIENT_PROVIDER_COUNT; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(g_tDDNSServiceInfo[p].dwMinInterval, rows[p].interval);
    EXPECT_EQ(g_tDDNSServiceInfo[p].pfnUpdate != nullptr, rows[p].update);
    EXPECT_EQ(g_tDDNSServiceInfo[p].pfnCheckIP != nullptr, rows[p].check_ip);
    std::string out;
    int valid = 0;
    out = CaptureOut([&] { valid = DDNSClient_IsValidServiceProv(p); });
    EXPECT_EQ(valid, p != 0 && rows[p].update ? 1 : 0);
    EXPECT_EQ(out.empty(), p == 0 || valid == 1) << out;
  }
  EXPECT_EQ(g_tDDNSServiceInfo[7].pfnUpdate, DDNSClient_Update_IOData);
  EXPECT_EQ(g_tDDNSServiceInfo[7].pfnCheckIP, DDNSClient_CheckIP_IOData);
  EXPECT_EQ(g_tDDNSServiceInfo[20].pfnUpdate, DDNS_PeanutHull_Update);
  EXPECT_EQ(g_tDDNSServiceInfo[25].pfnUpdate, DDNSClient_Update_MegaChips);
  EXPECT_EQ(DDNSClient_IsValidServiceProv(DDNSCLIENT_PROVIDER_COUNT), 0);
}

}  // namespace

namespace {

// Every row that DDNSClient_Update serves over HTTP, against provider-sim
// (the PeanutHull and MegaChips rows have operations of their own, I-O DATA
// is the Engine fixture's, the HLDM rows speak their own protocol).
TEST(EngineWithProviderSim, EveryHttpRowUpdatesThroughTheEngine) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  nrtest::SimProcess sim;
  ASSERT_TRUE(sim.Start(
      "tools/provider-sim/provider-sim",
      {"--max-seconds", "60", "--ip", "198.51.100.77", "--basic", "user:pass", "--gnudip-password",
       "pass", "--reply", "/pccw/ip=Current IP Address: 198.51.100.77"}));

  int rows = 0;
  for (uint32_t provider = 1; provider < DDNSCLIENT_PROVIDER_COUNT; ++provider) {
    if (g_tDDNSServiceInfo[provider].pfnUpdate == nullptr || provider == 5 || provider == 7 ||
        provider == 20 || provider == 24 || provider == 25)
      continue;
    ++rows;
    SCOPED_TRACE("provider " + std::to_string(provider));
    Client client;
    ASSERT_EQ(client.result, 0u);
    std::strcpy(client->szDDNSServerName, "ddns.configured.example");
    client->dwSettingsFlags |= DDNSCLIENT_FLAG_DDNS_SERVER;
    DDNSClientSettings s;
    std::memset(&s, 0, sizeof s);
    s.dwFlags = DDNSCLIENT_FLAG_ENABLE | DDNSCLIENT_FLAG_PROVIDER | DDNSCLIENT_FLAG_HOSTNAME |
                DDNSCLIENT_FLAG_USERNAME | DDNSCLIENT_FLAG_PASSWORD | DDNSCLIENT_FLAG_CHECKIP_PORT |
                DDNSCLIENT_FLAG_UPDATE_PORT | DDNSCLIENT_FLAG_PROVIDER_TEXT1 |
                DDNSCLIENT_FLAG_PROVIDER_TEXT2;
    s.dwEnable = 1;
    s.dwServiceProvider = provider;
    std::strcpy(s.szHostName, "cam.example.net");
    std::strcpy(s.szUserName, "user");
    std::strcpy(s.szPassword, "pass");
    s.dwCheckIPPortSwitch = 1;
    s.dwUpdatePortSwitch = 1;
    s.wCheckIPPort = 8888;
    s.wUpdatePort = 8008;
    std::strcpy(s.szProviderText1, "/pccw/ip");
    std::strcpy(s.szProviderText2, "/pccw/update");
    s.wHTTPAlternativePort = 80;
    std::strcpy(s.szCameraMAC, "024D52A1B2C3");
    std::strcpy(s.szCameraIP, "192.168.1.20");
    s.wCameraPort = 8080;
    ASSERT_EQ(DDNSClient_SetParameters(client.context, &s), 0u);
    const int fds = nrtest::CountOpenFds();
    const size_t before = sim.Log().size();
    uint32_t address = 0;
    EXPECT_EQ(DDNSClient_Update(client.context, &s, 10, &address), 0u);
    EXPECT_EQ(address, inet_addr("198.51.100.77"));
    // The same address again: only the check-IP page is asked for.
    const size_t middle = sim.Log().size();
    EXPECT_GT(middle, before);
    EXPECT_EQ(DDNSClient_Update(client.context, &s, 10, &address), 0x70010001u);
    EXPECT_EQ(address, inet_addr("198.51.100.77"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string second = sim.Log().substr(middle);
    EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1) << second;
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
  }
  EXPECT_EQ(rows, 27);
}

}  // namespace

namespace {

// The HLDM rows (5 and 24) through the engine against hldm-sim: the address
// the service sees, the update of a registered host, and the port announced
// with an unchanged address.
TEST(EngineWithHldmSim, HldmRowsUpdateAndAnnounceThePort) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(nrtest::Names{{"hldm.configured.example", "127.0.0.1"}});
  ASSERT_TRUE(dns.ok());
  nrtest::SimProcess sim;
  ASSERT_TRUE(sim.Start("tools/hldm-sim/hldm-sim", {"--address", "127.0.0.1", "--max-seconds", "60",
                                                    "--seed", "cam.hldm.example=024D52A1B2C3"}));
  for (uint32_t provider : {5u, 24u}) {
    SCOPED_TRACE(provider);
    DDNSClientInitInfo info = ddnstest::DefaultInitInfo();
    std::strcpy(info.szHLDMServerName, "hldm.configured.example");
    DDNSClientContext *context = nullptr;
    ASSERT_EQ(DDNSClient_Initial(&context, &info), 0u);
    DDNSClientSettings s;
    std::memset(&s, 0, sizeof s);
    s.dwFlags = DDNSCLIENT_FLAG_ENABLE | DDNSCLIENT_FLAG_PROVIDER | DDNSCLIENT_FLAG_HOSTNAME |
                DDNSCLIENT_FLAG_USERNAME | DDNSCLIENT_FLAG_PASSWORD;
    s.dwEnable = 1;
    s.dwServiceProvider = provider;
    std::strcpy(s.szHostName, "cam.hldm.example");
    std::strcpy(s.szUserName, "owner@example.com");
    std::strcpy(s.szPassword, "key");
    s.wHTTPAlternativePort = 80;
    const int fds = nrtest::CountOpenFds();
    uint32_t address = 0;
    EXPECT_EQ(DDNSClient_Update(context, &s, 10, &address), 0u);
    EXPECT_EQ(address, inet_addr("127.0.0.1"));
    EXPECT_EQ(DDNSClient_Update(context, &s, 10, &address), 0x70010001u);
    s.dwFlags |= DDNSCLIENT_FLAG_HTTP_ALT_PORT;
    s.wHTTPAlternativePort = 8080;
    s.dwPortChanged = 1;
    const size_t before = sim.Log().size();
    EXPECT_EQ(DDNSClient_Update(context, &s, 10, &address), 0u);
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
    DDNSClient_Release(&context);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string last = sim.Log().substr(before);
    EXPECT_NE(last.find(":cam.hldm.example:IPCAM:0:127.0.0.1:8080\" -> \"retc=0:\""),
              std::string::npos)
        << last;
  }
}

}  // namespace
