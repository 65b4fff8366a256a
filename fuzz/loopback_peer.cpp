// SPDX-License-Identifier: MIT
#include "loopback_peer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fuzzpeer {

namespace {

constexpr uint64_t kMonotonicStartMs = 1000000000u;  // any value far from 0
constexpr size_t kMaxConnections = 32;               // more are reset at once
constexpr uint64_t kNever = UINT64_MAX;

const char kAccepted[] = "http tunnel accept=1";
const char kRefused[] = "HTTP TUNNEL ACCEPT=0";

[[noreturn]] void Unusable(const char *what) {
  fprintf(stderr, "fuzz target: loopback TCP cannot be used (%s: %s)\n", what, strerror(errno));
  exit(1);
}

// A close of this socket resets the connection: nothing lingers.
void ResetOnClose(int fd) {
  struct linger reset = {1, 0};
  (void)setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

bool IsGet(const char *method) {
  return memcmp(method, "GET ", 4) == 0;
}

bool IsPost(const char *method) {
  return memcmp(method, "POST", 4) == 0;
}

}  // namespace

LoopbackPeer &LoopbackPeer::Get() {
  static LoopbackPeer peer;
  return peer;
}

LoopbackPeer::LoopbackPeer() : trace_(getenv("NAMREG_FUZZ_TRACE") != nullptr) {
  for (int i = 0; i < 2; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) Unusable("socket");
    if (i == 1) {
      // The smallest buffers the system gives, and small segments (a
      // client sizes its send buffer by the segment size): a client's
      // sends to a peer that reads nothing block after some tens of
      // kilobytes.  Accepted sockets take all three from the listener.
      int smallest = 1, segment = 536;
      (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
      (void)setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest);
      (void)setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    }
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<struct sockaddr *>(&address), sizeof address) != 0)
      Unusable("bind to 127.0.0.1");
    if (listen(fd, 64) != 0) Unusable("listen");
    if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&address), &length) != 0)
      Unusable("getsockname");
    listeners_[i] = fd;
    ports_[i] = ntohs(address.sin_port);
  }
  source_ = {this, MonotonicOf, TickOf, BeginWaitOf, EndWaitOf};
  namreg::SetClockSource(&source_);
  // The libraries' pauses still call nanosleep, for no time at all; the
  // default timer slack would make each of those last 50 us.
  (void)prctl(PR_SET_TIMERSLACK, 1UL);
}

void LoopbackPeer::Begin(uint32_t tick_start, bool reading) {
  End();
  reading_ = reading;
  listener_ = reading ? 0 : 1;
  tick_offset_ = tick_start - static_cast<uint32_t>(now_ms_);
  last_piece_ms_ = now_ms_;
}

uint16_t LoopbackPeer::Port() const {
  return ports_[listener_];
}

void LoopbackPeer::Add(const Piece &piece) {
  pieces_.push_back(piece);
}

void LoopbackPeer::AddAnswer(Answer answer, uint32_t delay_ms) {
  answers_.push_back({answer, delay_ms});
}

void LoopbackPeer::Turn() {
  Poll();
  DeliverDue();
}

void LoopbackPeer::Limit(uint64_t end_ms, uint64_t max_waits, const char *what) {
  limit_end_ms_ = end_ms;
  limit_waits_ = waits_ + max_waits;
  limit_what_ = what;
}

bool LoopbackPeer::IsPeerOf(int fd) const {
  if (fd < 0) return false;
  int type = 0;
  socklen_t type_length = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &type_length) != 0 || type != SOCK_STREAM)
    return false;
  struct sockaddr_in address = {};
  socklen_t length = sizeof address;
  if (getpeername(fd, reinterpret_cast<struct sockaddr *>(&address), &length) != 0 ||
      address.sin_family != AF_INET || address.sin_addr.s_addr != htonl(INADDR_LOOPBACK))
    return false;
  const uint16_t port = ntohs(address.sin_port);
  return port == ports_[0] || port == ports_[1];
}

void LoopbackPeer::End() {
  for (const Connection &c : connections_) close(c.fd);
  connections_.clear();
  // Connections still waiting to be accepted (a client that gave up).
  for (int listener : listeners_) {
    for (;;) {
      const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) break;
      ResetOnClose(fd);
      close(fd);
    }
  }
  pieces_.clear();
  next_piece_ = 0;
  answers_.clear();
  next_answer_ = 0;
  limit_what_ = nullptr;
}

