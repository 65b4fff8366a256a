// SPDX-License-Identifier: MIT
// The resolver and DNS UPDATE against forged answers: query IDs that differ
// from run to run, and answers taken only from the name server's own address
// and port (and, for queries, with the query's ID), within one wait.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>

#include "fake_dns.h"
#include "namreg/netutility.h"
#include "output_capture.h"
#include "peers.h"
#include "testworld.h"

namespace {

using nrtest::Bytes;
using nrtest::FakeDns;

const uint32_t kLoopback = inet_addr("127.0.0.1");
constexpr uint32_t kUntouched = 0xDEADBEEF;

nrtest::FakeRecord A(const char *dotted) {
  nrtest::FakeRecord r;
  r.rdata = nrtest::ARecordData(dotted);
  return r;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each process starts its own ID sequence: three runs of a program that
// resolves once must not all send the same ID (an unseeded generator gives
// every run the same first ID).
TEST(ResolverHardening, RunsSendDifferentQueryIds) {
  NAMREG_REQUIRE_SANDBOX();
  FakeDns dns;
  ASSERT_TRUE(dns.Start("127.0.0.1", nrtest::AnswerEveryName("192.0.2.1")));
  for (int run = 0; run < 3; ++run) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      uint32_t address = 0;
      _exit(NetUtility_DNSResolve(kLoopback, "www.example.test", 2, &address) == 0 &&
                    address == inet_addr("192.0.2.1")
                ? 0
                : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << run;
  }
  std::set<uint16_t> ids;
  for (const Bytes &q : dns.queries()) {
    ASSERT_GE(q.size(), 2u);
    ids.insert(static_cast<uint16_t>(q[0] << 8 | q[1]));
  }
  EXPECT_EQ(dns.queries().size(), 3u);
  EXPECT_GT(ids.size(), 1u) << "every run sent the same query ID";
}

// Before the server's answer come a forged one from another address, one
// from the server's address but another port, and one from the server with
// another ID: all are dropped and the server's answer is taken.
TEST(ResolverHardening, ForgedAnswersAreIgnoredAndTheRightOneTaken) {
  NAMREG_REQUIRE_SANDBOX();
  FakeDns dns;
  FakeDns *server = &dns;
  ASSERT_TRUE(dns.Start("127.0.0.1", [server](const Bytes &q) {
    const sockaddr_in client = server->sender();
    const Bytes forged = nrtest::MakeAnswer(q, {A("203.0.113.66")});
    nrtest::SendDatagramFrom("127.0.0.3", 53, client, forged);
    nrtest::SendDatagramFrom("127.0.0.1", 5353, client, forged);
    Bytes other_id = forged;
    other_id[0] ^= 0xA5;
    return std::vector<Bytes>{other_id, nrtest::MakeAnswer(q, {A("192.0.2.10")})};
  }));
  const int fds = nrtest::CountOpenFds();
  uint32_t address = kUntouched;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, "www.example.test", 2, &address), 0);
  EXPECT_EQ(address, inet_addr("192.0.2.10"));
  EXPECT_LT(SecondsSince(start), 1.0) << "the right answer is taken as it comes";
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

// A stream of forged answers does not restart the wait: the resolution
// still ends at its time-out.
TEST(ResolverHardening, ForgedFloodDoesNotStretchTheWait) {
  NAMREG_REQUIRE_SANDBOX();
  FakeDns dns;
  FakeDns *server = &dns;
  ASSERT_TRUE(dns.Start("127.0.0.1", [server](const Bytes &q) {
    const sockaddr_in client = server->sender();
    const Bytes forged = nrtest::MakeAnswer(q, {A("203.0.113.66")});
    for (int i = 0; i < 25; ++i) {
      nrtest::SendDatagramFrom("127.0.0.3", 53, client, forged);
      usleep(100 * 1000);
    }
    return std::vector<Bytes>();
  }));
  uint32_t address = kUntouched;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NetUtility_DNSResolve(kLoopback, "www.example.test", 1, &address), -1);
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 0.95);
  EXPECT_LT(seconds, 1.5);
  EXPECT_EQ(address, kUntouched);
}

// DNS UPDATE: a forged "accepted" answer from another address is dropped;
// the server's own answer (a refusal) decides.
TEST(ResolverHardening, UpdateTakesOnlyTheServersAnswer) {
  NAMREG_REQUIRE_SANDBOX();
  FakeDns dns;
  FakeDns *server = &dns;
  ASSERT_TRUE(dns.Start("127.0.0.1", [server](const Bytes &q) {
    const sockaddr_in client = server->sender();
    Bytes accepted(q.begin(), q.begin() + 12);
    accepted[2] = 0xA8;
    accepted[3] = 0x00;
    nrtest::SendDatagramFrom("127.0.0.3", 53, client, accepted);
    nrtest::SendDatagramFrom("127.0.0.1", 5353, client, accepted);
    Bytes refused = accepted;
    refused[3] = 0x05;
    return std::vector<Bytes>{refused};
  }));
  nrtest::StdoutCapture out;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      NetUtility_DNSUpdate("127.0.0.1", "example.test", "cam.example.test", "192.0.2.7", 60, 1, 2),
      -1);
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(out.Take(), "[NetUtility_DNSUpdate] Update fail!\nFlag:A805\n");
}

}  // namespace
