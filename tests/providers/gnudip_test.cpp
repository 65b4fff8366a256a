// SPDX-License-Identifier: MIT
// The GnuDIP salted update: the meta-tag reader, the salted digest (checked
// against an independent MD5), and the whole two-request exchange.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "http_peers.h"
#include "provider_world.h"
#include "testworld.h"

namespace {

using ddnstest::Client;
using provtest::ExpectedGet;
using provtest::HttpPeer;
using provtest::Reply;

using nrtest::Md5Hex;

TEST(GnuDIPMeta, ReadsTheContentLikeAScanOfBoundedWidth) {
  struct Case {
    const char *body;
    const char *name;
    uint32_t width;
    uint32_t expected;
    const char *content;  // when expected is 0
  };
  const Case cases[] = {
      {"<meta name=\"salt\" content=\"abcdefghij\">", "salt", 10, 0u, "abcdefghij"},
      {"x<meta name=\"salt\"   \t\ncontent=\"abcdefghij\">", "salt", 10, 0u, "abcdefghij"},
      {"<meta name=\"salt\"content=\"abcdefghij\">", "salt", 10, 0u, "abcdefghij"},
      {"<meta name=\"salt\" content=\"abcdefghijKLM\">", "salt", 10, 0u, "abcdefghij"},
      {"<meta name=\"salt\" content=\"abc\">\n<p>", "salt", 10, 0u, "abc\">"},
      {"<meta name=\"salt\" content=\" abc\">", "salt", 10, 0u, "abc\">"},
      {"<meta name=\"retc\" content=\"0\">", "retc", 1, 0u, "0"},
      {"<meta name=\"retc\" content=\"\">", "retc", 1, 0u, "\""},
      {"<meta name=\"salt\" content=\"abcdefghij", "salt", 32, 0u, "abcdefghij"},
      // Refused: another attribute order, another tag, a cut page, nothing after content=.
      {"<meta content=\"abcdefghij\" name=\"salt\">", "salt", 10, 0xFFFFFFFFu, nullptr},
      {"<meta name=\"time\" content=\"1\">", "salt", 10, 0xFFFFFFFFu, nullptr},
      {"<meta name=\"salt\" value=\"abcdefghij\">", "salt", 10, 0xFFFFFFFFu, nullptr},
      {"<meta name=\"salt\"", "salt", 10, 0xFFFFFFFFu, nullptr},
      {"<meta name=\"salt\" content=\"", "salt", 10, 0xFFFFFFFFu, nullptr},
      {"<meta name=\"salt\" content=\"   ", "salt", 10, 0xFFFFFFFFu, nullptr},
      {"<META NAME=\"salt\" content=\"abcdefghij\">", "salt", 10, 0xFFFFFFFFu, nullptr},
      // A name with conversion characters is only text.
      {"<meta name=\"%s%n\" content=\"v\">", "%s%n", 4, 0u, "v\">"},
      // Arguments the reader cannot honour.
      {"<meta name=\"salt\" content=\"a\">", "salt", 0, 0x80010006u, nullptr},
      {"<meta name=\"salt\" content=\"a\">", "salt", 256, 0x80010006u, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.body);
    char output[300];
    std::memset(output, '#', sizeof output);
    testing::internal::CaptureStdout();
    const uint32_t result = DDNSClient_GnuDIP_GetMetaContent(c.body, c.name, output, c.width);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, c.expected);
    if (c.expected == 0u) {
      EXPECT_STREQ(output, c.content);
      // Nothing written past the value and its terminator.
      const size_t used = std::strlen(c.content) + 1;
      EXPECT_LE(used, c.width + 1);
      for (size_t i = used; i < sizeof output; ++i) ASSERT_EQ(output[i], '#') << i;
    } else {
      for (char ch : output) ASSERT_EQ(ch, '#');
    }
  }
  // A name whose opening text does not fit 63 characters is refused, not cut.
  char out[8];
  EXPECT_EQ(DDNSClient_GnuDIP_GetMetaContent("x", std::string(52, 'n').c_str(), out, 4),
            0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_GetMetaContent(nullptr, "salt", out, 4), 0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_GetMetaContent("x", nullptr, out, 4), 0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_GetMetaContent("x", "salt", nullptr, 4), 0x80010006u);
}

TEST(GnuDIPMeta, MessagesNameTheTag) {
  char out[11];
  testing::internal::CaptureStdout();
  DDNSClient_GnuDIP_GetMetaContent("<p>", "time", out, 10);
  DDNSClient_GnuDIP_GetMetaContent("<meta name=\"sign\" x>", "sign", out, 10);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[DDNSClient_GnuDIP_GetMetaContent] Find time failed\r\n"
            "[DDNSClient_GnuDIP_GetMetaContent] Get sign content failed\r\n");
}

TEST(GnuDIPHash, IsTheDigestOfTheDigestAndTheSalt) {
  const std::string passwords[] = {"secret", "p", std::string(63, 'x')};
  for (const std::string &password : passwords) {
    char out[33];
    ASSERT_EQ(DDNSClient_GnuDIP_HashingPassword("Zq8xY1pQ3r", password.c_str(), out), 0u);
    EXPECT_EQ(std::string(out), Md5Hex(Md5Hex(password) + ".Zq8xY1pQ3r"));
  }
  char out[33];
  EXPECT_EQ(DDNSClient_GnuDIP_HashingPassword("", "p", out), 0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_HashingPassword("s", "", out), 0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_HashingPassword("s", "p", nullptr), 0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_HashingPassword("01234567890", "p", out), 0x80010006u);
}

