// SPDX-License-Identifier: MIT
// A host program's event loop for the asynchronous client: poll() on the
// host's own descriptor (a wake pipe here) with a short tick, one
// HTTPClient_Process per turn, every event recorded.  Body bytes from
// event 2 are collected; optional hooks act inside the callback.  Each
// step is timed (on the real clock, or on the one given) and the longest
// kept.
#ifndef NAMREG_TESTS_HTTPCLIENT_ASYNC_HOST_H
#define NAMREG_TESTS_HTTPCLIENT_ASYNC_HOST_H

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "namreg/httpclient.h"

namespace nrtest {

inline bool IsLastEvent(uint32_t event) {
  switch (event) {
    case HTTPCLIENT_EVENT_FAILURE:
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

class AsyncHost {
 public:
  // Called from the callback after the event was recorded.
  using Hook = std::function<void(uint32_t event, void *data, HTTPClientHandle client)>;

  explicit AsyncHost(HTTPClientHandle client, uint32_t piece = 4096)
      : client_(client), piece_(piece) {
    (void)!pipe2(wake_, O_CLOEXEC | O_NONBLOCK);
    HTTPClient_SetCallback(client_, &AsyncHost::Callback, this);
  }
  ~AsyncHost() {
    close(wake_[0]);
    close(wake_[1]);
  }
  AsyncHost(const AsyncHost &) = delete;
  AsyncHost &operator=(const AsyncHost &) = delete;

  // Turns the loop until a last event, or until limit_ms have passed.
  // Returns false on the time limit.
  bool Run(int limit_ms = 10000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    done_ = false;
    while (!done_) {
      if (std::chrono::steady_clock::now() > until) return false;
      pollfd p = {wake_[0], POLLIN, 0};
      (void)poll(&p, 1, 1);
      const uint64_t before = Now();
      last_result = HTTPClient_Process(client_);
      const uint64_t took = Now() - before;
      if (took > longest_step_ms) longest_step_ms = took;
      ++steps;
    }
    return true;
  }

  // Ends Run() after the current turn (for hooks that abort).
  void Stop() { done_ = true; }

  std::vector<uint32_t> events;
  std::vector<uint32_t> codes;  // the result codes that events 0, 3, 7-9, 55, 58, 60 carried
  std::string body;
  uint32_t last_result = 0;
  int steps = 0;
  bool give_buffer = true;
  Hook hook;
  int32_t get_socket = -1, post_socket = -1;  // from events 11 and 12
  // Milliseconds of the clock the steps are timed on (null: the real one).
  std::function<uint64_t()> clock_ms;
  uint64_t longest_step_ms = 0;

  uint64_t Now() const {
    if (clock_ms) return clock_ms();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }

 private:
  static uint32_t Callback(void *context, uint32_t event, void *data, HTTPClientHandle client) {
    auto *self = static_cast<AsyncHost *>(context);
    self->events.push_back(event);
    switch (event) {
      case HTTPCLIENT_EVENT_NEED_BUFFER:
        if (self->give_buffer) {
          self->buffer_.assign(self->piece_, 'Z');
          static_cast<HTTPClientBuffer *>(data)->pBuffer = &self->buffer_[0];
          static_cast<HTTPClientBuffer *>(data)->dwSize = self->piece_;
        }
        break;
      case HTTPCLIENT_EVENT_BODY_DATA: {
        auto *b = static_cast<HTTPClientBuffer *>(data);
        self->body.append(b->pBuffer, b->dwSize);
        break;
      }
      case HTTPCLIENT_EVENT_TUNNEL_GET_UP:
        self->get_socket = *static_cast<int32_t *>(data);
        break;
      case HTTPCLIENT_EVENT_TUNNEL_POST_UP:
        self->post_socket = *static_cast<int32_t *>(data);
        break;
      case HTTPCLIENT_EVENT_FAILURE:
      case HTTPCLIENT_EVENT_RECV_ERROR:
      case HTTPCLIENT_EVENT_CONNECT_TIMEOUT:
      case HTTPCLIENT_EVENT_SEND_TIMEOUT:
      case HTTPCLIENT_EVENT_RECV_TIMEOUT:
      case HTTPCLIENT_EVENT_SEND_FAILED:
      case HTTPCLIENT_EVENT_TUNNEL_FAILED:
      case HTTPCLIENT_EVENT_REQUEST_FAILED:
        self->codes.push_back(data != nullptr ? *static_cast<uint32_t *>(data) : 0u);
        break;
      default:
        break;
    }
    if (IsLastEvent(event)) self->done_ = true;
    if (self->hook) self->hook(event, data, client);
    return 0;
  }

  HTTPClientHandle client_;
  uint32_t piece_;
  int wake_[2] = {-1, -1};
  std::string buffer_;
  bool done_ = false;
};

}  // namespace nrtest

#endif  // NAMREG_TESTS_HTTPCLIENT_ASYNC_HOST_H
