// SPDX-License-Identifier: MIT
// Asynchronous HTTP exchanges and tunnels, driven as a host drives them:
// HTTPClient_Process step by step, the event callback, nothing else of the
// client.  The server (or proxy) is a scripted peer on loopback
// (loopback_peer.h) whose bytes arrive in timed pieces on the peer's clock:
// some steps see nothing, waits that see nothing run to their end at once,
// and when the script runs out the peer stays silent, so the deadlines end
// what the peer leaves open.
//
// Input:
//   [0] bits 0-1: 0 GET, 1 POST, 2 RTSP-style tunnel GET, 3 tunnel open
//       bit 2: a second operation once the first has ended (GET, POST and
//              tunnel GET: the same again on the record; tunnel open: a
//              request on the opened tunnel, byte 3)
//       bit 3: through a proxy (the peer) to a server given as a dotted quad
//       bit 4: user and password in the request record from the start
//       bit 5: the host gives a user and password when events 30 / 36 ask
//       bit 6: the host aborts at the first status or body event
//       bit 7: the peer reads nothing, on sockets with the smallest buffers
//   [1] size of the buffer lent for event 1, minus 1 (1..256)
//   [2] bits 0-1, 2-3, 4-5: connect, send, receive time-out, each one of
//       0.4 ms, 150 ms, 1 s, 3 s; bit 6: the tick starts 150 ms before its
//       32-bit wrap; bit 7: the GET is the filtered one
//   [3] bits 0-1: size of the POST body and of the data sent on a tunnel
//       (1, 100, 1500 or 240000 bytes); bits 2-3 and 4-5: the peer's first
//       and second tunnel answer (accept, refuse, silence, close); bits 6-7:
//       the request on an opened tunnel (queued send, HLDM tunnelled request,
//       RTSP-style tunnelled request, raw send)
//   [4] bits 0-1: delay of each tunnel answer (0, 100 ms, 2 s, 14.9 s);
//       bits 2-3: time-out of the request on the tunnel (the library's
//       default, 300 ms, 2 s, 6 s)
//   then what the peer sends, in pieces: a byte (bits 0-2: the connection,
//   by order of arrival; bit 3: the peer shuts its side after the piece;
//   bits 4-7: the delay, one of kDelayMs), a length byte, the bytes.
//
// NAMREG_FUZZ_TRACE=1 in the environment prints every step, event, wait and
// doing of the peer on standard error with the peer's clock, to follow an
// input by hand.
//
// Checks: events after the end of an exchange, body events outside the
// buffer lent, handed-over sockets that are not connected to the peer, a
// session cookie that is not 22 base64 characters; every operation ends
// within what its time-outs allow (on the peer's clock) and within a number
// of steps bounded by the input and those time-outs; the record is idle
// and releasable afterwards, and no descriptor is left open (the host
// closes only the sockets the events hand to it).
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "loopback_peer.h"
#include "namreg/httpclient.h"

