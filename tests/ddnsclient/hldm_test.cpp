// SPDX-License-Identifier: MIT
// The HLDM protocol: password hash, composers, reply parsers, one exchange
// against scripted servers, and the operations and public entry points on
// port 3495 inside the test world.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "client_fixture.h"
#include "fake_dns.h"
#include "peers.h"
#include "sim_process.h"
#include "testworld.h"
#include "virtual_clock.h"

namespace {

using ddnstest::CaptureOut;
using ddnstest::Client;
using nrtest::ScriptServer;

std::string DecodeLine(std::string line) {
  size_t end = line.find("\r\n");
  if (end != std::string::npos) line.resize(end);
  std::vector<unsigned char> out(line.size() + 2);
  int32_t capacity = static_cast<int32_t>(out.size());
  int32_t n =
      HALDStrCodec_Decode(line.c_str(), static_cast<int32_t>(line.size()), out.data(), &capacity);
  if (n < 0) return "<undecodable>";
  return std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n));
}

// A scripted HLDM server: greeting, one request line (decoded and kept),
// the reply, then the close (or a wait for the client's close).
struct HLDMServer {
  std::string greeting = "abcdefghij\n";
  std::string reply = "retc=0:";
  bool close_after_reply = true;
  std::mutex mu;
  std::vector<std::string> requests;  // decoded; "" when nothing came
  std::vector<bool> client_closed;    // after the reply was sent

  ScriptServer::Script Script() {
    return [this](int fd, const std::string &, int) {
      nrtest::SendAll(fd, greeting);
      std::string line = nrtest::ReadLine(fd, 5000);
      {
        std::lock_guard<std::mutex> lock(mu);
        requests.push_back(line.empty() ? std::string() : DecodeLine(line));
      }
      if (line.empty()) return;
      nrtest::SendAll(fd, reply);
      if (!close_after_reply) {
        bool closed = nrtest::PeerCloses(fd, 5000);
        std::lock_guard<std::mutex> lock(mu);
        client_closed.push_back(closed);
      }
    };
  }
};

void SetHLDMFields(DDNSClientContext *c) {
  std::strcpy(c->szSalt, "abcdefghij");
  std::strcpy(c->szHLDMEmail, "owner@example.com");
  std::strcpy(c->szHLDMKey, "secret");
  std::strcpy(c->szHLDMHostName, "cam.hldm.example");
  std::strcpy(c->szHostName, "cam.dyn.example");
  std::strcpy(c->szCurrentIP, "203.0.113.5");
}

TEST(HLDMHash, SaltedMD5OfTheMAC) {
  char out[33];
  EXPECT_EQ(DDNSClient_HashingPassword_HLDM("024D52A1B2C3", "abcdefghij", out), 0u);
  EXPECT_STREQ(out, "972ebf595f86ec155eb21d334d7c545d");
  for (auto args : {std::make_pair("", "abcdefghij"), std::make_pair("024D52A1B2C3", "")}) {
    EXPECT_EQ(CaptureOut([&] {
                EXPECT_EQ(DDNSClient_HashingPassword_HLDM(args.first, args.second, out),
                          0x80010006u);
              }),
              "[DDNSClient_HashingPassword_HLDM] Invalid arguments\r\n");
  }
  EXPECT_EQ(DDNSClient_HashingPassword_HLDM("024D52A1B2C3", "abcdefghij", nullptr), 0x80010006u);
}