std::string SaltPage(bool with_time = true) {
  std::string page =
      "<html><head>\n<meta name=\"salt\" content=\"Zq8xY1pQ3r\">\n"
      "<meta name=\"sign\" content=\"0123456789abcdef0123456789abcdef\">\n";
  if (with_time) page += "<meta name=\"time\" content=\"1765339200\">\n";
  return page + "</head></html>";
}

std::string RetcPage(const std::string &code) {
  return "<html><head><meta name=\"retc\" content=\"" + code + "\"></head></html>";
}

// Both GnuDIP families against a peer that serves the salt page and then the
// reply; the update request carries the salt page's values and the digest.
TEST(GnuDIPUpdate, TheExchangeCarriesTheSaltAndTheDigest) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  struct Case {
    uint32_t provider;
    const char *host;
    const char *path;
    std::string retc;
    uint32_t expected;
  };
  const Case cases[] = {
      {6, "ddns.interfree.example", "/cgi-bin/gdipupdt.cgi", "0", 0u},
      {15, "ddns.pcicybergate.example", "/gnudip/cgi-bin/gdipupdt.cgi", "0", 0u},
      {18, "ddns.pcicybergate.example", "/gnudip/cgi-bin/gdipupdt.cgi", "1", 0x8002000Cu},
      {6, "ddns.interfree.example", "/cgi-bin/gdipupdt.cgi", "2", 0x8002000Du},
      {6, "ddns.interfree.example", "/cgi-bin/gdipupdt.cgi", "", 0x8002000Du},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.provider) + " retc " + c.retc);
    HttpPeer peer(80, [&](const std::string &, int n) {
      return Reply(n == 1 ? SaltPage() : RetcPage(c.retc));
    });
    ASSERT_TRUE(peer.ok());
    Client client;
    ASSERT_EQ(client.result, 0u);
    client->dwServiceProvider = c.provider;
    client->dwNetworkTimeout = 5;
    std::strcpy(client->szHostName, "cam.gnudip.example.org");
    std::strcpy(client->szUserName, "not-sent");
    std::strcpy(client->szPassword, "secret");
    std::strcpy(client->szCurrentIP, "203.0.113.9");
    const int fds = nrtest::CountOpenFds();
    EXPECT_EQ(g_tDDNSServiceInfo[c.provider].pfnUpdate(client.context), c.expected);
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
    const std::string pass = Md5Hex(Md5Hex("secret") + ".Zq8xY1pQ3r");
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], ExpectedGet(c.path, c.host, 80));
    EXPECT_EQ(
        requests[1],
        ExpectedGet(std::string(c.path) +
                        "?salt=Zq8xY1pQ3r&time=1765339200&sign=0123456789abcdef0123456789abcdef"
                        "&user=cam&pass=" +
                        pass + "&domn=gnudip.example.org&reqc=0&addr=203.0.113.9",
                    c.host, 80));
    EXPECT_STREQ(client->szHashedPassword, pass.c_str());
  }
}

// A salt page without `time`, an HTTP failure of the salt page, and host
// names that do not split: no update request is sent.
TEST(GnuDIPUpdate, FailuresBeforeTheUpdateSendNoUpdate) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns(provtest::ProviderNames());
  ASSERT_TRUE(dns.ok());
  struct Case {
    const char *name;
    std::string host_name;
    std::string salt_reply;
    uint32_t expected;
    size_t requests;
    const char *message;
  };
  const Case cases[] = {
      {"no time", "cam.example.org", Reply(SaltPage(false)), 0xFFFFFFFFu, 1,
       "[DDNSClient_GnuDIP_GetMetaContent] Find time failed\r\n"
       "[DDNSClient_GnuDIP_Update] request salt failed\r\n"},
      {"salt page 404", "cam.example.org", Reply("x", "404 Not Found"), 0xFFFFFFFFu, 1, nullptr},
      {"no dot", "camera", Reply(SaltPage()), 0xFFFFFFFFu, 0,
       "[DDNSClient_GnuDIP_Update] extract domain failed\r\n"},
      {"label of 96", std::string(96, 'c') + ".example.org", Reply(SaltPage()), 0x80010006u, 0,
       "[DDNSClient_GnuDIP_Update] extract domain failed\r\n"},
      {"domain of 32", "cam." + std::string(28, 'd') + ".org", Reply(SaltPage()), 0x80010006u, 0,
       "[DDNSClient_GnuDIP_Update] extract domain failed\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    HttpPeer peer(80, [&](const std::string &, int) { return c.salt_reply; });
    ASSERT_TRUE(peer.ok());
    Client client;
    ASSERT_EQ(client.result, 0u);
    client->dwServiceProvider = 6;
    client->dwNetworkTimeout = 5;
    std::strcpy(client->szHostName, c.host_name.c_str());
    std::strcpy(client->szPassword, "secret");
    std::strcpy(client->szCurrentIP, "203.0.113.9");
    testing::internal::CaptureStdout();
    const uint32_t result = DDNSClient_Update_Interfree(client.context);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, c.expected);
    if (c.message != nullptr) {
      EXPECT_EQ(out, c.message);
    }
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.requests().size(), c.requests);
  }
  EXPECT_EQ(DDNSClient_Update_Interfree(nullptr), 0x80010006u);
  EXPECT_EQ(DDNSClient_Update_PCICyberGate(nullptr), 0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_Update(nullptr, "h", 80, "/", "/", "a"), 0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_RequsetSalt(nullptr, "h", 80, "/", "a"), 0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_GetSalt(nullptr), 0x80010006u);
  EXPECT_EQ(DDNSClient_GnuDIP_ProcessResponse(nullptr), 0x80010006u);
}

}  // namespace
