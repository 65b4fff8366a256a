// SPDX-License-Identifier: MIT
// Socket primitives and the salt greeting against scripted loopback peers;
// the tick clock and the text helpers.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>

#include "client_fixture.h"
#include "fake_dns.h"
#include "peers.h"
#include "testworld.h"
#include "virtual_clock.h"

namespace {

using ddnstest::CaptureOut;
using nrtest::ScriptServer;

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

bool IsOpen(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

TEST(DDNSClientSocketConnect, RefusesASocketAlreadySetAndLeavesItOpen) {
  int other = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(other, 0);
  int32_t fd = other;
  EXPECT_EQ(
      CaptureOut([&] { EXPECT_EQ(DDNSClient_SocketConnect(&fd, kLoopback, 80, 1), 0x80010006u); }),
      "[DDNSClient_SocketConnect] socket has been created\r\n");
  EXPECT_EQ(fd, other);
  EXPECT_TRUE(IsOpen(other));
  close(other);
}

TEST(DDNSClientSocketConnect, AddressOrPortZeroCreatesNothing) {
  const int fds = nrtest::CountOpenFds();
  int32_t fd = -1;
  EXPECT_EQ(
      CaptureOut([&] { EXPECT_EQ(DDNSClient_SocketConnect(&fd, kLoopback, 0, 1), 0x80010006u); }),
      "[DDNSClient_SocketConnect] Invalid Argument\r\n");
  EXPECT_EQ(DDNSClient_SocketConnect(&fd, 0, 3495, 1), 0x80010006u);
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(DDNSClientSocketConnect, ConnectsAndFailsCleanly) {
  const int fds = nrtest::CountOpenFds();
  uint16_t port;
  {
    ScriptServer server([](int, const std::string &, int) {});
    ASSERT_TRUE(server.ok());
    port = server.port();
    int32_t fd = -1;
    EXPECT_EQ(DDNSClient_SocketConnect(&fd, kLoopback, port, 2), 0u);
    EXPECT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(DDNSClient_CloseSocket(&fd), 0);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(DDNSClient_CloseSocket(&fd), 0);
  }
  // Nobody listens there any more.  The pending error is not read, so the
  // refusal only shows at the first read.
  int32_t fd = -1;
  EXPECT_EQ(DDNSClient_SocketConnect(&fd, kLoopback, port, 2), 0u);
  ASSERT_GE(fd, 0);
  char salt[11];
  EXPECT_EQ(DDNSClient_GnuDIP_TCP_ReceiveSalt(fd, 2, salt, 10), 0x80020010u);
  EXPECT_EQ(DDNSClient_CloseSocket(&fd), 0);
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

// A connected pair: the client side through DDNSClient_SocketConnect, the
// server's side run by `script`.
struct Pair {
  explicit Pair(ScriptServer::Script script) : server(std::move(script)) {
    if (server.ok()) DDNSClient_SocketConnect(&fd, kLoopback, server.port(), 2);
  }
  ~Pair() { DDNSClient_CloseSocket(&fd); }
  ScriptServer server;
  int32_t fd = -1;
};

TEST(DDNSClientReceive, ReadsUntilThePeerCloses) {
  Pair p([](int s, const std::string &, int) {
    nrtest::SendAll(s, "retc=0:");
    usleep(50000);
    nrtest::SendAll(s, "tail");
  });
  ASSERT_GE(p.fd, 0);
  char buffer[64];
  EXPECT_EQ(DDNSClient_Receive(&p.fd, buffer, 63, 5), 0);
  EXPECT_STREQ(buffer, "retc=0:tail");
  EXPECT_EQ(p.fd, -1) << "closed after the peer's close";
}

TEST(DDNSClientReceive, ExactlyFillingTheSizeKeepsTheSocketOpen) {
  Pair p([](int s, const std::string &, int) {
    nrtest::SendAll(s, "0123456789");
    nrtest::PeerCloses(s, 3000);
  });
  ASSERT_GE(p.fd, 0);
  char buffer[12];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(DDNSClient_Receive(&p.fd, buffer, 10, 5), 0);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_EQ(buffer[10], '\0');
  EXPECT_EQ(buffer[11], 'x');
  EXPECT_GE(p.fd, 0);
  EXPECT_TRUE(IsOpen(p.fd));
}

TEST(DDNSClientReceive, StallAfterPartialDataFailsAtTheTimeOut) {
  Pair p([](int s, const std::string &, int) {
    nrtest::SendAll(s, "retc=0:partial");
    nrtest::PeerCloses(s, 5000);
  });
  ASSERT_GE(p.fd, 0);
  char buffer[64];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_Receive(&p.fd, buffer, 63, 1), -1); }),
            "[DDNSClient_Receive] select failed\r\n");
  EXPECT_GE(Seconds(start), 0.9);
  EXPECT_LT(Seconds(start), 3.0);
  EXPECT_EQ(p.fd, -1);
}

