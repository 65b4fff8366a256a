// SPDX-License-Identifier: MIT
// Asynchronous operations against peers that stall.  Whatever the peer
// does, no HTTPClient_Process call waits longer than its slice (1 s), and
// the operation ends within its budget with the event it always ended with.
// Silent peers run on the virtual clock (their long waits pass at once and
// each step is timed on that clock); peers that answer, drip or must be
// waited for in earnest run in real time.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "async_host.h"
#include "fake_dns.h"
#include "httpclient_internal.h"
#include "namreg/httpclient.h"
#include "peers.h"
#include "testworld.h"
#include "virtual_clock.h"

namespace {

using nrtest::AsyncHost;
using nrtest::ScriptServer;

constexpr uint64_t kSliceMs = 1000;
constexpr uint64_t kStepSlackMs = 200;  // scheduling and the clocks' granularity
constexpr uint64_t kEndSlackMs = 1000;
constexpr uint64_t kGranularityMs = 60;  // the clocks' granularity, the times() tick

const char kGetReply[] = "HTTP/1.0 200 OK\r\nContent-Type: application/x-hldm-tunnelled\r\n\r\n";
const char kEmpty200[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";

size_t ContentLength(const std::string &head) {
  size_t at = head.find("\r\nContent-Length: ");
  return at == std::string::npos ? 0 : strtoul(head.c_str() + at + 18, nullptr, 10);
}

// A tunnel's POST channel announces a stream of this length; what it sends
// with its header is the URI's query text ("cam=1" here).
constexpr size_t kChannelLength = 32767;
constexpr size_t kQueryLength = 5;

// Reads a request: its header, then the body it announces (a POST
// channel's query text) or what came in time.  *body receives the body.
std::string ReadRequest(int fd, std::string *body) {
  std::string text;
  for (;;) {
    const size_t end = text.find("\r\n\r\n");
    if (end != std::string::npos) {
      size_t want = ContentLength(text);
      if (want == kChannelLength) want = kQueryLength;
      if (text.size() >= end + 4 + want) {
        *body = text.substr(end + 4);
        return text.substr(0, end + 4);
      }
    }
    std::string more = nrtest::ReadBytes(fd, 1, 3000);
    if (more.empty()) {
      *body = "";
      return text;
    }
    text += more;
  }
}

// Connections a peer keeps open without a word, closed when it goes.
struct Kept {
  std::mutex mutex;
  std::vector<int> fds;
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return fds.size();
  }
  int Keep(int fd) {
    int copy = dup(fd);
    std::lock_guard<std::mutex> lock(mutex);
    fds.push_back(copy);
    return copy;
  }
  ~Kept() {
    for (int fd : fds) close(fd);
  }
};

// A tunnel device: every GET channel gets its 200 and is kept; the POST
// channel is kept and `answer` (may be empty: silence) written on the GET
// channel; a tunnelled request gets an empty 200 (or, with
// `silent_requests`, nothing), and after "channel=1" the GET channel gets
// `fallback_answer`.
struct TunnelDevice {
  std::string answer, fallback_answer;
  bool silent_requests = false;
  Kept kept;
  std::atomic<int> get{-1};
  ScriptServer server;

  bool Start() {
    return server.Start(
        [this](int fd, const std::string &, int) {
          std::string body;
          const std::string head = ReadRequest(fd, &body);
          if (head.compare(0, 4, "GET ") == 0) {
            nrtest::SendAll(fd, kGetReply);
            get = kept.Keep(fd);
            return;
          }
          if (ContentLength(head) == kChannelLength) {  // the POST channel
            kept.Keep(fd);
            if (!answer.empty()) nrtest::SendAll(get, answer);
            return;
          }
          if (silent_requests) {
            kept.Keep(fd);
            return;
          }
          nrtest::SendAll(fd, kEmpty200);
          if (body == "channel=1" && !fallback_answer.empty())
            nrtest::SendAll(get, fallback_answer);
        },
        "127.0.0.1", 0, ScriptServer::Read::kNothing);
  }
};

// A listener whose accept queue is full: a further connect is never
// answered (its SYN is dropped).
struct SilentListener {
  int listener = -1, filler = -1;
  uint16_t port = 0;
  bool Start(int backlog, bool fill) {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0 ||
        listen(listener, backlog) != 0)
      return false;
    socklen_t len = sizeof(sin);
    getsockname(listener, reinterpret_cast<sockaddr *>(&sin), &len);
    port = ntohs(sin.sin_port);
    if (fill) filler = Connect();
    return !fill || filler >= 0;
  }
  // A connected, non-blocking socket to the listener (never accepted).
  int Connect() const {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0) {
      close(fd);
      return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
  }
  ~SilentListener() {
    if (filler >= 0) close(filler);
    if (listener >= 0) close(listener);
  }
};