TEST(HLDMComposers, RequestTexts) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  SetHLDMFields(c.context);
  char buffer[249];
  const std::string hash = "972ebf595f86ec155eb21d334d7c545d";

  ASSERT_EQ(DDNSClient_ComposeHLDMCheckIPRequest(c.context, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "checkIP&abcdefghij");
  ASSERT_EQ(DDNSClient_ComposeHLDMRegisterRequest(c.context, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer,
               "salt=abcdefghij&MAC=024D52A1B2C3&email=owner@example.com&key=secret&hostname=cam."
               "hldm.example"
               "&firmwareversion=IPCAM");
  ASSERT_EQ(DDNSClient_ComposeHLDMRequestKeyRequest(c.context, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer,
               "forgetpassword&salt=abcdefghij&email=owner@example.com&hostname=cam.hldm.example");
  ASSERT_EQ(DDNSClient_ComposeHLDMCheckHostnameRequest(c.context, buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "checkHostname&salt=abcdefghij&MAC=024D52A1B2C3&hostname=cam.hldm.example");
  ASSERT_EQ(DDNSClient_ComposeHLDMUpdateRequest(c.context, buffer, sizeof buffer), 0u);
  EXPECT_EQ(std::string(buffer),
            "abcdefghij:024D52A1B2C3:" + hash + ":cam.dyn.example:IPCAM:0:203.0.113.5");
  EXPECT_EQ(std::string(c->szHashedPassword), hash);
  ASSERT_EQ(DDNSClient_ComposeHLDMOfflineRequest(c.context, buffer, sizeof buffer), 0u);
  EXPECT_EQ(std::string(buffer), "abcdefghij:024D52A1B2C3:" + hash + ":cam.hldm.example:IPCAM:1");

  // With the alternative port: the first forms.
  c->dwHTTPAlternativePortPresent = 1;
  c->wHTTPAlternativePort = 8080;
  ASSERT_EQ(DDNSClient_ComposeHLDMRegisterRequest(c.context, buffer, sizeof buffer), 0u);
  EXPECT_NE(std::string(buffer).find("&firmwareversion=IPCAM&port=8080"), std::string::npos)
      << buffer;
  ASSERT_EQ(DDNSClient_ComposeHLDMUpdateRequest(c.context, buffer, sizeof buffer), 0u);
  EXPECT_EQ(std::string(buffer),
            "abcdefghij:024D52A1B2C3:" + hash + ":cam.dyn.example:IPCAM:0:203.0.113.5:8080");
  c->wHTTPAlternativePort = 0;
  ASSERT_EQ(DDNSClient_ComposeHLDMRegisterRequest(c.context, buffer, sizeof buffer), 0u);
  EXPECT_NE(std::string(buffer).find("&port=0"), std::string::npos);
}

TEST(HLDMComposers, CutAtTheBufferAndRefuseNulls) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  SetHLDMFields(c.context);
  std::memset(c->szHLDMHostName, 'h', 127);
  std::memset(c->szHLDMEmail, 'e', 63);
  std::memset(c->szHLDMKey, 'k', 63);
  char buffer[249 + 8];
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_EQ(DDNSClient_ComposeHLDMRegisterRequest(c.context, buffer, 249), 0u);
  EXPECT_EQ(std::strlen(buffer), 248u);
  EXPECT_EQ(buffer[249], '#');
  ASSERT_EQ(DDNSClient_ComposeHLDMCheckIPRequest(c.context, buffer, 12), 0u);
  EXPECT_STREQ(buffer, "checkIP&ab") << "the check-IP text keeps one character more in reserve";

  struct Case {
    uint32_t (*composer)(DDNSClientContext *, char *, uint32_t);
    const char *line;
  };
  const Case cases[] = {
      {DDNSClient_ComposeHLDMCheckIPRequest,
       "[DDNSClient_ComposeHLDMCheckIPRequest] Invalid arguments\r\n"},
      {DDNSClient_ComposeHLDMUpdateRequest,
       "[DDNSClient_ComposeHLDMUpdateRequest] Invalid arguments\r\n"},
      {DDNSClient_ComposeHLDMRegisterRequest,
       "[DDNSClient_ComposeHLDMRegisterRequest] Invalid arguments\r\n"},
      {DDNSClient_ComposeHLDMRequestKeyRequest,
       "[DDNSClient_ComposeHLDMRequestKeyRequest] Invalid arguments\r\n"},
      {DDNSClient_ComposeHLDMCheckHostnameRequest,
       "[DDNSClient_ComposeHLDMCheckHostnameRequest] Invalid arguments\r\n"},
      {DDNSClient_ComposeHLDMOfflineRequest, ""},
  };
  for (const Case &k : cases) {
    EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(k.composer(nullptr, buffer, 249), 0x80010006u); }),
              k.line);
    EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(k.composer(c.context, buffer, 0), 0x80010006u); }),
              k.line);
    EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(k.composer(c.context, nullptr, 249), 0x80010006u); }),
              k.line);
  }
}

