// SPDX-License-Identifier: MIT
// Whole synchronous exchanges against scripted peers on loopback: what a
// real server will not produce (odd statuses, cut headers, silence...).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "httpclient_internal.h"
#include "namreg/httpclient.h"
#include "output_capture.h"
#include "peers.h"
#include "http_peers.h"
#include "testworld.h"

namespace {

using nrtest::ScriptServer;

struct Exchange {
  HTTPClientHandle h = nullptr;
  HTTPClientInfo info{};
  std::vector<char> buffer;
  int fds_before = 0;

  explicit Exchange(uint16_t port, size_t capacity = 5840) : buffer(capacity, 'X') {
    fds_before = nrtest::CountOpenFds();
    EXPECT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    strcpy(info.tServer.szHost, "127.0.0.1");
    info.tServer.dwPort = port;
    strcpy(info.szURI, "/page");
    strcpy(info.szUserAgent, "test-agent");
    info.dwTotalTimeout = 10 * 1000000u;
    info.pRecvBuffer = buffer.data();
    info.dwRecvSize = static_cast<uint32_t>(capacity);
  }
  ~Exchange() {
    EXPECT_EQ(HTTPClient_Release(&h), 0u);
    // The scripted peer (a thread of this process) closes its end of the
    // connection right after its script; allow it a moment.
    for (int i = 0; i < 100 && nrtest::CountOpenFds() != fds_before; ++i) usleep(10000);
    EXPECT_EQ(nrtest::CountOpenFds(), fds_before) << "a descriptor was left open";
  }
  // The receive size is in/out: each call starts from the whole capacity.
  uint32_t Get() {
    info.dwRecvSize = static_cast<uint32_t>(buffer.size());
    return HTTPClient_Get(h, &info);
  }
  std::string Body() const { return std::string(info.pRecvBuffer, info.dwRecvSize); }
};

using nrtest::Md5Hex;

ScriptServer::Script Reply(std::string text) {
  return [text](int fd, const std::string &, int) { nrtest::SendAll(fd, text); };
}

TEST(HttpScripted, PlainGetStoresTheBodyTerminated) {
  ScriptServer server;
  ASSERT_TRUE(
      server.Start(Reply("HTTP/1.1 200 OK\r\nContent-Length: 11\r\nServer: S\r\n\r\nhello world")));
  Exchange ex(server.port());
  EXPECT_EQ(ex.Get(), HTTPCLIENT_I_CONTENT_COMPLETE);
  EXPECT_EQ(ex.Body(), "hello world");
  EXPECT_EQ(ex.buffer[11], '\0');
  EXPECT_EQ(std::string(ex.info.szResponseHeader),
            "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nServer: S\r\n");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(
      server.requests()[0],
      "GET /page HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
          "\r\nUser-Agent: test-agent\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"
          "Connection: close\r\n\r\n");
  // The client is idle again and serves a second exchange.
  EXPECT_EQ(ex.h->dwState, 0u);
  EXPECT_EQ(ex.Get(), HTTPCLIENT_I_CONTENT_COMPLETE);
  EXPECT_EQ(ex.Body(), "hello world");
}

TEST(HttpScripted, ContinueThenOkKeepsBothHeaders) {
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
    nrtest::SendAll(fd, "HTTP/1.1 100 Continue\r\nX-First: 1\r\n\r\n");
    usleep(50000);
    nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  }));
  Exchange ex(server.port());
  EXPECT_EQ(ex.Get(), HTTPCLIENT_I_CONTENT_COMPLETE);
  EXPECT_EQ(ex.Body(), "ok");
  EXPECT_EQ(std::string(ex.info.szResponseHeader),
            "HTTP/1.1 100 Continue\r\nX-First: 1\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n");
}

TEST(HttpScripted, StatusResults) {
  struct {
    const char *status;
    uint32_t result;
  } const cases[] = {
      {"204 No Content", 0x80010107u}, {"404 Not Found", 0x80010115u},
      {"307 Temporary", 0x80010110u},  {"306 Unused", 0x80010110u},
      {"506 Variant", 0x80010129u},    {"510 Not Extended", 0x80010129u},
      {"600 Beyond", 0x80010100u},     {"099 Below", 0x80010100u},
      {"208 Unknown", 0x80010100u},
  };
  for (const auto &k : cases) {
    ScriptServer server;
    ASSERT_TRUE(server.Start(
        Reply(std::string("HTTP/1.1 ") + k.status + "\r\nContent-Length: 3\r\n\r\nabc")));
    Exchange ex(server.port());
    EXPECT_EQ(ex.Get(), k.result) << k.status;
  }
}

