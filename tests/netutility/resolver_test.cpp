// SPDX-License-Identifier: MIT
// The name-server file and the stub resolver against a scripted name server
// on 127.0.0.1:53 inside the test world.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <chrono>
#include <cstring>
#include <string>

#include "fake_dns.h"
#include "namreg/netutility.h"
#include "output_capture.h"
#include "testworld.h"

namespace {

using nrtest::Bytes;
using nrtest::FakeDns;
using nrtest::FakeRecord;

const uint32_t kLoopback = inet_addr("127.0.0.1");
constexpr uint32_t kUntouched = 0xDEADBEEF;

uint32_t Addr(const char *dotted) {
  return inet_addr(dotted);
}

FakeRecord A(const char *dotted) {
  FakeRecord r;
  r.rdata = nrtest::ARecordData(dotted);
  return r;
}

FakeRecord Other(uint16_t type, Bytes rdata) {
  FakeRecord r;
  r.type = type;
  r.rdata = std::move(rdata);
  return r;
}

FakeDns::Script Reply(std::function<Bytes(const Bytes &)> make) {
  return [make](const Bytes &query) { return std::vector<Bytes>{make(query)}; };
}

TEST(NetUtilityResolvConf, NameServerFile) {
  NAMREG_REQUIRE_SANDBOX();
  const std::string l63(63, '1'), l64(64, '1');
  const std::string pad = "#" + std::string(238, 'x') + "\n";  // 240 bytes
  struct Case {
    std::string text;
    int result;
    const char *primary;
    const char *secondary;
  } cases[] = {
      {"nameserver 192.168.0.1\n", 0, "192.168.0.1", nullptr},
      {"nameserver 192.168.0.1\nsearch example.test\n", 0, "192.168.0.1", nullptr},
      {"domain x\nnameserver 10.0.0.1\nnameserver 10.0.0.2\nnameserver 10.0.0.3\n", 0, "10.0.0.1",
       "10.0.0.2"},
      {"nameserver 192.168.0.1", -1, nullptr, nullptr},
      {"nameserver 10.0.0.1\nnameserver 10.0.0.2", -1, "10.0.0.1", nullptr},
      {"", -1, nullptr, nullptr},
      {"# no entries here\nsearch example.test\n", -1, nullptr, nullptr},
      {"nameserver\t10.0.0.1\n", -1, nullptr, nullptr},  // the keyword wants a space
      {"nameserver " + l63 + "\n", 0, "255.255.255.255", nullptr},
      {"nameserver " + l64 + "\n", -1, nullptr, nullptr},
      {"nameserver bogus\n", 0, "255.255.255.255", nullptr},
      // Only the first 256 bytes count: an entry running past them is cut.
      {pad + "nameserver 10.0.0.1\n", -1, nullptr, nullptr},
      {pad.substr(0, 226) + "\nnameserver 10.0.0.1\n" + "nameserver 10.0.0.2\n", 0, "10.0.0.1",
       nullptr},
  };
  for (const Case &c : cases) {
    nrtest::WriteResolvConf(c.text);
    uint32_t primary = kUntouched, secondary = kUntouched;
    EXPECT_EQ(NetUtility_GetDNSIP(&primary, &secondary), c.result) << c.text;
    EXPECT_EQ(primary, c.primary ? Addr(c.primary) : 0u) << c.text;
    EXPECT_EQ(secondary, c.secondary ? Addr(c.secondary) : 0u) << c.text;
  }
  // 256 bytes whose very last one ends the entry.
  std::string exact = "#" + std::string(222, 'y') + "\nnameserver 10.9.8.7\n";
  exact.insert(1, 256 - exact.size(), 'z');
  ASSERT_EQ(exact.size(), 256u);
  nrtest::WriteResolvConf(exact + "nameserver 10.0.0.9\n");
  uint32_t primary = 0, secondary = 0;
  EXPECT_EQ(NetUtility_GetDNSIP(&primary, &secondary), 0);
  EXPECT_EQ(primary, Addr("10.9.8.7"));
  EXPECT_EQ(secondary, 0u);

  EXPECT_EQ(NetUtility_GetDNSIP(nullptr, &secondary), -1);
  EXPECT_EQ(NetUtility_GetDNSIP(&primary, nullptr), -1);

  // No file at all (an empty /etc for this process only).
  const int fds = nrtest::CountOpenFds();
  ASSERT_EQ(mount("tmpfs", "/etc", "tmpfs", 0, "size=64k"), 0) << strerror(errno);
  primary = secondary = kUntouched;
  EXPECT_EQ(NetUtility_GetDNSIP(&primary, &secondary), -1);
  EXPECT_EQ(primary, 0u);
  EXPECT_EQ(secondary, 0u);
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST(NetUtilityResolver, ArgumentChecks) {
  nrtest::StdoutCapture out;
  uint32_t address = kUntouched;
  EXPECT_EQ(NetUtility_DNSResolve(0, "www.example.test", 1, &address), -1);
  EXPECT_EQ(out.Take(), "[NetUtility_DNSResolve] Need DNS server IP\r\n");
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, nullptr, 1, &address), -1);
  EXPECT_EQ(out.Take(), "[NetUtility_DNSResolve] Invalid argument\r\n");
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, "www.example.test", 1, nullptr), -1);
  EXPECT_EQ(out.Take(), "[NetUtility_DNSResolve] Invalid argument\r\n");
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, "www.example.test", 0, &address), -1);
  EXPECT_EQ(out.Take(), "[NetUtility_DNSResolve] Invalid argument\r\n");
  EXPECT_EQ(address, kUntouched);
}

