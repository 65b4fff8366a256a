// SPDX-License-Identifier: MIT
// HTTP tunnels against a scripted device: the tunnel open with its answers
// and the one-channel fallback, tunnelled requests and raw sends over an
// opened tunnel, the RTSP-style tunnel GET handing over both sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "async_host.h"
#include "http_peers.h"
#include "httpclient_internal.h"
#include "namreg/httpclient.h"
#include "peers.h"
#include "sim_process.h"
#include "testworld.h"

namespace {

using nrtest::AsyncHost;
using nrtest::ScriptServer;
using Events = std::vector<uint32_t>;

// Reads a request header and `body` bytes after it (what came within the
// time limit).
std::string ReadRequest(int fd, size_t body, int timeout_ms = 3000) {
  std::string text;
  for (;;) {
    size_t end = text.find("\r\n\r\n");
    if (end != std::string::npos && text.size() >= end + 4 + body) return text;
    std::string more = nrtest::ReadBytes(fd, 1, timeout_ms);
    if (more.empty()) return text;
    text += more;
  }
}

std::string HeaderValue(const std::string &request, const std::string &name) {
  size_t at = request.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "<none>";
  at += name.size() + 4;
  return request.substr(at, request.find("\r\n", at) - at);
}

std::string BodyOf(const std::string &request) {
  size_t end = request.find("\r\n\r\n");
  return end == std::string::npos ? "" : request.substr(end + 4);
}

bool IsOpen(int fd) {
  return fd >= 0 && fcntl(fd, F_GETFD) != -1;
}

// A device that keeps the tunnel channels open: each channel's connection
// is duplicated before its script returns, and closed with the device.
struct Device {
  std::mutex mutex;
  std::vector<std::string> requests;  // per connection, in order
  std::vector<int> kept;              // duplicated channel connections
  void Record(const std::string &r) {
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(r);
  }
  int Keep(int fd) {
    int copy = dup(fd);
    std::lock_guard<std::mutex> lock(mutex);
    kept.push_back(copy);
    return copy;
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
  }
  ~Device() {
    for (int fd : kept) close(fd);
  }
};

struct TunnelClient {
  HTTPClientHandle h = nullptr;
  HTTPClientInfo info{};
  int fds_before = 0;
  explicit TunnelClient(uint16_t port, const char *uri = "/tunnel?a=1&b=22") {
    fds_before = nrtest::CountOpenFds();
    EXPECT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    strcpy(info.tServer.szHost, "127.0.0.1");
    info.tServer.dwPort = port;
    strcpy(info.szURI, uri);
    info.dwConnectTimeout = 2000000;
    info.dwSendTimeout = 2000000;
    info.dwRecvTimeout = 2000000;
    info.iTunnelGetSocket = info.iTunnelPostSocket = -1;
  }
  void CloseTunnel() {
    for (int32_t *fd : {&info.iTunnelGetSocket, &info.iTunnelPostSocket}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }
  // The count is compared with the device's kept connections closed.
  int OpenAfter() { return nrtest::CountOpenFds() - fds_before; }
  ~TunnelClient() { EXPECT_EQ(HTTPClient_Release(&h), 0u); }
};

constexpr uint32_t kOpened = HTTPCLIENT_EVENT_TUNNEL_OPENED;
constexpr uint32_t kFallback = HTTPCLIENT_EVENT_TUNNEL_FALLBACK;
constexpr uint32_t kFailed = HTTPCLIENT_EVENT_TUNNEL_FAILED;

const char kGetReply[] = "HTTP/1.0 200 OK\r\nContent-Type: application/x-hldm-tunnelled\r\n\r\n";

TEST(HttpTunnel, OpenAnswers) {
  struct {
    const char *name;
    const char *answer;  // on the GET channel after the POST channel; null: close
    bool fallback;       // the device then serves the one-channel fallback
    Events events;
    uint32_t code;
  } const cases[] = {
      {"accepted", "http tunnel accept=1", false, {kOpened}, 0},
      {"accepted in capitals", "HTTP TUNNEL ACCEPT=1", false, {kOpened}, 0},
      {"refused", "http tunnel accept=0", true, {kFallback}, 0},
      {"unknown answer", "http tunnel accept=?", false, {kFailed}, HTTPCLIENT_E_TUNNEL_ANSWER},
      {"closed before the answer", nullptr, false, {kFailed}, HTTPCLIENT_E_TUNNEL_CLOSED},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    Device device;
    int get_channel = -1;
    ScriptServer server;
    ASSERT_TRUE(server.Start(
        [&](int fd, const std::string &, int index) {
          if (index == 0 || index == 2) {  // GET channels
            device.Record(ReadRequest(fd, 0));
            nrtest::SendAll(fd, kGetReply);
            get_channel = device.Keep(fd);
            return;
          }
          if (index == 1) {  // POST channel: header and the query text
            device.Record(ReadRequest(fd, 8));
            device.Keep(fd);
            if (k.answer == nullptr) {
              close(get_channel);
              std::lock_guard<std::mutex> lock(device.mutex);
              device.kept.erase(std::find(device.kept.begin(), device.kept.end(), get_channel));
              return;
            }
            nrtest::SendAll(get_channel, k.answer);
            return;
          }
          // The fallback's tunnelled request, then the answer.
          device.Record(ReadRequest(fd, 9));
          nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
          nrtest::SendAll(get_channel, "http tunnel accept=1");
        },
        "127.0.0.1", 0, ScriptServer::Read::kNothing));
    TunnelClient c(server.port());
    {
      AsyncHost host(c.h);
      ASSERT_EQ(HTTPClient_AsyncTunnelOpen(c.h, &c.info), 0u);
      ASSERT_TRUE(host.Run(20000));
      EXPECT_EQ(host.events, k.events);
      if (k.code != 0) {
        EXPECT_EQ(host.codes, std::vector<uint32_t>{k.code});
      }
    }
    std::vector<std::string> requests = device.Requests();
    ASSERT_GE(requests.size(), 2u);
    const std::string &get = requests[0], &post = requests[1];
    EXPECT_EQ(get.substr(0, get.find("\r\n")), "GET /tunnel?a=1&b=22 HTTP/1.0");
    EXPECT_EQ(HeaderValue(get, "Accept"), "application/x-hldm-tunnelled");
    EXPECT_EQ(post.substr(0, post.find("\r\n")), "POST /tunnel?a=1&b=22 HTTP/1.0");
    EXPECT_EQ(HeaderValue(post, "Content-Type"), "application/x-hldm-tunnelled");
    EXPECT_EQ(HeaderValue(post, "Content-Length"), "32767");
    EXPECT_EQ(BodyOf(post), "a=1&b=22");
    const std::string cookie = HeaderValue(get, "x-sessioncookie");
    EXPECT_EQ(cookie.size(), 22u);
    EXPECT_EQ(HeaderValue(post, "x-sessioncookie"), cookie);
    if (k.events[0] == kOpened) {
      EXPECT_EQ(std::string(c.info.szSessionCookie), cookie);
      EXPECT_TRUE(IsOpen(c.info.iTunnelGetSocket));
      EXPECT_TRUE(IsOpen(c.info.iTunnelPostSocket));
    } else if (k.events[0] == kFallback) {
      ASSERT_EQ(requests.size(), 4u);
      const std::string &request = requests[3];
      EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /tunnel?a=1&b=22 HTTP/1.1");
      EXPECT_EQ(HeaderValue(request, "Content-Type"), "application/x-hldm-tunnelled");
      EXPECT_EQ(HeaderValue(request, "Content-Length"), "9");
      EXPECT_EQ(HeaderValue(request, "Connection"), "Keep-Alive");
      EXPECT_EQ(BodyOf(request), "channel=1");
      const std::string cookie2 = HeaderValue(requests[2], "x-sessioncookie");
      EXPECT_EQ(HeaderValue(request, "x-sessioncookie"), cookie2);
      EXPECT_EQ(std::string(c.info.szSessionCookie), cookie2);
      EXPECT_TRUE(IsOpen(c.info.iTunnelGetSocket));
      EXPECT_EQ(c.info.iTunnelPostSocket, -1);
    } else {
      EXPECT_EQ(c.info.iTunnelGetSocket, -1);
      EXPECT_EQ(c.info.iTunnelPostSocket, -1);
    }
    c.CloseTunnel();
    EXPECT_TRUE(server.WaitIdle());
    for (int fd : device.kept) close(fd);
    device.kept.clear();
    EXPECT_EQ(c.OpenAfter(), 0) << "a descriptor was left open";
  }
}

// A device may send its answer right behind the GET channel's response
// header; those bytes are the answer, not an HTTP body.
TEST(HttpTunnel, AnswerRightBehindTheGetHeader) {
  for (size_t split : {size_t{20}, size_t{7}}) {
    SCOPED_TRACE(split);
    Device device;
    int get_channel = -1;
    ScriptServer server;
    ASSERT_TRUE(server.Start(
        [&](int fd, const std::string &, int index) {
          const std::string answer = "http tunnel accept=1";
          device.Record(ReadRequest(fd, index == 0 ? 0 : 1));
          if (index == 0) {
            nrtest::SendAll(fd, kGetReply + answer.substr(0, split));
            get_channel = device.Keep(fd);
          } else {
            device.Keep(fd);
            nrtest::SendAll(get_channel, answer.substr(split));
          }
        },
        "127.0.0.1", 0, ScriptServer::Read::kNothing));
    TunnelClient c(server.port());
    {
      AsyncHost host(c.h);
      ASSERT_EQ(HTTPClient_AsyncTunnelOpen(c.h, &c.info), 0u);
      ASSERT_TRUE(host.Run());
      EXPECT_EQ(host.events, Events{kOpened});
    }
    EXPECT_TRUE(server.WaitIdle());
    EXPECT_EQ(device.Requests().size(), 2u);
    c.CloseTunnel();
    for (int fd : device.kept) close(fd);
    device.kept.clear();
    EXPECT_EQ(c.OpenAfter(), 0) << "a descriptor was left open";
  }
}

// The device serves a two-channel tunnel on connections 0 and 1 (answer
// accepted); later connections are tunnelled requests, recorded and
// answered with an empty 200.
ScriptServer::Script AcceptingDevice(Device *device, int *post_channel) {
  return [device, post_channel](int fd, const std::string &, int index) {
    static thread_local int get_channel = -1;
    if (index == 0) {
      device->Record(ReadRequest(fd, 0));
      nrtest::SendAll(fd, kGetReply);
      get_channel = device->Keep(fd);
    } else if (index == 1) {
      device->Record(ReadRequest(fd, 1));
      *post_channel = device->Keep(fd);
      nrtest::SendAll(get_channel, "http tunnel accept=1");
    } else {
      std::string head = ReadRequest(fd, 0);
      size_t length = static_cast<size_t>(atoi(HeaderValue(head, "Content-Length").c_str()));
      std::string request =
          head + (BodyOf(head).size() < length ? nrtest::ReadBytes(fd, length - BodyOf(head).size())
                                               : std::string());
      device->Record(request);
      nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    }
  };
}

TEST(HttpTunnel, RequestsAndSendsOverAnOpenedTunnel) {
  Device device;
  int post_channel = -1;
  ScriptServer server;
  ASSERT_TRUE(server.Start(AcceptingDevice(&device, &post_channel), "127.0.0.1", 0,
                           ScriptServer::Read::kNothing));
  TunnelClient c(server.port(), "/tunnel?x=1");
  {  // the host loop (its wake pipe) ends before descriptors are counted
    AsyncHost host(c.h);
    ASSERT_EQ(HTTPClient_AsyncTunnelOpen(c.h, &c.info), 0u);
    ASSERT_TRUE(host.Run());
    ASSERT_EQ(host.events, Events{kOpened});
    const std::string cookie = c.info.szSessionCookie;
    ASSERT_GE(post_channel, 0);

    // A tunnelled request: a POST of its own carrying the session's headers.
    static const char kData[] = "DESCRIBE rtsp://cam/ RTSP/1.0\r\nCSeq: 1\r\n\r\n";
    HTTPClientTunnelRequest request = {};
    request.dwOperation = 0;
    request.pData = kData;
    request.dwDataLength = sizeof(kData) - 1;
    request.iSocket = -1;
    request.dwContentKind = 0;
    ASSERT_EQ(HTTPClient_AsyncTunnelRequest(c.h, &c.info, &request), 0u);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(host.events.back(), HTTPCLIENT_EVENT_REQUEST_DONE);
    std::vector<std::string> requests = device.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2],
              "POST /tunnel?x=1 HTTP/1.1\r\nContent-Type: application/x-rtsp-tunnelled\r\n"
              "Expires: Sun, 9 Jan 1972 00:00:00 GMT\r\nx-sessioncookie: " +
                  cookie + "\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                  "\r\nUser-Agent: HLDM (ver=1.7.0.0)\r\nPragma: no-cache\r\n"
                  "Cache-Control: no-cache\r\nConnection: Keep-Alive\r\nContent-Length: " +
                  std::to_string(sizeof(kData) - 1) + "\r\n\r\n" + kData);

