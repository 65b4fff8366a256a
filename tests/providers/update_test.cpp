// SPDX-License-Identifier: MIT
// The HTTP update routines: the exact request each provider number sends,
// the refusals that send nothing, and every reply keyword table.
#include <gtest/gtest.h>

#include <cstring>

#include "provider_world.h"
#include "testworld.h"

namespace {

using ddnstest::Client;
using provtest::ExpectedGet;
using provtest::HttpPeer;
using provtest::Reply;

constexpr char kCredentials[] = "dXNlcjpwYXNz";  // user:pass
constexpr char kServer[] = "ddns.configured.example";

// A body that every keyword table takes for success.
const std::string kSuccess =
    "good 203.0.113.9 200 SUCCESS TZO Name success Updating ip on ns.dhs.example: done";

void FillUpdateContext(DDNSClientContext *c, uint32_t provider) {
  c->dwServiceProvider = provider;
  c->dwNetworkTimeout = 5;
  std::strcpy(c->szHostName, "cam.example.net");
  std::strcpy(c->szUserName, "user");
  std::strcpy(c->szPassword, "pass");
  std::strcpy(c->szCurrentIP, "203.0.113.9");
}

// Every loopback port a provider listens on; the first request of each
// connection series is challenged for Basic credentials, so a routine that
// authenticates shows two requests (the second with Authorization) and one
// that does not shows the challenge's result.
class ProviderPorts {
 public:
  ProviderPorts() {
    for (uint16_t port : {80, 8245, 21333, 8008, 8888})
      peers_.emplace_back(new HttpPeer(port, [](const std::string &request, int) {
        if (request.find("Authorization: Basic ") == std::string::npos)
          return Reply("auth", "401 Unauthorized", "WWW-Authenticate: Basic realm=\"ddns\"\r\n");
        return Reply(kSuccess, "200 OK", "Http-Code-By: HGDDNS\r\n");
      }));
  }
  bool ok() const {
    for (const auto &p : peers_)
      if (!p->ok()) return false;
    return true;
  }
  // Requests per port since the last call, once every peer is idle.
  std::map<uint16_t, std::vector<std::string>> Requests() {
    std::map<uint16_t, std::vector<std::string>> all;
    const uint16_t ports[] = {80, 8245, 21333, 8008, 8888};
    for (size_t i = 0; i < peers_.size(); ++i) {
      peers_[i]->WaitIdle();
      auto r = peers_[i]->Take();
      if (!r.empty()) all[ports[i]] = r;
    }
    return all;
  }

