// SPDX-License-Identifier: MIT
// Records, the composer, the response parser and the credentials, driven
// directly on a client record (no network).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <regex>
#include <string>

#include "httpclient_internal.h"
#include "namreg/common.h"
#include "namreg/httpclient.h"
#include "http_peers.h"
#include "output_capture.h"

namespace {

struct Client {
  HTTPClientHandle h = nullptr;
  Client() { EXPECT_EQ(HTTPClient_Initial(&h, HTTPCLIENT_VERSION), 0u); }
  ~Client() {
    if (h) {
      h->dwState = 0;
      HTTPClient_Release(&h);
    }
  }
};

using nrtest::Md5Hex;

std::string Base64Decode(const std::string &text) {
  std::string out(text.size(), '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(&out[0]),
                          reinterpret_cast<const unsigned char *>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return "<bad>";
  size_t pad = 0;
  if (!text.empty() && text.back() == '=')
    pad = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  out.resize(static_cast<size_t>(n) - pad);
  return out;
}

// Feeds a whole response header to the parser as one receive.
uint32_t Feed(HTTPClientContext *c, const std::string &bytes) {
  uint32_t n = static_cast<uint32_t>(bytes.size());
  memcpy(c->szHeaderBuffer + c->dwBuffered, bytes.data(), n);
  return HTTPClient_ParseResponseHeader(c, n);
}

void PrepareForResponse(HTTPClientContext *c, HTTPClientInfo *info) {
  c->dwState = HTTPCLIENT_STATE_RECV_HEADER;
  c->dwMethod = HTTPCLIENT_METHOD_GET;
  c->pResponseHeader = info->szResponseHeader;
}

TEST(HttpRecords, CreationChecksTheVersionWordAndStartsIdle) {
  HTTPClientHandle h = nullptr;
  for (uint32_t v : {0u, 0x00000700u, 0x00000702u, 0x01000701u, 0x00070100u, 0xFFFFFFFFu})
    EXPECT_EQ(HTTPClient_Initial(&h, v), HTTPCLIENT_E_VERSION) << std::hex << v;
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(HTTPClient_Initial(nullptr, HTTPCLIENT_VERSION), HTTPCLIENT_E_INVALID_HANDLE);
  ASSERT_EQ(HTTPClient_Initial(&h, 0x00000701u), 0u);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->dwState, 0u);
  EXPECT_EQ(h->dwOperation, 0u);
  EXPECT_EQ(h->iSocket, -1);
  // Busy: refused and nothing freed (the record is still usable).
  h->dwState = HTTPCLIENT_STATE_RECV_BODY;
  EXPECT_EQ(HTTPClient_Release(&h), HTTPCLIENT_E_RELEASE_BUSY);
  ASSERT_NE(h, nullptr);
  h->dwState = 0;
  EXPECT_EQ(HTTPClient_Release(&h), 0u);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(HTTPClient_Release(&h), HTTPCLIENT_E_INVALID_HANDLE);
  EXPECT_EQ(HTTPClient_Release(nullptr), HTTPCLIENT_E_INVALID_HANDLE);
  EXPECT_STREQ(g_szHTTPClientVersionId, "$Id: 1.7.0.0 httpclient lib Jan 16 2019 18:00:00 $");
}

TEST(HttpRecords, StartRefusesBadRequestsWithTheirCodes) {
  Client c;
  static char buf[16];
  auto base = [] {
    HTTPClientInfo i{};
    strcpy(i.tServer.szHost, "127.0.0.1");
    i.tServer.dwPort = 9;
    strcpy(i.szURI, "/");
    i.dwTotalTimeout = 1000000;
    i.pRecvBuffer = buf;
    i.dwRecvSize = sizeof(buf);
    return i;
  };
  struct Case {
    const char *what;
    void (*mutate)(HTTPClientInfo *);
    uint32_t method;
    uint32_t code;
  } const cases[] = {
      {"no total timeout", [](HTTPClientInfo *i) { i->dwTotalTimeout = 0; }, 1,
       HTTPCLIENT_E_TOTAL_TIMEOUT},
      {"no buffer", [](HTTPClientInfo *i) { i->pRecvBuffer = nullptr; }, 1,
       HTTPCLIENT_E_RECV_BUFFER},
      {"size zero", [](HTTPClientInfo *i) { i->dwRecvSize = 0; }, 1, HTTPCLIENT_E_RECV_SIZE},
      {"proxy port", [](HTTPClientInfo *i) { i->dwUseProxy = 1; }, 1, HTTPCLIENT_E_PROXY_PORT},
      {"proxy address",
       [](HTTPClientInfo *i) {
         i->dwUseProxy = 1;
         i->tProxy.dwPort = 3128;
         i->tProxy.dwAddress = 0xFFFFFFFFu;
       },
       1, HTTPCLIENT_E_PROXY_ADDRESS},
      {"server port", [](HTTPClientInfo *i) { i->tServer.dwPort = 0; }, 1,
       HTTPCLIENT_E_SERVER_PORT},
      {"server address",
       [](HTTPClientInfo *i) {
         i->tServer.szHost[0] = 0;
         i->tServer.dwAddress = 0xFFFFFFFFu;
       },
       1, HTTPCLIENT_E_SERVER_ADDRESS},
      {"uri", [](HTTPClientInfo *i) { i->szURI[0] = 0; }, 1, HTTPCLIENT_E_URI},
      {"post body", [](HTTPClientInfo *i) { i->dwBodyLength = 3; }, 2, HTTPCLIENT_E_POST_BODY},
      {"post length", [](HTTPClientInfo *i) { i->pBody = "abc"; }, 2, HTTPCLIENT_E_POST_LENGTH},
  };
  for (const Case &k : cases) {
    HTTPClientInfo info = base();
    k.mutate(&info);
    uint32_t r = k.method == 1 ? HTTPClient_Get(c.h, &info) : HTTPClient_Post(c.h, &info);
    EXPECT_EQ(r, k.code) << k.what;
    // Refused requests leave the client idle and reusable.
    EXPECT_EQ(c.h->dwState, 0u) << k.what;
    EXPECT_EQ(c.h->dwOperation, 0u) << k.what;
  }
  HTTPClientInfo info = base();
  EXPECT_EQ(HTTPClient_Get(nullptr, &info), HTTPCLIENT_E_INVALID_HANDLE);
  EXPECT_EQ(HTTPClient_Get(c.h, nullptr), HTTPCLIENT_E_INVALID_INFO);
  EXPECT_EQ(HTTPClient_Post(c.h, nullptr), HTTPCLIENT_E_INVALID_INFO);
  c.h->dwState = HTTPCLIENT_STATE_CONNECT;
  EXPECT_EQ(HTTPClient_Get(c.h, &info), HTTPCLIENT_E_BUSY);
  EXPECT_EQ(HTTPClient_Finish(c.h), HTTPCLIENT_E_FINISH_STATE);
}

TEST(HttpRecords, HeaderValueLookup) {
  HTTPClientInfo info{};
  strcpy(info.szResponseHeader,
         "HTTP/1.1 200 OK\r\nServer: x\r\nHttp-Code-By: HGDDNS\r\nX-Empty:\r\n");
  char value[24];
  uint32_t len = sizeof(value);
  ASSERT_EQ(HTTPClient_GetHeaderValue(&info, "Http-Code-By", value, &len), 0);
  EXPECT_STREQ(value, "HGDDNS");
  EXPECT_EQ(len, 6u);
  // Exactly the given length: copied, not terminated; one less fails.
  char six[7];
  memset(six, 'Z', sizeof(six));
  len = 6;
  ASSERT_EQ(HTTPClient_GetHeaderValue(&info, "Http-Code-By", six, &len), 0);
  EXPECT_EQ(std::string(six, 6), "HGDDNS");
  EXPECT_EQ(six[6], 'Z');
  len = 5;
  EXPECT_EQ(HTTPClient_GetHeaderValue(&info, "Http-Code-By", value, &len), -1);
  len = sizeof(value);
  EXPECT_EQ(HTTPClient_GetHeaderValue(&info, "X-Missing", value, &len), -1);
  EXPECT_EQ(HTTPClient_GetHeaderValue(&info, "", value, &len), -1);
  len = 0;
  EXPECT_EQ(HTTPClient_GetHeaderValue(&info, "Server", value, &len), -1);
  len = sizeof(value);
  ASSERT_EQ(HTTPClient_GetHeaderValue(&info, "X-Empty", value, &len), 0);
  EXPECT_EQ(len, 0u);
  HTTPClientInfo cut{};
  strcpy(cut.szResponseHeader, "Http-Code-By: HGDDNS");  // no line end
  len = sizeof(value);
  EXPECT_EQ(HTTPClient_GetHeaderValue(&cut, "Http-Code-By", value, &len), -1);
  HTTPClientInfo empty{};
  EXPECT_EQ(HTTPClient_GetHeaderValue(&empty, "Server", value, &len), -1);
}

// ---- Composer ---------------------------------------------------------------

void ComposeFrom(HTTPClientContext *c, const char *host, uint32_t address, uint32_t port,
                 const char *uri) {
  strcpy(c->tServer.szHost, host);
  c->tServer.dwAddress = address;
  c->tServer.dwPort = port;
  strcpy(c->szURI, uri);
  if (c->dwMethod == 0) c->dwMethod = HTTPCLIENT_METHOD_GET;
}

TEST(HttpCompose, DdnsGetDirect) {
  for (uint32_t port : {80u, 8245u}) {
    Client c;
    ComposeFrom(c.h, "members.example.test", 0x0100007f, port,
                "/nic/update?hostname=a.example.test");
    strcpy(c.h->szUserAgent, "Camera-DDNS/2.13");
    ASSERT_EQ(HTTPClient_ComposeRequest(c.h), 0u);
    EXPECT_EQ(c.h->dwState, HTTPCLIENT_STATE_AUTHORIZE);
    ASSERT_EQ(HTTPClient_Authorize(c.h), 0u);
    std::string host = port == 80 ? "members.example.test" : "members.example.test:8245";
    EXPECT_EQ(std::string(c.h->szRequest),
              "GET /nic/update?hostname=a.example.test HTTP/1.1\r\n"
              "Accept: */*\r\n"
              "Host: " +
                  host +
                  "\r\n"
                  "User-Agent: Camera-DDNS/2.13\r\n"
                  "Pragma: no-cache\r\n"
                  "Cache-Control: no-cache\r\n"
                  "Connection: close\r\n"
                  "\r\n");
  }
}

TEST(HttpCompose, ProxyLineDefaultsAndPost) {
  Client c;
  ComposeFrom(c.h, "www.example.test", 0x0a02000a /* 10.0.2.10 */, 8080, "/a?b=c");
  c.h->dwUseProxy = 1;
  c.h->dwKeepAlive = 1;
  strcpy(c.h->szReferer, "http://ref.example.test/");
  ASSERT_EQ(HTTPClient_ComposeRequest(c.h), 0u);
  EXPECT_EQ(std::string(c.h->szRequest),
            "GET http://10.0.2.10:8080/a?b=c HTTP/1.1\r\n"
            "Accept: */*\r\n"
            "Host: www.example.test:8080\r\n"
            "User-Agent: HLDM (ver=1.7.0.0)\r\n"
            "Pragma: no-cache\r\n"
            "Cache-Control: no-cache\r\n"
            "Referer: http://ref.example.test/\r\n"
            "Connection: Keep-Alive\r\n"
            "Proxy-Connection: Keep-Alive\r\n");

  Client p;
  p.h->dwMethod = HTTPCLIENT_METHOD_POST;
  ComposeFrom(p.h, "", 0x0100007f, 80, "/form");
  strcpy(p.h->szContentType, "text/plain");
  p.h->dwBodyLength = 42;
  ASSERT_EQ(HTTPClient_ComposeRequest(p.h), 0u);
  EXPECT_EQ(std::string(p.h->szRequest),
            "POST /form HTTP/1.1\r\n"
            "Accept: */*\r\n"
            "Content-Type: text/plain\r\n"
            "Host: 127.0.0.1\r\n"
            "User-Agent: HLDM (ver=1.7.0.0)\r\n"
            "Pragma: no-cache\r\n"
            "Cache-Control: no-cache\r\n"
            "Connection: close\r\n"
            "Content-Length: 42\r\n");
  p.h->dwMethod = 3;
  EXPECT_EQ(HTTPClient_ComposeRequest(p.h), 0xFFFFFFFFu);
}

TEST(HttpCompose, ExtraHeaderReplacesStandardHeaders) {
  for (const char *extra : {"X-One: 1\r\nX-Two: 2", "X-One: 1\r\nX-Two: 2\r\n"}) {
    Client c;
    ComposeFrom(c.h, "h.example.test", 0x0100007f, 81, "/x");
    strcpy(c.h->szExtraHeader, extra);
    ASSERT_EQ(HTTPClient_ComposeRequest(c.h), 0u);
    EXPECT_EQ(std::string(c.h->szRequest), "GET /x HTTP/1.1\r\nX-One: 1\r\nX-Two: 2\r\n");
  }
  Client big;
  ComposeFrom(big.h, "h", 0x0100007f, 80, "/x");
  memset(big.h->szExtraHeader, 'a', 1263);  // with the 17-character request line: 1280
  EXPECT_EQ(HTTPClient_ComposeRequest(big.h), HTTPCLIENT_E_REQUEST_TOO_LONG);
  big.h->szExtraHeader[1262] = '\0';
  EXPECT_EQ(HTTPClient_ComposeRequest(big.h), 0u);
  EXPECT_LE(strlen(big.h->szRequest), 1279u);
}

TEST(HttpCompose, LongFieldsAreCutAtTheTextBound) {
  Client c;
  std::string uri = "/" + std::string(1023, 'u');
  ComposeFrom(c.h, "h.example.test", 0x0100007f, 80, uri.c_str());
  strcpy(c.h->szReferer, std::string(128, 'r').c_str());
  strcpy(c.h->tServer.szUser, std::string(64, 'n').c_str());
  strcpy(c.h->tServer.szPassword, std::string(64, 'p').c_str());
  c.h->tServer.dwAuthScheme = HTTPCLIENT_AUTH_BASIC;
  ASSERT_EQ(HTTPClient_ComposeRequest(c.h), 0u);
  ASSERT_EQ(HTTPClient_Authorize(c.h), 0u);
  EXPECT_EQ(strlen(c.h->szRequest), 1279u);
  EXPECT_EQ(c.h->szRequest[1280], '\0');
}

// ---- Response parsing ----------------------------------------------------------

TEST(HttpResponse, StatusIndexTable) {
  struct {
    int code;
    uint32_t index;
  } const table[] = {{100, 1},  {101, 2}, {200, 3},  {206, 9},  {300, 10}, {306, 16},
                     {307, 16}, {308, 0}, {400, 17}, {401, 18}, {404, 21}, {407, 24},
                     {417, 34}, {418, 0}, {500, 35}, {503, 38}, {506, 41}, {507, 0},
                     {510, 41}, {102, 0}, {207, 0},  {600, 0},  {99, 0}};
  for (const auto &t : table) EXPECT_EQ(HTTPClient_StatusIndex(t.code), t.index) << t.code;
  struct {
    const char *line;
    uint32_t index;
  } const lines[] = {{"HTTP/1.1 200 OK", 3},  {"HTTP/1.0 404 Not Found", 21},
                     {"HTTP/1.1 099 Low", 0}, {"HTTP/1.1 600 High", 0},
                     {"HTTP/1.1 510 NE", 41}, {"HTTP/1.1 x00", 0},
                     {"HTTP/1.1", 0},         {"", 0}};
  for (const auto &t : lines) {
    Client c;
    HTTPClient_ParseHeaderLine(c.h, t.line, static_cast<uint32_t>(strlen(t.line)));
    EXPECT_EQ(c.h->dwStatusIndex, t.index) << t.line;
  }
}

TEST(HttpResponse, RecognisedHeaders) {
  Client c;
  HTTPClientInfo info{};
  PrepareForResponse(c.h, &info);
  ASSERT_EQ(Feed(c.h,
                 "HTTP/1.1 200 OK\r\n"
                 "content-length: 12\r\n"
                 "SID : 77\r\n"
                 "audio mode : half duplex\r\n"
                 "Privilege : 3\r\n"
                 "Server: Test Server/1.0\r\n"
                 "Connection: keep-alive\r\n"
                 "X-Other: HTTP/1.1 404 x\r\n"),
            0u);
  EXPECT_EQ(c.h->dwStatusIndex, 3u);
  EXPECT_EQ(c.h->dwContentLengthKnown, 1u);
  EXPECT_EQ(c.h->iContentRemaining, 12);
  EXPECT_EQ(c.h->iSID, 77);
  EXPECT_EQ(c.h->dwAudioMode, 3u);
  EXPECT_EQ(c.h->iPrivilege, 3);
  EXPECT_STREQ(c.h->szServerName, "Test Server/1.0");
  EXPECT_EQ(c.h->dwResponseKeepAlive, 1u);
  EXPECT_EQ(c.h->dwState, HTTPCLIENT_STATE_RECV_HEADER);  // no blank line yet

  Client d;
  PrepareForResponse(d.h, &info);
  Feed(d.h, "HTTP/1.1 200 OK\r\nContent-Length:12\r\nConnection: close\r\n");
  EXPECT_EQ(d.h->dwContentLengthKnown, 0u);  // no blank after the colon
  EXPECT_EQ(d.h->dwResponseKeepAlive, 0u);
}

TEST(HttpResponse, HeaderEndDecidesWhatFollows) {
  struct {
    const char *header;
    uint32_t result;
    uint32_t state;
    uint32_t server_scheme;
  } const cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 0, HTTPCLIENT_STATE_RECV_BODY, 0},
      {"HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"r\"\r\n\r\n", HTTPCLIENT_E_HTTP_401,
       HTTPCLIENT_STATE_RECV_HEADER, 1},
      {"HTTP/1.1 401 No\r\n\r\n", HTTPCLIENT_E_HTTP_401, HTTPCLIENT_STATE_RECV_HEADER, 1},
      {"HTTP/1.1 401 No\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n\r\n",
       HTTPCLIENT_E_HTTP_401, HTTPCLIENT_STATE_RECV_HEADER, 2},
      {"HTTP/1.1 600 What\r\n\r\n", HTTPCLIENT_E_HTTP_STATUS, HTTPCLIENT_STATE_RECV_HEADER, 0},
      {"Garbage\r\n\r\n", HTTPCLIENT_E_HTTP_STATUS, HTTPCLIENT_STATE_RECV_HEADER, 0},
      {"HTTP/1.1 404 Not Found\r\n\r\n", 0, HTTPCLIENT_STATE_RECV_BODY, 0},
  };
  for (const auto &k : cases) {
    Client c;
    HTTPClientInfo info{};
    PrepareForResponse(c.h, &info);
    EXPECT_EQ(Feed(c.h, k.header), k.result) << k.header;
    EXPECT_EQ(c.h->dwState, k.state) << k.header;
    EXPECT_EQ(c.h->tServer.dwAuthScheme, k.server_scheme) << k.header;
  }
  // The body bytes that came with the header are at the buffer's front.
  Client c;
  HTTPClientInfo info{};
  PrepareForResponse(c.h, &info);
  Feed(c.h, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhel");
  EXPECT_EQ(c.h->dwBuffered, 3u);
  EXPECT_EQ(std::string(c.h->szHeaderBuffer), "hel");
  // A 407 learns the proxy scheme.
  Client p;
  PrepareForResponse(p.h, &info);
  EXPECT_EQ(Feed(p.h, "HTTP/1.1 407 Proxy\r\nProxy-Authenticate: Basic realm=\"p\"\r\n\r\n"),
            HTTPCLIENT_E_HTTP_407);
  EXPECT_EQ(p.h->tProxy.dwAuthScheme, 1u);
}

