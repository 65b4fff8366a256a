// SPDX-License-Identifier: MIT
// Texts from outside on their way to the wire: a control byte in any
// caller's or server's text stops the request before anything is sent, and
// query values travel percent-encoded, ordinary ones byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "provider_world.h"
#include "testworld.h"

namespace {

using ddnstest::CaptureOut;
using ddnstest::Client;
using ddnstest::UpdateSettings;
using provtest::HttpPeer;
using provtest::Reply;

const char kInjected[] = "cam.example.net HTTP/1.1\r\nX-Injected: host\r\n\r\nGET /evil";

// Every port a provider of the table listens on, each answering like a
// willing provider and keeping what it was sent.
class AllPorts {
 public:
  AllPorts() {
    for (uint16_t port : {80, 8245, 21333, 8008, 8888})
      peers_.emplace_back(new HttpPeer(port, [](const std::string &, int) {
        return Reply("good SUCCESS TZO Name success <meta name=\"salt\" content=\"abcdefghij\">",
                     "200 OK", "Http-Code-By: HGDDNS\r\n");
      }));
  }
  bool ok() const {
    for (const auto &p : peers_)
      if (!p->ok()) return false;
    return true;
  }
  // Every request any port received since the last call.
  std::vector<std::string> Take() {
    std::vector<std::string> all;
    for (auto &p : peers_) {
      p->WaitIdle();
      for (const std::string &r : p->Take()) all.push_back(r);
    }
    return all;
  }