TEST(HttpScripted, UnauthorisedEveryTimeMakesFourRequests) {
  ScriptServer server;
  ASSERT_TRUE(
      server.Start(Reply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                         "Content-Length: 4\r\n\r\nnope")));
  {
    Exchange ex(server.port());
    strcpy(ex.info.tServer.szUser, "user");
    strcpy(ex.info.tServer.szPassword, "pass");
    EXPECT_EQ(ex.Get(), HTTPCLIENT_E_HTTP_401);
    EXPECT_EQ(ex.info.tServer.dwAuthScheme, HTTPCLIENT_AUTH_BASIC);  // learned, handed back
    EXPECT_EQ(ex.info.dwRecvSize, 0u);
  }
  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].find("Authorization"), std::string::npos);
  for (size_t i = 1; i < 4; ++i)
    EXPECT_NE(requests[i].find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n\r\n"), std::string::npos)
        << i;
  // Without credentials: one request, no retry.
  ScriptServer again;
  ASSERT_TRUE(again.Start(Reply("HTTP/1.1 401 Unauthorized\r\n\r\n")));
  {
    Exchange ex(again.port());
    EXPECT_EQ(ex.Get(), HTTPCLIENT_E_HTTP_401);
  }
  EXPECT_EQ(again.requests().size(), 1u);
}

TEST(HttpScripted, ProxyAuthenticationRetriesOnItsOwnCounter) {
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &request, int) {
    if (request.find("Proxy-Authorization: Basic cHU6cHA=\r\n") == std::string::npos)
      nrtest::SendAll(fd, "HTTP/1.1 407 Proxy\r\nProxy-Authenticate: Basic realm=\"p\"\r\n\r\n");
    else if (request.find("\r\nAuthorization: Basic c3U6c3A=\r\n") == std::string::npos)
      nrtest::SendAll(fd, "HTTP/1.1 401 Server\r\n\r\n");
    else
      nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nyes");
  }));
  Exchange ex(0);
  ex.info.tServer.dwPort = 8080;
  strcpy(ex.info.tServer.szHost, "10.9.8.7");
  strcpy(ex.info.tServer.szUser, "su");
  strcpy(ex.info.tServer.szPassword, "sp");
  ex.info.dwUseProxy = 1;
  strcpy(ex.info.tProxy.szHost, "127.0.0.1");
  ex.info.tProxy.dwPort = server.port();
  strcpy(ex.info.tProxy.szUser, "pu");
  strcpy(ex.info.tProxy.szPassword, "pp");
  EXPECT_EQ(ex.Get(), HTTPCLIENT_I_CONTENT_COMPLETE);
  EXPECT_EQ(ex.Body(), "yes");
  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const std::string &r : requests)
    EXPECT_EQ(r.rfind("GET http://10.9.8.7:8080/page HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(requests[2].find("Host: 10.9.8.7:8080\r\n"), std::string::npos);
}

TEST(HttpScripted, DigestChallengeWithoutNonce) {
  ScriptServer server;
  ASSERT_TRUE(
      server.Start(Reply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"lab\", "
                         "qop=\"auth\"\r\nDate: Wed, 09 Dec 2026 10:00:00 GMT\r\n\r\n")));
  Exchange ex(server.port());
  strcpy(ex.info.tServer.szUser, "user");
  strcpy(ex.info.tServer.szPassword, "pass");
  nrtest::StdoutCapture out;
  EXPECT_EQ(ex.Get(), HTTPCLIENT_E_DIGEST_PARAM);
  fflush(stdout);
  EXPECT_EQ(
      out.Take(),
      "HTTPClient_Authorize-735: ServerDigest missing some param, return HTTPCLIENT_E_DIGEST_PARAM "
      "(realm=[lab] nonce=[]) \n");
  // The retry connects, then stops before anything is sent.
  for (int i = 0; i < 100 && server.requests().size() < 2; ++i) usleep(10000);
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[1], "");
  EXPECT_EQ(ex.info.tServer.dwAuthScheme, HTTPCLIENT_AUTH_DIGEST);
}