struct ParserCase {
  const char *reply;
  uint32_t result;
};

void RunParser(DDNSClientContext *c, uint32_t (*parser)(DDNSClientContext *),
               const ParserCase *cases, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(c->szResponse, sizeof c->szResponse, "%s", cases[i].reply);
    EXPECT_EQ(parser(c), cases[i].result) << cases[i].reply;
  }
}

TEST(HLDMParsers, MarkerOrders) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  const ParserCase update[] = {{"retc=0:", 0},
                               {"retc=1:", 0x8002000Cu},
                               {"retc=1 retc=0", 0},
                               {"retc=2:", 0x80020011u},
                               {"", 0x80020011u}};
  const ParserCase key[] = {{"retc=0:", 0},
                            {"retc=1:", 0x8002000Cu},
                            {"retc=1:retc=0:", 0},
                            {"retc=3", 0x8002000Du},
                            {"", 0x8002000Du}};
  const ParserCase check[] = {{"retc=0:", 0},           {"retc=1:", 0x70010002u},
                              {"retc=2:", 0x70010003u}, {"retc=2:retc=1:", 0x70010002u},
                              {"retc=2 retc=0", 0},     {"retc=9", 0x8002000Du}};
  const ParserCase offline[] = {
      {"retc=2:", 0}, {"retc=0:", 0x8002000Du}, {"retc=0 retc=2", 0}, {"", 0x8002000Du}};
  RunParser(c.context, DDNSClient_ProcessResponse_HLDMUpdate, update,
            sizeof update / sizeof update[0]);
  RunParser(c.context, DDNSClient_ProcessResponse_HLDMRequestKey, key, sizeof key / sizeof key[0]);
  RunParser(c.context, DDNSClient_ProcessResponse_HLDMCheckHostname, check,
            sizeof check / sizeof check[0]);
  RunParser(c.context, DDNSClient_ProcessResponse_HLDMOffline, offline,
            sizeof offline / sizeof offline[0]);

  using Parser = uint32_t (*)(DDNSClientContext *);
  const std::pair<Parser, const char *> nulls[] = {
      {DDNSClient_ProcessResponse_HLDMUpdate,
       "[DDNSClient_ProcessResponse_HLDMUpdate] Invalid arguments\r\n"},
      {DDNSClient_ProcessResponse_HLDMRequestKey,
       "[DDNSClient_ProcessResponse_HLDMRequestKey] Invalid arguments\r\n"},
      {DDNSClient_ProcessResponse_HLDMCheckHostname,
       "[DDNSClient_ProcessResponse_HLDMCheckHostname] Invalid arguments\r\n"},
      {DDNSClient_ProcessResponse_HLDMOffline,
       "[DDNSClient_ProcessResponse_HLDMOffline] Invalid arguments\r\n"},
  };
  for (const auto &n : nulls)
    EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(n.first(nullptr), 0x80010006u); }), n.second);
}