 private:
  std::vector<std::unique_ptr<HttpPeer>> peers_;
};

struct RequestCase {
  const char *name;
  uint32_t provider;
  DDNSClientRoutine routine;
  uint32_t update_port_switch;
  const char *server;  // configured DDNS server
  const char *host;    // expected Host name
  uint16_t port;
  std::string path;
  bool authenticated;
  int attempts;  // requests without credentials (PCCW tries three times)
};

TEST(ProviderUpdate, EachProviderSendsItsRequest) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  ProviderPorts ports;
  ASSERT_TRUE(ports.ok());
  const std::string dyndns = "/nic/update?system=dyndns&hostname=cam.example.net&myip=203.0.113.9";
  const std::string custom = "/nic/update?system=custom&hostname=cam.example.net&myip=203.0.113.9";
  const std::string tzo =
      "/webclient/tzoperl.html?TZOName=cam.example.net&Email=user&TZOKey=pass&CType=3"
      "&IPAddress=203.0.113.9";
  const RequestCase cases[] = {
      {"DynDNS dynamic, port switch", 1, DDNSClient_Update_DynDNS, 1, kServer, "members.dyndns.org",
       8245, dyndns, true, 1},
      {"DynDNS dynamic", 1, DDNSClient_Update_DynDNS, 0, "", "members.dyndns.org", 80, dyndns, true,
       1},
      {"DynDNS custom, port switch", 2, DDNSClient_Update_DynDNS, 1, "", "members.dyndns.org", 8245,
       custom, true, 1},
      {"DynDNS custom", 2, DDNSClient_Update_DynDNS, 0, "", "members.dyndns.org", 80, custom, true,
       1},
      {"configured 10", 10, DDNSClient_Update_DynDNS, 1, kServer, kServer, 80, dyndns, true, 1},
      {"configured 26", 26, DDNSClient_Update_DynDNS, 1, kServer, kServer, 80, dyndns, true, 1},
      {"configured 27", 27, DDNSClient_Update_DynDNS, 1, kServer, kServer, 80, dyndns, true, 1},
      {"configured 29", 29, DDNSClient_Update_DynDNS, 1, kServer, kServer, 80, dyndns, true, 1},
      {"configured 34", 34, DDNSClient_Update_DynDNS, 1, kServer, kServer, 80, dyndns, true, 1},
      {"TZO, port switch", 3, DDNSClient_Update_TZO, 1, kServer, "rh.tzo.com", 21333, tzo, false,
       1},
      {"TZO", 3, DDNSClient_Update_TZO, 0, "", "rh.tzo.com", 80, tzo, false, 1},
      {"TZO protocol, configured", 36, DDNSClient_Update_TZO, 0, kServer, kServer, 80, tzo, false,
       1},
      {"TZO protocol, none configured", 36, DDNSClient_Update_TZO, 1, "", "rh.tzo.com", 21333, tzo,
       false, 1},
      {"DHS", 4, DDNSClient_Update_DHS, 1, "", "members.dhs.org", 80,
       "/nic/hosts?hostscmd=edit&hostscmdstage=2&type=4&domain=example.net&hostname=cam"
       "&updatetype=Online&ip=203.0.113.9&submit=Update",
       true, 1},
      {"DynamicDo", 8, DDNSClient_Update_DynamicDo, 1, "", "update.dynamicdo.example", 80,
       "/dnsupdate.php?dn=user&pw=pass&ip=203.0.113.9", false, 1},
      {"DynamicDo free", 21, DDNSClient_Update_DynamicDo, 1, "", "free.dynamicdo.example", 80,
       "/dnsupdate.php?dn=user&pw=pass&ip=203.0.113.9", false, 1},
      {"MyDNS", 9, DDNSClient_Update_MyDNS, 1, "", "www.mydns.jp", 80, "/login.html", true, 1},
      {"DP21", 11, DDNSClient_Update_DP21, 1, "", "ddns.dp21.example", 80, "/DynDNS/dyndns.cgi",
       true, 1},
      {"AtNetHome", 12, DDNSClient_Update_AtNetHome, 1, "", "ddns.atnethome.example", 80,
       "/DynDNS/dyndns.cgi", true, 1},
      {"NexusControl", 19, DDNSClient_Update_NexusControl, 1, "", "members.nexuscontrol.example",
       80,
       "/nic/update?system=dyndns&hostname=cam.example.net&myip=203.0.113.9&wildcard=NOCHG"
       "&mx=NOCHG&backmx=NOCHG",
       true, 1},
      {"PCCW", 23, DDNSClient_Update_PCCW, 1, kServer, kServer, 8008,
       "/pccw/update?host=cam.example.net&addr=203.0.113.9&username=user&password=pass", false, 3},
      {"Logitec", 28, DDNSClient_Update_Logitec, 1, "", "ddns.logitec.example", 80,
       "/ddns/nsupdate.php?myip=203.0.113.9", true, 1},
      {"Huagai", 30, DDNSClient_Update_Huagai, 1, "", "www.huagai.example", 80,
       "/services/dyndns/?username=user&password=pass&hostname=cam&zonename=example.net"
       "&ip2=203.0.113.9",
       false, 1},
      {"3322", 31, DDNSClient_Update_3322, 1, "", "members.3322.org", 80,
       "/dyndns/update?hostname=cam.example.net&myip=203.0.113.9", true, 1},
      {"ChangeIP", 33, DDNSClient_Update_ChangeIP, 1, "", "nic.changeip.com", 80,
       "/nic/update?&system=custom&hostname=cam.example.net&myip=203.0.113.9", true, 1},
      {"Swisscom", 35, DDNSClient_Update_SWISSCOM, 1, "", "ddns.home-monitor.example", 80,
       "/nic/update?hostname=cam.example.net&myip=203.0.113.9&wildcard=nochg&mx=nochg"
       "&backmx=nochg&offline=no",
       true, 1},
  };
  for (const RequestCase &c : cases) {
    SCOPED_TRACE(c.name);
    Client client;
    ASSERT_EQ(client.result, 0u);
    FillUpdateContext(client.context, c.provider);
    client->dwUpdatePortSwitch = c.update_port_switch;
    std::strcpy(client->szDDNSServerName, c.server);
    client->wUpdatePort = 8008;
    client->wCheckIPPort = 8888;
    std::strcpy(client->szProviderText1, "/pccw/ip");
    std::strcpy(client->szProviderText2, "/pccw/update");
    ASSERT_EQ(g_tDDNSServiceInfo[c.provider].pfnUpdate, c.routine);
    const int fds = nrtest::CountOpenFds();
    EXPECT_EQ(c.routine(client.context), c.authenticated ? 0u : 0x80020004u);
    const auto requests = ports.Requests();
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests.begin()->first, c.port);
    const auto &sent = requests.begin()->second;
    std::vector<std::string> expected(c.attempts, ExpectedGet(c.path, c.host, c.port));
    if (c.authenticated)
      expected.push_back(ExpectedGet(c.path, c.host, c.port, "IPCAM", kCredentials));
    EXPECT_EQ(sent, expected);
  }
}

