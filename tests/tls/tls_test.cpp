// SPDX-License-Identifier: MIT
// The TLS layer of the HTTP client: handshakes with Apache mod_ssl sites
// made at test time (a valid chain, a certificate for another host, an
// expired one, one from an unknown CA, a TLS 1.0-only server, a plain HTTP
// port), silent and dripping peers, the stubs of a build without mbedTLS,
// the client's TLS setting, and one run under valgrind.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "http_peers.h"
#include "namreg/clock.h"
#include "namreg/deadline.h"
#include "namreg/fd_util.h"
#include "namreg/httpclient.h"
#include "peers.h"
#include "testworld.h"
#include "tls.h"
#include "tls_kit.h"
#include "virtual_clock.h"

namespace {

using namreg::Deadline;
using namreg::TlsSession;
using namreg::TlsStatus;
namespace fdutil = namreg::fdutil;

constexpr uint16_t kValidPort = 8443;
constexpr uint16_t kWrongHostPort = 8444;
constexpr uint16_t kExpiredPort = 8445;
constexpr uint16_t kUnknownCaPort = 8446;
constexpr uint16_t kTls10Port = 8447;

std::string Hex(uint32_t code) {
  char text[16];
  snprintf(text, sizeof(text), "0x%08x", code);
  return text;
}

#if NAMREG_TLS

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

size_t CountLines(const std::string &text) {
  size_t n = 0;
  for (char c : text) n += c == '\n' ? 1 : 0;
  return n;
}

// A non-blocking TCP connection to 127.0.0.1:port, closed with the object.
struct Connection {
  fdutil::SocketGuard fd;
  explicit Connection(uint16_t port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) return;
    fd.fd = s;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof(to));
    int error = 0;
    socklen_t length = sizeof(error);
    if (fdutil::WaitOne(s, true, 5u) != 1 ||
        getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
      fd.Close();
  }
};

struct Answer {
  uint32_t error = HTTPCLIENT_OK;
  std::string header;
  std::string body;
};

// One keep-alive HTTP/1.1 GET over an open session; the body is read to
// its Content-Length, so the server leaves the connection open after it
// and only the session's pending bytes can complete the last reads.  Reads
// go through a small buffer, and every wait is a select that is skipped
// while the session has bytes pending, as the HTTP client waits.
Answer Get(TlsSession *session, int fd, const std::string &host, const std::string &path) {
  Answer answer;
  const Deadline deadline(10);
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
  size_t sent = 0;
  while (sent < request.size()) {
    size_t moved = 0;
    TlsStatus status = session->Send(request.data() + sent, request.size() - sent, &moved);
    if (status == TlsStatus::kFailed) {
      answer.error = session->Error();
      return answer;
    }
    sent += moved;
    if (status != TlsStatus::kDone &&
        fdutil::WaitOne(fd, status == TlsStatus::kWantWrite, deadline) != 1) {
      answer.error = HTTPCLIENT_E_SEND_TIMEOUT;
      return answer;
    }
  }
  std::string data;
  size_t want = std::string::npos;
  for (;;) {
    const size_t end = data.find("\r\n\r\n");
    if (want == std::string::npos && end != std::string::npos) {
      answer.header = data.substr(0, end + 2);
      const size_t at = answer.header.find("Content-Length: ");
      want = at == std::string::npos ? 0 : end + 4 + std::stoul(answer.header.substr(at + 16));
    }
    if (want != std::string::npos && data.size() >= want) break;
    if (!session->HasPending() && fdutil::WaitOne(fd, false, deadline) != 1) {
      answer.error = HTTPCLIENT_E_RECV_TIMEOUT;
      return answer;
    }
    char buffer[1000];
    size_t received = 0;
    TlsStatus status = session->Recv(buffer, sizeof(buffer), &received);
    if (status == TlsStatus::kFailed) {
      answer.error = session->Error();
      return answer;
    }
    if (status == TlsStatus::kClosed) {
      answer.error = HTTPCLIENT_I_PEER_CLOSED;
      return answer;
    }
    data.append(buffer, received);
  }
  answer.body = data.substr(answer.header.size() + 2);
  return answer;
}