TEST(HLDMParsers, Register) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  std::strcpy(c->szHLDMHostName, "cam.hldm.example");
  struct Case {
    const char *reply;
    uint32_t result;
    const char *address;
  };
  const Case cases[] = {
      {"retc=0:cam.hldm.example:203.0.113.5:", 0, "203.0.113.5"},
      {"retc=0:cam.hldm.example:203.0.113.5:trailing", 0, "203.0.113.5"},
      {"retc=0:cam.hldm.example:203.0.113.5\n", 0,
       "203.0.113.5"},  // no colon: the last character goes
      {"retc=0:other.example:203.0.113.5:", 0x8002001Bu, nullptr},
      {"retc=0:cam.hldm.example:203.0.113.5555:", 0x8002001Bu, nullptr},
      {"retc=0:cam.hldm.example:1234567890123456:", 0x8002001Bu, nullptr},
      {"retc=0:cam.hldm.example:not-an-ip:", 0x8002001Bu, nullptr},
      {"retc=0:cam.hldm.example:", 0x8002001Bu, nullptr},
      {"cam.hldm.example retc=0", 0x8002001Bu, nullptr},  // the address would start past the end
      {"retc=2:", 0x80020008u, nullptr},
      {"retc=3:", 0x80020009u, nullptr},
      {"retc=4:", 0x8002000Au, nullptr},
      {"retc=4:retc=2:", 0x80020008u, nullptr},
      {"retc=1:", 0x8002000Du, nullptr},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.reply);
    std::snprintf(c->szResponse, sizeof c->szResponse, "%s", k.reply);
    uint32_t address = 0xDEADBEEF;
    CaptureOut(
        [&] { EXPECT_EQ(DDNSClient_ProcessResponse_HLDMRegister(c.context, &address), k.result); });
    if (k.address) {
      EXPECT_EQ(address, inet_addr(k.address));
    } else {
      EXPECT_EQ(address, 0xDEADBEEFu);
    }
  }
  uint32_t address;
  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_ProcessResponse_HLDMRegister(nullptr, &address), 0x80010006u);
            }),
            "[DDNSClient_ProcessResponse_HLDMRegister] Invalid arguments\r\n");
  std::snprintf(c->szResponse, sizeof c->szResponse, "retc=0:cam.hldm.example:203.0.113.5:x");
  EXPECT_EQ(CaptureOut([&] { DDNSClient_ProcessResponse_HLDMRegister(c.context, &address); }),
            "pcPtr = :x\n");
}

TEST(HLDMParsers, RegisterTakesEveryHostNameTheSettingsAccept) {
  // 126 and 127 characters: the whole name counts in the prefix.
  for (size_t length : {1u, 126u, 127u}) {
    SCOPED_TRACE(length);
    Client c;
    ASSERT_EQ(c.result, 0u);
    std::string host(length, 'n');
    DDNSClientSettings s = ddnstest::HLDMSettings(host, "a@b.c", "k", "127.0.0.1", 0x11E);
    ASSERT_EQ(DDNSClient_ProcessRegisterSettings(c.context, &s), 0u);
    ASSERT_EQ(std::string(c->szHLDMHostName), host);
    std::snprintf(c->szResponse, sizeof c->szResponse, "retc=0:%s:198.51.100.23:", host.c_str());
    uint32_t address = 0;
    CaptureOut(
        [&] { EXPECT_EQ(DDNSClient_ProcessResponse_HLDMRegister(c.context, &address), 0u); });
    EXPECT_EQ(address, inet_addr("198.51.100.23"));
  }
}

// ---- One exchange against a scripted server (any loopback port) -------------

