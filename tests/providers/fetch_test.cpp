// SPDX-License-Identifier: MIT
// The provider fetch: request records, HTTP codes as DDNS codes, one GET
// into the response buffer, the Huagai retry loop and the check-IP fetch
// with its rotation over the four general routines.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "http_peers.h"
#include "provider_internal.h"
#include "provider_world.h"
#include "testworld.h"

namespace {

using ddnstest::Client;
using provtest::ExpectedGet;
using provtest::HttpPeer;
using provtest::Reply;

TEST(ProviderFetch, MapHTTPErrorCoversStatus400To503RefusalsAndNothingElse) {
  struct Case {
    uint32_t http;
    uint32_t ddns;
  };
  const Case cases[] = {
      {0x80010111u, 0x80020019u},
      {0x80010112u, 0x80020004u},
      {0x80010113u, 0x80020010u},
      {0x80010114u, 0x80020010u},
      {0x80010115u, 0x8002000Du},
      {0x80010116u, 0x80020010u},
      {0x8001011Du, 0x80020010u},
      {0x8001011Eu, 0x8002000Du},
      {0x8001011Fu, 0x80020010u},
      {0x80010122u, 0x80020010u},
      {0x80010123u, 0x80020006u},
      {0x80010124u, 0x80020010u},
      {0x80010125u, 0x80020010u},
      {0x80010126u, 0x80020006u},
      // The client's refusals: unsafe text, and TLS ones by kind.
      {HTTPCLIENT_E_UNSAFE_TEXT, DDNSCLIENT_E_INVALID_ARGS},
      {HTTPCLIENT_E_TLS_NOT_BUILT, DDNSCLIENT_E_TLS_NOT_BUILT},
      {HTTPCLIENT_E_TLS_HANDSHAKE, DDNSCLIENT_E_TLS},
      {HTTPCLIENT_E_TLS_CERT_EXPIRED, DDNSCLIENT_E_CERT_EXPIRED},
      // Outside the table.
      {0x80010110u, 0x80020010u},
      {0x80010127u, 0x80020010u},
      {0x80010100u, 0x80020010u},
      {0x8001001Du, 0x80020010u},
      {0u, 0x80020010u},
      {0xFFFFFFFFu, 0x80020010u},
  };
  for (const Case &c : cases)
    EXPECT_EQ(DDNSClient_MapHTTPError(c.http), c.ddns) << std::hex << c.http;
}

TEST(ProviderFetch, MakeUpHTTPClientInfoFillsTheRecordAndRefusesWhatItCannotHold) {
  HTTPClientInfo info;
  std::memset(&info, 0x5A, sizeof info);
  char buffer[16];
  ASSERT_EQ(DDNSClient_MakeUpHTTPClientInfo(&info, "members.example", 8245, "/nic/update?x=1",
                                            "IPCAM", 7, buffer, sizeof buffer),
            0u);
  EXPECT_STREQ(info.tServer.szHost, "members.example");
  EXPECT_EQ(info.tServer.dwPort, 8245u);
  EXPECT_STREQ(info.szURI, "/nic/update?x=1");
  EXPECT_STREQ(info.szUserAgent, "IPCAM");
  EXPECT_EQ(info.pRecvBuffer, buffer);
  EXPECT_EQ(info.dwRecvSize, sizeof buffer);
  EXPECT_EQ(info.dwTotalTimeout, 7000000u);
  EXPECT_EQ(info.tServer.szUser[0], '\0');  // the rest is zeroed
  EXPECT_EQ(info.dwUseProxy, 0u);
  EXPECT_EQ(info.szExtraHeader[0], '\0');

  // A 33-character User-Agent is cut to 32; a 33-character host is refused.
  const std::string long_agent(33, 'a');
  ASSERT_EQ(DDNSClient_MakeUpHTTPClientInfo(&info, "h", 80, "/", long_agent.c_str(), 1, buffer,
                                            sizeof buffer),
            0u);
  EXPECT_EQ(std::string(info.szUserAgent), long_agent.substr(0, 32));
  EXPECT_EQ(DDNSClient_MakeUpHTTPClientInfo(&info, std::string(33, 'h').c_str(), 80, "/", "a", 1,
                                            buffer, sizeof buffer),
            0x80010006u);
  EXPECT_EQ(DDNSClient_MakeUpHTTPClientInfo(nullptr, "h", 80, "/", "a", 1, buffer, sizeof buffer),
            0x80010006u);
}

TEST(ProviderFetch, ArgumentChecksSendNothing) {
  Client client;
  ASSERT_EQ(client.result, 0u);
  DDNSClientContext *c = client.context;
  EXPECT_EQ(DDNSClient_Communicate(nullptr, "h", 80, "/", 1, 0, "a"), 0x80010006u);
  EXPECT_EQ(DDNSClient_Communicate(c, "", 80, "/", 1, 0, "a"), 0x80010006u);
  EXPECT_EQ(DDNSClient_Communicate(c, "h", 80, "", 1, 0, "a"), 0x80010006u);
  EXPECT_EQ(DDNSClient_HuagaiCommunicate(c, "h", 80, "", 1, 0, "a"), 0x80010006u);
  EXPECT_EQ(DDNSClient_UpdateRoutine(c, "h", 80, "/", 0, nullptr), 0x80010006u);
  EXPECT_EQ(DDNSClient_CheckIPRoutine(c, nullptr, 80, "/", nullptr, "a"), 0x80010006u);
  EXPECT_EQ(DDNSClient_CheckIP_General(nullptr), 0x80010006u);
  EXPECT_EQ(DDNSClient_CheckIP_DynDNS(nullptr), 0x80010006u);
  EXPECT_EQ(DDNSClient_CheckIP_SWISSCOM(nullptr), 0x80010006u);
  EXPECT_EQ(DDNSClient_CheckIP_PCCW(c), 0x80010006u);  // no PCCW settings
}

// One GET against a loopback peer by its dotted address: the request bytes,
// the body in the response buffer, and the result for each kind of reply.
TEST(ProviderFetch, CommunicateSendsOneGetAndJudgesTheReply) {
  NAMREG_REQUIRE_SANDBOX();
  struct Case {
    const char *name;
    std::string reply;
    uint32_t expected;
    const char *body;  // null: not looked at
  };
  const Case cases[] = {
      {"body", Reply("good 10.0.0.1"), 0u, "good 10.0.0.1"},
      {"empty body", Reply(""), 0x80020010u, ""},
      {"400", Reply("x", "400 Bad Request"), 0x80020019u, nullptr},
      {"403", Reply("x", "403 Forbidden"), 0x80020010u, nullptr},
      {"404", Reply("x", "404 Not Found"), 0x8002000Du, nullptr},
      {"500", Reply("x", "500 Internal Server Error"), 0x80020006u, nullptr},
      {"503", Reply("x", "503 Service Unavailable"), 0x80020006u, nullptr},
      {"401 without credentials",
       Reply("x", "401 Unauthorized", "WWW-Authenticate: Basic realm=\"r\"\r\n"), 0x80020004u,
       nullptr},
  };
  Client client;
  ASSERT_EQ(client.result, 0u);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    HttpPeer peer(18080, [&](const std::string &, int) { return c.reply; });
    ASSERT_TRUE(peer.ok());
    const int fds = nrtest::CountOpenFds();
    EXPECT_EQ(
        DDNSClient_Communicate(client.context, "127.0.0.1", 18080, "/ip?a=1", 5, 0, "CAM/1.0"),
        c.expected);
    if (c.body != nullptr) {
      EXPECT_STREQ(client->szResponse, c.body);
    }
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0], ExpectedGet("/ip?a=1", "127.0.0.1", 18080, "CAM/1.0"));
  }
}

