// SPDX-License-Identifier: MIT
// The asynchronous client and the streamed upload against the real Apache
// of the test world: bodies byte for byte through events 1 and 2, and a
// file streamed in pieces to a script that reports the length and MD5 of
// what it received.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "async_host.h"
#include "httpclient_internal.h"
#include "http_peers.h"
#include "named_fixture.h"
#include "namreg/httpclient.h"
#include "testworld.h"

namespace {

using nrtest::AsyncHost;

using nrtest::Md5Hex;

class ApacheAsyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NAMREG_REQUIRE_SANDBOX();
    std::string error;
    named_ = nrtest::StartNamed("example.test", {"www IN A 127.0.0.1"}, false, &error);
    ASSERT_TRUE(named_) << error;
    apache_ = nrtest::StartApache(&apache_dir_, &error);
    ASSERT_TRUE(apache_) << error;
    fds_before_ = nrtest::CountOpenFds();
    ASSERT_EQ(HTTPClient_Initial(&h_, HTTPCLIENT_VERSION), 0u);
    // A host name: asynchronous requests resolve within the connect budget.
    strcpy(info_.tServer.szHost, "www.example.test");
    info_.tServer.dwPort = nrtest::kApachePort;
    info_.dwConnectTimeout = 3000000;
    info_.dwSendTimeout = 3000000;
    info_.dwRecvTimeout = 5000000;
    info_.dwTotalTimeout = 10000000;
  }
  void TearDown() override {
    if (h_ == nullptr) return;
    EXPECT_EQ(HTTPClient_Release(&h_), 0u);
    EXPECT_EQ(nrtest::CountOpenFds(), fds_before_) << "a descriptor was left open";
  }
  std::unique_ptr<nrtest::ChildProcess> named_, apache_;
  std::string apache_dir_;
  HTTPClientHandle h_ = nullptr;
  HTTPClientInfo info_{};
  int fds_before_ = 0;
};

TEST_F(ApacheAsyncTest, GetAndPostBodiesThroughEvents) {
  std::string post_body;
  for (int i = 0; i < 300; ++i) post_body += "field" + std::to_string(i) + "=value&";
  struct {
    const char *uri;
    bool post;
    uint32_t keep_alive;
    std::string body;
  } const cases[] = {
      {"/page.html", false, 0, nrtest::ApachePage()},
      {"/cgi/chunked.cgi", false, 1, nrtest::ChunkedCgiBody()},
      {"/cgi/echo.cgi", true, 0, "POST:" + post_body},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.uri);
    strcpy(info_.szURI, k.uri);
    info_.dwKeepAlive = k.keep_alive;
    info_.pBody = post_body.data();
    info_.dwBodyLength = static_cast<uint32_t>(post_body.size());
    AsyncHost host(h_, 100);  // pieces of 100 bytes: many body events
    ASSERT_EQ(k.post ? HTTPClient_AsyncPost(h_, &info_) : HTTPClient_AsyncGet(h_, &info_), 0u);
    ASSERT_TRUE(host.Run());
    EXPECT_EQ(host.body, k.body);
    ASSERT_FALSE(host.events.empty());
    EXPECT_EQ(host.events.front(), HTTPCLIENT_EVENT_STATUS_BASE + 3);  // 200
    EXPECT_TRUE(host.events.back() == HTTPCLIENT_EVENT_COMPLETE ||
                host.events.back() == HTTPCLIENT_EVENT_PEER_CLOSED);
    EXPECT_NE(std::string(info_.szResponseHeader).find("HTTP/1.1 200 OK\r\n"), std::string::npos);
  }
}

