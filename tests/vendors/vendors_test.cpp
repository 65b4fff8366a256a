// SPDX-License-Identifier: MIT
// I-O DATA and MegaChips: both keyword tables with their orders, the derived
// credentials, and the exact requests of the public operations against a
// fake service on port 80 inside the test world.
#include <gtest/gtest.h>
#include <namreg/common.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "client_fixture.h"
#include "provider_world.h"
#include "testworld.h"

namespace {

using ddnstest::CaptureOut;
using ddnstest::Client;
using provtest::ExpectedGet;
using provtest::HttpPeer;
using provtest::Reply;

std::string Basic(const std::string &user, const std::string &password) {
  char out[256];
  const int n = Base64_EncodeString((user + ":" + password).c_str(), out, sizeof out);
  return n < 0 ? std::string() : std::string(out, static_cast<size_t>(n));
}

// A service on port 80 that asks for Basic credentials when the request has
// none and answers `body` (or 401 for other credentials).
HttpPeer::Answer ServiceAnswer(const std::string *body) {
  return [body](const std::string &request, int) {
    if (request.find("Authorization: Basic ") == std::string::npos &&
        request.find("/registdns.cgi") == std::string::npos)
      return Reply("login", "401 Unauthorized", "WWW-Authenticate: Basic realm=\"ddns\"\r\n");
    return Reply(*body);
  };
}

TEST(VendorReplies, IODataKeywordsInTheirOrder) {
  struct Case {
    const char *body;
    uint32_t result;
  };
  const Case cases[] = {
      {"good 203.0.113.1", 0},
      {"nochg good", 0},  // "good" is tested first
      {"notfqdn", 0x80020001u},
      {"nohost nochg", 0x80020001u},
      {"nochg", 0x80020005u},
      {"dnserr", 0x80020006u},
      {"!active", 0x80020006u},
      {"error0", 0x80020006u},
      {"ok ngserial", 0},
      {"ngserial", 0x80020002u},
      {"nghost registed", 0x8002000Au},
      {"registed", 0x8002001Au},
      {"GOOD", 0x8002000Du},  // case-sensitive
      {"", 0x8002000Du},
      // A keyword inside a word is not that keyword.
      {"serial/token mismatch", 0x8002000Du},
      {"broken", 0x8002000Du},
      {"error01", 0x8002000Du},  // a digit-ended keyword followed by a digit
      {"error0: db", 0x80020006u},
      {"ok\n", 0},
      {"status=ok", 0},
      {"notokay ngserial", 0x80020002u},
  };
  Client client;
  ASSERT_EQ(client.result, 0u);
  for (const Case &c : cases) {
    std::snprintf(client->szResponse, sizeof client->szResponse, "%s", c.body);
    EXPECT_EQ(DDNSClient_ProcessResponse_IOData(client.context), c.result) << c.body;
  }
  const std::string out =
      CaptureOut([] { EXPECT_EQ(DDNSClient_ProcessResponse_IOData(nullptr), 0x80010006u); });
  EXPECT_EQ(out, "[DDNSClient_ProcessResponse_IOData] Invalid arguments\r\n");
}

TEST(VendorReplies, MegaChipsKeywordsInTheirOrder) {
  struct Case {
    const char *body;
    uint32_t result;
  };
  const Case cases[] = {
      {"UPDATE_SUCCESS", 0},
      {"UPDATE_NONE", 0x70010001u},
      {"UPDATEINFO_SUCCESS", 0},
      {"HOSTNAME_WRONG", 0x80020001u},
      {"NO_HOST_SUIT", 0x80020001u},
      {"SERIAL_WRONG", 0x80020002u},
      {"NO_SERIAL_SUIT", 0x80020002u},
      {"PASSWORD_WRONG", 0x80020003u},
      {"NO_SUIT_SERIAL_PASSWD", 0x8002000Cu},
      {"DB_CONN_ERROR", 0x80020012u},
      {"DB_UPDATE_ERROR", 0x80020013u},
      {"DB_REF_ERROR", 0x80020014u},
      {"DNS_UPDATE_ERROR", 0x80020015u},
      {"HOSTNAME_EXIST", 0x8002000Au},
      {"SYSTEM_ERR", 0x80020006u},
      {"ILLEGAL_CLIENT", 0x8002000Fu},
      {"ILLEGAL_CLIENT UPDATE_NONE", 0x70010001u},
      {"PASSWORD_WRONG HOSTNAME_WRONG", 0x80020001u},
      {"update_success", 0x8002000Du},
  };
  Client client;
  ASSERT_EQ(client.result, 0u);
  for (const Case &c : cases) {
    std::snprintf(client->szResponse, sizeof client->szResponse, "%s", c.body);
    EXPECT_EQ(DDNSClient_ProcessResponse_MegaChips(client.context), c.result) << c.body;
  }
  const std::string out =
      CaptureOut([] { EXPECT_EQ(DDNSClient_ProcessResponse_MegaChips(nullptr), 0x80010006u); });
  EXPECT_EQ(out, "[DDNSClient_ProcessResponse_MegaChips] Invalid arguments\r\n");
}

TEST(VendorCredentials, HostNameFromTheMacTail) {
  struct Case {
    const char *mac;
    const char *host;
  };
  const Case cases[] = {{"024D52FFFFFF", "wcam-000000"},
                        {"024D52000000", "wcam-ffffff"},
                        {"024D52A1B2C3", "wcam-3c4d5e"},
                        {"024d52a1b2c3", "wcam-3c4d5e"}};
  for (const Case &c : cases) {
    char out[DDNSCLIENT_IODATA_HOSTNAME_SIZE];
    EXPECT_EQ(DDNSClient_IODATAMakeHostname(c.mac, out, sizeof out), 0u);
    EXPECT_STREQ(out, c.host);
  }
  char small[DDNSCLIENT_IODATA_HOSTNAME_SIZE - 1];
  const std::string out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_IODATAMakeHostname("024D52A1B2C3", small, sizeof small), 0x80010006u);
    EXPECT_EQ(DDNSClient_IODATAMakeHostname("024D52", small, 64), 0x80010006u);
    EXPECT_EQ(DDNSClient_IODATAMakeHostname(nullptr, small, sizeof small), 0x80010006u);
  });
  EXPECT_NE(out.find("[DDNSClient_IODATAMakeHostname] Invalid arguments\r"), std::string::npos);
}