TEST(HLDMExchange, SendsTheEncodedRequestAndReadsTheReply) {
  const int fds = nrtest::CountOpenFds();
  {
    Client c;
    ASSERT_EQ(c.result, 0u);
    SetHLDMFields(c.context);
    HLDMServer h;
    h.reply = "retc=0:cam.hldm.example:203.0.113.5:";
    ScriptServer server(h.Script());
    ASSERT_TRUE(server.ok());
    EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "127.0.0.1", server.port(), 5,
                                              HLDM_REQUEST_REGISTER),
              0u);
    EXPECT_STREQ(c->szResponse, "retc=0:cam.hldm.example:203.0.113.5:");
    EXPECT_STREQ(c->szSalt, "abcdefghij");
    std::lock_guard<std::mutex> lock(h.mu);
    ASSERT_EQ(h.requests.size(), 1u);
    EXPECT_EQ(h.requests[0],
              "salt=abcdefghij&MAC=024D52A1B2C3&email=owner@example.com&key=secret&hostname=cam."
              "hldm.example"
              "&firmwareversion=IPCAM");
  }
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(HLDMExchange, AReplyFillingTheBufferStillClosesTheSocket) {
  const int fds = nrtest::CountOpenFds();
  Client c;
  ASSERT_EQ(c.result, 0u);
  SetHLDMFields(c.context);
  HLDMServer h;
  h.reply = "retc=0:" + std::string(5840 - 7, 'x');
  h.close_after_reply = false;
  {
    ScriptServer server(h.Script());
    ASSERT_TRUE(server.ok());
    EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "127.0.0.1", server.port(), 5,
                                              HLDM_REQUEST_CHECK_IP),
              0u);
    EXPECT_EQ(std::strlen(c->szResponse), 5840u);
    for (int i = 0; i < 100 && h.client_closed.empty(); ++i) usleep(20000);
  }
  std::lock_guard<std::mutex> lock(h.mu);
  ASSERT_EQ(h.client_closed.size(), 1u);
  EXPECT_TRUE(h.client_closed[0]) << "the server saw the client close";
  EXPECT_EQ(nrtest::CountOpenFds(), fds + 0);
}

TEST(HLDMExchange, NetworkFailures) {
  struct Case {
    const char *what;
    std::string greeting;
    uint32_t result;
  };
  const Case cases[] = {
      {"10-byte greeting", "abcdefghij", 0x80020010u},
      {"12-byte greeting", "abcdefghij\r\n", 0x80020010u},
      {"closed at once", "", 0x80020010u},
  };
  const int fds = nrtest::CountOpenFds();
  for (const Case &k : cases) {
    SCOPED_TRACE(k.what);
    Client c;
    ASSERT_EQ(c.result, 0u);
    SetHLDMFields(c.context);
    std::string greeting = k.greeting;
    ScriptServer server([greeting](int fd, const std::string &, int) {
      if (greeting.empty()) return;
      nrtest::SendAll(fd, greeting);
      nrtest::ReadLine(fd, 3000);
    });
    ASSERT_TRUE(server.ok());
    CaptureOut([&] {
      EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "127.0.0.1", server.port(), 5,
                                                HLDM_REQUEST_CHECK_HOSTNAME),
                k.result);
    });
  }
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(HLDMExchange, AReplyThatNeverEndsIsNoReply) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  SetHLDMFields(c.context);
  HLDMServer h;
  h.close_after_reply = false;
  ScriptServer server(h.Script());
  ASSERT_TRUE(server.ok());
  const auto start = std::chrono::steady_clock::now();
  CaptureOut([&] {
    EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "127.0.0.1", server.port(), 2,
                                              HLDM_REQUEST_REQUEST_KEY),
              0x80020011u);
  });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 1.0 - 0.05);  // the clocks' granularity
  EXPECT_LT(seconds, 4.0);
}

TEST(HLDMExchange, RequestsOf247CharactersAreNotSent) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  SetHLDMFields(c.context);
  // The register text with a 100-character host name and no key, then a
  // key that makes it 246, 247 or 248 characters long.
  char buffer[249];
  std::strcpy(c->szHLDMHostName, std::string(100, 'h').c_str());
  std::strcpy(c->szHLDMKey, "");
  DDNSClient_ComposeHLDMRegisterRequest(c.context, buffer, sizeof buffer);
  const size_t base = std::strlen(buffer);
  for (size_t total : {246u, 247u, 248u}) {
    SCOPED_TRACE(total);
    std::string key(total - base, 'k');
    ASSERT_LT(key.size(), 64u);
    std::strcpy(c->szHLDMKey, key.c_str());
    DDNSClient_ComposeHLDMRegisterRequest(c.context, buffer, sizeof buffer);
    ASSERT_EQ(std::strlen(buffer), total);
    HLDMServer h;
    ScriptServer server(h.Script());
    ASSERT_TRUE(server.ok());
    std::string out = CaptureOut([&] {
      EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "127.0.0.1", server.port(), 5,
                                                HLDM_REQUEST_REGISTER),
                total == 246 ? 0u : 0x80010006u);
    });
    for (int i = 0; i < 100 && server.connections() > 0 && h.requests.empty(); ++i) usleep(20000);
    std::lock_guard<std::mutex> lock(h.mu);
    ASSERT_EQ(h.requests.size(), 1u);
    if (total == 246) {
      EXPECT_EQ(h.requests[0].size(), 246u);
    } else {
      EXPECT_EQ(h.requests[0], "") << "nothing was sent";
      EXPECT_EQ(out, "[DDNSClient_Communicate_HLDM_TCP] Encode:Require output size = 500\r\n");
    }
  }
}