 private:
  std::vector<std::unique_ptr<HttpPeer>> peers_;
};

// A context as the settings of `provider` leave it (PCCW's server, ports
// and paths included), written directly.
void FillContext(DDNSClientContext *c, uint32_t provider) {
  c->dwServiceProvider = provider;
  c->dwNetworkTimeout = 5;
  std::strcpy(c->szHostName, "cam.example.net");
  std::strcpy(c->szUserName, "user");
  std::strcpy(c->szPassword, "pass");
  std::strcpy(c->szCurrentIP, "203.0.113.9");
  std::strcpy(c->szDDNSServerName, "ddns.configured.example");
  std::strcpy(c->szProviderText1, "/pccw/ip");
  std::strcpy(c->szProviderText2, "/pccw/update");
  c->wCheckIPPort = 8008;
  c->wUpdatePort = 8008;
}

// A control byte in any text of the settings refuses them whole: 0x80010006,
// no name query, no request, and the context keeps what it had.
TEST(HostileText, SettingsWithAControlByteAreRefusedBeforeAnythingIsSent) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  AllPorts ports;
  ASSERT_TRUE(ports.ok());
  enum Operation { kUpdate, kMegaChips, kIOData, kPeanutHull };
  struct Case {
    const char *name;
    Operation operation;
    uint32_t provider;
    char *(*field)(DDNSClientSettings &);
    const char *text;
    uint32_t extra_flags;
  };
  const Case cases[] = {
      {"host name splitting the request", kUpdate, 1,
       [](DDNSClientSettings &s) { return s.szHostName; }, kInjected, 0},
      {"user name with a header", kUpdate, 1, [](DDNSClientSettings &s) { return s.szUserName; },
       "user\r\nX-Injected: 1", 0},
      {"password with a line feed", kUpdate, 8, [](DDNSClientSettings &s) { return s.szPassword; },
       "pa\nss", 0},
      {"host name with DEL", kUpdate, 31, [](DDNSClientSettings &s) { return s.szHostName; },
       "cam\x7f.example.net", 0},
      {"PCCW update path", kUpdate, 23, [](DDNSClientSettings &s) { return s.szProviderText2; },
       "/pccw/update\r\nX: 1", DDNSCLIENT_FLAG_PROVIDER_TEXT2},
      {"MegaChips user name (its User-Agent)", kMegaChips, 25,
       [](DDNSClientSettings &s) { return s.szUserName; }, "mc\r\nX-Injected: agent", 0},
      {"MegaChips current password", kMegaChips, 25,
       [](DDNSClientSettings &s) { return s.szMegaChipsText; }, "old\tpass", 0},
      {"I-O DATA e-mail", kIOData, 7, [](DDNSClientSettings &s) { return s.szProvider7Text; },
       "me@example.com\r\nBcc: x", 0},
      {"PeanutHull host name", kPeanutHull, 20, [](DDNSClientSettings &s) { return s.szHostName; },
       "cam.example.net\r\nQUIT", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Client client;
    ASSERT_EQ(client.result, 0u);
    DDNSClientSettings s = UpdateSettings(c.provider);
    s.dwFlags |= c.extra_flags;
    std::snprintf(c.field(s), 64, "%s", c.text);
    const size_t queries = dns.queries().size();
    uint32_t address = 0, result = 0;
    const std::string out = CaptureOut([&] {
      switch (c.operation) {
        case kUpdate:
          result = DDNSClient_Update(client.context, &s, 5, &address);
          break;
        case kMegaChips:
          result = DDNSClient_MegaChipsProcess(client.context, &s, 5, 0);
          break;
        case kIOData:
          result = DDNSClient_IODATAProcess(client.context, &s, 5, 1);
          break;
        case kPeanutHull:
          result = DDNSClient_PeanutHullRegister(client.context, &s, 5, &address);
          break;
      }
    });
    EXPECT_EQ(result, 0x80010006u);
    EXPECT_NE(out.find("[DDNSClient_ProcessUpdateSettings] Settings text holds a control byte\r\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(client->szHostName[0], '\0') << "nothing taken";
    EXPECT_EQ(dns.queries().size(), queries);
  }
  EXPECT_TRUE(ports.Take().empty());
}

// The other doors into the context: the creation record, the copy of the
// whole settings record and the external address.
TEST(HostileText, InitialSetParametersAndExternalAddressRefuseControlBytes) {
  DDNSClientInitInfo info = ddnstest::DefaultInitInfo();
  std::strcpy(info.szFirmwareVersion, "IPCAM\r\nX-Injected: 1");
  DDNSClientContext *context = nullptr;
  std::string out =
      CaptureOut([&] { EXPECT_EQ(DDNSClient_Initial(&context, &info), 0x80010006u); });
  EXPECT_EQ(out, "[DDNSClient_Initial] Text holds a control byte\r\n");
  EXPECT_EQ(context, nullptr);

  info = ddnstest::DefaultInitInfo();
  std::strcpy(info.szDDNSServerName, "ddns.example\n");
  out = CaptureOut([&] { EXPECT_EQ(DDNSClient_Initial(&context, &info), 0x80010006u); });
  EXPECT_EQ(out, "[DDNSClient_Initial] Text holds a control byte\r\n");
  DDNSClient_Release(&context);

  Client client;
  ASSERT_EQ(client.result, 0u);
  DDNSClientSettings s = UpdateSettings(35);
  std::strcpy(s.szCameraMAC, "024D52\r\nX: 1");
  out = CaptureOut([&] { EXPECT_EQ(DDNSClient_SetParameters(client.context, &s), 0x80010006u); });
  EXPECT_EQ(out, "[DDNSClient_SetParameters] Text holds a control byte\r\n");
  EXPECT_EQ(client->tLastSettings.szCameraMAC[0], '\0');
  out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_SetExternalIP(client.context, 2, "198.51.100.2\r\n"), 0x80010006u);
  });
  EXPECT_EQ(out, "[DDNSClient_SetExternalIP] Text holds a control byte\r\n");
  EXPECT_EQ(client->dwPublicIPSource, 1u);
}