// The request is composed in 256 bytes: a longer one goes out cut at 255.
TEST(ProviderUpdate, ALongRequestIsCutAt255Characters) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  HttpPeer tzo(80, [](const std::string &, int) { return Reply("TZO Name ok"); });
  ASSERT_TRUE(tzo.ok());
  Client client;
  ASSERT_EQ(client.result, 0u);
  FillUpdateContext(client.context, 3);
  client->dwUpdatePortSwitch = 0;
  const std::string name = std::string(115, 'n') + ".example.net";  // 127 characters
  const std::string email = std::string(60, 'e') + "@x";
  const std::string key(63, 'k');
  std::strcpy(client->szHostName, name.c_str());
  std::strcpy(client->szUserName, email.c_str());
  std::strcpy(client->szPassword, key.c_str());
  EXPECT_EQ(DDNSClient_Update_TZO(client.context), 0u);
  const std::string full = "/webclient/tzoperl.html?TZOName=" + name + "&Email=" + email +
                           "&TZOKey=" + key + "&CType=3&IPAddress=203.0.113.9";
  ASSERT_GT(full.size(), 255u);
  ASSERT_TRUE(tzo.WaitIdle());
  ASSERT_EQ(tzo.requests().size(), 1u);
  EXPECT_EQ(tzo.requests()[0], ExpectedGet(full.substr(0, 255), "rh.tzo.com", 80));
}