HTTPClientInfo InfoFor(uint16_t port, uint32_t connect_ms, uint32_t send_ms, uint32_t recv_ms) {
  HTTPClientInfo info{};
  strcpy(info.tServer.szHost, "127.0.0.1");
  info.tServer.dwPort = port;
  strcpy(info.szURI, "/tunnel?cam=1");
  info.dwConnectTimeout = connect_ms * 1000u;
  info.dwSendTimeout = send_ms * 1000u;
  info.dwRecvTimeout = recv_ms * 1000u;
  info.iTunnelGetSocket = info.iTunnelPostSocket = -1;
  return info;
}

TEST(HttpStepBounds, NoStepWaitsLongerThanItsSlice) {
  NAMREG_REQUIRE_SANDBOX();
  // The peers of every case.
  nrtest::FakeDns first_dns, second_dns;
  std::string error;
  ASSERT_TRUE(first_dns.Start("127.0.0.1", nrtest::NoAnswer(), &error)) << error;
  ASSERT_TRUE(second_dns.Start("127.0.0.2", nrtest::NoAnswer(), &error)) << error;
  nrtest::WriteResolvConf("nameserver 127.0.0.1\nnameserver 127.0.0.2\n");

  SilentListener full, unread;
  ASSERT_TRUE(full.Start(0, true));
  ASSERT_TRUE(unread.Start(8, false));

  Kept silent_kept;
  ScriptServer silent;  // reads the request, answers nothing
  ASSERT_TRUE(silent.Start([&](int fd, const std::string &, int) { silent_kept.Keep(fd); }));

  ScriptServer drip;  // a chunk-size line that comes a byte at a time
  ASSERT_TRUE(drip.Start([](int fd, const std::string &, int) {
    nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello");
    nrtest::SendSlowly(fd, "\r\n10\r\n", 300);
    nrtest::SendAll(fd, "0123456789abcdef\r\n0\r\n\r\n");
  }));

  TunnelDevice mute;  // every request gets a 200, the tunnel answer never comes
  ASSERT_TRUE(mute.Start());
  TunnelDevice refusing;  // refuses two channels, accepts one
  refusing.answer = "http tunnel accept=0";
  refusing.fallback_answer = "http tunnel accept=1";
  ASSERT_TRUE(refusing.Start());
  TunnelDevice deaf;  // tunnelled requests get no answer
  deaf.silent_requests = true;
  ASSERT_TRUE(deaf.Start());

  const std::string big(32u << 20, 'b');  // more than the socket buffers hold
  int unread_fd = unread.Connect();
  ASSERT_GE(unread_fd, 0);

  using Start = std::function<uint32_t(HTTPClientHandle, HTTPClientInfo *)>;
  struct Case {
    const char *name;
    bool virtual_time;
    HTTPClientInfo info;
    Start start;
    uint64_t least_ms;  // the operation waits at least this (its full waits)
    uint64_t bound_ms;  // and ends within this (+ 1 s)
    uint32_t last_event;
    uint32_t code;  // carried by the last event (0: none)
  };
  auto get = [](HTTPClientHandle h, HTTPClientInfo *i) { return HTTPClient_AsyncGet(h, i); };
  auto open = [](HTTPClientHandle h, HTTPClientInfo *i) {
    return HTTPClient_AsyncTunnelOpen(h, i);
  };
  HTTPClientTunnelRequest raw = {1,         3000000, big.data(), static_cast<uint32_t>(big.size()),
                                 unread_fd, 0};
  HTTPClientTunnelRequest tunnelled = {0, 3000000, "hello", 5, -1, 1};
  HTTPClientInfo named = InfoFor(80, 10000, 10000, 10000);
  strcpy(named.tServer.szHost, "www.silent.example");

  const Case cases[] = {
      {"two silent name servers, 10 s to connect", true, named, get, 6000, 10000, 0,
       HTTPCLIENT_E_RESOLVE},
      {"connect never answered", true, InfoFor(full.port, 5000, 5000, 5000), get, 5000, 5000,
       HTTPCLIENT_EVENT_CONNECT_TIMEOUT, HTTPCLIENT_E_CONNECT_TIMEOUT},
      {"silent server", true, InfoFor(silent.port(), 5000, 5000, 5000), get, 5000, 5000,
       HTTPCLIENT_EVENT_RECV_TIMEOUT, HTTPCLIENT_E_RECV_TIMEOUT},
      {"chunk-size line a byte at a time", false, InfoFor(drip.port(), 5000, 5000, 5000), get, 0,
       5000, HTTPCLIENT_EVENT_COMPLETE, 0},
      {"tunnel: 200 then silence, 1 s time-outs", false,
       InfoFor(mute.server.port(), 1000, 1000, 1000), open, 3000, 3000,
       HTTPCLIENT_EVENT_TUNNEL_FAILED, HTTPCLIENT_E_CONNECT_TIMEOUT},
      {"tunnel: 200 then silence, 34 s budget", true,
       InfoFor(mute.server.port(), 2000, 2000, 30000), open, 30000, 34000,
       HTTPCLIENT_EVENT_TUNNEL_FAILED, HTTPCLIENT_I_TUNNEL_NO_ANSWER},
      {"tunnel: refused, one channel accepted", false,
       InfoFor(refusing.server.port(), 2000, 2000, 2000), open, 0, 6000,
       HTTPCLIENT_EVENT_TUNNEL_FALLBACK, 0},
      {"tunnel request, device silent", true, InfoFor(deaf.server.port(), 2000, 2000, 2000),
       [&](HTTPClientHandle h, HTTPClientInfo *i) {
         return HTTPClient_AsyncTunnelRequest(h, i, &tunnelled);
       },
       3000, 3000, HTTPCLIENT_EVENT_REQUEST_FAILED, HTTPCLIENT_E_RECV_TIMEOUT},
      {"raw send, peer does not read", true, InfoFor(unread.port, 2000, 2000, 2000),
       [&](HTTPClientHandle h, HTTPClientInfo *i) {
         return HTTPClient_AsyncTunnelRequest(h, i, &raw);
       },
       3000, 3000, HTTPCLIENT_EVENT_REQUEST_FAILED, HTTPCLIENT_E_SEND_TIMEOUT},
      {"queued send, peer does not read", true, InfoFor(unread.port, 2000, 2000, 2000),
       [&](HTTPClientHandle h, HTTPClientInfo *i) {
         // An asynchronous record (a request started and given up) queues.
         if (HTTPClient_AsyncGet(h, i) != 0 || HTTPClient_Abort(h) != 0) return 1u;
         return HTTPClient_SendTunnelData(h, &raw);
       },
       3000, 3000, HTTPCLIENT_EVENT_SEND_FAILED, HTTPCLIENT_E_SEND_TIMEOUT},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    HTTPClientHandle h = nullptr;
    ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    HTTPClientInfo info = k.info;
    std::unique_ptr<nrtest::VirtualClock> clock;
    if (k.virtual_time) clock.reset(new nrtest::VirtualClock());
    {
      AsyncHost host(h);
      if (clock) host.clock_ms = [&clock] { return clock->ElapsedMs(); };
      const uint64_t start = host.Now();
      ASSERT_EQ(k.start(h, &info), 0u);
      ASSERT_TRUE(host.Run(60000));
      const uint64_t whole = host.Now() - start;
      std::printf("[ figures  ] %s: %d steps, longest %llu ms, whole %llu ms (%s clock)\n", k.name,
                  host.steps, static_cast<unsigned long long>(host.longest_step_ms),
                  static_cast<unsigned long long>(whole), clock ? "virtual" : "real");
      EXPECT_LE(host.longest_step_ms, kSliceMs + kStepSlackMs);
      EXPECT_LE(whole, k.bound_ms + kEndSlackMs);
      EXPECT_GE(whole + kGranularityMs, k.least_ms);
      ASSERT_FALSE(host.events.empty());
      EXPECT_EQ(host.events.back(), k.last_event);
      if (k.code != 0) {
        ASSERT_FALSE(host.codes.empty());
        EXPECT_EQ(host.codes.back(), k.code) << std::hex << host.codes.back();
      }
      if (k.last_event == HTTPCLIENT_EVENT_COMPLETE) {
        EXPECT_EQ(host.body, "hello0123456789abcdef");
      }
    }
    clock.reset();
    for (int32_t *fd : {&info.iTunnelGetSocket, &info.iTunnelPostSocket})
      if (*fd >= 0) close(*fd);
    EXPECT_EQ(HTTPClient_Release(&h), 0u);
  }
  // Each silent name server was asked once.
  EXPECT_EQ(first_dns.queries().size(), 1u);
  EXPECT_EQ(second_dns.queries().size(), 1u);
  close(unread_fd);
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
}