// With the authentication flag the context's user name and password answer
// the server's Basic challenge; without it they are never sent.
TEST(ProviderFetch, CredentialsTravelOnlyWithTheAuthenticationFlag) {
  NAMREG_REQUIRE_SANDBOX();
  Client client;
  ASSERT_EQ(client.result, 0u);
  std::strcpy(client->szUserName, "user");
  std::strcpy(client->szPassword, "pass");
  HttpPeer peer(18081, [](const std::string &request, int) {
    if (request.find("Authorization: Basic dXNlcjpwYXNz\r\n") != std::string::npos)
      return Reply("good");
    return Reply("no", "401 Unauthorized", "WWW-Authenticate: Basic realm=\"r\"\r\n");
  });
  ASSERT_TRUE(peer.ok());
  EXPECT_EQ(DDNSClient_Communicate(client.context, "127.0.0.1", 18081, "/u", 5, 1, "IPCAM"), 0u);
  EXPECT_STREQ(client->szResponse, "good");
  EXPECT_EQ(DDNSClient_Communicate(client.context, "127.0.0.1", 18081, "/u", 5, 0, "IPCAM"),
            0x80020004u);
  ASSERT_TRUE(peer.WaitIdle());
  const auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], ExpectedGet("/u", "127.0.0.1", 18081));
  EXPECT_EQ(requests[1], ExpectedGet("/u", "127.0.0.1", 18081, "IPCAM", "dXNlcjpwYXNz"));
  EXPECT_EQ(requests[2], ExpectedGet("/u", "127.0.0.1", 18081));
}