TEST(HttpResponse, ServerFilterClearsOnlyTheFilteredName) {
  struct {
    uint32_t requested, flag;
    const char *line;
    const char *kept;
  } const cases[] = {
      {1, 1, "Server: HALDRIM video server 3.1", ""},
      {1, 1, "Server: Haldrim Video Serve", "Haldrim Video Serve"},
      {1, 0, "Server: Haldrim Video Server", "Haldrim Video Server"},
      {0, 1, "Server: Haldrim Video Server", "Haldrim Video Server"},
  };
  for (const auto &k : cases) {
    Client c;
    HTTPClientInfo info{};
    PrepareForResponse(c.h, &info);
    c.h->dwServerFilterRequested = k.requested;
    c.h->dwServerFilter = k.flag;
    Feed(c.h, std::string("HTTP/1.1 200 OK\r\n") + k.line + "\r\n");
    EXPECT_STREQ(c.h->szServerName, k.kept) << k.line;
  }
}

TEST(HttpResponse, HeaderSplitAnywhereParsesTheSame) {
  const std::string header =
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nServer: S\r\nContent-Length: 4\r\n\r\nbody";
  for (size_t cut = 1; cut < header.size(); ++cut) {
    Client c;
    HTTPClientInfo info{};
    PrepareForResponse(c.h, &info);
    ASSERT_EQ(Feed(c.h, header.substr(0, cut)), 0u) << cut;
    ASSERT_EQ(Feed(c.h, header.substr(cut)), 0u) << cut;
    EXPECT_EQ(c.h->dwStatusIndex, 3u) << cut;
    EXPECT_EQ(c.h->dwState, HTTPCLIENT_STATE_RECV_BODY) << cut;
    EXPECT_EQ(std::string(c.h->szHeaderBuffer, c.h->dwBuffered), "body") << cut;
    EXPECT_EQ(std::string(info.szResponseHeader),
              "HTTP/1.1 100 Continue\r\nHTTP/1.1 200 OK\r\nServer: S\r\nContent-Length: 4\r\n")
        << cut;
  }
}