// Apache with the five TLS sites of the test PKI beside its plain port.
class TlsWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    std::string error;
    ASSERT_TRUE(nrtest::MakeTestPki(&pki_, &error)) << error;
    std::vector<nrtest::TlsSite> sites(5);
    sites[0] = {kValidPort, pki_.valid, false};
    sites[1] = {kWrongHostPort, pki_.wrong_host, false};
    sites[2] = {kExpiredPort, pki_.expired, false};
    sites[3] = {kUnknownCaPort, pki_.unknown_ca, false};
    sites[4] = {kTls10Port, pki_.valid, true};
    apache_ = nrtest::StartApache(&apache_dir_, &error, nrtest::kApachePort, sites);
    ASSERT_NE(apache_, nullptr) << error;
  }

  size_t RequestsSeen(uint16_t port) {
    return CountLines(ReadText(apache_dir_ + "/access-" + std::to_string(port) + ".log"));
  }

  nrtest::TestPki pki_;
  std::string apache_dir_;
  std::unique_ptr<nrtest::ChildProcess> apache_;
};

// Every certificate and server case: the handshake's result, and for a
// refusal that nothing can be sent afterwards and that the server saw no
// request.  A good handshake fetches a small page and 300 KiB intact.
TEST_F(TlsWorld, HandshakeCases) {
  const std::string empty_ca = pki_.dir + "/empty.pem";
  ASSERT_TRUE(nrtest::WriteFile(empty_ca, "no certificate here\n"));
  enum class Ca { kBundle, kRootOnly, kSystem, kEmpty };
  struct Case {
    const char *name;
    uint16_t port;
    const char *host;
    Ca ca;
    uint32_t expected;
  };
  const Case cases[] = {
      {"valid chain, host name, system bundle and test root", kValidPort, nrtest::kTlsHostName,
       Ca::kBundle, HTTPCLIENT_OK},
      {"valid chain, address", kValidPort, "127.0.0.1", Ca::kRootOnly, HTTPCLIENT_OK},
      {"valid chain, another host name asked", kValidPort, nrtest::kTlsOtherHostName, Ca::kBundle,
       HTTPCLIENT_E_TLS_CERT_NAME},
      {"certificate for another host", kWrongHostPort, nrtest::kTlsHostName, Ca::kBundle,
       HTTPCLIENT_E_TLS_CERT_NAME},
      {"certificate without the address", kWrongHostPort, "127.0.0.1", Ca::kBundle,
       HTTPCLIENT_E_TLS_CERT_NAME},
      {"expired certificate", kExpiredPort, nrtest::kTlsHostName, Ca::kBundle,
       HTTPCLIENT_E_TLS_CERT_EXPIRED},
      {"certificate from an unknown CA", kUnknownCaPort, nrtest::kTlsHostName, Ca::kBundle,
       HTTPCLIENT_E_TLS_CERT_UNTRUSTED},
      {"test root not in the CA file", kValidPort, nrtest::kTlsHostName, Ca::kSystem,
       HTTPCLIENT_E_TLS_CERT_UNTRUSTED},
      {"CA file without a certificate", kValidPort, nrtest::kTlsHostName, Ca::kEmpty,
       HTTPCLIENT_E_TLS_CA_FILE},
      {"TLS 1.0-only server", kTls10Port, nrtest::kTlsHostName, Ca::kBundle,
       HTTPCLIENT_E_TLS_VERSION},
      {"plain HTTP port", nrtest::kApachePort, nrtest::kTlsHostName, Ca::kBundle,
       HTTPCLIENT_E_TLS_HANDSHAKE},
  };
  size_t fetched_on_valid_port = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const int fds_before = nrtest::CountOpenFds();
    {
      const std::string ca = c.ca == Ca::kBundle     ? pki_.bundle
                             : c.ca == Ca::kRootOnly ? pki_.root_ca
                             : c.ca == Ca::kSystem   ? HTTPCLIENT_TLS_SYSTEM_CA_FILE
                                                     : empty_ca;
      Connection connection(c.port);
      ASSERT_TRUE(connection.fd.valid());
      TlsSession session;
      ASSERT_EQ(Hex(session.Begin(connection.fd.get(), c.host, ca.c_str())), Hex(HTTPCLIENT_OK));
      const uint64_t start = namreg::ClockMonotonicMs();
      EXPECT_EQ(Hex(session.HandshakeWithin(Deadline(10))), Hex(c.expected));
      EXPECT_LT(namreg::ClockMonotonicMs() - start, 5000u) << "a refusal is not a time-out";
      if (c.expected == HTTPCLIENT_OK) {
        EXPECT_TRUE(session.HandshakeDone());
        EXPECT_EQ(session.VerifyFlags(), 0u);
        Answer page = Get(&session, connection.fd.get(), c.host, "/page.html");
        EXPECT_EQ(Hex(page.error), Hex(HTTPCLIENT_OK));
        EXPECT_EQ(page.header.substr(0, 15), "HTTP/1.1 200 OK");
        EXPECT_EQ(page.body, nrtest::ApachePage());
        Answer big = Get(&session, connection.fd.get(), c.host, "/big.txt");
        EXPECT_EQ(Hex(big.error), Hex(HTTPCLIENT_OK));
        EXPECT_TRUE(big.body == nrtest::ApacheBigBody()) << "300 KiB body differs";
        fetched_on_valid_port += 2;
      } else {
        EXPECT_FALSE(session.HandshakeDone());
        if (HTTPCLIENT_TLS_IS_CERT_FAILURE(c.expected)) {
          EXPECT_NE(session.VerifyFlags(), 0u);
        }
        size_t sent = 99;
        EXPECT_EQ(session.Send("GET / HTTP/1.0\r\n\r\n", 18, &sent), TlsStatus::kFailed);
        EXPECT_EQ(sent, 0u);
        EXPECT_EQ(Hex(session.Error()), Hex(c.expected)) << "the failure stays";
      }
    }
    EXPECT_EQ(nrtest::CountOpenFds(), fds_before) << "a descriptor was left open";
  }
  // Whatever reached a handshake's end, only the fetches of the good cases
  // became requests.
  EXPECT_EQ(RequestsSeen(kValidPort), fetched_on_valid_port);
  for (uint16_t port : {kWrongHostPort, kExpiredPort, kUnknownCaPort, kTls10Port})
    EXPECT_EQ(RequestsSeen(port), 0u) << "port " << port;
}