class NetUtilityResolverNet : public ::testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    sandboxed_ = true;
  }
  void Serve(FakeDns::Script script) {
    std::string error;
    ASSERT_TRUE(dns_.Start("127.0.0.1", std::move(script), &error)) << error;
  }
  bool sandboxed_ = false;
  FakeDns dns_;
};

TEST_F(NetUtilityResolverNet, QueryOnTheWireAndAnAnswer) {
  Serve(Reply([](const Bytes &q) { return nrtest::MakeAnswer(q, {A("192.0.2.10")}); }));
  const int fds = nrtest::CountOpenFds();
  uint32_t address = 0;
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, "www.example.test", 2, &address), 0);
  EXPECT_EQ(address, Addr("192.0.2.10"));
  EXPECT_EQ(nrtest::CountOpenFds(), fds);

  const auto queries = dns_.queries();
  ASSERT_EQ(queries.size(), 1u);
  const Bytes &q = queries[0];
  Bytes expected{0, 0, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
  const Bytes name = nrtest::NameData("www.example.test");
  expected.insert(expected.end(), name.begin(), name.end());
  expected.insert(expected.end(), {0, 1, 0, 1});
  ASSERT_EQ(q.size(), 16u + name.size());
  expected[0] = q[0];  // the random ID
  expected[1] = q[1];
  EXPECT_EQ(q, expected);
}

TEST_F(NetUtilityResolverNet, DottedAddressSendsNothing) {
  Serve(Reply([](const Bytes &q) { return nrtest::MakeAnswer(q, {A("192.0.2.10")}); }));
  uint32_t address = 0;
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, "198.51.100.7", 1, &address), 0);
  EXPECT_EQ(address, Addr("198.51.100.7"));
  int32_t result = 7;
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  EXPECT_EQ(NetUtility_IsValidDomainName("10.1.2.3", &result), 1);
  EXPECT_EQ(result, 0);
  usleep(200 * 1000);
  EXPECT_TRUE(dns_.queries().empty());
}