void LoopbackPeer::Poll() {
  // One poll tells which sockets have anything: the turn runs once per
  // step and per wait, and system calls are most of its cost.
  struct pollfd ready[kMaxConnections + 1];
  ready[0] = {listeners_[listener_], POLLIN, 0};
  for (size_t i = 0; i < connections_.size(); ++i) ready[i + 1] = {connections_[i].fd, POLLIN, 0};
  const size_t watched = connections_.size() + 1;
  if (poll(ready, watched, 0) <= 0) return;
  for (size_t i = 1; i < watched; ++i) {
    if (ready[i].revents == 0) continue;
    Connection &c = connections_[i - 1];
    if (c.method[0] == '\0') {
      // The request's first bytes, left in place for the reading below.
      char first[4];
      if (recv(c.fd, first, sizeof first, MSG_PEEK | MSG_DONTWAIT) == sizeof first) {
        memcpy(c.method, first, sizeof first);
        c.seen_ms = now_ms_;
      }
    }
    if (!reading_ || c.method[0] == '\0') continue;
    char sink[16384];
    while (recv(c.fd, sink, sizeof sink, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof sink)) {
    }
  }
  if (ready[0].revents == 0) return;
  for (;;) {
    const int fd = accept4(listeners_[listener_], nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) break;
    ResetOnClose(fd);
    if (connections_.size() >= kMaxConnections) {
      close(fd);
      continue;
    }
    if (trace_)
      fprintf(stderr, "  %8llu ms  peer accepts connection %zu\n",
              static_cast<unsigned long long>(now_ms_), connections_.size());
    Connection c = {};
    c.fd = fd;
    c.arrived_ms = now_ms_;
    // What a new connection brought with it is seen at the next turn.
    connections_.push_back(c);
  }
}

void LoopbackPeer::Send(int fd, const uint8_t *data, size_t size, bool fin) {
  // A client that has gone makes these fail; the peer does not mind.
  ssize_t n = 0;
  if (size > 0) n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (fin) (void)shutdown(fd, SHUT_WR);
  if (trace_)
    fprintf(stderr, "  %8llu ms  peer sends %zu bytes (%zd taken)%s on descriptor %d\n",
            static_cast<unsigned long long>(now_ms_), size, n, fin ? " and shuts" : "", fd);
}

uint64_t LoopbackPeer::NextPieceDue() const {
  if (next_piece_ >= pieces_.size()) return kNever;
  const Piece &p = pieces_[next_piece_];
  if (p.connection >= connections_.size()) return kNever;
  const uint64_t arrived = connections_[p.connection].arrived_ms;
  return (arrived > last_piece_ms_ ? arrived : last_piece_ms_) + p.delay_ms;
}

uint64_t LoopbackPeer::NextAnswerDue(const Connection **answer_to) const {
  *answer_to = nullptr;
  if (next_answer_ >= answers_.size()) return kNever;
  size_t get = connections_.size();
  for (size_t i = connections_.size(); i-- > 0;) {
    if (IsGet(connections_[i].method)) {
      get = i;
      break;
    }
  }
  if (get == connections_.size() || connections_[get].answered) return kNever;
  for (size_t i = get + 1; i < connections_.size(); ++i) {
    if (IsPost(connections_[i].method)) {
      *answer_to = &connections_[get];
      return connections_[i].seen_ms + answers_[next_answer_].delay_ms;
    }
  }
  return kNever;
}

uint64_t LoopbackPeer::NextDue(const Connection **answer_to) const {
  const uint64_t piece = NextPieceDue();
  const uint64_t answer = NextAnswerDue(answer_to);
  return piece < answer ? piece : answer;
}