TEST(HttpScripted, DigestWithTwoQopOptionsUsesTheWholeList) {
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &request, int index) {
    if (index == 0) {
      nrtest::SendAll(
          fd,
          "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"lab\", "
          "qop=\"auth,auth-int\", nonce=\"N0nce\", algorithm=MD5, opaque=\"op\"\r\n\r\n");
      return;
    }
    std::smatch m;
    static const std::regex cn("cnonce=\"([0-9a-f]{32})\",response=\"([0-9a-f]{32})\"");
    bool ok = false;
    if (std::regex_search(request, m, cn)) {
      std::string ha1 = Md5Hex("user:lab:pass"), ha2 = Md5Hex("GET:/page");
      ok = m[2].str() == Md5Hex(ha1 + ":N0nce:00000001:" + m[1].str() + ":auth,auth-int:" + ha2);
    }
    nrtest::SendAll(
        fd, ok ? "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok" : "HTTP/1.1 403 Bad\r\n\r\n");
  }));
  Exchange ex(server.port());
  strcpy(ex.info.tServer.szUser, "user");
  strcpy(ex.info.tServer.szPassword, "pass");
  EXPECT_EQ(ex.Get(), HTTPCLIENT_I_CONTENT_COMPLETE);
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_NE(server.requests()[1].find("qop=\"auth,auth-int\",nc=00000001,"), std::string::npos);
  // The learned challenge outlives the exchange: the next call answers at once.
  EXPECT_EQ(ex.info.tServer.dwAuthScheme, HTTPCLIENT_AUTH_DIGEST);
  EXPECT_EQ(ex.Get(), HTTPCLIENT_I_CONTENT_COMPLETE);
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_NE(server.requests()[2].find("Authorization: Digest username=\"user\""),
            std::string::npos);
}

TEST(HttpScripted, DigestWithoutQopUsesTheShortForm) {
  // The peer checks the answer the way an RFC 2069 server does.
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &request, int index) {
    if (index == 0) {
      nrtest::SendAll(fd,
                      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"old\", "
                      "nonce=\"abc\"\r\n\r\n");
      return;
    }
    std::string expected = Md5Hex(Md5Hex("user:old:pass") + ":abc:" + Md5Hex("GET:/page"));
    bool ok = request.find(
                  "\r\nAuthorization: Digest username=\"user\",realm=\"old\",nonce=\"abc\","
                  "uri=\"/page\",response=\"" +
                  expected + "\",algorithm=MD5\r\n") != std::string::npos;
    nrtest::SendAll(
        fd, ok ? "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok" : "HTTP/1.1 403 Bad\r\n\r\n");
  }));
  Exchange ex(server.port());
  strcpy(ex.info.tServer.szUser, "user");
  strcpy(ex.info.tServer.szPassword, "pass");
  EXPECT_EQ(ex.Get(), HTTPCLIENT_I_CONTENT_COMPLETE);
  EXPECT_EQ(ex.Body(), "ok");
}

TEST(HttpScripted, HeaderLongerThanTheBufferFails) {
  ScriptServer server;
  std::string header = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 14; ++i)
    header += "X-Long-" + std::to_string(i + 10) + ": " + std::string(90, 'v') + "\r\n";
  header += "Content-Length: 2\r\n\r\nok";
  ASSERT_GT(header.size(), 1300u);
  ASSERT_TRUE(server.Start(Reply(header)));
  Exchange ex(server.port());
  EXPECT_EQ(ex.Get(), HTTPCLIENT_E_STATE_ARGS);
  // The caller's text holds the whole lines that fitted and ends in CR LF.
  std::string text = ex.info.szResponseHeader;
  EXPECT_LE(text.size(), 1280u);
  EXPECT_EQ(text.rfind("HTTP/1.1 200 OK\r\nX-Long-10: ", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(HttpScripted, BodyFillingTheBufferFails) {
  for (size_t extra : {0u, 1u}) {
    for (bool with_length : {true, false}) {
      ScriptServer server;
      std::string body(63 + extra, 'b');
      std::string head = "HTTP/1.1 200 OK\r\n";
      if (with_length) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
      ASSERT_TRUE(server.Start(Reply(head + "\r\n" + body)));
      Exchange ex(server.port(), 64);
      uint32_t r = ex.Get();
      if (extra == 1) {
        EXPECT_EQ(r, HTTPCLIENT_E_BUFFER_FULL) << with_length;
        EXPECT_EQ(ex.info.dwRecvSize, 64u);
      } else {
        EXPECT_EQ(r, with_length ? HTTPCLIENT_I_CONTENT_COMPLETE : HTTPCLIENT_I_PEER_CLOSED);
        EXPECT_EQ(ex.Body(), body);
        EXPECT_EQ(ex.buffer[63], '\0');
      }
    }
  }
}

TEST(HttpScripted, PeerClosingEarly) {
  {
    ScriptServer server;
    ASSERT_TRUE(server.Start(Reply("HTTP/1.1 200 OK\r\nContent-Le")));
    Exchange ex(server.port());
    EXPECT_EQ(ex.Get(), HTTPCLIENT_E_STATE_ARGS);
  }
  {
    ScriptServer server;
    ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
      nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst");
      usleep(50000);
      nrtest::SendAll(fd, " second");
    }));
    Exchange ex(server.port());
    EXPECT_EQ(ex.Get(), HTTPCLIENT_I_PEER_CLOSED);
    EXPECT_EQ(ex.Body(), "first second");
  }
}