bool AllOf(const std::string &text, int (*is)(int)) {
  for (char ch : text)
    if (!is(static_cast<unsigned char>(ch))) return false;
  return true;
}

int IsLowerAlnum(int c) {
  return std::isdigit(c) || (c >= 'a' && c <= 'z');
}

TEST(VendorCredentials, SerialIsTenDigitsOfTheMacAndStaysInItsBuffer) {
  char a[16], b[16], c[16];
  std::memset(a, '#', sizeof a);
  EXPECT_EQ(DDNSClient_IODATAMakeSerial("024D52A1B2C3", a, 11), 0u);
  EXPECT_EQ(std::strlen(a), 10u);
  EXPECT_TRUE(AllOf(a, ::isdigit)) << a;
  EXPECT_EQ(a[11], '#');
  DDNSClient_IODATAMakeSerial("024d52a1b2c3", b, sizeof b);
  EXPECT_STREQ(a, b);  // the MAC's case does not matter
  DDNSClient_IODATAMakeSerial("024D52A1B2C4", c, sizeof c);
  EXPECT_STRNE(a, c);
  // A short buffer gets the leading digits.
  char d[6];
  std::memset(d, '#', sizeof d);
  EXPECT_EQ(DDNSClient_IODATAMakeSerial("024D52A1B2C3", d, 5), 0u);
  EXPECT_EQ(std::string(d), std::string(a, 4));
  EXPECT_EQ(d[5], '#');
  EXPECT_EQ(DDNSClient_IODATAMakeSerial("024D52A1B2C3", nullptr, 11), 0u);
}