// Texts that reach a composer without the settings (written into the
// context by a host, or brought by a server) are refused by the composer
// itself: nothing reaches the wire.
TEST(HostileText, EveryComposerRefusesAControlByte) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  AllPorts ports;
  ASSERT_TRUE(ports.ok());
  struct Case {
    const char *name;
    uint32_t provider;
    DDNSClientRoutine routine;
    void (*spoil)(DDNSClientContext *);
  };
  auto host = [](DDNSClientContext *c) { std::strcpy(c->szHostName, "cam\r\n.example.net"); };
  auto user = [](DDNSClientContext *c) { std::strcpy(c->szUserName, "user\r\nX: 1"); };
  auto password = [](DDNSClientContext *c) { std::strcpy(c->szPassword, "pass\x01"); };
  auto address = [](DDNSClientContext *c) { std::strcpy(c->szCurrentIP, "1.2.3.4\n"); };
  const Case cases[] = {
      {"DynDNS host", 1, DDNSClient_Update_DynDNS, host},
      {"DynDNS address", 2, DDNSClient_Update_DynDNS, address},
      {"TZO e-mail", 3, DDNSClient_Update_TZO, user},
      {"TZO key", 36, DDNSClient_Update_TZO, password},
      {"DHS host", 4, DDNSClient_Update_DHS, host},
      {"DynamicDo password", 8, DDNSClient_Update_DynamicDo, password},
      {"NexusControl host", 19, DDNSClient_Update_NexusControl, host},
      {"PCCW password", 23, DDNSClient_Update_PCCW, password},
      {"PCCW path", 23, DDNSClient_Update_PCCW,
       [](DDNSClientContext *c) { std::strcpy(c->szProviderText2, "/pccw/\r\nupdate"); }},
      {"Logitec address", 28, DDNSClient_Update_Logitec, address},
      {"Huagai user", 30, DDNSClient_Update_Huagai, user},
      {"3322 host", 31, DDNSClient_Update_3322, host},
      {"ChangeIP address", 33, DDNSClient_Update_ChangeIP, address},
      {"Swisscom host", 35, DDNSClient_Update_SWISSCOM, host},
      {"Swisscom check-IP camera MAC", 35, DDNSClient_CheckIP_SWISSCOM,
       [](DDNSClientContext *c) { std::strcpy(c->tLastSettings.szCameraMAC, "02\r\n"); }},
      {"I-O DATA update host", 7, DDNSClient_Update_IOData, host},
      {"I-O DATA register e-mail", 7, DDNSClient_Register_IOData,
       [](DDNSClientContext *c) { std::strcpy(c->szProvider7Text, "me@x\r\nBcc: y"); }},
      {"I-O DATA offline host", 7, DDNSClient_Offline_IOData,
       [](DDNSClientContext *c) { std::strcpy(c->szHostName, "cam.example.net\x1b"); }},
      {"MegaChips update host", 25, DDNSClient_Update_MegaChips, host},
      {"MegaChips new password", 25, DDNSClient_MegaChips_ChangeSetting, password},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Client client;
    ASSERT_EQ(client.result, 0u);
    FillContext(client.context, c.provider);
    c.spoil(client.context);
    const std::string out = CaptureOut([&] { EXPECT_EQ(c.routine(client.context), 0x80010006u); });
    EXPECT_NE(out.find("Text holds a control byte"), std::string::npos) << out;
  }
  EXPECT_TRUE(ports.Take().empty());
}

// A GnuDIP salt with a control byte comes from the server: the salt page is
// the only request, the update is never sent.
TEST(HostileText, AServersSaltWithAControlByteStopsTheGnuDIPUpdate) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  HttpPeer peer(80, [](const std::string &, int) {
    return Reply(
        "<meta name=\"salt\" content=\"ab\x01"
        "cdefghi\"><meta name=\"time\" "
        "content=\"1700000000\"><meta name=\"sign\" content=\"0123456789abcdef0123456789abcdef\">");
  });
  ASSERT_TRUE(peer.ok());
  Client client;
  ASSERT_EQ(client.result, 0u);
  client->dwServiceProvider = 6;
  client->dwNetworkTimeout = 5;
  std::strcpy(client->szHostName, "cam.example.net");
  std::strcpy(client->szPassword, "pass");
  std::strcpy(client->szCurrentIP, "203.0.113.9");
  CaptureOut([&] { EXPECT_EQ(DDNSClient_Update_Interfree(client.context), 0x80010006u); });
  ASSERT_TRUE(peer.WaitIdle());
  ASSERT_EQ(peer.requests().size(), 1u);
  EXPECT_EQ(peer.requests()[0].rfind("GET /cgi-bin/gdipupdt.cgi HTTP/1.1\r\n", 0), 0u);
}