    // A raw send on the POST channel, through the tunnel-request step and
    // queued through SendTunnelData (the client is in asynchronous mode).
    request.dwOperation = 1;
    request.iSocket = c.info.iTunnelPostSocket;
    request.pData = "raw-one";
    request.dwDataLength = 7;
    ASSERT_EQ(HTTPClient_AsyncTunnelRequest(c.h, &c.info, &request), 0u);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(host.events.back(), HTTPCLIENT_EVENT_REQUEST_DONE);
    request.pData = "raw-two";
    ASSERT_EQ(HTTPClient_SendTunnelData(c.h, &request), 0u);
    EXPECT_EQ(HTTPClient_SendTunnelData(c.h, &request), HTTPCLIENT_E_PENDING);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(host.events.back(), HTTPCLIENT_EVENT_SEND_DONE);
    EXPECT_EQ(nrtest::ReadBytes(post_channel, 14, 2000), "raw-oneraw-two");

    // Failures: a raw send without a socket, a queued send on a closed one.
    request.iSocket = -1;
    ASSERT_EQ(HTTPClient_AsyncTunnelRequest(c.h, &c.info, &request), 0u);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(host.events.back(), HTTPCLIENT_EVENT_REQUEST_FAILED);
    EXPECT_EQ(host.codes.back(), HTTPCLIENT_E_NO_SOCKET);
    request.pData = nullptr;
    EXPECT_EQ(HTTPClient_AsyncTunnelRequest(c.h, &c.info, &request), HTTPCLIENT_E_TUNNEL_DATA);
    EXPECT_EQ(HTTPClient_SendTunnelData(c.h, &request), HTTPCLIENT_E_TUNNEL_DATA);