TEST(HttpResponse, CallersHeaderTextKeepsWholeLinesThatFit) {
  Client c;
  HTTPClientInfo info{};
  memset(info.szResponseHeader, 'Q',
         sizeof(info.szResponseHeader));  // must be replaced, not overrun
  info.szResponseHeader[0] = '\0';
  PrepareForResponse(c.h, &info);
  std::string line = "X-Fill: " + std::string(90, 'f');  // 98 + CR LF = 100 bytes
  for (int i = 0; i < 12; ++i)
    HTTPClient_ParseHeaderLine(c.h, line.c_str(), static_cast<uint32_t>(line.size()));
  EXPECT_EQ(strlen(info.szResponseHeader), 1200u);
  HTTPClient_ParseHeaderLine(c.h, line.c_str(),
                             static_cast<uint32_t>(line.size()));  // 1300: left out
  EXPECT_EQ(strlen(info.szResponseHeader), 1200u);
  std::string shorter = "X-Short: " + std::string(69, 's');  // 78 + 2 = 80 -> exactly 1280
  HTTPClient_ParseHeaderLine(c.h, shorter.c_str(), static_cast<uint32_t>(shorter.size()));
  EXPECT_EQ(strlen(info.szResponseHeader), 1280u);
  EXPECT_EQ(info.szResponseHeader[1280], '\0');
  HTTPClient_ParseHeaderLine(c.h, "A", 1);
  EXPECT_EQ(strlen(info.szResponseHeader), 1280u);
}

