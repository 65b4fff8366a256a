// SPDX-License-Identifier: MIT
// The client against hostile or broken peers and hostile caller text: name
// servers that never answer must not stretch the call past its budget, a
// challenge must not smuggle header lines into the next request, a text
// with a control byte is refused before anything is sent, and a record
// nobody started is not run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "async_host.h"
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

// A request whose texts could carry lines of their own is refused before
// any connection, by every entry, and the record stays idle.  Texts the
// request does not carry (User-Agent, Referer and Content-Type under extra
// header text; the proxy block without a proxy) are not looked at.
TEST(HttpHardening, ControlBytesInRequestTextsAreRefusedBeforeConnecting) {
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
    nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  }));
  struct {
    const char *name;
    std::function<void(HTTPClientInfo *)> mutate;
    bool refused;
    bool tunnel_request_refused;  // the tunnelled request composes its own header block
  } const cases[] = {
      {"clean", [](HTTPClientInfo *) {}, false, false},
      {"host with LF", [](HTTPClientInfo *i) { strcpy(i->tServer.szHost, "127.0.0.1\n"); }, true,
       true},
      {"URI with CR LF", [](HTTPClientInfo *i) { strcpy(i->szURI, "/t?a=1\r\nX-Inj: 1"); }, true,
       true},
      {"URI with DEL", [](HTTPClientInfo *i) { strcpy(i->szURI, "/t?a=\x7f"); }, true, true},
      {"URI with a tab", [](HTTPClientInfo *i) { strcpy(i->szURI, "/t?a=\tb"); }, true, true},
      {"User-Agent", [](HTTPClientInfo *i) { strcpy(i->szUserAgent, "cam\x01"); }, true, false},
      {"Referer", [](HTTPClientInfo *i) { strcpy(i->szReferer, "http://r/\n"); }, true, false},
      {"Content-Type", [](HTTPClientInfo *i) { strcpy(i->szContentType, "text/plain\r"); }, true,
       false},
      {"server user", [](HTTPClientInfo *i) { strcpy(i->tServer.szUser, "u\r\nX-Inj: 1"); }, true,
       true},
      {"server password", [](HTTPClientInfo *i) { strcpy(i->tServer.szPassword, "p\x1b"); }, true,
       true},
      {"proxy host",
       [](HTTPClientInfo *i) {
         i->dwUseProxy = 1;
         i->tProxy.dwPort = 3128;
         strcpy(i->tProxy.szHost, "proxy\n");
       },
       true, true},
      {"proxy password",
       [](HTTPClientInfo *i) {
         i->dwUseProxy = 1;
         i->tProxy.dwPort = 3128;
         strcpy(i->tProxy.szHost, "127.0.0.1");
         strcpy(i->tProxy.szPassword, "p\n");
       },
       true, true},
      {"proxy user, no proxy used", [](HTTPClientInfo *i) { strcpy(i->tProxy.szUser, "u\n"); },
       false, false},
      {"extra header with CR LF line ends",
       [](HTTPClientInfo *i) { strcpy(i->szExtraHeader, "A: 1\r\nB: 2\r\n"); }, false, false},
      {"extra header with a bare LF",
       [](HTTPClientInfo *i) { strcpy(i->szExtraHeader, "A: 1\nB: 2"); }, true, false},
      {"extra header with a bare CR",
       [](HTTPClientInfo *i) { strcpy(i->szExtraHeader, "A: 1\rB: 2\r\n"); }, true, false},
      {"extra header with a blank line inside",
       [](HTTPClientInfo *i) { strcpy(i->szExtraHeader, "A: 1\r\n\r\nGET /x HTTP/1.1\r\n"); }, true,
       false},
      {"extra header starting with a blank line",
       [](HTTPClientInfo *i) { strcpy(i->szExtraHeader, "\r\nA: 1\r\n"); }, true, false},
      {"extra header with a NUL-free control byte",
       [](HTTPClientInfo *i) { strcpy(i->szExtraHeader, "A: 1\x02\r\n"); }, true, false},
      {"User-Agent not sent under extra header",
       [](HTTPClientInfo *i) {
         strcpy(i->szExtraHeader, "A: 1\r\n");
         strcpy(i->szUserAgent, "cam\n");
       },
       false, false},
  };
  static char buffer[64];
  auto base = [&server] {
    HTTPClientInfo info{};
    strcpy(info.tServer.szHost, "127.0.0.1");
    info.tServer.dwPort = server.port();
    strcpy(info.szURI, "/t?a=1");
    info.dwTotalTimeout = 3000000;
    info.dwConnectTimeout = info.dwSendTimeout = info.dwRecvTimeout = 1000000;
    info.pRecvBuffer = buffer;
    info.dwRecvSize = sizeof(buffer);
    return info;
  };
  using Entry = std::function<uint32_t(HTTPClientHandle, HTTPClientInfo *)>;
  static const HTTPClientTunnelRequest kRequest = {0, 1000000, "data", 4, -1, 1};
  const struct {
    const char *name;
    Entry entry;
    bool tunnel_request;
  } entries[] = {
      {"HTTPClient_Get", [](HTTPClientHandle h, HTTPClientInfo *i) { return HTTPClient_Get(h, i); },
       false},
      {"HTTPClient_AsyncPost",
       [](HTTPClientHandle h, HTTPClientInfo *i) {
         i->pBody = "x";
         i->dwBodyLength = 1;
         return HTTPClient_AsyncPost(h, i);
       },
       false},
      {"HTTPClient_AsyncTunnelOpen",
       [](HTTPClientHandle h, HTTPClientInfo *i) { return HTTPClient_AsyncTunnelOpen(h, i); },
       false},
      {"HTTPClient_AsyncTunnelRequest",
       [](HTTPClientHandle h, HTTPClientInfo *i) {
         return HTTPClient_AsyncTunnelRequest(h, i, &kRequest);
       },
       true},
  };
  for (const auto &e : entries) {
    for (const auto &k : cases) {
      const bool refused = e.tunnel_request ? k.tunnel_request_refused : k.refused;
      if (!refused && std::string(k.name) != "clean") continue;  // the accepted ones below
      SCOPED_TRACE(std::string(e.name) + ": " + k.name);
      HTTPClientHandle h = nullptr;
      ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
      HTTPClientInfo info = base();
      k.mutate(&info);
      const int before = server.connections();
      const uint32_t r = e.entry(h, &info);
      if (refused) {
        EXPECT_EQ(r, HTTPCLIENT_E_UNSAFE_TEXT) << std::hex << r;
        EXPECT_EQ(h->dwState, 0u);
        EXPECT_EQ(h->dwOperation, 0u);
      } else if (r == 0 && h->dwOperation != 0) {
        nrtest::AsyncHost host(h);
        EXPECT_TRUE(host.Run());
      }
      EXPECT_EQ(HTTPClient_Release(&h), 0u);
      server.WaitIdle();
      if (refused) {
        EXPECT_EQ(server.connections(), before) << "nothing may reach the peer";
      } else {
        EXPECT_GT(server.connections(), before);
      }
    }
  }
  // The requests that carry no hostile text go out (synchronous GET).
  for (const auto &k : cases) {
    if (k.refused) continue;
    SCOPED_TRACE(k.name);
    HTTPClientHandle h = nullptr;
    ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    HTTPClientInfo info = base();
    k.mutate(&info);
    EXPECT_EQ(HTTPClient_Get(h, &info), HTTPCLIENT_I_CONTENT_COMPLETE);
    EXPECT_EQ(HTTPClient_Release(&h), 0u);
    server.WaitIdle();
    const std::string sent = server.requests().back();
    EXPECT_EQ(sent.find("\n\n"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("cam\n"), std::string::npos) << sent;
  }
}