namespace {

using fuzzpeer::Answer;
using fuzzpeer::LoopbackPeer;

constexpr uint32_t kDelayMs[16] = {0,   1,    5,    20,   50,   100,  200,   400,
                                   700, 1000, 1500, 2500, 4000, 6000, 10000, 16000};
constexpr uint32_t kTimeoutUs[4] = {400, 150000, 1000000, 3000000};
constexpr uint32_t kDataSize[4] = {1, 100, 1500, 240000};
constexpr uint32_t kAnswerDelayMs[4] = {0, 100, 2000, 14900};
constexpr uint32_t kRequestTimeoutUs[4] = {0, 300000, 2000000, 6000000};
constexpr size_t kHeaderBytes = 5;

// What the library documents as its limits, in milliseconds of the clock.
constexpr uint64_t kStartPauseMs = 100;    // before an operation's first connection
constexpr uint64_t kAnswerWaitMs = 15000;  // a tunnel answer
constexpr uint64_t kFallbackRequestMs = 5000;
constexpr uint64_t kDefaultSendMs = 20000;  // a raw or queued send without a time-out
constexpr uint64_t kAttempts = 1 + 3 + 3;   // the first, then three per 401 and per 407
constexpr uint64_t kSlackMs = 1000;         // per attempt: rounding, pauses, a last wait

// The POST body and the data sent on a tunnel.
struct Data {
  char bytes[240000];
  Data() {
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<char>('a' + i % 26);
  }
} const g_data;

[[noreturn]] __attribute__((format(printf, 1, 2))) void Fail(const char *format, ...) {
  va_list args;
  va_start(args, format);
  fprintf(stderr, "http_async: ");
  vfprintf(stderr, format, args);
  fprintf(stderr, "\n");
  va_end(args);
  abort();
}

bool IsFailureCode(uint32_t code) {
  return (code & 0xFF000000u) == 0x80000000u;
}

// The events after which the exchange has ended.
bool IsLastEvent(uint32_t event, uint32_t code) {
  switch (event) {
    case HTTPCLIENT_EVENT_FAILURE:
      return IsFailureCode(code);
    case HTTPCLIENT_EVENT_PEER_CLOSED:
    case HTTPCLIENT_EVENT_COMPLETE:
    case HTTPCLIENT_EVENT_CONNECT_TIMEOUT:
    case HTTPCLIENT_EVENT_SEND_TIMEOUT:
    case HTTPCLIENT_EVENT_RECV_TIMEOUT:
    case HTTPCLIENT_EVENT_NO_BUFFER:
    case HTTPCLIENT_EVENT_TUNNEL_POST_UP:
      return true;
    default:
      return event >= HTTPCLIENT_EVENT_SEND_DONE && event <= HTTPCLIENT_EVENT_UNKNOWN_STATUS;
  }
}

const bool g_trace = getenv("NAMREG_FUZZ_TRACE") != nullptr;

struct Host {
  HTTPClientInfo *info;
  char buffer[256];
  uint32_t buffer_size;
  bool credentials_on_ask;
  bool abort_at_first;
  bool ended;
  uint32_t last_event;
  uint32_t events;  // events so far
  // Sockets the events handed over; the host closes them at the end.
  int owned[4];
  int owned_count;
  int tunnel_get;
  int tunnel_post;
};

void Own(Host *host, int fd, const char *what) {
  if (!LoopbackPeer::Get().IsPeerOf(fd))
    Fail("%s socket %d is not connected to the peer", what, fd);
  for (int i = 0; i < host->owned_count; ++i)
    if (host->owned[i] == fd) Fail("socket %d handed over twice", fd);
  if (host->owned_count == 4) Fail("more than four sockets handed over");
  host->owned[host->owned_count++] = fd;
}

void CheckCookie(const char *cookie) {
  const size_t length = strnlen(cookie, HTTPCLIENT_COOKIE_SIZE);
  if (length != 22) Fail("session cookie of %zu characters", length);
  for (size_t i = 0; i < length; ++i) {
    const char c = cookie[i];
    const bool base64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (!base64) Fail("session cookie with byte 0x%02x", static_cast<unsigned char>(c));
  }
}

uint32_t Callback(void *context, uint32_t event, void *data, HTTPClientHandle client) {
  Host *host = static_cast<Host *>(context);
  if (host->ended) Fail("event %u after the exchange ended with event %u", event, host->last_event);
  host->last_event = event;
  ++host->events;
  const uint32_t code =
      data != nullptr &&
              (event == HTTPCLIENT_EVENT_FAILURE || event == HTTPCLIENT_EVENT_RECV_ERROR ||
               event >= HTTPCLIENT_EVENT_CONNECT_TIMEOUT &&
                   event <= HTTPCLIENT_EVENT_RECV_TIMEOUT ||
               event == HTTPCLIENT_EVENT_SEND_FAILED || event == HTTPCLIENT_EVENT_TUNNEL_FAILED ||
               event == HTTPCLIENT_EVENT_REQUEST_FAILED)
          ? *static_cast<uint32_t *>(data)
          : 0;
  if (g_trace)
    fprintf(stderr, "  %8llu ms  event %2u  0x%08x\n",
            static_cast<unsigned long long>(LoopbackPeer::Get().NowMs()), event, code);
  switch (event) {
    case HTTPCLIENT_EVENT_NEED_BUFFER: {
      HTTPClientBuffer *buffer = static_cast<HTTPClientBuffer *>(data);
      buffer->pBuffer = host->buffer;
      buffer->dwSize = host->buffer_size;
      return 0;
    }
    case HTTPCLIENT_EVENT_BODY_DATA: {
      const HTTPClientBuffer *piece = static_cast<const HTTPClientBuffer *>(data);
      if (piece->pBuffer != host->buffer || piece->dwSize > host->buffer_size)
        Fail("body event of %u bytes outside the %u lent", piece->dwSize, host->buffer_size);
      break;
    }
    case HTTPCLIENT_EVENT_SERVER_AUTH:
    case HTTPCLIENT_EVENT_PROXY_AUTH:
      if (host->credentials_on_ask) {
        HTTPClientEndpoint *side = static_cast<HTTPClientEndpoint *>(data);
        strcpy(side->szUser, event == HTTPCLIENT_EVENT_SERVER_AUTH ? "camera" : "proxyuser");
        strcpy(side->szPassword, "s3cret");
      }
      return 0;
    case HTTPCLIENT_EVENT_TUNNEL_GET_UP:
      Own(host, *static_cast<int32_t *>(data), "tunnel GET");
      return 0;
    case HTTPCLIENT_EVENT_TUNNEL_POST_UP:
      Own(host, *static_cast<int32_t *>(data), "tunnel POST");
      break;
    case HTTPCLIENT_EVENT_TUNNEL_OPENED:
    case HTTPCLIENT_EVENT_TUNNEL_FALLBACK: {
      const HTTPClientInfo *info = static_cast<const HTTPClientInfo *>(data);
      if (info != host->info) Fail("tunnel event without the caller's record");
      host->tunnel_get = info->iTunnelGetSocket;
      Own(host, host->tunnel_get, "tunnel GET");
      if (event == HTTPCLIENT_EVENT_TUNNEL_OPENED) {
        host->tunnel_post = info->iTunnelPostSocket;
        Own(host, host->tunnel_post, "tunnel POST");
      }
      CheckCookie(info->szSessionCookie);
      break;
    }
    default:
      break;
  }
  // Status events are 13 to 53 (30 and 36 are the credential requests).
  const bool status = event > HTTPCLIENT_EVENT_STATUS_BASE && event < HTTPCLIENT_EVENT_SEND_DONE;
  if (IsLastEvent(event, code)) {
    host->ended = true;
  } else if (host->abort_at_first && (event == HTTPCLIENT_EVENT_BODY_DATA || status)) {
    // No event follows an abort: the exchange has ended here.
    if (HTTPClient_Abort(client) != HTTPCLIENT_OK) Fail("abort refused in event %u", event);
    host->ended = true;
  }
  return 0;
}

struct Limits {
  uint64_t ms;     // clock time the operation may take
  uint64_t steps;  // HTTPClient_Process calls it may take
};

// Steps the host runs until the exchange ends.
void Drive(HTTPClientHandle client, Host *host, const Limits &limits, const char *what) {
  LoopbackPeer &peer = LoopbackPeer::Get();
  const uint64_t start = peer.NowMs();
  uint64_t own_ms = 0;
  peer.Limit(start + limits.ms + limits.steps, limits.steps, what);
  for (uint64_t step = 0; !host->ended; ++step) {
    if (step == limits.steps)
      Fail("%s did not end within %llu steps", what, static_cast<unsigned long long>(step));
    peer.Turn();
    const uint64_t waits = peer.Waits();
    const uint32_t events = host->events;
    const uint32_t r = HTTPClient_Process(client);
    if (g_trace)
      fprintf(stderr, "  %8llu ms  step -> 0x%08x\n", static_cast<unsigned long long>(peer.NowMs()),
              r);
    if (peer.Waits() == waits && host->events == events) {
      // The library neither waited nor had anything to say: the host's
      // loop comes round again a millisecond later.
      peer.Advance(1);
      ++own_ms;
    }
    if (peer.NowMs() - start > limits.ms + own_ms)
      Fail("%s did not end within its time-outs: %llu ms of the clock, %llu allowed", what,
           static_cast<unsigned long long>(peer.NowMs() - start),
           static_cast<unsigned long long>(limits.ms + own_ms));
  }
  peer.NoLimit();
}

void StartHost(Host *host) {
  host->ended = false;
  host->last_event = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kHeaderBytes || size > 16384) return 0;
  const uint8_t op = data[0], flags2 = data[2], flags3 = data[3], flags4 = data[4];
  const uint32_t kind = op & 3;
  const bool again = (op & 4) != 0, proxy = (op & 8) != 0, record_credentials = (op & 16) != 0;
  const bool reading = (op & 128) == 0;