// Wrong provider numbers, incomplete PCCW settings and host names that do
// not split into a first label of 95 and a domain of 31 characters: refused
// with their message before any request.
TEST(ProviderUpdate, RefusalsSendNothing) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  ProviderPorts ports;
  ASSERT_TRUE(ports.ok());
  struct Case {
    const char *name;
    DDNSClientRoutine routine;
    uint32_t provider;
    std::string host_name;
    uint32_t expected;
    const char *message;  // standard output, exactly
  };
  const std::string label95(95, 'a'), label96(96, 'a'), domain31 = std::string(27, 'd') + ".net",
                                                        domain32 = std::string(28, 'd') + ".net";
  const Case cases[] = {
      {"DynDNS for TZO", DDNSClient_Update_DynDNS, 3, "cam.example.net", 0x80010006u,
       "[DDNSClient_Update_DynDNS] Invalid service provider: 3\r\n"},
      {"DynamicDo for 9", DDNSClient_Update_DynamicDo, 9, "cam.example.net", 0x80010006u,
       "[DDNSClient_Update_DynamicDo] Invalid service provider: 9\r\n"},
      {"Logitec for 1", DDNSClient_Update_Logitec, 1, "cam.example.net", 0x80010006u,
       "[DDNSClient_Update_Logitec] Invalid service provider: 1\r\n"},
      {"Huagai for 1", DDNSClient_Update_Huagai, 1, "cam.example.net", 0x80010006u,
       "[DDNSClient_Update_Huagai] Invalid service provider: 1\r\n"},
      {"3322 for 1", DDNSClient_Update_3322, 1, "cam.example.net", 0x80010006u,
       "[DDNSClient_Update_3322] Invalid service provider: 1\r\n"},
      {"ChangeIP for 1", DDNSClient_Update_ChangeIP, 1, "cam.example.net", 0x80010006u,
       "[DDNSClient_Update_ChangeIP] Invalid service provider: 1\r\n"},
      {"Swisscom for 1", DDNSClient_Update_SWISSCOM, 1, "cam.example.net", 0x80010006u, ""},
      {"PCCW without settings", DDNSClient_Update_PCCW, 23, "cam.example.net", 0x80010006u,
       "[DDNSClient_Update_PCCW] Invalid arguments\r\n"},
      {"DHS without a dot", DDNSClient_Update_DHS, 4, "camera", 0x80010006u,
       "[DDNSClient_Update_DHS] extract domain failed\r\n"},
      {"DHS label of 96", DDNSClient_Update_DHS, 4, label96 + ".net", 0x80010006u,
       "[DDNSClient_Update_DHS] extract domain failed\r\n"},
      {"DHS domain of 32", DDNSClient_Update_DHS, 4, "cam." + domain32, 0x80010006u,
       "[DDNSClient_Update_DHS] extract domain failed\r\n"},
      {"Huagai empty name", DDNSClient_Update_Huagai, 30, "", 0xFFFFFFFFu,
       "[DDNSClient_Update_Huagai] extract domain failed\r\n"},
      {"Huagai without a dot", DDNSClient_Update_Huagai, 30, "camera", 0xFFFFFFFFu,
       "[DDNSClient_Update_Huagai] extract domain failed\r\n"},
      {"Huagai label of 96", DDNSClient_Update_Huagai, 30, label96 + ".net", 0x80010006u,
       "[DDNSClient_Update_Huagai] extract domain failed\r\n"},
      {"Huagai domain of 32", DDNSClient_Update_Huagai, 30, "cam." + domain32, 0x80010006u,
       "[DDNSClient_Update_Huagai] extract domain failed\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Client client;
    ASSERT_EQ(client.result, 0u);
    FillUpdateContext(client.context, c.provider);
    std::strcpy(client->szHostName, c.host_name.c_str());
    testing::internal::CaptureStdout();
    const uint32_t result = c.routine(client.context);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(out, c.message);
  }
  EXPECT_TRUE(ports.Requests().empty());

  // The longest parts that fit travel whole.
  Client client;
  ASSERT_EQ(client.result, 0u);
  FillUpdateContext(client.context, 4);
  std::strcpy(client->szHostName, (label95 + "." + domain31).c_str());
  EXPECT_EQ(DDNSClient_Update_DHS(client.context), 0u);
  const auto requests = ports.Requests();
  ASSERT_EQ(requests.count(80), 1u);
  EXPECT_NE(requests.at(80).back().find("&domain=" + domain31 + "&hostname=" + label95 + "&"),
            std::string::npos);
}