// Without a CA file the system bundle is read; here the test world's copy
// of it also holds the test root.
TEST_F(TlsWorld, SystemBundleIsTheDefault) {
  std::string error;
  ASSERT_TRUE(nrtest::ReplaceSystemCaBundle(pki_.bundle, &error)) << error;
  for (const char *ca : {static_cast<const char *>(nullptr), ""}) {
    Connection connection(kValidPort);
    ASSERT_TRUE(connection.fd.valid());
    TlsSession session;
    ASSERT_EQ(Hex(session.Begin(connection.fd.get(), nrtest::kTlsHostName, ca)),
              Hex(HTTPCLIENT_OK));
    EXPECT_EQ(Hex(session.HandshakeWithin(Deadline(10))), Hex(HTTPCLIENT_OK));
    EXPECT_EQ(Get(&session, connection.fd.get(), nrtest::kTlsHostName, "/page.html").body,
              nrtest::ApachePage());
  }
}

// A server that takes the connection and never answers the ClientHello:
// the handshake ends with its deadline (the silent wait passes at once on
// the virtual clock).
TEST_F(TlsWorld, SilentServerEndsTheHandshakeAtItsDeadline) {
  const int fds_before = nrtest::CountOpenFds();
  nrtest::ScriptServer silent;
  ASSERT_TRUE(silent.Start(nrtest::SilentHandshake(&silent), "127.0.0.1", 0,
                           nrtest::ScriptServer::Read::kNothing));
  {
    Connection connection(silent.port());
    ASSERT_TRUE(connection.fd.valid());
    TlsSession session;
    ASSERT_EQ(session.Begin(connection.fd.get(), nrtest::kTlsHostName, pki_.bundle.c_str()),
              HTTPCLIENT_OK);
    nrtest::VirtualClock clock;
    EXPECT_EQ(Hex(session.HandshakeWithin(Deadline(30))), Hex(HTTPCLIENT_E_CONNECT_TIMEOUT));
    EXPECT_GE(clock.ElapsedMs(), 30000u - 20u);
    EXPECT_LE(clock.ElapsedMs(), 31000u);
    EXPECT_EQ(Hex(session.Error()), Hex(HTTPCLIENT_E_CONNECT_TIMEOUT));
  }
  silent.Stop();
  EXPECT_EQ(nrtest::CountOpenFds(), fds_before);
}

