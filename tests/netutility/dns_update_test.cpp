// SPDX-License-Identifier: MIT
// DNS UPDATE: the message on the wire, the judging of answers (scripted
// server), the printed and logged lines, and real updates against named.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <chrono>
#include <cstring>
#include <string>

#include "fake_dns.h"
#include "named_fixture.h"
#include "namreg/netutility.h"
#include "output_capture.h"
#include "testworld.h"

namespace {

using nrtest::Bytes;
using nrtest::FakeDns;

// The logged texts (without the line end syslog may keep).
std::vector<std::string> Logged(nrtest::SyslogSink *sink) {
  std::vector<std::string> out;
  for (const nrtest::SyslogRecord &r : sink->Drain(150)) {
    std::string m = r.message;
    if (!m.empty() && m.back() == '\n') m.pop_back();
    EXPECT_EQ(r.severity, 1) << r.raw;
    out.push_back(m);
  }
  return out;
}

// The syslog connection stays open once made: make it before descriptors are
// counted.
void OpenSyslog() {
  openlog(nullptr, LOG_NDELAY, LOG_USER);
}

// An answer to an update: the request's header with the given flag bytes
// and counts, nothing after it.
Bytes UpdateAnswer(const Bytes &request, uint8_t flags0, uint8_t flags1, uint16_t zocount,
                   uint16_t upcount) {
  Bytes b(request.begin(), request.begin() + 12);
  b[2] = flags0;
  b[3] = flags1;
  b[4] = static_cast<uint8_t>(zocount >> 8);
  b[5] = static_cast<uint8_t>(zocount);
  b[8] = static_cast<uint8_t>(upcount >> 8);
  b[9] = static_cast<uint8_t>(upcount);
  return b;
}

TEST(NetUtilityDnsUpdate, ArgumentChecksPrintAndLog) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::SyslogSink sink;
  ASSERT_TRUE(sink.ok());
  OpenSyslog();
  const std::string l64(64, 'h');
  struct Case {
    const char *server, *zone, *host, *address;
    const char *printed, *logged;
  } cases[] = {
      {nullptr, "example.test", "h.example.test", "192.0.2.7",
       "[NetUtility_DNSUpdate] Need DNS server IP\r\n", "[DNS_UPDATE]:Need DNS server IP"},
      {"127.0.0.1", "example.test", "h.example.test", nullptr,
       "[NetUtility_DNSUpdate] Need DNS update IP\r\n", "[DNS_UPDATE]:Need DNS update IP"},
      {"127.0.0.1", nullptr, "h.example.test", "192.0.2.7",
       "[NetUtility_DNSUpdate] Invalid argument\r\n", "[DNS_UPDATE]:Invalid argument"},
      {"127.0.0.1", "example.test", nullptr, "192.0.2.7",
       "[NetUtility_DNSUpdate] Invalid argument\r\n", "[DNS_UPDATE]:Invalid argument"},
      {"127.0.0.1", "example.test", "h.example.test", "999.1.1.1",
       "[NetUtility_DNSUpdate] Invalid IP\r\n", "[DNS_UPDATE]:Invalid IP"},
      {"127.0.0.1", "example.test", "h.example.test", "192.0.2.7.8",
       "[NetUtility_DNSUpdate] Invalid IP\r\n", "[DNS_UPDATE]:Invalid IP"},
  };
  FakeDns dns;
  std::string error;
  ASSERT_TRUE(dns.Start(
      "127.0.0.1",
      [](const Bytes &q) { return std::vector<Bytes>{UpdateAnswer(q, 0xA8, 0, 1, 0)}; }, &error))
      << error;
  nrtest::StdoutCapture out;
  const int fds = nrtest::CountOpenFds();
  for (const Case &c : cases) {
    EXPECT_EQ(NetUtility_DNSUpdate(c.server, c.zone, c.host, c.address, 60, 1, 1), -1);
    EXPECT_EQ(out.Take(), c.printed);
    EXPECT_EQ(Logged(&sink), std::vector<std::string>{c.logged});
  }
  // Names DNS cannot carry are refused the same way as missing ones.
  const std::string long_zone = l64 + ".test";
  const std::string l63(63, 'z');
  const std::string zone255 = l63 + "." + l63 + "." + l63 + "." + std::string(61, 'z');
  const char *const names[][2] = {{long_zone.c_str(), "h.example.test"},
                                  {"example.test", long_zone.c_str()},
                                  // each fits, both together do not fit 524 bytes
                                  {zone255.c_str(), zone255.c_str()}};
  for (const auto &n : names) {
    EXPECT_EQ(NetUtility_DNSUpdate("127.0.0.1", n[0], n[1], "192.0.2.7", 60, 1, 1), -1);
    EXPECT_EQ(out.Take(), "[NetUtility_DNSUpdate] Invalid argument\r\n");
    EXPECT_EQ(Logged(&sink), std::vector<std::string>{"[DNS_UPDATE]:Invalid argument"});
  }
  EXPECT_TRUE(dns.queries().empty());
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(NetUtilityDnsUpdate, MessageOnTheWire) {
  NAMREG_REQUIRE_SANDBOX();
  FakeDns dns;
  std::string error;
  ASSERT_TRUE(dns.Start(
      "127.0.0.1",
      [](const Bytes &q) { return std::vector<Bytes>{UpdateAnswer(q, 0xA8, 0, 1, 1)}; }, &error))
      << error;
  nrtest::StdoutCapture out;
  EXPECT_EQ(
      NetUtility_DNSUpdate("127.0.0.1", "example.com", "cam.example.com", "192.0.2.7", 60, 1, 2),
      0);
  const auto queries = dns.queries();
  ASSERT_EQ(queries.size(), 1u);
  const Bytes &m = queries[0];
  Bytes expected{0, 0, 0x28, 0x00, 0, 1, 0, 0, 0, 1, 0, 0};
  const Bytes zone = nrtest::NameData("example.com"), host = nrtest::NameData("cam.example.com");
  expected.insert(expected.end(), zone.begin(), zone.end());
  expected.insert(expected.end(), {0, 6, 0, 1});
  expected.insert(expected.end(), host.begin(), host.end());
  expected.insert(expected.end(), {0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 192, 0, 2, 7});
  ASSERT_EQ(m.size(), 60u);
  expected[0] = m[0];
  expected[1] = m[1];
  EXPECT_EQ(m, expected);

  // The caller's class byte and a TTL using all four bytes.
  EXPECT_EQ(NetUtility_DNSUpdate("127.0.0.1", "example.com", "cam.example.com", "10.0.0.1",
                                 0x01020304, 0xFE, 2),
            0);
  const Bytes m2 = dns.queries().at(1);
  EXPECT_EQ(Bytes(m2.end() - 12, m2.end()), (Bytes{0, 0xFE, 1, 2, 3, 4, 0, 4, 10, 0, 0, 1}));
}

TEST(NetUtilityDnsUpdate, AnswersAreJudgedByFlagsAndCounts) {
  NAMREG_REQUIRE_SANDBOX();
  struct Case {
    uint8_t flags0, flags1;
    uint16_t zocount, upcount;
    bool corrupt_id;
    int result;
    const char *printed;
    const char *logged;
  } cases[] = {
      {0xA8, 0x00, 1, 1, false, 0, "[NetUtility_DNSUpdate] Update success!\nFlag:A800\n",
       "[DNS_UPDATE]:Update success!"},
      {0xA8, 0x80, 1, 1, false, 0, "[NetUtility_DNSUpdate] Update success!\nFlag:A880\n",
       "[DNS_UPDATE]:Update success!"},
      // A server may leave the update section out of its answer.
      {0xA8, 0x00, 1, 0, false, 0, "[NetUtility_DNSUpdate] Update success!\nFlag:A800\n",
       "[DNS_UPDATE]:Update success!"},
      {0xA8, 0x00, 0, 1, false, -1, "[NetUtility_DNSUpdate] Update success!\nFlag:A800\n",
       "[DNS_UPDATE]:Update success!"},
      {0xA8, 0x00, 0, 0, false, -1, "[NetUtility_DNSUpdate] Update success!\nFlag:A800\n",
       "[DNS_UPDATE]:Update success!"},
      {0xA8, 0x00, 1, 2, false, -1, "[NetUtility_DNSUpdate] Update success!\nFlag:A800\n",
       "[DNS_UPDATE]:Update success!"},
      {0xA8, 0x00, 2, 1, false, -1, "[NetUtility_DNSUpdate] Update success!\nFlag:A800\n",
       "[DNS_UPDATE]:Update success!"},
      {0xA8, 0x00, 1, 1, true, 0, "[NetUtility_DNSUpdate] Update success!\nFlag:A800\n",
       "[DNS_UPDATE]:Update success!"},
      {0xAC, 0x00, 1, 1, false, -1, "[NetUtility_DNSUpdate] Update fail!\nFlag:AC00\n",
       "[DNS_UPDATE]:Update fail!"},
      {0xA8, 0x05, 1, 0, false, -1, "[NetUtility_DNSUpdate] Update fail!\nFlag:A805\n",
       "[DNS_UPDATE]:Update fail!"},
      {0xA8, 0x10, 1, 1, false, -1, "[NetUtility_DNSUpdate] Update fail!\nFlag:A810\n",
       "[DNS_UPDATE]:Update fail!"},
      {0x28, 0x00, 1, 1, false, -1, "[NetUtility_DNSUpdate] Update fail!\nFlag:2800\n",
       "[DNS_UPDATE]:Update fail!"},
      {0xA9, 0x00, 1, 1, false, -1, "[NetUtility_DNSUpdate] Update fail!\nFlag:A900\n",
       "[DNS_UPDATE]:Update fail!"},
  };
  nrtest::SyslogSink sink;
  ASSERT_TRUE(sink.ok());
  OpenSyslog();
  for (const Case &c : cases) {
    FakeDns dns;
    std::string error;
    ASSERT_TRUE(dns.Start(
        "127.0.0.1",
        [c](const Bytes &q) {
          Bytes b = UpdateAnswer(q, c.flags0, c.flags1, c.zocount, c.upcount);
          if (c.corrupt_id) b[0] ^= 0xFF;
          return std::vector<Bytes>{b};
        },
        &error))
        << error;
    nrtest::StdoutCapture out;
    const int fds = nrtest::CountOpenFds();
    EXPECT_EQ(NetUtility_DNSUpdate("127.0.0.1", "example.test", "cam.example.test", "192.0.2.7", 60,
                                   1, 2),
              c.result)
        << c.printed;
    EXPECT_EQ(out.Take(), c.printed);
    EXPECT_EQ(Logged(&sink), std::vector<std::string>{c.logged});
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
  }
  // A datagram of four bytes: the counts it lacks read as zero.
  FakeDns dns;
  std::string error;
  ASSERT_TRUE(dns.Start(
      "127.0.0.1",
      [](const Bytes &q) {
        return std::vector<Bytes>{Bytes{q[0], q[1], 0xA8, 0x00}};
      },
      &error))
      << error;
  nrtest::StdoutCapture out;
  EXPECT_EQ(
      NetUtility_DNSUpdate("127.0.0.1", "example.test", "cam.example.test", "192.0.2.7", 60, 1, 2),
      -1);
  EXPECT_EQ(out.Take(), "[NetUtility_DNSUpdate] Update success!\nFlag:A800\n");
}

TEST(NetUtilityDnsUpdate, SilenceAndEmptyAnswer) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::SyslogSink sink;
  ASSERT_TRUE(sink.ok());
  OpenSyslog();
  {
    FakeDns dns;
    std::string error;
    ASSERT_TRUE(dns.Start(
        "127.0.0.1", [](const Bytes &) { return std::vector<Bytes>(); }, &error))
        << error;
    nrtest::StdoutCapture out;
    const int fds = nrtest::CountOpenFds();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(NetUtility_DNSUpdate("127.0.0.1", "example.test", "cam.example.test", "192.0.2.7", 60,
                                   1, 1),
              -1);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 0.95);
    EXPECT_LT(seconds, 1.5);
    EXPECT_EQ(out.Take(), "[NetUtility_DNSUpdate] Time out and no response!");
    EXPECT_EQ(Logged(&sink), std::vector<std::string>{"[DNS_UPDATE]:Time out and no response!!"});
    EXPECT_EQ(dns.queries().size(), 1u);
    EXPECT_EQ(nrtest::CountOpenFds(), fds);
  }
  {
    FakeDns dns;
    std::string error;
    ASSERT_TRUE(dns.Start(
        "127.0.0.1", [](const Bytes &) { return std::vector<Bytes>{Bytes()}; }, &error))
        << error;
    nrtest::StdoutCapture out;
    EXPECT_EQ(NetUtility_DNSUpdate("127.0.0.1", "example.test", "cam.example.test", "192.0.2.7", 60,
                                   1, 1),
              -1);
    const std::string printed = out.Take();
    EXPECT_EQ(printed.rfind("[NetUtility_DNSUpdate] recvfrom failed (", 0), 0u) << printed;
    EXPECT_EQ(printed.substr(printed.size() - 3), ")\r\n");
    EXPECT_EQ(Logged(&sink), std::vector<std::string>{"[DNS_UPDATE]:recvfrom failed"});
  }
}