TEST(HLDMExchange, ArgumentChecks) {
  Client c;
  ASSERT_EQ(c.result, 0u);
  EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(nullptr, "127.0.0.1", 3495, 5, 0), 0x80010006u);
  EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "", 3495, 5, 0), 0x80010006u);
  EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "127.0.0.1", 3495, 5, 6), 0x80010006u);
  CaptureOut([&] {
    EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "127.0.0.1", 1, 5, 0), 0x80020010u);
  });
}

// ---- Operations on port 3495 (test world) -------------------------------------

TEST(HLDMOperations, CheckIPUpdateOfflineAndNulls) {
  NAMREG_REQUIRE_SANDBOX();
  Client c;
  ASSERT_EQ(c.result, 0u);
  SetHLDMFields(c.context);
  std::strcpy(c->szHLDMServerName, "127.0.0.1");
  HLDMServer h;
  ScriptServer server(h.Script(), 3495);
  ASSERT_TRUE(server.ok());

  h.reply = "retc=0:198.51.100.7:";
  EXPECT_EQ(DDNSClient_CheckIP_HLDM(c.context), 0u);
  EXPECT_STREQ(c->szCurrentIP, "198.51.100.7");
  h.reply = "retc=1:";
  EXPECT_EQ(DDNSClient_CheckIP_HLDM(c.context), 0xFFFFFFFFu);
  EXPECT_STREQ(c->szCurrentIP, "198.51.100.7") << "a failed check keeps the address";

  h.reply = "retc=0:";
  EXPECT_EQ(DDNSClient_Update_HLDM(c.context), 0u);
  h.reply = "retc=2:";
  EXPECT_EQ(DDNSClient_Offline_HLDM(c.context), 0u);
  h.reply = "retc=0:";
  EXPECT_EQ(DDNSClient_Offline_HLDM(c.context), 0x8002000Du);
  {
    std::lock_guard<std::mutex> lock(h.mu);
    ASSERT_EQ(h.requests.size(), 5u);
    EXPECT_EQ(h.requests[0], "checkIP&abcdefghij");
    EXPECT_EQ(h.requests[2],
              "abcdefghij:024D52A1B2C3:972ebf595f86ec155eb21d334d7c545d:cam.dyn.example:IPCAM:0:"
              "198.51.100.7");
    EXPECT_EQ(h.requests[3],
              "abcdefghij:024D52A1B2C3:972ebf595f86ec155eb21d334d7c545d:cam.hldm.example:IPCAM:1");
  }
  using Op = uint32_t (*)(DDNSClientContext *);
  const std::pair<Op, const char *> nulls[] = {
      {DDNSClient_CheckIP_HLDM, "[DDNSClient_CheckIP_HLDM] Invalid arguments\r\n"},
      {DDNSClient_Update_HLDM, "[DDNSClient_Update_HLDM] Invalid arguments\r\n"},
      {DDNSClient_RequestKey_HLDM, "[DDNSClient_RequestKey_HLDM] Invalid arguments\r\n"},
      {DDNSClient_CheckHostname_HLDM, "[DDNSClient_CheckHostname_HLDM] Invalid arguments\r\n"},
      {DDNSClient_Offline_HLDM, ""},
  };
  for (const auto &n : nulls)
    EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(n.first(nullptr), 0x80010006u); }), n.second);
  uint32_t address;
  EXPECT_EQ(
      CaptureOut([&] { EXPECT_EQ(DDNSClient_Register_HLDM(c.context, nullptr), 0x80010006u); }),
      "[DDNSClient_Register_HLDM] Invalid arguments\r\n");
  EXPECT_EQ(DDNSClient_Register_HLDM(nullptr, &address), 0x80010006u);
}