// The real server's handshake passed on a byte at a time, 10 ms apart: far
// too slow for a 2 s budget, which ends it within budget + 1 s although
// bytes keep coming (real time: the peer is slow, not silent).  Passed on
// in 16-byte pieces every 2 ms the same handshake completes in its budget.
TEST_F(TlsWorld, DrippedHandshakeKeepsToItsBudget) {
  {
    nrtest::ScriptServer drip;
    ASSERT_TRUE(drip.Start(nrtest::DripRelay(&drip, kValidPort, 10), "127.0.0.1", 0,
                           nrtest::ScriptServer::Read::kNothing));
    Connection connection(drip.port());
    ASSERT_TRUE(connection.fd.valid());
    TlsSession session;
    ASSERT_EQ(session.Begin(connection.fd.get(), nrtest::kTlsHostName, pki_.bundle.c_str()),
              HTTPCLIENT_OK);
    const uint64_t start = namreg::ClockMonotonicMs();
    EXPECT_EQ(Hex(session.HandshakeWithin(Deadline(2))), Hex(HTTPCLIENT_E_CONNECT_TIMEOUT));
    const uint64_t elapsed = namreg::ClockMonotonicMs() - start;
    EXPECT_GE(elapsed, 2000u - 20u);
    EXPECT_LE(elapsed, 3000u);
  }
  {
    nrtest::ScriptServer drip;
    ASSERT_TRUE(drip.Start(nrtest::DripRelay(&drip, kValidPort, 2, 16), "127.0.0.1", 0,
                           nrtest::ScriptServer::Read::kNothing));
    Connection connection(drip.port());
    ASSERT_TRUE(connection.fd.valid());
    TlsSession session;
    ASSERT_EQ(session.Begin(connection.fd.get(), nrtest::kTlsHostName, pki_.bundle.c_str()),
              HTTPCLIENT_OK);
    EXPECT_EQ(Hex(session.HandshakeWithin(Deadline(10))), Hex(HTTPCLIENT_OK));
    EXPECT_EQ(Get(&session, connection.fd.get(), nrtest::kTlsHostName, "/page.html").body,
              nrtest::ApachePage());
  }
}

// One good fetch and one refused certificate under valgrind: no leak, no
// invalid access, and the results the layer gives without it.
TEST_F(TlsWorld, NoLeakUnderValgrind) {
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
       nrtest::BuiltProgram("tests/tls/tls_probe"), pki_.bundle, nrtest::kTlsHostName, "/page.html",
       std::to_string(kValidPort), std::to_string(kWrongHostPort)},
      options);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("port 8443: result 0x00000000, 1024 body bytes"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("port 8444: result " + Hex(HTTPCLIENT_E_TLS_CERT_NAME)), std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("ERROR SUMMARY: 0 errors"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("All heap blocks were freed"), std::string::npos) << r.err;
}

#endif  // NAMREG_TLS

// Arguments the layer refuses before it sends anything, and the calls out
// of order.
TEST(TlsLayer, RefusesBadArgumentsAndCallsOutOfOrder) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
  fdutil::SocketGuard a(pair[0]), b(pair[1]);
  const int fds_before = nrtest::CountOpenFds();
