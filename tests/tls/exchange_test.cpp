// SPDX-License-Identifier: MIT
// HTTPS exchanges of the HTTP client (HTTPClient_SetTLS, then the usual
// synchronous and asynchronous entries) against real servers made at test
// time: Apache mod_ssl sites of the test PKI, Squid opening tunnels with
// CONNECT, scripted proxies and peers that stall or drip a handshake.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "async_host.h"
#include "fake_dns.h"
#include "http_peers.h"
#include "namreg/clock.h"
#include "namreg/httpclient.h"
#include "peers.h"
#include "testworld.h"
#include "tls_kit.h"
#include "virtual_clock.h"

#if NAMREG_TLS

namespace {

using nrtest::AsyncHost;
using nrtest::ScriptServer;

constexpr uint16_t kValidPort = 8443;
constexpr uint16_t kWrongHostPort = 8444;
constexpr uint16_t kExpiredPort = 8445;
constexpr uint16_t kUnknownCaPort = 8446;
constexpr uint16_t kTls10Port = 8447;
constexpr uint64_t kSliceMs = 1000;
constexpr uint64_t kStepSlackMs = 200;
constexpr uint64_t kGranularityMs = 60;
constexpr uint32_t kAnyEnd = 0;  // a body that ends by its length, its last chunk or the close

std::string Hex(uint32_t code) {
  char text[16];
  snprintf(text, sizeof(text), "0x%08x", code);
  return text;
}

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string line; std::getline(ss, line);) lines.push_back(line);
  return lines;
}

// A client set to TLS with the test PKI's CA bundle, and a request record
// whose receive buffer holds the 300 KiB page.
struct TlsClient {
  HTTPClientHandle h = nullptr;
  HTTPClientInfo info{};
  std::vector<char> buffer = std::vector<char>(320 * 1024, 'X');

  TlsClient(const std::string &ca_file, const std::string &host, uint16_t port,
            const std::string &uri) {
    EXPECT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), HTTPCLIENT_OK);
    HTTPClientTLSOptions tls{};
    tls.dwEnable = 1;
    snprintf(tls.szCAFile, sizeof(tls.szCAFile), "%s", ca_file.c_str());
    EXPECT_EQ(HTTPClient_SetTLS(h, &tls), HTTPCLIENT_OK);
    snprintf(info.tServer.szHost, sizeof(info.tServer.szHost), "%s", host.c_str());
    info.tServer.dwPort = port;
    snprintf(info.szURI, sizeof(info.szURI), "%s", uri.c_str());
    info.dwTotalTimeout = 10 * 1000000u;
    info.dwConnectTimeout = info.dwSendTimeout = info.dwRecvTimeout = 5 * 1000000u;
  }
  ~TlsClient() { EXPECT_EQ(HTTPClient_Release(&h), HTTPCLIENT_OK); }
  uint32_t Get() {
    info.pRecvBuffer = buffer.data();
    info.dwRecvSize = static_cast<uint32_t>(buffer.size());
    return HTTPClient_Get(h, &info);
  }
  std::string Body() const { return std::string(info.pRecvBuffer, info.dwRecvSize); }
  std::string Header() const { return info.szResponseHeader; }
};

// Apache with the five TLS sites of the test PKI beside its plain port, and
// a name server that knows the test host name.
class HttpsWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    std::string error;
    ASSERT_TRUE(nrtest::MakeTestPki(&pki_, &error)) << error;
    ASSERT_TRUE(dns_.Start("127.0.0.1",
                           nrtest::AnswerNames({{nrtest::kTlsHostName, "127.0.0.1"},
                                                {nrtest::kTlsOtherHostName, "127.0.0.1"}}),
                           &error))
        << error;
    nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
    std::vector<nrtest::TlsSite> sites(5);
    sites[0] = {kValidPort, pki_.valid, false};
    sites[1] = {kWrongHostPort, pki_.wrong_host, false};
    sites[2] = {kExpiredPort, pki_.expired, false};
    sites[3] = {kUnknownCaPort, pki_.unknown_ca, false};
    sites[4] = {kTls10Port, pki_.valid, true};
    apache_ = nrtest::StartApache(&apache_dir_, &error, nrtest::kApachePort, sites);
    ASSERT_NE(apache_, nullptr) << error;
  }

  // The requests Apache logged on a port ("%r|%{Host}i|%>s" each).
  std::vector<std::string> Logged(uint16_t port) {
    const std::string name =
        port == nrtest::kApachePort ? "/access.log" : "/access-" + std::to_string(port) + ".log";
    return Lines(ReadText(apache_dir_ + name));
  }

  // The same, once it holds more than `count` lines (Apache logs a request
  // once it has served it; a client may be done reading before that).
  std::vector<std::string> LoggedAfter(uint16_t port, size_t count) {
    std::vector<std::string> lines = Logged(port);
    for (int i = 0; i < 100 && lines.size() <= count; ++i) {
      usleep(20000);
      lines = Logged(port);
    }
    return lines;
  }

  nrtest::TestPki pki_;
  nrtest::FakeDns dns_;
  std::string apache_dir_;
  std::unique_ptr<nrtest::ChildProcess> apache_;
};