// Real updates: named accepts them for one zone from 127.0.0.1 and refuses
// them for another.
TEST(NetUtilityDnsUpdate, AgainstNamed) {
  NAMREG_REQUIRE_SANDBOX();
  std::string error;
  nrtest::NamedZone open_zone{"dyn.test", {"www 60 IN A 192.0.2.10"}, true};
  nrtest::NamedZone closed_zone{"static.test", {"www 60 IN A 192.0.2.20"}, false};
  auto named = nrtest::StartNamed({open_zone, closed_zone}, &error);
  ASSERT_TRUE(named) << error;
  nrtest::SyslogSink sink;
  ASSERT_TRUE(sink.ok());
  OpenSyslog();
  nrtest::StdoutCapture out;
  const int fds = nrtest::CountOpenFds();

  EXPECT_EQ(NetUtility_DNSUpdate("127.0.0.1", "dyn.test", "cam.dyn.test", "192.0.2.77", 60, 1, 3),
            0);
  EXPECT_EQ(out.Take(), "[NetUtility_DNSUpdate] Update success!\nFlag:A800\n");
  EXPECT_EQ(Logged(&sink), std::vector<std::string>{"[DNS_UPDATE]:Update success!"});

  uint32_t address = 0;
  EXPECT_EQ(NetUtility_DNSResolve(inet_addr("127.0.0.1"), "cam.dyn.test", 2, &address), 0);
  EXPECT_EQ(address, inet_addr("192.0.2.77"));
  const std::string dig = nrtest::FindProgram("dig");
  ASSERT_FALSE(dig.empty()) << "dig is not installed";
  auto r =
      nrtest::RunProcess({dig, "@127.0.0.1", "+short", "+time=2", "+tries=1", "cam.dyn.test", "A"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "192.0.2.77\n");

  // Refused: REFUSED in the answer's code.
  EXPECT_EQ(
      NetUtility_DNSUpdate("127.0.0.1", "static.test", "cam.static.test", "192.0.2.78", 60, 1, 3),
      -1);
  EXPECT_EQ(out.Take(), "[NetUtility_DNSUpdate] Update fail!\nFlag:A805\n");
  EXPECT_EQ(Logged(&sink), std::vector<std::string>{"[DNS_UPDATE]:Update fail!"});
  r = nrtest::RunProcess({dig, "@127.0.0.1", "+time=2", "+tries=1", "cam.static.test", "A"});
  EXPECT_NE(r.out.find("status: NXDOMAIN"), std::string::npos) << r.out;
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

}  // namespace