struct ReplyCase {
  const char *table;
  uint32_t (*judge)(DDNSClientContext *);
  const char *body;
  uint32_t expected;
};

TEST(ProviderReplies, KeywordTablesJudgeTheBodyInTableOrder) {
  const ReplyCase cases[] = {
      // DynDNS: every keyword, and the orders that matter.
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "good 1.2.3.4", 0u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "badauth but good", 0u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "badauth", 0x80020004u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "!donator", 0x80020004u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "bad username", 0x80020004u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "notfqdn", 0x80020001u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "nohost", 0x80020001u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "!yours", 0x80020001u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "numhost", 0x80020001u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "nochg 203.0.113.9", 0x80020005u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "abuse", 0x80020007u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "badagent", 0x8002000Fu},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "badsys", 0x8002000Eu},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "dnserr", 0x80020006u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "911", 0x80020006u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "nochg numhost", 0x80020001u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "Good", 0x8002000Du},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "", 0x8002000Du},
      // NexusControl: DynDNS without "bad username".
      {"NexusControl", DDNSClient_ProcessResponse_NexusControl, "good", 0u},
      {"NexusControl", DDNSClient_ProcessResponse_NexusControl, "bad username", 0x8002000Du},
      {"NexusControl", DDNSClient_ProcessResponse_NexusControl, "!donator", 0x80020004u},
      {"NexusControl", DDNSClient_ProcessResponse_NexusControl, "numhost", 0x80020001u},
      {"NexusControl", DDNSClient_ProcessResponse_NexusControl, "nochg", 0x80020005u},
      {"NexusControl", DDNSClient_ProcessResponse_NexusControl, "911", 0x80020006u},
      // Huagai.
      {"Huagai", DDNSClient_ProcessResponse_Huagai, "good", 0u},
      {"Huagai", DDNSClient_ProcessResponse_Huagai, "badauth", 0x80020004u},
      {"Huagai", DDNSClient_ProcessResponse_Huagai, "!donator", 0x80020004u},
      {"Huagai", DDNSClient_ProcessResponse_Huagai, "!your", 0x80020001u},
      {"Huagai", DDNSClient_ProcessResponse_Huagai, "abuse", 0x80020007u},
      {"Huagai", DDNSClient_ProcessResponse_Huagai, "!active", 0x80020017u},
      {"Huagai", DDNSClient_ProcessResponse_Huagai, "sorry", 0x80020016u},
      {"Huagai", DDNSClient_ProcessResponse_Huagai, "nochg", 0x8002000Du},
      // Logitec, 3322, ChangeIP.
      {"Logitec", DDNSClient_ProcessResponse_Logitec, "good", 0u},
      {"Logitec", DDNSClient_ProcessResponse_Logitec, "badauth", 0x80020004u},
      {"Logitec", DDNSClient_ProcessResponse_Logitec, "nochg", 0x80020005u},
      {"Logitec", DDNSClient_ProcessResponse_Logitec, "911", 0x80020006u},
      {"Logitec", DDNSClient_ProcessResponse_Logitec, "nohost", 0x8002000Du},
      {"3322", DDNSClient_ProcessResponse_3322, "good", 0u},
      {"3322", DDNSClient_ProcessResponse_3322, "badauth", 0x80020004u},
      {"3322", DDNSClient_ProcessResponse_3322, "nohost", 0x80020001u},
      {"3322", DDNSClient_ProcessResponse_3322, "nochg 203.0.113.9", 0x80020005u},
      {"3322", DDNSClient_ProcessResponse_3322, "911", 0x80020006u},
      {"ChangeIP", DDNSClient_ProcessResponse_ChangeIP, "Successful Update 200", 0u},
      {"ChangeIP", DDNSClient_ProcessResponse_ChangeIP, "401 Access Denied", 0x80020004u},
      {"ChangeIP", DDNSClient_ProcessResponse_ChangeIP, "code 401 then 200", 0u},
      {"ChangeIP", DDNSClient_ProcessResponse_ChangeIP, "good", 0x8002000Du},
      // Numbers inside other numbers do not count.
      {"ChangeIP", DDNSClient_ProcessResponse_ChangeIP, "Error 401 Unauthorized (request 7200)",
       0x80020004u},
      {"ChangeIP", DDNSClient_ProcessResponse_ChangeIP, "request 7200 took 2001 ms", 0x8002000Du},
      {"ChangeIP", DDNSClient_ProcessResponse_ChangeIP, "(200)", 0u},
      // A keyword glued to a letter or digit before it is not that keyword;
      // one followed by more letters still is (a prefix).
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "nogood", 0x8002000Du},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "2nochg", 0x8002000Du},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "goodness", 0u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "\ngood 203.0.113.9", 0u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "xgood nochg", 0x80020005u},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "9113", 0x8002000Du},
      {"DynDNS", DDNSClient_ProcessResponse_DynDNS, "code=911", 0x80020006u},
      {"PCCW", DDNSClient_ProcessResponse_PCCW, "unsuccessful", 0x8002000Du},
      // DHS.
      {"DHS", DDNSClient_ProcessResponse_DHS, "<p>Updating ip on ns.dhs.example: done</p>", 0u},
      {"DHS", DDNSClient_ProcessResponse_DHS, "Updating ip on other.example: done", 0x8002000Du},
      {"DHS", DDNSClient_ProcessResponse_DHS, "The update has already been done previously",
       0x80020005u},
      {"DHS", DDNSClient_ProcessResponse_DHS,
       "The hostname specified does not exist. The hostname specified does not belong to you",
       0x80020001u},
      {"DHS", DDNSClient_ProcessResponse_DHS, "The hostname specified does not exist.",
       0x8002000Du},
      // DynamicDo.
      {"DynamicDo", DDNSClient_ProcessResponse_DynamicDo, "SUCCESS", 0u},
      {"DynamicDo", DDNSClient_ProcessResponse_DynamicDo, "FAIL", 0x8002000Cu},
      {"DynamicDo", DDNSClient_ProcessResponse_DynamicDo, "success", 0x8002000Du},
      // TZO.
      {"TZO", DDNSClient_ProcessResponse_TZO, "TZO Name: cam", 0u},
      {"TZO", DDNSClient_ProcessResponse_TZO, "Error=bad authentication", 0x80020002u},
      {"TZO", DDNSClient_ProcessResponse_TZO, "Error=Host Blocked", 0x8002000Cu},
      {"TZO", DDNSClient_ProcessResponse_TZO, "Error=Try again later", 0x80020008u},
      // PCCW: the cause counts only after the failure.
      {"PCCW", DDNSClient_ProcessResponse_PCCW, "<r>success</r>", 0u},
      {"PCCW", DDNSClient_ProcessResponse_PCCW, "auth-fail", 0x80020004u},
      {"PCCW", DDNSClient_ProcessResponse_PCCW, "update-fail<cause>Host unknown</cause>",
       0x80020001u},
      {"PCCW", DDNSClient_ProcessResponse_PCCW, "update-fail", 0x8002000Du},
      {"PCCW", DDNSClient_ProcessResponse_PCCW, "<cause>Host</cause> update-fail", 0x8002000Du},
      {"PCCW", DDNSClient_ProcessResponse_PCCW, "update-fail<cause>Other</cause>", 0x8002000Du},
  };
  Client client;
  ASSERT_EQ(client.result, 0u);
  for (const ReplyCase &c : cases) {
    SCOPED_TRACE(std::string(c.table) + ": \"" + c.body + "\"");
    std::memset(client->szResponse, 0, sizeof client->szResponse);
    std::strcpy(client->szResponse, c.body);
    EXPECT_EQ(c.judge(client.context), c.expected);
  }
}