  LoopbackPeer &peer = LoopbackPeer::Get();
  const fuzzpeer::DescriptorCheck descriptors;

  peer.Begin((flags2 & 64) != 0 ? 0u - 150u : 0x10000000u, reading);
  size_t at = kHeaderBytes;
  while (at + 2 <= size) {
    const uint8_t head = data[at];
    size_t length = data[at + 1];
    at += 2;
    if (length > size - at) length = size - at;
    peer.Add(
        {static_cast<uint32_t>(head & 7), kDelayMs[head >> 4], data + at, length, (head & 8) != 0});
    at += length;
  }
  if (kind == 3) {
    peer.AddAnswer(static_cast<Answer>((flags3 >> 2) & 3), kAnswerDelayMs[flags4 & 3]);
    peer.AddAnswer(static_cast<Answer>((flags3 >> 4) & 3), kAnswerDelayMs[flags4 & 3]);
  }

  Host host = {};
  host.buffer_size = static_cast<uint32_t>(data[1]) + 1;
  host.credentials_on_ask = (op & 32) != 0;
  host.abort_at_first = (op & 64) != 0;
  host.tunnel_get = host.tunnel_post = -1;
  HTTPClientInfo *info = static_cast<HTTPClientInfo *>(calloc(1, sizeof(HTTPClientInfo)));
  if (info == nullptr) Fail("out of memory");
  host.info = info;
  const uint32_t timeouts[3] = {kTimeoutUs[flags2 & 3], kTimeoutUs[(flags2 >> 2) & 3],
                                kTimeoutUs[(flags2 >> 4) & 3]};
  if (proxy) {
    info->dwUseProxy = 1;
    strcpy(info->tProxy.szHost, "127.0.0.1");
    info->tProxy.dwPort = peer.Port();
    strcpy(info->tServer.szHost, "192.0.2.10");  // never resolved, never reached
    info->tServer.dwPort = 80;
  } else {
    strcpy(info->tServer.szHost, "127.0.0.1");
    info->tServer.dwPort = peer.Port();
  }
  if (record_credentials) {
    strcpy(info->tServer.szUser, "camera");
    strcpy(info->tServer.szPassword, "s3cret");
    strcpy(info->tProxy.szUser, "proxyuser");
    strcpy(info->tProxy.szPassword, "s3cret");
  }
  strcpy(info->szURI, "/fuzz?open=1");
  info->dwConnectTimeout = timeouts[0];
  info->dwSendTimeout = timeouts[1];
  info->dwRecvTimeout = timeouts[2];
  const uint32_t data_size = kDataSize[flags3 & 3];
  if (kind == 1) {
    info->pBody = g_data.bytes;
    info->dwBodyLength = data_size;
  }