bool LoopbackPeer::DeliverDue() {
  bool sent = false;
  for (;;) {
    if (NextPieceDue() <= now_ms_) {
      const Piece &p = pieces_[next_piece_++];
      Send(connections_[p.connection].fd, p.data, p.size, p.fin);
      last_piece_ms_ = now_ms_;
      sent = true;
      continue;
    }
    const Connection *to = nullptr;
    if (NextAnswerDue(&to) <= now_ms_) {
      Connection &c = connections_[static_cast<size_t>(to - connections_.data())];
      switch (answers_[next_answer_++].answer) {
        case Answer::kAccept:
          Send(c.fd, reinterpret_cast<const uint8_t *>(kAccepted), sizeof kAccepted - 1, false);
          break;
        case Answer::kRefuse:
          Send(c.fd, reinterpret_cast<const uint8_t *>(kRefused), sizeof kRefused - 1, false);
          break;
        case Answer::kSilence:
          break;
        case Answer::kClose:
          Send(c.fd, nullptr, 0, true);
          break;
      }
      c.answered = true;
      sent = true;
      continue;
    }
    return sent;
  }
}

void LoopbackPeer::CheckLimit() {
  if (limit_what_ == nullptr) return;
  if (now_ms_ <= limit_end_ms_ && waits_ <= limit_waits_) return;
  fprintf(stderr,
          "fuzz target: %s did not end within its time-outs: a wait began %lld ms after its "
          "limit, wait %llu of %llu allowed; %zu connections, %zu of %zu pieces and %zu of %zu "
          "answers sent\n",
          limit_what_, static_cast<long long>(now_ms_ - limit_end_ms_),
          static_cast<unsigned long long>(waits_), static_cast<unsigned long long>(limit_waits_),
          connections_.size(), next_piece_, pieces_.size(), next_answer_, answers_.size());
  abort();
}

uint64_t LoopbackPeer::MonotonicOf(void *self) {
  return kMonotonicStartMs + static_cast<LoopbackPeer *>(self)->now_ms_;
}

uint32_t LoopbackPeer::TickOf(void *self) {
  const LoopbackPeer *peer = static_cast<LoopbackPeer *>(self);
  return peer->tick_offset_ + static_cast<uint32_t>(peer->now_ms_);
}

uint64_t LoopbackPeer::BeginWaitOf(void *self, uint64_t ms) {
  LoopbackPeer *peer = static_cast<LoopbackPeer *>(self);
  ++peer->waits_;
  peer->CheckLimit();
  peer->wait_start_ms_ = peer->now_ms_;
  peer->Poll();
  if (!peer->DeliverDue()) {
    // Nothing was due yet: the wait lasts until the next piece, when that
    // comes inside it.
    const Connection *unused = nullptr;
    const uint64_t due = peer->NextDue(&unused);
    if (due != kNever && due <= peer->now_ms_ + ms) {
      peer->now_ms_ = due;
      peer->Poll();
      peer->DeliverDue();
    }
  }
  return 0;  // select only looks; no real time passes
}

void LoopbackPeer::EndWaitOf(void *self, uint64_t ms, bool timed_out) {
  LoopbackPeer *peer = static_cast<LoopbackPeer *>(self);
  // A wait that saw nothing lasted all of its time, and a look that saw
  // nothing (a wait of no time) a millisecond: a loop of such looks sees
  // the time go by, as it would.
  if (timed_out) {
    const uint64_t end = peer->wait_start_ms_ + (ms > 0 ? ms : 1);
    if (peer->now_ms_ < end) peer->now_ms_ = end;
  }
  if (peer->trace_)
    fprintf(stderr, "  %8llu ms  wait of %llu ms from %llu: %s\n",
            static_cast<unsigned long long>(peer->now_ms_), static_cast<unsigned long long>(ms),
            static_cast<unsigned long long>(peer->wait_start_ms_), timed_out ? "nothing" : "ready");
}

DescriptorCheck::DescriptorCheck() {
  first_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (first_ < 0) Unusable("open /dev/null");
  close(first_);
  Scan(open_);
}

int DescriptorCheck::LeftOpen() const {
  bool now[kWatched];
  Scan(now);
  for (int i = 0; i < kWatched; ++i)
    if (now[i] && !open_[i]) return first_ + i;
  return -1;
}

// One system call for all: poll marks the descriptors that are not open.
void DescriptorCheck::Scan(bool (&open)[kWatched]) const {
  struct pollfd fds[kWatched];
  for (int i = 0; i < kWatched; ++i) fds[i] = {first_ + i, 0, 0};
  if (poll(fds, kWatched, 0) < 0) Unusable("poll");
  for (int i = 0; i < kWatched; ++i) open[i] = (fds[i].revents & POLLNVAL) == 0;
}

}  // namespace fuzzpeer