// Only TZO prints a body it does not understand.
TEST(ProviderReplies, UnknownBodiesAndMissingContexts) {
  Client client;
  ASSERT_EQ(client.result, 0u);
  std::strcpy(client->szResponse, "Error=Something new");
  testing::internal::CaptureStdout();
  EXPECT_EQ(DDNSClient_ProcessResponse_TZO(client.context), 0x8002000Du);
  EXPECT_EQ(DDNSClient_ProcessResponse_DynDNS(client.context), 0x8002000Du);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[DDNSClient_ProcessResponse_TZO] Error=Something new\r\n");
  // What the server sent is shown, never played on the terminal.
  std::strcpy(client->szResponse, "Error\x1b[2J\r\nforged line\x7f");
  testing::internal::CaptureStdout();
  EXPECT_EQ(DDNSClient_ProcessResponse_TZO(client.context), 0x8002000Du);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[DDNSClient_ProcessResponse_TZO] Error\\x1b[2J\\x0d\\x0aforged line\\x7f\r\n");

  uint32_t (*const judges[])(DDNSClientContext *) = {
      DDNSClient_ProcessResponse_DynDNS,
      DDNSClient_ProcessResponse_NexusControl,
      DDNSClient_ProcessResponse_Huagai,
      DDNSClient_ProcessResponse_Logitec,
      DDNSClient_ProcessResponse_3322,
      DDNSClient_ProcessResponse_ChangeIP,
      DDNSClient_ProcessResponse_DHS,
      DDNSClient_ProcessResponse_DynamicDo,
      DDNSClient_ProcessResponse_TZO,
      DDNSClient_ProcessResponse_PCCW,
      DDNSClient_Update_DynDNS,
      DDNSClient_Update_TZO,
      DDNSClient_Update_DHS,
      DDNSClient_Update_DynamicDo,
      DDNSClient_Update_MyDNS,
      DDNSClient_Update_DP21,
      DDNSClient_Update_AtNetHome,
      DDNSClient_Update_NexusControl,
      DDNSClient_Update_PCCW,
      DDNSClient_Update_Logitec,
      DDNSClient_Update_Huagai,
      DDNSClient_Update_3322,
      DDNSClient_Update_ChangeIP,
      DDNSClient_Update_SWISSCOM,
  };
  for (auto judge : judges) EXPECT_EQ(judge(nullptr), 0x80010006u);
}

}  // namespace