// A server that never names itself genuine is asked again every 3 seconds
// until the budget is used up; one that does ends the loop at once.
TEST(ProviderFetch, HuagaiAsksAgainUntilTheBudgetEnds) {
  NAMREG_REQUIRE_SANDBOX();
  Client client;
  ASSERT_EQ(client.result, 0u);
  {
    HttpPeer fake(18082, [](const std::string &, int) { return Reply("good"); });
    ASSERT_TRUE(fake.ok());
    const int fds = nrtest::CountOpenFds();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DDNSClient_HuagaiCommunicate(client.context, "127.0.0.1", 18082, "/h", 5, 0, "a"),
              0x80020018u);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The budget bounds the whole loop, pauses included.
    EXPECT_GE(seconds, 4.9);
    EXPECT_LT(seconds, 6.5);
    ASSERT_TRUE(fake.WaitIdle());
    EXPECT_EQ(fake.requests().size(), 2u);  // near 0 s and 3 s
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
  }
  HttpPeer genuine(18083, [](const std::string &, int n) {
    return Reply("good", "200 OK", n == 1 ? "" : "Http-Code-By: HGDDNS\r\n");
  });
  ASSERT_TRUE(genuine.ok());
  EXPECT_EQ(DDNSClient_HuagaiCommunicate(client.context, "127.0.0.1", 18083, "/h", 10, 0, "a"), 0u);
  ASSERT_TRUE(genuine.WaitIdle());
  EXPECT_EQ(genuine.requests().size(), 2u);
}

// The general rotation: each slot fetches its provider's page on its port,
// takes the address after the marker, and the slot wraps from 3 to 0.
TEST(ProviderFetch, CheckIPGeneralRotatesOverFourProviders) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  HttpPeer noip(8245, [](const std::string &request, int) {
    return Reply(request.find("Host: ip1.dynupdate.no-ip.com") != std::string::npos
                     ? "203.0.113.10"
                     : "<html>Current IP Address: 203.0.113.12</html>");
  });
  HttpPeer dnspark(8888, [](const std::string &, int) {
    return Reply("<b>Current Address:</b> 203.0.113.11\r\n");
  });
  HttpPeer tzo(21333, [](const std::string &, int) { return Reply("IPAddress: 203.0.113.13"); });
  ASSERT_TRUE(noip.ok() && dnspark.ok() && tzo.ok());
  Client client;
  ASSERT_EQ(client.result, 0u);
  client->dwNetworkTimeout = 5;
  client->dwCheckIPSlot = 3;
  const int fds = nrtest::CountOpenFds();
  const char *expected[] = {"203.0.113.13", "203.0.113.10", "203.0.113.11", "203.0.113.12",
                            "203.0.113.13"};
  for (const char *address : expected) {
    EXPECT_EQ(DDNSClient_CheckIP_General(client.context), 0u);
    EXPECT_STREQ(client->szCurrentIP, address);
  }
  EXPECT_EQ(client->dwCheckIPSlot, 0u);
  ASSERT_TRUE(noip.WaitIdle() && dnspark.WaitIdle() && tzo.WaitIdle());
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
  const auto n = noip.requests();
  ASSERT_EQ(n.size(), 2u);
  EXPECT_EQ(n[0], ExpectedGet("/ip.php", "ip1.dynupdate.no-ip.com", 8245));
  EXPECT_EQ(n[1], ExpectedGet("/", "checkip.dyndns.org", 8245));
  EXPECT_EQ(dnspark.requests().at(0), ExpectedGet("/", "ipdetect.dnspark.com", 8888));
  EXPECT_EQ(tzo.requests().at(0), ExpectedGet("/", "echo.tzo.com", 21333));
}