    // Synchronous sends go out at once on a client that is not asynchronous.
    HTTPClientHandle sync = nullptr;
    ASSERT_EQ(HTTPClient_Initial(&sync, HTTPCLIENT_VERSION), 0u);
    request.pData = "raw-now";
    request.iSocket = c.info.iTunnelPostSocket;
    EXPECT_EQ(HTTPClient_SendTunnelData(sync, &request), 0u);
    EXPECT_EQ(nrtest::ReadBytes(post_channel, 7, 2000), "raw-now");
    request.iSocket = -1;
    EXPECT_EQ(HTTPClient_SendTunnelData(sync, &request), HTTPCLIENT_E_NO_SOCKET);
    EXPECT_EQ(HTTPClient_Release(&sync), 0u);

    c.CloseTunnel();
    EXPECT_TRUE(server.WaitIdle());
    for (int fd : device.kept) close(fd);
    device.kept.clear();
  }
  EXPECT_EQ(c.OpenAfter(), 0) << "a descriptor was left open";
}

// The tunnelled request's header block by content kind, with the Host line
// from the name or, without one, the dotted address (always with the port).
TEST(HttpTunnel, TunnelledRequestHeaders) {
  struct {
    uint32_t kind;
    const char *host;
    const char *content_type;  // null: no line
    const char *host_line;
  } const cases[] = {
      {0, "localhost", "application/x-rtsp-tunnelled", "localhost"},
      {1, "", "application/x-hldm-tunnelled", "127.0.0.1"},
      {7, "", nullptr, "127.0.0.1"},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.kind);
    ScriptServer server;
    ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
      nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    }));
    TunnelClient c(server.port(), "/t");
    strcpy(c.info.tServer.szHost, k.host);
    c.info.tServer.dwAddress = htonl(0x7F000001);
    strcpy(c.info.szSessionCookie, "0123456789abcdefghijkl");
    HTTPClientTunnelRequest request = {0, 0, "data", 4, -1, k.kind};
    {
      AsyncHost host(c.h);
      ASSERT_EQ(HTTPClient_AsyncTunnelRequest(c.h, &c.info, &request), 0u);
      ASSERT_TRUE(host.Run());
      EXPECT_EQ(host.events, Events{HTTPCLIENT_EVENT_REQUEST_DONE});
    }
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string sent = server.requests()[0];
    EXPECT_EQ(HeaderValue(sent, "Content-Type"), k.content_type ? k.content_type : "<none>");
    EXPECT_EQ(HeaderValue(sent, "Host"),
              std::string(k.host_line) + ":" + std::to_string(server.port()));
    EXPECT_EQ(HeaderValue(sent, "x-sessioncookie"), "0123456789abcdefghijkl");
    EXPECT_EQ(HeaderValue(sent, "Content-Length"), "4");
    EXPECT_EQ(BodyOf(sent), "data");
    EXPECT_TRUE(server.WaitIdle());
    EXPECT_EQ(c.OpenAfter(), 0) << "a descriptor was left open";
  }
}