TEST_F(ApacheAsyncTest, StreamedUploadArrivesExactlyAsComposed) {
  std::mt19937 rng(12);
  struct {
    const char *name;
    size_t file_size;
    uint32_t piece;
    const char *prefix;
    const char *trailer;
    const char *trailer_text;  // printed with the last piece's size and 2
  } const cases[] = {
      // Much larger than the send buffer; the last piece is partial.
      {"large", 300 * 1024 + 123, 16384, "PREFIX-", "\r\n--b-- last=%d two=%d\r\n",
       "\r\n--b-- last=12411 two=2\r\n"},
      {"exact pieces", 4 * 4096, 4096, "", "\r\n--b--%%%5x\r\n", "\r\n--b--% 1000\r\n"},
      {"empty file", 0, 512, "", "\r\n--b--\r\n", "\r\n--b--\r\n"},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    std::string content(k.file_size, '\0');
    for (char &c : content) c = static_cast<char>(rng());
    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(content.data(), 1, content.size(), file), content.size());
    const std::string part_header =
        "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.bin\"\r\n\r\n";
    strcpy(info_.szURI, "/cgi/upload.cgi");
    snprintf(info_.szUploadPrefix, sizeof info_.szUploadPrefix, "%s", k.prefix);
    snprintf(info_.szUploadPartHeader, sizeof info_.szUploadPartHeader, "%s", part_header.c_str());
    snprintf(info_.szUploadTrailerFormat, sizeof info_.szUploadTrailerFormat, "%s", k.trailer);
    info_.pUploadFile = file;
    info_.pBody = nullptr;
    info_.dwBodyLength = k.piece;
    std::vector<char> reply(512);
    info_.pRecvBuffer = reply.data();
    info_.dwRecvSize = static_cast<uint32_t>(reply.size());

    const std::string expected = k.prefix + part_header + content + k.trailer_text;

    uint32_t r = HTTPClient_Post(h_, &info_);
    EXPECT_TRUE(r == HTTPCLIENT_I_PEER_CLOSED || r == HTTPCLIENT_I_LAST_CHUNK ||
                r == HTTPCLIENT_I_CONTENT_COMPLETE)
        << std::hex << r;
    EXPECT_EQ(std::string(info_.pRecvBuffer, info_.dwRecvSize),
              "length=" + std::to_string(expected.size()) + " md5=" + Md5Hex(expected) + "\n");
    fclose(file);
  }
  info_.pUploadFile = nullptr;
}

// Uploads the client cannot stream as announced are refused before any
// connection: nothing listens on the port.
TEST(HttpUpload, RefusedBeforeConnecting) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  FILE *unseekable = fdopen(pipe_fds[0], "r");
  FILE *file = tmpfile();
  ASSERT_NE(file, nullptr);
  fputs("data", file);
  struct {
    const char *name;
    FILE *file;
    const char *trailer;
    uint32_t result;
  } const cases[] = {
      {"string conversion", file, "--%s--", HTTPCLIENT_E_POST_BODY},
      {"three conversions", file, "%d%d%d", HTTPCLIENT_E_POST_BODY},
      {"width from an argument", file, "%*d", HTTPCLIENT_E_POST_BODY},
      {"dangling percent", file, "end%", HTTPCLIENT_E_POST_BODY},
      {"a pipe has no size", unseekable, "--", HTTPCLIENT_E_POST_BODY},
  };
  HTTPClientHandle h = nullptr;
  ASSERT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u);
  for (const auto &k : cases) {
    HTTPClientInfo info{};
    strcpy(info.tServer.szHost, "127.0.0.1");
    info.tServer.dwPort = 9;
    strcpy(info.szURI, "/up");
    info.dwTotalTimeout = 1000000;
    char reply[64];
    info.pRecvBuffer = reply;
    info.dwRecvSize = sizeof reply;
    strcpy(info.szUploadPartHeader, "--b\r\n\r\n");
    strcpy(info.szUploadTrailerFormat, k.trailer);
    info.pUploadFile = k.file;
    info.dwBodyLength = 1024;
    EXPECT_EQ(HTTPClient_Post(h, &info), k.result) << k.name;
    EXPECT_EQ(h->dwState, 0u);
  }
  EXPECT_EQ(HTTPClient_Release(&h), 0u);
  fclose(file);
  fclose(unseekable);
  close(pipe_fds[1]);
}

}  // namespace