// A page without an address (or with a malformed one) keeps the previous
// address; the port switch 0 uses port 80.
TEST(ProviderFetch, CheckIPWithoutAnAddressKeepsThePreviousOne) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  const char *pages[] = {"Current IP Address: none", "no marker 203.0.113.5",
                         "Current IP Address: 1.2.3", "Current IP Address: 300.1.1.1"};
  HttpPeer web(80, [&](const std::string &, int n) { return Reply(pages[(n - 1) % 4]); });
  ASSERT_TRUE(web.ok());
  Client client;
  ASSERT_EQ(client.result, 0u);
  client->dwNetworkTimeout = 5;
  client->dwCheckIPPortSwitch = 0;
  std::strcpy(client->szCurrentIP, "198.51.100.7");
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(pages[i]);
    EXPECT_EQ(DDNSClient_CheckIP_DynDNS(client.context), 0xFFFFFFFFu);
    EXPECT_STREQ(client->szCurrentIP, "198.51.100.7");
  }
  ASSERT_TRUE(web.WaitIdle());
  EXPECT_EQ(web.requests().at(0), ExpectedGet("/", "checkip.dyndns.org", 80));
}

}  // namespace

namespace {

// A real web server behind the configured-server name: its 401 for wrong
// Basic credentials, its 404 for a missing update script, and a page.
TEST(ProviderFetchApache, RealStatusesMapToDDNSCodes) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  std::string dir, error;
  auto apache = nrtest::StartApache(&dir, &error, 80);
  ASSERT_TRUE(apache) << error;
  Client client;
  ASSERT_EQ(client.result, 0u);
  client->dwServiceProvider = 10;
  client->dwNetworkTimeout = 5;
  std::strcpy(client->szDDNSServerName, "ddns.configured.example");
  std::strcpy(client->szHostName, "cam.example.net");
  std::strcpy(client->szUserName, "camera");
  std::strcpy(client->szPassword, "wrong");
  std::strcpy(client->szCurrentIP, "203.0.113.9");
  const int fds = nrtest::CountOpenFds();
  EXPECT_EQ(DDNSClient_UpdateRoutine(client.context, client->szDDNSServerName, 80,
                                     "/basic/page.html", 1, "IPCAM"),
            0x80020004u);
  EXPECT_EQ(DDNSClient_Update_DynDNS(client.context), 0x8002000Du);  // no /nic/update there
  EXPECT_EQ(DDNSClient_UpdateRoutine(client.context, client->szDDNSServerName, 80, "/page.html", 1,
                                     "IPCAM"),
            0u);
  EXPECT_EQ(std::string(client->szResponse), nrtest::ApachePage());
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
  // The challenge was answered with the wrong credentials (the HTTP client
  // tries three times), then given up.
  const std::string log = nrtest::WaitForFileText(dir + "/access.log", "GET /page.html", 3000);
  const std::string refused = "GET /basic/page.html HTTP/1.1|ddns.configured.example|401\n";
  size_t count = 0;
  for (size_t at = log.find(refused); at != std::string::npos; at = log.find(refused, at + 1))
    ++count;
  EXPECT_EQ(count, 4u) << log;
  EXPECT_NE(log.find("GET /nic/update?system=dyndns&hostname=cam.example.net&myip=203.0.113.9 "
                     "HTTP/1.1|ddns.configured.example|404\n"),
            std::string::npos)
      << log;
}

}  // namespace