// What the resolver makes of each kind of answer.
TEST_F(NetUtilityResolverNet, AnswerKinds) {
  struct Case {
    const char *what;
    std::function<Bytes(const Bytes &)> make;
    int32_t result;
    uint32_t address;
  };
  const Bytes aaaa(16, 0x20);
  const Case cases[] = {
      {"A", [](const Bytes &q) { return nrtest::MakeAnswer(q, {A("192.0.2.1")}); }, 0,
       Addr("192.0.2.1")},
      {"CNAME then A",
       [](const Bytes &q) {
         return nrtest::MakeAnswer(q,
                                   {Other(5, nrtest::NameData("h.example.test")), A("192.0.2.2")});
       },
       0, Addr("192.0.2.2")},
      // Answers with another ID are dropped: the wait runs out.
      {"wrong ID",
       [](const Bytes &q) {
         Bytes b = nrtest::MakeAnswer(q, {A("192.0.2.1")});
         b[1] ^= 0x5A;
         return b;
       },
       -1, kUntouched},
      {"RCODE 3, wrong ID",
       [](const Bytes &q) {
         Bytes b = nrtest::MakeAnswer(q, {}, 3);
         b[0] ^= 0x5A;
         return b;
       },
       -1, kUntouched},
      {"RCODE 3", [](const Bytes &q) { return nrtest::MakeAnswer(q, {}, 3); },
       DNS_RESULT_NAME_ERROR, kUntouched},
      {"QDCOUNT 2",
       [](const Bytes &q) {
         Bytes b = nrtest::MakeAnswer(q, {A("192.0.2.1")});
         b[5] = 2;
         return b;
       },
       -1, kUntouched},
      {"no answers", [](const Bytes &q) { return nrtest::MakeAnswer(q, {}); }, -1, kUntouched},
      {"AAAA first",
       [aaaa](const Bytes &q) {
         return nrtest::MakeAnswer(q, {Other(28, aaaa), A("192.0.2.1")});
       },
       0, kUntouched},
      {"MX first",
       [](const Bytes &q) {
         Bytes mx{0, 10};
         const Bytes n = nrtest::NameData("mx.example.test");
         mx.insert(mx.end(), n.begin(), n.end());
         return nrtest::MakeAnswer(q, {Other(15, mx), A("192.0.2.1")});
       },
       0, kUntouched},
      {"cut-off question",
       [](const Bytes &q) {
         Bytes b = nrtest::MakeAnswer(q, {});
         b[7] = 1;
         b.resize(b.size() - 3);
         return b;
       },
       -1, kUntouched},
      {"RDATA past the end",
       [](const Bytes &q) {
         Bytes b = nrtest::MakeAnswer(q, {A("192.0.2.1")});
         b[b.size() - 5] = 0x40;  // RDLENGTH 0x0044
         return b;
       },
       0, kUntouched},
      {"pointer as the last byte",
       [](const Bytes &q) {
         Bytes b = nrtest::MakeAnswer(q, {});
         b[7] = 1;
         b.insert(b.end(), {3, 'w', 'w', 'w', 3, 'a', 'b', 'c', 4, 'x', 'y', 'z', 'w', 0xC0});
         return b;
       },
       0, kUntouched},
      {"label run to the end",
       [](const Bytes &q) {
         Bytes b = nrtest::MakeAnswer(q, {});
         b[7] = 1;
         b.insert(b.end(), 40, 0x02);
         return b;
       },
       0, kUntouched},
      {"empty datagram", [](const Bytes &) { return Bytes(); }, -1, kUntouched},
  };
  for (const Case &c : cases) {
    FakeDns dns;
    std::string error;
    ASSERT_TRUE(dns.Start("127.0.0.1", Reply(c.make), &error)) << error;
    nrtest::StdoutCapture out;
    const int fds = nrtest::CountOpenFds();
    uint32_t address = kUntouched;
    EXPECT_EQ(NetUtility_DNSResolve(kLoopback, "www.example.test", 1, &address), c.result)
        << c.what;
    EXPECT_EQ(address, c.address) << c.what;
    EXPECT_EQ(nrtest::CountOpenFds(), fds) << c.what;
    // An empty datagram carries no ID: dropped like any other stranger.
    EXPECT_EQ(out.Take(), "") << c.what;
  }
}

