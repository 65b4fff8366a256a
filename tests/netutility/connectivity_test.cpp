// SPDX-License-Identifier: MIT
// Connectivity test: the three test hosts resolved by a scripted name server
// to loopback addresses, with or without listeners on port 80.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "fake_dns.h"
#include "namreg/netutility.h"
#include "output_capture.h"
#include "testworld.h"

namespace {

using nrtest::Bytes;
using nrtest::FakeDns;

const char *const kHosts[] = {"www.google.com", "www.wikipedia.org", "www.cloudflare.com"};
const char *const kLoopbacks[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
const uint32_t kServer = inet_addr("127.0.0.1");

// A TCP listener on address:80 that never accepts (the kernel completes the
// handshakes).
class Listener {
 public:
  explicit Listener(const char *address) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(80);
    sa.sin_addr.s_addr = inet_addr(address);
    ok_ = bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) == 0 && listen(fd_, 8) == 0;
  }
  ~Listener() { close(fd_); }
  bool ok() const { return ok_; }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class NetUtilityConnectivity : public ::testing::Test {
 protected:
  void SetUp() override { NAMREG_REQUIRE_SANDBOX(); }
  // The name server answers the hosts whose index is in `resolved`.
  void Serve(const std::vector<int> &resolved) {
    std::vector<std::pair<std::string, std::string>> names;
    for (int i : resolved) names.emplace_back(kHosts[i], kLoopbacks[i]);
    std::string error;
    ASSERT_TRUE(dns_.Start("127.0.0.1", nrtest::AnswerNames(names), &error)) << error;
  }
  std::vector<std::string> Asked() {
    std::vector<std::string> out;
    for (const Bytes &q : dns_.queries()) out.push_back(nrtest::QueryName(q));
    return out;
  }
  FakeDns dns_;
};

TEST_F(NetUtilityConnectivity, AllHostsReachable) {
  Serve({0, 1, 2});
  Listener a(kLoopbacks[0]), b(kLoopbacks[1]), c(kLoopbacks[2]);
  ASSERT_TRUE(a.ok() && b.ok() && c.ok());
  const int fds = nrtest::CountOpenFds();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NetUtility_ConnectToInternet(3, kServer), 0);
  EXPECT_LT(Seconds(start), 1.0);
  EXPECT_EQ(Asked(), std::vector<std::string>(std::begin(kHosts), std::end(kHosts)));
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(NetUtilityConnectivity, OnlyTheThirdHost) {
  Serve({2});
  Listener c(kLoopbacks[2]);
  ASSERT_TRUE(c.ok());
  const int fds = nrtest::CountOpenFds();
  EXPECT_EQ(NetUtility_ConnectToInternet(3, kServer), 0);
  EXPECT_EQ(Asked().size(), 3u);
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(NetUtilityConnectivity, OnlyTheThirdAccepts) {
  // All resolve; the first two refuse the connection.  A refused connect
  // makes its socket writable too, and must not count as reached.
  Serve({0, 1, 2});
  Listener c(kLoopbacks[2]);
  ASSERT_TRUE(c.ok());
  const int fds = nrtest::CountOpenFds();
  EXPECT_EQ(NetUtility_ConnectToInternet(3, kServer), 0);
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(NetUtilityConnectivity, NoneConnects) {
  Serve({0, 1, 2});
  const int fds = nrtest::CountOpenFds();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NetUtility_ConnectToInternet(3, kServer), -1);
  EXPECT_LT(Seconds(start), 1.0);  // refusals end the wait early
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(NetUtilityConnectivity, NoneResolves) {
  Serve({});
  Listener a(kLoopbacks[0]);
  const int fds = nrtest::CountOpenFds();
  EXPECT_EQ(NetUtility_ConnectToInternet(3, kServer), NET_RESULT_NO_HOST_RESOLVED);
  EXPECT_EQ(Asked(), std::vector<std::string>(std::begin(kHosts), std::end(kHosts)));
  EXPECT_EQ(nrtest::CountOpenFds(), fds);
}

TEST_F(NetUtilityConnectivity, SilentNameServerCostsAThirdOfTheTimeoutPerHost) {
  std::string error;
  ASSERT_TRUE(dns_.Start(
      "127.0.0.1", [](const Bytes &) { return std::vector<Bytes>(); }, &error))
      << error;
  const auto start = std::chrono::steady_clock::now();
  // T = 5: each resolution waits 5 / 3 + 1 = 2 seconds.
  EXPECT_EQ(NetUtility_ConnectToInternet(5, kServer), NET_RESULT_NO_HOST_RESOLVED);
  const double seconds = Seconds(start);
  EXPECT_GE(seconds, 5.9);
  EXPECT_LT(seconds, 7.0);
  EXPECT_EQ(Asked().size(), 3u);
}

TEST_F(NetUtilityConnectivity, InvalidArguments) {
  Serve({0, 1, 2});
  nrtest::StdoutCapture out;
  EXPECT_EQ(NetUtility_ConnectToInternet(0, kServer), -1);
  EXPECT_EQ(NetUtility_ConnectToInternet(3, 0), -1);
  EXPECT_EQ(out.Take(),
            "[NetUtility_ConnectToInternet] Invalid arguments\r\n"
            "[NetUtility_ConnectToInternet] Invalid arguments\r\n");
  usleep(100 * 1000);
  EXPECT_TRUE(dns_.queries().empty());
}

}  // namespace