TEST(HLDMOperations, LostRegisterReplyIsConfirmedByDNSAndCheckIP) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  nrtest::FakeDns dns(
      nrtest::Names{{"cam.hldm.example", "127.0.0.1"}, {"moved.hldm.example", "192.0.2.1"}});
  ASSERT_TRUE(dns.ok());
  // Register: a reset instead of the reply; check IP: the peer address.
  ScriptServer server(
      [](int fd, const std::string &, int) {
        nrtest::SendAll(fd, "abcdefghij\n");
        std::string request = DecodeLine(nrtest::ReadLine(fd));
        if (request.rfind("checkIP&", 0) == 0) {
          nrtest::SendAll(fd, "retc=0:127.0.0.1:");
          return;
        }
        linger l{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      },
      3495);
  ASSERT_TRUE(server.ok());
  const int fds = nrtest::CountOpenFds();
  Client c;
  ASSERT_EQ(c.result, 0u);
  SetHLDMFields(c.context);
  std::strcpy(c->szHLDMServerName, "127.0.0.1");
  uint32_t address = 0;
  CaptureOut([&] { EXPECT_EQ(DDNSClient_Register_HLDM(c.context, &address), 0u); });
  EXPECT_EQ(address, inet_addr("127.0.0.1"));
  EXPECT_EQ(server.connections(), 2);

  std::strcpy(c->szHLDMHostName, "moved.hldm.example");
  address = 0;
  CaptureOut([&] { EXPECT_EQ(DDNSClient_Register_HLDM(c.context, &address), 0x80020011u); });
  EXPECT_EQ(address, 0u);
  std::strcpy(c->szHLDMHostName, "unknown.hldm.example");
  CaptureOut([&] { EXPECT_EQ(DDNSClient_Register_HLDM(c.context, &address), 0x80020011u); });
  DDNSClient_Release(&c.context);
  EXPECT_TRUE(server.WaitIdle());
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

// A service that registered the camera but never ends its reply: the wait
// for the reply stops early enough to leave the confirmation (the host
// name's DNS answer, then a check-IP exchange) its share of the budget.
TEST(HLDMPublic, RegisterWhoseReplyNeverEndsIsConfirmedWithinTheBudget) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  nrtest::FakeDns dns(nrtest::Names{{"cam.hldm.example", "127.0.0.1"}});
  ASSERT_TRUE(dns.ok());
  nrtest::SimProcess sim;
  ASSERT_TRUE(sim.Start("tools/hldm-sim/hldm-sim",
                        {"--max-seconds", "60", "--mode", "no-close", "--only", "register"}));
  nrtest::VirtualClock clock;  // the reply's silent tail passes at once
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s =
      ddnstest::HLDMSettings("cam.hldm.example", "owner@example.com", "key", "127.0.0.1", 0x11E);
  uint32_t address = 0;
  CaptureOut([&] { EXPECT_EQ(DDNSClient_HLDMRegister(c.context, &s, 30, &address), 0u); });
  EXPECT_EQ(address, inet_addr("127.0.0.1"));
  EXPECT_LE(clock.ElapsedMs(), 31000u);
  EXPECT_GE(clock.ElapsedMs(), 24900u) << "the reply was waited for until its share ended";
  EXPECT_EQ(dns.queries().size(), 1u) << "the host name was looked up";
  const std::vector<std::string> lines = sim.Lines(2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("checkIP&"), std::string::npos) << lines[1];
}