TEST(HttpResponse, ChunkSizeConversion) {
  struct {
    const char *text;
    int32_t size;
  } const table[] = {{"5", 5},   {"1a", 26},   {"1A;ext=1", 26},         {"  ff", 255}, {"0", 0},
                     {"000", 0}, {"0x10", 16}, {"7ffffffe", 0x7FFFFFFE}, {"zz", 0},     {"", 0},
                     {"-5", 0},  {"+5", 5},    {"80000000", INT32_MAX}};
  for (const auto &t : table)
    EXPECT_EQ(HTTPClient_ParseChunkSize(t.text, static_cast<uint32_t>(strlen(t.text))), t.size)
        << t.text;
  // Out of range: the conversion (0x7FFFFFFF) plus the digits f, f, f, f at
  // positions 0, 2, 4, 6 from the right, weighted 1, 16, 256, 4096.
  EXPECT_EQ(static_cast<uint32_t>(HTTPClient_ParseChunkSize("7fffffff", 8)),
            0x7FFFFFFFu + 0xFu + 0xF0u + 0xF00u + 0xF000u);
  // Only the given length is read.
  EXPECT_EQ(HTTPClient_ParseChunkSize("12345", 2), 0x12);
}

TEST(HttpResponse, ChunkedBodyThatCameWithTheHeader) {
  Client c;
  HTTPClientInfo info{};
  PrepareForResponse(c.h, &info);
  ASSERT_EQ(
      Feed(c.h, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"),
      0u);
  EXPECT_EQ(c.h->dwChunked, 1u);
  EXPECT_EQ(c.h->iChunkRemaining, 5);
  EXPECT_EQ(std::string(c.h->szHeaderBuffer, c.h->dwBuffered), "hello\r\n0\r\n\r\n");
  // The body step takes the five bytes, then sees the last chunk.
  char body[32] = {};
  c.h->dwMode = HTTPCLIENT_MODE_SYNC;
  c.h->pDest = body;
  c.h->dwDestSize = sizeof(body);
  c.h->dwOperation = HTTPCLIENT_OP_REQUEST;
  EXPECT_EQ(fHTTPClientStateMachineFunc[HTTPCLIENT_STATE_RECV_BODY](c.h), HTTPCLIENT_I_LAST_CHUNK);
  EXPECT_STREQ(body, "hello");
  EXPECT_EQ(c.h->dwStoredLength, 5u);
  // A size line without CR LF and no socket to read more from.
  Client d;
  PrepareForResponse(d.h, &info);
  EXPECT_EQ(Feed(d.h, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5zzzzzzz"),
            HTTPCLIENT_E_CHUNK_LINE);
}

// ---- Credentials -----------------------------------------------------------------

TEST(HttpAuth, ParamValues) {
  struct {
    const char *text;
    uint32_t capacity;
    const char *value;
  } const table[] = {
      {"realm=\"r1\", nonce=\"n1\"\r\n", 65, "r1"},
      {"nonce=\"n1\"\r\n", 129, "n1"},
      {"qop=\"auth,auth-int\", nonce=\"n\"\r\n", 17, "auth,auth-int"},
      {"qop=\"auth,auth-int\"\r\n", 17, "auth,auth-int"},
      {"a=,b=1\r\n", 16, ""},
      {"a=\r\nb=1", 16, ""},
      {"no equals sign\r\n", 16, ""},
      {"a=unterminated", 16, ""},
      {"a='single'\r\n", 16, "single"},
      {"a=\"0123456789abcdef\"\r\n", 16, ""},  // 16 characters: too long for 16 bytes
      {"a=\"0123456789abcde\"\r\n", 16, "0123456789abcde"},
  };
  for (const auto &t : table) {
    char value[200];
    memset(value, 'X', sizeof(value));
    HTTPClient_ParseParamValue(t.text, value, t.capacity);
    EXPECT_STREQ(value, t.value) << t.text;
    for (uint32_t i = strlen(t.value); i < t.capacity; ++i) ASSERT_EQ(value[i], '\0') << t.text;
    EXPECT_EQ(value[t.capacity], 'X') << t.text;  // nothing past the capacity
  }
}

TEST(HttpAuth, DigestChallengeStaysWithinItsLine) {
  Client c;
  HTTPClientInfo info{};
  PrepareForResponse(c.h, &info);
  Feed(c.h,
       "HTTP/1.1 401 No\r\n"
       "WWW-Authenticate: Digest realm=\"area\", qop=\"auth,auth-int\", algorithm=MD5\r\n"
       "X-Later: nonce=\"stolen\", opaque=1\r\n"
       "Date: Wed, 09 Dec 2026 00:00:00 GMT\r\n\r\n");
  EXPECT_STREQ(c.h->tServerDigest.szRealm, "area");
  EXPECT_STREQ(c.h->tServerDigest.szQop, "auth,auth-int");
  EXPECT_STREQ(c.h->tServerDigest.szNonce, "");
  // A new challenge replaces the old one whole.
  HTTPClient_ParseDigestChallenge(c.h, "nonce=\"fresh\"\r\n", HTTPCLIENT_SIDE_SERVER);
  EXPECT_STREQ(c.h->tServerDigest.szNonce, "fresh");
  EXPECT_STREQ(c.h->tServerDigest.szRealm, "");
  HTTPClient_ParseDigestChallenge(c.h, "realm=\"p\", nonce=\"pn\"", HTTPCLIENT_SIDE_PROXY);
  EXPECT_STREQ(c.h->tProxyDigest.szRealm, "p");
  EXPECT_STREQ(c.h->tProxyDigest.szNonce, "pn");
}

TEST(HttpAuth, BasicCarriesEveryCredentialTheRecordHolds) {
  // Joined lengths 1 ("":"") .. 129 (64 + ":" + 64), user and password split both ways.
  for (size_t user_len = 0; user_len <= 64; ++user_len) {
    for (size_t pw_len : {size_t(0), size_t(1), size_t(26), size_t(27), size_t(28), size_t(29),
                          size_t(63), size_t(64)}) {
      if (user_len == 0 && pw_len == 0) continue;
      Client c;
      std::string user(user_len, 'u'), pw(pw_len, 'p');
      if (pw_len > 2) pw[2] = ':';  // a password may hold a colon
      strcpy(c.h->tServer.szUser, user.c_str());
      strcpy(c.h->tServer.szPassword, pw.c_str());
      c.h->tServer.dwAuthScheme = HTTPCLIENT_AUTH_BASIC;
      ASSERT_EQ(HTTPClient_Authorize(c.h), 0u);
      std::string req = c.h->szRequest;
      ASSERT_EQ(req.rfind("Authorization: Basic ", 0), 0u) << req;
      size_t end = req.find("\r\n");
      std::string encoded = req.substr(21, end - 21);
      EXPECT_EQ(Base64Decode(encoded), user + ":" + pw) << user_len << "+" << pw_len;
      EXPECT_EQ(req.substr(end), "\r\n\r\n");
    }
  }
}

TEST(HttpAuth, NoCredentialsGiveOnlyTheBlankLine) {
  Client c;
  c.h->tServer.dwAuthScheme = HTTPCLIENT_AUTH_BASIC;
  c.h->tProxy.dwAuthScheme = HTTPCLIENT_AUTH_DIGEST;
  ASSERT_EQ(HTTPClient_Authorize(c.h), 0u);
  EXPECT_EQ(std::string(c.h->szRequest), "\r\n");
  // Only a password: still sent; scheme 0: nothing.
  Client d;
  strcpy(d.h->tProxy.szPassword, "secret");
  d.h->tProxy.dwAuthScheme = HTTPCLIENT_AUTH_BASIC;
  strcpy(d.h->tServer.szUser, "nobody");
  ASSERT_EQ(HTTPClient_Authorize(d.h), 0u);
  EXPECT_EQ(std::string(d.h->szRequest), "Proxy-Authorization: Basic OnNlY3JldA==\r\n\r\n");
}

TEST(HttpAuth, DigestLinesForServerAndProxy) {
  const std::regex with_qop(
      "(Proxy-)?Authorization: Digest "
      "username=\"([^\"]*)\",realm=\"([^\"]*)\",nonce=\"([^\"]*)\",uri=\"([^\"]*)\","
      "qop=\"([^\"]*)\",nc=00000001,cnonce=\"([0-9a-f]{32})\",response=\"([0-9a-f]{32})\",( "
      "?)algorithm=MD5\r\n");
  const std::regex without_qop(
      "(Proxy-)?Authorization: Digest "
      "username=\"([^\"]*)\",realm=\"([^\"]*)\",nonce=\"([^\"]*)\",uri=\"([^\"]*)\","
      "response=\"([0-9a-f]{32})\",( ?)algorithm=MD5\r\n");
  for (bool proxy : {false, true}) {
    for (const char *qop : {"auth", "auth,auth-int", ""}) {
      Client c;
      HTTPClientEndpoint &side = proxy ? c.h->tProxy : c.h->tServer;
      HTTPClientDigest &dig = proxy ? c.h->tProxyDigest : c.h->tServerDigest;
      strcpy(side.szUser, "alice");
      strcpy(side.szPassword, "wonder land");
      side.dwAuthScheme = HTTPCLIENT_AUTH_DIGEST;
      strcpy(dig.szRealm, "area 51");
      strcpy(dig.szNonce, "abc123");
      strcpy(dig.szQop, qop);
      c.h->dwServerNonceCount = c.h->dwProxyNonceCount = 1;
      c.h->dwMethod = proxy ? HTTPCLIENT_METHOD_POST : HTTPCLIENT_METHOD_GET;
      strcpy(c.h->szURI, "/dir/index.html?q=1");
      ASSERT_EQ(HTTPClient_Authorize(c.h), 0u);
      std::string req = c.h->szRequest;
      ASSERT_GE(req.size(), 2u);
      std::string line = req.substr(0, req.size() - 2);
      EXPECT_EQ(req.substr(req.size() - 4), "\r\n\r\n");
      std::string ha1 = Md5Hex("alice:area 51:wonder land");
      std::string ha2 = Md5Hex(std::string(proxy ? "POST" : "GET") + ":/dir/index.html?q=1");
      std::smatch m;
      if (*qop) {
        ASSERT_TRUE(std::regex_match(line, m, with_qop)) << line;
        EXPECT_EQ(m[1].matched, proxy);
        EXPECT_EQ(m[6].str(), qop);
        EXPECT_EQ(m[8].str(),
                  Md5Hex(ha1 + ":abc123:00000001:" + m[7].str() + ":" + qop + ":" + ha2));
        EXPECT_EQ(m[9].str(), proxy ? " " : "");
      } else {
        ASSERT_TRUE(std::regex_match(line, m, without_qop)) << line;
        EXPECT_EQ(m[6].str(), Md5Hex(ha1 + ":abc123:" + ha2));
        EXPECT_EQ(m[7].str(), proxy ? " " : "");
      }
      EXPECT_EQ(m[2].str(), "alice");
      EXPECT_EQ(m[5].str(), "/dir/index.html?q=1");
    }
  }
}

TEST(HttpAuth, DigestWithoutNonceOrRealmIsRefusedWithItsMessage) {
  struct {
    bool proxy;
    const char *realm, *nonce, *message;
  } const cases[] = {
      {false, "r", "",
       "HTTPClient_Authorize-735: ServerDigest missing some param, return "
       "HTTPCLIENT_E_DIGEST_PARAM (realm=[r] "
       "nonce=[]) \n"},
      {true, "", "n",
       "HTTPClient_Authorize-835: ProxyDigest missing some param, return HTTPCLIENT_E_DIGEST_PARAM "
       "(realm=[] "
       "nonce=[n]) \n"},
      // The server's text is shown, never played on the terminal.
      {false, "r\x1b[2J", "",
       "HTTPClient_Authorize-735: ServerDigest missing some param, return "
       "HTTPCLIENT_E_DIGEST_PARAM (realm=[r\\x1b[2J] "
       "nonce=[]) \n"},
  };
  for (const auto &k : cases) {
    Client c;
    HTTPClientEndpoint &side = k.proxy ? c.h->tProxy : c.h->tServer;
    HTTPClientDigest &dig = k.proxy ? c.h->tProxyDigest : c.h->tServerDigest;
    strcpy(side.szUser, "u");
    side.dwAuthScheme = HTTPCLIENT_AUTH_DIGEST;
    strcpy(dig.szRealm, k.realm);
    strcpy(dig.szNonce, k.nonce);
    nrtest::StdoutCapture out;
    EXPECT_EQ(HTTPClient_Authorize(c.h), HTTPCLIENT_E_DIGEST_PARAM);
    fflush(stdout);
    EXPECT_EQ(out.Take(), k.message);
    EXPECT_EQ(std::string(c.h->szRequest), "");  // no blank line either
  }
}

}  // namespace