namespace {

// PCCW tries its update three times: a refusal each time is returned after
// the third, a success ends the attempts at once.
TEST(ProviderUpdate, PCCWMakesUpToThreeAttempts) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  struct Case {
    const char *name;
    std::vector<std::string> bodies;  // per attempt
    uint32_t expected;
    size_t attempts;
  };
  const Case cases[] = {
      {"auth-fail", {"auth-fail", "auth-fail", "auth-fail"}, 0x80020004u, 3},
      {"fail then success", {"update-fail", "<r>success</r>", "x"}, 0u, 2},
      {"unknown host, then unknown, then empty",
       {"update-fail<cause>Host", "update-fail", ""},
       0x80020010u,
       3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    HttpPeer peer(8008, [&](const std::string &, int n) { return Reply(c.bodies[(n - 1) % 3]); });
    ASSERT_TRUE(peer.ok());
    Client client;
    ASSERT_EQ(client.result, 0u);
    FillUpdateContext(client.context, 23);
    std::strcpy(client->szDDNSServerName, kServer);
    client->wUpdatePort = 8008;
    client->wCheckIPPort = 8888;
    std::strcpy(client->szProviderText1, "/ip");
    std::strcpy(client->szProviderText2, "/up");
    const int fds = nrtest::CountOpenFds();
    EXPECT_EQ(DDNSClient_Update_PCCW(client.context), c.expected);
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
    EXPECT_EQ(peer.requests().size(), c.attempts);
  }
}

}  // namespace