// Synchronous GETs over TLS: good sites give their bodies whole (with the
// server's credentials where asked), refused ones end before any request
// (Apache logs none on their ports, though credentials were at hand), and
// no descriptor is left behind.
TEST_F(HttpsWorld, SynchronousCases) {
  struct Case {
    const char *name;
    uint16_t port;
    const char *host;
    const char *uri;
    const char *user, *password;
    uint32_t expected;
    std::function<std::string()> body;  // null: no body expected
    const char *logged;                 // the request line Apache logs, "" for none
  };
  const std::string long_user = nrtest::kLongUser, long_password = nrtest::kLongPassword;
  const Case cases[] = {
      {"page", kValidPort, nrtest::kTlsHostName, "/page.html", "", "",
       HTTPCLIENT_I_CONTENT_COMPLETE, nrtest::ApachePage, "GET /page.html HTTP/1.1"},
      {"chunked body", kValidPort, nrtest::kTlsHostName, "/cgi/chunked.cgi", "", "",
       HTTPCLIENT_I_LAST_CHUNK, nrtest::ChunkedCgiBody, "GET /cgi/chunked.cgi HTTP/1.1"},
      {"300 KiB", kValidPort, nrtest::kTlsHostName, "/big.txt", "", "",
       HTTPCLIENT_I_CONTENT_COMPLETE, nrtest::ApacheBigBody, "GET /big.txt HTTP/1.1"},
      {"server named by its address", kValidPort, "127.0.0.1", "/page.html", "", "",
       HTTPCLIENT_I_CONTENT_COMPLETE, nrtest::ApachePage, "GET /page.html HTTP/1.1"},
      {"the Host line", kValidPort, nrtest::kTlsHostName, "/cgi/host.cgi", "", "", kAnyEnd,
       [] { return std::string("host=") + nrtest::kTlsHostName + ":8443\n"; },
       "GET /cgi/host.cgi HTTP/1.1"},
      {"Basic", kValidPort, nrtest::kTlsHostName, "/basic/page.html", long_user.c_str(),
       long_password.c_str(), HTTPCLIENT_I_CONTENT_COMPLETE, nrtest::ApachePage,
       "GET /basic/page.html HTTP/1.1"},
      {"Digest", kValidPort, nrtest::kTlsHostName, "/digest/page.html", "alice", "rabbit hole",
       HTTPCLIENT_I_CONTENT_COMPLETE, nrtest::ApachePage, "GET /digest/page.html HTTP/1.1"},
      {"certificate for another host", kWrongHostPort, nrtest::kTlsHostName, "/basic/page.html",
       long_user.c_str(), long_password.c_str(), HTTPCLIENT_E_TLS_CERT_NAME, nullptr, ""},
      {"another host name asked", kValidPort, nrtest::kTlsOtherHostName, "/basic/page.html",
       long_user.c_str(), long_password.c_str(), HTTPCLIENT_E_TLS_CERT_NAME, nullptr, ""},
      {"expired certificate", kExpiredPort, nrtest::kTlsHostName, "/basic/page.html",
       long_user.c_str(), long_password.c_str(), HTTPCLIENT_E_TLS_CERT_EXPIRED, nullptr, ""},
      {"certificate from an unknown CA", kUnknownCaPort, nrtest::kTlsHostName, "/basic/page.html",
       long_user.c_str(), long_password.c_str(), HTTPCLIENT_E_TLS_CERT_UNTRUSTED, nullptr, ""},
      {"TLS 1.0-only server", kTls10Port, nrtest::kTlsHostName, "/basic/page.html",
       long_user.c_str(), long_password.c_str(), HTTPCLIENT_E_TLS_VERSION, nullptr, ""},
      {"plain HTTP port", nrtest::kApachePort, nrtest::kTlsHostName, "/basic/page.html",
       long_user.c_str(), long_password.c_str(), HTTPCLIENT_E_TLS_HANDSHAKE, nullptr, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const size_t logged_before = Logged(c.port).size();
    const int fds_before = nrtest::CountOpenFds();
    {
      TlsClient client(pki_.bundle, c.host, c.port, c.uri);
      snprintf(client.info.tServer.szUser, sizeof(client.info.tServer.szUser), "%s", c.user);
      snprintf(client.info.tServer.szPassword, sizeof(client.info.tServer.szPassword), "%s",
               c.password);
      if (std::strcmp(c.uri, "/cgi/chunked.cgi") == 0) client.info.dwKeepAlive = 1;
      const uint32_t result = client.Get();
      if (c.expected == kAnyEnd)  // a small CGI answer may come with its length or without
        EXPECT_TRUE(result == HTTPCLIENT_I_CONTENT_COMPLETE || result == HTTPCLIENT_I_LAST_CHUNK ||
                    result == HTTPCLIENT_I_PEER_CLOSED)
            << Hex(result);
      else
        EXPECT_EQ(Hex(result), Hex(c.expected));
      if (c.body) {
        EXPECT_TRUE(client.Body() == c.body()) << client.Body().substr(0, 200);
        EXPECT_EQ(client.Header().substr(client.Header().rfind("HTTP/1.1 ")).substr(0, 15),
                  "HTTP/1.1 200 OK");
      } else {
        EXPECT_EQ(client.info.dwRecvSize, 0u);
        EXPECT_EQ(client.Header(), "");
      }
    }
    EXPECT_EQ(nrtest::CountOpenFds(), fds_before) << "a descriptor was left open";
    const std::vector<std::string> logged =
        c.logged[0] == '\0' ? Logged(c.port) : LoggedAfter(c.port, logged_before);
    if (c.logged[0] == '\0') {
      // A plain HTTP server logs the ClientHello as a bad request; no
      // request of the client's reaches any server.
      for (size_t i = logged_before; i < logged.size(); ++i)
        EXPECT_EQ(logged[i].find("/basic/page.html"), std::string::npos) << logged[i];
      if (c.port != nrtest::kApachePort) {
        EXPECT_EQ(logged.size(), logged_before) << "the server saw a request";
      }
    } else {
      ASSERT_GT(logged.size(), logged_before);
      EXPECT_EQ(logged.back().substr(0, logged.back().find('|')), c.logged) << logged.back();
    }
  }
}

// A Digest challenge learned over TLS answers the next exchange at once,
// on a new connection with a new handshake.
TEST_F(HttpsWorld, LearnedDigestAnswersTheNextExchange) {
  TlsClient client(pki_.bundle, nrtest::kTlsHostName, kValidPort, "/digest/page.html");
  strcpy(client.info.tServer.szUser, "alice");
  strcpy(client.info.tServer.szPassword, "rabbit hole");
  ASSERT_EQ(Hex(client.Get()), Hex(HTTPCLIENT_I_CONTENT_COMPLETE));
  const size_t after_first = LoggedAfter(kValidPort, 1).size();  // its 401 and its 200
  ASSERT_EQ(after_first, 2u);
  ASSERT_EQ(Hex(client.Get()), Hex(HTTPCLIENT_I_CONTENT_COMPLETE));
  EXPECT_EQ(client.Body(), nrtest::ApachePage());
  const std::vector<std::string> logged = LoggedAfter(kValidPort, after_first);
  ASSERT_GT(logged.size(), after_first);
  EXPECT_EQ(logged[after_first].substr(logged[after_first].rfind('|')), "|200")
      << "the second exchange began with a 401";
}

// Through Squid: the tunnel is opened with CONNECT to the server's address,
// Squid's 407 answered with the proxy's credentials, and the request inside
// the tunnel is the origin form with the server's credentials only.
TEST_F(HttpsWorld, ThroughSquidWithConnect) {
  std::string error, squid_dir;
  auto squid = nrtest::StartSquid(&squid_dir, &error);
  ASSERT_TRUE(squid) << error;
  const int fds_before = nrtest::CountOpenFds();
  {
    TlsClient client(pki_.bundle, nrtest::kTlsHostName, kValidPort, "/basic/page.html");
    client.info.dwUseProxy = 1;
    strcpy(client.info.tProxy.szHost, "127.0.0.1");
    client.info.tProxy.dwPort = nrtest::kSquidPort;
    strcpy(client.info.tProxy.szUser, "camera");
    strcpy(client.info.tProxy.szPassword, "proxy pass");
    strcpy(client.info.tServer.szUser, nrtest::kLongUser.c_str());
    strcpy(client.info.tServer.szPassword, nrtest::kLongPassword.c_str());
    EXPECT_EQ(Hex(client.Get()), Hex(HTTPCLIENT_I_CONTENT_COMPLETE));
    EXPECT_EQ(client.Body(), nrtest::ApachePage());
    EXPECT_EQ(client.info.tProxy.dwAuthScheme, HTTPCLIENT_AUTH_BASIC);
    EXPECT_EQ(client.info.tServer.dwAuthScheme, HTTPCLIENT_AUTH_BASIC);
    // The proxy's 407, then the server's 401 and 200.
    EXPECT_EQ(client.Header().rfind("HTTP/1.1 407 Proxy Authentication Required\r\n", 0), 0u)
        << client.Header();
    EXPECT_NE(client.Header().find("HTTP/1.1 401 Unauthorized\r\n"), std::string::npos);
  }
  const std::string log = nrtest::WaitForFileText(squid_dir + "/access.log", "TCP_TUNNEL", 5000);
  EXPECT_NE(log.find("TCP_DENIED/407"), std::string::npos) << log;
  EXPECT_NE(log.find("CONNECT 127.0.0.1:8443 camera"), std::string::npos) << log;
  EXPECT_EQ(log.find("GET "), std::string::npos) << "Squid saw a request in clear: " << log;
  const std::vector<std::string> logged = LoggedAfter(kValidPort, 1);
  ASSERT_GE(logged.size(), 2u);
  EXPECT_EQ(logged.back(),
            std::string("GET /basic/page.html HTTP/1.1|") + nrtest::kTlsHostName + ":8443|200");
  EXPECT_EQ(nrtest::CountOpenFds(), fds_before);
}

// A proxy that answers every CONNECT with a Digest 407: three answers with
// the proxy's credentials (a digest of CONNECT and the tunnel's authority),
// then the 407 is the result; the server never hears from the client.
TEST_F(HttpsWorld, ProxyThatKeepsAnswering407) {
  ScriptServer proxy;
  ASSERT_TRUE(proxy.Start([](int fd, const std::string &, int) {
    nrtest::SendAll(fd,
                    "HTTP/1.1 407 Proxy Authentication Required\r\n"
                    "Proxy-Authenticate: Digest realm=\"gate\", nonce=\"n0nce\", qop=\"auth\"\r\n"
                    "Content-Length: 6\r\n\r\ndenied");
  }));
  const size_t logged_before = Logged(kValidPort).size();
  {
    TlsClient client(pki_.bundle, nrtest::kTlsHostName, kValidPort, "/page.html");
    client.info.dwUseProxy = 1;
    strcpy(client.info.tProxy.szHost, "127.0.0.1");
    client.info.tProxy.dwPort = proxy.port();
    strcpy(client.info.tProxy.szUser, "camera");
    strcpy(client.info.tProxy.szPassword, "proxy pass");
    EXPECT_EQ(Hex(client.Get()), Hex(HTTPCLIENT_E_HTTP_407));
    EXPECT_EQ(client.info.tProxy.dwAuthScheme, HTTPCLIENT_AUTH_DIGEST);
  }
  proxy.WaitIdle();
  const std::vector<std::string> sent = proxy.requests();
  ASSERT_EQ(sent.size(), 4u);
  for (size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(sent[i]);
    EXPECT_EQ(sent[i].rfind("CONNECT 127.0.0.1:8443 HTTP/1.1\r\nHost: 127.0.0.1:8443\r\n", 0), 0u);
    EXPECT_EQ(sent[i].find("Authorization: Basic"), std::string::npos);
    const size_t at = sent[i].find("\r\nProxy-Authorization: Digest ");
    if (i == 0) {
      EXPECT_EQ(at, std::string::npos);
      continue;
    }
    ASSERT_NE(at, std::string::npos);
    const std::string line = sent[i].substr(at + 2, sent[i].find("\r\n", at + 2) - at - 2);
    auto param = [&line](const std::string &name) {
      const size_t p = line.find(name + "=\"");
      return p == std::string::npos
                 ? std::string()
                 : line.substr(p + name.size() + 2,
                               line.find('"', p + name.size() + 2) - p - name.size() - 2);
    };
    EXPECT_EQ(param("uri"), "127.0.0.1:8443");
    const std::string ha1 = nrtest::Md5Hex("camera:gate:proxy pass");
    const std::string ha2 = nrtest::Md5Hex("CONNECT:127.0.0.1:8443");
    EXPECT_EQ(param("response"),
              nrtest::Md5Hex(ha1 + ":n0nce:00000001:" + param("cnonce") + ":auth:" + ha2));
  }
  EXPECT_EQ(Logged(kValidPort).size(), logged_before);
}

// The handshake within the exchange's budget, synchronous and stepped: a
// server that takes the connection and says nothing (virtual clock: its
// silence passes at once), and the real server's handshake passed on a
// byte every 10 ms (real time).  No asynchronous step waits past its slice.
TEST_F(HttpsWorld, StalledHandshakesEndWithinTheBudget) {
  struct Case {
    const char *name;
    bool drip;  // else silent
    bool stepped;
    uint64_t budget_ms;
  };
  const Case cases[] = {
      {"silent server, synchronous", false, false, 5000},
      {"silent server, stepped", false, true, 5000},
      {"dripping server, synchronous", true, false, 2000},
      {"dripping server, stepped", true, true, 2000},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const int fds_before = nrtest::CountOpenFds();
    {
      ScriptServer peer;
      ASSERT_TRUE(peer.Start(
          c.drip ? nrtest::DripRelay(&peer, kValidPort, 10) : nrtest::SilentHandshake(&peer),
          "127.0.0.1", 0, ScriptServer::Read::kNothing));
      // Silence passes at once on the virtual clock; a drip is waited for.
      std::unique_ptr<nrtest::VirtualClock> clock;
      if (!c.drip) clock.reset(new nrtest::VirtualClock());
      std::function<uint64_t()> now = [&clock] {
        return clock ? clock->ElapsedMs() : namreg::ClockMonotonicMs();
      };
      {
        TlsClient client(pki_.bundle, nrtest::kTlsHostName, peer.port(), "/page.html");
        client.info.dwTotalTimeout = static_cast<uint32_t>(c.budget_ms * 1000u);
        client.info.dwConnectTimeout = static_cast<uint32_t>(c.budget_ms * 1000u);
        const uint64_t start = now();
        if (c.stepped) {
          AsyncHost host(client.h);
          host.clock_ms = now;
          ASSERT_EQ(HTTPClient_AsyncGet(client.h, &client.info), HTTPCLIENT_OK);
          ASSERT_TRUE(host.Run(30000));
          EXPECT_EQ(host.events, std::vector<uint32_t>{HTTPCLIENT_EVENT_CONNECT_TIMEOUT});
          EXPECT_LE(host.longest_step_ms, kSliceMs + kStepSlackMs);
        } else {
          EXPECT_EQ(Hex(client.Get()), Hex(HTTPCLIENT_E_CONNECT_TIMEOUT));
        }
        const uint64_t elapsed = now() - start;
        EXPECT_GE(elapsed + kGranularityMs, c.budget_ms);
        EXPECT_LE(elapsed, c.budget_ms + 1000);
      }
      clock.reset();
      peer.Stop();
    }
    EXPECT_EQ(nrtest::CountOpenFds(), fds_before);
  }
}

// An asynchronous GET over TLS reports what the same GET reports over
// plain HTTP: the status, buffers and body pieces, the end; only the
// handshake's steps (no event) come in between.
TEST_F(HttpsWorld, AsynchronousGetHasTheEventsOfPlainHttp) {
  // Body pieces are read as they come: runs of "buffer lent" events without
  // bytes are one wait, not a difference.
  auto shape = [](const std::vector<uint32_t> &events) {
    std::vector<uint32_t> out;
    for (uint32_t e : events)
      if (!(e == HTTPCLIENT_EVENT_NEED_BUFFER && !out.empty() &&
            out.back() == HTTPCLIENT_EVENT_NEED_BUFFER))
        out.push_back(e);
    return out;
  };
  for (const char *uri : {"/page.html", "/basic/page.html"}) {
    SCOPED_TRACE(uri);
    std::vector<uint32_t> plain_events, tls_events;
    std::string plain_body, tls_body;
    for (bool tls : {false, true}) {
      TlsClient client(pki_.bundle, nrtest::kTlsHostName, tls ? kValidPort : nrtest::kApachePort,
                       uri);
      if (!tls) {
        HTTPClientTLSOptions off{};
        ASSERT_EQ(HTTPClient_SetTLS(client.h, &off), HTTPCLIENT_OK);
      }
      strcpy(client.info.tServer.szUser, nrtest::kLongUser.c_str());
      strcpy(client.info.tServer.szPassword, nrtest::kLongPassword.c_str());
      AsyncHost host(client.h, 700);  // several pieces for the 1 KiB page
      ASSERT_EQ(HTTPClient_AsyncGet(client.h, &client.info), HTTPCLIENT_OK);
      ASSERT_TRUE(host.Run(20000));
      EXPECT_LE(host.longest_step_ms, kSliceMs + kStepSlackMs);
      (tls ? tls_events : plain_events) = shape(host.events);
      (tls ? tls_body : plain_body) = host.body;
    }
    EXPECT_EQ(tls_events, plain_events);
    EXPECT_EQ(tls_events.back(), HTTPCLIENT_EVENT_COMPLETE);
    EXPECT_EQ(tls_body, nrtest::ApachePage());
    EXPECT_EQ(plain_body, tls_body);
  }
}

// One exchange over TLS under valgrind (the HTTP client's, through
// tls_probe): no leak, no invalid access, a good fetch and a refused
// certificate.
TEST_F(HttpsWorld, ClientExchangeUnderValgrind) {
#if defined(NAMREG_TEST_SANITIZED)
  GTEST_SKIP() << "sanitizer build: valgrind does not run sanitized programs";
#endif
  const std::string valgrind = nrtest::FindProgram("valgrind");
  if (valgrind.empty()) GTEST_SKIP() << "valgrind not installed (Debian package valgrind)";
  nrtest::ProcessOptions options;
  options.timeout_ms = 100000;
  nrtest::ProcessResult r = nrtest::RunProcess(
      {valgrind, "--leak-check=full", "--show-leak-kinds=all",
       "--errors-for-leak-kinds=definite,indirect,possible", "--error-exitcode=99",
       "--track-fds=yes", nrtest::BuiltProgram("tests/tls/tls_probe"), "--client", pki_.bundle,
       nrtest::kTlsHostName, "/big.txt", std::to_string(kValidPort), std::to_string(kExpiredPort)},
      options);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("port 8443: result 0x00000000, 307200 body bytes"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("port 8445: result " + Hex(HTTPCLIENT_E_TLS_CERT_EXPIRED)),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("ERROR SUMMARY: 0 errors"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("All heap blocks were freed"), std::string::npos) << r.err;
  // No descriptor of its own open at exit: only what it was started with.
  size_t listed = 0, inherited = 0;
  for (size_t at = 0; (at = r.err.find("Open file descriptor", at)) != std::string::npos; ++at)
    ++listed;
  for (size_t at = 0; (at = r.err.find("<inherited from parent>", at)) != std::string::npos; ++at)
    ++inherited;
  EXPECT_NE(r.err.find("FILE DESCRIPTORS:"), std::string::npos) << r.err;
  EXPECT_EQ(listed, inherited) << r.err;
}

}  // namespace

#endif  // NAMREG_TLS