// Aborting a tunnel open before its first step or part-way through its
// steps leaves nothing of the tunnel behind: no event, no descriptor, and
// the next synchronous GET is a plain one.  (Aborts at each stage, with
// channels held, are in step_bounds_test.cpp.)
TEST(HttpTunnel, AbortedOpenLeavesAPlainClient) {
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
    nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  }));
  for (int steps : {0, 150}) {
    SCOPED_TRACE(steps);
    TunnelClient c(server.port());
    {
      AsyncHost host(c.h);
      ASSERT_EQ(HTTPClient_AsyncTunnelOpen(c.h, &c.info), 0u);
      for (int i = 0; i < steps; ++i) {
        usleep(1000);
        HTTPClient_Process(c.h);
      }
      EXPECT_EQ(HTTPClient_Abort(c.h), 0u);
      EXPECT_TRUE(host.events.empty());
    }
    EXPECT_EQ(c.info.iTunnelGetSocket, -1);
    char buffer[16];
    c.info.pRecvBuffer = buffer;
    c.info.dwRecvSize = sizeof(buffer);
    c.info.dwTotalTimeout = 2000000;
    EXPECT_EQ(HTTPClient_Get(c.h, &c.info), HTTPCLIENT_I_CONTENT_COMPLETE);
    ASSERT_TRUE(server.WaitIdle());
    const std::string sent = server.requests().back();
    EXPECT_EQ(sent.substr(0, sent.find("\r\n")), "GET /tunnel?a=1&b=22 HTTP/1.1");
    EXPECT_EQ(sent.find("x-sessioncookie"), std::string::npos) << sent;
    EXPECT_EQ(c.OpenAfter(), 0) << "a descriptor was left open";
  }
}