// A greeting whose salt holds a control byte: the request is not sent.
TEST(HLDMExchange, ASaltWithAControlByteSendsNoRequest) {
  NAMREG_REQUIRE_SANDBOX();
  HLDMServer h;
  h.greeting =
      "abc\x01"
      "efghij\n";
  ScriptServer server(h.Script(), 3495);
  ASSERT_TRUE(server.ok());
  Client c;
  ASSERT_EQ(c.result, 0u);
  SetHLDMFields(c.context);
  CaptureOut([&] {
    EXPECT_EQ(DDNSClient_Communicate_HLDM_TCP(c.context, "127.0.0.1", 3495, 2, 2), 0x80010006u);
  });
  EXPECT_TRUE(server.WaitIdle());
  ASSERT_EQ(h.requests.size(), 1u);
  EXPECT_EQ(h.requests[0], "") << "nothing came after the greeting";
}

TEST(HLDMPublic, RetriesNetworkErrorsUntilTheTimeOut) {
  NAMREG_REQUIRE_SANDBOX();
  ScriptServer server(
      [](int fd, const std::string &, int) {
        nrtest::SendAll(fd, "abcdefghij\r\n");
        nrtest::ReadLine(fd, 1000);
      },
      3495);
  ASSERT_TRUE(server.ok());
  const int fds = nrtest::CountOpenFds();
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s = ddnstest::HLDMSettings("cam.hldm.example", "", "", "127.0.0.1", 0x106);
  const auto start = std::chrono::steady_clock::now();
  CaptureOut([&] { EXPECT_EQ(DDNSClient_HLDMCheckHostname(c.context, &s, 3), 0x80020010u); });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 3.0 - 0.05);  // the clocks' granularity
  EXPECT_LT(seconds, 6.0);
  EXPECT_GE(server.connections(), 2) << "retried";
  EXPECT_EQ(c->dwNetworkTimeout, 3u);
  EXPECT_TRUE(server.WaitIdle());
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(HLDMPublic, DefaultTimeOutsAndNoRetryOnOtherResults) {
  NAMREG_REQUIRE_SANDBOX();
  HLDMServer h;
  h.reply = "retc=1:";
  ScriptServer server(h.Script(), 3495);
  ASSERT_TRUE(server.ok());
  const int fds = nrtest::CountOpenFds();
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s =
      ddnstest::HLDMSettings("cam.hldm.example", "a@b.c", "k", "127.0.0.1", 0x11E);
  EXPECT_EQ(DDNSClient_HLDMRequestKey(c.context, &s, 0), 0x8002000Cu);
  EXPECT_EQ(c->dwNetworkTimeout, 20u);
  EXPECT_EQ(DDNSClient_HLDMCheckHostname(c.context, &s, 0), 0x70010002u);
  EXPECT_EQ(c->dwNetworkTimeout, 20u);
  EXPECT_EQ(DDNSClient_HLDMOffline(c.context, &s, 0), 0x8002000Du);
  EXPECT_EQ(c->dwNetworkTimeout, 20u);
  uint32_t address = 0;
  EXPECT_EQ(DDNSClient_HLDMRegister(c.context, &s, 0, &address), 0x8002000Du);
  EXPECT_EQ(c->dwNetworkTimeout, 30u);
  EXPECT_EQ(server.connections(), 4);
  EXPECT_TRUE(server.WaitIdle());
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(HLDMPublic, ServerNameThatCannotBeCheckedFailsAtOnce) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  nrtest::FakeDns silent(nrtest::NoAnswer());
  ASSERT_TRUE(silent.ok());
  Client c;
  ASSERT_EQ(c.result, 0u);
  DDNSClientSettings s =
      ddnstest::HLDMSettings("cam.hldm.example", "a@b.c", "k", "hldm.example", 0x11E);
  uint32_t address = 0;
  const auto start = std::chrono::steady_clock::now();
  CaptureOut([&] { EXPECT_EQ(DDNSClient_HLDMRegister(c.context, &s, 30, &address), 0x80020010u); });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0) << "one 2-second name check, no retry";
  EXPECT_EQ(silent.queries().size(), 1u);
}

}  // namespace