#if NAMREG_TLS
  const std::string long_host(256, 'h');
  const std::string long_ca(HTTPCLIENT_TLS_CA_FILE_SIZE, 'c');
  struct Case {
    const char *name;
    int fd;
    const char *host;
    const char *ca;
    uint32_t expected;
  };
  const Case cases[] = {
      {"no socket", -1, "host.example", nullptr, HTTPCLIENT_E_TLS_SETUP},
      {"no host", a.get(), nullptr, nullptr, HTTPCLIENT_E_TLS_SETUP},
      {"empty host", a.get(), "", nullptr, HTTPCLIENT_E_TLS_SETUP},
      {"host with a line feed", a.get(), "host.example\nX: y", nullptr, HTTPCLIENT_E_TLS_SETUP},
      {"host of 256 characters", a.get(), long_host.c_str(), nullptr, HTTPCLIENT_E_TLS_SETUP},
      {"CA file missing", a.get(), "host.example", "/nonexistent/ca.pem", HTTPCLIENT_E_TLS_CA_FILE},
      {"CA file name too long", a.get(), "host.example", long_ca.c_str(), HTTPCLIENT_E_TLS_CA_FILE},
      {"CA file name with a control byte", a.get(), "host.example", "/etc/ssl/\x01.pem",
       HTTPCLIENT_E_TLS_CA_FILE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TlsSession session;
    EXPECT_EQ(Hex(session.Begin(c.fd, c.host, c.ca)), Hex(c.expected));
    EXPECT_EQ(Hex(session.Error()), Hex(c.expected));
    EXPECT_EQ(session.Handshake(), TlsStatus::kFailed);
  }
  {
    SCOPED_TRACE("handshake before Begin, data before the handshake, Begin twice");
    TlsSession session;
    EXPECT_EQ(session.Handshake(), TlsStatus::kFailed);
    EXPECT_EQ(Hex(session.Error()), Hex(HTTPCLIENT_E_TLS_SETUP));
    TlsSession other;
    char buffer[8];
    size_t n = 1;
    ASSERT_EQ(other.Begin(a.get(), "host.example", HTTPCLIENT_TLS_SYSTEM_CA_FILE), HTTPCLIENT_OK);
    EXPECT_EQ(other.Send("x", 1, &n), TlsStatus::kFailed);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(other.Recv(buffer, sizeof(buffer), &n), TlsStatus::kFailed);
    EXPECT_FALSE(other.HasPending());
    EXPECT_EQ(Hex(other.Begin(a.get(), "host.example", nullptr)), Hex(HTTPCLIENT_E_TLS_SETUP));
  }
  {
    SCOPED_TRACE("a first step writes the ClientHello and then waits to read");
    TlsSession session;
    ASSERT_EQ(session.Begin(a.get(), "host.example", nullptr), HTTPCLIENT_OK);
    EXPECT_EQ(session.Handshake(), TlsStatus::kWantRead);
    char hello[4096];
    ASSERT_GT(recv(b.get(), hello, sizeof(hello), 0), 5);
    EXPECT_EQ(hello[0], 0x16) << "a handshake record";
    // The peer ends the stream: the handshake fails, it does not wait on.
    ASSERT_EQ(shutdown(b.get(), SHUT_WR), 0);
    EXPECT_EQ(session.Handshake(), TlsStatus::kFailed);
    EXPECT_EQ(Hex(session.Error()), Hex(HTTPCLIENT_E_TLS_HANDSHAKE));
  }
#else
  TlsSession session;
  EXPECT_EQ(Hex(session.Begin(a.get(), "host.example", nullptr)), Hex(HTTPCLIENT_E_TLS_NOT_BUILT));
  EXPECT_EQ(session.Handshake(), TlsStatus::kFailed);
  EXPECT_EQ(Hex(session.HandshakeWithin(Deadline(1))), Hex(HTTPCLIENT_E_TLS_NOT_BUILT));
  char buffer[8];
  size_t n = 1;
  EXPECT_EQ(session.Send("x", 1, &n), TlsStatus::kFailed);
  EXPECT_EQ(session.Recv(buffer, sizeof(buffer), &n), TlsStatus::kFailed);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Hex(session.Error()), Hex(HTTPCLIENT_E_TLS_NOT_BUILT));
  char peek;
  EXPECT_EQ(recv(b.get(), &peek, 1, 0), -1) << "the stub sent something";
#endif
  EXPECT_EQ(nrtest::CountOpenFds(), fds_before);
}