TEST(HttpTunnel, UriWithoutQueryIsRefusedAtOnce) {
  TunnelClient c(9);  // nothing listens: nothing may be tried
  strcpy(c.info.szURI, "/tunnel");
  EXPECT_EQ(HTTPClient_AsyncTunnelOpen(c.h, &c.info), HTTPCLIENT_E_URI);
  EXPECT_EQ(c.h->dwOperation, 0u);
  EXPECT_EQ(c.h->dwHldmTunnel, 0u);
}

// The answer is awaited 15 s (in real time here) when the budget, the sum
// of the three time-outs, has that much left; the fallback then runs on
// what remains of it.
TEST(HttpTunnelSlow, NoAnswerInTimeFallsBackToOneChannel) {
  Device device;
  int get_channel = -1;
  ScriptServer server;
  ASSERT_TRUE(server.Start(
      [&](int fd, const std::string &, int index) {
        if (index == 0 || index == 2) {
          device.Record(ReadRequest(fd, 0));
          nrtest::SendAll(fd, kGetReply);
          get_channel = device.Keep(fd);
        } else if (index == 1) {
          device.Record(ReadRequest(fd, 1));
          device.Keep(fd);  // and no answer
        } else {
          device.Record(ReadRequest(fd, 9));
          nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
          nrtest::SendAll(get_channel, "http tunnel accept=1");
        }
      },
      "127.0.0.1", 0, ScriptServer::Read::kNothing));
  TunnelClient c(server.port());
  c.info.dwRecvTimeout = 16000000;  // a budget of 20 s
  {  // the host loop (its wake pipe) ends before descriptors are counted
    AsyncHost host(c.h);
    ASSERT_EQ(HTTPClient_AsyncTunnelOpen(c.h, &c.info), 0u);
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(host.Run(25000));
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count();
    EXPECT_EQ(host.events, Events{kFallback});
    EXPECT_GE(took, 14900);
    EXPECT_LT(took, 18000);
    EXPECT_LE(host.longest_step_ms, 1200u) << "the 15 s are waited a slice at a time";
    EXPECT_EQ(device.Requests().size(), 4u);
    EXPECT_TRUE(IsOpen(c.info.iTunnelGetSocket));
    EXPECT_EQ(c.info.iTunnelPostSocket, -1);
    c.CloseTunnel();
    EXPECT_TRUE(server.WaitIdle());
    for (int fd : device.kept) close(fd);
    device.kept.clear();
  }
  EXPECT_EQ(c.OpenAfter(), 0) << "a descriptor was left open";
}