TEST(VendorCredentials, PasswordsAreEightLowerCaseLettersOrDigits) {
  char p1[DDNSCLIENT_DERIVED_PASSWORD_SIZE + 1], p2[DDNSCLIENT_DERIVED_PASSWORD_SIZE],
      p3[DDNSCLIENT_DERIVED_PASSWORD_SIZE], m1[DDNSCLIENT_DERIVED_PASSWORD_SIZE],
      m2[DDNSCLIENT_DERIVED_PASSWORD_SIZE];
  std::memset(p1, '#', sizeof p1);
  EXPECT_EQ(DDNSClient_IODATAMakePassword("024D52A1B2C3", "0123456789", p1,
                                          DDNSCLIENT_DERIVED_PASSWORD_SIZE),
            0u);
  EXPECT_EQ(p1[DDNSCLIENT_DERIVED_PASSWORD_SIZE], '#');
  EXPECT_EQ(std::strlen(p1), 8u);
  EXPECT_TRUE(AllOf(p1, IsLowerAlnum)) << p1;
  DDNSClient_IODATAMakePassword("024D52A1B2C3", "0123456789", p2, sizeof p2);
  EXPECT_STREQ(p1, p2);
  // The two texts are kept apart: "ab"+"c" is not "a"+"bc".
  DDNSClient_IODATAMakePassword("ab", "c", p2, sizeof p2);
  DDNSClient_IODATAMakePassword("a", "bc", p3, sizeof p3);
  EXPECT_STRNE(p2, p3);

  EXPECT_EQ(DDNSClient_MegaChipsMakeDefPassword("camuser1234", m1, sizeof m1), 0u);
  EXPECT_EQ(std::strlen(m1), 8u);
  EXPECT_TRUE(AllOf(m1, IsLowerAlnum)) << m1;
  DDNSClient_MegaChipsMakeDefPassword("camuser1235", m2, sizeof m2);
  EXPECT_STRNE(m1, m2);

  char small[DDNSCLIENT_DERIVED_PASSWORD_SIZE - 1];
  const std::string out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_IODATAMakePassword("a", "b", small, sizeof small), 0x80010006u);
    EXPECT_EQ(DDNSClient_IODATAMakePassword("a", nullptr, p1, sizeof p1), 0x80010006u);
    EXPECT_EQ(DDNSClient_MegaChipsMakeDefPassword("u", small, sizeof small), 0x80010006u);
    EXPECT_EQ(DDNSClient_MegaChipsMakeDefPassword(nullptr, m1, sizeof m1), 0x80010006u);
  });
  EXPECT_NE(out.find("[DDNSClient_IODATAMakePassword] Invalid arguments\r"), std::string::npos);
  EXPECT_NE(out.find("[DDNSClient_MegaChipsMakeDefPassword] Invalid arguments\r"),
            std::string::npos);
}

// The I-O DATA and MegaChips hosts resolve to 127.0.0.1, where a fake service
// listens on port 80.
class VendorService : public ::testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    nrtest::Names names = {{DDNSCLIENT_IODATA_HOST, "127.0.0.1"},
                           {DDNSCLIENT_MEGACHIPS_HOST, "127.0.0.1"}};
    ASSERT_TRUE(dns.Start("127.0.0.1", nrtest::AnswerNames(names)));
    peer.reset(new HttpPeer(80, ServiceAnswer(&body)));
    ASSERT_TRUE(peer->ok());
    ASSERT_EQ(client.result, 0u);
    fds = nrtest::CountOpenFds();
  }

  DDNSClientSettings Settings(uint32_t provider, const char *host, const char *user,
                              const char *password) {
    return ddnstest::UpdateSettings(provider, host, user, password);
  }

  void ExpectNoDescriptorLeft() {
    ASSERT_TRUE(peer->WaitIdle());
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
  }

  nrtest::FakeDns dns;
  std::string body = "good";
  std::unique_ptr<HttpPeer> peer;
  Client client;
  int fds = 0;
};