uint32_t Quiet(void *, uint32_t, void *, HTTPClientHandle) {
  return 0;
}

// Steps `h` (a host's loop with a short pause) until `done` says so or 10 s
// have passed.
void StepUntil(HTTPClientHandle h, const std::function<bool()> &done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done() && std::chrono::steady_clock::now() < until) {
    usleep(200);
    HTTPClient_Process(h);
  }
}

// A stepped operation holds channels, an inner exchange's socket or a
// name-server query between its steps; an abort at any point closes what
// it holds and leaves the record idle.
TEST(HttpStepBounds, AbortAtAnyStageClosesWhatTheOperationHolds) {
  NAMREG_REQUIRE_SANDBOX();
  nrtest::FakeDns dns;
  std::string error;
  ASSERT_TRUE(dns.Start("127.0.0.1", nrtest::NoAnswer(), &error)) << error;
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
  TunnelDevice device;  // refuses two channels, accepts one: every stage of the open
  device.answer = "http tunnel accept=0";
  device.fallback_answer = "http tunnel accept=1";
  ASSERT_TRUE(device.Start());

  using Where = std::pair<uint32_t, uint32_t>;  // stage, inner exchange's state
  auto where = [](HTTPClientHandle h) {
    return Where(h->tStages.dwStage, h->tStages.dwInnerState);
  };
  auto start_open = [&device](HTTPClientHandle h, HTTPClientInfo *info) {
    *info = InfoFor(device.server.port(), 2000, 2000, 2000);
    return HTTPClient_AsyncTunnelOpen(h, info);
  };
  // Every point the open passes through, in order.
  std::vector<Where> points;
  {
    HTTPClientHandle h = nullptr;
    ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    HTTPClient_SetCallback(h, Quiet, nullptr);
    HTTPClientInfo info;
    ASSERT_EQ(start_open(h, &info), 0u);
    StepUntil(h, [&] {
      if (h->tStages.dwStage != 0 && (points.empty() || points.back() != where(h)))
        points.push_back(where(h));
      return h->dwOperation == HTTPCLIENT_OP_NONE;
    });
    ASSERT_EQ(h->dwOperation, HTTPCLIENT_OP_NONE);
    ASSERT_GE(info.iTunnelGetSocket, 0) << "the open ended with one channel";
    close(info.iTunnelGetSocket);
    EXPECT_EQ(HTTPClient_Release(&h), 0u);
  }
  // At each stage: its start (an inner exchange's pause, or the answer
  // wait) and its exchange with the socket open.
  points.erase(std::remove_if(points.begin(), points.end(),
                              [](const Where &w) {
                                return w.second != HTTPCLIENT_STATE_START &&
                                       w.second != HTTPCLIENT_STATE_AUTHORIZE;
                              }),
               points.end());
  ASSERT_EQ(points.size(), 10u);
  device.server.WaitIdle();
  for (const Where &point : points) {
    SCOPED_TRACE(testing::Message() << "stage " << point.first << ", inner state " << point.second);
    const int before = nrtest::CountOpenFds() - static_cast<int>(device.kept.Count());
    HTTPClientHandle h = nullptr;
    ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    HTTPClient_SetCallback(h, Quiet, nullptr);
    HTTPClientInfo info;
    ASSERT_EQ(start_open(h, &info), 0u);
    StepUntil(h, [&] { return where(h) == point || h->dwOperation == HTTPCLIENT_OP_NONE; });
    ASSERT_TRUE(where(h) == point) << "not reached again";
    EXPECT_EQ(HTTPClient_Release(&h), HTTPCLIENT_E_RELEASE_BUSY);
    EXPECT_EQ(HTTPClient_Abort(h), 0u);
    EXPECT_EQ(HTTPClient_Release(&h), 0u);
    EXPECT_EQ(info.iTunnelGetSocket, -1);
    EXPECT_EQ(info.iTunnelPostSocket, -1);
    device.server.WaitIdle();
    EXPECT_EQ(nrtest::CountOpenFds() - static_cast<int>(device.kept.Count()), before);
  }
  // A name-server query out.
  {
    const int before = nrtest::CountOpenFds();
    HTTPClientHandle h = nullptr;
    ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    HTTPClient_SetCallback(h, Quiet, nullptr);
    HTTPClientInfo info = InfoFor(80, 5000, 5000, 5000);
    strcpy(info.tServer.szHost, "www.silent.example");
    ASSERT_EQ(HTTPClient_AsyncGet(h, &info), 0u);
    StepUntil(h, [&] { return h->tLookup.fd >= 0; });
    ASSERT_GE(h->tLookup.fd, 0);
    EXPECT_EQ(nrtest::CountOpenFds(), before + 1);
    EXPECT_EQ(HTTPClient_Abort(h), 0u);
    EXPECT_EQ(HTTPClient_Release(&h), 0u);
    EXPECT_EQ(nrtest::CountOpenFds(), before);
  }
  EXPECT_EQ(dns.queries().size(), 1u);
}