// The client's TLS setting: checked, kept asked for after a refusal (the
// next exchange fails with it and sends nothing), refused while an exchange
// runs; tunnels and raw sends refuse a client set to TLS.
TEST(TlsSetting, SetTLS) {
  EXPECT_EQ(HTTPClient_TLSBuiltIn(), NAMREG_TLS ? 1u : 0u);
  HTTPClientTLSOptions options{};
  EXPECT_EQ(HTTPClient_SetTLS(nullptr, &options), HTTPCLIENT_E_INVALID_HANDLE);
  HTTPClientHandle client = nullptr;
  ASSERT_EQ(HTTPClient_Initial(&client, HTTPCLIENT_VERSION), HTTPCLIENT_OK);
  EXPECT_EQ(HTTPClient_SetTLS(client, nullptr), HTTPCLIENT_E_INVALID_INFO);
  EXPECT_EQ(HTTPClient_SetTLS(client, &options), HTTPCLIENT_OK) << "plain TCP is always there";
  const uint32_t unavailable = HTTPClient_TLSBuiltIn() ? HTTPCLIENT_OK : HTTPCLIENT_E_TLS_NOT_BUILT;
  for (uint32_t enable : {1u, 2u, 0xFFFFFFFFu}) {
    options.dwEnable = enable;
    EXPECT_EQ(Hex(HTTPClient_SetTLS(client, &options)), Hex(unavailable)) << enable;
  }
  options.dwEnable = 1;
  std::strcpy(options.szCAFile, "/etc/ssl/certs/\x1b[2J.pem");
  EXPECT_EQ(Hex(HTTPClient_SetTLS(client, &options)),
            Hex(HTTPClient_TLSBuiltIn() ? HTTPCLIENT_E_TLS_CA_FILE : unavailable));
  std::memset(options.szCAFile, 'c', sizeof(options.szCAFile));  // not terminated
  const uint32_t refused = HTTPClient_TLSBuiltIn() ? HTTPCLIENT_E_TLS_CA_FILE : unavailable;
  EXPECT_EQ(Hex(HTTPClient_SetTLS(client, &options)), Hex(refused));

  // The refusal stays: no exchange, synchronous or not, goes out in clear.
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  ASSERT_GE(listener, 0);
  fdutil::SocketGuard listener_guard(listener);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t at_length = sizeof(at);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&at), sizeof(at)), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&at), &at_length), 0);
  HTTPClientInfo info{};
  std::strcpy(info.tServer.szHost, "127.0.0.1");
  info.tServer.dwPort = ntohs(at.sin_port);
  std::strcpy(info.szURI, "/");
  info.dwConnectTimeout = info.dwSendTimeout = info.dwRecvTimeout = 1000000;
  info.dwTotalTimeout = 1000000;
  char body[64];
  info.pRecvBuffer = body;
  info.dwRecvSize = sizeof(body);
  EXPECT_EQ(Hex(HTTPClient_Get(client, &info)), Hex(refused));
  EXPECT_EQ(Hex(HTTPClient_AsyncGet(client, &info)), Hex(refused));
  EXPECT_LT(accept(listener, nullptr, nullptr), 0) << "a connection was made";

  // Tunnels hand plain sockets over: refused on a client set to TLS.
  if (HTTPClient_TLSBuiltIn()) {
    options = HTTPClientTLSOptions{};
    options.dwEnable = 1;
    ASSERT_EQ(HTTPClient_SetTLS(client, &options), HTTPCLIENT_OK);
    std::strcpy(info.szURI, "/tunnel?cam=1");
    HTTPClientTunnelRequest raw = {1, 1000000, "x", 1, listener, 0};
    EXPECT_EQ(Hex(HTTPClient_AsyncTunnelOpen(client, &info)), Hex(HTTPCLIENT_E_TLS_TUNNEL));
    EXPECT_EQ(Hex(HTTPClient_AsyncTunnelRequest(client, &info, &raw)),
              Hex(HTTPCLIENT_E_TLS_TUNNEL));
    EXPECT_EQ(Hex(HTTPClient_TunnelGet(client, &info)), Hex(HTTPCLIENT_E_TLS_TUNNEL));
    EXPECT_EQ(Hex(HTTPClient_SendTunnelData(client, &raw)), Hex(HTTPCLIENT_E_TLS_TUNNEL));
    EXPECT_LT(accept(listener, nullptr, nullptr), 0) << "a connection was made";
  }

  // An exchange under way: the setting cannot change.
  options = HTTPClientTLSOptions{};
  ASSERT_EQ(HTTPClient_SetTLS(client, &options), HTTPCLIENT_OK);
  std::strcpy(info.szURI, "/");
  info.tServer.dwPort = 9;
  ASSERT_EQ(HTTPClient_AsyncGet(client, &info), HTTPCLIENT_OK);
  options = HTTPClientTLSOptions{};
  EXPECT_EQ(HTTPClient_SetTLS(client, &options), HTTPCLIENT_E_BUSY);
  EXPECT_EQ(HTTPClient_Abort(client), HTTPCLIENT_OK);
  EXPECT_EQ(HTTPClient_SetTLS(client, &options), HTTPCLIENT_OK);
  EXPECT_EQ(HTTPClient_Release(&client), HTTPCLIENT_OK);
}

}  // namespace