TEST_F(NetUtilityResolverNet, SilenceEndsAtTheTimeout) {
  Serve([](const Bytes &) { return std::vector<Bytes>(); });
  const int fds = nrtest::CountOpenFds();
  uint32_t address = kUntouched;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, "www.example.test", 1, &address), -1);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 0.95);
  EXPECT_LT(seconds, 1.5);
  EXPECT_EQ(address, kUntouched);
  EXPECT_EQ(dns_.queries().size(), 1u);  // one datagram, no retransmission
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(NetUtilityResolverNet, OverlongNamesAreRefusedBeforeSending) {
  Serve(Reply([](const Bytes &q) { return nrtest::MakeAnswer(q, {A("192.0.2.1")}); }));
  const std::string l63(63, 'a'), l64(64, 'a');
  const std::string n255 = l63 + "." + l63 + "." + l63 + "." + std::string(61, 'b');
  nrtest::StdoutCapture out;
  const int fds = nrtest::CountOpenFds();
  uint32_t address = kUntouched;
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, (l64 + ".example.test").c_str(), 1, &address), -1);
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, (n255 + "b").c_str(), 1, &address), -1);
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, std::string(4000, 'c').c_str(), 1, &address), -1);
  EXPECT_EQ(address, kUntouched);
  EXPECT_EQ(out.Take(),
            "[NetUtility_DNSResolve] Invalid argument\r\n"
            "[NetUtility_DNSResolve] Invalid argument\r\n"
            "[NetUtility_DNSResolve] Invalid argument\r\n");
  usleep(200 * 1000);
  EXPECT_TRUE(dns_.queries().empty());
  // The longest names DNS carries go out whole.
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, (l63 + ".example.test").c_str(), 1, &address), 0);
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, n255.c_str(), 1, &address), 0);
  EXPECT_EQ(address, Addr("192.0.2.1"));
  const auto queries = dns_.queries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(nrtest::QueryName(queries[0]), l63 + ".example.test");
  EXPECT_EQ(queries[1].size(), 16u + 255u);
  EXPECT_EQ(nrtest::QueryName(queries[1]), n255);
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(NetUtilityResolverNet, DomainNameCheck) {
  Serve([](const Bytes &q) -> std::vector<Bytes> {
    const std::string name = nrtest::QueryName(q);
    if (name == "good.example.test") return {nrtest::MakeAnswer(q, {A("192.0.2.1")})};
    if (name == "v6only.example.test") return {nrtest::MakeAnswer(q, {Other(28, Bytes(16, 1))})};
    if (name == "silent.example.test") return {};
    return {nrtest::MakeAnswer(q, {}, 3)};
  });
  nrtest::WriteResolvConf("nameserver 127.0.0.1\nnameserver 127.0.0.2\n");
  nrtest::StdoutCapture out;
  const int fds = nrtest::CountOpenFds();
  int32_t result = 5;
  EXPECT_EQ(NetUtility_IsValidDomainName("good.example.test", &result), 1);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out.Take(), "");

  EXPECT_EQ(NetUtility_IsValidDomainName("missing.example.test", &result), 0);
  EXPECT_EQ(result, DNS_RESULT_NAME_ERROR);
  EXPECT_EQ(out.Take(), "[NetUtility_IsValidDomainName] DNS resolve failed\r\n");

  // A clean answer counts even without an address the stub could use (the
  // exchange itself resolves the name with the system resolver).
  result = 5;
  EXPECT_EQ(NetUtility_IsValidDomainName("v6only.example.test", &result), 1);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out.Take(), "");

  // Two seconds of silence, and the second server is not tried.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NetUtility_IsValidDomainName("silent.example.test", &result), 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(result, -1);
  EXPECT_GE(seconds, 1.9);
  EXPECT_LT(seconds, 2.6);
  out.Take();

  EXPECT_EQ(NetUtility_IsValidDomainName("", &result), 0);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(out.Take(), "[NetUtility_IsValidDomainName] Invalid arguments\r\n");
  result = 5;
  EXPECT_EQ(NetUtility_IsValidDomainName(nullptr, &result), 0);
  EXPECT_EQ(result, -1);
  out.Take();

  nrtest::WriteResolvConf("search example.test\n");
  result = 5;
  EXPECT_EQ(NetUtility_IsValidDomainName("good.example.test", &result), 0);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(out.Take(), "[NetUtility_IsValidDomainName] Get DNS server IP failed\r\n");
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
  EXPECT_EQ(dns_.queries().size(), 4u);
}

}  // namespace