TEST(DDNSClientReceive, ArgumentChecks) {
  int32_t fd = -1;
  char buffer[4];
  EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_Receive(&fd, buffer, 3, 1), -1); }),
            "[DDNSClient_Receive] Socket does not created\r\n");
  fd = socket(AF_INET, SOCK_STREAM, 0);
  const int raw = fd;
  EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_Receive(&fd, buffer, 0, 1), -1); }),
            "[DDNSClient_Receive] Invalid argument\r\n");
  EXPECT_EQ(fd, -1);
  EXPECT_FALSE(IsOpen(raw));
}

TEST(DDNSClientSend, SendsEverythingAndChecksItsArguments) {
  std::string got;
  {
    // The listener sits on an ephemeral loopback port of the host's network:
    // a stray connection from a parallel test must not hide ours.
    Pair p([&got](int s, const std::string &, int) {
      std::string line = nrtest::ReadLine(s);
      if (line.size() > got.size()) got = line;
    });
    ASSERT_GE(p.fd, 0);
    std::string line(100000, 'a');
    line += "\r\n";
    EXPECT_EQ(DDNSClient_Send(&p.fd, line.data(), static_cast<int32_t>(line.size()), 5), 0);
    EXPECT_GE(p.fd, 0);
    const int raw = p.fd;
    EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_Send(&p.fd, line.data(), 0, 5), -1); }),
              "[DDNSClient_Send] Invalid send data\r\n");
    EXPECT_EQ(p.fd, -1);
    EXPECT_FALSE(IsOpen(raw));
    EXPECT_EQ(CaptureOut([&] { EXPECT_EQ(DDNSClient_Send(&p.fd, "x", 1, 5), -1); }),
              "[DDNSClient_Send] Socket does not created\r\n");
  }
  EXPECT_EQ(got.size(), 100002u);
}

TEST(DDNSClientReceiveSalt, TakesExactlyElevenBytes) {
  struct Case {
    std::string greeting;
    uint32_t result;
  };
  const Case cases[] = {
      {"abcdefghij\n", 0u},
      {"abcdefghij", 0x80020010u},
      {"abcdefghij\r\n", 0x80020010u},
      {"", 0x80020010u},  // closed at once
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.greeting);
    Pair p([&k](int s, const std::string &, int) {
      if (!k.greeting.empty()) nrtest::SendAll(s, k.greeting);
      if (!k.greeting.empty()) nrtest::PeerCloses(s, 3000);
    });
    ASSERT_GE(p.fd, 0);
    usleep(100000);  // the whole greeting is there before the one read
    char salt[11] = "----------";
    EXPECT_EQ(DDNSClient_GnuDIP_TCP_ReceiveSalt(p.fd, 2, salt, 10), k.result);
    if (k.result == 0) {
      EXPECT_STREQ(salt, "abcdefghij");
    }
    EXPECT_GE(p.fd, 0) << "the caller closes";
  }
}

TEST(DDNSClientReceiveSalt, SilenceAndArguments) {
  Pair p([](int s, const std::string &, int) { nrtest::PeerCloses(s, 3000); });
  ASSERT_GE(p.fd, 0);
  char salt[11];
  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_GnuDIP_TCP_ReceiveSalt(p.fd, 1, salt, 10), 0x80020010u);
            }),
            "[DDNSClient_GnuDIP_TCP_ReceiveSalt] select timeout\r\n");
  EXPECT_EQ(CaptureOut([&] {
              EXPECT_EQ(DDNSClient_GnuDIP_TCP_ReceiveSalt(-1, 1, salt, 10), 0xFFFFFFFFu);
            }),
            "[DDNSClient_GnuDIP_TCP_ReceiveSalt] Invalid arguments\r\n");
  EXPECT_EQ(DDNSClient_GnuDIP_TCP_ReceiveSalt(p.fd, 1, nullptr, 10), 0xFFFFFFFFu);
}

TEST(DDNSClientClock, ElapsedCountsForwardAcrossTheWrap) {
  const uint32_t now = DDNSClient_GetTickMs();
  uint32_t elapsed = 0;
  EXPECT_EQ(DDNSClient_IsTimeout(now - 5000u, 4, &elapsed), 1);
  EXPECT_EQ(elapsed, 5u);
  EXPECT_EQ(DDNSClient_IsTimeout(now - 5000u, 10, nullptr), 0);
  // A start tick "ahead" of now was taken before the 32-bit tick wrapped:
  // nearly 2^32 ms ago, long past any time-out.
  EXPECT_EQ(DDNSClient_IsTimeout(now + 3500u, 3, &elapsed), 1);
  EXPECT_EQ(elapsed, (0u - 3500u) / 1000u);
  usleep(20000);
  EXPECT_GE(DDNSClient_GetTickMs() - now, 10u);

  // A time-out that starts 1 s before the wrap ends 3 s later, not at once.
  nrtest::VirtualClock::Options options;
  options.follow_real_time = false;
  options.tick_start = 0xFFFFFC18u;
  nrtest::VirtualClock clock(options);
  const uint32_t start = DDNSClient_GetTickMs();
  clock.Advance(2500);
  EXPECT_EQ(DDNSClient_IsTimeout(start, 3, &elapsed), 0);
  EXPECT_EQ(elapsed, 2u);
  clock.Advance(600);
  EXPECT_EQ(DDNSClient_IsTimeout(start, 3, &elapsed), 1);
  EXPECT_EQ(elapsed, 3u);
}