TEST(HttpScripted, ChunkedBodies) {
  struct {
    std::vector<std::string> pieces;
    uint32_t result;
    std::string body;
  } const cases[] = {
      {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"},
       HTTPCLIENT_I_LAST_CHUNK,
       "hello"},
      // Chunks split everywhere, an extension, upper-case digits.
      {{"HTTP/1.1 200 OK\r\nTransfer-", "Encoding: chunked\r\n\r\n", "1", "A;name=val\r\n",
        "abcdefghijklmnopqrstuvwxyz\r", "\n3\r\n", "123", "\r\n0\r\n", "\r\n"},
       HTTPCLIENT_I_LAST_CHUNK,
       "abcdefghijklmnopqrstuvwxyz123"},
      {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"},
       HTTPCLIENT_I_LAST_CHUNK,
       ""},
      {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\nzzzzzzzzzzzzzzzz"},
       HTTPCLIENT_E_CHUNK_LINE,
       "abcd"},
      {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7fffffff\r\nabc"},
       HTTPCLIENT_E_CHUNK_LINE,
       ""},
  };
  for (const auto &k : cases) {
    ScriptServer server;
    std::vector<std::string> pieces = k.pieces;
    ASSERT_TRUE(server.Start([pieces](int fd, const std::string &, int) {
      for (const std::string &p : pieces) {
        nrtest::SendAll(fd, p);
        usleep(20000);
      }
    }));
    Exchange ex(server.port());
    EXPECT_EQ(ex.Get(), k.result) << k.pieces[0];
    EXPECT_EQ(ex.Body(), k.body);
  }
}

TEST(HttpScripted, PostSendsItsBody) {
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &request, int) {
    size_t at = request.find("\r\n\r\n");
    std::string body = at == std::string::npos ? "" : request.substr(at + 4);
    nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\n\r\n" + body);
  }));
  Exchange ex(server.port(), 70000);
  std::string body(60000, 'p');
  for (size_t i = 0; i < body.size(); i += 7) body[i] = static_cast<char>('a' + i % 26);
  ex.info.pBody = body.data();
  ex.info.dwBodyLength = static_cast<uint32_t>(body.size());
  strcpy(ex.info.szContentType, "application/octet-stream");
  EXPECT_EQ(HTTPClient_Post(ex.h, &ex.info), HTTPCLIENT_I_CONTENT_COMPLETE);
  EXPECT_EQ(ex.Body(), body);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].rfind("POST /page HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(server.requests()[0].find("Content-Length: 60000\r\n"), std::string::npos);
}

TEST(HttpScripted, NothingListeningFails) {
  ScriptServer server;
  ASSERT_TRUE(server.Start(Reply("")));
  uint16_t port = server.port();
  server.Stop();
  Exchange ex(port);
  uint32_t r = ex.Get();
  EXPECT_EQ(r & 0xFF000000u, 0x80000000u) << std::hex << r;
}

// The slow case: a peer that accepts and says nothing.
TEST(HttpScriptedSlow, SilentServerEndsAtTheTotalTimeout) {
  ScriptServer server;
  // Silent until the client gives up and closes its end.
  ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, 20000);
  }));
  Exchange ex(server.port());
  ex.info.dwTotalTimeout = 2 * 1000000u;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ex.Get(), HTTPCLIENT_E_RECV_TIMEOUT);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 1.9);
  EXPECT_LE(seconds, 2.5);
}

}  // namespace