// Values that are not plain words travel percent-encoded, so that none can
// add or override a query field; the path a caller gives keeps its slashes.
TEST(HostileText, QueryValuesArePercentEncoded) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::Names names = provtest::ProviderNames();
  names.emplace_back(DDNSCLIENT_IODATA_HOST, "127.0.0.1");
  nrtest::FakeDns dns(names);
  ASSERT_TRUE(dns.ok());
  AllPorts ports;
  ASSERT_TRUE(ports.ok());
  struct Case {
    const char *name;
    uint32_t provider;
    DDNSClientRoutine routine;
    void (*fill)(DDNSClientContext *);
    std::string path;
  };
  const Case cases[] = {
      {"DynamicDo password overriding the address", 8, DDNSClient_Update_DynamicDo,
       [](DDNSClientContext *c) { std::strcpy(c->szPassword, "pa ss&ip=6.6.6.6#"); },
       "/dnsupdate.php?dn=user&pw=pa%20ss%26ip%3D6.6.6.6%23&ip=203.0.113.9"},
      {"I-O DATA e-mail with a plus", 7, DDNSClient_Register_IOData,
       [](DDNSClientContext *c) { std::strcpy(c->szProvider7Text, "me+cam@example.com"); },
       "/cgi-bin/ddns_s/registdns.cgi?sno=user&pw=pass&eml=me%2Bcam@example.com&host=cam&reg=0"},
      {"TZO key with reserved characters", 3, DDNSClient_Update_TZO,
       [](DDNSClientContext *c) { std::strcpy(c->szPassword, "k/e?y=%25;~_.-:@"); },
       "/webclient/tzoperl.html?TZOName=cam.example.net&Email=user&TZOKey=k%2Fe%3Fy%3D%2525%3B~_.-:"
       "@&CType=3&IPAddress=203.0.113.9"},
      {"Huagai bytes above 0x7F", 30, DDNSClient_Update_Huagai,
       [](DDNSClientContext *c) { std::strcpy(c->szUserName, "h\xc3\xa9l\xc3\xa8ne"); },
       "/services/dyndns/?username=h%C3%A9l%C3%A8ne&password=pass&hostname=cam&zonename="
       "example.net&ip2=203.0.113.9"},
      {"PCCW path of the caller", 23, DDNSClient_Update_PCCW,
       [](DDNSClientContext *c) { std::strcpy(c->szProviderText2, "/my path/update.cgi"); },
       "/my%20path/update.cgi?host=cam.example.net&addr=203.0.113.9&username=user&password=pass"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Client client;
    ASSERT_EQ(client.result, 0u);
    FillContext(client.context, c.provider);
    client->dwUpdatePortSwitch = 0;
    c.fill(client.context);
    CaptureOut([&] { c.routine(client.context); });
    const std::vector<std::string> requests = ports.Take();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().substr(0, requests.back().find(" HTTP/1.1\r\n")), "GET " + c.path);
  }
}

// A request too long for its 255 characters is cut at its end: never inside
// an escape, and nothing of the request after the cut (a later field must
// not follow a value that was cut short).
TEST(HostileText, ALongEncodedRequestIsCutAtItsEndOnly) {
  char request[namreg::kRequestSize];
  const std::string key(80, '|');  // 240 characters once encoded
  ASSERT_TRUE(
      namreg::ComposeRequest(request, "/u?TZOName=%s&TZOKey=%s&CType=3", "cam", key.c_str()));
  const std::string text = request;
  const std::string head = "/u?TZOName=cam&TZOKey=";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
  EXPECT_LE(text.size(), 255u);
  EXPECT_GE(text.size(), 253u);
  std::string rest = text.substr(head.size());
  ASSERT_EQ(rest.size() % 3, 0u) << "whole escapes only: " << rest;
  for (size_t i = 0; i < rest.size(); i += 3) EXPECT_EQ(rest.substr(i, 3), "%7C");
  EXPECT_EQ(text.find("CType"), std::string::npos);
}

}  // namespace
