// SPDX-License-Identifier: MIT
// Asynchronous exchanges driven from a host's poll loop against scripted
// peers: the whole event sequence of each case, time-outs, aborts and the
// entry checks.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "async_host.h"
#include "httpclient_internal.h"
#include "namreg/httpclient.h"
#include "peers.h"
#include "testworld.h"

namespace {

using nrtest::AsyncHost;
using nrtest::ScriptServer;
using Events = std::vector<uint32_t>;

constexpr uint32_t kStatus200 = HTTPCLIENT_EVENT_STATUS_BASE + 3;

struct AsyncExchange {
  HTTPClientHandle h = nullptr;
  HTTPClientInfo info{};
  int fds_before = 0;

  explicit AsyncExchange(uint16_t port) {
    fds_before = nrtest::CountOpenFds();
    EXPECT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
    strcpy(info.tServer.szHost, "127.0.0.1");
    info.tServer.dwPort = port;
    strcpy(info.szURI, "/page");
    strcpy(info.szUserAgent, "test-agent");
    info.dwConnectTimeout = 2000000;
    info.dwSendTimeout = 2000000;
    info.dwRecvTimeout = 2000000;
  }
  ~AsyncExchange() {
    EXPECT_EQ(HTTPClient_Release(&h), 0u) << "the record is not idle";
    for (int i = 0; i < 100 && nrtest::CountOpenFds() != fds_before; ++i) usleep(10000);
    EXPECT_EQ(nrtest::CountOpenFds(), fds_before) << "a descriptor was left open";
  }
};

ScriptServer::Script Reply(std::string text) {
  return [text](int fd, const std::string &, int) { nrtest::SendAll(fd, text); };
}

TEST(HttpAsync, EventSequences) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  struct {
    const char *name;
    std::vector<std::string> replies;  // per connection
    const char *user;
    bool proxy;
    Events events;
    std::string body;
    size_t connections;
  } const cases[] = {
      {"content-length",
       {ok + "Content-Length: 11\r\n\r\nhello world"},
       "",
       false,
       {kStatus200, 1, 2, 5},
       "hello world",
       1},
      {"chunked",
       {ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"},
       "",
       false,
       {kStatus200, 1, 2, 1, 2, 5},
       "hello world",
       1},
      {"close-delimited",
       {"HTTP/1.0 200 OK\r\n\r\nhello world"},
       "",
       false,
       {kStatus200, 1, 2, 1, 4},
       "hello world",
       1},
      {"404 body",
       {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"},
       "",
       false,
       {HTTPCLIENT_EVENT_STATUS_BASE + 21, 1, 2, 5},
       "gone",
       1},
      {"unknown status",
       {"HTTP/1.1 299 Odd\r\nContent-Length: 4\r\n\r\ngone"},
       "",
       false,
       {61},
       "",
       1},
      {"401 then success",
       {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
        "Content-Length: 0\r\n\r\n",
        ok + "Content-Length: 2\r\n\r\nok"},
       "user",
       false,
       {30, kStatus200, 1, 2, 5},
       "ok",
       2},
      {"401 without credentials",
       {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
        "Content-Length: 0\r\n\r\n"},
       "",
       false,
       {30, 0},
       "",
       1},
      {"401 every time",
       std::vector<std::string>(5,
                                "HTTP/1.1 401 Unauthorized\r\n"
                                "WWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 0\r\n\r\n"),
       "user",
       false,
       {30, 30, 30, 30, 0},
       "",
       4},
      {"407 then success",
       {"HTTP/1.1 407 Proxy Authentication Required\r\n"
        "Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 0\r\n\r\n",
        ok + "Content-Length: 2\r\n\r\nok"},
       "user",
       true,
       {36, kStatus200, 1, 2, 5},
       "ok",
       2},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    std::vector<std::string> replies = k.replies;
    ScriptServer server;
    ASSERT_TRUE(server.Start([replies](int fd, const std::string &, int index) {
      if (static_cast<size_t>(index) < replies.size()) nrtest::SendAll(fd, replies[index]);
    }));
    {
      AsyncExchange ex(server.port());
      if (k.proxy) {
        ex.info.dwUseProxy = 1;
        strcpy(ex.info.tProxy.szHost, "127.0.0.1");
        ex.info.tProxy.dwPort = server.port();
        strcpy(ex.info.tProxy.szUser, k.user);
        ex.info.tServer.dwAddress = htonl(0x0A000001);  // 10.0.0.1, never connected
        ex.info.tServer.szHost[0] = '\0';
        ex.info.tServer.dwPort = 80;
      } else {
        strcpy(ex.info.tServer.szUser, k.user);
        strcpy(ex.info.tServer.szPassword, k.user[0] != '\0' ? "pass" : "");
      }
      AsyncHost host(ex.h);
      ASSERT_EQ(HTTPClient_AsyncGet(ex.h, &ex.info), 0u);
      ASSERT_TRUE(host.Run());
      EXPECT_EQ(host.body, k.body);
      EXPECT_EQ(server.requests().size(), k.connections);
      if (k.connections == 2) {
        const char *line = k.proxy ? "Proxy-Authorization: Basic " : "Authorization: Basic ";
        EXPECT_EQ(server.requests()[0].find(line), std::string::npos);
        EXPECT_NE(server.requests()[1].find(line), std::string::npos);
      }
      EXPECT_EQ(host.events, k.events);
    }
  }
}

// The filtered GET reads on past the announced length until the server
// closes, when the request asks for the filter.
TEST(HttpAsync, FilteredGetReadsOnPastTheLength) {
  struct {
    bool filtered;
    uint32_t filter_field;
    Events events;
    std::string body;
  } const cases[] = {
      {true, 1, {kStatus200, 1, 2, 1, 2, 1, 4}, "okmore"},
      {true, 0, {kStatus200, 1, 2, 5}, "ok"},
      {false, 1, {kStatus200, 1, 2, 5}, "ok"},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(testing::Message() << k.filtered << k.filter_field);
    ScriptServer server;
    ASSERT_TRUE(server.Start(Reply(
        "HTTP/1.1 200 OK\r\nServer: Haldrim Video Server\r\nContent-Length: 2\r\n\r\nokmore")));
    AsyncExchange ex(server.port());
    ex.info.dwServerFilter = k.filter_field;
    {
      AsyncHost host(ex.h);
      ASSERT_EQ(k.filtered ? HTTPClient_FilteredAsyncGet(ex.h, &ex.info)
                           : HTTPClient_AsyncGet(ex.h, &ex.info),
                0u);
      ASSERT_TRUE(host.Run());
      EXPECT_EQ(host.events, k.events);
      EXPECT_EQ(host.body, k.body);
    }
    EXPECT_TRUE(server.WaitIdle());
  }
}

TEST(HttpAsync, TimeOutsEndWithTheirEvents) {
  // Connect: a budget below one millisecond is spent before the first wait.
  // Send: a peer that never accepts nor reads a large body.  Receive: a
  // peer that reads the request and stays silent.
  ScriptServer stalling;  // the header and a part of the body, then silence
  ASSERT_TRUE(stalling.Start([&stalling](int fd, const std::string &, int) {
    nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\npart");
    stalling.Pause(600);
  }));
  ScriptServer silent;
  ASSERT_TRUE(silent.Start([&silent](int, const std::string &, int) { silent.Pause(600); }));
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t len = sizeof(sin);
  getsockname(listener, reinterpret_cast<sockaddr *>(&sin), &len);
  const std::string big(32 << 20, 'b');

  struct {
    const char *name;
    uint16_t port;
    bool post;
    uint32_t connect_us, send_us, recv_us;
    Events events;
    uint32_t code;
  } const cases[] = {
      {"connect", silent.port(), false, 500, 2000000, 2000000, {7}, HTTPCLIENT_E_CONNECT_TIMEOUT},
      {"send", ntohs(sin.sin_port), true, 2000000, 300000, 5000000, {8}, HTTPCLIENT_E_SEND_TIMEOUT},
      {"receive", silent.port(), false, 2000000, 2000000, 300000, {9}, HTTPCLIENT_E_RECV_TIMEOUT},
      // A receive failure inside the body is reported (event 3) before the
      // exchange ends.
      {"receive in the body",
       stalling.port(),
       false,
       2000000,
       2000000,
       300000,
       {kStatus200, 1, 2, 1, 3, 9},
       HTTPCLIENT_E_RECV_TIMEOUT},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    AsyncExchange ex(k.port);
    ex.info.dwConnectTimeout = k.connect_us;
    ex.info.dwSendTimeout = k.send_us;
    ex.info.dwRecvTimeout = k.recv_us;
    ex.info.pBody = big.data();
    ex.info.dwBodyLength = static_cast<uint32_t>(big.size());
    AsyncHost host(ex.h);
    ASSERT_EQ(k.post ? HTTPClient_AsyncPost(ex.h, &ex.info) : HTTPClient_AsyncGet(ex.h, &ex.info),
              0u);
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(host.Run(8000));
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count();
    // A receive step whose wait ends just short of its budget asks for a
    // buffer again on the next step: a repeated event 1 is one request.
    Events events = host.events;
    events.erase(std::unique(events.begin(), events.end(),
                             [](uint32_t a, uint32_t b) { return a == 1 && b == 1; }),
                 events.end());
    EXPECT_EQ(events, k.events);
    EXPECT_EQ(host.codes.back(), k.code);
    for (uint32_t code : host.codes) EXPECT_EQ(code, k.code);
    EXPECT_LT(took, 2500) << "the step budget bounds the wait";
  }
  close(listener);
}

TEST(HttpAsync, AbortAndStoppingAndRefusals) {
  ScriptServer server;
  ASSERT_TRUE(server.Start([](int fd, const std::string &, int) {
    nrtest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst part");
    usleep(800000);
  }));
  {
    // Abort while receiving: no further event, the socket is closed, the
    // record idle (its release in the fixture succeeds).
    AsyncExchange ex(server.port());
    AsyncHost host(ex.h);
    uint32_t abort_result = 1;
    host.hook = [&](uint32_t event, void *, HTTPClientHandle c) {
      if (event == HTTPCLIENT_EVENT_BODY_DATA) {
        abort_result = HTTPClient_Abort(c);
        host.Stop();
      }
    };
    ASSERT_EQ(HTTPClient_AsyncGet(ex.h, &ex.info), 0u);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(abort_result, 0u);
    EXPECT_EQ(host.events, (Events{kStatus200, 1, 2}));
    EXPECT_EQ(host.body, "first part");
    host.hook = nullptr;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(HTTPClient_Process(ex.h), 0u);  // idle steps
    EXPECT_EQ(host.events.size(), 3u);
  }
  {
    // Abort between steps, then the host's own abort of a finished record.
    AsyncExchange ex(server.port());
    AsyncHost host(ex.h);
    ASSERT_EQ(HTTPClient_AsyncGet(ex.h, &ex.info), 0u);
    for (int i = 0; i < 4; ++i) HTTPClient_Process(ex.h);
    EXPECT_EQ(HTTPClient_Abort(ex.h), 0u);
    EXPECT_EQ(ex.h->iSocket, -1);
  }
  {
    // Abort while the exchange is already stopping: during its last event.
    ScriptServer quick;
    ASSERT_TRUE(quick.Start(Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")));
    AsyncExchange ex(quick.port());
    AsyncHost host(ex.h);
    uint32_t abort_result = 0;
    host.hook = [&](uint32_t event, void *, HTTPClientHandle c) {
      if (event == HTTPCLIENT_EVENT_COMPLETE) abort_result = HTTPClient_Abort(c);
    };
    ASSERT_EQ(HTTPClient_AsyncGet(ex.h, &ex.info), 0u);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(abort_result, HTTPCLIENT_I_ALREADY_STOPPING);
    EXPECT_EQ(host.body, "ok");
  }
  {
    // No buffer given for event 1.
    ScriptServer quick;
    ASSERT_TRUE(quick.Start(Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")));
    AsyncExchange ex(quick.port());
    AsyncHost host(ex.h);
    host.give_buffer = false;
    ASSERT_EQ(HTTPClient_AsyncGet(ex.h, &ex.info), 0u);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(host.events, (Events{kStatus200, 1, 10}));
  }
}

TEST(HttpAsync, EntryChecks) {
  AsyncExchange ex(80);
  HTTPClientInfo other{};
  strcpy(other.tServer.szHost, "127.0.0.1");
  other.tServer.dwPort = 80;
  strcpy(other.szURI, "/x");
  other.dwConnectTimeout = other.dwSendTimeout = other.dwRecvTimeout = 1000000;
  strcpy(other.szResponseHeader, "untouched");

  // No callback yet: the step refuses; the start itself is accepted.
  ASSERT_EQ(HTTPClient_AsyncGet(ex.h, &ex.info), 0u);
  EXPECT_EQ(HTTPClient_Process(ex.h), HTTPCLIENT_E_NO_CALLBACK);
  EXPECT_EQ(HTTPClient_AsyncGet(ex.h, &other), HTTPCLIENT_E_PENDING);
  EXPECT_EQ(HTTPClient_Abort(ex.h), 0u);

  struct {
    const char *name;
    uint32_t result, expected;
  } const cases[] = {
      {"SetCallback null client", HTTPClient_SetCallback(nullptr, nullptr, nullptr),
       HTTPCLIENT_E_INVALID_HANDLE},
      {"SetCallback null function", HTTPClient_SetCallback(ex.h, nullptr, nullptr),
       HTTPCLIENT_E_NO_CALLBACK_FUNC},
      {"Process null", HTTPClient_Process(nullptr), HTTPCLIENT_E_INVALID_HANDLE},
      {"Abort null", HTTPClient_Abort(nullptr), HTTPCLIENT_E_INVALID_HANDLE},
      {"AsyncGet null info", HTTPClient_AsyncGet(ex.h, nullptr), HTTPCLIENT_E_INVALID_INFO},
      {"AsyncPost null client", HTTPClient_AsyncPost(nullptr, &other), HTTPCLIENT_E_INVALID_HANDLE},
      {"FilteredAsyncGet null info", HTTPClient_FilteredAsyncGet(ex.h, nullptr),
       HTTPCLIENT_E_INVALID_INFO},
      {"TunnelGet null info", HTTPClient_TunnelGet(ex.h, nullptr), HTTPCLIENT_E_INVALID_INFO},
      {"AsyncTunnelGet null client", HTTPClient_AsyncTunnelGet(nullptr, &other),
       HTTPCLIENT_E_INVALID_HANDLE},
      {"AsyncTunnelOpen null info", HTTPClient_AsyncTunnelOpen(ex.h, nullptr),
       HTTPCLIENT_E_INVALID_INFO},
      {"AsyncTunnelRequest null descriptor", HTTPClient_AsyncTunnelRequest(ex.h, &other, nullptr),
       HTTPCLIENT_E_INVALID_INFO},
      {"SendTunnelData null descriptor", HTTPClient_SendTunnelData(ex.h, nullptr),
       HTTPCLIENT_E_INVALID_INFO},
      {"async start without time-outs",
       [&] {
         HTTPClientInfo none = other;
         none.dwRecvTimeout = 0;
         return HTTPClient_AsyncGet(ex.h, &none);
       }(),
       HTTPCLIENT_E_ASYNC_TIMEOUT},
  };
  for (const auto &k : cases) EXPECT_EQ(k.result, k.expected) << k.name;

  // An asynchronous start while a tunnel open is pending changes nothing.
  AsyncHost host(ex.h);
  HTTPClientInfo tunnel = other;
  strcpy(tunnel.szURI, "/tunnel?x=1");
  ASSERT_EQ(HTTPClient_AsyncTunnelOpen(ex.h, &tunnel), 0u);
  const std::vector<char> before(reinterpret_cast<char *>(ex.h),
                                 reinterpret_cast<char *>(ex.h) + sizeof(HTTPClientContext));
  EXPECT_EQ(HTTPClient_AsyncGet(ex.h, &other), HTTPCLIENT_E_PENDING);
  EXPECT_EQ(HTTPClient_AsyncPost(ex.h, &other), HTTPCLIENT_E_PENDING);
  EXPECT_EQ(HTTPClient_Get(ex.h, &other), HTTPCLIENT_E_PENDING);
  EXPECT_EQ(HTTPClient_AsyncTunnelGet(ex.h, &other), HTTPCLIENT_E_PENDING);
  const std::vector<char> after(reinterpret_cast<char *>(ex.h),
                                reinterpret_cast<char *>(ex.h) + sizeof(HTTPClientContext));
  EXPECT_TRUE(before == after) << "the client record changed";
  EXPECT_STREQ(other.szResponseHeader, "untouched");
  EXPECT_EQ(HTTPClient_Abort(ex.h), 0u);
  EXPECT_TRUE(host.events.empty());
}

}  // namespace