// The RTSP-style tunnel GET: the GET socket is handed over when the
// response header is complete, the POST channel once its header is sent.
TEST(HttpTunnel, RtspTunnelGetHandsOverBothSockets) {
  for (bool async : {false, true}) {
    SCOPED_TRACE(async ? "asynchronous" : "synchronous");
    Device device;
    ScriptServer server;
    ASSERT_TRUE(server.Start(
        [&](int fd, const std::string &, int index) {
          device.Record(ReadRequest(fd, 0));
          if (index == 0) nrtest::SendAll(fd, "HTTP/1.0 200 OK\r\nCache-Control: no-cache\r\n\r\n");
          device.Keep(fd);
        },
        "127.0.0.1", 0, ScriptServer::Read::kNothing));
    TunnelClient c(server.port(), "/live");
    c.info.dwTotalTimeout = 3000000;
    if (async) {
      AsyncHost host(c.h);
      ASSERT_EQ(HTTPClient_AsyncTunnelGet(c.h, &c.info), 0u);
      ASSERT_TRUE(host.Run());
      EXPECT_EQ(host.events,
                (Events{HTTPCLIENT_EVENT_TUNNEL_GET_UP, HTTPCLIENT_EVENT_TUNNEL_POST_UP}));
      EXPECT_EQ(host.get_socket, c.info.iTunnelGetSocket);
      EXPECT_EQ(host.post_socket, c.info.iTunnelPostSocket);
    } else {
      EXPECT_EQ(HTTPClient_TunnelGet(c.h, &c.info), HTTPCLIENT_I_TUNNEL_POST_UP);
    }
    ASSERT_TRUE(server.WaitIdle());
    std::vector<std::string> requests = device.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string cookie = c.info.szSessionCookie;
    EXPECT_EQ(cookie.size(), 22u);
    EXPECT_EQ(requests[0],
              "GET /live HTTP/1.0\r\nAccept: application/x-rtsp-tunnelled\r\n"
              "x-sessioncookie: " +
                  cookie + "\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                  "\r\nUser-Agent: HLDM (ver=1.7.0.0)\r\nPragma: no-cache\r\n"
                  "Cache-Control: no-cache\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(requests[1],
              "POST /live HTTP/1.0\r\nContent-Type: application/x-rtsp-tunnelled\r\n"
              "Expires: Sun, 9 Jan 1972 00:00:00 GMT\r\nx-sessioncookie: " +
                  cookie + "\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                  "\r\nUser-Agent: HLDM (ver=1.7.0.0)\r\nPragma: no-cache\r\n"
                  "Cache-Control: no-cache\r\nConnection: close\r\n"
                  "Content-Length: 32767\r\n\r\n");
    // Both channels still work: the client writes on POST, reads on GET.
    ASSERT_TRUE(IsOpen(c.info.iTunnelGetSocket));
    ASSERT_TRUE(IsOpen(c.info.iTunnelPostSocket));
    ASSERT_TRUE(nrtest::SendAll(c.info.iTunnelPostSocket, "to-device"));
    EXPECT_EQ(nrtest::ReadBytes(device.kept[1], 9, 2000), "to-device");
    ASSERT_TRUE(nrtest::SendAll(device.kept[0], "to-client"));
    EXPECT_EQ(nrtest::ReadBytes(c.info.iTunnelGetSocket, 9, 2000), "to-client");
    // The record is back to plain requests.
    EXPECT_EQ(c.h->dwRtspTunnel, 0u);
    EXPECT_EQ(c.h->pSendBuffer, nullptr);
    c.CloseTunnel();
    for (int fd : device.kept) close(fd);
    device.kept.clear();
    EXPECT_EQ(c.OpenAfter(), 0) << "a descriptor was left open";
  }
}