TEST_F(VendorService, IODataRegisterAndOfflineRequests) {
  DDNSClientSettings s = Settings(7, "mycam.iobb.example", "0123456789", "pw1");
  std::snprintf(s.szProvider7Text, sizeof s.szProvider7Text, "owner@example.com");
  body = "ok";
  EXPECT_EQ(DDNSClient_IODATARegister(client.context, &s, 5), 0u);
  EXPECT_EQ(DDNSClient_IODATAProcess(client.context, &s, 5, 1), 0u);
  client->dwLastIP = 0x0100007Fu;
  body = "nohost";
  EXPECT_EQ(DDNSClient_IODATAProcess(client.context, &s, 5, 0), 0x80020001u);
  EXPECT_EQ(client->dwLastIP, 0x0100007Fu);  // kept after a failure
  body = "good";
  EXPECT_EQ(DDNSClient_IODATAProcess(client.context, &s, 5, 0), 0u);
  EXPECT_EQ(client->dwLastIP, 0u);  // cleared when the host went offline
  ExpectNoDescriptorLeft();

  const std::string reg =
      "/cgi-bin/ddns_s/registdns.cgi?sno=0123456789&pw=pw1&eml=owner@example.com&host=mycam&reg=0";
  const std::string off =
      "/cgi-bin/ddns/members/update_dns.cgi?host=mycam.iobb.example&myip=0.0.0.0";
  const std::vector<std::string> expected = {
      ExpectedGet(reg, DDNSCLIENT_IODATA_HOST, 80),
      ExpectedGet(reg, DDNSCLIENT_IODATA_HOST, 80),
      ExpectedGet(off, DDNSCLIENT_IODATA_HOST, 80),
      ExpectedGet(off, DDNSCLIENT_IODATA_HOST, 80, "IPCAM", Basic("0123456789", "pw1")),
      ExpectedGet(off, DDNSCLIENT_IODATA_HOST, 80),
      ExpectedGet(off, DDNSCLIENT_IODATA_HOST, 80, "IPCAM", Basic("0123456789", "pw1")),
  };
  EXPECT_EQ(peer->requests(), expected);
}

TEST_F(VendorService, IODataRefusesTypesAndHostNamesItCannotSend) {
  DDNSClientSettings s = Settings(7, "mycam.iobb.example", "0123456789", "pw1");
  std::string out = CaptureOut(
      [&] { EXPECT_EQ(DDNSClient_IODATAProcess(client.context, &s, 5, 2), 0x80010006u); });
  EXPECT_NE(out.find("[DDNSClient_IODATAProcess] Invalid type 2\r\n"), std::string::npos) << out;
  EXPECT_STREQ(client->szHostName, "mycam.iobb.example");  // the settings were applied
  EXPECT_EQ(client->dwServiceProvider, 7u);

  const std::string long_label = std::string(96, 'a') + ".iobb.example";
  const std::string long_domain = "cam." + std::string(32, 'd');
  for (const std::string &host : {std::string("nodot"), long_label, long_domain}) {
    DDNSClientSettings bad = Settings(7, host.c_str(), "0123456789", "pw1");
    out = CaptureOut([&] {
      EXPECT_EQ(DDNSClient_IODATAProcess(client.context, &bad, 5, 1), 0xFFFFFFFFu);
      EXPECT_EQ(DDNSClient_IODATAProcess(client.context, &bad, 5, 0), 0xFFFFFFFFu);
    });
    EXPECT_NE(out.find("[DDNSClient_Register_IOData] extract domain failed\r"), std::string::npos)
        << host;
    EXPECT_NE(out.find("[DDNSClient_Offline_IOData] extract domain failed\r"), std::string::npos);
  }
  s.dwServiceProvider = 25;
  out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_IODATARegister(client.context, &s, 5), 0x80010006u);
    EXPECT_EQ(DDNSClient_IODATAProcess(nullptr, &s, 5, 1), 0x80010006u);
  });
  EXPECT_NE(out.find("[DDNSClient_IODATARegister] Invalid service provider: 25\r\n"),
            std::string::npos);
  EXPECT_NE(out.find("[DDNSClient_IODATAProcess] Invalid arguments\r"), std::string::npos);
  ExpectNoDescriptorLeft();
  EXPECT_TRUE(peer->requests().empty());
}