namespace {

// Every check-IP routine: its host, port (by the check-IP port switch) and
// path reach the provider exactly.
TEST(ProviderCheckIP, EachRoutineAsksItsHostPortAndPath) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  std::vector<std::unique_ptr<HttpPeer>> peers;
  const uint16_t ports[] = {80, 8245, 8888, 21333, 8008};
  for (uint16_t port : ports)
    peers.emplace_back(new HttpPeer(port, [](const std::string &, int) {
      return Reply(
          "Current IP Address: 203.0.113.1 Current Address: 203.0.113.1 "
          "IPAddress: 203.0.113.1 REMOTE_ADDR: 203.0.113.1");
    }));
  for (const auto &p : peers) ASSERT_TRUE(p->ok());
  struct Case {
    const char *name;
    DDNSClientRoutine routine;
    uint32_t port_switch;
    const char *host;
    uint16_t port;
    const char *path;
  };
  const Case cases[] = {
      {"NoIP", DDNSClient_CheckIP_NoIP, 1, "ip1.dynupdate.no-ip.com", 8245, "/ip.php"},
      {"NoIP", DDNSClient_CheckIP_NoIP, 0, "ip1.dynupdate.no-ip.com", 80, "/ip.php"},
      {"DNSPark", DDNSClient_CheckIP_DNSPark, 1, "ipdetect.dnspark.com", 8888, "/"},
      {"DNSPark", DDNSClient_CheckIP_DNSPark, 0, "ipdetect.dnspark.com", 80, "/"},
      {"DynDNS", DDNSClient_CheckIP_DynDNS, 1, "checkip.dyndns.org", 8245, "/"},
      {"TZO", DDNSClient_CheckIP_TZO, 1, "echo.tzo.com", 21333, "/"},
      {"TZO", DDNSClient_CheckIP_TZO, 0, "echo.tzo.com", 80, "/"},
      {"Huagai", DDNSClient_CheckIP_Huagai, 1, "www.huagai.example", 8008, "/myip/"},
      {"Huagai", DDNSClient_CheckIP_Huagai, 0, "www.huagai.example", 80, "/myip/"},
      {"ChangeIP", DDNSClient_CheckIP_ChangeIP, 1, "ip.changeip.com", 8245, "/"},
      {"Swisscom", DDNSClient_CheckIP_SWISSCOM, 1, "checkip.home-monitor.example", 8245,
       "/?mac=024D52A1B2C3&ip=192.168.1.20&port=8080"},
      {"Swisscom", DDNSClient_CheckIP_SWISSCOM, 0, "checkip.home-monitor.example", 80,
       "/?mac=024D52A1B2C3&ip=192.168.1.20&port=8080"},
      {"DynamicDo", DDNSClient_CheckIP_DynamicDo, 1, "info.dynamicdo.example", 80,
       "/remote_addr.php"},
      {"I-O DATA", DDNSClient_CheckIP_IOData, 1, "ipcheck.iodata.example", 80,
       "/cgi-bin/ddns/check_ip.cgi"},
      {"NexusControl", DDNSClient_CheckIP_NexusControl, 1, "checkip.nexuscontrol.example", 80, "/"},
      {"PCCW", DDNSClient_CheckIP_PCCW, 0, "ddns.configured.example", 8888, "/pccw/ip?x=1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " switch " + std::to_string(c.port_switch));
    Client client;
    ASSERT_EQ(client.result, 0u);
    client->dwNetworkTimeout = 5;
    client->dwCheckIPPortSwitch = c.port_switch;
    std::strcpy(client->szDDNSServerName, "ddns.configured.example");
    client->wCheckIPPort = 8888;
    client->wUpdatePort = 8008;
    std::strcpy(client->szProviderText1, "/pccw/ip?x=1");
    std::strcpy(client->szProviderText2, "/pccw/update");
    std::strcpy(client->tLastSettings.szCameraMAC, "024D52A1B2C3");
    std::strcpy(client->tLastSettings.szCameraIP, "192.168.1.20");
    client->tLastSettings.wCameraPort = 8080;
    const int fds = nrtest::CountOpenFds();
    EXPECT_EQ(c.routine(client.context), 0u);
    EXPECT_STREQ(client->szCurrentIP, "203.0.113.1");
    std::vector<std::string> seen;
    for (size_t i = 0; i < peers.size(); ++i) {
      peers[i]->WaitIdle();
      for (const std::string &r : peers[i]->Take())
        seen.push_back(std::to_string(ports[i]) + " " + r);
    }
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::to_string(c.port) + " " + ExpectedGet(c.path, c.host, c.port));
  }
}

// Hostile peers: silence ends at the network time-out, an oversized body
// and a connection closed without a reply fail, each leaving no descriptor.
TEST(ProviderFetch, HostilePeersStayWithinTheBudget) {
  NAMREG_REQUIRE_SANDBOX();
  struct Case {
    const char *name;
    std::function<std::string(const std::string &, int)> answer;
    uint32_t expected;
  };
  const Case cases[] = {
      {"silence",
       [](const std::string &, int) {
         std::this_thread::sleep_for(std::chrono::milliseconds(2500));
         return std::string();
       },
       0x80020010u},
      {"oversized body", [](const std::string &, int) { return Reply(std::string(9000, 'g')); },
       0x80020010u},
      {"close without a reply", [](const std::string &, int) { return std::string(); },
       0x80020010u},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Client client;
    ASSERT_EQ(client.result, 0u);
    HttpPeer peer(18090, c.answer);
    ASSERT_TRUE(peer.ok());
    const int fds = nrtest::CountOpenFds();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DDNSClient_Communicate(client.context, "127.0.0.1", 18090, "/", 1, 0, "a"),
              c.expected);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.8);
    EXPECT_LE(std::strlen(client->szResponse), 5840u);
    ASSERT_TRUE(peer.WaitIdle(5000));
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
  }
}

}  // namespace