// Name resolution across steps asks the name servers as the synchronous
// client does: the first, then the second when the first gives no address
// (silence for its 3 s, a name error, an answer without an A record).
TEST(HttpStepBounds, SteppedLookupAsksTheNameServersInTurn) {
  NAMREG_REQUIRE_SANDBOX();
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
    nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  }));
  const nrtest::Names names = {{"www.cam.test", "127.0.0.1"}, {"proxy.cam.test", "127.0.0.1"}};
  struct {
    const char *name;
    nrtest::FakeDns::Script first, second;
    bool proxy;
    size_t first_queries, second_queries;
  } const cases[] = {
      {"first answers", nrtest::AnswerNames(names), nrtest::NoAnswer(), false, 1, 0},
      {"first silent", nrtest::NoAnswer(), nrtest::AnswerNames(names), false, 1, 1},
      {"first says no such name", nrtest::AnswerNames({}), nrtest::AnswerNames(names), false, 1, 1},
      {"proxy and server by name", nrtest::AnswerNames(names), nrtest::NoAnswer(), true, 2, 0},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    nrtest::FakeDns first, second;
    std::string error;
    ASSERT_TRUE(first.Start("127.0.0.1", k.first, &error)) << error;
    ASSERT_TRUE(second.Start("127.0.0.2", k.second, &error)) << error;
    nrtest::WriteResolvConf("nameserver 127.0.0.1\nnameserver 127.0.0.2\n");
    nrtest::VirtualClock clock;  // a silent name server's 3 s pass at once
    HTTPClientHandle h = nullptr;
    ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    HTTPClientInfo info = InfoFor(server.port(), 10000, 10000, 10000);
    strcpy(info.tServer.szHost, "www.cam.test");
    strcpy(info.szURI, "/page");
    if (k.proxy) {
      // The proxy is the same peer; the request line names the server.
      info.dwUseProxy = 1;
      strcpy(info.tProxy.szHost, "proxy.cam.test");
      info.tProxy.dwPort = server.port();
      info.tServer.dwPort = 80;
    }
    {
      AsyncHost host(h);
      host.clock_ms = [&clock] { return clock.ElapsedMs(); };
      ASSERT_EQ(HTTPClient_AsyncGet(h, &info), 0u);
      ASSERT_TRUE(host.Run());
      EXPECT_EQ(host.events, (std::vector<uint32_t>{HTTPCLIENT_EVENT_STATUS_BASE + 3, 1, 2,
                                                    HTTPCLIENT_EVENT_COMPLETE}));
      EXPECT_EQ(host.body, "ok");
      EXPECT_LE(host.longest_step_ms, kSliceMs + kStepSlackMs);
    }
    EXPECT_EQ(HTTPClient_Release(&h), 0u);
    EXPECT_EQ(first.queries().size(), k.first_queries);
    EXPECT_EQ(second.queries().size(), k.second_queries);
    server.WaitIdle();
    const std::string request = server.requests().back();
    EXPECT_EQ(request.substr(0, request.find("\r\n")),
              k.proxy ? "GET http://127.0.0.1:80/page HTTP/1.1" : "GET /page HTTP/1.1");
    EXPECT_NE(request.find("\r\nHost: www.cam.test"), std::string::npos) << request;
  }
  nrtest::WriteResolvConf("nameserver 127.0.0.1\n");
}