TEST(DDNSClientGetIP, FindsTheFirstDottedAddress) {
  struct Case {
    const char *text;
    const char *marker;
    int32_t result;
    const char *address;
  };
  const Case cases[] = {
      {"Current IP Address: 1.2.3.4", "Current IP Address:", 0, "1.2.3.4"},
      {"<body>Current IP Address: 203.0.113.9</body>", "Current IP Address:", 0, "203.0.113.9"},
      {"retc=0:192.168.100.200:", "retc=0:", 0, "192.168.100.200"},
      {"10.0.0.1 then 10.0.0.2", nullptr, 0, "10.0.0.1"},
      {"v1.2 then 10.0.0.2", "then", 0, "10.0.0.2"},
      {"no marker 1.2.3.4", "retc=0:", -1, ""},
      {"retc=0: no dot at all", "retc=0:", -1, ""},
      {"retc=0:1234567890.1234567890", "retc=0:", -1, ""},  // longer than any address
      {"retc=0:255.255.255.255", "retc=0:", 0, "255.255.255.255"},
      {"7.", nullptr, 0, "7."},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.text);
    char out[16 + 4];
    std::memset(out, '#', sizeof out);
    out[0] = '\0';
    EXPECT_EQ(DDNSClient_GetIP(k.text, k.marker, out), k.result);
    if (k.result == 0) {
      EXPECT_STREQ(out, k.address);
    }
    for (size_t i = 16; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "nothing past 16 bytes";
  }
  char out[16];
  EXPECT_EQ(
      CaptureOut([&] { EXPECT_EQ(DDNSClient_GetIP(nullptr, nullptr, out), (int32_t)0x80010006u); }),
      "[DDNSClient_GetIP] Invalid arguments\r\n");
}

TEST(DDNSClientExtractDomain, SplitsAtTheFirstDot) {
  struct Case {
    const char *name;
    uint32_t length;
    uint32_t result;
    const char *host, *domain;
  };
  const Case cases[] = {
      {"a.b.c", 5, 0, "a", "b.c"},
      {".b", 2, 0, "", "b"},
      {"cam.dyn.example", 15, 0, "cam", "dyn.example"},
      {"cam.dyn.example", 7, 0, "cam", "dyn"},  // length shorter than the text
      {"cam.", 4, 0, "cam", ""},
      {"nodot", 5, 0x80010006u, "", ""},
      {"cam.example", 3, 0x80010006u, "", ""},  // the dot lies past length
      {"", 1, 0x80010006u, "", ""},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    char host[32], domain[32];
    std::memset(host, '#', sizeof host);
    std::memset(domain, '#', sizeof domain);
    CaptureOut(
        [&] { EXPECT_EQ(DDNSClient_ExtractDomain(k.name, k.length, host, domain), k.result); });
    EXPECT_STREQ(host, k.host);
    EXPECT_STREQ(domain, k.domain);
    // Never more than `length` bytes into either output.
    for (size_t i = k.length; i < sizeof host; ++i) {
      EXPECT_EQ(host[i], '#');
      EXPECT_EQ(domain[i], '#');
    }
  }
  char host[8], domain[8];
  EXPECT_EQ(
      CaptureOut([&] { EXPECT_EQ(DDNSClient_ExtractDomain("a.b", 0, host, domain), 0x80010006u); }),
      "[DDNSClient_ExtractDomain] Invalid arguments\r\n");
}

TEST(DDNSClientHexToBytes, PairsAndInvalidCharacters) {
  unsigned char bytes[8];
  std::memset(bytes, 0xEE, sizeof bytes);
  EXPECT_EQ(DDNSClient_HexToBytes("0aFF", bytes), 2);
  EXPECT_EQ(bytes[0], 0x0A);
  EXPECT_EQ(bytes[1], 0xFF);
  EXPECT_EQ(bytes[2], 0xEE);
  EXPECT_EQ(DDNSClient_HexToBytes("abc", bytes), 1);
  EXPECT_EQ(bytes[0], 0xAB);
  EXPECT_EQ(bytes[1], 0xFF) << "the odd character writes nothing";
  EXPECT_EQ(DDNSClient_HexToBytes("a", bytes), 0);
  EXPECT_EQ(bytes[0], 0xAB);
  // Invalid characters (above '9' or below '0') count as 0 and are reported.
  std::string out = CaptureOut([&] { EXPECT_EQ(DDNSClient_HexToBytes("zA-1", bytes), 2); });
  EXPECT_EQ(bytes[0], 0x0A);
  EXPECT_EQ(bytes[1], 0x01);
  EXPECT_EQ(out, "Wrong hex value = z\nWrong hex value = -\n");
}

}  // namespace