// The project's tunnel device simulator as the peer: every answer mode,
// and over an accepted tunnel a raw send and a tunnelled request, both
// echoed by the device on the GET channel.
TEST(HttpTunnelSim, OpenSendAndRequestThroughTheSimulator) {
  NAMREG_REQUIRE_SANDBOX();
  struct {
    const char *mode;
    Events events;
    uint32_t code;
  } const cases[] = {
      {"accept", {kOpened}, 0},
      {"accept-upper", {kOpened}, 0},
      {"refuse", {kFallback}, 0},
      {"garbage", {kFailed}, HTTPCLIENT_E_TUNNEL_ANSWER},
      {"close", {kFailed}, HTTPCLIENT_E_TUNNEL_CLOSED},
  };
  const uint16_t port = 8554;
  for (const auto &k : cases) {
    SCOPED_TRACE(k.mode);
    nrtest::SimProcess sim;
    ASSERT_TRUE(
        sim.Start("tools/tunnel-sim/tunnel-sim",
                  {"--port", std::to_string(port), "--max-seconds", "30", "--mode", k.mode}));
    TunnelClient c(port, "/tunnel?cam=1");
    {
      AsyncHost host(c.h);
      ASSERT_EQ(HTTPClient_AsyncTunnelOpen(c.h, &c.info), 0u);
      ASSERT_TRUE(host.Run());
      EXPECT_EQ(host.events, k.events);
      if (k.code != 0) {
        EXPECT_EQ(host.codes, std::vector<uint32_t>{k.code});
      }
      if (host.events == Events{kOpened}) {
        ASSERT_TRUE(nrtest::SendAll(c.info.iTunnelPostSocket, "ping"));
        EXPECT_EQ(nrtest::ReadBytes(c.info.iTunnelGetSocket, 4, 2000), "ping");
        HTTPClientTunnelRequest request = {0, 0, "hello", 5, -1, 1};
        ASSERT_EQ(HTTPClient_AsyncTunnelRequest(c.h, &c.info, &request), 0u);
        ASSERT_TRUE(host.Run());
        EXPECT_EQ(host.events.back(), HTTPCLIENT_EVENT_REQUEST_DONE);
        EXPECT_EQ(nrtest::ReadBytes(c.info.iTunnelGetSocket, 5, 2000), "hello");
      }
    }
    c.CloseTunnel();
    sim.Stop();
    EXPECT_EQ(c.OpenAfter(), 0) << "a descriptor was left open";
  }
}

}  // namespace
