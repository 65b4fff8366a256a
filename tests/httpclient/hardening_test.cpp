// SPDX-License-Identifier: MIT
// The synchronous client against hostile or broken peers: name servers that
// never answer must not stretch the call past its budget, a challenge must
// not smuggle header lines into the next request, and a record nobody
// started is not run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "fake_dns.h"
#include "httpclient_internal.h"
#include "namreg/httpclient.h"
#include "output_capture.h"
#include "peers.h"
#include "testworld.h"

namespace {

using nrtest::ScriptServer;

struct Client {
  HTTPClientHandle h = nullptr;
  HTTPClientInfo info{};
  std::vector<char> buffer = std::vector<char>(2048, 'X');

  Client(const char *host, uint16_t port, uint32_t budget_seconds) {
    EXPECT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    strcpy(info.tServer.szHost, host);
    info.tServer.dwPort = port;
    strcpy(info.szURI, "/nic/update");
    info.dwTotalTimeout = budget_seconds * 1000000u;
    info.pRecvBuffer = buffer.data();
    info.dwRecvSize = static_cast<uint32_t>(buffer.size());
  }
  ~Client() { EXPECT_EQ(HTTPClient_Release(&h), 0u); }
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Two name servers that never answer: whatever the budget, the call ends
// within it (plus scheduling slack), each query getting min(time left, 3) s.
class HttpSilentNameServers : public testing::TestWithParam<uint32_t> {};

TEST_P(HttpSilentNameServers, ResolutionEndsWithTheBudget) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns first, second;
  std::string error;
  ASSERT_TRUE(first.Start("127.0.0.1", nrtest::NoAnswer(), &error)) << error;
  ASSERT_TRUE(second.Start("127.0.0.2", nrtest::NoAnswer(), &error)) << error;
  nrtest::WriteResolvConf("nameserver 127.0.0.1\nnameserver 127.0.0.2\n");
  const uint32_t budget = GetParam();
  const int fds = nrtest::CountOpenFds();
  {
    Client c("www.silent.example", 80, budget);
    const auto start = std::chrono::steady_clock::now();
    const uint32_t r = HTTPClient_Get(c.h, &c.info);
    const double seconds = SecondsSince(start);
    EXPECT_TRUE(r == HTTPCLIENT_E_RESOLVE || r == HTTPCLIENT_E_CONNECT_TIMEOUT) << std::hex << r;
    EXPECT_LT(seconds, budget + 0.5) << "budget " << budget << " s";
    // The first query had the whole seconds left when it started: min(budget,
    // 3), or one less once a millisecond of the budget had gone.
    const double share = (budget < 3 ? budget : 3) - 1.0;
    if (share > 0) {
      EXPECT_GE(seconds, share - 0.2);
    }
  }
  // With a 1 s budget a millisecond already spent leaves no whole second,
  // and the name is not asked at all.
  if (budget >= 2) {
    EXPECT_EQ(first.queries().size(), 1u);
  }
  EXPECT_LE(first.queries().size(), 1u);
  // The second server is asked only when a whole second is left after the
  // first (with 4 s that depends on a few milliseconds either way).
  if (budget < 4) {
    EXPECT_EQ(second.queries().size(), 0u);
  }
  EXPECT_LE(second.queries().size(), 1u);
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

INSTANTIATE_TEST_SUITE_P(Budgets, HttpSilentNameServers, testing::Values(1u, 2u, 4u));

// A challenge value holding a line break (bare LF or CR) is dropped whole:
// the answer fails as a challenge without realm and nonce, and no second
// request (which would carry the injected line) is sent.
TEST(HttpHardening, ChallengeWithALineBreakSendsNoSecondRequest) {
  const char *const challenges[] = {
      "Digest realm=\"lab\nX-Inj: 1\", nonce=\"abc\", qop=\"auth\"",
      "Digest realm=\"lab\", nonce=\"abc\rX-Inj: 1\"",
      "Digest realm=\"lab\", nonce=\"abc\", qop=\"auth\nX-Inj: 1\"",
  };
  for (const char *challenge : challenges) {
    ScriptServer server;
    ASSERT_TRUE(server.Start(
        [challenge](int fd, const std::string &, int) {
          nrtest::SendAll(fd, std::string("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: ") +
                                  challenge + "\r\nContent-Length: 0\r\n\r\n");
        },
        "127.0.0.1", 0, ScriptServer::Read::kHttpRequest));
    {
      Client c("127.0.0.1", server.port(), 5);
      strcpy(c.info.tServer.szUser, "user");
      strcpy(c.info.tServer.szPassword, "pass");
      nrtest::StdoutCapture out;
      EXPECT_EQ(HTTPClient_Get(c.h, &c.info), HTTPCLIENT_E_DIGEST_PARAM) << challenge;
      fflush(stdout);
      EXPECT_NE(out.Take().find("ServerDigest missing some param"), std::string::npos);
    }
    server.WaitIdle();
    for (const std::string &request : server.requests()) {
      EXPECT_EQ(request.find("X-Inj"), std::string::npos) << request;
      EXPECT_EQ(request.find("Authorization"), std::string::npos) << request;
    }
    // At most the retry's connection, on which nothing was sent.
    ASSERT_GE(server.requests().size(), 1u);
    for (size_t i = 1; i < server.requests().size(); ++i) EXPECT_EQ(server.requests()[i], "");
  }
}

// The parser itself: a clean challenge is kept, one with a line break in any
// value leaves the side's challenge empty.
TEST(HttpHardening, ChallengeParserRefusesLineBreaks) {
  HTTPClientHandle h = nullptr;
  ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
  HTTPClient_ParseDigestChallenge(h, "realm=\"lab\", nonce=\"n1\", qop=\"auth\"\r\n",
                                  HTTPCLIENT_SIDE_SERVER);
  EXPECT_STREQ(h->tServerDigest.szRealm, "lab");
  EXPECT_STREQ(h->tServerDigest.szNonce, "n1");
  for (const char *challenge :
       {"realm=\"l\nab\", nonce=\"n1\"\r\n", "realm=\"lab\", nonce=\"n\r1\"\r\n",
        "realm=\"lab\", nonce=\"n1\", qop=\"au\nth\"\r\n"}) {
    HTTPClient_ParseDigestChallenge(h, challenge, HTTPCLIENT_SIDE_PROXY);
    EXPECT_STREQ(h->tProxyDigest.szRealm, "") << challenge;
    EXPECT_STREQ(h->tProxyDigest.szNonce, "") << challenge;
    EXPECT_STREQ(h->tProxyDigest.szQop, "") << challenge;
  }
  EXPECT_STREQ(h->tServerDigest.szRealm, "lab") << "the other side is left alone";
  EXPECT_EQ(HTTPClient_Release(&h), 0u);
}

// HTTPClient_Run on a record that HTTPClient_Start did not start is refused:
// nothing is sent and the record stays idle for a real request.
TEST(HttpHardening, RunRefusesARecordNobodyStarted) {
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
    nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  }));
  Client c("127.0.0.1", server.port(), 5);
  EXPECT_EQ(HTTPClient_Run(c.h, &c.info, HTTPCLIENT_MODE_SYNC, HTTPCLIENT_METHOD_GET),
            HTTPCLIENT_E_STATE_ARGS);
  usleep(200 * 1000);
  EXPECT_EQ(server.connections(), 0);
  EXPECT_EQ(HTTPClient_Get(c.h, &c.info), HTTPCLIENT_I_CONTENT_COMPLETE);
  EXPECT_EQ(std::string(c.buffer.data(), c.info.dwRecvSize), "ok");
}

}  // namespace
