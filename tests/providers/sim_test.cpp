// SPDX-License-Identifier: MIT
// Every HTTP provider row against provider-sim: the update and check-IP
// routine of each row succeed against the simulator's pages, and the lines
// it prints show what reached it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "provider_world.h"
#include "sim_process.h"
#include "testworld.h"

namespace {

using ddnstest::Client;

// provider-sim as a child process, its request lines read back from its log.
class ProviderSim : public nrtest::SimProcess {
 public:
  bool Start(const std::vector<std::string> &extra = {}) {
    std::vector<std::string> args = {"--max-seconds", "60"};
    args.insert(args.end(), extra.begin(), extra.end());
    return SimProcess::Start("tools/provider-sim/provider-sim", args);
  }
};

void FillContext(DDNSClientContext *c, uint32_t provider) {
  c->dwServiceProvider = provider;
  c->dwNetworkTimeout = 5;
  std::strcpy(c->szHostName, "cam.example.net");
  std::strcpy(c->szUserName, "user");
  std::strcpy(c->szPassword, "pass");
  std::strcpy(c->szCurrentIP, "203.0.113.9");
  std::strcpy(c->szDDNSServerName, "ddns.configured.example");
  c->wUpdatePort = 8008;
  c->wCheckIPPort = 8888;
  std::strcpy(c->szProviderText1, "/pccw/ip");
  std::strcpy(c->szProviderText2, "/pccw/update");
  std::strcpy(c->tLastSettings.szCameraMAC, "024D52A1B2C3");
  std::strcpy(c->tLastSettings.szCameraIP, "192.168.1.20");
  c->tLastSettings.wCameraPort = 8080;
}

// Rows served here: every provider with an HTTP or GnuDIP routine (not the
// HLDM service, I-O DATA, PeanutHull, MegaChips, nor the empty row 37).
bool IsHttpRow(uint32_t provider) {
  return provider != 5 && provider != 7 && provider != 20 && provider != 24 && provider != 25 &&
         provider != 37;
}

TEST(ProviderSim, EveryHttpRowUpdatesAndFindsItsAddress) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  ProviderSim sim;
  ASSERT_TRUE(sim.Start({"--ip", "198.51.100.77", "--basic", "user:pass", "--gnudip-password",
                         "pass", "--reply", "/pccw/ip=Current IP Address: 198.51.100.77"}));
  for (uint32_t provider = 1; provider < DDNSCLIENT_PROVIDER_COUNT; ++provider) {
    if (!IsHttpRow(provider)) continue;
    SCOPED_TRACE("provider " + std::to_string(provider));
    const DDNSServiceInfo &row = g_tDDNSServiceInfo[provider];
    Client client;
    ASSERT_EQ(client.result, 0u);
    FillContext(client.context, provider);
    const int fds = nrtest::CountOpenFds();
    if (row.pfnUpdate != nullptr) {
      EXPECT_EQ(row.pfnUpdate(client.context), 0u);
      const auto lines = sim.TakeLines();
      ASSERT_FALSE(lines.empty());
      // The last request carries the firmware version and, where the
      // provider authenticates, accepted credentials.
      EXPECT_NE(lines.back().find("agent=\"IPCAM\""), std::string::npos) << lines.back();
      EXPECT_NE(lines.back().find("-> 200"), std::string::npos) << lines.back();
      EXPECT_EQ(lines.back().find("auth=bad"), std::string::npos) << lines.back();
    } else {
      // Only the rows without a provider have no update routine.
      EXPECT_TRUE(provider == 13 || provider == 14 || provider == 22 || provider == 32);
    }
    ASSERT_NE(row.pfnCheckIP, nullptr);
    std::strcpy(client->szCurrentIP, "0.0.0.0");
    EXPECT_EQ(row.pfnCheckIP(client.context), 0u);
    EXPECT_STREQ(client->szCurrentIP, "198.51.100.77");
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
    sim.TakeLines();
  }
}

// Runs chosen from the command line: check-IP pages without their marker,
// dyndns2 replies per path, a failing GnuDIP digest, HTTP statuses.
TEST(ProviderSim, CommandLineRepliesReachTheKeywordTables) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  ProviderSim sim;
  ASSERT_TRUE(sim.Start({"--no-marker", "--reply", "/nic/update=nochg 203.0.113.9", "--reply",
                         "/dyndns/update=badauth", "--gnudip-password", "other", "--status",
                         "/webclient/tzoperl.html=503", "--status", "/DynDNS/dyndns.cgi=500"}));
  struct Case {
    uint32_t provider;
    bool check_ip;
    uint32_t expected;
  };
  const Case cases[] = {
      {1, true, 0xFFFFFFFFu},  {3, true, 0xFFFFFFFFu},  {30, true, 0xFFFFFFFFu},
      {8, true, 0xFFFFFFFFu},  {1, false, 0x80020005u}, {31, false, 0x80020004u},
      {6, false, 0x8002000Cu}, {3, false, 0x80020006u}, {11, false, 0x80020006u},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("provider " + std::to_string(c.provider) + (c.check_ip ? " check-IP" : " update"));
    Client client;
    ASSERT_EQ(client.result, 0u);
    FillContext(client.context, c.provider);
    const DDNSServiceInfo &row = g_tDDNSServiceInfo[c.provider];
    EXPECT_EQ((c.check_ip ? row.pfnCheckIP : row.pfnUpdate)(client.context), c.expected);
    EXPECT_STREQ(client->szCurrentIP, "203.0.113.9");  // kept
  }
}

}  // namespace