TEST_F(VendorService, MegaChipsUpdateAndPasswordChange) {
  // The User-Agent is the user name's first seven characters.
  DDNSClientSettings s = Settings(25, "mycam.mc.example", "camuser1234", "newpass");
  std::snprintf(s.szMegaChipsText, sizeof s.szMegaChipsText, "oldpass");
  body = "UPDATE_NONE";
  EXPECT_EQ(DDNSClient_MegaChipsProcess(client.context, &s, 5, 0), 0x70010001u);
  body = "PASSWORD_WRONG";
  EXPECT_EQ(DDNSClient_MegaChipsProcess(client.context, &s, 5, 1), 0x80020003u);
  EXPECT_STREQ(client->szPassword, "oldpass");  // what the provider still holds
  body = "UPDATEINFO_SUCCESS";
  EXPECT_EQ(DDNSClient_MegaChipsProcess(client.context, &s, 5, 1), 0u);
  EXPECT_STREQ(client->szPassword, "newpass");
  ExpectNoDescriptorLeft();

  const std::string update = "/ddns/updateDns.php?host=mycam.mc.example";
  const std::string change = "/ddns/updateUserSetting.php?host=mycam.mc.example&pass=newpass";
  const std::vector<std::string> expected = {
      ExpectedGet(update, DDNSCLIENT_MEGACHIPS_HOST, 80, "camuser"),
      ExpectedGet(update, DDNSCLIENT_MEGACHIPS_HOST, 80, "camuser",
                  Basic("camuser1234", "newpass")),
      ExpectedGet(change, DDNSCLIENT_MEGACHIPS_HOST, 80, "camuser"),
      ExpectedGet(change, DDNSCLIENT_MEGACHIPS_HOST, 80, "camuser",
                  Basic("camuser1234", "oldpass")),
      ExpectedGet(change, DDNSCLIENT_MEGACHIPS_HOST, 80, "camuser"),
      ExpectedGet(change, DDNSCLIENT_MEGACHIPS_HOST, 80, "camuser",
                  Basic("camuser1234", "oldpass")),
  };
  EXPECT_EQ(peer->requests(), expected);
}

TEST_F(VendorService, MegaChipsChangeWithoutCurrentPasswordUsesTheDefault) {
  DDNSClientSettings s = Settings(25, "mycam.mc.example", "cam", "newpass");
  char def[DDNSCLIENT_DERIVED_PASSWORD_SIZE];
  ASSERT_EQ(DDNSClient_MegaChipsMakeDefPassword("cam", def, sizeof def), 0u);
  body = "NO_SUIT_SERIAL_PASSWD";
  EXPECT_EQ(DDNSClient_MegaChipsProcess(client.context, &s, 5, 1), 0x8002000Cu);
  EXPECT_STREQ(client->szPassword, def);
  ExpectNoDescriptorLeft();
  const std::string change = "/ddns/updateUserSetting.php?host=mycam.mc.example&pass=newpass";
  ASSERT_EQ(peer->requests().size(), 2u);
  // A user name shorter than seven characters is sent whole.
  EXPECT_EQ(peer->requests()[1],
            ExpectedGet(change, DDNSCLIENT_MEGACHIPS_HOST, 80, "cam", Basic("cam", def)));
}

TEST_F(VendorService, MegaChipsChecksItsArguments) {
  DDNSClientSettings s = Settings(25, "mycam.mc.example", "cam", "pw");
  const std::string out = CaptureOut([&] {
    EXPECT_EQ(DDNSClient_MegaChipsProcess(client.context, nullptr, 5, 0), 0x80010006u);
    s.dwEnable = 0;
    EXPECT_EQ(DDNSClient_MegaChipsProcess(client.context, &s, 5, 0), 0x80010006u);
    s.dwEnable = 1;
    s.dwServiceProvider = 7;
    EXPECT_EQ(DDNSClient_MegaChipsProcess(client.context, &s, 5, 0), 0x80010006u);
    s.dwServiceProvider = 25;
    EXPECT_EQ(DDNSClient_MegaChipsProcess(client.context, &s, 5, 3), 0x80010006u);
  });
  for (const char *line : {"[DDNSClient_MegaChipsProcess] Invalid arguments\r\n",
                           "[DDNSClient_MegaChipsProcess] DDNS disable\r\n",
                           "[DDNSClient_MegaChipsProcess] Only for MegaChips\r\n",
                           "[DDNSClient_MegaChipsProcess] Invalid type 3\r\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line;
  EXPECT_TRUE(peer->requests().empty());
}

}  // namespace