  // What the time-outs allow: every attempt may use each of its step
  // budgets once, a POST its send and receive budgets twice.
  const uint64_t budget_ms = (uint64_t{timeouts[0]} + timeouts[1] + timeouts[2]) / 1000u;
  const uint64_t attempt_ms = (uint64_t{timeouts[0]} + 2u * timeouts[1] + 2u * timeouts[2]) / 1000u;
  const uint64_t input_steps = 1000u + 4u * size + 2u * data_size;
  auto limits = [&](uint64_t ms) { return Limits{ms, input_steps + 2u * ms}; };
  const Limits exchange = limits(kStartPauseMs + (kAttempts + 1) * (attempt_ms + kSlackMs));

  HTTPClientHandle client = nullptr;
  if (HTTPClient_Initial(&client, HTTPCLIENT_VERSION) != HTTPCLIENT_OK) Fail("no client");
  if (HTTPClient_SetCallback(client, Callback, &host) != HTTPCLIENT_OK) Fail("callback refused");

  const int operations = again ? 2 : 1;
  for (int n = 0; n < operations; ++n) {
    StartHost(&host);
    uint32_t r = HTTPCLIENT_OK;
    if (kind == 3 && n == 1) {
      // A request on the tunnel just opened, if it opened.
      if (host.tunnel_get < 0) break;
      const int socket = host.tunnel_post >= 0 ? host.tunnel_post : host.tunnel_get;
      const uint32_t timeout = kRequestTimeoutUs[(flags4 >> 2) & 3];
      HTTPClientTunnelRequest request = {};
      request.dwTimeout = timeout;
      request.pData = g_data.bytes;
      request.dwDataLength = data_size;
      request.iSocket = socket;
      const uint32_t follow = flags3 >> 6;
      const uint64_t send_ms = (timeout != 0 ? timeout / 1000u : kDefaultSendMs) + kSlackMs;
      Limits follow_limits = limits(kStartPauseMs + send_ms);
      if (follow == 0) {
        request.dwOperation = 1;
        r = HTTPClient_SendTunnelData(client, &request);
      } else {
        request.dwOperation = follow == 3 ? 1 : 0;
        request.dwContentKind = follow == 1 ? 1 : 0;
        if (follow != 3) {
          const uint64_t request_ms = timeout != 0 ? timeout / 1000u : budget_ms;
          follow_limits = limits(kStartPauseMs + request_ms + kAttempts * kSlackMs);
        }
        r = HTTPClient_AsyncTunnelRequest(client, info, &request);
      }
      if (r != HTTPCLIENT_OK) Fail("request on an open tunnel refused: 0x%08x", r);
      Drive(client, &host, follow_limits, "request on a tunnel");
      continue;
    }
    switch (kind) {
      case 0:
        r = (flags2 & 128) != 0 ? HTTPClient_FilteredAsyncGet(client, info)
                                : HTTPClient_AsyncGet(client, info);
        break;
      case 1:
        r = HTTPClient_AsyncPost(client, info);
        break;
      case 2:
        r = HTTPClient_AsyncTunnelGet(client, info);
        break;
      default:
        r = HTTPClient_AsyncTunnelOpen(client, info);
        break;
    }
    if (r != HTTPCLIENT_OK) Fail("start refused: 0x%08x", r);
    if (kind == 3) {
      // Two channels within the three time-outs, the answer, then the
      // fallback: a GET channel within what is left, its request, the
      // answer again; each exchange pauses before it connects.
      const uint64_t open_ms = budget_ms + 2u * kAnswerWaitMs + kFallbackRequestMs +
                               4u * kAttempts * (kStartPauseMs + kSlackMs);
      Drive(client, &host, limits(open_ms), "tunnel open");
    } else {
      Drive(client, &host, exchange, "exchange");
    }
  }

  if (HTTPClient_Release(&client) != HTTPCLIENT_OK) Fail("record not idle after the exchange");
  for (int i = 0; i < host.owned_count; ++i) close(host.owned[i]);
  peer.End();
  free(info);
  const int left = descriptors.LeftOpen();
  if (left >= 0) Fail("descriptor %d left open", left);
  return 0;
}