// HTTPS of the provider fetches: which fetch goes over TLS on which port
// in each mode, the setting's checks, a refusal that keeps HTTPS asked for
// (the fetch fails, nothing goes out in clear), and what each provider's
// own hosts are known to offer.
namespace {

using ddnstest::Client;

TEST(ProviderTls, ModesPortsRefusalsAndTheProviderTable) {
  Client client;
  ASSERT_EQ(client.result, 0u);
  DDNSClientContext *c = client.context;
  EXPECT_EQ(c->dwTLSMode, DDNSCLIENT_TLS_OFF) << "a new context speaks plain HTTP";
  struct Case {
    uint32_t mode;
    const char *host;
    uint16_t port;
    bool tls;
    uint16_t used;
  };
  const Case cases[] = {
      {DDNSCLIENT_TLS_OFF, "members.dyndns.org", 8245, false, 8245},
      {DDNSCLIENT_TLS_OFFERED, "members.dyndns.org", 8245, true, 443},
      {DDNSCLIENT_TLS_OFFERED, "members.dyndns.org", 80, true, 443},
      {DDNSCLIENT_TLS_OFFERED, "nic.changeip.com", 80, true, 443},
      {DDNSCLIENT_TLS_OFFERED, "www.mydns.jp", 80, true, 443},
      {DDNSCLIENT_TLS_OFFERED, "checkip.dyndns.org", 8245, false, 8245},  // not known to offer
      {DDNSCLIENT_TLS_OFFERED, "ddns.configured.example", 80, false, 80},
      {DDNSCLIENT_TLS_ALL, "checkip.dyndns.org", 8245, false, 8245},  // a provider's own host
      {DDNSCLIENT_TLS_ALL, "ddns.configured.example", 80, true, 443},
      {DDNSCLIENT_TLS_ALL, "ddns.configured.example", 8443, true, 8443},
      {DDNSCLIENT_TLS_ALL, DDNSCLIENT_IODATA_HOST, 80, false, 80},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(std::string(k.host) + " mode " + std::to_string(k.mode));
    c->dwTLSMode = k.mode;
    uint16_t port = k.port;
    EXPECT_EQ(namreg::FetchOverTls(c, k.host, &port), k.tls);
    EXPECT_EQ(port, k.used);
  }

  const std::string long_name(DDNSCLIENT_TLS_CA_FILE_SIZE, 'c');
  EXPECT_EQ(DDNSClient_SetTLS(nullptr, 1, nullptr), 0x80010006u);
  EXPECT_EQ(DDNSClient_SetTLS(c, 0, nullptr), 0u);
  const uint32_t available = HTTPClient_TLSBuiltIn() ? 0u : DDNSCLIENT_E_TLS_NOT_BUILT;
  EXPECT_EQ(DDNSClient_SetTLS(c, DDNSCLIENT_TLS_OFFERED, "/etc/ssl/ca.pem"), available);
  EXPECT_EQ(DDNSClient_SetTLS(c, DDNSCLIENT_TLS_ALL, ""), available);
  for (const char *bad : {"/ca\n.pem", long_name.c_str()}) {
    EXPECT_EQ(DDNSClient_SetTLS(c, DDNSCLIENT_TLS_OFFERED, bad), 0x80010006u);
    // Still asked for: the update to an HTTPS host fails before anything is
    // looked up or sent.
    EXPECT_EQ(c->dwTLSMode, DDNSCLIENT_TLS_OFFERED);
    EXPECT_EQ(DDNSClient_Communicate(c, "members.dyndns.org", 80, "/nic/update", 5, 1, "CAM"),
              0x80010006u);
  }
  EXPECT_EQ(DDNSClient_SetTLS(c, 3, nullptr), 0x80010006u);

  for (uint32_t provider = 0; provider <= DDNSCLIENT_PROVIDER_COUNT; ++provider) {
    const bool update = provider == 1 || provider == 2 || provider == 9 || provider == 33;
    EXPECT_EQ(DDNSClient_ProviderTLS(provider), update ? DDNSCLIENT_TLS_UPDATE : 0u) << provider;
  }
}

}  // namespace