// A server that gives its status while a POST's body is still going out,
// then neither reads on nor ends its header: the client waits for the rest
// of the header a slice at a time until the receive budget ends, instead of
// looking at the socket without waiting, step after step.
TEST(HttpStepBounds, EarlyStatusDuringAPostIsWaitedForNotSpunOn) {
  NAMREG_REQUIRE_SANDBOX();
  std::atomic<bool> status_sent{false};
  ScriptServer server;
  ASSERT_TRUE(server.Start(
      [&server, &status_sent](int fd, const std::string &, int) {
        int small = 4096;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        nrtest::ReadBytes(fd, 64, 2000);  // the start of the request only
        nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\n");
        status_sent = true;
        server.Pause(5000);
      },
      "127.0.0.1", 0, ScriptServer::Read::kNothing));
  HTTPClientHandle h = nullptr;
  ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
  uint32_t last_event = 0xFFFFFFFFu;
  HTTPClient_SetCallback(
      h,
      [](void *context, uint32_t event, void *, HTTPClientHandle) -> uint32_t {
        *static_cast<uint32_t *>(context) = event;
        return 0;
      },
      &last_event);
  HTTPClientInfo info = InfoFor(server.port(), 2000, 2000, 1500);
  strcpy(info.szURI, "/upload");
  const std::string body(8 << 20, 'b');  // more than the socket buffers hold
  info.pBody = body.data();
  info.dwBodyLength = static_cast<uint32_t>(body.size());
  ASSERT_EQ(HTTPClient_AsyncPost(h, &info), 0u);
  StepUntil(h, [&] { return status_sent.load(); });
  ASSERT_TRUE(status_sent);
  int steps_after_status = 0;
  StepUntil(h, [&] {
    ++steps_after_status;
    return h->dwOperation == HTTPCLIENT_OP_NONE;
  });
  EXPECT_EQ(last_event, HTTPCLIENT_EVENT_RECV_TIMEOUT);
  EXPECT_LT(steps_after_status, 10) << "each step waited for the header instead of spinning";
  EXPECT_EQ(HTTPClient_Release(&h), 0u);
  server.Stop();
}

}  // namespace