// A Basic user name holding ':' cannot be sent unambiguously: the request
// is refused where the credentials line is composed, and nothing more goes
// out.  Digest quotes the name and sends it.
TEST(HttpHardening, BasicUserWithAColonIsRefusedWhereTheLineIsComposed) {
  const char kBasic401[] =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
      "Content-Length: 0\r\n\r\n";
  const char kDigest401[] =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
      "Content-Length: 0\r\n\r\n";
  struct {
    const char *name;
    uint32_t scheme;     // asked for from the start
    const char *answer;  // to a request without credentials
    uint32_t result;
    size_t requests;     // connections the server saw
    const char *second;  // the last request's credentials line (prefix), or "" for nothing sent
  } const cases[] = {
      {"Basic from the start", HTTPCLIENT_AUTH_BASIC, kBasic401, HTTPCLIENT_E_UNSAFE_TEXT, 1, ""},
      {"Basic after a 401", HTTPCLIENT_AUTH_NONE, kBasic401, HTTPCLIENT_E_UNSAFE_TEXT, 2, ""},
      {"Digest after a 401", HTTPCLIENT_AUTH_NONE, kDigest401, HTTPCLIENT_E_HTTP_401, 4,
       "Authorization: Digest username=\"cam:1\""},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    ScriptServer server;
    const std::string answer = k.answer;
    ASSERT_TRUE(
        server.Start([answer](int fd, const std::string &, int) { nrtest::SendAll(fd, answer); }));
    {
      Client c("127.0.0.1", server.port(), 5);
      strcpy(c.info.tServer.szUser, "cam:1");
      strcpy(c.info.tServer.szPassword, "pass");
      c.info.tServer.dwAuthScheme = k.scheme;
      EXPECT_EQ(HTTPClient_Get(c.h, &c.info), k.result) << std::hex;
    }
    server.WaitIdle();
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), k.requests);
    if (k.requests == 2) {
      EXPECT_EQ(requests[0].find("Authorization"), std::string::npos);
    }
    if (k.second[0] == '\0') {
      EXPECT_EQ(requests.back(), "");
    } else {
      EXPECT_NE(requests.back().find(k.second), std::string::npos) << requests.back();
    }
  }
}

// An asynchronous host may set the credentials in its callback of a 401;
// they are checked where the credentials line is composed.
TEST(HttpHardening, CredentialsSetDuringA401AreCheckedToo) {
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
    nrtest::SendAll(fd,
                    "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                    "Content-Length: 0\r\n\r\n");
  }));
  {
    Client c("127.0.0.1", server.port(), 5);
    c.info.dwConnectTimeout = c.info.dwSendTimeout = c.info.dwRecvTimeout = 2000000;
    nrtest::AsyncHost host(c.h);
    host.hook = [](uint32_t event, void *data, HTTPClientHandle) {
      if (event != HTTPCLIENT_EVENT_SERVER_AUTH) return;
      auto *side = static_cast<HTTPClientEndpoint *>(data);
      strcpy(side->szUser, "cam");
      strcpy(side->szPassword, "pass\r\nX-Inj: 1");
    };
    ASSERT_EQ(HTTPClient_AsyncGet(c.h, &c.info), 0u);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(host.events, (std::vector<uint32_t>{HTTPCLIENT_EVENT_SERVER_AUTH, 0}));
    EXPECT_EQ(host.codes, std::vector<uint32_t>{HTTPCLIENT_E_UNSAFE_TEXT});
  }
  server.WaitIdle();
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[1], "");
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
